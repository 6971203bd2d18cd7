// A template as the pooling kernels (Halvery, Wendlow) use it: five
// parallel arrays of the caller, and the per-call copy the kernels read.
// No host calls here.
#pragma once

#include "pooling.h"

// The template: nElements entries of five parallel arrays of the caller.
// Orientation, row and column are truncated toward zero where they are used.
struct Template {
    int nElements;  // below 1: no element
    const double* elemOri;
    const double* elemX;
    const double* elemY;
    const double* elemWeight;
    const double* elemBias;
};

// Number of elements a call reads: nElements, or 0 when it is below 1.
inline long long elementCount(const Template& tpl)
{
    return tpl.nElements > 0 ? tpl.nElements : 0;
}

// One element as the kernels use it: orientation, row and column truncated
// toward zero, weight and bias as passed.
struct Element {
    int ori;
    int x;
    int y;
    double weight;
    double bias;
};

// The elements of the call, copied (host memory for this call). Kernels take
// every element value from this copy, made before their first write, so a
// result array that shares storage with an element array can never change
// an index or a weight the kernel uses.
const Element* copyElements(const Template& tpl);

// Entries of the cached shift tables a call may hold: no more than its maps
// hold, so that the tables never dwarf the inputs (a huge shiftRange on a
// small map computes its offsets instead).
long long shiftCacheLimit(const PoolState& pool);
