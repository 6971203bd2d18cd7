// otk_score_map: a template's score at every placement of every image,
// under each of a list of rotations, the best of them, and its peaks.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "alloc.h"
#include "interrupt.h"
#include "otk_args.h"
#include "scoremap.h"

namespace {

enum MapOption {
    OPT_SHIFT_RANGE,
    OPT_ORI_RANGE,
    OPT_SHIFT_STEP,
    OPT_SATURATION,
    OPT_ROTATIONS,
    OPT_MAX_PEAKS,
    OPT_MIN_DISTANCE,
    MAP_OPTIONS
};
enum MapOutput { OUT_SCORE, OUT_ROTATION, OUT_PEAKS, OUT_ALL, MAP_OUTPUTS };

constexpr double DEFAULT_MAX_PEAKS = 5;
constexpr double DEFAULT_MIN_DISTANCE = 5;

// The rotations, orientation steps: a non-empty list of whole numbers.
const int* readRotations(const OtkCall& c, const mxArray* given, int& count)
{
    static const int none = 0;
    if (given == nullptr) {
        count = 1;
        return &none;
    }
    long long n = 0;
    const double* v = readWhole(c, given, "Rotations (option)", -1, &n);
    if (n == 0) otkError(c, "badSize", "%s: Rotations (option) must hold at least one rotation", c.name);
    if (n > 2147483647LL) otkError(c, "badSize", "%s: Rotations (option) holds more than 2^31-1 rotations", c.name);
    int* steps = allocInts(static_cast<std::size_t>(n));
    for (long long k = 0; k < n; ++k) steps[k] = static_cast<int>(v[k]);
    count = static_cast<int>(n);
    return steps;
}

// The peaks of every image as rows [image, row, column, rotation, score].
mxArray* peakTable(const ScoreMapState& s, long long maxPeaks, double minDistance)
{
    const int nRows = s.pool.nRows, nCols = s.pool.nCols, nImages = s.pool.nImages;
    const long long nPix = mapElements(nRows, nCols);
    const long long most = maxPeaks < nPix ? maxPeaks : nPix;
    unsigned char* flags = static_cast<unsigned char*>(allocZeroed(static_cast<std::size_t>(nPix), 1));
    long long* order = static_cast<long long*>(allocZeroed(static_cast<std::size_t>(nPix), sizeof(long long)));
    double* found = allocDoubles(static_cast<std::size_t>(most * 4 * nImages));
    long long* counts = static_cast<long long*>(allocZeroed(static_cast<std::size_t>(nImages), sizeof(long long)));
    long long total = 0;
    for (int i = 0; i < nImages; ++i) {
        counts[i] = findPeaks(s.best + i * nPix, s.bestRotation + i * nPix, nRows, nCols, most, minDistance,
                              found + 4 * total, flags, order);
        total += counts[i];
    }
    mxArray* out = mxCreateDoubleMatrix(static_cast<mwSize>(total), 5, mxREAL);
    double* to = hostDoubles(out);
    long long k = 0;
    for (int i = 0; i < nImages; ++i)
        for (long long j = 0; j < counts[i]; ++j, ++k) {
            to[k] = i + 1;
            for (int f = 0; f < 4; ++f) to[k + (f + 1) * total] = found[4 * k + f];
        }
    return out;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const OtkCall c = {"otk_score_map", nrhs, prhs};
    const InterruptWatch interrupt(c.name);
    requireOtkInputs(c, 2, "MAPS and TEMPLATE");
    requireOtkOutputs(c, nlhs, MAP_OUTPUTS);

    ScoreMapState s;
    Template tpl;
    OptionSlot options[MAP_OPTIONS] = {{"ShiftRange", nullptr}, {"OriRange", nullptr}, {"ShiftStep", nullptr},
                                       {"Saturation", nullptr}, {"Rotations", nullptr}, {"MaxPeaks", nullptr},
                                       {"MinDistance", nullptr}};
    const OtkMaps maps = readTemplateCall(c, options, MAP_OPTIONS, 1, 1, s.pool, tpl);
    requireMapsNotEmpty(c, maps, "MAPS (argument 1)");
    s.rotations = readRotations(c, options[OPT_ROTATIONS].value, s.nRotations);
    double maxPeaks = DEFAULT_MAX_PEAKS, minDistance = DEFAULT_MIN_DISTANCE;
    if (options[OPT_MAX_PEAKS].value)
        maxPeaks = readScalar(c, options[OPT_MAX_PEAKS].value, "MaxPeaks (option)", KIND_COUNT);
    if (options[OPT_MIN_DISTANCE].value)
        minDistance = readScalar(c, options[OPT_MIN_DISTANCE].value, "MinDistance (option)", KIND_NONNEGATIVE);

    // Every rotation's scores are as many maps as images times rotations:
    // refused with a named error before anything is made when that is more
    // than the process may hold.
    const double nPix = static_cast<double>(maps.nRows) * maps.nCols;
    if (nlhs > OUT_ALL) {
        const double count = nPix * s.nRotations * maps.nImages;
        requireAllocatable(count < 9e18 ? static_cast<std::size_t>(count) : SIZE_MAX, sizeof(double),
                           "the scores of every rotation (ALL)");
    }
    const mwSize dims[3] = {static_cast<mwSize>(maps.nRows), static_cast<mwSize>(maps.nCols),
                            static_cast<mwSize>(maps.nImages)};
    mxArray* best = createDoubles(3, dims, false);  // every entry is written
    mxArray* bestRotation = createDoubles(3, dims, false);
    mxArray* all = nullptr;
    s.scores = nullptr;
    if (nlhs > OUT_ALL) {
        const mwSize allDims[4] = {dims[0], dims[1], static_cast<mwSize>(s.nRotations), dims[2]};
        all = createDoubles(4, allDims, false);
        s.scores = hostDoubles(all);
    }
    s.best = hostDoubles(best);
    s.bestRotation = hostDoubles(bestRotation);
    s.nElements = elementCount(tpl);
    s.elements = copyElements(tpl);
    scoreMap(s);
    interrupt.check({best, bestRotation, all});

    plhs[OUT_SCORE] = best;
    if (nlhs > OUT_ROTATION) plhs[OUT_ROTATION] = bestRotation;
    else mxDestroyArray(bestRotation);
    if (nlhs > OUT_PEAKS) plhs[OUT_PEAKS] = peakTable(s, static_cast<long long>(maxPeaks), minDistance);
    if (nlhs > OUT_ALL) plhs[OUT_ALL] = all;
}
