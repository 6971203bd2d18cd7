// Fenwold: compresses response maps in place with a sigmoid that tends to
// plus and minus the saturation level.
#include "args.h"
#include "saturation_args.h"

namespace {

enum FenwoldArg {
    ARG_N_IMAGES = SAT_ARG_N_IMAGES,
    ARG_N = SAT_ARG_N,
    ARG_RESPONSE_MAPS = SAT_ARG_RESPONSE_MAPS,
    ARG_N_ROWS = 3,
    ARG_N_COLS = 4,
    ARG_SATURATION_LEVEL = 5,
    FENWOLD_ARGS = 6
};

const char* const argNames[FENWOLD_ARGS] = {"nImages", "N", "responseMaps", "nRows", "nCols", "saturationLevel"};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"Fenwold", nrhs, prhs, argNames};
    rejectOutputs(g, nlhs, "otk_saturate");
    requireInputs(g, FENWOLD_ARGS);

    // The whole state of a call: the maps, their size and the level.
    SaturationMaps s;
    readSaturationMaps(g, ARG_N_ROWS, ARG_N_COLS, ARG_SATURATION_LEVEL, s);

    // Calls of 2*SATURATION_PER_THREAD elements (32,768) and more are split
    // over threads; the measurement that set it is in sigmoid.cpp.
    sigmoidSaturate(s);
}
