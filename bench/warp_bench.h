// What the Sabrel and Mundle benchmarks share: maps and calls, a plain
// baseline written here from the definition (its own polar point transform
// and nearest sampling, none of the product's routines), the OpenCV peers
// when OpenCV is there, the thread setting, and a summary of ratios printed
// after the run.
//
// Every case is a family of benchmarks named <case>/<runner>; the summary
// lists, per case, each runner's ns per output pixel and its ratio to the
// plain baseline, to OpenCV's warpAffine (nearest, one thread) and to the
// product on one thread. Times are wall-clock medians of the repetitions.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "standin.h"
#include "threads.h"

#if defined(TOOLBOX_HAVE_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace warpbench {

struct Transform {
    int dX, dY, dO;
};

// n x channels maps of sx x sy with seeded content; transform i per map or image.
struct Case {
    int n = 1, N = 16, channels = 1, sx = 1, sy = 1;
    std::vector<std::vector<double>> sources, results;
    std::vector<Transform> transforms;

    Case(int n_, int N_, bool stacks, int side, unsigned seed) : n(n_), N(N_), channels(stacks ? N_ : 1), sx(side), sy(side)
    {
        for (int k = 0; k < n * channels; ++k) {
            std::vector<double> m(static_cast<std::size_t>(sx) * sy);
            for (std::size_t e = 0; e < m.size(); ++e) {
                seed = seed * 1664525u + 1013904223u;
                m[e] = static_cast<double>(seed >> 8) / 16777216.0;
            }
            sources.push_back(m);
            results.emplace_back(m.size(), 0.0);
        }
        // Every map or image its own rotation and shift.
        for (int i = 0; i < n; ++i) transforms.push_back({i % 7 - 3, 2 - i % 5, 1 + (5 * i) % (2 * N - 1)});
    }
    long long pixels() const { return static_cast<long long>(n) * channels * sx * sy; }
};

// The nine gateway inputs over the case's own maps (the stand-in copies them
// once; the benchmark writes the copies).
inline std::vector<standin::Array> inputs(const Case& c)
{
    using namespace standin;
    Array s = cell(c.n, c.channels), r = cell(c.n, c.channels);
    for (int k = 0; k < c.n * c.channels; ++k) {
        setCell(s, k, matrix(c.sx, c.sy, c.sources[k]));
        setCell(r, k, matrix(c.sx, c.sy, c.results[k]));
    }
    std::vector<double> dX, dY, dO;
    for (const Transform& t : c.transforms) {
        dX.push_back(t.dX);
        dY.push_back(t.dY);
        dO.push_back(t.dO);
    }
    return {scalar(c.n), scalar(c.N), s, r, scalar(c.sx), scalar(c.sy), column(dX), column(dY), column(dO)};
}

// The gateway on a case's inputs, or with the source grid passed as the
// results too (warped in place).
inline void callWarp(const char* name, Gateway_fn fn, const std::vector<standin::Array>& in, bool inPlace)
{
    if (!inPlace) return standin::call(name, fn, in);
    std::vector<standin::Array> same = in;
    same[3] = same[2];
    standin::call(name, fn, same);
}

// The baseline: per output pixel the polar steps of the definition
// (atan2, sqrt, cos, sin, floor(v + 0.5)), then the nearest source pixel or
// 0; walked in storage order so that it is not slowed by strided writes.
inline void plainWarp(Case& c)
{
    const double pi = 3.1415926;
    const int cx = c.sx / 2, cy = c.sy / 2;
    for (int i = 0; i < c.n; ++i) {
        const Transform t = c.transforms[i];
        for (int k = 0; k < c.channels; ++k) {
            const int from = c.channels == 1 ? 0 : ((k + t.dO) % c.N + c.N) % c.N;
            const double* src = c.sources[i + c.n * from].data();
            double* dst = c.results[i + c.n * k].data();
            for (int y = 0; y < c.sy; ++y)
                for (int x = 0; x < c.sx; ++x) {
                    const long long du = x - cx, dv = y - cy;
                    const double angle = std::atan2(static_cast<double>(dv), static_cast<double>(du)) + (pi * t.dO) / c.N;
                    const double radius = std::sqrt(static_cast<double>(du * du + dv * dv));
                    const long long r = static_cast<long long>(std::floor((0.5 + (cx + t.dX)) + radius * std::cos(angle)));
                    const long long q = static_cast<long long>(std::floor((0.5 + (cy + t.dY)) + radius * std::sin(angle)));
                    const bool in = r >= 0 && r < c.sx && q >= 0 && q < c.sy;
                    dst[x + static_cast<long long>(c.sx) * y] = in ? src[r + static_cast<long long>(c.sx) * q] : 0.0;
                }
        }
    }
}

// OTK_NUM_THREADS for the product, kept for the benchmark's duration.
struct ThreadSetting {
    explicit ThreadSetting(int threads) { setenv("OTK_NUM_THREADS", std::to_string(threads).c_str(), 1); }
    ~ThreadSetting() { unsetenv("OTK_NUM_THREADS"); }
};

inline void countPixels(benchmark::State& state, long long pixels)
{
    // Seconds per (1e-9 pixel): ns per output pixel.
    state.counters["ns_per_px"] = benchmark::Counter(static_cast<double>(pixels) * 1e-9,
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    state.counters["px_per_call"] = static_cast<double>(pixels);
}

#if defined(TOOLBOX_HAVE_OPENCV)
// The inverse affine map (destination to source, OpenCV's x = column,
// y = row) of the rotation by dO steps about the centre and the shift.
inline cv::Mat inverseAffine(const Case& c, const Transform& t)
{
    const double a = (3.1415926 * t.dO) / c.N, co = std::cos(a), si = std::sin(a);
    const double cx = c.sx / 2, cy = c.sy / 2;
    cv::Mat m = (cv::Mat_<double>(2, 3) << co, si, cy + t.dY - si * cx - co * cy,  // column
                 -si, co, cx + t.dX - co * cx + si * cy);                          // row
    return m;
}

// OpenCV maps are row-major; a column-major map is its transpose, so the
// peers warp the transposed problem: same pixels, same work.
inline cv::Mat header(const Case& c, std::vector<double>& m)
{
    return cv::Mat(c.sy, c.sx, CV_64F, m.data());
}

inline void warpAffinePeer(Case& c, const std::vector<cv::Mat>& affine)
{
    for (int i = 0; i < c.n; ++i)
        for (int k = 0; k < c.channels; ++k) {
            const int from = c.channels == 1 ? 0 : ((k + c.transforms[i].dO) % c.N + c.N) % c.N;
            cv::Mat dst = header(c, c.results[i + c.n * k]);
            cv::warpAffine(header(c, c.sources[i + c.n * from]), dst, affine[i], dst.size(),
                           cv::INTER_NEAREST | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, 0);
        }
}

// remap with the sample positions computed beforehand, one table per map or
// image (the tables are not timed).
inline std::vector<cv::Mat> remapTables(const Case& c, const std::vector<cv::Mat>& affine)
{
    std::vector<cv::Mat> tables;
    for (int i = 0; i < c.n; ++i) {
        cv::Mat xy(c.sy, c.sx, CV_32FC2);
        const double* m = affine[i].ptr<double>();
        for (int row = 0; row < c.sy; ++row)
            for (int col = 0; col < c.sx; ++col)
                xy.at<cv::Vec2f>(row, col) = cv::Vec2f(static_cast<float>(m[0] * col + m[1] * row + m[2]),
                                                       static_cast<float>(m[3] * col + m[4] * row + m[5]));
        cv::Mat fixed, unused;
        cv::convertMaps(xy, cv::Mat(), fixed, unused, CV_16SC2, true);
        tables.push_back(fixed);
    }
    return tables;
}

inline void remapPeer(Case& c, const std::vector<cv::Mat>& tables)
{
    for (int i = 0; i < c.n; ++i)
        for (int k = 0; k < c.channels; ++k) {
            const int from = c.channels == 1 ? 0 : ((k + c.transforms[i].dO) % c.N + c.N) % c.N;
            cv::Mat dst = header(c, c.results[i + c.n * k]);
            cv::remap(header(c, c.sources[i + c.n * from]), dst, tables[i], cv::Mat(), cv::INTER_NEAREST,
                      cv::BORDER_CONSTANT, 0);
        }
}
#endif

// Registers the runners of one case: the plain baseline, the product on 1
// thread and on every core, and the OpenCV peers on 1 thread and on every
// core. run(case) calls the product through its gateway.
template <class Run>
void registerCase(const std::string& name, Case proto, Run run)
{
    const int cores = availableCores();
    auto add = [&](const std::string& runner, auto body) {
        benchmark::RegisterBenchmark((name + "/" + runner).c_str(), body)->UseRealTime()->Unit(benchmark::kMicrosecond);
    };
    add("plain_baseline", [proto](benchmark::State& state) {
        Case c = proto;
        for (auto _ : state) {
            plainWarp(c);
            benchmark::ClobberMemory();
        }
        countPixels(state, c.pixels());
    });
    for (int threads : {1, cores}) {
        if (threads == cores && cores == 1) break;
        add("product_" + std::to_string(threads) + "thread", [proto, run, threads](benchmark::State& state) {
            const ThreadSetting setting(threads);
            const std::vector<standin::Array> in = inputs(proto);
            for (auto _ : state) {
                run(in);
                benchmark::ClobberMemory();
            }
            countPixels(state, proto.pixels());
        });
    }
#if defined(TOOLBOX_HAVE_OPENCV)
    for (int threads : {1, cores}) {
        if (threads == cores && cores == 1) break;
        const std::string t = std::to_string(threads) + "thread";
        add("opencv_warpAffine_nearest_" + t, [proto, threads](benchmark::State& state) {
            Case c = proto;
            std::vector<cv::Mat> affine;
            for (const Transform& tr : c.transforms) affine.push_back(inverseAffine(c, tr));
            cv::setNumThreads(threads);
            for (auto _ : state) {
                warpAffinePeer(c, affine);
                benchmark::ClobberMemory();
            }
            countPixels(state, c.pixels());
        });
        add("opencv_remap_nearest_" + t, [proto, threads](benchmark::State& state) {
            Case c = proto;
            std::vector<cv::Mat> affine;
            for (const Transform& tr : c.transforms) affine.push_back(inverseAffine(c, tr));
            const std::vector<cv::Mat> tables = remapTables(c, affine);
            cv::setNumThreads(threads);
            for (auto _ : state) {
                remapPeer(c, tables);
                benchmark::ClobberMemory();
            }
            countPixels(state, c.pixels());
        });
    }
#endif
}

// The hard cases both plug-ins share, named for what they hold: n maps (or
// images of N = 16 channels), each its own transform, at 256^2 and 512^2;
// the same at 256^2 warped in place; and a tiny call on 4 x 4 (N = 2 for
// stacks, so that it stays tiny).
inline void registerHardCases(const std::string& plugin, Gateway_fn fn, bool stacks, int n)
{
    const std::string what = std::to_string(n) + (stacks ? "images" : "maps");
    auto call = [plugin, fn](bool inPlace) {
        return [plugin, fn, inPlace](const std::vector<standin::Array>& in) { callWarp(plugin.c_str(), fn, in, inPlace); };
    };
    for (int side : {256, 512})
        registerCase(plugin + "_" + what + "_each_own_transform_N16_" + std::to_string(side) + "sq",
                     Case(n, 16, stacks, side, 1u), call(false));
    registerCase(plugin + "_in_place_" + what + "_N16_256sq", Case(n, 16, stacks, 256, 3u), call(true));
    registerCase(plugin + "_tiny_call_1" + (stacks ? "image_N2" : "map") + "_4x4", Case(1, stacks ? 2 : 16, stacks, 4, 4u),
                 call(false));
}

inline std::string loadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string s;
    std::getline(f, s);
    return s;
}

// Console output as usual, and the ns per pixel of every run kept for the
// summary (the median when repetitions are asked for).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::map<std::string, double>> nsPerPixel;  // case -> runner -> ns
    std::map<std::string, double> pixels;                              // case -> pixels per call
    std::map<std::string, std::map<std::string, double>> cpuPerPixel;  // the caller thread's CPU time
    std::vector<std::string> cases;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.run_type == Run::RT_Aggregate && !median) continue;
            const auto it = r.counters.find("ns_per_px");
            if (it == r.counters.end()) continue;
            // <case>/<runner>, or <family>/<arg>.../<last arg> for the
            // threshold cases; without the /real_time suffix.
            std::string name = r.benchmark_name();
            for (const std::string suffix : {"_median", "/real_time"})
                if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                    name.resize(name.size() - suffix.size());
            const std::size_t slash = name.rfind('/');
            const std::string kase = name.substr(0, slash), runner = name.substr(slash + 1);
            if (!nsPerPixel.count(kase)) cases.push_back(kase);
            nsPerPixel[kase][runner] = it->second.value;
            const auto px = r.counters.find("px_per_call");
            if (px != r.counters.end()) {
                pixels[kase] = px->second.value;
                cpuPerPixel[kase][runner] = r.GetAdjustedCPUTime() * 1000 / px->second.value;  // us -> ns
            }
        }
    }

    void summary(const std::string& startLoad) const
    {
        if (cases.empty()) return;
        std::printf("\nns per output pixel (wall clock), and ratios (x < 1: faster than the reference); cpu: the\n"
                    "calling thread's CPU time per pixel, which a loaded machine disturbs less (1-thread runners)\n");
        std::printf("load average at start: %s\nload average at end:   %s\n", startLoad.c_str(),
                    loadAverage().c_str());
        for (const std::string& kase : cases) {
            const auto& m = nsPerPixel.at(kase);
            auto get = [&m](const std::string& k) { return m.count(k) ? m.at(k) : 0.0; };
            const double plain = get("plain_baseline"), affine = get("opencv_warpAffine_nearest_1thread"),
                         one = get("product_1thread");
            const auto& cpu = cpuPerPixel.at(kase);
            const double cpuAffine = cpu.count("opencv_warpAffine_nearest_1thread") ? cpu.at("opencv_warpAffine_nearest_1thread") : 0;
            std::printf("%s\n", kase.c_str());
            for (const auto& [runner, ns] : m) {
                std::printf("  %-36s %9.3f ns/px %10.2f us/call", runner.c_str(), ns, ns * pixels.at(kase) / 1000);
                if (plain > 0) std::printf("   /plain %7.3f", ns / plain);
                if (affine > 0) std::printf("   /warpAffine(1 thread) %6.3f", ns / affine);
                if (one > 0 && runner.rfind("product_", 0) == 0) std::printf("   speed-up over 1 thread %5.2f", one / ns);
                const bool single = runner.find("_1thread") != std::string::npos || runner == "plain_baseline";
                if (single && cpu.count(runner)) {
                    std::printf("   cpu %7.3f ns/px", cpu.at(runner));
                    if (cpuAffine > 0) std::printf(" /warpAffine %6.3f", cpu.at(runner) / cpuAffine);
                }
                std::printf("\n");
            }
        }
    }
};

inline int runWithSummary(int argc, char** argv)
{
    const std::string startLoad = loadAverage();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.summary(startLoad);
    benchmark::Shutdown();
    return 0;
}

}  // namespace warpbench
