// Question: what bounds Sabrel's cost per pixel on one thread, and so its
// ratio to OpenCV's warpAffine (nearest): the sampled positions the exact
// rounding rules force, or the reads and writes of the maps?
// Figure: Sabrel's floor against warpAffine in docs/performance.md
// ("warp_floor").
//
// A Sabrel-shaped batch (about 4 MB of maps of side^2, each map its own
// rotation and shift, as bench_sizes_Sabrel), processor time per output
// pixel, one thread, medians of 7:
//
// - warp:      the kernel's own run (warpColumns, map after map);
// - positions: the same positions and nothing else (sampleOffsets over the
//              map, into a buffer the first-level cache holds): the closed
//              form in doubles, the distance of each floor argument from an
//              integer, the rare recomputation;
// - gather:    the same samples read through a precomputed offset table and
//              written, nothing computed: what moving the pixels costs;
// - copy:      each map copied, the plain write stream;
// - warpAffine (when OpenCV is there): the peer on the same maps.
//
// positions + gather against warp shows whether the kernel adds anything
// to its two parts; positions alone against warpAffine is the share no
// order of work takes away while every position must be the exact one
// (warpAffine steps its positions in fixed point, a few integer additions
// a pixel, and may round differently).
//
//   build/bench/warp_floor [side ...]     (target warp_floor; default 128 256 512)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "warp.h"

#if defined(TOOLBOX_HAVE_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Median of 7 timings of body (each repeated for at least 20 ms), ns a pixel.
template <class Body>
double nsPerPixel(double pixels, Body body)
{
    std::vector<double> runs;
    for (int r = 0; r < 7; ++r) {
        const double t0 = cpuSeconds();
        int reps = 0;
        double elapsed = 0;
        do {
            body();
            ++reps;
            elapsed = cpuSeconds() - t0;
        } while (elapsed < 0.02);
        runs.push_back(elapsed / reps / pixels * 1e9);
    }
    std::sort(runs.begin(), runs.end());
    return runs[3];
}

struct Batch {
    int n, side, N = 16;
    std::vector<std::vector<double>> sources, results;
    std::vector<WarpParams> params;
    std::vector<std::vector<long long>> offsets;
};

Batch makeBatch(int side)
{
    Batch b;
    b.side = side;
    const long long count = static_cast<long long>(side) * side;
    b.n = static_cast<int>(std::max(1LL, (4LL << 20) / (count * 8)));
    unsigned seed = 5u;
    for (int i = 0; i < b.n; ++i) {
        std::vector<double> m(static_cast<std::size_t>(count));
        for (double& v : m) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<double>(seed >> 8) / 16777216.0;
        }
        b.sources.push_back(m);
        b.results.emplace_back(m.size(), 0.0);
        b.params.push_back({i % 7 - 3, 2 - i % 5, 1 + (5 * i) % (2 * b.N - 1)});
        std::vector<long long> o(m.size());
        sampleOffsets(sampleGeometry(b.N, side, side, b.params[i]), 0, count, o.data());
        b.offsets.push_back(o);
    }
    return b;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<int> sides;
    for (int a = 1; a < argc; ++a) sides.push_back(std::atoi(argv[a]));
    if (sides.empty()) sides = {128, 256, 512};
    std::printf("ns per output pixel, one thread, processor time (medians of 7)\n");
    std::printf("%5s %8s %10s %8s %8s %11s %12s %14s\n", "side", "warp", "positions", "gather", "copy",
                "warpAffine", "pos/affine", "(pos+gath)/warp");
    for (int side : sides) {
        Batch b = makeBatch(side);
        const long long count = static_cast<long long>(side) * side;
        const double pixels = static_cast<double>(b.n) * count;
        const double warp = nsPerPixel(pixels, [&] {
            for (int i = 0; i < b.n; ++i)
                warpColumns(sampleGeometry(b.N, side, side, b.params[i]), 0, side, b.sources[i].data(),
                            b.results[i].data(), false);
        });
        std::vector<long long> buffer(1024);
        long long sink = 0;
        const double positions = nsPerPixel(pixels, [&] {
            for (int i = 0; i < b.n; ++i) {
                const SampleGeometry g = sampleGeometry(b.N, side, side, b.params[i]);
                for (long long e = 0; e < count; e += 1024) {
                    sampleOffsets(g, e, std::min(count, e + 1024), buffer.data());
                    sink += buffer[0];
                }
            }
        });
        const double gather = nsPerPixel(pixels, [&] {
            for (int i = 0; i < b.n; ++i) {
                const long long* o = b.offsets[i].data();
                const double* s = b.sources[i].data();
                double* r = b.results[i].data();
                for (long long e = 0; e < count; ++e) r[e] = o[e] >= 0 ? s[o[e]] : 0.0;
            }
        });
        const double copy = nsPerPixel(pixels, [&] {
            for (int i = 0; i < b.n; ++i)
                std::memcpy(b.results[i].data(), b.sources[i].data(), static_cast<std::size_t>(count) * sizeof(double));
        });
        double affine = 0;
#if defined(TOOLBOX_HAVE_OPENCV)
        cv::setNumThreads(1);
        std::vector<cv::Mat> m;
        for (const WarpParams& p : b.params) {
            const double a = (3.1415926 * p.dO) / b.N, co = std::cos(a), si = std::sin(a);
            const double c = side / 2;
            m.push_back((cv::Mat_<double>(2, 3) << co, si, c + p.dY - si * c - co * c, -si, co,
                         c + p.dX - co * c + si * c));
        }
        affine = nsPerPixel(pixels, [&] {
            for (int i = 0; i < b.n; ++i) {
                cv::Mat src(side, side, CV_64F, b.sources[i].data()), dst(side, side, CV_64F, b.results[i].data());
                cv::warpAffine(src, dst, m[i], dst.size(), cv::INTER_NEAREST | cv::WARP_INVERSE_MAP,
                               cv::BORDER_CONSTANT, 0);
            }
        });
#endif
        std::printf("%5d %8.3f %10.3f %8.3f %8.3f %11.3f %12.2f %14.2f\n", side, warp, positions, gather, copy, affine,
                    affine > 0 ? positions / affine : 0.0, (positions + gather) / warp);
        if (sink == 42) std::printf(" ");
    }
    return 0;
}
