// Wendlow through its gateway, with the host-free stand-in.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "standin.h"
#include "template_call.h"
#include "threads.h"
#include "transform.h"
#include "wendlow_reference.h"

using namespace standin;

namespace {

constexpr int ARGS = 29;

struct Results {
    std::vector<double> best, dx, dy, dori;
    bool operator==(const Results& o) const
    {
        auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
            return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
        };
        return same(best, o.best) && same(dx, o.dx) && same(dy, o.dy) && same(dori, o.dori);
    }
};

Results results(const TemplateCall& c)
{
    return {values(c.scores), values(c.bestDeltaX), values(c.bestDeltaY), values(c.bestDeltaOri)};
}

void presetParameters(TemplateCall& c, double dx, double dy, double dori)
{
    values(c.bestDeltaX).assign(c.nImages, dx);
    values(c.bestDeltaY).assign(c.nImages, dy);
    values(c.bestDeltaOri).assign(c.nImages, dori);
}

void run(const TemplateCall& c, std::optional<double> nElementsArg = std::nullopt)
{
    call("Wendlow", mexFunction, c.inputs(ARGS, nElementsArg));
}

Results runResults(const TemplateCall& c)
{
    run(c);
    return results(c);
}

Results reference(const TemplateCall& c)
{
    Results r = results(c);
    plainSearch(c, static_cast<int>(c.elemOri.size()), r.best.data(), r.dx.data(), r.dy.data(), r.dori.data());
    return r;
}

// One 9 x 9 image, N = 4 (centre (4, 4)), one element at (6, 4) of
// orientation 0; a single response of 1 at (3, 5), which the half turn
// shifted by (1, 1) reaches.
TemplateCall workedCall()
{
    TemplateCall c;
    c.N = 4;
    c.nRows = c.nCols = 9;
    c.addElement(0, 6, 4, 1, 0);
    c.allocate();
    c.response(0, 0, 3, 5) = 1;
    presetParameters(c, 7, 8, 9);
    return c;
}

// Elements anywhere (orientations outside 0..N-1, positions outside the
// maps), mixed-sign weights and responses, a few NaNs.
TemplateCall randomCall(std::mt19937& rng, int nImages, int N, int nElements, int side = 0)
{
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    TemplateCall c;
    c.nImages = nImages;
    c.N = N;
    c.nRows = side > 0 ? side : pick(5, 14);
    c.nCols = side > 0 ? side + 1 : pick(5, 14);
    c.shiftRange = pick(0, 2);
    c.oriRange = std::min(N, pick(0, 2));
    c.shiftStep = pick(-1, 2);
    c.saturation = uniform(0.3, 1.6);
    for (int k = 0; k < nElements; ++k)
        c.addElement(uniform(-2.0 * N, 3.0 * N), uniform(-3, c.nRows + 3), uniform(-3, c.nCols + 3),
                     uniform(-1, 2), uniform(-0.5, 0.5));
    c.allocate();
    for (int i = 0; i < nImages; ++i)
        for (int o = 0; o < N; ++o)
            for (double& v : c.map(i, o)) v = pick(0, 50) == 0 ? NAN : uniform(-0.5, 1.5);
    presetParameters(c, 7, 8, 9);
    return c;
}

}  // namespace

TEST(Wendlow, WorkedHalfTurn)
{
    TemplateCall c = workedCall();
    EXPECT_EQ(runResults(c), (Results{{1}, {1}, {1}, {4}}));
    // Orientations are used modulo N after truncation: -1.7 is -1, that is 3.
    TemplateCall m = workedCall();
    m.elemOri = {-1.7};
    m.allocate();
    m.response(0, 3, 3, 5) = 1;
    EXPECT_EQ(runResults(m), (Results{{1}, {1}, {1}, {4}}));
}

TEST(Wendlow, EqualScoresGoToTheFirstCandidate)
{
    TemplateCall c = workedCall();
    c.response(0, 0, 3, 5) = 0;
    const Results first{{0}, {-1}, {-1}, {0}};
    EXPECT_EQ(runResults(c), first);
    for (double nElements : {0.0, 0.9, -3.0}) {
        presetParameters(c, 7, 8, 9);
        values(c.scores) = {5};
        c.response(0, 0, 3, 5) = 1;
        run(c, nElements);
        EXPECT_EQ(results(c), first) << nElements;
    }
}

TEST(Wendlow, NothingAboveTheStartingScoreKeepsTheParameters)
{
    TemplateCall c = workedCall();
    c.elemBias = {1001};
    c.response(0, 0, 3, 5) = 0;
    EXPECT_EQ(runResults(c), (Results{{-1000}, {7}, {8}, {9}}));

    TemplateCall none;  // N = 0: no candidate at all
    none.N = 0;
    none.nImages = 2;
    none.addElement(0, 1, 1, 1, 0);
    none.allocate();
    presetParameters(none, 7, 8, 9);
    EXPECT_EQ(runResults(none), (Results{{-1000, -1000}, {7, 7}, {8, 8}, {9, 9}}));
}

TEST(Wendlow, WeightBiasSaturationAndTiesBetweenRotations)
{
    TemplateCall c = workedCall();
    c.elemWeight = {3};
    c.elemBias = {1};
    c.saturation = 2;
    c.response(0, 0, 3, 5) = 0;
    c.response(0, 0, 6, 4) = 5;
    EXPECT_EQ(runResults(c), (Results{{5}, {0}, {0}, {0}}));
    // Alone, the response at (2, 4) is found by the unshifted half turn ...
    c.response(0, 0, 6, 4) = 0;
    c.response(0, 0, 2, 4) = 5;
    EXPECT_EQ(runResults(c), (Results{{5}, {0}, {0}, {4}}));
    // ... and with both, the smaller rotation wins the tie.
    c.response(0, 0, 6, 4) = 5;
    EXPECT_EQ(runResults(c), (Results{{5}, {0}, {0}, {0}}));
}

TEST(Wendlow, EveryRotationBelowAFullTurnIsSearched)
{
    // (N, the largest rotation searched); N above 16 needs more than 72 slots
    // per image, so a short buffer would show under AddressSanitizer.
    const int cases[][2] = {{1, 0}, {3, 4}, {16, 28}, {20, 36}, {32, 60}};
    for (const auto& k : cases) {
        TemplateCall c;
        c.N = k[0];
        c.nImages = 2;
        c.nRows = c.nCols = 41;
        c.addElement(1, 36, 21, 1, 0);
        c.allocate();
        long long xyo[3];
        geometricTransform(c.N, 20, 20, 36, 21, 1, 0, 0, k[1], xyo);
        c.response(1, static_cast<int>(xyo[2]), static_cast<int>(xyo[0]), static_cast<int>(xyo[1])) = 1;
        EXPECT_EQ(runResults(c), (Results{{0, 1}, {-1, 0}, {-1, 0}, {0, static_cast<double>(k[1])}})) << k[0];
    }
    // With N = 3 the rotations are 0 and 4 only: rotation 8 would find this.
    TemplateCall c;
    c.N = 3;
    c.nRows = c.nCols = 41;
    c.addElement(1, 36, 21, 1, 0);
    c.allocate();
    long long xyo[3];
    geometricTransform(3, 20, 20, 36, 21, 1, 0, 0, 8, xyo);
    c.response(0, static_cast<int>(xyo[2]), static_cast<int>(xyo[0]), static_cast<int>(xyo[1])) = 1;
    EXPECT_EQ(runResults(c), (Results{{0}, {-1}, {-1}, {0}}));
}

TEST(Wendlow, NoImageWritesNothingAndCallsDoNotAccumulate)
{
    TemplateCall none = workedCall();
    none.nImages = 0;
    EXPECT_NO_THROW(run(none));
    EXPECT_EQ(results(none), (Results{{0}, {7}, {8}, {9}}));

    std::mt19937 rng(7);
    TemplateCall c = randomCall(rng, 3, 6, 5);
    const Results once = runResults(c);
    EXPECT_EQ(runResults(c), once);
}

TEST(Wendlow, MatchesAPlainEvaluation)
{
    // Trials 4 and 5 have maps of 24 x 25, where most rotations land every
    // shift of an element inside and are pooled together; so do the last
    // two calls, with the widest window.
    const unsigned seed = 2024;
    std::mt19937 rng(seed);
    for (int N : {0, 1, 2, 3, 4, 5, 8, 16, 17, 20, 32})
        for (int trial = 0; trial < 6; ++trial) {
            TemplateCall c = randomCall(rng, 1 + trial % 3, N, trial < 4 ? 3 * trial : 20, trial < 4 ? 0 : 24);
            const Results expected = reference(c);
            EXPECT_EQ(runResults(c), expected) << "seed " << seed << ", N " << N << " trial " << trial;
        }
    // The widest window pooled together: nine orientations (oriRange 4).
    for (int N : {9, 16}) {
        TemplateCall c = randomCall(rng, 2, N, 20, 24);
        c.shiftRange = 1;
        c.oriRange = 4;
        const Results expected = reference(c);
        EXPECT_EQ(runResults(c), expected) << "seed " << seed << ", N " << N << ", oriRange 4";
    }
}

TEST(Wendlow, OneArrayForTwoResultsSeesThePlainWriteOrder)
{
    std::mt19937 rng(11);
    TemplateCall c = randomCall(rng, 2, 4, 4);
    c.bestDeltaX = c.scores;
    c.bestDeltaOri = c.bestDeltaY;
    std::vector<double> best = values(c.scores), oriAndY = values(c.bestDeltaY);
    plainSearch(c, 4, best.data(), best.data(), oriAndY.data(), oriAndY.data());
    run(c);
    EXPECT_EQ(values(c.scores), best);
    EXPECT_EQ(values(c.bestDeltaY), oriAndY);
}

TEST(Wendlow, TheSameBitsForAnyThreadCount)
{
    // Many images (split by image) and one or two (split by candidates too),
    // each with enough work for helper threads.
    const unsigned seed = 5;
    std::mt19937 rng(seed);
    for (int nImages : {9, 1, 2}) {
        TemplateCall c = randomCall(rng, nImages, 16, 400);
        const Results expected = reference(c);
        for (int threads : {1, 2, 8}) {
            setenv("OTK_NUM_THREADS", std::to_string(threads).c_str(), 1);
            EXPECT_EQ(runResults(c), expected) << "seed " << seed << ", " << nImages << " images, " << threads
                                               << " threads";
            unsetenv("OTK_NUM_THREADS");
        }
    }
    EXPECT_GE(poolHelpers(), 1);  // the threaded path did run
}

TEST(Wendlow, BatchesBeyondTheCachesGiveThePlainBits)
{
    // 3 images of 16 maps (4 of 12) of 210 x 211: 17 MB, beyond the
    // caches. The lines of each rotation are asked for two rotations ahead,
    // the next element's first ones near an element's end: the square its
    // shifts reach about its middle sample, column by column (the windows
    // below give squares of 3 to 7 rows). Built with AddressSanitizer
    // a request reads a byte, so a square or placement taken from the wrong
    // place fails here. Twelve orientations give other shift tables than
    // sixteen. Eight threads asked for (four to six taken for this work)
    // cut the images' candidates into runs of a rotation or two, whose
    // requests ahead fall to the next element's first rotations. The first
    // call of each keeps its random window.
    const unsigned seed = 19;
    std::mt19937 rng(seed);
    const int batches[][2] = {{3, 16}, {4, 12}};  // images, N
    const int windows[][3] = {{-1, -1, 0}, {1, 1, 1}, {2, 1, 1}, {1, 0, 1}, {2, 0, 1}, {1, 1, 2}, {2, 1, 0}};
    for (const auto& batch : batches) {
        TemplateCall c = randomCall(rng, batch[0], batch[1], 60, 210);
        for (const auto& w : windows) {
            if (w[0] >= 0) {
                c.shiftRange = w[0];
                c.oriRange = w[1];
                c.shiftStep = w[2];
            }
            const Results expected = reference(c);
            for (int threads : {1, 2, 8}) {
                setenv("OTK_NUM_THREADS", std::to_string(threads).c_str(), 1);
                EXPECT_EQ(runResults(c), expected)
                    << "seed " << seed << ", N " << c.N << ", shiftRange " << c.shiftRange << ", oriRange "
                    << c.oriRange << ", shiftStep " << c.shiftStep << ", " << threads << " threads";
                unsetenv("OTK_NUM_THREADS");
            }
        }
    }
}

TEST(Wendlow, ElementArraysSharingStorageWithResultsAreReadFirst)
{
    std::mt19937 rng(13);
    for (int elem = 8; elem <= 12; ++elem)
        for (int result : {20, 26, 27, 28}) {
            TemplateCall c = randomCall(rng, 4, 4, 4);
            std::vector<Array> in = c.inputs(ARGS);
            std::vector<double>& shared = values(in[result]);
            for (int k = 0; k < 4; ++k) shared[k] = elem == 9 || elem == 10 ? 2 + k : 0.5 * k;
            in[elem] = in[result];
            TemplateCall expected = c;
            std::vector<double>* field[] = {&expected.elemOri, &expected.elemX, &expected.elemY, &expected.elemWeight,
                                            &expected.elemBias};
            *field[elem - 8] = shared;
            Results r = results(c);
            plainSearch(expected, 4, r.best.data(), r.dx.data(), r.dy.data(), r.dori.data());
            call("Wendlow", mexFunction, in);
            EXPECT_EQ(results(c), r) << "argument " << elem + 1 << " is argument " << result + 1;
        }
}

TEST(Wendlow, NoImageAllocatesNothingWhateverN)
{
    TemplateCall c = workedCall();
    c.nImages = 0;
    c.N = 0;
    std::vector<Array> in = c.inputs(ARGS);
    in[1] = scalar(1e7);
    in[15] = scalar(1e8);
    call("Wendlow", mexFunction, in);
    EXPECT_EQ(allocationsOfLastCall(), 0u);
}

TEST(Wendlow, ResultsOneElementShortAreRefused)
{
    std::mt19937 rng(17);
    TemplateCall c = randomCall(rng, 3, 4, 2);
    for (int pos : {20, 26, 27, 28}) {
        std::vector<Array> in = c.inputs(ARGS);
        in[pos] = zeros(2, 1);
        const Results before = results(c);
        EXPECT_EQ(errorIdOf("Wendlow", mexFunction, in), "Wendlow:tooShort") << "argument " << pos + 1;
        EXPECT_EQ(results(c), before);
        EXPECT_EQ(values(in[pos]), (std::vector<double>{0, 0}));
    }
}

TEST(Wendlow, TemplatesLargerThanAPassAreSplitByElements)
{
    // More elements than one pass holds for a single candidate: each
    // candidate's sum runs over the element blocks in order.
    const unsigned seed = 19;
    std::mt19937 rng(seed);
    TemplateCall c = randomCall(rng, 2, 3, 40000);
    EXPECT_EQ(runResults(c), reference(c)) << "seed " << seed;
}

TEST(Wendlow, FarElementsTurnExactly)
{
    // Row 1 is 49999 rows from the centre (50000, 1): its squared distance
    // does not fit 32 bits. The half turn takes it to row 99999, the row
    // shift to the response at row 100000.
    TemplateCall c;
    c.N = 4;
    c.nRows = 100000;
    c.nCols = 2;
    c.addElement(0, 1, 1, 1, 0.25);
    c.addElement(2, 2147483647.0, -2147483648.0, 1, 0.5);  // never inside any map
    c.allocate();
    c.response(0, 0, 100000, 1) = 1;
    EXPECT_EQ(runResults(c), (Results{{0.25}, {1}, {0}, {4}}));
}

TEST(Wendlow, UnreadPositionsAcceptAnything)
{
    TemplateCall c = workedCall();
    std::vector<Array> in = c.inputs(ARGS);
    for (int pos : {3, 4, 7, 13, 14, 21, 22, 23, 24, 25}) in[pos] = scalar(1, Kind::Char);
    in.push_back(cell(1, 1));
    call("Wendlow", mexFunction, in);
    EXPECT_EQ(results(c), (Results{{1}, {1}, {1}, {4}}));
}

TEST(Wendlow, WrongCallsRaiseNamedErrorsAndWriteNothing)
{
    struct Case {
        const char* id;
        int pos;
        Array value;
    };
    const std::vector<Case> cases = {
        {"Wendlow:nargin", 28, nullptr},
        {"Wendlow:notScalar", 0, cell(1, 1)},
        {"Wendlow:negativeCount", 1, scalar(-1)},
        {"Wendlow:notCell", 2, matrix(9, 9, {}, Kind::Complex)},
        {"Wendlow:tooFewMaps", 2, zeros(9, 9)},
        {"Wendlow:tooFewCells", 2, cellOf(1, 1, {zeros(9, 9)})},
        {"Wendlow:badCell", 2, cellOf(1, 4, {zeros(9, 9), matrix(9, 9, {}, Kind::Single), zeros(9, 9), zeros(9, 9)})},
        {"Wendlow:cellTooSmall", 2, cellOf(1, 4, {zeros(9, 9), zeros(9, 9), zeros(9, 9), zeros(9, 8)})},
        {"Wendlow:intRange", 6, scalar(3e9)},
        {"Wendlow:notDouble", 8, matrix(1, 1, {0}, Kind::Int32)},
        {"Wendlow:badValue", 8, scalar(NAN)},
        {"Wendlow:badValue", 10, scalar(-3e9)},
        {"Wendlow:tooShort", 12, zeros(0, 1)},
        {"Wendlow:shiftRange", 15, scalar(-1)},
        {"Wendlow:oriRange", 16, scalar(5)},
        {"Wendlow:oriRange", 16, scalar(-1)},
        {"Wendlow:oriRange", 16, scalar(-2147483648.0)},
        {"Wendlow:notScalar", 19, zeros(0, 0)},
        {"Wendlow:notDouble", 20, matrix(1, 1, {0}, Kind::Complex)},
        {"Wendlow:tooShort", 26, zeros(0, 0)},
        {"Wendlow:notDouble", 27, cell(1, 1)},
        {"Wendlow:notDouble", 28, matrix(1, 1, {0}, Kind::Sparse)},
    };
    for (const Case& k : cases) {
        TemplateCall c = workedCall();
        std::vector<Array> in = c.inputs(ARGS);
        if (k.value)
            in[k.pos] = k.value;
        else
            in.resize(k.pos);
        const Results before = results(c);
        std::string id, message;
        try {
            call("Wendlow", mexFunction, in);
        } catch (const HostError& e) {
            id = e.id;
            message = e.what();
        }
        EXPECT_EQ(id, k.id) << "argument " << k.pos + 1;
        if (k.value) {
            EXPECT_NE(message.find("argument " + std::to_string(k.pos + 1)), std::string::npos) << message;
        }
        EXPECT_EQ(results(c), before) << "argument " << k.pos + 1;
    }
    // N so large that its rotations would not fit an int (no image, so no maps).
    TemplateCall c = workedCall();
    c.nImages = 0;
    c.N = 0;
    std::vector<Array> in = c.inputs(ARGS);
    in[1] = scalar(1073741825.0);
    try {
        call("Wendlow", mexFunction, in);
        ADD_FAILURE() << "no error";
    } catch (const HostError& e) {
        EXPECT_EQ(e.id, "Wendlow:N");
    }
}

TEST(Wendlow, LargeTemplatesAreSearchedInPasses)
{
    // 16 rotations x 9 shifts x 20000 elements: more placements than are held
    // at once, so the candidates are placed and scored a few rotations at a
    // time. Image 0 matches the untransformed template, image 1 the last
    // rotation, which is placed in a later pass than the first.
    TemplateCall c;
    c.N = 32;
    c.nImages = 2;
    c.nRows = c.nCols = 41;
    for (int k = 0; k < 20000; ++k) c.addElement(1, 36, 21, 1, 0);
    c.allocate();
    long long xyo[3];
    geometricTransform(c.N, 20, 20, 36, 21, 1, 0, 0, 60, xyo);
    c.response(0, 1, 36, 21) = 1;
    c.response(1, static_cast<int>(xyo[2]), static_cast<int>(xyo[0]), static_cast<int>(xyo[1])) = 1;
    EXPECT_EQ(runResults(c), (Results{{20000, 20000}, {0, 0}, {0, 0}, {0, 60}}));
}

TEST(Wendlow, AHugeShiftRangeVisitsOnlyTheShiftsInsideTheMaps)
{
    // Orientation 0 shifts along the rows: of 2*10^8 + 1 shifts, the nine
    // that land in column 4 + t read every row. The first candidate reaching
    // column 5 (row shift -1, column shift +1) finds the response at (3, 5).
    TemplateCall c = workedCall();
    c.shiftRange = 100000000;
    EXPECT_EQ(runResults(c), (Results{{1}, {-1}, {1}, {0}}));
    EXPECT_LE(allocationsOfLastCall(), 12u);
}
