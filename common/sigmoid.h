// The sigmoid that Fenwold and Porrith apply to response maps in place. No
// host calls here.
#pragma once

#include <cmath>

#include "maps.h"

// The maps of one call and the level they saturate to.
struct SaturationMaps {
    int nImages;
    int N;
    MapGrid responseMaps;  // nImages x N cells, entry l + nImages*k
    int nRows;
    int nCols;
    double saturationLevel;
    // nullptr: the maps are saturated in place. Otherwise map k receives the
    // saturated values of sources[k], which is only read: the function
    // layer's new results from the caller's maps, in one pass.
    const double* const* sources = nullptr;
};

// Below this many map elements a call stays on the caller's thread; see
// sigmoid.cpp for the measurement.
extern const double SATURATION_PER_THREAD;

// Threads for work worth that many saturated elements: 1 below
// 2*SATURATION_PER_THREAD, otherwise threadsFor's count.
int saturationThreads(double work);

// One value through the sigmoid: s*tanh(v/s), computed the exp way so that
// the limits (exactly s past |v/s| = 40, and the IEEE results at s = 0) are
// the ones this sequence gives. Kept inline so every loop order shares it.
inline double saturate(double v, double s)
{
    const double x = (-2.0 * v) / s;
    const double e = std::exp(x);
    return s * (2.0 / (e + 1.0) - 1.0);
}

// v[0..n-1] through the sigmoid in place.
void saturateRun(double* v, long long n, double s);

// to[p] = saturate(from[p], s) for p in 0..n-1.
void saturateRunFrom(const double* from, double* to, long long n, double s);

// Whether the runs take the AVX2 path where the processor has it (the
// default) or the plain loop; returns whether they take it now. Both give
// the same bits: tests run both.
bool useWideSaturation(bool wide);

// Elements p..p+n-1 of map k of m: in place, or from its source.
inline void saturateMapRun(const SaturationMaps& m, long long k, long long p, long long n)
{
    if (m.sources != nullptr)
        saturateRunFrom(m.sources[k] + p, m.responseMaps[k] + p, n, m.saturationLevel);
    else
        saturateRun(m.responseMaps[k] + p, n, m.saturationLevel);
}

// Whether two cells of the grid hold overlapping data (the same block passed
// twice, as the host does for b = a; {a, b}). Allocates a sorted copy of the
// table: call it on the gateway's thread.
bool cellsShareStorage(const SaturationMaps& m);

// Saturates the first nRows*nCols elements of every cell entry in place. A
// data block held by two cells is saturated once for each of them. Every
// element is transformed on its own, so any visiting order gives the bits
// of the plain pixel-major loops; large calls are split into element ranges
// over the thread layer unless cells share storage, where one range could
// race with another over the same block.
void sigmoidSaturate(const SaturationMaps& m);
