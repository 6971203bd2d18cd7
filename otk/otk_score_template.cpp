// otk_score_template: the template scored on every image, every element's
// pooled value and the template drawn as it matched, in new arrays. The
// same kernel as Halvery's, reached without a cell grid in between.
#include <cstddef>
#include <cstdio>

#include "alloc.h"
#include "args.h"
#include "halvery.h"
#include "interrupt.h"
#include "otk_args.h"

namespace {

enum ScoreOption { OPT_SHIFT_RANGE, OPT_ORI_RANGE, OPT_SHIFT_STEP, OPT_SATURATION, OPT_PATCHES, SCORE_OPTIONS };

const char* const PATCHES_LABEL = "Patches (option)";

// The drawing patches, N of one odd side: a numeric (2h+1) x (2h+1) x N
// array or a cell list of N matrices; none given: a single 1 each.
void readPatches(const OtkCall& c, const mxArray* given, HalveryState& s)
{
    const int N = s.pool.N;
    s.patches = static_cast<MapGrid>(allocZeroed(static_cast<std::size_t>(N), sizeof(double*)));
    if (given == nullptr || isDefaultValue(given)) {
        static double one = 1.0;  // read only
        for (int k = 0; k < N; ++k) s.patches[k] = &one;
        s.patchHalf = 0;
        return;
    }
    long long side = -1;
    if (mxIsCell(given)) {
        const long long n = static_cast<long long>(mxGetNumberOfElements(given));
        if (n != N)
            otkError(c, "badPatches", "%s: %s must hold N = %d patches, one per orientation (it holds %lld)", c.name,
                     PATCHES_LABEL, N, n);
        for (int k = 0; k < N; ++k) {
            char label[64];
            std::snprintf(label, sizeof label, "%s patch %d", PATCHES_LABEL, k + 1);
            const mxArray* patch = mxGetCell(given, static_cast<mwIndex>(k));
            const long long rows = patch ? static_cast<long long>(mxGetM(patch)) : 0;
            const long long cols = patch ? static_cast<long long>(mxGetNumberOfElements(patch)) / (rows > 0 ? rows : 1) : 0;
            const double* data = patch ? readReal(c, patch, label).data : nullptr;
            if (k == 0) side = rows;
            const bool matrix = patch == nullptr || mxGetNumberOfDimensions(patch) == 2;
            if (!matrix || rows != side || cols != side || side % 2 != 1)
                otkError(c, "badPatches",
                         "%s: %s patch %d is %lldx%lld; every patch must be square with the same odd side 2*h+1 "
                         "(the first is %lldx%lld)",
                         c.name, PATCHES_LABEL, k + 1, rows, cols, side, side);
            s.patches[k] = const_cast<double*>(data);
        }
    } else {
        RealArray all = readReal(c, given, PATCHES_LABEL);
        const mwSize nd = mxGetNumberOfDimensions(given);
        const mwSize* d = mxGetDimensions(given);
        const long long depth = nd > 2 ? static_cast<long long>(d[2]) : 1;
        if (nd > 3 || depth != N)
            otkError(c, "badPatches", "%s: %s must be (2h+1) x (2h+1) x N with N = %d", c.name, PATCHES_LABEL, N);
        side = static_cast<long long>(d[0]);
        if (static_cast<long long>(d[1]) != side || side % 2 != 1)
            otkError(c, "badPatches",
                     "%s: %s patch 1 is %lldx%lld; every patch must be square with the same odd side 2*h+1 "
                     "(the first is %lldx%lld)",
                     c.name, PATCHES_LABEL, side, static_cast<long long>(d[1]), side, static_cast<long long>(d[1]));
        for (int k = 0; k < N; ++k) s.patches[k] = const_cast<double*>(all.data) + k * side * side;
    }
    if (N == 0 || side < 1) side = 1;
    s.patchHalf = static_cast<int>((side - 1) / 2);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const OtkCall c = {"otk_score_template", nrhs, prhs};
    const InterruptWatch interrupt(c.name);
    requireOtkInputs(c, 2, "MAPS and TEMPLATE");
    requireOtkOutputs(c, nlhs, 3);

    HalveryState s;
    OptionSlot options[SCORE_OPTIONS] = {
        {"ShiftRange", nullptr}, {"OriRange", nullptr}, {"ShiftStep", nullptr}, {"Saturation", nullptr},
        {"Patches", nullptr}};
    const OtkMaps maps = readTemplateCall(c, options, SCORE_OPTIONS, 1, 1, s.pool, s.tpl);
    readPatches(c, options[OPT_PATCHES].value, s);

    const int nImages = maps.nImages;
    const long long nElements = elementCount(s.tpl);
    const mwSize scoreDims[2] = {static_cast<mwSize>(nImages), 1};
    const mwSize pooledDims[2] = {static_cast<mwSize>(nImages), static_cast<mwSize>(nElements)};
    mxArray* scores = createDoubles(2, scoreDims, true);  // accumulated from 0
    // Every entry is written when there is an image and an element.
    mxArray* pooled = createDoubles(2, pooledDims, nImages == 0 || nElements == 0);
    s.scores = hostDoubles(scores);
    s.pooledValues = hostDoubles(pooled);
    // The drawings are raised from 0; without a third output nothing is drawn.
    mxArray* renders = nullptr;
    s.renderMaps = nullptr;
    if (nlhs > 2) {
        OtkMaps shape = maps;
        shape.N = 1;
        renders = createMaps(shape, LAYOUT_LIST, true, &s.renderMaps);  // a cell: nImages x 1
    }
    copyHalveryElements(s);
    testTemplate(s);
    interrupt.check({scores, pooled, renders});

    plhs[0] = scores;
    if (nlhs > 1) plhs[1] = pooled;
    else mxDestroyArray(pooled);
    if (nlhs > 2) plhs[2] = renders;
}
