// What the two map-warping plug-ins, Sabrel and Mundle, share on the kernel
// side: their per-call record and the sample-offset table. No host calls here.
//
// Both warp every map by an inverse nearest-neighbour sample through
// geometricTransform about the map centre. The sampled position depends only
// on the map's (or image's) transform, never on the map's data or its
// orientation channel, so it is evaluated once into a table of source offsets
// and then applied to every map that shares the transform.
#pragma once

#include "maps.h"

// A map's (Sabrel) or an image's (Mundle) transform, each part truncated
// toward zero from the caller's doubles.
struct WarpParams {
    int dX;
    int dY;
    int dO;
};

// Everything one call of Sabrel or Mundle reads and writes, filled by the
// gateway (readWarpCall, then prepareWarp).
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
    const int* order;          // the n maps or images in the order they are warped
    long long* samples;        // sx*sy scratch: source offset per result element, -1 outside
    WarpParams held;           // the transform samples holds, when holding is set
    bool holding;
};

// The source offset of every element of an sx x sy map (offset x + sx*y) under
// transform p: where geometricTransform(cx, cy, x, y, 0, dX, dY, dO) lands,
// or -1 when that falls outside the map. cx = sx/2, cy = sy/2. N >= 1.
void buildSampleTable(int N, int sx, int sy, const WarpParams& p, long long* samples);

// result[e] = source[samples[e]], or 0.0 where samples[e] is -1.
void applySampleTable(const long long* samples, long long count, const double* source, double* result);

// The table for map or image i, built only when i's transform differs from
// the one the table already holds.
const long long* samplesFor(WarpState& s, int i);
