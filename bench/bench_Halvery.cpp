// Halvery through its gateway against the plain loop (elements outer, images
// inner, its own shift tables and pooling, patches drawn row by row:
// tests/halvery_reference.h), in the same run, at 1 thread and at every
// core (repeated calls accumulate scores and raise render maps, in both
// alike). Ratios are printed as counters (x_vs_plain, x_vs_1thread); results
// are checked to agree before anything is timed.
//
//   build/bench/bench_Halvery --benchmark_filter=kernel_1thread   (and so on)
//
// The threshold cases (Halvery/threshold_*) time calls just around the work
// below which Halvery stays on the caller's thread, at 1 and 2 threads; built
// with PARALLEL_WORK at 1 they show what threading costs at every size.
#include <cstdio>
#include <cstdlib>

#include "halvery_reference.h"
#include "template_bench.h"

namespace {

const std::vector<bench::Case> cases = {
    // name, images, side, N, elements, shiftRange, oriRange, patchHalf
    {"hard", 16, 64, 16, 60, 2, 1, 5},
    {"big256", 4, 256, 16, 300, 2, 1, 8},
    {"big512", 2, 512, 16, 1000, 2, 1, 10},
    {"manyElements", 4, 128, 16, 5000, 2, 1, 3},
    {"noPooling", 8, 64, 16, 100, 0, 0, 5},
    {"tiny", 1, 5, 2, 1, 1, 0, 1},
    // The through-host cases A and B of bench/octave_timing.m, here on the
    // same batch call after call.
    {"caseA", 32, 128, 16, 60, 1, 1, 3},
    {"caseB", 16, 256, 16, 100, 2, 1, 5},
    // The back-to-back loop of bench/probes/host_floors.m: a call of 0.3 ms.
    {"backtoback", 16, 48, 4, 600, 2, 1, 2},
};

// One image of 32 x 32, N = 4, shiftRange 2, oriRange 1, patchHalf 2.
const int thresholdImages[] = {2, 4, 8, 16, 32, 64};
constexpr int THRESHOLD_ELEMENTS = 20;

void plainRun(const TemplateCall& c)
{
    plainTestTemplate(c.inputs(26));
}

void kernelRun(const std::vector<standin::Array>& in)
{
    standin::call("Halvery", mexFunction, in);
}

void checkAgreement(const bench::Case& k)
{
    const TemplateCall a = bench::makeCall(k), b = bench::makeCall(k);
    plainTestTemplate(a.inputs(26));
    kernelRun(b.inputs(26));
    bool same = standin::sameBits(standin::values(a.scores), standin::values(b.scores)) &&
                standin::sameBits(standin::values(a.pooledValues), standin::values(b.pooledValues));
    for (int i = 0; i < a.nImages; ++i)
        same = same && standin::sameBits(standin::values(standin::cellContent(a.renderMaps, i)),
                                         standin::values(standin::cellContent(b.renderMaps, i)));
    if (!same) {
        std::fprintf(stderr, "Halvery and the plain loop disagree on %s\n", bench::caseName(k).c_str());
        std::abort();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<bench::ThresholdCase> thresholds;
    for (int images : thresholdImages)
        thresholds.push_back({std::to_string(images) + "img",
                              {"threshold", images, 32, 4, THRESHOLD_ELEMENTS, 2, 1, 2},
                              static_cast<double>(images) * THRESHOLD_ELEMENTS * (15 + 25)});
    return bench::runAll(argc, argv, "Halvery", cases, thresholds, checkAgreement, plainRun, kernelRun);
}
