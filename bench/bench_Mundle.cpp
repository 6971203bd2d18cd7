// Mundle through its gateway against the plain baseline and OpenCV per
// channel, on stacks of N = 16 channels of 256^2 and 512^2, every image its
// own transform; stacks warped in place (sources = results); a tiny call.
//
//   build/bench/bench_Mundle --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include "warp_bench.h"

using warpbench::Case;

namespace {

void mundle(const std::vector<standin::Array>& in)
{
    standin::call("Mundle", mexFunction, in);
}

void mundleInPlace(const std::vector<standin::Array>& in)
{
    std::vector<standin::Array> same = in;
    same[3] = same[2];
    standin::call("Mundle", mexFunction, same);
}

}  // namespace

int main(int argc, char** argv)
{
    for (int side : {256, 512})
        warpbench::registerCase("mundle_2images_each_own_transform_N16_" + std::to_string(side) + "sq", Case(2, 16, true, side, 1u), mundle);
    warpbench::registerCase("mundle_in_place_2images_N16_256sq", Case(2, 16, true, 256, 3u), mundleInPlace);
    warpbench::registerCase("mundle_tiny_call_1image_N2_4x4", Case(1, 2, true, 4, 4u), mundle);
    return warpbench::runWithSummary(argc, argv);
}
