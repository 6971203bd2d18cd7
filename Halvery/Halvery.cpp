// Halvery: scores a template on a batch of images, records every element's
// pooled response and draws the template as it matched into render maps,
// all in place in the caller's arrays. The gateway reads and checks the 26
// inputs; the kernel is testTemplate (common/halvery).
#include "args.h"
#include "halvery.h"
#include "template_args.h"

namespace {

const char* const argNames[TEMPLATE_ARGS] = {
    "nImages", "N", "responseMaps", nullptr, "patchHalf", "nRows", "nCols", nullptr,
    "elemOri", "elemX", "elemY", "elemWeight", "elemBias", "patches", "renderMaps",
    "shiftRange", "oriRange", "shiftStep", "nElements", "saturation", "scores", "pooledValues",
    nullptr, nullptr, nullptr, nullptr};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"Halvery", nrhs, prhs, argNames};
    rejectOutputs(g, nlhs, "otk_score_template");
    requireInputs(g, TEMPLATE_ARGS);

    HalveryState s;
    readTemplateCall(g, s.pool, s.tpl);
    copyHalveryElements(s);
    for (long long e = 0; e < s.nElements; ++e) {
        const int ori = s.elements[e].ori;
        if (ori < 0 || ori >= s.pool.N)
            argError(g, ARG_ELEM_ORI, "badOrientation",
                     "entry %lld (%g) must be an orientation index in 0..N-1 (N is %d)", e + 1,
                     s.tpl.elemOri[e], s.pool.N);
    }

    s.patchHalf = roundArg(g, ARG_PATCH_HALF);
    // A patch holds side^2 doubles; no host array can hold a side beyond this.
    if (s.patchHalf > 1000000000)
        argError(g, ARG_PATCH_HALF, "patchHalf", "is too large (%d)", s.patchHalf);
    const long long side = patchSide(s.patchHalf);
    s.patches = readMapGrid(g, ARG_PATCHES, s.pool.N, 1, side * side);
    s.renderMaps = readMapGrid(g, ARG_RENDER_MAPS, s.pool.nImages, 1, mapElements(s.pool.nRows, s.pool.nCols));
    s.scores = dataArg(g, ARG_SCORES, s.pool.nImages);
    s.pooledValues = dataArg(g, ARG_POOLED_VALUES, static_cast<long long>(s.pool.nImages) * s.nElements);
    testTemplate(s);
}
