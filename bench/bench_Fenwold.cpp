// Fenwold through its gateway at 1 thread and at all threads, against a
// plain pixel-major baseline and a bare exp loop over the same elements, on
// N = 16 grids of 256² and 512² maps and a tiny call; and the probe that
// sets the size below which a call stays on the caller's thread; and calls
// back to back, as a learning loop makes them, with helpers that sleep
// between calls and with helpers that stay awake (OTK_SPIN_US), and what
// waking a sleeping helper costs (WakeUp). Ratios are
// printed at the end. Run through tools/bench.sh for medians of repetitions.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "saturation_bench.h"
#include "sigmoid.h"

using namespace bench;

namespace {

constexpr double LEVEL = 1.0;

void runFenwold(benchmark::State& state)
{
    Grid grid(state);
    useThreads(state.range(CASE_THREADS));
    const std::vector<standin::Array> in = {standin::scalar(grid.nImages), standin::scalar(grid.N), grid.cells,
                                            standin::scalar(grid.side),    standin::scalar(grid.side),
                                            standin::scalar(LEVEL)};
    for (auto _ : state) {
        grid.refill(state);
        standin::call("Fenwold", mexFunction, in);
    }
    useThreads(0);
    perElement(state, grid.elements());
}

// The plain loops (saturation_bench.h).
void plainBaseline(benchmark::State& state)
{
    Grid grid(state);
    for (auto _ : state) {
        grid.refill(state);
        plainSaturation(grid, LEVEL);
        benchmark::ClobberMemory();
    }
    perElement(state, grid.elements());
}

// The floor: one exp per element in storage order and nothing else.
void bareExp(benchmark::State& state)
{
    Grid grid(state);
    const long long count = static_cast<long long>(grid.side) * grid.side;
    for (auto _ : state) {
        grid.refill(state);
        for (double* map : grid.table)
            for (long long p = 0; p < count; ++p) map[p] = std::exp(map[p]);
        benchmark::ClobberMemory();
    }
    perElement(state, grid.elements());
}

// The split itself at a given size: the elements in 2*threads chunks over
// the thread layer, against the same runs on the caller's thread. Where 2
// threads start to win sets SATURATION_PER_THREAD.
void thresholdProbe(benchmark::State& state)
{
    const long long elements = state.range(0);
    const int threads = static_cast<int>(state.range(1));
    useThreads(threads);
    Grid grid(1, 1, 1);
    std::vector<double> original(static_cast<std::size_t>(elements));
    for (std::size_t p = 0; p < original.size(); ++p) original[p] = grid.original[0] + 1e-6 * static_cast<double>(p % 1000);
    std::vector<double> v = original;
    const long long chunks = 2LL * threads;
    auto chunk = [&](long long c) {
        const long long first = elements * c / chunks, end = elements * (c + 1) / chunks;
        saturateRun(v.data() + first, end - first, LEVEL);
    };
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(v.data(), original.data(), original.size() * sizeof(double));
        state.ResumeTiming();
        forEachChunk(chunks, threads, chunk);
        benchmark::ClobberMemory();
    }
    useThreads(0);
    perElement(state, elements);
}

void thresholdSizes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"elements", "threads"});
    for (long long n : {4096, 8192, 16384, 32768, 65536, 131072, 262144})
        for (int threads : {1, 2}) b->Args({n, threads});
    b->UseRealTime();
}

// Calls of a few tenths of a millisecond back to back: one grid saturated
// again and again, nothing in between (saturating saturated values costs
// the same exp per element). At 1 thread, and at 2 with a spin of 0 (each
// call wakes the helper) and with the default spin (the helper is awake).
void backToBack(benchmark::State& state)
{
    Grid grid(1, 16, static_cast<int>(state.range(0)));
    useThreads(state.range(1));
    setenv(SPIN_VARIABLE, std::to_string(state.range(2)).c_str(), 1);
    const std::vector<standin::Array> in = {standin::scalar(1), standin::scalar(grid.N), grid.cells,
                                            standin::scalar(grid.side), standin::scalar(grid.side),
                                            standin::scalar(LEVEL)};
    for (auto _ : state) standin::call("Fenwold", mexFunction, in);
    unsetenv(SPIN_VARIABLE);
    useThreads(0);
    perElement(state, grid.elements());
}

// Sides for calls of about 0.2, 0.45 and 0.9 ms on one thread (N = 16).
const long long backToBackSides[] = {48, 72, 100};

void backToBackCases(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"side", "threads", "spin"});
    for (long long side : backToBackSides) {
        b->Args({side, 1, 0});
        b->Args({side, 2, 0});
        b->Args({side, 2, DEFAULT_SPIN_US});
    }
    b->UseRealTime();
}

// What waking a helper costs: the time from the start of a call until a
// helper starts a chunk, for calls `gap` microseconds apart (time the
// caller spends elsewhere, awake). With a spin of 0, or a spin shorter than
// the gap, the helper sleeps in between and each call has to wake it. The
// caller holds its chunk until the helper has started the other one (5 ms
// at most), so that every call measures a start.
void wakeUp(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    useThreads(2);
    setenv(SPIN_VARIABLE, std::to_string(state.range(0)).c_str(), 1);
    const auto gap = std::chrono::microseconds(state.range(1));
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> helped{false};
    Clock::time_point first;
    auto chunk = [&](long long) {
        if (std::this_thread::get_id() != caller) {
            if (!helped.load()) {
                first = Clock::now();
                helped.store(true);
            }
            return;
        }
        const auto until = Clock::now() + std::chrono::milliseconds(5);
        while (!helped.load() && Clock::now() < until) {
        }
    };
    for (auto _ : state) {
        const auto resume = Clock::now() + gap;
        while (Clock::now() < resume) {
        }
        helped.store(false);
        const auto start = Clock::now();
        forEachChunk(2, 2, chunk);
        const auto end = helped.load() ? first : Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    unsetenv(SPIN_VARIABLE);
    useThreads(0);
}

std::string backToBackName(long long side, int threads, int spin)
{
    return "BackToBack/side:" + std::to_string(side) + "/threads:" + std::to_string(threads) +
           "/spin:" + std::to_string(spin) + "/real_time";
}

}  // namespace

BENCHMARK(runFenwold)->Name("Fenwold")->Apply(saturationCases);
BENCHMARK(plainBaseline)->Name("PlainBaseline")->Apply(serialCases);
BENCHMARK(bareExp)->Name("BareExp")->Apply(serialCases);
BENCHMARK(thresholdProbe)->Name("ThresholdProbe")->Apply(thresholdSizes);
BENCHMARK(backToBack)->Name("BackToBack")->Apply(backToBackCases);
BENCHMARK(wakeUp)
    ->Name("WakeUp")
    ->ArgNames({"spin", "gap_us"})
    ->ArgsProduct({{0, DEFAULT_SPIN_US}, {100, 1000}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    std::vector<RatioReporter::Pair> pairs;
    for (const CaseSize& c : caseSizes()) {
        const std::string one = caseName("Fenwold", c, 1), all = caseName("Fenwold", c, 0);
        pairs.push_back({"Fenwold 1 thread / bare exp, " + c.label, one, caseName("BareExp", c, 1)});
        pairs.push_back({"Fenwold 1 thread / plain baseline, " + c.label, one, caseName("PlainBaseline", c, 1)});
        pairs.push_back({"Fenwold all threads / plain baseline, " + c.label, all, caseName("PlainBaseline", c, 1)});
        pairs.push_back({"Fenwold all threads / Fenwold 1 thread, " + c.label, all, one});
    }
    for (long long n : {4096, 8192, 16384, 32768, 65536, 131072, 262144}) {
        const std::string base = "ThresholdProbe/elements:" + std::to_string(n) + "/threads:";
        pairs.push_back({"2 threads / 1 thread, " + std::to_string(n) + " elements", base + "2/real_time",
                         base + "1/real_time"});
    }
    for (long long side : backToBackSides) {
        const std::string one = backToBackName(side, 1, 0);
        const std::string label = ", back to back, " + std::to_string(side) + "^2 x 16";
        pairs.push_back({"1 thread / 2 threads spin 0" + label, one, backToBackName(side, 2, 0)});
        pairs.push_back({"1 thread / 2 threads spin " + std::to_string(DEFAULT_SPIN_US) + label, one,
                         backToBackName(side, 2, DEFAULT_SPIN_US)});
    }
    return runWithRatios(argc, argv, pairs);
}
