// Halvery's kernel: each image's score, pooled values and render map depend
// on that image alone, so the images are tested concurrently, each in the
// plain element order. When results share storage with each other or with
// what is read after a write (response maps, patches), the whole call keeps
// the plain order instead: elements outer, images inner, patches drawn row
// by row.
#include "halvery.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <thread>

#include "alloc.h"
#include "cpu.h"
#include "overlap.h"
#include "threads.h"

namespace {

// Work is counted in samples pooled (about 3 ns each from cached maps),
// with a patch entry drawn as ENTRY_WORK of a sample (two entries go at
// once) and an element's own steps as ELEMENT_WORK; fitted to the 1-thread
// times of bench_Halvery's cases beside busy loops (threshold_64img 79 us,
// noPooling 50, hard_16img 87-102, big256 225), each within 10 %. Each
// thread gets at least PARALLEL_WORK of it (some 60 us), so two threads
// start from about 120 us of work: with no idle core a 2-thread call took
// 1.22x the 1-thread time at 33 us of work, 1.13x at 90 us, and hard_16img
// (100 us) 1.00-1.23x over three runs, so below that one thread is kept.
constexpr double PARALLEL_WORK = 19000;
constexpr double ENTRY_WORK = 0.14;
constexpr double ELEMENT_WORK = 1;

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

// Raises the side x side entries from `to` on (column stride nRows) with
// the patch scaled by amplitude, in storage order, two entries at a time.
// The side known when compiling unrolls the loops: a 7 x 7 patch is 28
// steps without a loop test or index step among them (the general loop
// below took 8 % of a call on 32 images of 60 elements).
template <int SIDE>
void renderWhole(double* to, const double* patch, long long nRows, double amplitude)
{
    const Pair scale = {amplitude, amplitude};
#pragma GCC unroll 16
    for (int c = 0; c < SIDE; ++c) {
#pragma GCC unroll 16
        for (int r = 0; r + 2 <= SIDE; r += 2) {
            Pair f, t;
            std::memcpy(&f, patch + c * SIDE + r, sizeof f);
            std::memcpy(&t, to + c * nRows + r, sizeof t);
            const Pair p = f * scale;
            const Pair raised = p > t ? p : t;
            std::memcpy(to + c * nRows + r, &raised, sizeof raised);
        }
        if (SIDE % 2 == 1) {
            const double p = patch[c * SIDE + SIDE - 1] * amplitude;
            double& t = to[c * nRows + SIDE - 1];
            t = p > t ? p : t;
        }
    }
}

#if OTK_HAS_AVX2_PATHS
// Four doubles, lane by lane as four scalars (the 256-bit registers of
// processors with AVX2, used only where the processor has them).
typedef double Quad __attribute__((vector_size(32)));

// renderWhole four entries at a time, for sides of 4 or more: a column of
// 7 is two steps, rows 0-3 and 3-6. Steps that share a row compute it from
// the same map entry before either is stored, so it is raised once, to the
// same value. A call on 32 images of 60 elements of 7 x 7 took 6 % less
// time than with renderWhole, one on 16 images of 100 of 11 x 11 9 %.
template <int SIDE>
__attribute__((target("avx2"))) void renderWholeWide(double* to, const double* patch, long long nRows,
                                                     double amplitude)
{
    static_assert(SIDE >= 4, "a step of four rows must fit a column");
    constexpr int STEPS = (SIDE + 3) / 4;
    const Quad scale = {amplitude, amplitude, amplitude, amplitude};
#pragma GCC unroll 16
    for (int c = 0; c < SIDE; ++c) {
        double* column = to + c * nRows;
        Quad raised[STEPS];
#pragma GCC unroll 4
        for (int k = 0; k < STEPS; ++k) {
            const int r = 4 * k + 4 <= SIDE ? 4 * k : SIDE - 4;
            Quad f, t;
            std::memcpy(&f, patch + c * SIDE + r, sizeof f);
            std::memcpy(&t, column + r, sizeof t);
            const Quad p = f * scale;
            raised[k] = p > t ? p : t;
        }
#pragma GCC unroll 4
        for (int k = 0; k < STEPS; ++k) {
            const int r = 4 * k + 4 <= SIDE ? 4 * k : SIDE - 4;
            std::memcpy(column + r, &raised[k], sizeof raised[k]);
        }
    }
}

std::atomic<bool> wideDrawing{processorHasAvx2()};

template <int SIDE>
void renderWholeFastest(double* to, const double* patch, long long nRows, double amplitude)
{
    if (wideDrawing.load(std::memory_order_relaxed))
        renderWholeWide<SIDE>(to, patch, nRows, amplitude);
    else
        renderWhole<SIDE>(to, patch, nRows, amplitude);
}
#else
template <int SIDE>
void renderWholeFastest(double* to, const double* patch, long long nRows, double amplitude)
{
    renderWhole<SIDE>(to, patch, nRows, amplitude);
}
#endif

// The same drawing in storage order, clipped once: each entry is compared
// and raised exactly as row by row, and entries of one patch are distinct.
// Two entries at a time (Pair): the loop at -O2 is otherwise one at a time.
// Patches of the usual sides that lie wholly inside go to renderWhole.
void renderElement(const HalveryState& s, double* map, long long x, long long y, int ori, double amplitude)
{
    // A patch of one entry (patchHalf 0), where it falls inside: without
    // the clipping and loops below, a call on 32 images of 60 elements took
    // 7 % less time.
    if (s.patchHalf == 0) {
        if (x >= 1 && x <= s.pool.nRows && y >= 1 && y <= s.pool.nCols) {
            const double p = s.patches[ori][0] * amplitude;
            double& target = map[linearIndex(x, y, s.pool.nRows, s.pool.nCols)];
            target = p > target ? p : target;
        }
        return;
    }
    const long long half = s.patchHalf;
    const long long side = patchSide(s.patchHalf);
    const long long rowLo = x - half > 1 ? x - half : 1;
    const long long rowHi = x + half < s.pool.nRows ? x + half : s.pool.nRows;
    const long long colLo = y - half > 1 ? y - half : 1;
    const long long colHi = y + half < s.pool.nCols ? y + half : s.pool.nCols;
    const long long rows = rowHi - rowLo + 1;
    if (rows <= 0 || colLo > colHi) return;
    const double* patch = s.patches[ori];
    if (rows == side && colHi - colLo + 1 == side) {
        double* to = map + linearIndex(rowLo, colLo, s.pool.nRows, s.pool.nCols);
        switch (side) {
        case 3: renderWhole<3>(to, patch, s.pool.nRows, amplitude); return;
        case 5: renderWholeFastest<5>(to, patch, s.pool.nRows, amplitude); return;
        case 7: renderWholeFastest<7>(to, patch, s.pool.nRows, amplitude); return;
        case 9: renderWholeFastest<9>(to, patch, s.pool.nRows, amplitude); return;
        case 11: renderWholeFastest<11>(to, patch, s.pool.nRows, amplitude); return;
        default: break;
        }
    }
    const Pair scale = {amplitude, amplitude};
    for (long long c = colLo; c <= colHi; ++c) {
        const double* from = patch + linearIndex(rowLo - x + half + 1, c - y + half + 1, side, side);
        double* to = map + linearIndex(rowLo, c, s.pool.nRows, s.pool.nCols);
        // Stores the entry back when it stays: the same value, so two
        // entries go at once (a NaN entry stays, as with the plain test).
        long long r = 0;
        for (; r + 2 <= rows; r += 2) {
            Pair f, t;
            std::memcpy(&f, from + r, sizeof f);
            std::memcpy(&t, to + r, sizeof t);
            const Pair p = f * scale;
            const Pair raised = p > t ? p : t;
            std::memcpy(to + r, &raised, sizeof raised);
        }
        if (r < rows) {
            const double p = from[r] * amplitude;
            to[r] = p > to[r] ? p : to[r];
        }
    }
}

// Element e's pooled value on the image of `maps`, and where it was found.
double poolElement(const HalveryState& s, long long e, ImageMaps maps, MaxRecord& record)
{
    const Element& el = s.elements[e];
    return s.runs[e].whole && s.insideFast ? poolInsideRecord(s.pool, maps, el.ori, el.x, el.y, record)
                                           : poolRun(s.pool, maps, el.ori, el.x, el.y, s.runs[e], record);
}

// Element e on image i, pooled to v at record: v stored in *pooled, its
// score term added to score, its drawing.
void scoreAndDraw(const HalveryState& s, long long e, int i, double v, const MaxRecord& record, double* pooled,
                  double& score)
{
    const Element& el = s.elements[e];
    *pooled = v;
    score = score + (el.weight * v - el.bias);
    if (v > 0 && s.renderMaps != nullptr) {
        if (s.plainOrder)
            renderPlain(s, s.renderMaps[i], record.x, record.y, record.ori, std::sqrt(v));
        else
            renderElement(s, s.renderMaps[i], record.x, record.y, record.ori, std::sqrt(v));
    }
}

// Element e on image i: pooled, scored and drawn.
void testElement(const HalveryState& s, long long e, int i, double* pooled, double& score)
{
    MaxRecord record;
    const double v = poolElement(s, e, imageMapsInRun(s.pool, i), record);
    scoreAndDraw(s, e, i, v, record, pooled, score);
}

// A sample of maps far beyond the caches costs about this many samples of
// cached ones: on 32 images of 16 maps of 128^2 (64 MB), a call with no
// drawing took some 8 ns a sample, and at 1 thread stayed there, 0.8x the
// plain loop, with a core idle.
constexpr double UNCACHED_SAMPLE_WORK = 4;

// Work of a call (see PARALLEL_WORK).
double templateWork(const HalveryState& s)
{
    const double samples = (2.0 * s.pool.shiftRange + 1) * (2.0 * s.pool.oriRange + 1) *
                           (mapsBeyondCache(s.pool) ? UNCACHED_SAMPLE_WORK : 1.0);
    const double side = static_cast<double>(patchSide(s.patchHalf));
    return static_cast<double>(s.pool.nImages) * static_cast<double>(s.nElements) *
           (ELEMENT_WORK + samples + ENTRY_WORK * side * side);
}

// Poolings whose samples are requested ahead of the one being taken: enough
// to keep some ten misses in flight on a batch whose maps are far beyond the
// caches, few enough that the lines are still there when they are read.
constexpr long long PREFETCH_AHEAD = 4;

// Asks for the lines of render map i a patch centred on (x, y) covers, for
// writing. The drawing is centred on the winning sample, within a shift of
// (x, y), so this covers most of it; the render maps are as cold as the
// response maps. Clipped to the map, as the drawing is.
void prefetchDrawing(const HalveryState& s, int i, long long x, long long y)
{
    const long long half = s.patchHalf;
    if (s.renderMaps == nullptr) return;  // nothing is drawn
    if (half < 0 || half > LINE_DOUBLES) return;  // wider patches cost more than their misses
    const long long rowLo = x - half > 1 ? x - half : 1;
    const long long rowHi = x + half < s.pool.nRows ? x + half : s.pool.nRows;
    const long long colLo = y - half > 1 ? y - half : 1;
    const long long colHi = y + half < s.pool.nCols ? y + half : s.pool.nCols;
    if (rowLo > rowHi) return;
    const double* map = s.renderMaps[i];
    for (long long c = colLo; c <= colHi; ++c) {
        const double* column = map + linearIndex(1, c, s.pool.nRows, s.pool.nCols);
        for (long long r = rowLo; r < rowHi; r += LINE_DOUBLES) requestLine(column + r - 1);
        requestLine(column + rowHi - 1);
    }
}

void prefetchElement(const HalveryState& s, long long e, int i)
{
    const Element& el = s.elements[e];
    prefetchPooling(s.pool, imageMapsInRun(s.pool, i), el.ori, el.x, el.y, s.runs[e]);
    prefetchDrawing(s, i, el.x, el.y);
}

// Elements whose samples' places are worked out once a call: 64 MB of them.
constexpr long long MAX_PLACED_ELEMENTS = 1 << 20;

// Elements pooled together before any of them is scored and drawn.
constexpr long long POOL_BLOCK = 64;

// 0, 1, 2, ...: the offsets of the shifts in a gathered pooling's samples.
struct Along {
    std::ptrdiff_t at[GATHERED_SAMPLES];
    constexpr Along() : at()
    {
        for (int i = 0; i < GATHERED_SAMPLES; ++i) at[i] = i;
    }
};
constexpr Along ALONG;

// Bytes of the lines a call's samples lie on (a line each, at most the
// maps' bytes) from which on requestNext pays: with 1.1 MB of them (32
// images of case A's layout) the caches keep them from call to call and the
// requests cost 6-10 %, as on the back-to-back call (600 elements on 16
// images of 48^2 x 4: 1.2 MB of maps) 22 %; with 4.4 MB (128 images) they
// gain a little, with 18 MB (512) much.
constexpr double REQUESTS_FROM = 4.0 * (1 << 20);

// The image a thread tests next, whose lines it asks for while it tests
// this one: none (image -1) unless its samples' lines are beyond
// REQUESTS_FROM, its render lines too only where the render maps are
// beyond the caches.
struct NextImage {
    int image;
    bool drawing;
};

// Asks for the lines element e will read (its samples, from their places)
// and, where next.drawing, write (the render lines about its position) on
// image next.image: the next image's misses in flight while this image's
// drawings wait on theirs. Through the host, 1 thread, case A's
// layout: 128 and 512 images 0.93-0.95 of the time with the samples'
// requests, 512 images 0.77-0.80 with the render lines' too (its 64 MB of
// render maps are beyond the caches; with 1 to 16 MB of them the lines'
// requests cost 3-13 %).
void requestNext(const HalveryState& s, long long e, NextImage next)
{
    if (next.image < 0 || !s.runs[e].whole) return;
    requestPlaced(s.pool, imageMapsInRun(s.pool, next.image), s.places[e]);
    if (next.drawing) prefetchDrawing(s, next.image, s.elements[e].x, s.elements[e].y);
}

// Every element on image i in the plain element order, its score kept in a
// register; element e's pooled value goes to pooled[e * stride].
// In blocks: first the samples of the block's inside poolings are copied
// out of the maps, then every pooling is taken, then the scores and
// drawings follow in element order. The poolings read only response maps
// and the drawings write only render maps, which here share no storage, so
// this is the plain sequence of results. The copying is loads back to
// back, which the processor overlaps; pooled straight from the maps and
// interleaved with drawings, each pooling waited for the misses of the one
// before (measured: each step took 2-20 % off a call on a batch beyond the
// caches). Copying the next image's samples between this one's drawings
// did not pay: a load that misses there holds up the drawing behind it.
// Asking for them (requestNext) does: the requests wait for nothing.
void testImage(const HalveryState& s, int i, double* pooled, long long stride, NextImage next)
{
    double score = s.scores[i];
    const ImageMaps maps = imageMapsInRun(s.pool, i);
    double samples[POOL_BLOCK * GATHERED_SAMPLES];
    double values[POOL_BLOCK];
    MaxRecord records[POOL_BLOCK];
    for (long long first = 0; first < s.nElements; first += POOL_BLOCK) {
        const long long count = s.nElements - first < POOL_BLOCK ? s.nElements - first : POOL_BLOCK;
        if (s.places != nullptr)
            gatherPlaced(s.pool, maps, s.places + first, s.runs + first, count, samples);
        else if (s.gathers)
            for (long long k = 0; k < count; ++k) {
                const Element& el = s.elements[first + k];
                if (s.runs[first + k].whole) gatherInside(s.pool, maps, el.ori, el.x, el.y, samples + k * GATHERED_SAMPLES);
            }
        for (long long k = 0; k < count; ++k) {
            const long long e = first + k;
            const Element& el = s.elements[e];
            values[k] = s.gathers && s.runs[e].whole
                            ? poolGatheredRecord(s.pool, samples + k * GATHERED_SAMPLES, ALONG.at, el.ori, el.x, el.y, records[k])
                            : poolElement(s, e, maps, records[k]);
        }
        for (long long k = 0; k < count; ++k) {
            requestNext(s, first + k, next);
            scoreAndDraw(s, first + k, i, values[k], records[k], pooled + (first + k) * stride, score);
        }
    }
    s.scores[i] = score;
}

void testImages(const HalveryState& s)
{
    const int nImages = s.pool.nImages;
    if (s.plainOrder) {
        for (long long e = 0; e < s.nElements; ++e)
            for (int i = 0; i < nImages; ++i) {
                if (i + PREFETCH_AHEAD < nImages) prefetchElement(s, e, static_cast<int>(i + PREFETCH_AHEAD));
                testElement(s, e, i, s.pooledValues + e * nImages + i, s.scores[i]);
            }
        return;
    }
    // The bytes of lines the samples lie on: a line a sample, but no more
    // than the maps hold.
    const double lines = std::min(static_cast<double>(nImages) * static_cast<double>(s.nElements) *
                                      (2.0 * s.pool.oriRange + 1) * (2.0 * s.pool.shiftRange + 1) *
                                      static_cast<double>(LINE_DOUBLES * sizeof(double)),
                                  mapBytes(s.pool));
    const bool requests = s.places != nullptr && lines > REQUESTS_FROM;
    const bool drawing = requests && s.renderMaps != nullptr &&
                         static_cast<double>(nImages) * mapElements(s.pool.nRows, s.pool.nCols) * sizeof(double) >
                             MAPS_IN_CACHE;
    auto nextOf = [&](long long i) {
        return NextImage{requests && i >= 0 && i < nImages ? static_cast<int>(i) : -1, drawing};
    };
    // Image by image: each image's score, pooled values and drawing depend
    // on that image alone and see the same operations in the same order as
    // in the plain order, and the samples of the next elements lie in the
    // same few maps. On one thread the pooled values go straight to their
    // places; on threads neighbouring images' pooled values would share
    // cache lines, so each image fills a row of its own.
    if (s.threads <= 1) {
        // Images in order, as chunks, so that a long call can be stopped between them.
        auto inPlace = [&](long long i) {
            testImage(s, static_cast<int>(i), s.pooledValues + i, nImages, nextOf(i + 1));
        };
        forEachChunk(nImages, 1, inPlace);
        return;
    }
    // The caller takes images upwards, the helpers downwards (runChunks).
    const std::thread::id caller = std::this_thread::get_id();
    auto testOne = [&](long long i) {
        const long long next = std::this_thread::get_id() == caller ? i + 1 : i - 1;
        testImage(s, static_cast<int>(i), s.pooledByImage + i * s.nElements, 1, nextOf(next));
    };
    forEachChunk(nImages, s.threads, testOne);
    for (long long e = 0; e < s.nElements; ++e)
        for (long long i = 0; i < nImages; ++i) s.pooledValues[e * nImages + i] = s.pooledByImage[i * s.nElements + e];
}

// Whether results share storage with each other or with the response maps
// and patches, which are read after writes. The few results are sorted and
// every map asked about on its own: sorting the maps instead (a batch has
// hundreds) took as long as a tenth of the pooling. Maps that come as one
// array are first asked about as a whole (512 maps one by one took 3-4 us
// of a 130 us call).
bool sharesStorage(const HalveryState& s)
{
    const int nImages = s.pool.nImages;
    const int N = s.pool.N;
    const long long mapSize = mapElements(s.pool.nRows, s.pool.nCols);
    const long long side = patchSide(s.patchHalf);
    const std::size_t nResults = static_cast<std::size_t>(nImages) + 2;
    ByteRange* results = static_cast<ByteRange*>(allocZeroed(nResults, sizeof(ByteRange)));
    results[0] = doublesAt(s.scores, nImages);
    results[1] = doublesAt(s.pooledValues, nImages * s.nElements);
    for (int i = 0; i < nImages; ++i) results[2 + i] = s.renderMaps ? doublesAt(s.renderMaps[i], mapSize) : ByteRange{0, 0};
    bool within = false;
    const std::size_t kept = prepareRanges(results, nResults, &within);
    if (within) return true;
    const std::size_t nMaps = static_cast<std::size_t>(nImages) * N;
    if (overlapsPrepared(results, kept, gridHull(s.pool.responseMaps, nMaps, mapSize)))
        for (std::size_t k = 0; k < nMaps; ++k)
            if (overlapsPrepared(results, kept, doublesAt(s.pool.responseMaps[k], mapSize))) return true;
    for (int k = 0; k < N; ++k)
        if (overlapsPrepared(results, kept, doublesAt(s.patches[k], side * side))) return true;
    return false;
}

}  // namespace

bool useWideDrawing(bool wide)
{
#if OTK_HAS_AVX2_PATHS
    wideDrawing.store(wide && processorHasAvx2());
    return wideDrawing.load();
#else
    (void)wide;
    return false;
#endif
}

void copyHalveryElements(HalveryState& s)
{
    s.nElements = elementCount(s.tpl);
    s.elements = copyElements(s.tpl);
}

void testTemplate(HalveryState& s)
{
    if (s.pool.nImages == 0 || s.nElements == 0) return;  // nothing to pool, nothing to set up
    buildShiftTables(s.pool, shiftCacheLimit(s.pool));
    buildImageRuns(s.pool);
    ShiftRun* runs = static_cast<ShiftRun*>(allocZeroed(static_cast<std::size_t>(s.nElements), sizeof(ShiftRun)));
    // Where each element's samples lie, for the windows gatherPlaced knows,
    // while the table stays a modest part of the call's memory (64 bytes an
    // element; beyond, each pooling's samples are found as they are copied).
    const bool placed = gathersPlaced(s.pool) && s.nElements <= MAX_PLACED_ELEMENTS;
    GatherPlace* places = nullptr;
    if (placed)
        places = static_cast<GatherPlace*>(allocZeroed(static_cast<std::size_t>(s.nElements), sizeof(GatherPlace)));
    for (long long e = 0; e < s.nElements; ++e)
        runs[e] = mapShifts(s.pool, s.elements[e].ori, s.elements[e].x, s.elements[e].y);
    if (placed) gatherPlaces(s.pool, s.elements, runs, s.nElements, places);
    s.runs = runs;
    s.places = places;
    s.insideFast = insideWindow(s.pool);
    // Copied out on maps the caches hold too, now that the copies are pooled
    // unrolled (poolGatheredFixed): 0-10 % less time from 4 images of 48^2
    // x 4 orientations to 8 of 128^2 x 16.
    s.gathers = gathersInside(s.pool);
    s.plainOrder = sharesStorage(s);
    s.threads = s.plainOrder || s.pool.nImages < 2 ? 1 : threadsFor(templateWork(s), PARALLEL_WORK);
    s.pooledByImage = nullptr;
    if (s.threads > 1)
        s.pooledByImage = static_cast<double*>(allocZeroed(
            static_cast<std::size_t>(s.pool.nImages) * static_cast<std::size_t>(s.nElements), sizeof(double)));
    testImages(s);
}
