// The sigmoid that Fenwold and Porrith apply to response maps in place, and
// the reading of the inputs that both gateways share. The header names no
// host type, so kernels and host-free code can include it.
#pragma once

#include <cmath>

#include "maps.h"

struct Gateway;

// Positions 0 to 2 of both gateways.
enum SaturationArg { SAT_ARG_N_IMAGES = 0, SAT_ARG_N = 1, SAT_ARG_RESPONSE_MAPS = 2 };

// The maps of one call and the level they saturate to. Positions 0 to 2
// (nImages, N, responseMaps) are the same in both gateways; the map size and
// the level sit at positions each gateway names.
struct SaturationMaps {
    int nImages;
    int N;
    MapGrid responseMaps;  // nImages x N cells, entry l + nImages*k
    int nRows;
    int nCols;
    double saturationLevel;
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

// Reads positions 0 to 2 and the positions given for nRows, nCols and the
// level, and checks that the grid has nImages x N cells of at least
// nRows x nCols doubles each. Reads only: nothing is written.
void readSaturationMaps(const Gateway& g, int nRowsPos, int nColsPos, int levelPos, SaturationMaps& m);
