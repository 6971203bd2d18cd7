// Sabrel: rotates and shifts single maps about their centre, each map by its
// own transform, sampling the source nearest-neighbour and inversely.
#include "warp.h"
#include "warp_args.h"

// Result map i takes, at every element, the source element that the map's
// transform of that element lands on, or 0 outside the source.
void rotateMap(const WarpState& s)
{
    warpAll(s);
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"Sabrel", nrhs, prhs, warpArgNames};
    rejectOutputs(g, nlhs, "otk_warp_maps");
    WarpState s;
    readWarpCall(g, WARP_SINGLE_MAPS, s);
    prepareWarp(g, s);
    rotateMap(s);
    finishWarp(s);
}
