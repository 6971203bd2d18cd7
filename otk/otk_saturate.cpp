// otk_saturate: responses saturated with the sigmoid s*tanh(v/s), in new
// arrays. The same kernel as Fenwold's, reading the caller's maps and
// writing the results in one pass.
#include <cstddef>

#include "alloc.h"
#include "interrupt.h"
#include "otk_args.h"
#include "sigmoid.h"

namespace {

enum SaturateArg { ARG_MAPS = 0, ARG_LEVEL = 1 };

// Elements of a run when a numeric array is saturated as a list of runs.
constexpr long long RUN = 1 << 16;

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const OtkCall c = {"otk_saturate", nrhs, prhs};
    const InterruptWatch interrupt(c.name);
    if (nrhs < 1) otkError(c, "nargin", "%s: expects MAPS (got no input)", c.name);
    limitOtkInputs(c, ARG_LEVEL + 1, "MAPS and LEVEL");
    requireOtkOutputs(c, nlhs, 1);
    const double level = nrhs > ARG_LEVEL ? readScalar(c, prhs[ARG_LEVEL], "LEVEL (argument 2)", KIND_POSITIVE) : 1.0;

    SaturationMaps s;
    s.saturationLevel = level;
    mxArray* out;
    if (mxIsCell(prhs[ARG_MAPS])) {
        // Maps of one size, in a cell array of any shape; the result has its shape.
        const OtkMaps maps = readMaps(c, prhs[ARG_MAPS], "MAPS (argument 1)", LAYOUT_ANY_CELLS);
        MapGrid results = nullptr;
        out = createMaps(maps, LAYOUT_LIST, false, &results, maps.array);
        s.nImages = maps.nImages;
        s.N = 1;
        s.nRows = maps.nRows;
        s.nCols = maps.nCols;
        s.responseMaps = results;
        s.sources = maps.grid;
    } else {
        // The sigmoid acts element by element, so any array is a list of
        // runs of RUN elements and one shorter run.
        const RealArray values = readReal(c, prhs[ARG_MAPS], "MAPS (argument 1)");
        out = createDoubles(mxGetNumberOfDimensions(values.array), mxGetDimensions(values.array), false);
        const long long runs = values.count / RUN;
        const long long rest = values.count - runs * RUN;
        MapGrid results = static_cast<MapGrid>(allocZeroed(static_cast<std::size_t>(runs) + 1, sizeof(double*)));
        const double** sources =
            static_cast<const double**>(allocZeroed(static_cast<std::size_t>(runs) + 1, sizeof(double*)));
        for (long long k = 0; k <= runs; ++k) {
            results[k] = hostDoubles(out) + k * RUN;
            sources[k] = values.data + k * RUN;
        }
        s.nImages = static_cast<int>(runs);
        s.N = 1;
        s.nRows = static_cast<int>(RUN);
        s.nCols = 1;
        s.responseMaps = results;
        s.sources = sources;
        sigmoidSaturate(s);
        s.nImages = 1;
        s.nRows = static_cast<int>(rest);
        s.responseMaps = results + runs;
        s.sources = sources + runs;
    }
    sigmoidSaturate(s);
    interrupt.check({out});
    plhs[0] = out;
}
