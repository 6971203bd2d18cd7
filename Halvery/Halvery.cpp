// Halvery: scores a template on a batch of images, records every element's
// pooled response and draws the template as it matched into render maps.
//
// Each image's score, pooled values and render map depend on that image
// alone, so the images are tested concurrently, each in the plain element
// order. When results share storage with each other or with what is read
// after a write (response maps, patches), the whole call keeps the plain
// order instead: elements outer, images inner, patches drawn row by row.
#include <cmath>
#include <cstddef>

#include "alloc.h"
#include "args.h"
#include "overlap.h"
#include "pooling.h"
#include "template_args.h"
#include "threads.h"

namespace {

// Work is counted in samples pooled plus patch entries drawn, about 2 ns
// each. Each thread gets at least PARALLEL_WORK of it (some 50 us), so two
// threads start from about 100 us of work. Measured with bench_Halvery's
// threshold cases built with this at 1, on the 2-core machine under load
// (load average 5 to 8): a threaded call costs a fixed 5-6 us more,
// and with no idle core a 2-thread call took 1.22x the 1-thread time at
// 33 us of work, 1.13x at 90 us, so below about 100 us one thread is kept.
constexpr double PARALLEL_WORK = 28000;

// Everything one call reads and writes, filled by the gateway.
struct HalveryState {
    PoolState pool;
    Template tpl;
    long long nElements;     // elements read: 0 when nElements is below 1
    const Element* elements;  // copied before the first write
    const ShiftRun* runs;     // per element: the shifts inside the map
    int patchHalf;
    MapGrid patches;     // N patches of (2*patchHalf+1)^2
    MapGrid renderMaps;  // nImages maps of nRows x nCols, raised in place
    double* scores;      // nImages, accumulated in place
    double* pooledValues;  // nImages x nElements, element-major columns
    bool plainOrder;       // storage shared: plain order of reads and writes
    int threads;           // threads the images are spread over
    double* pooledByImage;  // with threads: image i's pooled values at i*nElements + e
    bool insideFast;       // offsets cached and a narrow orientation window: poolInsideRecord
};

const char* const argNames[TEMPLATE_ARGS] = {
    "nImages", "N", "responseMaps", nullptr, "patchHalf", "nRows", "nCols", nullptr,
    "elemOri", "elemX", "elemY", "elemWeight", "elemBias", "patches", "renderMaps",
    "shiftRange", "oriRange", "shiftStep", "nElements", "saturation", "scores", "pooledValues",
    nullptr, nullptr, nullptr, nullptr};

// Side of every patch: a negative patchHalf is read as patches of side 0
// (callers rely on it being accepted), so no use of the side may take it as
// 2*patchHalf + 1, which for the lowest ints overflows once squared.
long long patchSide(int patchHalf)
{
    return patchHalf >= 0 ? 2LL * patchHalf + 1 : 0;
}

// Raises map with patch ori scaled by amplitude, its centre on (x, y), row by
// row. Patch entries that fall outside the map are clipped. Used when the
// patch may share storage with the map, where the order of writes shows.
void renderPlain(const HalveryState& s, double* map, long long x, long long y, int ori, double amplitude)
{
    const long long half = s.patchHalf;
    const long long side = patchSide(s.patchHalf);
    const double* patch = s.patches[ori];
    for (long long r = x - half; r <= x + half; ++r) {
        if (r < 1 || r > s.pool.nRows) continue;
        for (long long c = y - half; c <= y + half; ++c) {
            if (c < 1 || c > s.pool.nCols) continue;
            const double p = patch[linearIndex(r - x + half + 1, c - y + half + 1, side, side)] * amplitude;
            double& target = map[linearIndex(r, c, s.pool.nRows, s.pool.nCols)];
            if (p > target) target = p;
        }
    }
}

// The same drawing in storage order, clipped once: each entry is compared
// and raised exactly as row by row, and entries of one patch are distinct.
void renderElement(const HalveryState& s, double* map, long long x, long long y, int ori, double amplitude)
{
    const long long half = s.patchHalf;
    const long long side = patchSide(s.patchHalf);
    const long long rowLo = x - half > 1 ? x - half : 1;
    const long long rowHi = x + half < s.pool.nRows ? x + half : s.pool.nRows;
    const long long colLo = y - half > 1 ? y - half : 1;
    const long long colHi = y + half < s.pool.nCols ? y + half : s.pool.nCols;
    const long long rows = rowHi - rowLo + 1;
    if (rows <= 0 || colLo > colHi) return;
    const double* patch = s.patches[ori];
    for (long long c = colLo; c <= colHi; ++c) {
        const double* from = patch + linearIndex(rowLo - x + half + 1, c - y + half + 1, side, side);
        double* to = map + linearIndex(rowLo, c, s.pool.nRows, s.pool.nCols);
        for (long long r = 0; r < rows; ++r) {
            const double p = from[r] * amplitude;
            // Stores the entry back when it stays: the same value, and the
            // loop vectorises (a NaN entry stays, as with the plain test).
            to[r] = p > to[r] ? p : to[r];
        }
    }
}

// Element e on image i: its pooled value (stored in *pooled), its score term
// added to score, its drawing.
void testElement(const HalveryState& s, long long e, int i, double* pooled, double& score)
{
    const Element& el = s.elements[e];
    MaxRecord record;
    const ImageMaps maps = imageMaps(s.pool, i);
    const double v = s.runs[e].whole && s.insideFast ? poolInsideRecord(s.pool, maps, el.ori, el.x, el.y, record)
                                                     : poolRun(s.pool, maps, el.ori, el.x, el.y, s.runs[e], record);
    *pooled = v;
    score = score + (el.weight * v - el.bias);
    if (v > 0) {
        if (s.plainOrder)
            renderPlain(s, s.renderMaps[i], record.x, record.y, record.ori, std::sqrt(v));
        else
            renderElement(s, s.renderMaps[i], record.x, record.y, record.ori, std::sqrt(v));
    }
}

// Work of a call, in samples read and patch entries drawn.
double templateWork(const HalveryState& s)
{
    const double samples = (2.0 * s.pool.shiftRange + 1) * (2.0 * s.pool.oriRange + 1);
    const double side = static_cast<double>(patchSide(s.patchHalf));
    return static_cast<double>(s.pool.nImages) * static_cast<double>(s.nElements) * (samples + side * side);
}

void testTemplate(const HalveryState& s)
{
    const int nImages = s.pool.nImages;
    if (s.plainOrder || s.threads <= 1) {
        for (long long e = 0; e < s.nElements; ++e)
            for (int i = 0; i < nImages; ++i)
                testElement(s, e, i, s.pooledValues + e * nImages + i, s.scores[i]);
        return;
    }
    // Image by image on the threads. Neighbouring images' pooled values and
    // scores share cache lines in the caller's arrays, so each image keeps
    // its score in a register and its pooled values in a row of its own;
    // the score sees the same additions in the same order either way.
    auto testImage = [&](long long i) {
        double score = s.scores[i];
        double* pooled = s.pooledByImage + i * s.nElements;
        for (long long e = 0; e < s.nElements; ++e) testElement(s, e, static_cast<int>(i), pooled + e, score);
        s.scores[i] = score;
    };
    forEachChunk(nImages, s.threads, testImage);
    for (long long e = 0; e < s.nElements; ++e)
        for (long long i = 0; i < nImages; ++i) s.pooledValues[e * nImages + i] = s.pooledByImage[i * s.nElements + e];
}

// Whether results share storage with each other or with the response maps
// and patches, which are read after writes.
bool sharesStorage(const HalveryState& s)
{
    const int nImages = s.pool.nImages;
    const int N = s.pool.N;
    const long long mapSize = mapElements(s.pool.nRows, s.pool.nCols);
    const long long side = patchSide(s.patchHalf);
    const std::size_t nResults = static_cast<std::size_t>(nImages) + 2;
    const std::size_t nRead = static_cast<std::size_t>(nImages) * N + N;
    ByteRange* results = static_cast<ByteRange*>(allocZeroed(nResults, sizeof(ByteRange)));
    ByteRange* read = static_cast<ByteRange*>(allocZeroed(nRead, sizeof(ByteRange)));
    results[0] = doublesAt(s.scores, nImages);
    results[1] = doublesAt(s.pooledValues, nImages * s.nElements);
    for (int i = 0; i < nImages; ++i) results[2 + i] = doublesAt(s.renderMaps[i], mapSize);
    for (std::size_t k = 0; k < static_cast<std::size_t>(nImages) * N; ++k)
        read[k] = doublesAt(s.pool.responseMaps[k], mapSize);
    for (int k = 0; k < N; ++k) read[static_cast<std::size_t>(nImages) * N + k] = doublesAt(s.patches[k], side * side);
    return anyOverlap(read, nRead, results, nResults) || anyOverlapWithin(results, nResults);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"Halvery", nrhs, prhs, argNames};
    rejectOutputs(g, nlhs, "otk_score_template");
    requireInputs(g, TEMPLATE_ARGS);

    HalveryState s;
    readTemplateCall(g, s.pool, s.tpl);
    s.nElements = elementCount(s.tpl);
    s.elements = copyElements(s.tpl);
    for (long long e = 0; e < s.nElements; ++e) {
        const int ori = s.elements[e].ori;
        if (ori < 0 || ori >= s.pool.N)
            argError(g, ARG_ELEM_ORI, "badOrientation",
                     "entry %lld (%g) must be an orientation index in 0..N-1 (N is %d)", e + 1,
                     s.tpl.elemOri[e], s.pool.N);
    }

    s.patchHalf = roundArg(g, ARG_PATCH_HALF);
    // A patch holds side^2 doubles; no host array can hold a side beyond this.
    if (s.patchHalf > 1000000000)
        argError(g, ARG_PATCH_HALF, "patchHalf", "is too large (%d)", s.patchHalf);
    const long long side = patchSide(s.patchHalf);
    s.patches = readMapGrid(g, ARG_PATCHES, s.pool.N, 1, side * side);
    s.renderMaps = readMapGrid(g, ARG_RENDER_MAPS, s.pool.nImages, 1, mapElements(s.pool.nRows, s.pool.nCols));
    s.scores = dataArg(g, ARG_SCORES, s.pool.nImages);
    s.pooledValues = dataArg(g, ARG_POOLED_VALUES, static_cast<long long>(s.pool.nImages) * s.nElements);

    if (s.pool.nImages == 0 || s.nElements == 0) return;  // nothing to pool, nothing to set up
    buildShiftTables(s.pool, shiftCacheLimit(s.pool));
    ShiftRun* runs = static_cast<ShiftRun*>(allocZeroed(static_cast<std::size_t>(s.nElements), sizeof(ShiftRun)));
    for (long long e = 0; e < s.nElements; ++e)
        runs[e] = mapShifts(s.pool, s.elements[e].ori, s.elements[e].x, s.elements[e].y);
    s.runs = runs;
    s.insideFast = insideWindow(s.pool);
    s.plainOrder = sharesStorage(s);
    s.threads = s.plainOrder || s.pool.nImages < 2 ? 1 : threadsFor(templateWork(s), PARALLEL_WORK);
    s.pooledByImage = nullptr;
    if (s.threads > 1)
        s.pooledByImage = static_cast<double*>(allocZeroed(
            static_cast<std::size_t>(s.pool.nImages) * static_cast<std::size_t>(s.nElements), sizeof(double)));
    testTemplate(s);
}
