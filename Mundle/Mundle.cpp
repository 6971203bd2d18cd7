// Mundle: warps stacks of orientation channels, one stack per image. Every
// channel of an image is rotated and shifted by the image's transform, and
// the rotation also moves it across channels: result channel k is sampled
// from source channel (k + dO) modulo N.
#include "warp.h"
#include "warp_args.h"

// The sampled position depends on the image's transform only, not on the
// channel, so one evaluation of the positions serves all N channels of an
// image (and every image with the same transform).
void warpOrientedMaps(const WarpState& s)
{
    warpAll(s);
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"Mundle", nrhs, prhs, warpArgNames};
    rejectOutputs(g, nlhs, "otk_warp_stacks");
    WarpState s;
    readWarpCall(g, WARP_ORIENTATION_STACKS, s);
    prepareWarp(g, s);
    warpOrientedMaps(s);
    finishWarp(s);
}
