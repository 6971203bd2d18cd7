// Oriented pooling and the point transform written out plainly, apart from
// the product's routines, for the tests and benchmarks to compare the
// plug-ins against: the shift tables built once per call as N rows of
// 2*shiftRange+1 offsets, every shift visited and tested against the map,
// orientations wrapped with one correction, strict comparisons, the cap last.
#pragma once

#include <cmath>
#include <vector>

namespace plain {

constexpr double PI_APPROX = 3.1415926;

struct Shifts {
    int range = 0;
    std::vector<std::vector<int>> row, col;  // [orientation][i + range]
};

inline Shifts shiftTables(int N, int shiftRange, int shiftStep)
{
    Shifts t;
    t.range = shiftRange;
    t.row.assign(N, std::vector<int>(2 * shiftRange + 1));
    t.col = t.row;
    for (int k = 0; k < N; ++k) {
        const double theta = (PI_APPROX * k) / N;
        for (int i = -shiftRange; i <= shiftRange; ++i) {
            const int d = i * shiftStep;
            t.col[k][i + shiftRange] = static_cast<int>(std::floor(d * std::sin(theta) + 0.5));
            t.row[k][i + shiftRange] = static_cast<int>(std::floor(d * std::cos(theta) + 0.5));
        }
    }
    return t;
}

// The maps of one call: image p, orientation o at maps[p + nImages*o].
struct Maps {
    int nImages, N, nRows, nCols, oriRange;
    double saturation;
    std::vector<double*> maps;
};

struct Winner {
    long long row = 0, col = 0;
    int ori = 0;
};

inline double pool(const Maps& m, const Shifts& t, int image, int ori, long long x, long long y, Winner& win)
{
    double best = 0.0;
    for (int i = -t.range; i <= t.range; ++i) {
        const long long r = x + t.row[ori][i + t.range];
        const long long c = y + t.col[ori][i + t.range];
        if (r < 1 || r > m.nRows || c < 1 || c > m.nCols) continue;
        for (int j = -m.oriRange; j <= m.oriRange; ++j) {
            int o = ori + j;
            if (o < 0)
                o += m.N;
            else if (o >= m.N)
                o -= m.N;
            const double v = m.maps[image + m.nImages * o][(r - 1) + m.nRows * (c - 1)];
            if (best < v) {
                best = v;
                win = {r, c, o};
            }
        }
    }
    return best > m.saturation ? m.saturation : best;
}

// The point (x, y) turned about (cx, cy) by deltaOri steps of PI/N, shifted,
// rounded halves up; row, column and orientation in out.
inline void turn(int N, int cx, int cy, int x, int y, int iOri, int deltaX, int deltaY, int deltaOri, long long out[3])
{
    long long o = static_cast<long long>(iOri) + deltaOri;
    o %= N;
    if (o < 0) o += N;
    out[2] = o;
    const long long du = static_cast<long long>(x) - cx, dv = static_cast<long long>(y) - cy;
    const double alpha = std::atan2(static_cast<double>(dv), static_cast<double>(du)) + (PI_APPROX * deltaOri) / N;
    // The squared distance as an exact integer, converted once.
    const __int128 d2 = static_cast<__int128>(dv) * dv + static_cast<__int128>(du) * du;
    const double radius = std::sqrt(static_cast<double>(d2));
    out[0] = static_cast<long long>(std::floor((0.5 + static_cast<double>(cx + static_cast<long long>(deltaX))) +
                                               radius * std::cos(alpha)));
    out[1] = static_cast<long long>(std::floor((0.5 + static_cast<double>(cy + static_cast<long long>(deltaY))) +
                                               radius * std::sin(alpha)));
}

}  // namespace plain
