// Map addressing shared by every kernel. No host calls here.
#pragma once

#include <cstddef>

// Table of the data pointers of the maps of an R x C cell array, entry
// r + R*c for cell (r, c): the host's own column-major cell order.
typedef double** MapGrid;

// The system's approximation of pi; every angle in the toolbox uses it.
constexpr double PI = 3.1415926;

// 0-based offset of element (row, column), both 1-based, of a column-major
// map with nRows rows. Held in 64 bits so that maps of more than 2^31
// elements address correctly; nCols is accepted and not used.
inline std::ptrdiff_t linearIndex(long long row, long long column, long long nRows,
                                  long long nCols)
{
    (void)nCols;
    return static_cast<std::ptrdiff_t>(row + nRows * (column - 1) - 1);
}

// Elements a map of nRows x nCols needs; 0 when either is not positive.
inline long long mapElements(int nRows, int nCols)
{
    if (nRows <= 0 || nCols <= 0) return 0;
    return static_cast<long long>(nRows) * nCols;
}
