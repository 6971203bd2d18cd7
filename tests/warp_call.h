// Builds the nine inputs of a Sabrel or Mundle call for the host-free tests
// and benchmarks, and holds the straightforward warps: one geometricTransform
// per result element, in the plain loop order (map or image, channel, row,
// column). The tests check the plug-ins against them bit for bit; the
// benchmarks measure them as the baseline.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "standin.h"
#include "transform.h"

// A small repeatable generator for the random-shape tests: next(range)
// draws an int in 0..range-1.
inline auto smallRandom(unsigned seed)
{
    return [seed](int range) mutable {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<unsigned>(range));
    };
}

// OTK_NUM_THREADS for as long as it lives; the thread layer reads it at
// every call.
struct ThreadCount {
    explicit ThreadCount(int threads) { setenv("OTK_NUM_THREADS", std::to_string(threads).c_str(), 1); }
    ~ThreadCount() { unsetenv("OTK_NUM_THREADS"); }
};

inline double plainSample(const double* source, int sx, int sy, const long long xyo[3])
{
    const bool inside = xyo[0] >= 0 && xyo[0] < sx && xyo[1] >= 0 && xyo[1] < sy;
    return inside ? source[xyo[0] + static_cast<long long>(sx) * xyo[1]] : 0.0;
}

// Sabrel: map i of n, iOri 0.
inline void plainRotateMap(int n, int N, const std::vector<double*>& sI, const std::vector<double*>& rI, int sx,
                           int sy, const double* deltaX, const double* deltaY, const double* deltaOri)
{
    for (int i = 0; i < n; ++i)
        for (int x = 0; x < sx; ++x)
            for (int y = 0; y < sy; ++y) {
                long long xyo[3];
                geometricTransform(N, sx / 2, sy / 2, x, y, 0, static_cast<int>(deltaX[i]),
                                   static_cast<int>(deltaY[i]), static_cast<int>(deltaOri[i]), xyo);
                rI[i][x + static_cast<long long>(sx) * y] = plainSample(sI[i], sx, sy, xyo);
            }
}

// Mundle: image i of n, channel k of N at grid entry i + n*k, iOri k.
inline void plainWarpOrientedMaps(int n, int N, const std::vector<double*>& sI, const std::vector<double*>& rI,
                                  int sx, int sy, const double* deltaX, const double* deltaY,
                                  const double* deltaOri)
{
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < N; ++k)
            for (int x = 0; x < sx; ++x)
                for (int y = 0; y < sy; ++y) {
                    long long xyo[3];
                    geometricTransform(N, sx / 2, sy / 2, x, y, k, static_cast<int>(deltaX[i]),
                                       static_cast<int>(deltaY[i]), static_cast<int>(deltaOri[i]), xyo);
                    rI[i + n * k][x + static_cast<long long>(sx) * y] =
                        plainSample(sI[i + static_cast<long long>(n) * xyo[2]], sx, sy, xyo);
                }
}

// A copy of an R x C grid whose cell k holds 8 elements: one short of a
// 3 x 3 map.
inline standin::Array gridWithShortCell(const standin::Array& grid, int R, int C, int k)
{
    standin::Array copy = standin::cell(R, C);
    for (int j = 0; j < R * C; ++j)
        standin::setCell(copy, j, j == k ? standin::matrix(1, 8, std::vector<double>(8, 5.0)) : standin::cellContent(grid, j));
    return copy;
}

struct WarpCall {
    int n = 1;
    int N = 2;
    int sx = 3;
    int sy = 3;
    bool oriented = false;  // Mundle's n x N grids instead of Sabrel's n x 1
    std::vector<double> deltaX, deltaY, deltaOri;  // one per map or image
    standin::Array sources, results;

    int maps() const { return oriented ? n * N : n; }

    // Source map k holds 100*k + 10*row + column at (row, column), 0-based;
    // results hold -7, which no warp writes. Transforms default to 0.
    void allocate()
    {
        using namespace standin;
        sources = cell(n, oriented ? N : 1);
        results = cell(n, oriented ? N : 1);
        for (int k = 0; k < maps(); ++k) {
            std::vector<double> v(static_cast<std::size_t>(sx) * sy);
            for (int x = 0; x < sx; ++x)
                for (int y = 0; y < sy; ++y) v[x + static_cast<std::size_t>(sx) * y] = 100.0 * k + 10 * x + y;
            setCell(sources, k, matrix(sx, sy, v));
            setCell(results, k, matrix(sx, sy, std::vector<double>(v.size(), -7.0)));
        }
        deltaX.resize(n);
        deltaY.resize(n);
        deltaOri.resize(n);
    }

    std::vector<standin::Array> inputs() const
    {
        using namespace standin;
        return {scalar(n), scalar(N), sources, results, scalar(sx), scalar(sy),
                column(deltaX), column(deltaY), column(deltaOri)};
    }

    std::vector<double>& result(int k) const { return standin::values(standin::cellContent(results, k)); }
    std::vector<double>& source(int k) const { return standin::values(standin::cellContent(sources, k)); }
    double at(int k, int x, int y) const { return result(k)[x + static_cast<std::size_t>(sx) * y]; }

    // What the plain loop writes into every result map, from copies of the
    // sources as they are now.
    std::vector<std::vector<double>> expected() const
    {
        std::vector<std::vector<double>> in, out;
        std::vector<double*> sI, rI;
        for (int k = 0; k < maps(); ++k) {
            in.push_back(source(k));
            out.push_back(result(k));
        }
        for (int k = 0; k < maps(); ++k) {
            sI.push_back(in[k].data());
            rI.push_back(out[k].data());
        }
        if (oriented)
            plainWarpOrientedMaps(n, N, sI, rI, sx, sy, deltaX.data(), deltaY.data(), deltaOri.data());
        else
            plainRotateMap(n, N, sI, rI, sx, sy, deltaX.data(), deltaY.data(), deltaOri.data());
        return out;
    }

    // Every source and result double, to see that a failed call changed nothing.
    std::vector<double> snapshot() const
    {
        std::vector<double> all;
        for (int k = 0; k < maps(); ++k) {
            all.insert(all.end(), source(k).begin(), source(k).end());
            all.insert(all.end(), result(k).begin(), result(k).end());
        }
        return all;
    }
};
