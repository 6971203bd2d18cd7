// Wendlow: for every image of a batch, the rotation about the map centre and
// the one-pixel shift of a template under which the template scores best,
// written in place in the caller's arrays. The gateway reads and checks the
// 29 inputs; the kernel is searchTransform (common/wendlow).
#include "args.h"
#include "template_args.h"
#include "wendlow.h"

namespace {

enum WendlowArg {
    ARG_BEST_SCORES = ARG_SCORES,  // 20: Halvery accumulates here, Wendlow overwrites
    ARG_BEST_DELTA_X = 26,
    ARG_BEST_DELTA_Y = 27,
    ARG_BEST_DELTA_ORI = 28,
    WENDLOW_ARGS = 29
};

const char* const argNames[WENDLOW_ARGS] = {
    "nImages", "N", "responseMaps", nullptr, "patchHalf", "nRows", "nCols", nullptr,
    "elemOri", "elemX", "elemY", "elemWeight", "elemBias", "patches", "renderMaps",
    "shiftRange", "oriRange", "shiftStep", "nElements", "saturation", "bestScores", "pooledValues",
    nullptr, nullptr, nullptr, nullptr, "bestDeltaX", "bestDeltaY", "bestDeltaOri"};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"Wendlow", nrhs, prhs, argNames};
    rejectOutputs(g, nlhs, "otk_search_transform");
    requireInputs(g, WENDLOW_ARGS);

    WendlowState s;
    readTemplateCall(g, s.pool, s.tpl);
    if (s.pool.N > WENDLOW_MAX_ORIENTATIONS)
        argError(g, ARG_N, "N", "must not exceed %d (it is %d)", WENDLOW_MAX_ORIENTATIONS, s.pool.N);
    const long long nImages = s.pool.nImages;
    s.bestScores = dataArg(g, ARG_BEST_SCORES, nImages);
    s.bestDeltaX = dataArg(g, ARG_BEST_DELTA_X, nImages);
    s.bestDeltaY = dataArg(g, ARG_BEST_DELTA_Y, nImages);
    s.bestDeltaOri = dataArg(g, ARG_BEST_DELTA_ORI, nImages);
    searchTransform(s);
}
