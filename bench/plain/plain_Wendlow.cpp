// plain_Wendlow: Wendlow's arguments read by the toolbox's argument module,
// then the plain loops of tests/plain_wendlow.h. Built into build/bench-mex
// for the through-host timing (bench/octave_timing.m, bench/probes/) only;
// never shipped.
#include "args.h"
#include "plain_wendlow.h"
#include "template_args.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"plain_Wendlow", nrhs, prhs, nullptr, true};  // serial: wakes no helper
    rejectOutputs(g, nlhs, "Wendlow");
    requireInputs(g, 29);
    PoolState pool;
    Template tpl;
    readTemplateCall(g, pool, tpl);
    const int nElements = static_cast<int>(elementCount(tpl));
    double* best = dataArg(g, ARG_SCORES, pool.nImages);
    double* dX = dataArg(g, 26, pool.nImages);
    double* dY = dataArg(g, 27, pool.nImages);
    double* dOri = dataArg(g, 28, pool.nImages);

    plain::Maps m = {pool.nImages, pool.N, pool.nRows, pool.nCols, pool.oriRange, pool.saturation, {}};
    m.maps.assign(pool.responseMaps, pool.responseMaps + static_cast<long long>(pool.nImages) * pool.N);
    const plain::Shifts t = plain::shiftTables(pool.N, pool.shiftRange, pool.shiftStep);
    plain::search(m, t, tpl.elemOri, tpl.elemX, tpl.elemY, tpl.elemWeight, tpl.elemBias, nElements, best, dX, dY,
                  dOri);
}
