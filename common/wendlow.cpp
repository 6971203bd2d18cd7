// Wendlow's kernel: for every image of a batch, the rotation about the map centre and
// the one-pixel shift of a template under which the template scores best.
//
// Candidates are the rotations 0, 4, 8, ... orientation steps below a full
// turn (2N steps), each with every row and column shift of -1, 0 and +1.
// Where an element lands under a candidate, and which of its shifts stay
// inside the maps, does not depend on the image, so every placement is
// computed once per call; the images are then scored against that table (a
// few rotations at a time when it would be large). A placement whose every
// shift is inside pools with a plain maximum over precomputed offsets, and
// the nine shifts of a rotation, when all are inside, in one pass.
// Each candidate score is accumulated over the elements in ascending order,
// exactly as a per-image evaluation would do it.
#include "wendlow.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "alloc.h"
#include "cpu.h"
#include "threads.h"
#include "transform.h"

namespace {

// Rotations are tried every ROTATION_STEP orientation steps; each rotation
// comes with SHIFTS_PER_ROTATION (row, column) shifts in -1..1 x -1..1.
constexpr int ROTATION_STEP = 4;
constexpr int SHIFTS_PER_ROTATION = 9;

// The score every candidate must beat; a candidate at or below it never wins.
constexpr double NO_SCORE = -1000.0;

// At most this many bytes of placements are held at once, so that the table
// stays in cache while every image is scored against it; a larger template
// is searched in more passes, which costs nothing measurable.
constexpr std::size_t PLACEMENT_BUDGET = std::size_t(1) << 20;

// Work is counted in samples read (about 1.1 ns each), plus a few per
// pooling for its set-up and WORK_PER_PLACEMENT per placement (the point
// transform and the bisection of its shifts). Each thread gets at least
// PARALLEL_WORK of it (some 40 us), so two threads start from about 80 us
// of work. Measured with bench_Wendlow's threshold cases built with this at
// 1, on the 2-core machine under load (load average 5 to 8): a
// threaded call costs a fixed 5-10 us more, and with no idle core a 2-thread
// call took 1.28x the 1-thread time at 64 us of work, 1.03x at 132 us, so
// below about 80 to 100 us one thread is kept.
constexpr double PARALLEL_WORK = 38000;
constexpr double PLACEMENT_PARALLEL_WORK = 4 * PARALLEL_WORK;
constexpr double WORK_PER_POOLING = 4;

// The most work a chunk of the scoring is given (some 5 ms), so that the
// poll of a call (runChunks) is asked often enough to stop a long one soon.
constexpr double STOPPABLE_WORK = 4e6;
constexpr double WORK_PER_PLACEMENT = 40;

// Elements placed per chunk of the placement step. Small, so that a call
// has several chunks per thread even with few rotations: a chunk a helper
// has claimed must be waited for, and with both cores busy (two niced loops
// beside the benchmark) blocks of 256 left a one-image call with N = 4 and
// 200 elements two placement chunks, one per thread, and twice the
// 1-thread time; with blocks of 32 and the finer runs below, 1.0x.
constexpr long long PLACEMENT_BLOCK = 32;


int rotationCount(int N)
{
    return N / 2 + N % 2;
}

// Whether the nine candidates of one rotation, from placed[0] on, are its
// middle one moved by every row and column shift, with every shift inside
// the map. Rounding after the shift may move a turned point differently,
// so the table is asked rather than assumed, once as the rotation is placed
// (Placement::wholeRotation): asked again for every image, it was a sixth
// of a loop of 16-image calls.
bool rotationInside(const Placement* placed)
{
    const Placement& middle = placed[SHIFTS_PER_ROTATION / 2];
    for (int c = 0; c < SHIFTS_PER_ROTATION; ++c) {
        const Placement& at = placed[c];
        if (!at.run.whole || at.ori != middle.ori || at.x != middle.x + (c / 3 - 1) ||
            at.y != middle.y + (c % 3 - 1))
            return false;
    }
    return true;
}

// The placements of elements firstElement.. under candidates firstCandidate..:
// rotation about (nRows/2, nCols/2), then the shift. Element-major, so that
// scoring visits one element under neighbouring candidates in a row and
// finds its samples still in cache. An element is turned once per rotation
// and then moved by each of that rotation's shifts: the trigonometry is the
// costly part, and the two steps give the bits of the one-step transform.
void placeElements(const WendlowState& s, long long firstCandidate, long long candidates, long long firstElement,
                   long long elements, int scoringThreads)
{
    const int cx = s.pool.nRows / 2;
    const int cy = s.pool.nCols / 2;
    const long long lastCandidate = firstCandidate + candidates;  // exclusive
    const long long firstRotation = firstCandidate / SHIFTS_PER_ROTATION;
    const long long rotations = (lastCandidate - 1) / SHIFTS_PER_ROTATION - firstRotation + 1;
    const long long blocks = (elements + PLACEMENT_BLOCK - 1) / PLACEMENT_BLOCK;
    auto placeBlock = [&](long long chunk) {
        const long long rot = firstRotation + chunk / blocks;
        const long long kFrom = (chunk % blocks) * PLACEMENT_BLOCK;
        const long long kTo = std::min(elements, kFrom + PLACEMENT_BLOCK);
        const int r = ROTATION_STEP * static_cast<int>(rot);
        const long long cFrom = std::max(firstCandidate, rot * SHIFTS_PER_ROTATION);
        const long long cTo = std::min(lastCandidate, (rot + 1) * SHIFTS_PER_ROTATION);
        for (long long k = kFrom; k < kTo; ++k) {
            const Element& el = s.elements[firstElement + k];
            const TurnedPoint turned = turnPoint(s.pool.N, cx, cy, el.x, el.y, el.ori, r);
            Placement* row = s.placements + k * s.candidatesPerPass;
            for (long long c = cFrom; c < cTo; ++c) {
                const int dx = static_cast<int>(c % SHIFTS_PER_ROTATION) / 3 - 1;
                const int dy = static_cast<int>(c % 3) - 1;
                long long xyo[3];
                shiftTurnedPoint(turned, cx, cy, dx, dy, xyo);
                const int ori = static_cast<int>(xyo[2]);
                row[c - firstCandidate] = {xyo[0], xyo[1], ori, mapShifts(s.pool, ori, xyo[0], xyo[1]), false};
            }
            Placement* first = row + (cFrom - firstCandidate);
            if (cTo - cFrom == SHIFTS_PER_ROTATION) first->wholeRotation = rotationInside(first);
        }
    };
    const double work = static_cast<double>(candidates) * static_cast<double>(elements) * WORK_PER_PLACEMENT;
    // Placing is the short step of a search: split as finely as the scoring
    // when the scoring after it is split, else only when long on its own. A
    // one-image call with 200 elements spread its 40 us of placing over 2
    // threads and, with both cores busy, took 1.3x the 1-thread time for it,
    // while gaining nothing on idle cores; in a loop of calls of 16 images
    // (helpers awake), placing alone on the caller was a sixth of the call.
    const double minPerThread = scoringThreads > 1 ? PARALLEL_WORK : PLACEMENT_PARALLEL_WORK;
    forEachChunk(rotations * blocks, threadsFor(work, minPerThread), placeBlock);
}

double poolPlacement(const PoolState& pool, ImageMaps maps, const Placement& at, bool fast)
{
    if (at.run.whole && fast) return poolInside(pool, maps, at.ori, linearIndex(at.x, at.y, pool.nRows, pool.nCols));
    MaxRecord record;
    return poolRun(pool, maps, at.ori, at.x, at.y, at.run, record);
}

// The nine candidates' values from a rotation's running maxima: best[b]
// holds row shifts -1 and 0 of column shift b - 1, last[b] row shift +1.
void rotationValues(const PoolState& s, const Pair* best, const double* last, double* values)
{
    for (int b = 0; b < 3; ++b) {
        const double pooled[3] = {best[b][0], best[b][1], last[b]};
        for (int a = 0; a < 3; ++a)
            values[3 * a + b] = pooled[a] > s.saturation ? s.saturation : pooled[a];
    }
}

// poolInside of the nine candidates of one rotation (rotationInside), into
// values[c]. Candidates c and c + 3 read neighbouring samples in storage
// order, so one pass over the middle candidate's window takes every
// candidate's samples, two of them per load. A pooling's value is the
// largest of +0 and its samples that are not NaNs, whatever their order
// (see poolInsideWindow), so the values are poolInside's. Needs
// insideWindow.
void poolRotation(const PoolState& s, ImageMaps m, const Placement& middle, double* values)
{
    const double* window[INSIDE_TURNS];
    windowAt(s, m, middle.ori, linearIndex(middle.x, middle.y, s.nRows, s.nCols), window);
    const int turns = 2 * s.oriRange + 1;
    const long long width = 2LL * s.shiftRange + 1;
    const std::ptrdiff_t* at = s.shiftAt + static_cast<std::ptrdiff_t>(middle.ori) * width;
    const std::ptrdiff_t column = s.nRows;
    // best[b]: row shifts -1 and 0 of column shift b - 1; last[b]: row shift +1.
    Pair best[3] = {{0.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}};
    double last[3] = {0.0, 0.0, 0.0};
    for (int j = 0; j < turns; ++j)
        for (long long i = 0; i < width; ++i) {
            const double* sample = window[j] + at[i] - column;
#pragma GCC unroll 3
            for (int b = 0; b < 3; ++b, sample += column) {
                Pair v;
                std::memcpy(&v, sample - 1, sizeof v);
                best[b] = v > best[b] ? v : best[b];
                last[b] = sample[1] > last[b] ? sample[1] : last[b];
            }
        }
    rotationValues(s, best, last, values);
}

// Rotations ahead of the one being pooled whose lines are asked for
// (requestRotation): on 32 and 128 images of 128^2 x 16, 3 to 8 ahead
// gave much the same time, 2 some 10 % more.
constexpr long long ROTATIONS_AHEAD = 4;

// Bytes of maps from which on the requests pay. Below, the samples come
// from the caches and the requests only add instructions. Through the host,
// 1 thread, the same batch call after call, with requests against none:
// 16 to 64 images of 48^2 x 4 (1.1 to 4.5 MB) 1.29-1.30x, 2 and 4 MB of
// 64^2 or 128^2 maps 1.02-1.09x; 128 images of 48^2 x 4 (9 MB) 0.67x, 8 MB
// of 64^2 or 128^2 maps 0.86x and 1.15x, 16 MB 1.00x. A batch read from
// memory gains far more (ROTATIONS_AHEAD).
constexpr double REQUESTS_FROM = 6.0 * (1 << 20);

// Per orientation, how far its shifts move a sample (host memory for this
// call), worked out once a call rather than for every rotation of every
// image; nullptr where the shift tables are not held or the batch is too
// small for requests to pay (REQUESTS_FROM).
const ShiftReach* shiftReaches(const PoolState& s)
{
    if (s.shiftX == nullptr || s.shiftY == nullptr || mapBytes(s) <= REQUESTS_FROM) return nullptr;
    const long long width = 2LL * s.shiftRange + 1;
    ShiftReach* reaches = static_cast<ShiftReach*>(allocZeroed(static_cast<std::size_t>(s.N), sizeof(ShiftReach)));
    for (int k = 0; k < s.N; ++k)
        for (long long i = 0; i < width; ++i) {
            reaches[k].rows = std::max(reaches[k].rows, std::abs(s.shiftX[k * width + i]));
            reaches[k].columns = std::max(reaches[k].columns, std::abs(s.shiftY[k * width + i]));
        }
    return reaches;
}

// Whether the square about a rotation's middle sample that holds every
// sample its nine candidates pool (its shifts' reach, and one more row and
// column for the candidates) lies inside the maps. A whole rotation implies
// it wherever a shift and its opposite move a sample alike, as at every
// angle tried; the requests keep the check as their own guard.
bool squareInside(const PoolState& s, const Placement& middle, ShiftReach reach)
{
    return middle.x - reach.rows - 1 >= 1 && middle.x + reach.rows + 1 <= s.nRows &&
           middle.y - reach.columns - 1 >= 1 && middle.y + reach.columns + 1 <= s.nCols;
}

// Asks for the lines poolRotation will read for the rotation whose first
// candidate is placed[q] (if it is whole): the square about its middle
// sample, column by column, in each orientation of its window. Asked for a
// few rotations ahead, these misses are in flight while the rotations
// before are pooled, where the pooling's own loads wait behind its
// comparisons (through the host, 1 thread: 32 images of 128^2 x 16, beyond
// the caches, 43-57 and 128 images 43-51 us an image, where copying each
// rotation's samples out before pooling them took 89-110 and 90-100, and
// pooling with no requests half as long again). A hint only: it reads no
// value.
void requestRotation(const PoolState& s, ImageMaps m, const Placement* placed, long long q, long long qTo,
                     const ShiftReach* reaches)
{
    if (q + SHIFTS_PER_ROTATION > qTo || !placed[q].wholeRotation) return;
    const Placement& middle = placed[q + SHIFTS_PER_ROTATION / 2];
    const ShiftReach reach = reaches[middle.ori];
    if (!squareInside(s, middle, reach)) return;
    const std::ptrdiff_t corner =
        linearIndex(middle.x - reach.rows - 1, middle.y - reach.columns - 1, s.nRows, s.nCols);
    const int rows = 2 * reach.rows + 3;
    int o = middle.ori - s.oriRange;
    if (o < 0) o += s.N;
    for (int j = -s.oriRange; j <= s.oriRange; ++j) {
        const double* column = m.maps[o * m.stride] + corner;
        for (int c = 0; c < 2 * reach.columns + 3; ++c, column += s.nRows) {
            for (int r = 0; r < rows - 1; r += LINE_DOUBLES) requestLine(column + r);
            requestLine(column + rows - 1);
        }
        if (++o == s.N) o = 0;
    }
}

// Scores on image p of the pass's candidates qFrom..qTo-1 (qFrom begins a
// rotation) over the pass's elements, continuing each candidate's sum over
// the earlier elements: every slot still adds its elements in ascending
// order. Writes only image p's slots of those candidates, so chunks may run
// concurrently.
void scoreChunk(const WendlowState& s, int p, long long qFrom, long long qTo, long long firstCandidate,
                long long firstElement, long long elements)
{
    const PoolState& pool = s.pool;
    const ImageMaps maps = imageMaps(pool, p);
    const bool fast = insideWindow(pool);
    // Image-major, so that threads scoring different images never write to
    // the same cache line.
    double* slots = s.transformScores + static_cast<long long>(p) * s.nCandidates + firstCandidate;
    if (firstElement == 0)
        for (long long q = qFrom; q < qTo; ++q) slots[q] = 0.0;
    // The rotation ROTATIONS_AHEAD after the one being pooled (or as many
    // as the run holds): this element's, or the next one's.
    const long long span = (qTo - qFrom + SHIFTS_PER_ROTATION - 1) / SHIFTS_PER_ROTATION * SHIFTS_PER_ROTATION;
    const long long aheadBy = std::min(ROTATIONS_AHEAD * SHIFTS_PER_ROTATION, span);
    auto requestAhead = [&](long long k, const Placement* placed, long long q) {
        const long long ahead = q + aheadBy;
        if (ahead < qTo)
            requestRotation(pool, maps, placed, ahead, qTo, s.reaches);
        else if (k + 1 < elements)
            requestRotation(pool, maps, placed + s.candidatesPerPass, ahead - span, qTo, s.reaches);
    };
    for (long long k = 0; k < elements; ++k) {
        const Placement* placed = s.placements + k * s.candidatesPerPass;
        const Element& el = s.elements[firstElement + k];
        for (long long q = qFrom; q < qTo; q += SHIFTS_PER_ROTATION) {
            const long long end = std::min(qTo, q + SHIFTS_PER_ROTATION);
            if (fast && end - q == SHIFTS_PER_ROTATION && placed[q].wholeRotation) {
                if (s.reaches != nullptr) requestAhead(k, placed, q);
                double v[SHIFTS_PER_ROTATION];
                poolRotation(pool, maps, placed[q + SHIFTS_PER_ROTATION / 2], v);
                for (int c = 0; c < SHIFTS_PER_ROTATION; ++c) {
                    double& slot = slots[q + c];
                    slot = slot + (el.weight * v[c] - el.bias);
                }
                continue;
            }
            for (long long c = q; c < end; ++c) {
                const double v = poolPlacement(pool, maps, placed[c], fast);
                double& slot = slots[c];
                slot = slot + (el.weight * v - el.bias);
            }
        }
    }
}

// Threads the scoring of a pass deserves.
int scoringThreads(const WendlowState& s, long long candidates, long long elements)
{
    const double samples = (2.0 * s.pool.shiftRange + 1) * (2.0 * s.pool.oriRange + 1) + WORK_PER_POOLING;
    const double work = static_cast<double>(s.pool.nImages) * static_cast<double>(candidates) *
                        static_cast<double>(elements) * samples;
    return threadsFor(work, PARALLEL_WORK);
}

// Every image's scores of the pass's candidates: by images, and when there
// are fewer images than threads also by runs of candidates.
void scorePass(const WendlowState& s, long long firstCandidate, long long candidates, long long firstElement,
               long long elements, int threads)
{
    const int nImages = s.pool.nImages;
    // Some 8 chunks a thread (see PLACEMENT_BLOCK), of whole rotations: a
    // pass begins a rotation, so run ends at multiples of its size keep
    // every rotation in one chunk.
    const long long rotations = (candidates + SHIFTS_PER_ROTATION - 1) / SHIFTS_PER_ROTATION;
    long long runs = 1;
    if (nImages < threads) runs = std::min(rotations, (8LL * threads + nImages - 1) / nImages);
    // And no chunk much longer than STOPPABLE_WORK on any thread count, so
    // that a long call can be stopped between chunks (runChunks). Runs split
    // the candidates, never an element's sum: the same bits.
    const double samples = (2.0 * s.pool.shiftRange + 1) * (2.0 * s.pool.oriRange + 1) + WORK_PER_POOLING;
    const double imageWork = static_cast<double>(candidates) * static_cast<double>(elements) * samples;
    if (imageWork > STOPPABLE_WORK)
        runs = std::max(runs, std::min(rotations, static_cast<long long>(std::ceil(imageWork / STOPPABLE_WORK))));
    auto runEnd = [&](long long run) {
        return std::min(candidates, rotations * run / runs * SHIFTS_PER_ROTATION);
    };
    auto scoreOne = [&](long long c) {
        const long long run = c % runs;
        scoreChunk(s, static_cast<int>(c / runs), runEnd(run), runEnd(run + 1), firstCandidate, firstElement,
                   elements);
    };
    forEachChunk(nImages * runs, threads, scoreOne);
}

// Reads and writes the result arrays through the caller's pointers, in the
// order a plain evaluation does, so that a caller who passes one array for
// two results sees the same values as from that evaluation. Nothing is read
// after these writes but the scores of this call.
void selectBest(const WendlowState& s)
{
    const std::size_t nImages = static_cast<std::size_t>(s.pool.nImages);
    for (std::size_t p = 0; p < nImages; ++p) {
        s.bestScores[p] = NO_SCORE;
        std::size_t q = 0;
        for (int rot = 0; rot < s.nRotations; ++rot) {
            const int r = ROTATION_STEP * rot;
            for (int dx = -1; dx <= 1; ++dx)
                for (int dy = -1; dy <= 1; ++dy, ++q) {
                    const double score = s.transformScores[p * static_cast<std::size_t>(s.nCandidates) + q];
                    if (score > s.bestScores[p]) {
                        s.bestScores[p] = score;
                        s.bestDeltaX[p] = dx;
                        s.bestDeltaY[p] = dy;
                        s.bestDeltaOri[p] = r;
                    }
                }
        }
    }
}

// Every candidate slot is scored independently of the others, and each
// slot's sum runs over the elements in ascending order across passes, so
// scoring in passes gives the same bits as one pass.
void searchTransforms(const WendlowState& s)
{
    if (s.nPlaced == 0) {
        std::fill(s.transformScores, s.transformScores + s.nCandidates * s.pool.nImages, 0.0);
    } else {
        for (long long q = 0; q < s.nCandidates; q += s.candidatesPerPass) {
            const long long candidates = std::min(s.candidatesPerPass, s.nCandidates - q);
            for (long long k = 0; k < s.nPlaced; k += s.elementsPerPass) {
                const long long elements = std::min(s.elementsPerPass, s.nPlaced - k);
                const int threads = scoringThreads(s, candidates, elements);
                placeElements(s, q, candidates, k, elements, threads);
                scorePass(s, q, candidates, k, elements, threads);
            }
        }
    }
    if (!chunksStopped()) selectBest(s);  // a stopped call's scores are not all written
}

// Scratch that the search writes in full before reading it: not zeroed.
struct Scratch {
    std::unique_ptr<void, void (*)(void*)> placements{nullptr, std::free};
    std::unique_ptr<void, void (*)(void*)> scores{nullptr, std::free};
    void release()
    {
        placements.reset();
        scores.reset();
    }
};

// The pass sizes, the placement table and the score buffer (sized by the
// real candidate count). A pass holds as many candidates' placements as fit
// PLACEMENT_BUDGET, or part of one candidate's elements when even one does
// not fit. With no image or no element nothing is placed.
void allocateSearch(WendlowState& s, Scratch& scratch)
{
    const long long nImages = s.pool.nImages;
    s.nRotations = rotationCount(s.pool.N);
    s.nCandidates = static_cast<long long>(s.nRotations) * SHIFTS_PER_ROTATION;
    s.nPlaced = nImages > 0 ? elementCount(s.tpl) : 0;
    // Passes hold whole rotations, which are pooled together (poolRotation);
    // a template too large for one rotation is split by elements.
    const long long fit = static_cast<long long>(PLACEMENT_BUDGET / sizeof(Placement));
    if (s.nPlaced * SHIFTS_PER_ROTATION <= fit) {
        s.elementsPerPass = s.nPlaced;
        s.candidatesPerPass = s.nPlaced > 0 ? std::min(s.nCandidates, fit / s.nPlaced / SHIFTS_PER_ROTATION *
                                                                          SHIFTS_PER_ROTATION)
                                            : s.nCandidates;
    } else {
        s.elementsPerPass = fit / SHIFTS_PER_ROTATION;
        s.candidatesPerPass = SHIFTS_PER_ROTATION;
    }
    const std::size_t placed = static_cast<std::size_t>(s.candidatesPerPass * s.elementsPerPass);
    const std::size_t scores = static_cast<std::size_t>(s.nCandidates) * static_cast<std::size_t>(nImages);
    if (nImages > 0 && static_cast<std::size_t>(s.nCandidates) > SIZE_MAX / sizeof(double) / static_cast<std::size_t>(nImages))
        outOfMemoryError("cannot hold %lld candidate scores for each of %lld images", s.nCandidates, nImages);
    scratch.placements.reset(placed > 0 ? std::malloc(placed * sizeof(Placement)) : nullptr);
    scratch.scores.reset(scores > 0 ? std::malloc(scores * sizeof(double)) : nullptr);
    if ((placed > 0 && !scratch.placements) || (scores > 0 && !scratch.scores)) {
        scratch.release();
        outOfMemoryError("cannot allocate the search tables (%zu placements, %zu scores)", placed,
                     scores);
    }
    s.placements = static_cast<Placement*>(scratch.placements.get());
    s.transformScores = static_cast<double*>(scratch.scores.get());

}

}  // namespace

void searchTransform(WendlowState& s)
{
    if (s.pool.nImages == 0) return;  // nothing to search, nothing written
    s.elements = copyElements(s.tpl);
    Scratch scratch;
    allocateSearch(s, scratch);
    if (s.nPlaced > 0 && s.nCandidates > 0) buildShiftTables(s.pool, shiftCacheLimit(s.pool));
    s.reaches = s.nPlaced > 0 && s.nCandidates > 0 ? shiftReaches(s.pool) : nullptr;
    searchTransforms(s);
}
