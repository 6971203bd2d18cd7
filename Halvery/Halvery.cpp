// Halvery: scores a template on a batch of images, records every element's
// pooled response and draws the template as it matched into render maps.
#include <cmath>
#include <cstddef>

#include "alloc.h"
#include "args.h"
#include "pooling.h"
#include "template_args.h"

namespace {

// Everything one call reads and writes, filled by the gateway.
struct HalveryState {
    PoolState pool;
    Template tpl;
    int patchHalf;
    MapGrid patches;     // N patches of (2*patchHalf+1)^2
    MapGrid renderMaps;  // nImages maps of nRows x nCols, raised in place
    double* scores;      // nImages, accumulated in place
    double* pooledValues;  // nImages x nElements, element-major columns
};

const char* const argNames[TEMPLATE_ARGS] = {
    "nImages", "N", "responseMaps", nullptr, "patchHalf", "nRows", "nCols", nullptr,
    "elemOri", "elemX", "elemY", "elemWeight", "elemBias", "patches", "renderMaps",
    "shiftRange", "oriRange", "shiftStep", "nElements", "saturation", "scores", "pooledValues",
    nullptr, nullptr, nullptr, nullptr};

}  // namespace

// Raises map with patch ori scaled by amplitude, its centre on (x, y). Patch
// entries that fall outside the map are clipped: nothing is written there.
void renderElement(const HalveryState& s, double* map, int x, int y, int ori, double amplitude)
{
    const long long half = s.patchHalf;
    const long long side = 2 * half + 1;
    const double* patch = s.patches[ori];
    for (long long r = x - half; r <= x + half; ++r) {
        if (r < 1 || r > s.pool.nRows) continue;
        for (long long c = y - half; c <= y + half; ++c) {
            if (c < 1 || c > s.pool.nCols) continue;
            const double p = patch[linearIndex(r - x + half + 1, c - y + half + 1, side, side)] * amplitude;
            double& target = map[linearIndex(r, c, s.pool.nRows, s.pool.nCols)];
            if (p > target) target = p;
        }
    }
}

void testTemplate(HalveryState& s)
{
    const Template& t = s.tpl;
    const int nImages = s.pool.nImages;
    std::ptrdiff_t pos = 0;
    for (int e = 0; e < t.nElements; ++e) {
        const int ori = static_cast<int>(t.elemOri[e]);
        const int x = static_cast<int>(t.elemX[e]);
        const int y = static_cast<int>(t.elemY[e]);
        for (int i = 0; i < nImages; ++i) {
            MaxRecord record;
            const double v = localMaximum(s.pool, i, ori, x, y, record);
            s.pooledValues[pos++] = v;
            s.scores[i] = s.scores[i] + (t.elemWeight[e] * v - t.elemBias[e]);
            if (v > 0) renderElement(s, s.renderMaps[i], record.x, record.y, record.ori, std::sqrt(v));
        }
    }
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"Halvery", nrhs, prhs, argNames};
    rejectOutputs(g, nlhs, "otk_score_template");
    requireInputs(g, TEMPLATE_ARGS);

    HalveryState s;
    readTemplateCall(g, s.pool, s.tpl);
    const long long count = elementCount(s.tpl);
    for (long long e = 0; e < count; ++e) {
        const int ori = static_cast<int>(s.tpl.elemOri[e]);
        if (ori < 0 || ori >= s.pool.N)
            argError(g, ARG_ELEM_ORI, "badOrientation",
                     "entry %lld (%g) must be an orientation index in 0..N-1 (N is %d)", e + 1,
                     s.tpl.elemOri[e], s.pool.N);
    }

    s.patchHalf = roundArg(g, ARG_PATCH_HALF);
    // A patch holds side^2 doubles; no host array can hold a side beyond this.
    if (s.patchHalf > 1000000000)
        argError(g, ARG_PATCH_HALF, "patchHalf", "is too large (%d)", s.patchHalf);
    const long long side = s.patchHalf >= 0 ? 2LL * s.patchHalf + 1 : 0;
    s.patches = readMapGrid(g, ARG_PATCHES, s.pool.N, 1, side * side);
    s.renderMaps = readMapGrid(g, ARG_RENDER_MAPS, s.pool.nImages, 1, mapElements(s.pool.nRows, s.pool.nCols));
    s.scores = dataArg(g, ARG_SCORES, s.pool.nImages);
    s.pooledValues = dataArg(g, ARG_POOLED_VALUES, static_cast<long long>(s.pool.nImages) * count);

    buildShiftTables(s.pool);
    testTemplate(s);
}
