// Porrith's kernel: the saturation, then the histogram of an interior region
// of every map, normalised to a density.
#include "porrith.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "alloc.h"
#include "threads.h"

namespace {

// Below this many values per bin the edges cost more to find than they save
// (an edge takes a handful of divisions).
constexpr long long VALUES_PER_EDGE = 32;

// Chunks per thread: a helper that the OS does not schedule holds up at most
// a sixteenth of its share, and the last chunks even out the threads (with
// 4, a 0.7 ms call gained 1.4x from a second thread in a loop of calls, with
// 16 about 1.6x). Each chunk's counts are merged at the end: nBins integers.
constexpr long long CHUNKS_PER_THREAD = 16;

// The most values a chunk saturates or counts (some milliseconds): see
// planBinning.
constexpr long long STOPPABLE_VALUES = 1 << 18;

}  // namespace


// The region leaves out margin rows at the top and margin + 1 at the bottom
// (the upper bound is strict), and likewise for columns.
long long regionLength(int mapLength, int margin)
{
    const long long n = static_cast<long long>(mapLength) - 2LL * margin - 1;
    return n > 0 ? n : 0;
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

// Bin edges. For a finite binWidth > 0 the quotient q / binWidth, correctly
// rounded, never decreases as q grows, nor does its floor, so the values
// that land in bin b or above are all the doubles from one edge on: edge b is
// the smallest double q with floor(q / binWidth) >= b. A value's bin is then
// the last edge it does not lie below, found by compares alone, with the
// bits of the defining division. (An infinite width breaks the order:
// finite values go to bin 0 but infinite ones, whose quotient is NaN, to
// the last. Such calls divide.)

namespace {

double fromBits(std::uint64_t bits)
{
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::uint64_t toBits(double d)
{
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}

}  // namespace

// The smallest double q with floor(q / w) >= b, for b >= 1 and finite w > 0:
// +Inf when no finite q gets there. Non-negative doubles are ordered as their
// bit patterns, and the test holds at +Inf but not at 0, so a search from
// b*w, first widening the step, then halving it, always ends.
double binEdge(int b, double w)
{
    const std::uint64_t INF_BITS = 0x7ff0000000000000ULL;
    auto holds = [&](std::uint64_t bits) { return std::floor(fromBits(bits) / w) >= b; };
    const std::uint64_t guess = toBits(static_cast<double>(b) * w);
    std::uint64_t below, from;  // holds(from), !holds(below), below < from
    std::uint64_t step = 1;
    if (holds(guess)) {
        from = guess;
        for (;;) {
            below = from > step ? from - step : 0;
            if (!holds(below)) break;
            from = below;
            step *= 2;
        }
    } else {
        below = guess;
        for (;;) {
            from = INF_BITS - below > step ? below + step : INF_BITS;
            if (holds(from)) break;
            below = from;
            step *= 2;
        }
    }
    while (from - below > 1) {
        const std::uint64_t mid = below + (from - below) / 2;
        if (holds(mid))
            from = mid;
        else
            below = mid;
    }
    return fromBits(from);
}

// edges[0] = -Inf, edges[b] = binEdge(b) for b = 1..lastBin, and two +Inf
// past the end (lastBin + 3 entries), so that the lookup needs no test for
// the last bin.
void fillBinEdges(double* edges, int lastBin, double w)
{
    edges[0] = -HUGE_VAL;
    for (int b = 1; b <= lastBin; ++b) edges[b] = binEdge(b, w);
    edges[lastBin + 1] = HUGE_VAL;
    edges[lastBin + 2] = HUGE_VAL;
}

// The last b in 0..lastBin with q not below edges[b], by halving.
int searchEdges(double q, const double* edges, int lastBin)
{
    int low = 0, high = lastBin + 1;  // !(q < edges[low]); q < edges[high] when high <= lastBin
    while (high - low > 1) {
        const int mid = low + (high - low) / 2;
        if (q < edges[mid])
            high = mid;
        else
            low = mid;
    }
    return low;
}

namespace {

// The last b in 0..lastBin with q not below edges[b]; NaN is below nothing
// and goes last, as the division sends it. q * invWidth guesses the bin to
// within one nearly always; otherwise the edges are searched.
inline int guessBin(double q, const double* edges, int lastBin, double invWidth)
{
    // Clamped without branches (NaN goes last): a branch here would be
    // mispredicted for every value of bin 0 that follows one above it.
    const double top = lastBin;
    double t = q * invWidth;
    t = t < top ? t : top;
    t = t > 0.0 ? t : 0.0;
    const int b = static_cast<int>(t);
    // Past the last edge stand two +Inf: every finite value is below them,
    // and +Inf and NaN, below neither, are left to the search.
    if (q < edges[b]) {
        if (b > 0 && !(q < edges[b - 1])) return b - 1;
    } else {
        if (q < edges[b + 1]) return b;
        if (q < edges[b + 2]) return b + 1;
    }
    return searchEdges(q, edges, lastBin);
}

}  // namespace

int binByEdges(double q, const double* edges, int lastBin, double invWidth)
{
    return guessBin(q, edges, lastBin, invWidth);
}

// Adds 1.0 to h count times, with the bits of count plain additions. While
// h is an integer and every partial sum stays within 2^53 the sums are
// exact and one addition does. Otherwise (a histogram that came in holding
// fractions or huge values, as one that a loop of calls keeps adding to
// does) the additions are replayed in runs: below 2^53, h and 1.0 are
// multiples of h's spacing of doubles, so every sum is exact until one
// needs a coarser spacing, past the next power of two above h, or past -h
// for a negative h. Each run of exact additions is one addition, and the
// one that may round is taken alone: a few steps per power of two instead
// of one per count. From 2^53 on an addition gives h or h+2, and the
// replay stops once one changes nothing.
void addCount(double& h, long long count)
{
    if (count == 0) return;
    if (h == std::floor(h) && std::fabs(h) <= 0x1p53 - static_cast<double>(count)) {
        h = h + static_cast<double>(count);
        return;
    }
    while (count > 0) {
        double exact = 0;  // additions that stay exact from h on
        if (std::fabs(h) < 0x1p53) {
            if (h < 0) {
                exact = std::floor(-2 * h);
            } else {
                int e = 0;
                std::frexp(h, &e);
                exact = std::ceil(std::ldexp(1.0, e) - h) - 1;  // the difference is exact
            }
        }
        if (exact >= 1) {
            const double limit = std::min(exact, 0x1p53);
            const long long run = static_cast<double>(count) < limit ? count : static_cast<long long>(limit);
            h = h + static_cast<double>(run);
            count -= run;
            continue;
        }
        const double next = h + 1.0;
        if (next == h || std::isnan(next)) return;  // every later addition changes nothing either
        h = next;
        --count;
    }
}

bool regionIsEmpty(const PorrithState& s)
{
    const SaturationMaps& m = s.maps;
    return m.nImages == 0 || m.N == 0 || regionLength(m.nRows, s.margin) == 0 ||
           regionLength(m.nCols, s.margin) == 0;
}

bool countsWithoutMaps(const PorrithState& s)
{
    const SaturationMaps& m = s.maps;
    if (m.sources == nullptr || regionIsEmpty(s)) return false;
    const long long values = regionLength(m.nRows, s.margin) * regionLength(m.nCols, s.margin) * m.nImages * m.N;
    return values >= s.nBins;  // the counted route of planBinning
}

// Whether the histogram shares memory with a map that is binned.
bool histogramOverlapsMaps(const PorrithState& s)
{
    const SaturationMaps& m = s.maps;
    if (m.responseMaps == nullptr) return false;
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

// Chooses the route and allocates its scratch, on the gateway's thread and
// before anything is written, so that a failed allocation writes nothing.
void planBinning(PorrithState& s)
{
    const SaturationMaps& m = s.maps;
    s.regionRows = regionLength(m.nRows, s.margin);
    s.regionCols = regionLength(m.nCols, s.margin);
    s.values = regionIsEmpty(s) ? 0 : s.regionRows * s.regionCols * m.nImages * m.N;
    s.fused = false;
    s.edges = nullptr;
    s.invWidth = 0;
    s.chunks = 0;
    s.counts = nullptr;
    s.columns = nullptr;
    s.threads = 1;
    const long long cells = static_cast<long long>(m.nImages) * m.N;
    const long long elements = cells * mapElements(m.nRows, m.nCols);
    if (s.values > 0 && histogramOverlapsMaps(s)) {
        s.route = ROUTE_PLAIN_ORDER;
        return;
    }
    if (s.values == 0 || s.values < s.nBins) {
        s.route = ROUTE_DIRECT;
        return;
    }
    s.route = ROUTE_COUNTED;
    // A block held by two cells must be saturated twice before either cell
    // is binned, so such grids saturate first and bin after.
    s.fused = m.responseMaps == nullptr || !cellsShareStorage(m);
    // Binning a value costs about a quarter of saturating one.
    const double work = static_cast<double>(s.fused ? elements : 0) + 0.25 * static_cast<double>(s.values);
    s.threads = saturationThreads(work);
    // Each chunk's counts are zeroed and merged: keep that below an eighth
    // of the binning.
    const long long units = cells * m.nCols;
    s.chunks = s.threads > 1 ? std::min(units, CHUNKS_PER_THREAD * s.threads) : 1;
    // On any thread count no chunk touches much more than STOPPABLE_VALUES,
    // so that a long call can be stopped between chunks (runChunks). Counts
    // are whole numbers, summed exactly: the chunks change no result.
    const long long touched = s.fused ? elements : s.values;
    s.chunks = std::max(s.chunks, std::min(units, (touched + STOPPABLE_VALUES - 1) / STOPPABLE_VALUES));
    s.chunks = std::max(1LL, std::min(s.chunks, s.values / (8LL * s.nBins)));
    if (s.chunks == 1) s.threads = 1;
    s.counts = static_cast<long long*>(
        allocZeroed(static_cast<std::size_t>(s.chunks) * static_cast<std::size_t>(s.nBins), sizeof(long long)));
    if (m.responseMaps == nullptr)
        s.columns = allocDoubles(static_cast<std::size_t>(s.chunks) * static_cast<std::size_t>(s.regionRows));
    if (std::isfinite(s.binWidth) && s.values / VALUES_PER_EDGE >= s.nBins) {
        s.edges = static_cast<double*>(allocZeroed(static_cast<std::size_t>(s.nBins) + 2, sizeof(double)));
        s.invWidth = 1.0 / s.binWidth;
    }
}

// Each pixel through every map before the next, pixels along rows.
void binPlainOrder(const PorrithState& s)
{
    const SaturationMaps& m = s.maps;
    const int lastBin = s.nBins - 1;
    const long long first = static_cast<long long>(s.margin) + 1;  // margin may be INT_MAX
    for (long long r = first; r < static_cast<long long>(m.nRows) - s.margin; ++r) {
        for (long long c = first; c < static_cast<long long>(m.nCols) - s.margin; ++c) {
            const std::ptrdiff_t p = linearIndex(r, c, m.nRows, m.nCols);
            for (long long k = 0; k < m.N; ++k) {
                for (long long l = 0; l < m.nImages; ++l)
                    s.histogram[binOf(m.responseMaps[l + m.nImages * k][p], s.binWidth, lastBin)] += 1.0;
            }
        }
    }
}

// Storage order, one column run of the region at a time: every bin gets
// the same increments of 1.0 in any visiting order.
void binDirect(const PorrithState& s)
{
    const SaturationMaps& m = s.maps;
    const long long cells = static_cast<long long>(m.nImages) * m.N;
    const int lastBin = s.nBins - 1;
    for (long long k = 0; k < cells; ++k) {
        for (long long c = s.margin; c < s.margin + s.regionCols; ++c) {
            const double* run = m.responseMaps[k] + c * m.nRows + s.margin;
            for (long long r = 0; r < s.regionRows; ++r) s.histogram[binOf(run[r], s.binWidth, lastBin)] += 1.0;
        }
    }
}

// Counts the region rows of one column run into counts.
void countRun(const PorrithState& s, const double* run, long long* counts)
{
    const int lastBin = s.nBins - 1;
    const long long rows = s.regionRows;
    if (s.edges != nullptr) {
        const double* edges = s.edges;
        const double invWidth = s.invWidth;
        for (long long r = 0; r < rows; ++r) ++counts[guessBin(run[r], edges, lastBin, invWidth)];
    } else {
        for (long long r = 0; r < s.regionRows; ++r) ++counts[binOf(run[r], s.binWidth, lastBin)];
    }
}

// Chunk c of the counted route: a range of the columns of all maps laid end
// to end (map after map), saturated first when fused, the region rows of
// region columns counted into the chunk's own counts.
void countChunk(const PorrithState& s, long long c)
{
    const SaturationMaps& m = s.maps;
    const long long units = static_cast<long long>(m.nImages) * m.N * m.nCols;
    const long long first = units * c / s.chunks;
    const long long end = units * (c + 1) / s.chunks;
    long long* counts = s.counts + c * s.nBins;
    if (s.columns != nullptr) {
        // Nothing to keep: only the region is saturated, a column at a time
        // into this chunk's own buffer, and counted from there.
        double* column = s.columns + c * s.regionRows;
        for (long long u = first; u < end; ++u) {
            const long long k = u / m.nCols;
            const long long col = u - k * m.nCols;
            if (col < s.margin || col >= s.margin + s.regionCols) continue;
            saturateRunFrom(m.sources[k] + col * m.nRows + s.margin, column, s.regionRows, m.saturationLevel);
            countRun(s, column, counts);
        }
        return;
    }
    for (long long u = first; u < end; ++u) {
        const long long k = u / m.nCols;
        const long long col = u - k * m.nCols;
        double* column = m.responseMaps[k] + col * m.nRows;
        if (s.fused) saturateMapRun(m, k, col * m.nRows, m.nRows);
        if (col >= s.margin && col < s.margin + s.regionCols) countRun(s, column + s.margin, counts);
    }
}

void histogramResponses(const PorrithState& s)
{
    switch (s.route) {
    case ROUTE_PLAIN_ORDER:
        binPlainOrder(s);
        break;
    case ROUTE_DIRECT:
        binDirect(s);
        break;
    case ROUTE_COUNTED: {
        auto chunk = [&](long long c) { countChunk(s, c); };
        forEachChunk(s.chunks, s.threads, chunk);
        for (int b = 0; b < s.nBins; ++b) {
            long long count = 0;
            for (long long c = 0; c < s.chunks; ++c) count += s.counts[c * s.nBins + b];
            addCount(s.histogram[b], count);
        }
        break;
    }
    }
    // Runs with nothing binned too: the caller gets NaN or infinities then.
    const double scale = s.binWidth * static_cast<double>(s.values);
    for (int b = 0; b < s.nBins; ++b) s.histogram[b] = s.histogram[b] / scale;
}

// Saturation, then the histogram. A fused plan saturates each column as it
// counts it; no value is binned before it is saturated, and the histogram
// shares no memory with the maps then, so the results are those of the two
// passes one after the other.
void saturateAndBin(const PorrithState& s)
{
    if (s.edges != nullptr) fillBinEdges(s.edges, s.nBins - 1, s.binWidth);
    if (!s.fused) sigmoidSaturate(s.maps);
    histogramResponses(s);
}
