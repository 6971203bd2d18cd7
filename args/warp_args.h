// Inputs that Sabrel and Mundle share: the nine positions mean the same in
// both; only the number of maps per grid row differs (1, or one per
// orientation). Gateway side: these read host arrays and allocate host memory.
#pragma once

#include "args.h"
#include "warp.h"

enum WarpArg {
    WARP_ARG_N_MAPS = 0,
    WARP_ARG_N = 1,
    WARP_ARG_SOURCES = 2,
    WARP_ARG_RESULTS = 3,
    WARP_ARG_SX = 4,
    WARP_ARG_SY = 5,
    WARP_ARG_DELTA_X = 6,
    WARP_ARG_DELTA_Y = 7,
    WARP_ARG_DELTA_ORI = 8,
    WARP_ARGS = 9
};

// The shape of both grids: n x 1 single maps (Sabrel) or n x N orientation
// stacks, one column per orientation (Mundle).
enum WarpGrid { WARP_SINGLE_MAPS, WARP_ORIENTATION_STACKS };

extern const char* const warpArgNames[WARP_ARGS];

// Reads and checks all nine inputs into s; writes no caller array. A wrong
// call raises "<name>:<mnemonic>". The transforms are copied out of the
// caller's arrays here, so a result map that shares their storage cannot
// change them mid-call.
void readWarpCall(const Gateway& g, WarpGrid grid, WarpState& s);

// The same record filled from values already checked (the otk_ warps): n x
// channels sources and results of sx x sy, and n transforms from three
// arrays of whole numbers that fit an int.
void setWarpCall(WarpState& s, int n, int N, int channels, int sx, int sy, MapGrid sources, MapGrid results,
                 const double* dX, const double* dY, const double* dO);

// The whole warp of a call whose record setWarpCall filled (the otk_ warps,
// whose errors are "otk:<mnemonic>"): prepareWarp, warpAll, finishWarp.
void runWarpCall(WarpState& s, int nrhs, const mxArray* const* prhs);

// Makes the call's reads independent of its writes and groups the maps by
// transform. Every source map whose first count elements share storage with
// a result map is copied into a block of this call, and sI points at the
// copy, so results are those of the sources as they were before the call
// (and any order of writes gives them). Maps and images are grouped by
// transform, so that one evaluation of the positions serves a whole group,
// unless result maps share storage among themselves: then plainOrder keeps
// the plain last write. Raises "<name>:outOfMemory" when the copies cannot be
// had; nothing else can fail from here on.
void prepareWarp(const Gateway& g, WarpState& s);

// Releases what prepareWarp took outside the host allocator. Call it after
// the kernel; nothing between prepareWarp and it raises an error.
void finishWarp(WarpState& s);
