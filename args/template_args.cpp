#include "template_args.h"

#include <cstdlib>

#include "alloc.h"

void readTemplateCall(const Gateway& g, PoolState& pool, Template& tpl)
{
    pool.nImages = countArg(g, ARG_N_IMAGES);
    pool.N = countArg(g, ARG_N);
    pool.nRows = roundArg(g, ARG_N_ROWS);
    pool.nCols = roundArg(g, ARG_N_COLS);
    pool.responseMaps =
        readMapGrid(g, ARG_RESPONSE_MAPS, pool.nImages, pool.N, mapElements(pool.nRows, pool.nCols));

    pool.shiftRange = roundArg(g, ARG_SHIFT_RANGE);
    pool.oriRange = roundArg(g, ARG_ORI_RANGE);
    pool.shiftStep = roundArg(g, ARG_SHIFT_STEP);
    tpl.nElements = floorArg(g, ARG_N_ELEMENTS);
    pool.saturation = rawArg(g, ARG_SATURATION);
    pool.sinTheta = pool.cosTheta = nullptr;
    pool.shiftX = pool.shiftY = nullptr;
    pool.shiftAt = nullptr;

    if (pool.shiftRange < 0)
        argError(g, ARG_SHIFT_RANGE, "shiftRange", "must not be negative (it is %d)", pool.shiftRange);
    // 2*shiftRange+1 table entries and offsets up to shiftRange*|shiftStep|.
    if (pool.shiftRange > 1073741823)
        argError(g, ARG_SHIFT_RANGE, "shiftRange", "is too large (%d)", pool.shiftRange);
    if (static_cast<long long>(pool.shiftRange) * std::llabs(pool.shiftStep) > 2147483647LL)
        argError(g, ARG_SHIFT_STEP, "shiftStep",
                 "times shiftRange must fit a 32-bit int (%d x %d does not)", pool.shiftStep, pool.shiftRange);
    if (pool.oriRange < 0)
        argError(g, ARG_ORI_RANGE, "oriRange", "must not be negative (it is %d)", pool.oriRange);
    // One wrap brings ori + j back into 0..N-1 only while oriRange <= N.
    if (pool.oriRange > pool.N)
        argError(g, ARG_ORI_RANGE, "oriRange", "must not exceed N (it is %d, N is %d)", pool.oriRange, pool.N);

    const long long count = elementCount(tpl);
    tpl.elemOri = dataArg(g, ARG_ELEM_ORI, count);
    tpl.elemX = dataArg(g, ARG_ELEM_X, count);
    tpl.elemY = dataArg(g, ARG_ELEM_Y, count);
    tpl.elemWeight = dataArg(g, ARG_ELEM_WEIGHT, count);
    tpl.elemBias = dataArg(g, ARG_ELEM_BIAS, count);
    requireIntValues(g, ARG_ELEM_ORI, tpl.elemOri, count);
    requireIntValues(g, ARG_ELEM_X, tpl.elemX, count);
    requireIntValues(g, ARG_ELEM_Y, tpl.elemY, count);
}
