// otk_response_density: the density of the saturated responses of an
// interior region of every map, the number of values binned, and the
// saturated maps. The same kernel as Porrith's, reading the caller's maps
// and writing the saturated ones as new arrays.
#include <cmath>

#include "args.h"
#include "interrupt.h"
#include "otk_args.h"
#include "porrith.h"

namespace {

enum DensityArg { ARG_MAPS = 0, ARG_FIRST_OPTION = 1 };
enum DensityOption { OPT_SATURATION, OPT_BINS, OPT_BIN_WIDTH, OPT_MARGIN, DENSITY_OPTIONS };

// Bins beyond any histogram of responses: the density and the counts of
// every chunk of work hold a number a bin, and 2^31-1 bins asked 17 GB of
// each before the first value was binned.
constexpr double MAX_BINS = 1 << 20;

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const OtkCall c = {"otk_response_density", nrhs, prhs};
    const InterruptWatch interrupt(c.name);
    if (nrhs < 1) otkError(c, "nargin", "%s: expects MAPS (got no input)", c.name);
    requireOtkOutputs(c, nlhs, 3);
    const OtkMaps maps = readMaps(c, prhs[ARG_MAPS], "MAPS (argument 1)", LAYOUT_STACKS);
    OptionSlot options[DENSITY_OPTIONS] = {
        {"Saturation", nullptr}, {"Bins", nullptr}, {"BinWidth", nullptr}, {"Margin", nullptr}};
    readOptions(c, ARG_FIRST_OPTION, options, DENSITY_OPTIONS);
    const mxArray* given = options[OPT_BIN_WIDTH].value;
    const double level =
        options[OPT_SATURATION].value ? readScalar(c, options[OPT_SATURATION].value, "Saturation (option)", KIND_POSITIVE) : 1;
    const double nBins =
        options[OPT_BINS].value ? readScalar(c, options[OPT_BINS].value, "Bins (option)", KIND_POSITIVE_INTEGER) : 20;
    if (nBins > MAX_BINS)
        otkError(c, "outOfRange", "%s: Bins (option) must not exceed %.0f (it is %.0f)", c.name, MAX_BINS, nBins);
    // [] means the level over the bins.
    const bool defaultWidth = given == nullptr || isDefaultValue(given);
    const double binWidth = defaultWidth ? level / nBins : readScalar(c, given, "BinWidth (option)", KIND_POSITIVE);
    const double margin =
        options[OPT_MARGIN].value ? readScalar(c, options[OPT_MARGIN].value, "Margin (option)", KIND_COUNT) : 0;

    PorrithState s;
    s.maps.nImages = maps.nImages;
    s.maps.N = maps.N;
    s.maps.nRows = maps.nRows;
    s.maps.nCols = maps.nCols;
    s.maps.sources = maps.grid;
    s.maps.saturationLevel = level;
    s.margin = static_cast<int>(margin);
    s.binWidth = binWidth;
    s.nBins = static_cast<int>(nBins);
    // The saturated maps are made only when asked for or when the kernel
    // needs them to bin from; every entry of them is written.
    mxArray* saturated = nullptr;
    s.maps.responseMaps = nullptr;
    if (nlhs > 2 || !countsWithoutMaps(s))
        saturated = createMaps(maps, LAYOUT_STACKS, false, &s.maps.responseMaps, maps.isCell ? maps.array : nullptr);
    mxArray* density = mxCreateDoubleMatrix(1, static_cast<mwSize>(s.nBins), mxREAL);  // accumulated from 0
    s.histogram = hostDoubles(density);
    planBinning(s);
    saturateAndBin(s);
    interrupt.check({density, saturated});

    plhs[0] = density;
    if (nlhs > 1) {
        const double rows = std::fmax(0, maps.nRows - 2 * margin - 1), cols = std::fmax(0, maps.nCols - 2 * margin - 1);
        plhs[1] = mxCreateDoubleScalar(static_cast<double>(maps.nImages) * maps.N * rows * cols);
    }
    if (nlhs > 2) plhs[2] = saturated;
    else if (saturated != nullptr) mxDestroyArray(saturated);
}
