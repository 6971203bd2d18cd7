// otk_warp_stacks: whole orientation stacks rotated and shifted about their
// centre, the channels turning along, in new stacks. The same kernel as
// Mundle's.
#include "otk_args.h"
#include "interrupt.h"
#include "warp.h"
#include "warp_args.h"

namespace {

enum WarpStacksArg { ARG_STACKS = 0, ARG_ROW_SHIFT = 1, ARG_COLUMN_SHIFT = 2, ARG_ROTATION = 3, WARP_STACKS_ARGS = 4 };

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const OtkCall c = {"otk_warp_stacks", nrhs, prhs};
    const InterruptWatch interrupt(c.name);
    requireOtkInputs(c, WARP_STACKS_ARGS, "STACKS, ROWSHIFT, COLUMNSHIFT and ROTATION");
    limitOtkInputs(c, WARP_STACKS_ARGS, "STACKS, ROWSHIFT, COLUMNSHIFT and ROTATION");
    requireOtkOutputs(c, nlhs, 1);
    const OtkMaps stacks = readMaps(c, prhs[ARG_STACKS], "STACKS (argument 1)", LAYOUT_STACKS);
    const int n = stacks.nImages;
    const Transforms t = readTransforms(c, ARG_ROW_SHIFT, n);

    // Every entry of every result map is written.
    MapGrid results = nullptr;
    mxArray* out = createMaps(stacks, LAYOUT_STACKS, false, &results);
    WarpState s;
    setWarpCall(s, n, stacks.N, stacks.N, stacks.nRows, stacks.nCols, stacks.grid, results, t.dX, t.dY, t.dO);
    runWarpCall(s, nrhs, prhs);
    interrupt.check({out});
    plhs[0] = out;
}
