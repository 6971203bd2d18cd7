// Sabrel through its gateway against the plain baseline and OpenCV, on the
// hard cases: every map its own transform, maps of 256^2 and 512^2, N = 16;
// one big map (which needs pieces of columns to use a second core); maps
// warped in place; a tiny call. Then the thread threshold: one map on one
// thread against two, below and above WARP_MIN_PER_THREAD.
//
//   build/bench/bench_Sabrel --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include "warp_bench.h"
#include "warp.h"

using warpbench::Case;

namespace {

// One map of side x side on exactly `threads` threads, past the threshold
// test, to see where a second thread starts to pay.
void forcedThreads(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0)), threads = static_cast<int>(state.range(1));
    Case c(1, 16, false, side, 7u);
    double* sI[] = {c.sources[0].data()};
    double* rI[] = {c.results[0].data()};
    const WarpParams params[] = {{1, -2, 5}};
    const int order[] = {0}, groupStart[] = {0, 1};
    WarpState s = {1, 16, 1, side, side, static_cast<long long>(side) * side, sI, rI, params, order, groupStart,
                   1, false, nullptr};
    for (auto _ : state) {
        warpAllOn(s, threads);
        benchmark::ClobberMemory();
    }
    warpbench::countPixels(state, s.count);
}

}  // namespace

int main(int argc, char** argv)
{
    warpbench::registerHardCases("sabrel", mexFunction, false, 8);
    warpbench::registerCase("sabrel_1map_N16_1024sq", Case(1, 16, false, 1024, 2u),
                            [](const std::vector<standin::Array>& in) { standin::call("Sabrel", mexFunction, in); });
    benchmark::RegisterBenchmark("threshold_1map_side_threads", forcedThreads)
        ->ArgsProduct({{64, 128, 181, 256, 362, 512, 724}, {1, 2}})
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    return warpbench::runWithSummary(argc, argv);
}
