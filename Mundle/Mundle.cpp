// Mundle: warps stacks of orientation channels, one stack per image. Every
// channel of an image is rotated and shifted by the image's transform, and
// the rotation also moves it across channels: result channel k is sampled
// from source channel (k + dO) modulo N.
#include "transform.h"
#include "warp.h"
#include "warp_args.h"

// The sampled position depends on the image's transform only, not on the
// channel, so one table of positions serves all N channels of an image (and
// every image with the same transform).
void warpOrientedMaps(WarpState& s)
{
    if (s.count == 0) return;
    const long long n = s.n;
    for (int v = 0; v < s.n; ++v) {
        const int i = s.order[v];
        const long long* samples = samplesFor(s, i);
        const int dO = s.params[i].dO;
        for (int k = 0; k < s.N; ++k) {
            const int from = wrapOrientation(s.N, static_cast<long long>(k) + dO);
            applySampleTable(samples, s.count, s.sI[i + n * from], s.rI[i + n * k]);
        }
    }
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"Mundle", nrhs, prhs, warpArgNames};
    rejectOutputs(g, nlhs, "otk_warp_stacks");
    WarpState s;
    readWarpCall(g, WARP_ORIENTATION_STACKS, s);
    prepareWarp(s);
    warpOrientedMaps(s);
}
