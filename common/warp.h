// What the two map-warping plug-ins, Sabrel and Mundle, share on the kernel
// side: their per-call record, the fast exact sampling of a transform, and
// the warp loop. No host calls here.
//
// Both warp every map by an inverse nearest-neighbour sample through
// geometricTransform about the map centre. The sampled position depends only
// on the map's (or image's) transform, never on the map's data or its
// orientation channel, so one evaluation serves every map that shares the
// transform (all N channels of a Mundle image).
#pragma once

#include "maps.h"

// A map's (Sabrel) or an image's (Mundle) transform, each part truncated
// toward zero from the caller's doubles.
struct WarpParams {
    int dX;
    int dY;
    int dO;
};

// How one transform samples an sx x sy map. Positions come from the closed
// form of the rotation (cosT, sinT once per transform); where a coordinate's
// floor argument lies within margin of an integer, the element is recomputed
// with geometricTransform itself, which defines the result.
struct SampleGeometry {
    int N;
    int sx;
    int sy;
    int cx;  // sx/2
    int cy;  // sy/2
    WarpParams p;
    double cosT;
    double sinT;
    double rowBase;  // 0.5 + (cx + dX)
    double colBase;  // 0.5 + (cy + dY)
    double margin;
};

// The bound on |closed form - defining form| of a floor argument, for
// offsets with |du| + |dv| <= reach, a rotation angle of magnitude turn and
// moved centres of magnitude up to centre (see warp.cpp for the derivation).
double sampleMargin(double reach, double turn, double centre);

// The geometry of transform p on an sx x sy map (sx, sy >= 1, N >= 1), with
// the margin sampleMargin gives for its farthest element.
SampleGeometry sampleGeometry(int N, int sx, int sy, const WarpParams& p);

// The positions geometricTransform(N, cx, cy, x, y, 0, dX, dY, dO) gives for
// elements e0..e1-1 of the map in storage order (e = x + sx*y): rows[e - e0],
// cols[e - e0]. Returns how many were recomputed by geometricTransform.
long long samplePositions(const SampleGeometry& g, long long e0, long long e1, long long* rows, long long* cols);

// The same as source offsets: offsets[e - e0] = row + sx*col, or -1 where
// the position lies outside the map, as the warps read them.
void sampleOffsets(const SampleGeometry& g, long long e0, long long e1, long long* offsets);

// The positions are computed 4 at a time where the processor has AVX2 (the
// default), otherwise 2 at a time, with the same bits. For the check program
// and tests: chooses the path (AVX2 only where available) and returns
// whether AVX2 is now used. Not while a warp runs.
bool useWideSampling(bool wide);

// Columns y0..y1-1 of one result map sampled straight from its source
// through g, without an offset table, in tiles that keep the source reads
// close together; with stream set, written past the caches (for results
// far larger than they are).
void warpColumns(const SampleGeometry& g, long long y0, long long y1, const double* source, double* result,
                 bool stream);

// Everything one call of Sabrel or Mundle reads and writes, filled by the
// gateway (readWarpCall, then prepareWarp); released by finishWarp.
struct WarpState {
    int n;         // maps (Sabrel) or images (Mundle): the rows of both grids
    int N;         // orientations; one rotation step is PI/N
    int channels;  // columns of both grids: 1 (Sabrel) or N (Mundle)
    int sx;        // rows of every map
    int sy;        // columns of every map
    long long count;  // elements warped per map: sx*sy, or 0 when nothing is visited
    MapGrid sI;    // n x channels sources, entry i + n*k; read only
    MapGrid rI;    // n x channels results, same indexing; overwritten
    const WarpParams* params;  // n transforms, taken before anything is written
    const int* order;       // the n maps or images in the order they are warped
    const int* groupStart;  // groups + 1 bounds into order: images sharing a transform
    int groups;
    bool plainOrder;   // results share storage: one thread, the plain order of writes
    double* copies;    // this call's copies of sources that share storage with results
};

// Result map (i, k) of every image i and channel k: the source of image i in
// channel (k + dO) modulo N (channel 0 for Sabrel), sampled at the positions
// of i's transform, 0 outside. On several threads when the call is large and
// its results share no storage; the bits never depend on the thread count.
void warpAll(const WarpState& s);

// The threads warpAll uses: 1 for small calls and for results that share
// storage, otherwise one per WARP_MIN_PER_THREAD elements of work, up to
// the configured count.
int warpThreads(const WarpState& s);

// warpAll on exactly `threads` threads (at most), for measuring.
void warpAllOn(const WarpState& s, int threads);

// Elements per thread below which a warp stays on the caller's thread.
extern const double WARP_MIN_PER_THREAD;

// The most images a group of a call of these maps holds (at least 1): a
// longer run of images under one transform is split into groups of this
// many, so that with the columns split too (warpAllOn) no chunk writes much
// more than some milliseconds' worth, and a long call can be stopped between
// chunks. Every element is sampled on its own: groups change no result.
int warpGroupImages(int channels, long long count);
