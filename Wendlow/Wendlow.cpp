// Wendlow: for every image of a batch, the rotation about the map centre and
// the one-pixel shift of a template under which the template scores best.
//
// Candidates are the rotations 0, 4, 8, ... orientation steps below a full
// turn (2N steps), each with every row and column shift of -1, 0 and +1.
// Where an element lands under a candidate does not depend on the image, so
// every placement is computed once per call; the images are then scored
// against that table (a few rotations at a time when it would be large).
// Each candidate score is accumulated over the elements in ascending order,
// exactly as a per-image evaluation would do it.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "alloc.h"
#include "args.h"
#include "pooling.h"
#include "template_args.h"
#include "threads.h"
#include "transform.h"

namespace {

enum WendlowArg {
    ARG_BEST_SCORES = ARG_SCORES,  // 20: Halvery accumulates here, Wendlow overwrites
    ARG_BEST_DELTA_X = 26,
    ARG_BEST_DELTA_Y = 27,
    ARG_BEST_DELTA_ORI = 28,
    WENDLOW_ARGS = 29
};

const char* const argNames[WENDLOW_ARGS] = {
    "nImages", "N", "responseMaps", nullptr, "patchHalf", "nRows", "nCols", nullptr,
    "elemOri", "elemX", "elemY", "elemWeight", "elemBias", "patches", "renderMaps",
    "shiftRange", "oriRange", "shiftStep", "nElements", "saturation", "bestScores", "pooledValues",
    nullptr, nullptr, nullptr, nullptr, "bestDeltaX", "bestDeltaY", "bestDeltaOri"};

// Rotations are tried every ROTATION_STEP orientation steps; each rotation
// comes with SHIFTS_PER_ROTATION (row, column) shifts in -1..1 x -1..1.
constexpr int ROTATION_STEP = 4;
constexpr int SHIFTS_PER_ROTATION = 9;

// The score every candidate must beat; a candidate at or below it never wins.
constexpr double NO_SCORE = -1000.0;

// Rotations up to 2N steps must fit an int, as geometricTransform takes them.
constexpr int MAX_ORIENTATIONS = 1 << 30;

// At most this many bytes of placements are held at once.
constexpr std::size_t PLACEMENT_BUDGET = std::size_t(1) << 26;

// Below this many poolings (about a millisecond of work) a call stays on
// the caller's thread: starting and joining a thread team costs more than it
// saves, and far more when the other cores are busy.
constexpr double PARALLEL_POOLINGS = 65536;

// Where one element lands under one candidate. Positions are 64-bit because
// elements may lie anywhere in the int range and still turn exactly.
struct Placement {
    long long x;
    long long y;
    int ori;
};

// Everything one call reads and writes, filled by the gateway.
struct WendlowState {
    PoolState pool;
    Template tpl;
    double* bestScores;    // nImages, overwritten
    double* bestDeltaX;    // nImages, written when a candidate wins
    double* bestDeltaY;
    double* bestDeltaOri;
    int nRotations;        // rotations r = 0, 4, ... below 2N: ceil(N/2)
    int rotationsPerPass;  // rotations whose placements are held at once
    std::size_t nPlaced;   // elements placed per candidate (0 when there is no image)
    Placement* placements;    // rotationsPerPass*9 x nPlaced: a pass's candidate q, element k at q*nPlaced + k
    double* transformScores;  // candidate q of image p at q*nImages + p
};

int rotationCount(int N)
{
    return N / 2 + N % 2;
}

// The placements of every element under the candidates of rotations
// firstRotation .. firstRotation+rotations-1: rotation about (nRows/2,
// nCols/2), then the shift.
void placeElements(WendlowState& s, int firstRotation, int rotations)
{
    const Template& t = s.tpl;
    const int cx = s.pool.nRows / 2;
    const int cy = s.pool.nCols / 2;
    Placement* out = s.placements;
    for (int rot = firstRotation; rot < firstRotation + rotations; ++rot) {
        const int r = ROTATION_STEP * rot;
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                for (std::size_t k = 0; k < s.nPlaced; ++k) {
                    long long xyo[3];
                    geometricTransform(s.pool.N, cx, cy, static_cast<int>(t.elemX[k]), static_cast<int>(t.elemY[k]),
                                       static_cast<int>(t.elemOri[k]), dx, dy, r, xyo);
                    *out++ = {xyo[0], xyo[1], static_cast<int>(xyo[2])};
                }
    }
}

// The scores on image p of the candidates placed in this pass, the first of
// them being candidate firstCandidate. Reads caller data and the tables,
// writes only image p's slots, so images may be scored concurrently.
void scoreImage(const WendlowState& s, int p, std::size_t firstCandidate, std::size_t candidates)
{
    const Template& t = s.tpl;
    const std::size_t nImages = static_cast<std::size_t>(s.pool.nImages);
    for (std::size_t q = 0; q < candidates; ++q) {
        const Placement* placed = s.placements + q * s.nPlaced;
        double score = 0.0;
        for (std::size_t k = 0; k < s.nPlaced; ++k) {
            MaxRecord record;
            const double v = localMaximum(s.pool, p, placed[k].ori, placed[k].x, placed[k].y, record);
            score = score + (t.elemWeight[k] * v - t.elemBias[k]);
        }
        s.transformScores[(firstCandidate + q) * nImages + static_cast<std::size_t>(p)] = score;
    }
}

void scoreCandidates(const WendlowState& s, std::size_t firstCandidate, std::size_t candidates)
{
    const int nImages = s.pool.nImages;
    const double poolings =
        static_cast<double>(nImages) * static_cast<double>(candidates) * static_cast<double>(s.nPlaced);
    auto scoreOne = [&](long long p) { scoreImage(s, static_cast<int>(p), firstCandidate, candidates); };
    forEachChunk(nImages, threadsFor(poolings, PARALLEL_POOLINGS), scoreOne);
}

// Reads and writes the result arrays through the caller's pointers, in the
// order a plain evaluation does, so that a caller who passes one array for
// two results sees the same values as from that evaluation.
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
                    const double score = s.transformScores[q * nImages + p];
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

// Every candidate slot is scored independently of the others, so scoring
// the candidates a few rotations at a time gives the same bits as one pass.
void searchTransforms(WendlowState& s)
{
    for (int first = 0; first < s.nRotations; first += s.rotationsPerPass) {
        const int rotations = std::min(s.rotationsPerPass, s.nRotations - first);
        placeElements(s, first, rotations);
        scoreCandidates(s, static_cast<std::size_t>(first) * SHIFTS_PER_ROTATION,
                        static_cast<std::size_t>(rotations) * SHIFTS_PER_ROTATION);
    }
    selectBest(s);
}

// The placement table and the score buffer. The buffer is sized by the real
// candidate count. The table holds every candidate's placements unless that
// exceeds PLACEMENT_BUDGET; then it holds as many rotations as fit (at least
// one), and the search runs in passes. With no image nothing is placed.
void allocateSearch(const Gateway& g, WendlowState& s)
{
    s.nRotations = rotationCount(s.pool.N);
    const std::size_t nImages = static_cast<std::size_t>(s.pool.nImages);
    s.nPlaced = nImages > 0 ? static_cast<std::size_t>(elementCount(s.tpl)) : 0;
    const std::size_t perRotation = SHIFTS_PER_ROTATION * s.nPlaced;
    const std::size_t fit = perRotation > 0 ? PLACEMENT_BUDGET / (perRotation * sizeof(Placement)) : SIZE_MAX;
    s.rotationsPerPass = static_cast<int>(std::max<std::size_t>(1, std::min<std::size_t>(fit, s.nRotations)));
    s.placements = static_cast<Placement*>(allocZeroed(s.rotationsPerPass * perRotation, sizeof(Placement)));

    const std::size_t nCandidates = static_cast<std::size_t>(s.nRotations) * SHIFTS_PER_ROTATION;
    if (nImages > 0 && nCandidates > SIZE_MAX / nImages)
        gatewayError(g, "outOfMemory", "cannot hold %zu candidate scores for each of %zu images", nCandidates, nImages);
    s.transformScores = allocDoubles(nCandidates * nImages);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"Wendlow", nrhs, prhs, argNames};
    rejectOutputs(g, nlhs, "otk_search_transform");
    requireInputs(g, WENDLOW_ARGS);

    WendlowState s;
    readTemplateCall(g, s.pool, s.tpl);
    if (s.pool.N > MAX_ORIENTATIONS)
        argError(g, ARG_N, "N", "must not exceed %d (it is %d)", MAX_ORIENTATIONS, s.pool.N);
    const long long nImages = s.pool.nImages;
    s.bestScores = dataArg(g, ARG_BEST_SCORES, nImages);
    s.bestDeltaX = dataArg(g, ARG_BEST_DELTA_X, nImages);
    s.bestDeltaY = dataArg(g, ARG_BEST_DELTA_Y, nImages);
    s.bestDeltaOri = dataArg(g, ARG_BEST_DELTA_ORI, nImages);

    buildShiftTables(s.pool);
    allocateSearch(g, s);
    searchTransforms(s);
}
