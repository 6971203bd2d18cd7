// Question: where would a Halvery that computed nothing stand against the plain
// build, through the host?
// Figure: the "floor" and "+lines" columns of Halvery against plain
// (bench/probes/host_floors.m, parts pairs and series).
//
// floor_Halvery: what any kernel of a Halvery call must spend through the
// host, and nothing more: Halvery's arguments read by the toolbox's argument
// module (the host's own part of the call), then every sample the call's
// poolings read, copied out of the maps as Halvery copies them and summed
// into scores, on as many threads as the thread setting allows. No pooling,
// no score terms, no drawing. Its time beside Halvery's and the plain
// build's in one run (bench/probes/host_floors.m) bounds what Halvery can reach.
// Built into build/bench-mex only; never shipped. Calls whose poolings are
// not all inside the maps (the fast window) are refused.
//
// Given a 27th input of 1, it also reads and writes back, in every render
// map, each cache line a patch of patchHalf centred on each element covers:
// the lines a drawing must fetch and raise (Halvery centres a patch on the
// winning sample, within a shift of the element, so the count is the same,
// the lines nearly so). Then only the computing is left out. Given 2, it
// asks for the lines of the next image's samples before it reads an
// image's (requestLine, as Halvery asks for them while it draws): whether
// a step between map sizes is one of waiting for memory that asking ahead
// hides.
#include "alloc.h"
#include "args.h"
#include "pooling.h"
#include "template.h"
#include "template_args.h"
#include "threads.h"

#include <cstdint>

namespace {

// Reads an entry and stores it back: the line is fetched and owned, as a
// drawing's maximum owns it, and nothing changes.
inline void touch(double* entry)
{
    volatile double* v = entry;
    *v = *v;
}

void touchPatchLines(double* map, const PoolState& pool, const Element* elements, long long nElements, int half)
{
    for (long long e = 0; e < nElements; ++e) {
        const long long x = elements[e].x;
        const long long y = elements[e].y;
        const long long rowLo = x - half > 1 ? x - half : 1;
        const long long rowHi = x + half < pool.nRows ? x + half : pool.nRows;
        const long long colLo = y - half > 1 ? y - half : 1;
        const long long colHi = y + half < pool.nCols ? y + half : pool.nCols;
        for (long long c = colLo; c <= colHi && rowLo <= rowHi; ++c) {
            double* first = map + linearIndex(rowLo, c, pool.nRows, pool.nCols);
            double* last = map + linearIndex(rowHi, c, pool.nRows, pool.nCols);
            constexpr std::uintptr_t LINE = 64;
            for (std::uintptr_t at = reinterpret_cast<std::uintptr_t>(first) & ~(LINE - 1);
                 at <= reinterpret_cast<std::uintptr_t>(last); at += LINE) {
                double* entry = reinterpret_cast<double*>(at);
                touch(entry < first ? first : entry);
            }
        }
    }
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"floor_Halvery", nrhs, prhs, nullptr};
    rejectOutputs(g, nlhs, "Halvery");
    requireInputs(g, TEMPLATE_ARGS);
    PoolState pool;
    Template tpl;
    readTemplateCall(g, pool, tpl);
    const long long nElements = elementCount(tpl);
    const Element* elements = copyElements(tpl);
    const int patchHalf = roundArg(g, ARG_PATCH_HALF);
    const long long side = 2LL * patchHalf + 1;
    readMapGrid(g, ARG_PATCHES, pool.N, 1, side * side);
    const MapGrid renders = readMapGrid(g, ARG_RENDER_MAPS, pool.nImages, 1, mapElements(pool.nRows, pool.nCols));
    enum Mode { READS = 0, RENDER_LINES = 1, NEXT_REQUESTED = 2 };
    const double mode = nrhs > TEMPLATE_ARGS ? rawArg(g, TEMPLATE_ARGS) : static_cast<double>(READS);
    const bool touchRenders = mode == RENDER_LINES;
    const bool requestNext = mode == NEXT_REQUESTED;
    double* scores = dataArg(g, ARG_SCORES, pool.nImages);
    dataArg(g, ARG_POOLED_VALUES, static_cast<long long>(pool.nImages) * nElements);

    buildShiftTables(pool, shiftCacheLimit(pool));
    buildImageRuns(pool);
    if (!gathersInside(pool)) gatewayError(g, "notInside", "the call's poolings are not copied as a window");
    for (long long e = 0; e < nElements; ++e) {
        const Element& el = elements[e];
        if (el.ori < 0 || el.ori >= pool.N || !mapShifts(pool, el.ori, el.x, el.y).whole)
            gatewayError(g, "notInside", "element %lld is not pooled inside the maps", e + 1);
    }
    // Copied as Halvery copies them: from places worked out once, where the
    // windows have the sizes that allows.
    GatherPlace* places = nullptr;
    ShiftRun* runs = nullptr;
    if (gathersPlaced(pool)) {
        places = static_cast<GatherPlace*>(allocZeroed(static_cast<std::size_t>(nElements), sizeof(GatherPlace)));
        runs = static_cast<ShiftRun*>(allocZeroed(static_cast<std::size_t>(nElements), sizeof(ShiftRun)));
        for (long long e = 0; e < nElements; ++e) runs[e].whole = true;
        gatherPlaces(pool, elements, runs, nElements, places);
    }
    const int threads = pool.nImages < configuredThreads() ? pool.nImages : configuredThreads();
    auto readImage = [&](long long i) {
        const ImageMaps maps = imageMapsInRun(pool, static_cast<int>(i));
        constexpr long long BLOCK = 64;  // as Halvery's blocks
        double samples[BLOCK * GATHERED_SAMPLES];
        const int count = (2 * pool.oriRange + 1) * (2 * pool.shiftRange + 1);
        double sum = 0;
        if (requestNext && places != nullptr && i + 1 < pool.nImages) {
            const ImageMaps next = imageMapsInRun(pool, static_cast<int>(i + 1));
            for (long long e = 0; e < nElements; ++e) requestPlaced(pool, next, places[e]);
        }
        for (long long first = 0; first < nElements; first += BLOCK) {
            const long long n = nElements - first < BLOCK ? nElements - first : BLOCK;
            if (places != nullptr)
                gatherPlaced(pool, maps, places + first, runs + first, n, samples);
            else
                for (long long k = 0; k < n; ++k) {
                    const Element& el = elements[first + k];
                    gatherInside(pool, maps, el.ori, el.x, el.y, samples + k * GATHERED_SAMPLES);
                }
            for (long long k = 0; k < n; ++k)
                for (int j = 0; j < count; ++j) sum += samples[k * GATHERED_SAMPLES + j];
        }
        scores[i] += sum;
        if (touchRenders) touchPatchLines(renders[i], pool, elements, nElements, patchHalf);
    };
    forEachChunk(pool.nImages, threads, readImage);
}
