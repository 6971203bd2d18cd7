// Porrith: saturates response maps in place with the sigmoid, then adds the
// saturated responses of an interior region of every map into the caller's
// histogram and normalises it to a density. The gateway reads and checks
// the 10 inputs; the kernel is saturateAndBin (common/porrith).
#include "args.h"
#include "porrith.h"
#include "saturation_args.h"

namespace {

enum PorrithArg {
    ARG_N_IMAGES = SAT_ARG_N_IMAGES,
    ARG_N = SAT_ARG_N,
    ARG_RESPONSE_MAPS = SAT_ARG_RESPONSE_MAPS,
    ARG_MARGIN = 3,
    ARG_N_ROWS = 4,
    ARG_N_COLS = 5,
    ARG_BIN_WIDTH = 6,
    ARG_N_BINS = 7,
    ARG_HISTOGRAM = 8,
    ARG_SATURATION_LEVEL = 9,
    PORRITH_ARGS = 10
};

const char* const argNames[PORRITH_ARGS] = {"nImages", "N",        "responseMaps", "margin", "nRows",
                                            "nCols",   "binWidth", "nBins",        "histogram",
                                            "saturationLevel"};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"Porrith", nrhs, prhs, argNames};
    rejectOutputs(g, nlhs, "otk_response_density");
    requireInputs(g, PORRITH_ARGS);

    PorrithState s;
    readSaturationMaps(g, ARG_N_ROWS, ARG_N_COLS, ARG_SATURATION_LEVEL, s.maps);
    s.margin = roundArg(g, ARG_MARGIN);
    if (s.margin < 0)
        argError(g, ARG_MARGIN, "margin", "must not be negative (it is %d): the region would reach outside the maps",
                 s.margin);
    s.binWidth = rawArg(g, ARG_BIN_WIDTH);
    s.nBins = roundArg(g, ARG_N_BINS);
    s.histogram = dataArg(g, ARG_HISTOGRAM, s.nBins > 0 ? s.nBins : 0);
    if (!regionIsEmpty(s)) {
        if (s.nBins < 1)
            argError(g, ARG_N_BINS, "nBins", "must be at least 1 while the region holds values (it is %d)",
                     s.nBins);
        if (!(s.binWidth > 0))
            argError(g, ARG_BIN_WIDTH, "binWidth", "must be a positive number while the region holds values (it is %g)",
                     s.binWidth);
    }
    planBinning(s);

    saturateAndBin(s);
}
