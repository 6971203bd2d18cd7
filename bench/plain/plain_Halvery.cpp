// plain_Halvery: Halvery's arguments read by the toolbox's argument module,
// then the plain loops of tests/plain_halvery.h. Built into build/bench-mex
// for the through-host timing (bench/octave_timing.m, bench/probes/) only;
// never shipped.
#include <vector>

#include "args.h"
#include "plain_halvery.h"
#include "template_args.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"plain_Halvery", nrhs, prhs, nullptr, true};  // serial: wakes no helper
    rejectOutputs(g, nlhs, "Halvery");
    requireInputs(g, TEMPLATE_ARGS);
    PoolState pool;
    Template tpl;
    readTemplateCall(g, pool, tpl);
    const int nElements = static_cast<int>(elementCount(tpl));
    // The plain loops index the tables by orientation unchecked.
    for (int e = 0; e < nElements; ++e)
        if (static_cast<int>(tpl.elemOri[e]) < 0 || static_cast<int>(tpl.elemOri[e]) >= pool.N)
            argError(g, ARG_ELEM_ORI, "badOrientation", "entry %d must be in 0..N-1", e + 1);
    const int patchHalf = roundArg(g, ARG_PATCH_HALF);
    const long long side = 2LL * patchHalf + 1;
    const MapGrid patches = readMapGrid(g, ARG_PATCHES, pool.N, 1, side * side);
    const MapGrid renders = readMapGrid(g, ARG_RENDER_MAPS, pool.nImages, 1, mapElements(pool.nRows, pool.nCols));
    double* scores = dataArg(g, ARG_SCORES, pool.nImages);
    double* pooled = dataArg(g, ARG_POOLED_VALUES, static_cast<long long>(pool.nImages) * nElements);

    plain::Maps m = {pool.nImages, pool.N, pool.nRows, pool.nCols, pool.oriRange, pool.saturation, {}};
    m.maps.assign(pool.responseMaps, pool.responseMaps + static_cast<long long>(pool.nImages) * pool.N);
    const plain::Shifts t = plain::shiftTables(pool.N, pool.shiftRange, pool.shiftStep);
    const plain::Elements el =
        plain::elementsOf(tpl.elemOri, tpl.elemX, tpl.elemY, tpl.elemWeight, tpl.elemBias, nElements);
    const std::vector<const double*> patchList(patches, patches + pool.N);
    const std::vector<double*> renderList(renders, renders + pool.nImages);
    plain::testTemplate(m, t, el, patchHalf, patchList, renderList, scores, pooled);
}
