// Wendlow through its gateway against the plain search (every image
// re-transforms and pools every element under every candidate, with its own
// transform and pooling: tests/wendlow_reference.h), in the same run, at 1
// thread and at every core. Ratios are printed as counters (x_vs_plain,
// x_vs_1thread); results are checked to agree before anything is timed.
//
//   build/bench/bench_Wendlow --benchmark_filter=kernel_1thread   (and so on)
//
// The threshold cases (Wendlow/threshold_*) time calls just around the work
// below which Wendlow stays on the caller's thread, at 1 and 2 threads; built
// with PARALLEL_WORK at 1 they show what threading costs at every size.
#include <cstdio>
#include <cstdlib>

#include "template_bench.h"
#include "wendlow_reference.h"

namespace {

const std::vector<bench::Case> cases = {
    // name, images, side, N, elements, shiftRange, oriRange, patchHalf
    {"hard", 16, 64, 16, 60, 2, 1, 0},
    {"big256", 4, 256, 16, 200, 2, 1, 0},
    {"oneImage512", 1, 512, 16, 400, 2, 1, 0},
    {"manyElements", 2, 128, 16, 5000, 2, 1, 0},
    {"reach1", 8, 64, 16, 100, 1, 1, 0},
    {"series8", 8, 128, 16, 60, 1, 1, 0},
    {"series32", 32, 128, 16, 60, 1, 1, 0},  // 64 MB of maps, beyond the caches
    // The series of bench/probes/host_floors.m, its batches as there.
    {"series8", 8, 128, 16, 60, 1, 1, 0, true},
    {"series32", 32, 128, 16, 60, 1, 1, 0, true},
    {"noPooling", 8, 64, 16, 100, 0, 0, 0},
    {"tiny", 1, 9, 4, 1, 0, 0, 0},
};

// The threshold cases: one image, N = 4 (18 candidates), shiftRange 2,
// oriRange 1 (15 samples a pooling), the given elements.
const int thresholdElements[] = {5, 10, 25, 50, 100, 200};

void plainRun(const TemplateCall& c)
{
    const int n = c.nImages;
    std::vector<double> best(n), dX(n), dY(n), dOri(n);
    plainSearch(c, static_cast<int>(c.elemOri.size()), best.data(), dX.data(), dY.data(), dOri.data());
    benchmark::DoNotOptimize(best.data());
}

void kernelRun(const std::vector<standin::Array>& in)
{
    standin::call("Wendlow", mexFunction, in);
}

void checkAgreement(const bench::Case& k)
{
    const TemplateCall c = bench::makeCall(k);
    const int n = c.nImages;
    std::vector<double> best(n), dX(n), dY(n), dOri(n);
    plainSearch(c, static_cast<int>(c.elemOri.size()), best.data(), dX.data(), dY.data(), dOri.data());
    kernelRun(c.inputs(29));
    if (best != standin::values(c.scores) || dX != standin::values(c.bestDeltaX) ||
        dY != standin::values(c.bestDeltaY) || dOri != standin::values(c.bestDeltaOri)) {
        std::fprintf(stderr, "Wendlow and the plain search disagree on %s\n", bench::caseName(k).c_str());
        std::abort();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<bench::ThresholdCase> thresholds;
    for (int elements : thresholdElements)
        thresholds.push_back({std::to_string(elements) + "el", {"threshold", 1, 32, 4, elements, 2, 1, 0},
                              18.0 * elements * (15 + 4 + 40)});
    return bench::runAll(argc, argv, "Wendlow", cases, thresholds, checkAgreement, plainRun, kernelRun);
}
