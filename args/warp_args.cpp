#include "warp_args.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "alloc.h"
#include "overlap.h"

const char* const warpArgNames[WARP_ARGS] = {"n",  "N",      "sourceMaps", "resultMaps", "sx",
                                             "sy", "deltaX", "deltaY",     "deltaOri"};

namespace {

// The bytes a kernel touches in one map: [begin, end).
struct Block {
    std::uintptr_t begin;
    std::uintptr_t end;
    long long entry;  // position in its grid
};

const double* readTransformArray(const Gateway& g, int pos, int n)
{
    const double* values = dataArg(g, pos, n);
    requireIntValues(g, pos, values, n);
    return values;
}

const WarpParams* copyParams(int n, const double* dX, const double* dY, const double* dO)
{
    WarpParams* params = static_cast<WarpParams*>(allocZeroed(static_cast<std::size_t>(n), sizeof(WarpParams)));
    for (int i = 0; i < n; ++i)
        params[i] = {static_cast<int>(dX[i]), static_cast<int>(dY[i]), static_cast<int>(dO[i])};
    return params;
}

// The blocks of a grid's maps, sorted by address (ties by entry).
Block* sortedBlocks(const MapGrid grid, long long maps, long long count)
{
    Block* blocks = static_cast<Block*>(allocZeroed(static_cast<std::size_t>(maps), sizeof(Block)));
    const std::uintptr_t bytes = static_cast<std::uintptr_t>(count) * sizeof(double);
    for (long long k = 0; k < maps; ++k) {
        const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(grid[k]);
        blocks[k] = {begin, begin + bytes, k};
    }
    std::sort(blocks, blocks + maps, [](const Block& a, const Block& b) {
        return a.begin < b.begin || (a.begin == b.begin && a.entry < b.entry);
    });
    return blocks;
}

// Copies every source that overlaps a result, into one block of plain
// memory taken once (it is fully written before it is read, so it is not
// zero-filled, and released by finishWarp); sources holding the same block
// share one copy. Returns whether results overlap among themselves.
bool isolateSources(const Gateway& g, WarpState& s, long long maps)
{
    const MapGrid sources = s.sI;
    const long long count = s.count;
    ByteRange* results = static_cast<ByteRange*>(allocZeroed(static_cast<std::size_t>(maps), sizeof(ByteRange)));
    gridRanges(s.rI, static_cast<std::size_t>(maps), count, results);
    bool resultsOverlap = false;
    const std::size_t nResults = prepareRanges(results, static_cast<std::size_t>(maps), &resultsOverlap);
    Block* sourceBlocks = sortedBlocks(sources, maps, count);

    // Blocks that need no copy are marked by end 0. Equal blocks sort next
    // to each other and share one copy.
    long long distinct = 0;
    for (long long k = 0; k < maps; ++k) {
        Block& b = sourceBlocks[k];
        if (!overlapsPrepared(results, nResults, {b.begin, b.end}))
            b.end = 0;
        else if (k == 0 || b.begin != sourceBlocks[k - 1].begin)
            ++distinct;
    }
    if (distinct == 0) return resultsOverlap;

    const double bytes = static_cast<double>(distinct) * static_cast<double>(count) * sizeof(double);
    if (bytes < static_cast<double>(SIZE_MAX))
        s.copies = static_cast<double*>(std::malloc(static_cast<std::size_t>(bytes)));
    if (s.copies == nullptr)
        gatewayError(g, "outOfMemory", "cannot allocate %.0f bytes for copies of the source maps that share "
                     "storage with result maps", bytes);

    double* next = s.copies;
    double* copied = nullptr;  // the latest copy, and the block it was taken from
    std::uintptr_t copiedFrom = 0;
    for (long long k = 0; k < maps; ++k) {
        const Block& b = sourceBlocks[k];
        if (b.end == 0) continue;
        if (copied == nullptr || b.begin != copiedFrom) {
            copied = next;
            next += count;
            std::memcpy(copied, sources[b.entry], static_cast<std::size_t>(count) * sizeof(double));
            copiedFrom = b.begin;
        }
        sources[b.entry] = copied;
    }
    return resultsOverlap;
}

bool sameParams(const WarpParams& p, const WarpParams& q)
{
    return p.dX == q.dX && p.dY == q.dY && p.dO == q.dO;
}

// Maps or images sorted by transform (ties in index order), so that one
// evaluation of the positions serves a whole group; group g is
// order[groupStart[g] .. groupStart[g + 1] - 1]. order holds n ints, start
// n + 1.
void groupByTransform(WarpState& s, int* order, int* start)
{
    const WarpParams* params = s.params;
    for (int i = 0; i < s.n; ++i) order[i] = i;
    std::sort(order, order + s.n, [params](int a, int b) {
        const WarpParams& p = params[a];
        const WarpParams& q = params[b];
        if (p.dX != q.dX) return p.dX < q.dX;
        if (p.dY != q.dY) return p.dY < q.dY;
        if (p.dO != q.dO) return p.dO < q.dO;
        return a < b;
    });
    // Long runs of one transform are split (warpGroupImages).
    const int most = warpGroupImages(s.channels, s.count);
    int groups = 0;
    for (int v = 0; v < s.n; ++v)
        if (v == 0 || !sameParams(params[order[v]], params[order[v - 1]]) || v - start[groups - 1] >= most)
            start[groups++] = v;
    start[groups] = s.n;
    s.order = order;
    s.groupStart = start;
    s.groups = groups;
}

}  // namespace

namespace {

const WarpParams* readParams(const Gateway& g, int n)
{
    const double* dX = readTransformArray(g, WARP_ARG_DELTA_X, n);
    const double* dY = readTransformArray(g, WARP_ARG_DELTA_Y, n);
    const double* dO = readTransformArray(g, WARP_ARG_DELTA_ORI, n);
    return copyParams(n, dX, dY, dO);
}

void clearPlan(WarpState& s)
{
    s.order = nullptr;
    s.groupStart = nullptr;
    s.groups = 0;
    s.plainOrder = false;
    s.copies = nullptr;
}

}  // namespace

void readWarpCall(const Gateway& g, WarpGrid grid, WarpState& s)
{
    requireInputs(g, WARP_ARGS);
    s.n = countArg(g, WARP_ARG_N_MAPS);
    // Mundle's N sizes its grids; Sabrel's only sets the angle of a step.
    s.N = grid == WARP_ORIENTATION_STACKS ? countArg(g, WARP_ARG_N) : roundArg(g, WARP_ARG_N);
    s.channels = grid == WARP_ORIENTATION_STACKS ? s.N : 1;
    s.sx = roundArg(g, WARP_ARG_SX);
    s.sy = roundArg(g, WARP_ARG_SY);
    const long long elems = mapElements(s.sx, s.sy);
    s.count = s.n >= 1 && s.channels >= 1 ? elems : 0;
    if (s.count > 0 && s.N < 1)
        argError(g, WARP_ARG_N, "N", "must be at least 1 when any element is warped (it is %d)", s.N);

    s.sI = readMapGrid(g, WARP_ARG_SOURCES, s.n, s.channels, elems);
    s.rI = readMapGrid(g, WARP_ARG_RESULTS, s.n, s.channels, elems);
    s.params = readParams(g, s.n);
    clearPlan(s);
}

void setWarpCall(WarpState& s, int n, int N, int channels, int sx, int sy, MapGrid sources, MapGrid results,
                 const double* dX, const double* dY, const double* dO)
{
    s.n = n;
    s.N = N;
    s.channels = channels;
    s.sx = sx;
    s.sy = sy;
    s.count = n >= 1 && channels >= 1 ? mapElements(sx, sy) : 0;
    s.sI = sources;
    s.rI = results;
    s.params = copyParams(n, dX, dY, dO);
    clearPlan(s);
}

void prepareWarp(const Gateway& g, WarpState& s)
{
    if (s.count == 0 || s.n == 0) return;
    // Every host allocation comes before the copies' plain one, the last
    // thing here that can raise: an error leaves nothing of ours to release.
    int* order = allocInts(static_cast<std::size_t>(s.n));
    int* start = allocInts(static_cast<std::size_t>(s.n) + 1);
    const long long maps = static_cast<long long>(s.n) * s.channels;
    s.plainOrder = isolateSources(g, s, maps);
    if (!s.plainOrder) groupByTransform(s, order, start);
}

void finishWarp(WarpState& s)
{
    std::free(s.copies);
    s.copies = nullptr;
}

void runWarpCall(WarpState& s, int nrhs, const mxArray* const* prhs)
{
    const Gateway g = {"otk", nrhs, prhs, nullptr};
    prepareWarp(g, s);
    warpAll(s);
    finishWarp(s);
}
