// Score maps. An element's pooled value at a placement depends on its moved
// orientation and position only, and its moved row depends on the
// placement's row alone (its column on the column alone): the point
// transform adds the moved centre, which is the placement itself, to the
// element's turned offset. So each orientation a call needs is pooled once
// per image over every position an element can reach (poolRect), and each
// placement's score adds, element by element in the template's order,
// weight times the pooled value at the element's moved position minus its
// bias: about elements x placements additions, in the plain order of each
// placement's score, so with its bits.
#include "scoremap.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "alloc.h"
#include "maps.h"
#include "poolmap.h"
#include "threads.h"
#include "transform.h"

namespace {

// One element under one rotation: its turned orientation and where it lies
// at each placement. Its row at placement row r is r + rowK, or, where the
// rounding of the transform does not give one offset for every row,
// rowTable[r - 1] (likewise for columns).
struct Placed {
    int ori;
    long long rowK;
    long long colK;
    const long long* rowTable;
    const long long* colTable;
    double weight;
    double bias;
    double outside;  // its term where it reads no sample: weight * emptyPooling - bias
};

inline long long placedRow(const Placed& p, long long r)
{
    return p.rowTable ? p.rowTable[r - 1] : r + p.rowK;
}

inline long long placedCol(const Placed& p, long long c)
{
    return p.colTable ? p.colTable[c - 1] : c + p.colK;
}

// The centre of rotation, counted from 1 (as the search's).
inline int centreRow(const PoolState& s)
{
    return s.nRows / 2;
}

inline int centreCol(const PoolState& s)
{
    return s.nCols / 2;
}

// Moved row of turned point t at placement row r: the point transform's
// own rounding (shiftTurnedPoint), so every position has its bits.
inline long long movedRow(const PoolState& s, const TurnedPoint& t, long long r)
{
    long long xyo[3];
    shiftTurnedPoint(t, centreRow(s), centreCol(s), static_cast<int>(r - centreRow(s)), 0, xyo);
    return xyo[0];
}

inline long long movedCol(const PoolState& s, const TurnedPoint& t, long long c)
{
    long long xyo[3];
    shiftTurnedPoint(t, centreRow(s), centreCol(s), 0, static_cast<int>(c - centreCol(s)), xyo);
    return xyo[1];
}

TurnedPoint turnElement(const PoolState& s, const Element& el, int rotation)
{
    return turnPoint(s.N, centreRow(s), centreCol(s), el.x, el.y, el.ori, rotation);
}

// Whether rows 1..n (or columns) all move by one offset, floor(0.5 + off),
// shown without visiting them. The point transform rounds (0.5 + r) + off
// once; where 0.5 + off lies at least 2^-20 from a whole number and every
// value stays below 2^31 in size, that rounding (at most 2^-22 here) and
// the one of 0.5 + off (2^-23) cannot carry the sum across a whole number.
bool evenlyMoved(double off, long long n)
{
    if (!(std::fabs(off) < 1073741824.0) || n >= (1LL << 30)) return false;
    const double h = 0.5 + off;
    const double f = h - std::floor(h);
    return f >= 0x1p-20 && f <= 1 - 0x1p-20;
}

// Fills p for element el under rotation; returns whether its rows (and
// columns) follow one offset; when not, the caller gives tables. Each
// position is the point transform's own rounding (shiftTurnedPoint), the
// rows and columns visited only where evenlyMoved cannot tell.
void placeElement(const PoolState& s, const Element& el, int rotation, Placed& p, bool& rowsRegular,
                  bool& colsRegular, long long* rowTable, long long* colTable)
{
    const TurnedPoint t = turnElement(s, el, rotation);
    p.ori = t.ori;
    p.weight = el.weight;
    p.bias = el.bias;
    p.outside = el.weight * emptyPooling(s) - el.bias;
    p.rowK = movedRow(s, t, 1) - 1;
    p.colK = movedCol(s, t, 1) - 1;
    rowsRegular = rowTable == nullptr && evenlyMoved(t.rowOffset, s.nRows);
    if (!rowsRegular) {
        rowsRegular = true;
        for (long long r = 1; r <= s.nRows; ++r) {
            const long long x = movedRow(s, t, r);
            if (rowTable) rowTable[r - 1] = x;
            if (x != r + p.rowK) rowsRegular = false;
        }
    }
    colsRegular = colTable == nullptr && evenlyMoved(t.colOffset, s.nCols);
    if (!colsRegular) {
        colsRegular = true;
        for (long long c = 1; c <= s.nCols; ++c) {
            const long long y = movedCol(s, t, c);
            if (colTable) colTable[c - 1] = y;
            if (y != c + p.colK) colsRegular = false;
        }
    }
    p.rowTable = p.colTable = nullptr;
}

// S = S + (w*P - b) entry by entry, two at a time with the same bits.
void addTerms(double* S, const double* P, long long n, double w, double b)
{
    const Pair wv = {w, w}, bv = {b, b};
    long long k = 0;
    for (; k + 2 <= n; k += 2) {
        Pair sv, pv;
        std::memcpy(&sv, S + k, sizeof sv);
        std::memcpy(&pv, P + k, sizeof pv);
        const Pair r = sv + (wv * pv - bv);
        std::memcpy(S + k, &r, sizeof r);
    }
    if (k < n) S[k] = S[k] + (w * P[k] - b);
}

void addConstant(double* S, long long n, double t)
{
    for (long long k = 0; k < n; ++k) S[k] = S[k] + t;
}

// The host's max over rotations, one rotation at a time: the first
// rotation's score, then a later one where it is above (or the best so far
// is a NaN and it is not).
void takeBest(bool first, const double* S, double rotation, double* best, double* bestRotation, long long n)
{
    if (first) {
        if (best != S) std::memcpy(best, S, static_cast<std::size_t>(n) * sizeof(double));
        for (long long k = 0; k < n; ++k) bestRotation[k] = rotation;
        return;
    }
    for (long long k = 0; k < n; ++k) {
        const double v = S[k];
        if (std::isnan(best[k]) ? !std::isnan(v) : v > best[k]) {
            best[k] = v;
            bestRotation[k] = rotation;
        }
    }
}

// Work of a chunk, in additions or samples: some 100 us, so that a call's
// chunks spread over the threads, and an interrupt check between chunks
// comes soon.
constexpr double CHUNK_WORK = 1 << 17;
// Work below which a call keeps one thread (about 60 us per thread).
constexpr double PARALLEL_WORK = 1 << 15;
// Pooling chunks per thread: enough to even the threads' shares out.
constexpr long long POOL_CHUNKS_PER_THREAD = 4;
// Pooled maps of a group of images held at once.
constexpr double GROUP_BYTES = 8.0 * (1 << 20);

long long blockFor(double perColumn, long long columns)
{
    const double b = std::floor(CHUNK_WORK / (perColumn > 1 ? perColumn : 1));
    if (b >= static_cast<double>(columns)) return columns > 0 ? columns : 1;
    return b < 1 ? 1 : static_cast<long long>(b);
}

// Everything the pooled route works out once a call.
struct Plan {
    const ScoreMapState* s;
    long long nPix;
    const Placed* placed;  // rotation k, element e at k * nElements + e
    int nNeeded;
    const int* slot;       // orientation o's pooled map: slot[o] (-1: not needed)
    const int* needed;     // the needed orientations, nNeeded
    PoolRect D;            // the positions pooled
    long long areaD;
    int group;             // images whose pooled maps are held at once
    double* pooled;        // group x nNeeded maps of D
    double* scratch;       // group x nPix: one rotation's scores when they are not kept
    long long poolChunks;  // pooling chunks per group, each a run of (image, orientation, block) items
    double* windows;       // per pooling chunk, windowSize doubles for poolRect; or nullptr
    long long windowSize;
    long long blockA, blocksA;  // columns of D per pooling chunk, chunks per map
    long long blockB, blocksB;  // placement columns per scoring chunk, column blocks per image
    long long rowsB, rowBlocks; // placement rows per scoring chunk, row blocks per column block
    int threads;
};

// Where rotation k's scores of image i (gi in the group) start at column c,
// row r: kept, or the best's place with one rotation, or scratch.
inline double* scoresAt(const Plan& plan, long long gi, long long i, int k, long long c, long long r)
{
    const ScoreMapState& s = *plan.s;
    const long long at = (c - 1) * s.pool.nRows + (r - 1);
    if (s.scores != nullptr) return s.scores + (i * s.nRotations + k) * plan.nPix + at;
    if (s.nRotations == 1) return s.best + i * plan.nPix + at;
    return plan.scratch + gi * plan.nPix + at;
}

// Pools item `item` of a group: (image, orientation, block of D's
// columns), into the group's pooled maps.
void poolItem(const Plan& p, int firstImage, long long item, double* window)
{
    const long long perImage = p.nNeeded * p.blocksA;
    const long long gi = item / perImage;
    const long long rest = item % perImage;
    const int slot = static_cast<int>(rest / p.blocksA);
    const long long block = rest % p.blocksA;
    PoolRect r = p.D;
    r.y0 = p.D.y0 + block * p.blockA;
    r.y1 = std::min(p.D.y1, r.y0 + p.blockA - 1);
    const long long rowsD = rectRows(p.D);
    double* out = p.pooled + (gi * p.nNeeded + slot) * p.areaD + (r.y0 - p.D.y0) * rowsD;
    poolRect(p.s->pool, imageMaps(p.s->pool, static_cast<int>(firstImage + gi)), p.needed[slot], r, out, rowsD, window);
}

// A pooling chunk: a run of `items` items, with a window scratch of its own
// (a few chunks per thread, so that the scratch, zero-filled at every
// call, stays small).
void poolChunk(const Plan& p, int firstImage, long long items, long long chunks, long long chunk)
{
    const long long from = chunk * items / chunks, to = (chunk + 1) * items / chunks;
    double* window = p.windows ? p.windows + chunk * p.windowSize : nullptr;
    for (long long item = from; item < to; ++item) poolItem(p, firstImage, item, window);
}

// Adds element p's terms to the placements of rows r0..r1 of column c:
// col holds their scores.
void addElement(const Plan& plan, const Placed& p, const double* P, double* col, long long c, long long r0,
                long long r1)
{
    const PoolRect& D = plan.D;
    const long long rowsD = rectRows(D);
    const long long n = r1 - r0 + 1;
    const long long y = placedCol(p, c);
    if (y < D.y0 || y > D.y1 || rowsD == 0) {
        addConstant(col, n, p.outside);
        return;
    }
    const double* Pc = P + (y - D.y0) * rowsD;
    if (p.rowTable == nullptr) {
        // Rows whose moved row lies in D: one run.
        const long long ra = std::max(r0, D.x0 - p.rowK), rb = std::min(r1, D.x1 - p.rowK);
        if (ra > rb) {
            addConstant(col, n, p.outside);
            return;
        }
        addConstant(col, ra - r0, p.outside);
        addTerms(col + (ra - r0), Pc + (ra + p.rowK - D.x0), rb - ra + 1, p.weight, p.bias);
        addConstant(col + (rb - r0 + 1), r1 - rb, p.outside);
    } else {
        for (long long r = r0; r <= r1; ++r) {
            const long long x = p.rowTable[r - 1];
            col[r - r0] = x < D.x0 || x > D.x1 ? col[r - r0] + p.outside : col[r - r0] + (p.weight * Pc[x - D.x0] - p.bias);
        }
    }
}

// The placements of one image, a block of columns and, where one column is
// more than a chunk's work, a block of its rows: every placement's score is
// its own sum, so any split gives the same bits.
void scoreChunk(const Plan& plan, int firstImage, long long chunk)
{
    const ScoreMapState& s = *plan.s;
    const long long perImage = plan.blocksB * plan.rowBlocks;
    const long long gi = chunk / perImage;
    const long long block = (chunk % perImage) / plan.rowBlocks;
    const long long rowBlock = chunk % plan.rowBlocks;
    const long long i = firstImage + gi;
    const long long nRows = s.pool.nRows;
    const long long c0 = 1 + block * plan.blockB;
    const long long c1 = std::min<long long>(s.pool.nCols, c0 + plan.blockB - 1);
    const long long r0 = 1 + rowBlock * plan.rowsB;
    const long long r1 = std::min(nRows, r0 + plan.rowsB - 1);
    const long long n = r1 - r0 + 1;
    for (int k = 0; k < s.nRotations; ++k) {
        // Element by element over the block, so that each pooled column is
        // read for the whole block at once.
        for (long long c = c0; c <= c1; ++c) {
            double* S = scoresAt(plan, gi, i, k, c, r0);
            for (long long q = 0; q < n; ++q) S[q] = 0.0;
        }
        for (long long e = 0; e < s.nElements; ++e) {
            const Placed& p = plan.placed[k * s.nElements + e];
            const double* P = plan.pooled + (gi * plan.nNeeded + plan.slot[p.ori]) * plan.areaD;
            for (long long c = c0; c <= c1; ++c) addElement(plan, p, P, scoresAt(plan, gi, i, k, c, r0), c, r0, r1);
        }
        for (long long c = c0; c <= c1; ++c) {
            const long long at = i * plan.nPix + (c - 1) * nRows + (r0 - 1);
            takeBest(k == 0, scoresAt(plan, gi, i, k, c, r0), s.rotations[k], s.best + at, s.bestRotation + at, n);
        }
    }
}

// Pooled maps bigger than this many times the maps (plus a margin) are not
// made: such a call (shifts of thousands of pixels reaching far beyond
// small maps) is evaluated placement by placement instead.
constexpr long long MAX_POOLED_FACTOR = 4;

}  // namespace

void scoreMap(ScoreMapState& s)
{
    PoolState& pool = s.pool;
    if (pool.nImages == 0 || pool.nRows == 0 || pool.nCols == 0 || s.nRotations == 0) return;
    buildShiftTables(pool, shiftCacheLimit(pool));
    Plan plan;
    plan.s = &s;
    plan.nPix = mapElements(pool.nRows, pool.nCols);

    // Every element under every rotation, placed.
    const long long nPlaced = static_cast<long long>(s.nRotations) * s.nElements;
    Placed* placed = static_cast<Placed*>(allocZeroed(static_cast<std::size_t>(nPlaced), sizeof(Placed)));
    bool* irregularRows = static_cast<bool*>(allocZeroed(static_cast<std::size_t>(nPlaced), sizeof(bool)));
    bool* irregularCols = static_cast<bool*>(allocZeroed(static_cast<std::size_t>(nPlaced), sizeof(bool)));
    long long tableRows = 0, tableCols = 0;
    for (int k = 0; k < s.nRotations; ++k)
        for (long long e = 0; e < s.nElements; ++e) {
            const long long q = k * s.nElements + e;
            bool rowsRegular, colsRegular;
            placeElement(pool, s.elements[e], s.rotations[k], placed[q], rowsRegular, colsRegular, nullptr, nullptr);
            irregularRows[q] = !rowsRegular;
            irregularCols[q] = !colsRegular;
            tableRows += rowsRegular ? 0 : pool.nRows;
            tableCols += colsRegular ? 0 : pool.nCols;
        }
    // Where the rounding of the transform moves rows (or columns) unevenly,
    // each row's position is kept (rare: a turned offset within rounding of
    // half a pixel).
    if (tableRows + tableCols > 0) {
        long long* rows = static_cast<long long*>(allocZeroed(static_cast<std::size_t>(tableRows), sizeof(long long)));
        long long* cols = static_cast<long long*>(allocZeroed(static_cast<std::size_t>(tableCols), sizeof(long long)));
        long long* rowAt = rows;
        long long* colAt = cols;
        for (long long q = 0; q < nPlaced; ++q) {
            if (!irregularRows[q] && !irregularCols[q]) continue;
            const int k = static_cast<int>(q / (s.nElements > 0 ? s.nElements : 1));
            const long long e = q % (s.nElements > 0 ? s.nElements : 1);
            Placed again;
            bool rowsRegular, colsRegular;
            long long* rowTable = irregularRows[q] ? rowAt : nullptr;
            long long* colTable = irregularCols[q] ? colAt : nullptr;
            placeElement(pool, s.elements[e], s.rotations[k], again, rowsRegular, colsRegular, rowTable, colTable);
            placed[q].rowTable = rowTable;
            placed[q].colTable = colTable;
            if (rowTable) rowAt += pool.nRows;
            if (colTable) colAt += pool.nCols;
        }
    }
    plan.placed = placed;

    // The orientations needed, and how far any pooling reaches.
    int* slot = static_cast<int*>(allocZeroed(static_cast<std::size_t>(pool.N), sizeof(int)));
    int* needed = static_cast<int*>(allocZeroed(static_cast<std::size_t>(pool.N), sizeof(int)));
    for (int o = 0; o < pool.N; ++o) slot[o] = -1;
    plan.nNeeded = 0;
    long long reachRows = 0, reachCols = 0;
    long long minRow = 0, maxRow = -1, minCol = 0, maxCol = -1;
    for (long long q = 0; q < nPlaced; ++q) {
        const Placed& p = placed[q];
        if (slot[p.ori] < 0) {
            slot[p.ori] = plan.nNeeded;
            needed[plan.nNeeded++] = p.ori;
            long long rr, rc;
            shiftReach(pool, p.ori, rr, rc);
            reachRows = std::max(reachRows, rr);
            reachCols = std::max(reachCols, rc);
        }
        const long long r0 = placedRow(p, 1), r1 = placedRow(p, pool.nRows);
        const long long c0 = placedCol(p, 1), c1 = placedCol(p, pool.nCols);
        if (q == 0 || r0 < minRow) minRow = r0;
        if (q == 0 || r1 > maxRow) maxRow = r1;
        if (q == 0 || c0 < minCol) minCol = c0;
        if (q == 0 || c1 > maxCol) maxCol = c1;
    }
    plan.slot = slot;
    plan.needed = needed;
    // Beyond its reach from the map a position reads no sample.
    plan.D = {std::max(minRow, 1 - reachRows), std::min(maxRow, pool.nRows + reachRows),
              std::max(minCol, 1 - reachCols), std::min(maxCol, pool.nCols + reachCols)};
    if (rectRows(plan.D) == 0 || rectCols(plan.D) == 0) plan.D = {1, 0, 1, 0};
    const double areaD = static_cast<double>(rectRows(plan.D)) * static_cast<double>(rectCols(plan.D));
    if (areaD > static_cast<double>(MAX_POOLED_FACTOR) * static_cast<double>(plan.nPix) + 65536.0) {
        scoreMapDirect(s);
        return;
    }
    plan.areaD = static_cast<long long>(areaD);

    const double samples = (2.0 * pool.oriRange + 1 < pool.N ? 2.0 * pool.oriRange + 1 : pool.N) *
                           (2.0 * pool.shiftRange + 1 < 64 ? 2.0 * pool.shiftRange + 1 : 64);
    const double bytesPerImage = static_cast<double>(plan.nNeeded) * areaD * sizeof(double);
    plan.group = static_cast<int>(std::min<double>(pool.nImages, std::max(1.0, std::floor(GROUP_BYTES / std::max(bytesPerImage, 1.0)))));
    plan.pooled = static_cast<double*>(allocZeroed(
        static_cast<std::size_t>(plan.group) * static_cast<std::size_t>(plan.nNeeded) * static_cast<std::size_t>(plan.areaD),
        sizeof(double)));
    plan.scratch = nullptr;
    if (s.scores == nullptr && s.nRotations > 1)
        plan.scratch = static_cast<double*>(
            allocZeroed(static_cast<std::size_t>(plan.group) * static_cast<std::size_t>(plan.nPix), sizeof(double)));
    plan.blockA = blockFor(static_cast<double>(rectRows(plan.D)) * samples, rectCols(plan.D));
    plan.blocksA = rectCols(plan.D) > 0 ? (rectCols(plan.D) + plan.blockA - 1) / plan.blockA : 0;
    const double perColumnB = static_cast<double>(pool.nRows) * (static_cast<double>(nPlaced) + 1);
    plan.blockB = blockFor(perColumnB, pool.nCols);
    plan.blocksB = (pool.nCols + plan.blockB - 1) / plan.blockB;
    plan.rowsB = pool.nRows;
    if (perColumnB > CHUNK_WORK)
        plan.rowsB = std::max<long long>(1, static_cast<long long>(CHUNK_WORK / (static_cast<double>(nPlaced) + 1)));
    plan.rowBlocks = (pool.nRows + plan.rowsB - 1) / plan.rowsB;
    const double work = pool.nImages * (static_cast<double>(plan.nNeeded) * areaD * samples +
                                        static_cast<double>(plan.nPix) * (static_cast<double>(nPlaced) + 1));
    plan.threads = threadsFor(work, PARALLEL_WORK);
    // Pooling chunks: a few per thread, each with scratch for the windows'
    // maxima (pooling several orientations) while that stays near the size
    // of the pooled maps: turns + shifts passes instead of turns x shifts.
    const long long groupItems = static_cast<long long>(plan.group) * plan.nNeeded * plan.blocksA;
    plan.poolChunks = std::min<long long>(groupItems, POOL_CHUNKS_PER_THREAD * plan.threads);
    plan.windows = nullptr;
    plan.windowSize = 0;
    if (pool.oriRange > 0 && plan.poolChunks > 0) {
        plan.windowSize = poolScratch(pool, rectRows(plan.D), plan.blockA);
        if (static_cast<double>(plan.windowSize) * plan.poolChunks <= 2.0 * plan.group * plan.nNeeded * areaD + 65536)
            plan.windows = allocDoubles(static_cast<std::size_t>(plan.windowSize * plan.poolChunks));
    }

    for (int first = 0; first < pool.nImages; first += plan.group) {
        const int count = std::min(plan.group, pool.nImages - first);
        const long long items = static_cast<long long>(count) * plan.nNeeded * plan.blocksA;
        const long long chunks = std::min(items, plan.poolChunks);
        auto pooling = [&](long long chunk) { poolChunk(plan, first, items, chunks, chunk); };
        forEachChunk(chunks, plan.threads, pooling);
        auto scoring = [&](long long chunk) { scoreChunk(plan, first, chunk); };
        forEachChunk(static_cast<long long>(count) * plan.blocksB * plan.rowBlocks, plan.threads, scoring);
    }
}

namespace {

struct DirectPlan {
    const ScoreMapState* s;
    long long nPix;
    const TurnedPoint* turned;  // rotation k, element e at k * nElements + e
    double* scratch;            // nImages x nPix when the rotations' scores are not kept
    long long block, blocks;
};

void directChunk(const DirectPlan& p, long long chunk)
{
    const ScoreMapState& s = *p.s;
    const PoolState& pool = s.pool;
    const long long i = chunk / p.blocks;
    const long long c0 = 1 + (chunk % p.blocks) * p.block;
    const long long c1 = std::min<long long>(pool.nCols, c0 + p.block - 1);
    const long long at = (c0 - 1) * pool.nRows;
    const long long n = (c1 - c0 + 1) * pool.nRows;
    double* best = s.best + i * p.nPix + at;
    double* bestRotation = s.bestRotation + i * p.nPix + at;
    for (int k = 0; k < s.nRotations; ++k) {
        double* S;
        if (s.scores != nullptr)
            S = s.scores + (i * s.nRotations + k) * p.nPix + at;
        else if (s.nRotations == 1)
            S = best;
        else
            S = p.scratch + i * p.nPix + at;
        for (long long c = c0; c <= c1; ++c)
            for (long long r = 1; r <= pool.nRows; ++r) {
                double score = 0.0;
                for (long long e = 0; e < s.nElements; ++e) {
                    const TurnedPoint& t = p.turned[k * s.nElements + e];
                    const long long x = movedRow(pool, t, r), y = movedCol(pool, t, c);
                    MaxRecord record;
                    const double v = localMaximum(pool, static_cast<int>(i), t.ori, x, y, record);
                    score = score + (s.elements[e].weight * v - s.elements[e].bias);
                }
                S[(c - c0) * pool.nRows + (r - 1)] = score;
            }
        takeBest(k == 0, S, s.rotations[k], best, bestRotation, n);
    }
}

}  // namespace

void scoreMapDirect(ScoreMapState& s)
{
    PoolState& pool = s.pool;
    if (pool.nImages == 0 || pool.nRows == 0 || pool.nCols == 0 || s.nRotations == 0) return;
    if (pool.sinTheta == nullptr) buildShiftTables(pool, shiftCacheLimit(pool));
    DirectPlan p;
    p.s = &s;
    p.nPix = mapElements(pool.nRows, pool.nCols);
    const long long nPlaced = static_cast<long long>(s.nRotations) * s.nElements;
    TurnedPoint* turned = static_cast<TurnedPoint*>(allocZeroed(static_cast<std::size_t>(nPlaced), sizeof(TurnedPoint)));
    for (int k = 0; k < s.nRotations; ++k)
        for (long long e = 0; e < s.nElements; ++e)
            turned[k * s.nElements + e] = turnElement(pool, s.elements[e], s.rotations[k]);
    p.turned = turned;
    p.scratch = nullptr;
    if (s.scores == nullptr && s.nRotations > 1)
        p.scratch = static_cast<double*>(allocZeroed(static_cast<std::size_t>(pool.nImages) * p.nPix, sizeof(double)));
    const double samples = (2.0 * pool.oriRange + 1) * (2.0 * pool.shiftRange + 1);
    p.block = blockFor(static_cast<double>(pool.nRows) * (static_cast<double>(nPlaced) + 1) * std::min(samples, 64.0),
                       pool.nCols);
    p.blocks = (pool.nCols + p.block - 1) / p.block;
    const double work = static_cast<double>(pool.nImages) * p.nPix * (static_cast<double>(nPlaced) + 1) * samples;
    const int threads = threadsFor(work, PARALLEL_WORK);
    auto chunk = [&](long long c) { directChunk(p, c); };
    forEachChunk(static_cast<long long>(pool.nImages) * p.blocks, threads, chunk);
}

long long findPeaks(const double* best, const double* bestRotation, int nRows, int nCols, long long maxPeaks,
                    double minDistance, double* peaks, unsigned char* flags, long long* order)
{
    long long candidates = 0;
    for (long long c = 0; c < nCols; ++c)
        for (long long r = 0; r < nRows; ++r) {
            const long long p = r + c * nRows;
            const double v = best[p];
            bool peak = !std::isnan(v);
            for (long long dc = -1; dc <= 1 && peak; ++dc)
                for (long long dr = -1; dr <= 1 && peak; ++dr) {
                    const long long rr = r + dr, cc = c + dc;
                    if ((dr == 0 && dc == 0) || rr < 0 || rr >= nRows || cc < 0 || cc >= nCols) continue;
                    if (best[rr + cc * nRows] > v) peak = false;  // a NaN neighbour is passed over
                }
            flags[p] = 0;
            if (peak) order[candidates++] = p;
        }
    // Highest first; of equal scores the first in column-major order: a
    // total order, so any sort gives the same sequence.
    std::sort(order, order + candidates, [&](long long a, long long b) {
        if (best[a] != best[b]) return best[a] > best[b];
        return a < b;
    });
    const double reach2 = minDistance * minDistance;
    // Rows and columns a drop can reach: beyond the map's size it is all of it.
    const long long span = minDistance >= static_cast<double>(nRows) + nCols ? static_cast<long long>(nRows) + nCols
                                                                             : static_cast<long long>(std::ceil(minDistance));
    long long taken = 0;
    for (long long k = 0; k < candidates && taken < maxPeaks; ++k) {
        const long long p = order[k];
        if (flags[p]) continue;
        const long long r = p % nRows, c = p / nRows;
        double* out = peaks + 4 * taken;
        out[0] = static_cast<double>(r + 1);
        out[1] = static_cast<double>(c + 1);
        out[2] = bestRotation[p];
        out[3] = best[p];
        ++taken;
        flags[p] = 1;
        for (long long cc = std::max<long long>(0, c - span); cc <= std::min<long long>(nCols - 1, c + span); ++cc)
            for (long long rr = std::max<long long>(0, r - span); rr <= std::min<long long>(nRows - 1, r + span); ++rr) {
                const double dr = static_cast<double>(rr - r), dc = static_cast<double>(cc - c);
                if (dr * dr + dc * dc < reach2) flags[rr + cc * nRows] = 1;
            }
    }
    return taken;
}
