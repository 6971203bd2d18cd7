// Sabrel or Mundle (WARP_PLUGIN, built once for each) against OpenCV's
// warpAffine (nearest, one thread) over map sizes from 127^2 to 513^2: each
// power of two and its neighbours, ns per output pixel per map or channel,
// both on one thread. The product runs through its gateway; the peer
// samples the same maps with the same transforms.
//
//   build/bench/bench_sizes_Sabrel --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
//   build/bench/bench_sizes_Mundle  (the same)
#include "warp_bench.h"

#ifndef WARP_STACKS
#define WARP_STACKS false
#endif

namespace {

// The product and, with OpenCV, warpAffine, both on one thread.
template <class Run>
void registerOneThread(const std::string& name, const warpbench::Case& proto, Run run)
{
    using namespace warpbench;
    auto add = [&](const std::string& runner, auto body) {
        benchmark::RegisterBenchmark((name + "/" + runner).c_str(), body)->UseRealTime()->Unit(benchmark::kMicrosecond);
    };
    add("product_1thread", [proto, run](benchmark::State& state) {
        const ThreadSetting setting(1);
        const std::vector<standin::Array> in = inputs(proto);
        for (auto _ : state) {
            run(in);
            benchmark::ClobberMemory();
        }
        countPixels(state, proto.pixels());
    });
#if defined(TOOLBOX_HAVE_OPENCV)
    add("opencv_warpAffine_nearest_1thread", [proto](benchmark::State& state) {
        Case c = proto;
        std::vector<cv::Mat> affine;
        for (const Transform& tr : c.transforms) affine.push_back(inverseAffine(c, tr));
        cv::setNumThreads(1);
        for (auto _ : state) {
            warpAffinePeer(c, affine);
            benchmark::ClobberMemory();
        }
        countPixels(state, c.pixels());
    });
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string plugin = WARP_PLUGIN;
    for (int side : {127, 128, 129, 255, 256, 257, 511, 512, 513}) {
        // About 4 MB of maps a call at every size.
        const long long perMap = static_cast<long long>(side) * side * 8 * (WARP_STACKS ? 16 : 1);
        const int n = static_cast<int>(std::max(1LL, (4LL << 20) / perMap));
        registerOneThread(plugin + "_" + std::to_string(side) + "sq",
                                     warpbench::Case(n, 16, WARP_STACKS, side, 5u),
                                     [plugin](const std::vector<standin::Array>& in) {
                                         standin::call(plugin.c_str(), mexFunction, in);
                                     });
    }
    return warpbench::runWithSummary(argc, argv);
}
