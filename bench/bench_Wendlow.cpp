// Wendlow against a straightforward search that re-evaluates every element
// placement for every image, measured in the same run.
//
// Argument: the pooling reach (shiftRange = oriRange). With reach 0 the
// placements dominate; with reach 2 each pooling reads 25 samples.
// Wendlow runs with 1 and with 2 threads; the baseline with one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#if defined(_OPENMP)
#include <omp.h>
#endif

#include "pooling.h"
#include "standin.h"
#include "template_call.h"
#include "transform.h"
#include "wendlow_reference.h"

namespace {

// 16 images of 48 x 48, N = 16 (72 candidates), 60 elements inside the maps.
TemplateCall benchCall(int reach)
{
    std::mt19937 rng(3);
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    TemplateCall c;
    c.nImages = 16;
    c.N = 16;
    c.nRows = c.nCols = 48;
    c.patchHalf = 0;
    c.shiftRange = reach;
    c.oriRange = reach;
    c.saturation = 0.9;
    for (int k = 0; k < 60; ++k)
        c.addElement(static_cast<int>(uniform(0, 16)), uniform(8, 40), uniform(8, 40), uniform(0.5, 2), uniform(0, 0.2));
    c.allocate();
    for (int i = 0; i < c.nImages; ++i)
        for (int o = 0; o < c.N; ++o)
            for (double& v : c.map(i, o)) v = uniform(0, 1);
    return c;
}

// The search as a plain loop: per image, per candidate, per element, the
// placement and then the pooling.
void perImageSearch(const TemplateCall& c, std::vector<double>& best, std::vector<double>& dX,
                    std::vector<double>& dY, std::vector<double>& dOri)
{
    plainSearch(c, static_cast<int>(c.elemOri.size()), best.data(), dX.data(), dY.data(), dOri.data());
}

void setThreads(int n)
{
#if defined(_OPENMP)
    omp_set_num_threads(n);
#else
    (void)n;
#endif
}

// Both searches must agree before either is timed.
void checkAgreement(const TemplateCall& c)
{
    const int n = c.nImages;
    std::vector<double> best(n), dX(n), dY(n), dOri(n);
    perImageSearch(c, best, dX, dY, dOri);
    standin::call("Wendlow", mexFunction, c.inputs(29));
    if (best != standin::values(c.scores) || dX != standin::values(c.bestDeltaX) ||
        dY != standin::values(c.bestDeltaY) || dOri != standin::values(c.bestDeltaOri)) {
        std::fprintf(stderr, "Wendlow and the per-image search disagree\n");
        std::abort();
    }
}

void BM_PerImageBaseline(benchmark::State& state)
{
    const TemplateCall c = benchCall(static_cast<int>(state.range(0)));
    const int n = c.nImages;
    std::vector<double> best(n), dX(n), dY(n), dOri(n);
    for (auto _ : state) {
        perImageSearch(c, best, dX, dY, dOri);
        benchmark::DoNotOptimize(best.data());
    }
}

void BM_Wendlow(benchmark::State& state)
{
    const TemplateCall c = benchCall(static_cast<int>(state.range(0)));
    setThreads(1);
    checkAgreement(c);
    setThreads(static_cast<int>(state.range(1)));
    const std::vector<standin::Array> inputs = c.inputs(29);
    for (auto _ : state) {
        standin::call("Wendlow", mexFunction, inputs);
        benchmark::DoNotOptimize(standin::values(c.scores).data());
    }
    setThreads(1);
}

}  // namespace

BENCHMARK(BM_PerImageBaseline)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Wendlow)->Args({0, 1})->Args({0, 2})->Args({2, 1})->Args({2, 2})->Unit(benchmark::kMillisecond)->UseRealTime();
