// What the Fenwold and Porrith benchmarks share: response grids refilled
// between passes, the plain sigmoid written out here (not the product's),
// the thread setting per case, and a report that ends with the ratios of
// chosen pairs of cases measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <ostream>
#include <unistd.h>
#include <random>
#include <string>
#include <vector>

#include "standin.h"
#include "threads.h"

namespace bench {

// Case arguments shared by both programs: map side, N, nImages, threads
// (0 = all the cores the process may use).
enum CaseArg { CASE_SIDE = 0, CASE_N = 1, CASE_IMAGES = 2, CASE_THREADS = 3 };

// The hard sizes of the pipeline (N = 16 orientations of 256² and 512²
// maps) and a tiny call.
struct CaseSize {
    int side, N;
    std::string label;
};
inline std::vector<CaseSize> caseSizes() { return {{256, 16, "256^2 x 16"}, {512, 16, "512^2 x 16"}, {16, 2, "16^2 x 2"}}; }

// Every size at 1 thread and at all threads.
inline void saturationCases(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"side", "N", "images", "threads"});
    for (int threads : {1, 0})
        for (const CaseSize& c : caseSizes()) b->Args({c.side, c.N, 1, threads});
    b->UseRealTime();
}

// The baselines run on the caller's thread; one row per size.
inline void serialCases(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"side", "N", "images", "threads"});
    for (const CaseSize& c : caseSizes()) b->Args({c.side, c.N, 1, 1});
    b->UseRealTime();
}

// OTK_NUM_THREADS for one case: 1, or unset for all cores.
inline void useThreads(long threads)
{
    if (threads == 0)
        unsetenv(THREADS_VARIABLE);
    else
        setenv(THREADS_VARIABLE, std::to_string(threads).c_str(), 1);
}

// The plain sigmoid, the defining steps written out.
inline double plainSigmoid(double v, double s)
{
    const double x = (-2.0 * v) / s;
    const double e = std::exp(x);
    return s * (2.0 / (e + 1.0) - 1.0);
}

// nImages x N maps of side x side holding non-negative responses (what the
// pipeline's energies look like: most small, a few large), and the cell
// array that holds them for a gateway call.
struct Grid {
    int nImages, N, side;
    std::vector<double> original;
    standin::Array cells;
    std::vector<double*> table;

    Grid(int images, int orientations, int mapSide) : nImages(images), N(orientations), side(mapSide)
    {
        std::mt19937 gen(3);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        original.resize(static_cast<std::size_t>(side) * side);
        for (double& v : original) v = 2.5 * unit(gen) * unit(gen);
        cells = standin::cell(nImages, N);
        for (int k = 0; k < nImages * N; ++k) {
            standin::setCell(cells, k, standin::matrix(side, side, original));
            table.push_back(standin::values(standin::cellContent(cells, k)).data());
        }
    }
    // The grid of a case: its images, N and side arguments.
    explicit Grid(const benchmark::State& state)
        : Grid(static_cast<int>(state.range(CASE_IMAGES)), static_cast<int>(state.range(CASE_N)),
               static_cast<int>(state.range(CASE_SIDE)))
    {
    }
    long long elements() const { return static_cast<long long>(nImages) * N * side * side; }
    void refill()
    {
        for (int k = 0; k < nImages * N; ++k) standin::values(standin::cellContent(cells, k)) = original;
    }
    // Refills before a pass: outside the timing for large grids; inside it
    // for small ones, where pausing the clock costs more than refilling
    // (every case of a size pays the same).
    void refill(benchmark::State& state)
    {
        const bool pause = elements() >= 65536;
        if (pause) state.PauseTiming();
        refill();
        if (pause) state.ResumeTiming();
    }
};

// The plain saturation of a grid: each pixel through every map (grid column
// outer, grid row inner), pixels along rows, the defining steps.
inline void plainSaturation(Grid& grid, double level)
{
    const int n = grid.side;
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) {
            const long long p = i + static_cast<long long>(n) * (j - 1) - 1;
            for (int k = 0; k < grid.N; ++k)
                for (int l = 0; l < grid.nImages; ++l) {
                    double* map = grid.table[l + grid.nImages * k];
                    map[p] = plainSigmoid(map[p], level);
                }
        }
}

// Nanoseconds per element, from the real time of the case: the inverted
// rate of elements per second, with elements counted in billions.
inline void perElement(benchmark::State& state, long long elements)
{
    state.counters["ns/el"] =
        benchmark::Counter(static_cast<double>(elements) * 1e-9,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Console report plus, at the end, "a / b" for every pair whose cases both
// ran: medians when repetitions are asked for, the single run otherwise.
// "ratio" compares real time; "cpu" compares the CPU time of the calling
// thread, the steadier figure for 1-thread cases on a loaded machine (it
// leaves out the helpers' work, so it means nothing for thread cases).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Pair {
        std::string label, numerator, denominator;
    };
    std::vector<Pair> pairs;

    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const std::string name = r.run_name.str();
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
            if (r.run_type == Run::RT_Iteration && medians.count(name)) continue;
            if (r.run_type == Run::RT_Aggregate) medians[name] = true;
            const auto it = r.counters.find("ns/el");
            if (it != r.counters.end()) nsPerElement[name] = it->second.value;
            cpuTime[name] = r.GetAdjustedCPUTime();
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        bool header = false;
        for (const Pair& p : pairs) {
            const auto a = nsPerElement.find(p.numerator), b = nsPerElement.find(p.denominator);
            if (a == nsPerElement.end() || b == nsPerElement.end() || b->second <= 0) continue;
            char line[160];
            if (!header) {
                std::snprintf(line, sizeof line, "\n%-58s %9s %9s %7s %7s\n", "ratio (time per element)", "ns/el",
                              "ns/el", "ratio", "cpu");
                GetOutputStream() << line;
            }
            header = true;
            const double cpu = cpuTime[p.numerator] / cpuTime[p.denominator];
            std::snprintf(line, sizeof line, "%-58s %9.3f %9.3f %7.3f %7.3f\n", p.label.c_str(), a->second, b->second,
                          a->second / b->second, cpu);
            GetOutputStream() << line;
        }
    }

private:
    std::map<std::string, double> nsPerElement;
    std::map<std::string, double> cpuTime;
    std::map<std::string, bool> medians;
};

// The name Google Benchmark gives a case of a family registered with the
// argument names of saturationCases.
inline std::string caseName(const std::string& family, const CaseSize& c, int threads)
{
    return family + "/side:" + std::to_string(c.side) + "/N:" + std::to_string(c.N) + "/images:1/threads:" +
           std::to_string(threads) + "/real_time";
}

// Runs the benchmarks and prints the ratios of the pairs.
inline int runWithRatios(int argc, char** argv, const std::vector<RatioReporter::Pair>& pairs)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                 : benchmark::ConsoleReporter::OO_Tabular);
    reporter.pairs = pairs;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
