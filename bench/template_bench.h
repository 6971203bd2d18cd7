// What bench_Halvery and bench_Wendlow share: the benchmark cases, random
// calls for them, the thread setting, and ratio counters against the plain
// baseline measured earlier in the same run.
//
// For each case the plain baseline runs first, then the kernel at 1 thread,
// then at every core; each kernel benchmark reports how many times faster it
// is than the plain loop (x_vs_plain) and, with threads, than itself on one
// thread (x_vs_1thread). The tiny case reports us_above_plain instead.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "template_call.h"
#include "threads.h"

namespace bench {

struct Case {
    std::string name;
    int nImages, side, N, nElements, shiftRange, oriRange, patchHalf;
    // The batches of the through-host timing (bench/octave_timing.m,
    // bench/probes/host_floors.m): elements at whole positions in a
    // disc of radius 0.4 side about the centre, maps uniform in [0, 1),
    // saturation 0.9.
    bool likeHost = false;
};

inline std::string caseName(const Case& k)
{
    return k.name + (k.likeHost ? "_host_" : "_") + std::to_string(k.nImages) + "img_" + std::to_string(k.side) +
           "px_N" + std::to_string(k.N) + "_" + std::to_string(k.nElements) + "el_shift" +
           std::to_string(k.shiftRange) + "_ori" + std::to_string(k.oriRange);
}

// Responses in 0..1 (most of them small, as Gabor energies are), elements
// anywhere in the maps, weights and biases of a real template.
inline TemplateCall makeCall(const Case& k)
{
    std::mt19937 rng(7);
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    TemplateCall c;
    c.nImages = k.nImages;
    c.N = k.N;
    c.nRows = c.nCols = k.side;
    c.patchHalf = k.patchHalf;
    c.shiftRange = k.shiftRange;
    c.oriRange = k.oriRange;
    c.saturation = k.likeHost ? 0.9 : 0.8;
    for (int e = 0; e < k.nElements; ++e) {
        if (!k.likeHost) {
            c.addElement(static_cast<int>(uniform(0, k.N)), uniform(1, k.side + 1), uniform(1, k.side + 1),
                         uniform(0.5, 2), uniform(0, 0.2));
            continue;
        }
        const int ori = static_cast<int>(uniform(0, k.N));
        const double r = 0.4 * k.side * std::sqrt(uniform(0, 1));
        const double a = 2 * M_PI * uniform(0, 1);
        const double weight = uniform(0.5, 2);
        const double x = std::round(k.side / 2.0 + r * std::cos(a));
        const double y = std::round(k.side / 2.0 + r * std::sin(a));
        c.addElement(ori, x, y, weight, uniform(0, 0.2));
    }
    c.allocate();
    for (int i = 0; i < c.nImages; ++i)
        for (int o = 0; o < c.N; ++o)
            for (double& v : c.map(i, o)) {
                const double u = uniform(0, 1);
                v = k.likeHost ? u : u * u * u * u;
            }
    return c;
}

// 0: every core this process may use.
inline void setThreads(int n)
{
    setenv(THREADS_VARIABLE, std::to_string(n > 0 ? n : availableCores()).c_str(), 1);
}

// Seconds per call of each benchmark run so far, by key.
inline std::map<std::string, double>& timings()
{
    static std::map<std::string, double> t;
    return t;
}

// Runs body per iteration and records the mean seconds per call under key.
inline double timed(benchmark::State& state, const std::string& key, const std::function<void()>& body)
{
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        body();
        benchmark::ClobberMemory();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double perCall = seconds / static_cast<double>(state.iterations() > 0 ? state.iterations() : 1);
    timings()[key] = perCall;
    return perCall;
}

// Registers, for one case: the plain baseline, the kernel on 1 thread and
// the kernel on every core (when there is more than one).
inline void registerCase(const std::string& kernel, const Case& k, const std::function<void(const TemplateCall&)>& plainRun,
                         const std::function<void(const std::vector<standin::Array>&)>& kernelRun)
{
    const std::string name = caseName(k);
    const bool tiny = k.name == "tiny";
    benchmark::RegisterBenchmark((kernel + "/plain_baseline_1thread/" + name).c_str(), [=](benchmark::State& state) {
        const TemplateCall c = makeCall(k);
        timed(state, "plain/" + name, [&] { plainRun(c); });
    })->UseRealTime()->Unit(benchmark::kMicrosecond);
    const int cores = availableCores();
    for (int threads : {1, cores}) {
        const std::string label = threads == 1 ? "kernel_1thread" : "kernel_" + std::to_string(threads) + "threads";
        benchmark::RegisterBenchmark((kernel + "/" + label + "/" + name).c_str(), [=](benchmark::State& state) {
            const TemplateCall c = makeCall(k);
            const std::vector<standin::Array> in = c.inputs(29);
            setThreads(threads);
            const double t = timed(state, label + "/" + name, [&] { kernelRun(in); });
            unsetenv(THREADS_VARIABLE);
            const auto plain = timings().find("plain/" + name);
            if (plain != timings().end()) {
                if (tiny)
                    state.counters["us_above_plain"] = (t - plain->second) * 1e6;
                else
                    state.counters["x_vs_plain"] = plain->second / t;
            }
            const auto one = timings().find("kernel_1thread/" + name);
            if (threads > 1 && one != timings().end()) state.counters["x_vs_1thread"] = one->second / t;
        })->UseRealTime()->Unit(benchmark::kMicrosecond);
        if (cores == 1) break;
    }
}

// A call just around the work where a kernel starts helper threads, at 1
// and at 2 threads; `work` is what the kernel counts for it.
struct ThresholdCase {
    std::string label;
    Case call;
    double work;
};

// Checks and registers every case, then the threshold cases, and runs the
// benchmarks the command line selects.
inline int runAll(int argc, char** argv, const std::string& kernel, const std::vector<Case>& cases,
                  const std::vector<ThresholdCase>& thresholds, const std::function<void(const Case&)>& check,
                  const std::function<void(const TemplateCall&)>& plainRun,
                  const std::function<void(const std::vector<standin::Array>&)>& kernelRun)
{
    for (const Case& k : cases) {
        check(k);
        registerCase(kernel, k, plainRun, kernelRun);
    }
    for (const ThresholdCase& t : thresholds)
        for (int threads : {1, 2}) {
            const std::string name = kernel + "/threshold_" + std::to_string(threads) + "threads/" + t.label;
            benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
                const TemplateCall c = makeCall(t.call);
                const std::vector<standin::Array> in = c.inputs(29);
                setThreads(threads);
                timed(state, "threshold", [&] { kernelRun(in); });
                unsetenv(THREADS_VARIABLE);
                state.counters["work"] = t.work;
            })->UseRealTime()->Unit(benchmark::kMicrosecond);
        }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
