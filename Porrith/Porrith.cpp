// Porrith: saturates response maps in place with the sigmoid, then adds the
// saturated responses of an interior region of every map into the caller's
// histogram and normalises it to a density.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "args.h"
#include "sigmoid.h"

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

// Everything one call reads and writes, filled by the gateway.
struct PorrithState {
    SaturationMaps maps;  // saturated in place, then binned
    int margin;           // not negative
    double binWidth;      // positive whenever the region holds a value
    int nBins;            // at least 1 whenever the region holds a value
    double* histogram;    // nBins doubles, accumulated then normalised
};

}  // namespace

// The region leaves out margin rows at the top and margin + 1 at the bottom
// (the upper bound is strict), and likewise for columns.
long long regionLength(int mapLength, int margin)
{
    const long long n = static_cast<long long>(mapLength) - 2LL * margin - 1;
    return n > 0 ? n : 0;
}

bool regionIsEmpty(const PorrithState& s)
{
    const SaturationMaps& m = s.maps;
    return m.nImages == 0 || m.N == 0 || regionLength(m.nRows, s.margin) == 0 ||
           regionLength(m.nCols, s.margin) == 0;
}

// Bin of a saturated value: floor(q / binWidth), capped at the last bin,
// which also takes NaN. A value below bin 0 (a negative response) is put in
// bin 0 rather than in front of the caller's array.
int binOf(double q, double binWidth, int lastBin)
{
    const double f = std::floor(q / binWidth);
    if (!(lastBin > f)) return lastBin;
    if (f < 0) return 0;
    return static_cast<int>(f);
}

// Storage order, one column run of the region at a time: every bin gets
// the same increments of 1.0 in any visiting order.
void binStorageOrder(const PorrithState& s, long long& sampleCount)
{
    const SaturationMaps& m = s.maps;
    const long long rows = regionLength(m.nRows, s.margin);
    const long long cols = regionLength(m.nCols, s.margin);
    const long long cells = static_cast<long long>(m.nImages) * m.N;
    const int lastBin = s.nBins - 1;
    for (long long k = 0; k < cells && rows > 0; ++k) {
        const double* map = m.responseMaps[k];
        for (long long c = s.margin + 1; c <= s.margin + cols; ++c) {
            const double* run = map + linearIndex(s.margin + 1, c, m.nRows, m.nCols);
            for (long long r = 0; r < rows; ++r) {
                s.histogram[binOf(run[r], s.binWidth, lastBin)] += 1.0;
                ++sampleCount;
            }
        }
    }
}

// Each pixel through every map before the next, pixels along rows.
void binPixelMajor(const PorrithState& s, long long& sampleCount)
{
    const SaturationMaps& m = s.maps;
    const int lastBin = s.nBins - 1;
    for (long long r = s.margin + 1; r < static_cast<long long>(m.nRows) - s.margin; ++r) {
        for (long long c = s.margin + 1; c < static_cast<long long>(m.nCols) - s.margin; ++c) {
            const std::ptrdiff_t p = linearIndex(r, c, m.nRows, m.nCols);
            for (long long k = 0; k < m.N; ++k) {
                for (long long l = 0; l < m.nImages; ++l) {
                    s.histogram[binOf(m.responseMaps[l + m.nImages * k][p], s.binWidth, lastBin)] += 1.0;
                    ++sampleCount;
                }
            }
        }
    }
}

// Whether the histogram shares memory with a map that is binned.
bool histogramOverlapsMaps(const PorrithState& s)
{
    const SaturationMaps& m = s.maps;
    const long long count = mapElements(m.nRows, m.nCols);
    if (s.nBins < 1 || count == 0) return false;
    const std::uintptr_t h0 = reinterpret_cast<std::uintptr_t>(s.histogram);
    const std::uintptr_t h1 = reinterpret_cast<std::uintptr_t>(s.histogram + s.nBins);
    const long long cells = static_cast<long long>(m.nImages) * m.N;
    for (long long k = 0; k < cells; ++k) {
        const std::uintptr_t m0 = reinterpret_cast<std::uintptr_t>(m.responseMaps[k]);
        const std::uintptr_t m1 = reinterpret_cast<std::uintptr_t>(m.responseMaps[k] + count);
        if (h0 < m1 && m0 < h1) return true;
    }
    return false;
}

void histogramResponses(const PorrithState& s)
{
    // 64 bits: a batch may hold more than 2^31 values.
    long long sampleCount = 0;
    // A histogram that is also a map changes values still to be binned; the
    // result then depends on the visiting order, so it keeps the plain one.
    if (histogramOverlapsMaps(s))
        binPixelMajor(s, sampleCount);
    else
        binStorageOrder(s, sampleCount);
    // Runs with nothing binned too: the caller gets NaN or infinities then.
    const double scale = s.binWidth * static_cast<double>(sampleCount);
    for (int b = 0; b < s.nBins; ++b) s.histogram[b] = s.histogram[b] / scale;
}

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

    sigmoidSaturate(s.maps);
    histogramResponses(s);
}
