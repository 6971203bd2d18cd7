// Mundle through its gateway against the plain baseline and OpenCV per
// channel, on stacks of N = 16 channels of 256^2 and 512^2, every image its
// own transform; stacks warped in place (sources = results); a tiny call.
//
//   build/bench/bench_Mundle --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include "warp_bench.h"

int main(int argc, char** argv)
{
    warpbench::registerHardCases("mundle", mexFunction, true, 2);
    return warpbench::runWithSummary(argc, argv);
}
