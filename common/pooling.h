// Oriented local-maximum pooling: the shift tables and localMaximum.
#pragma once

#include "maps.h"

// What pooling reads, filled by the gateway of Halvery or Wendlow.
struct PoolState {
    int nImages;
    int N;
    int nRows;
    int nCols;
    int shiftRange;
    int oriRange;
    int shiftStep;
    double saturation;
    MapGrid responseMaps;  // nImages x N; image i, orientation o at i + nImages*o
    int** shiftX;          // N rows of 2*shiftRange+1 row offsets
    int** shiftY;          // N rows of 2*shiftRange+1 column offsets
};

// Arg-max of one pooling. Meaningful only when the pooled value is above 0.
struct MaxRecord {
    int shift;
    int x;
    int y;
    int ori;
    int oriShift;
};

// Allocates and fills shiftX and shiftY (host memory for this call).
// Callers guarantee shiftRange >= 0 and that shiftRange*|shiftStep| fits an int.
void buildShiftTables(PoolState& s);

// The largest response around (x, y) over the shifts along orientation ori and
// the orientations ori-oriRange..ori+oriRange (wrapped once), capped at
// saturation. Positions are 64-bit so that any element or transformed
// position, however far outside the map, is simply skipped.
double localMaximum(const PoolState& s, int image, int ori, long long x, long long y, MaxRecord& record);
