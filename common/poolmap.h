// Pooled maps: localMaximum of one orientation at every position of a
// rectangle, computed a whole rectangle at a time. No host calls here.
//
// The value of a pooling is the largest of +0 and every sample that is not a
// NaN among the samples inside the map (then capped), whatever their order
// (see pooling.h). So the pooled value at every position of a rectangle is
// the running maximum, from +0, of the rectangle's samples moved by each
// (shift, orientation offset) in turn: one vectorisable pass per shift and
// orientation offset instead of one short pooling per position, with the
// same bits at every position, inside the map or beyond it.
#pragma once

#include <cstddef>

#include "pooling.h"

// Positions rows x0..x1, columns y0..y1, counted from 1; they may lie
// beyond the map.
struct PoolRect {
    long long x0;
    long long x1;
    long long y0;
    long long y1;
};

inline long long rectRows(const PoolRect& r)
{
    return r.x1 >= r.x0 ? r.x1 - r.x0 + 1 : 0;
}

inline long long rectCols(const PoolRect& r)
{
    return r.y1 >= r.y0 ? r.y1 - r.y0 + 1 : 0;
}

// The largest row and column offset (in absolute value) of any shift of
// orientation ori. Needs buildShiftTables.
void shiftReach(const PoolState& s, int ori, long long& rows, long long& cols);

// The value localMaximum(s, image, ori, x, y) returns, for every position
// (x, y) of rect, into out: column-major, (x, y) at
// (x - rect.x0) + ld * (y - rect.y0). Needs buildShiftTables.
//
// With scratch (poolScratch(s, rows, cols) doubles for a rect of that
// size), a window of several
// orientations is first reduced to its maximum over the samples the rect
// reaches, then shifted: turns + shifts passes instead of turns x shifts.
// The same bits: the maximum does not depend on the order of the samples.
// With capped false the cap is left to the caller (v > cap ? cap : v).
void poolRect(const PoolState& s, ImageMaps m, int ori, const PoolRect& rect, double* out, std::ptrdiff_t ld,
              double* scratch = nullptr, bool capped = true);

// The doubles of scratch poolRect may use for any rect of rows x cols
// positions, wherever it lies, in any orientation.
long long poolScratch(const PoolState& s, long long rows, long long cols);

// What pooling returns where no sample lies inside the map: +0, capped.
inline double emptyPooling(const PoolState& s)
{
    const double none = 0.0;
    return none > s.saturation ? s.saturation : none;
}
