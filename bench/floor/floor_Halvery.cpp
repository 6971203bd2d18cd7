// floor_Halvery: what any kernel of a Halvery call must spend through the
// host, and nothing more: Halvery's arguments read by the toolbox's argument
// module (the host's own part of the call), then every sample the call's
// poolings read, copied out of the maps as Halvery copies them and summed
// into scores, on as many threads as the thread setting allows. No pooling,
// no score terms, no drawing. Its time beside Halvery's and the plain
// build's in one run (bench/octave_timing.m) bounds what Halvery can reach.
// Built into build/bench-mex only; never shipped. Calls whose poolings are
// not all inside the maps (the fast window) are refused.
#include "args.h"
#include "pooling.h"
#include "template.h"
#include "template_args.h"
#include "threads.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"floor_Halvery", nrhs, prhs, nullptr};
    rejectOutputs(g, nlhs, "Halvery");
    requireInputs(g, TEMPLATE_ARGS);
    PoolState pool;
    Template tpl;
    readTemplateCall(g, pool, tpl);
    const long long nElements = elementCount(tpl);
    const Element* elements = copyElements(tpl);
    const int patchHalf = roundArg(g, ARG_PATCH_HALF);
    const long long side = 2LL * patchHalf + 1;
    readMapGrid(g, ARG_PATCHES, pool.N, 1, side * side);
    readMapGrid(g, ARG_RENDER_MAPS, pool.nImages, 1, mapElements(pool.nRows, pool.nCols));
    double* scores = dataArg(g, ARG_SCORES, pool.nImages);
    dataArg(g, ARG_POOLED_VALUES, static_cast<long long>(pool.nImages) * nElements);

    buildShiftTables(pool, shiftCacheLimit(pool));
    if (!gathersInside(pool)) gatewayError(g, "notInside", "the call's poolings are not copied as a window");
    for (long long e = 0; e < nElements; ++e) {
        const Element& el = elements[e];
        if (el.ori < 0 || el.ori >= pool.N || !mapShifts(pool, el.ori, el.x, el.y).whole)
            gatewayError(g, "notInside", "element %lld is not pooled inside the maps", e + 1);
    }
    const int threads = pool.nImages < configuredThreads() ? pool.nImages : configuredThreads();
    auto readImage = [&](long long i) {
        const ImageMaps maps = imageMaps(pool, static_cast<int>(i));
        double samples[GATHERED_SAMPLES];
        const int count = (2 * pool.oriRange + 1) * (2 * pool.shiftRange + 1);
        double sum = 0;
        for (long long e = 0; e < nElements; ++e) {
            gatherInside(pool, maps, elements[e].ori, elements[e].x, elements[e].y, samples);
            for (int k = 0; k < count; ++k) sum += samples[k];
        }
        scores[i] += sum;
    };
    forEachChunk(pool.nImages, threads, readImage);
}
