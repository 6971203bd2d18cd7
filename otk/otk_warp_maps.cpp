// otk_warp_maps: single maps rotated and shifted about their centre, each by
// its own transform or all by one, in new maps. The same kernel as Sabrel's.
#include "otk_args.h"
#include "interrupt.h"
#include "warp.h"
#include "warp_args.h"

namespace {

enum WarpMapsArg { ARG_MAPS = 0, ARG_ROW_SHIFT = 1, ARG_COLUMN_SHIFT = 2, ARG_ROTATION = 3, ARG_N = 4, WARP_MAPS_ARGS = 5 };

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const OtkCall c = {"otk_warp_maps", nrhs, prhs};
    const InterruptWatch interrupt(c.name);
    requireOtkInputs(c, WARP_MAPS_ARGS, "MAPS, ROWSHIFT, COLUMNSHIFT, ROTATION and N");
    limitOtkInputs(c, WARP_MAPS_ARGS, "MAPS, ROWSHIFT, COLUMNSHIFT, ROTATION and N");
    requireOtkOutputs(c, nlhs, 1);
    const OtkMaps maps = readMaps(c, prhs[ARG_MAPS], "MAPS (argument 1)", LAYOUT_LIST);
    const int n = maps.nImages;
    const Transforms t = readTransforms(c, ARG_ROW_SHIFT, n);
    const int N = static_cast<int>(readScalar(c, prhs[ARG_N], "N (argument 5)", KIND_POSITIVE_INTEGER));

    // Every entry of every result map is written.
    MapGrid results = nullptr;
    mxArray* out = createMaps(maps, LAYOUT_LIST, false, &results, maps.isCell ? maps.array : nullptr);
    WarpState s;
    setWarpCall(s, n, N, 1, maps.nRows, maps.nCols, maps.grid, results, t.dX, t.dY, t.dO);
    runWarpCall(s, nrhs, prhs);
    interrupt.check({out});
    plhs[0] = out;
}
