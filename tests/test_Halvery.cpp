// Halvery through its gateway, with the host-free stand-in.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "halvery.h"
#include "halvery_reference.h"
#include "standin.h"
#include "template_call.h"
#include "threads.h"

using namespace standin;

namespace {

void run(const TemplateCall& c, int count = 26, std::optional<double> nElementsArg = std::nullopt)
{
    call("Halvery", mexFunction, c.inputs(count, nElementsArg));
}

// The worked call: one element on a 5 x 5 map, the maximum one row below it.
TemplateCall workedCall()
{
    TemplateCall c;
    c.shiftRange = 1;
    c.addElement(0, 3, 3, 2, 1);
    c.allocate();
    c.response(0, 0, 4, 3) = 4;
    return c;
}

std::vector<double> snapshot(const TemplateCall& c)
{
    std::vector<double> all = values(c.scores);
    for (const Array& a : {c.pooledValues}) all.insert(all.end(), values(a).begin(), values(a).end());
    for (int i = 0; i < c.nImages; ++i) {
        auto& m = values(cellContent(c.renderMaps, i));
        all.insert(all.end(), m.begin(), m.end());
    }
    return all;
}

std::string errorId(const TemplateCall& c, int count = 26, std::optional<double> nElementsArg = std::nullopt)
{
    const std::vector<double> before = snapshot(c);
    std::string id;
    try {
        run(c, count, nElementsArg);
    } catch (const HostError& e) {
        id = e.id;
    }
    EXPECT_TRUE(sameBits(before, snapshot(c))) << "a failed call changed an array";
    return id;
}

// A deep copy of a call's inputs; arrays that several positions (or cells)
// share stay shared in the copy.
std::vector<Array> cloneInputs(const std::vector<Array>& in)
{
    std::map<const mxArray*, Array> copies;
    std::function<Array(const Array&)> copy = [&](const Array& a) -> Array {
        if (!a) return a;
        const auto found = copies.find(a.get());
        if (found != copies.end()) return found->second;
        Array c;
        if (mxIsCell(a.get())) {
            c = cell(mxGetM(a.get()), mxGetN(a.get()));
            for (std::size_t k = 0; k < mxGetNumberOfElements(a.get()); ++k) setCell(c, k, copy(cellContent(a, k)));
        } else {
            c = matrix(mxGetM(a.get()), mxGetN(a.get()), values(a));
        }
        copies[a.get()] = c;
        return c;
    };
    std::vector<Array> out;
    for (const Array& a : in) out.push_back(copy(a));
    return out;
}

// Every double the call's result positions (scores, pooled values, render
// maps) and element positions hold, in order.
std::vector<double> written(const std::vector<Array>& in)
{
    std::vector<double> all;
    for (int pos : {8, 9, 10, 11, 12, 20, 21}) all.insert(all.end(), values(in[pos]).begin(), values(in[pos]).end());
    if (!mxIsCell(in[14].get())) {
        all.insert(all.end(), values(in[14]).begin(), values(in[14]).end());
        return all;
    }
    for (std::size_t k = 0; k < mxGetNumberOfElements(in[14].get()); ++k) {
        const auto& m = values(cellContent(in[14], k));
        all.insert(all.end(), m.begin(), m.end());
    }
    return all;
}

// A grid of R x C cells as the one array that holds its maps row by row.
Array oneArray(const Array& grid, int R, int C)
{
    std::vector<double> all;
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            const auto& m = values(cellContent(grid, r + R * c));
            all.insert(all.end(), m.begin(), m.end());
        }
    return matrix(1, all.size(), all);
}

// Runs the gateway on in and the plain loop on a copy; both must end with
// the same bits everywhere.
void expectPlainResults(const std::vector<Array>& in, const std::string& what)
{
    const std::vector<Array> copy = cloneInputs(in);
    plainTestTemplate(copy);
    call("Halvery", mexFunction, in);
    EXPECT_TRUE(sameBits(written(in), written(copy))) << what;
}

// OTK_NUM_THREADS for the life of one scope.
struct ThreadCount {
    explicit ThreadCount(int n) { setenv("OTK_NUM_THREADS", std::to_string(n).c_str(), 1); }
    ~ThreadCount() { unsetenv("OTK_NUM_THREADS"); }
};

// Random calls: several images and orientations, elements inside, at and
// beyond the border, NaN and negative responses, render maps that start
// below zero or at NaN in places (a pooled value of 0 must not draw; a NaN
// entry stays), patches with NaN and -0 entries (never drawn over a larger
// entry), accumulation onto non-zero scores.
TemplateCall randomCall(std::mt19937& rng, int nImages, int N, int nElements, int side, int patchHalf = -1)
{
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    TemplateCall c;
    c.nImages = nImages;
    c.N = N;
    c.nRows = side + pick(0, 3);
    c.nCols = side;
    c.patchHalf = pick(0, 3);
    if (patchHalf >= 0) c.patchHalf = patchHalf;
    c.shiftRange = pick(0, 3);
    c.oriRange = std::min(N, pick(0, 2));
    c.shiftStep = pick(-2, 2);
    c.saturation = uniform(0.3, 2);
    for (int k = 0; k < nElements; ++k)
        c.addElement(pick(0, N - 1) + uniform(0, 0.9), uniform(-4, c.nRows + 4), uniform(-4, c.nCols + 4),
                     uniform(-1, 2), uniform(0, 0.5));
    c.allocate();
    for (int i = 0; i < nImages; ++i) {
        for (int o = 0; o < N; ++o)
            for (double& v : c.map(i, o)) v = pick(0, 40) == 0 ? NAN : uniform(-1.5, 1.5);
        for (double& v : c.render(i)) v = pick(0, 40) == 0 ? NAN : pick(0, 2) == 0 ? -uniform(0, 1) : uniform(0, 0.5);
    }
    const int patchSide = 2 * c.patchHalf + 1;
    for (int o = 0; o < N; ++o) {
        auto& p = values(cellContent(c.patches, o));
        for (int k = 0; k < patchSide * patchSide; ++k) {
            const int kind = pick(0, 20);
            p[k] = kind == 0 ? NAN : kind == 1 ? -0.0 : uniform(-0.5, 2);
        }
    }
    for (double& v : values(c.scores)) v = uniform(-1, 1);
    return c;
}

}  // namespace

TEST(Halvery, WorkedCall)
{
    TemplateCall c = workedCall();
    run(c);
    EXPECT_EQ(values(c.pooledValues)[0], 4.0);
    EXPECT_EQ(values(c.scores)[0], 7.0);
    auto& render = c.render(0);
    for (int r = 1; r <= 5; ++r)
        for (int col = 1; col <= 5; ++col) {
            const bool inside = r >= 3 && col >= 2 && col <= 4;
            EXPECT_EQ(TemplateCall::at(render, 5, r, col), inside ? 2.0 : 0.0) << r << "," << col;
        }
}

TEST(Halvery, NegativePatchHalfDrawsNothing)
{
    // Any negative patchHalf, down to what rounds to the lowest int, means
    // patches of side 0: the call pools and scores as usual and draws
    // nothing.
    for (double half : {-2147483648.0, -2147483648.5, -1073741824.0, -1.0}) {
        TemplateCall c = workedCall();
        std::vector<Array> in = c.inputs(26);
        in[4] = scalar(half);
        call("Halvery", mexFunction, in);
        EXPECT_EQ(values(c.pooledValues)[0], 4.0) << half;
        EXPECT_EQ(values(c.scores)[0], 7.0) << half;
        for (double v : c.render(0)) EXPECT_EQ(v, 0.0) << half;
    }
}

TEST(Halvery, ScoresAccumulateRenderAndPooledValuesDoNot)
{
    TemplateCall c = workedCall();
    values(c.scores)[0] = 0.5;
    run(c);
    const std::vector<double> render = c.render(0);
    run(c);
    EXPECT_EQ(values(c.scores)[0], 0.5 + 7 + 7);
    EXPECT_EQ(values(c.pooledValues)[0], 4.0);
    EXPECT_TRUE(sameBits(render, c.render(0)));
}

TEST(Halvery, PooledValuesAreElementMajorAndBiasAlwaysCounts)
{
    TemplateCall c;
    c.nImages = 2;
    c.addElement(0, 2, 2, 1, 0.25);
    c.addElement(1, 3, 3, 1, 0.5);
    c.addElement(0, 4, 4, 2, 1);
    c.allocate();
    c.response(0, 0, 2, 2) = 1;
    c.response(1, 0, 2, 2) = 2;
    c.response(0, 1, 3, 3) = 3;
    c.response(1, 1, 3, 3) = 4;
    c.response(0, 0, 4, 4) = 5;
    // image 1 has nothing at (4, 4): value 0, no drawing, bias still counts
    run(c);
    EXPECT_EQ(values(c.pooledValues), (std::vector<double>{1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(values(c.scores)[0], (1 - 0.25) + (3 - 0.5) + (2 * 5.0 - 1));
    EXPECT_EQ(values(c.scores)[1], (2 - 0.25) + (4 - 0.5) + (0 - 1.0));
}

TEST(Halvery, OneEntryPatchesDrawUpToEveryBorder)
{
    // patchHalf 0 on a 4 x 5 map: elements on every corner and edge draw
    // their one entry there, 3 * sqrt(response); one beyond the last row
    // draws nothing. Every response differs, so each entry says who drew it.
    TemplateCall c;
    c.N = 1;
    c.nRows = 4;
    c.nCols = 5;
    c.patchHalf = 0;
    c.saturation = 100;
    const int places[][2] = {{1, 1}, {1, 5}, {4, 1}, {4, 5}, {1, 3}, {4, 2}, {2, 1}, {3, 5}, {5, 3}};
    for (const auto& at : places) c.addElement(0, at[0], at[1], 1, 0);
    c.allocate();
    values(cellContent(c.patches, 0))[0] = 3;
    for (int r = 1; r <= 4; ++r)
        for (int col = 1; col <= 5; ++col) c.response(0, 0, r, col) = r + 4 * (col - 1);  // 1 .. 20
    run(c);
    std::vector<double> expected(20, 0.0);
    for (const auto& at : places)
        if (at[0] <= 4) TemplateCall::at(expected, 4, at[0], at[1]) = 3 * std::sqrt(at[0] + 4.0 * (at[1] - 1));
    EXPECT_TRUE(sameBits(c.render(0), expected));
}

TEST(Halvery, SaturationCapsValueScoreAndAmplitude)
{
    TemplateCall c = workedCall();
    c.saturation = 4;
    c.response(0, 0, 4, 3) = 9;
    run(c);
    EXPECT_EQ(values(c.pooledValues)[0], 4.0);
    EXPECT_EQ(values(c.scores)[0], 2 * 4.0 - 1);
    EXPECT_EQ(TemplateCall::at(c.render(0), 5, 4, 3), 2.0);

    TemplateCall z = workedCall();
    z.saturation = 0;
    run(z);
    EXPECT_EQ(values(z.scores)[0], -1.0);
    for (double v : z.render(0)) EXPECT_EQ(v, 0.0);
}

TEST(Halvery, CountsRoundAndFloorAndElementsTruncate)
{
    TemplateCall c;
    c.nImages = 3;
    c.addElement(-0.5, 10.9, 3.2, 1, 0);  // orientation 0, row 10, column 3
    c.addElement(0, 2, 2, 1, 0);
    c.addElement(0, 2, 2, 1, 100);  // not read: 2.7 floors to 2 elements
    c.nRows = 12;
    c.allocate();
    for (int i = 0; i < 3; ++i) c.response(i, 0, 10, 3) = i + 1;
    std::vector<Array> in = c.inputs(26, 2.7);
    in[0] = scalar(2.5);  // rounds to 3 images
    call("Halvery", mexFunction, in);
    EXPECT_EQ(values(c.pooledValues)[0], 1.0);
    EXPECT_EQ(values(c.pooledValues)[2], 3.0);
    EXPECT_EQ(values(c.scores), (std::vector<double>{1, 2, 3}));
}

TEST(Halvery, PatchPlacementAndOrientationOfTheWinner)
{
    TemplateCall c;
    c.N = 4;
    c.nRows = c.nCols = 9;
    c.oriRange = 1;
    c.addElement(0, 5, 5, 1, 0);
    c.allocate();
    c.response(0, 3, 5, 5) = 4;  // found in orientation N-1
    for (int k = 0; k < 4; ++k) values(cellContent(c.patches, k)) = std::vector<double>(9, 0.0);
    values(cellContent(c.patches, 3)) = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    run(c);
    auto& m = c.render(0);
    EXPECT_EQ(TemplateCall::at(m, 9, 4, 4), 2.0);   // patch (1, 1)
    EXPECT_EQ(TemplateCall::at(m, 9, 5, 5), 10.0);  // centre (2, 2)
    EXPECT_EQ(TemplateCall::at(m, 9, 6, 6), 18.0);  // (3, 3)
    EXPECT_EQ(TemplateCall::at(m, 9, 6, 4), 6.0);   // (3, 1)
}

TEST(Halvery, RenderOnlyRises)
{
    TemplateCall c = workedCall();
    values(cellContent(c.patches, 0)) = {-1, -1, -1, -1, 5, -1, -1, -1, -1};
    TemplateCall::at(c.render(0), 5, 4, 3) = 50;
    TemplateCall::at(c.render(0), 5, 3, 3) = NAN;
    run(c);
    EXPECT_EQ(TemplateCall::at(c.render(0), 5, 4, 3), 50.0);
    EXPECT_TRUE(std::isnan(TemplateCall::at(c.render(0), 5, 3, 3)));
    EXPECT_EQ(TemplateCall::at(c.render(0), 5, 5, 3), 0.0);  // negative entries never lower
}

TEST(Halvery, PatchesCrossingTheBorderAreClipped)
{
    TemplateCall c;
    c.patchHalf = 2;
    c.nRows = 3;
    c.nCols = 4;
    c.addElement(0, 1, 4, 1, 0);
    c.allocate();
    c.response(0, 0, 1, 4) = 9;
    run(c);
    auto& m = c.render(0);
    // rows 1..3, columns 2..4 are within two of (1, 4); all of them are drawn
    for (int r = 1; r <= 3; ++r)
        for (int col = 1; col <= 4; ++col) EXPECT_EQ(TemplateCall::at(m, 3, r, col), col >= 2 ? 3.0 : 0.0);
}

TEST(Halvery, NoElementsAndNoImages)
{
    TemplateCall c = workedCall();
    run(c, 26, 0.9);  // floors to 0
    EXPECT_EQ(values(c.scores)[0], 0.0);
    run(c, 26, -3);
    EXPECT_EQ(values(c.scores)[0], 0.0);

    TemplateCall e;
    e.nImages = 0;
    e.addElement(0, 1, 1, 1, 1);
    e.allocate();
    EXPECT_NO_THROW(run(e));
}

TEST(Halvery, ExtraInputsAndUnreadPositionsAreAccepted)
{
    TemplateCall c = workedCall();
    std::vector<Array> in = c.inputs(29);
    in[3] = scalar(1, Kind::Char);  // positions nothing reads
    in[7] = cell(1, 1);
    in[22] = cell(2, 2);
    in[25] = matrix(1, 1, {}, Kind::Int32);
    in.push_back(cell(1, 1));
    call("Halvery", mexFunction, in);
    EXPECT_EQ(values(c.scores)[0], 7.0);
}

TEST(Halvery, WrongCallsRaiseNamedErrorsAndWriteNothing)
{
    {
        TemplateCall c = workedCall();
        EXPECT_EQ(errorId(c, 25), "Halvery:nargin");
    }
    struct Case {
        const char* id;
        int pos;
        Array value;
    };
    const std::vector<Case> cases = {
        {"Halvery:notScalar", 0, cell(1, 1)},
        {"Halvery:negativeCount", 0, scalar(-1)},
        {"Halvery:notFinite", 1, scalar(NAN)},
        {"Halvery:notCell", 2, matrix(5, 5, {}, Kind::Int32)},
        {"Halvery:tooFewMaps", 2, zeros(5, 5)},
        {"Halvery:tooFewCells", 2, cellOf(1, 1, {zeros(5, 5)})},
        {"Halvery:cellTooSmall", 2, cellOf(1, 2, {zeros(5, 5), zeros(4, 5)})},
        {"Halvery:intRange", 5, scalar(3e9)},
        {"Halvery:notDouble", 8, matrix(1, 1, {0}, Kind::Single)},
        {"Halvery:tooShort", 9, zeros(0, 1)},
        {"Halvery:badValue", 10, scalar(NAN)},
        {"Halvery:badValue", 9, scalar(1e10)},
        {"Halvery:badOrientation", 8, scalar(2)},
        {"Halvery:badOrientation", 8, scalar(-1)},
        {"Halvery:notCell", 13, matrix(3, 3, {}, Kind::Logical)},
        {"Halvery:cellTooSmall", 13, cellOf(2, 1, {zeros(3, 3), zeros(2, 2)})},
        {"Halvery:badCell", 14, cell(1, 1)},
        {"Halvery:shiftRange", 15, scalar(-1)},
        {"Halvery:oriRange", 16, scalar(3)},
        {"Halvery:oriRange", 16, scalar(-1)},
        {"Halvery:oriRange", 16, scalar(-2147483648.0)},
        {"Halvery:shiftStep", 17, scalar(-2147483648.0)},
        {"Halvery:notScalar", 19, zeros(0, 0)},
        {"Halvery:notDouble", 20, cell(1, 1)},
        {"Halvery:tooShort", 21, zeros(0, 0)},
        {"Halvery:patchHalf", 4, scalar(2e9)},
    };
    for (const Case& k : cases) {
        TemplateCall c = workedCall();
        std::vector<Array> in = c.inputs();
        in[k.pos] = k.value;
        const std::vector<double> before = snapshot(c);
        std::string id, message;
        try {
            call("Halvery", mexFunction, in);
        } catch (const HostError& e) {
            id = e.id;
            message = e.what();
        }
        EXPECT_EQ(id, k.id) << "argument " << k.pos + 1;
        EXPECT_NE(message.find("argument " + std::to_string(k.pos + 1)), std::string::npos) << message;
        EXPECT_TRUE(sameBits(before, snapshot(c))) << "argument " << k.pos + 1;
    }
}

TEST(Halvery, FarElementsArePooledAsZeroWithoutTouchingMemory)
{
    TemplateCall c = workedCall();
    c.shiftRange = 3;
    c.shiftStep = 700000000;
    c.elemX = {2147483647.0};
    c.elemY = {-2147483648.0};
    c.allocate();
    run(c);
    EXPECT_EQ(values(c.pooledValues)[0], 0.0);
    EXPECT_EQ(values(c.scores)[0], -1.0);
}

TEST(Halvery, ResultsOneElementShortAreRefused)
{
    TemplateCall c;
    c.nImages = 3;
    c.addElement(0, 3, 3, 1, 0);
    c.addElement(1, 2, 2, 1, 0);
    c.allocate();
    for (const auto& [pos, elements] : {std::pair<int, int>{20, 2}, {21, 5}}) {
        std::vector<Array> in = c.inputs();
        in[pos] = zeros(elements, 1);
        const std::vector<double> before = snapshot(c);
        EXPECT_EQ(errorIdOf("Halvery", mexFunction, in), "Halvery:tooShort") << "argument " << pos + 1;
        EXPECT_TRUE(sameBits(before, snapshot(c)));
    }
}

TEST(Halvery, ElementArraysSharingStorageWithResultsAreReadFirst)
{
    // The pooled value 10^6 lands in the orientation array when it is also
    // the scores array: elements must be read before the first write.
    {
        TemplateCall c;
        c.nImages = 2;
        c.addElement(0, 3, 3, 1, 0);
        c.addElement(0, 3, 3, 1, 0);
        c.saturation = 1e9;
        c.allocate();
        for (int k = 0; k < 4; ++k) values(cellContent(c.responseMaps, k))[12] = 1e6;
        std::vector<Array> in = c.inputs();
        in[8] = in[20] = zeros(2, 1);
        in[21] = zeros(4, 1);
        expectPlainResults(in, "orientations in the scores");
        EXPECT_EQ(values(in[20]), (std::vector<double>{2e6, 2e6}));
    }
    // Every element position sharing storage with every result position.
    std::mt19937 rng(31);
    for (int elem = 8; elem <= 12; ++elem)
        for (int result : {20, 21, 14}) {
            TemplateCall c = randomCall(rng, 4, 3, 4, 7);  // 4 scores hold the 4 elements
            for (int e = 0; e < 4; ++e) c.elemOri[e] = 0;  // orientations the results hold: keep them valid
            c.allocate();
            std::vector<Array> in = c.inputs();
            Array shared = result == 14 ? cellContent(in[14], 1) : in[result];
            if (elem != 8) {
                auto& v = values(shared);
                for (std::size_t k = 0; k < 4; ++k) v[k] = elem == 9 || elem == 10 ? 3 + k % 3 : 0.5 * k;
            } else {
                std::fill(values(shared).begin(), values(shared).end(), 0.0);
            }
            in[elem] = shared;
            expectPlainResults(in, "argument " + std::to_string(elem + 1) + " is argument " + std::to_string(result + 1));
        }
}

TEST(Halvery, ResultsSharingStorageKeepThePlainOrder)
{
    std::mt19937 rng(41);
    // One render map for two images; a render map that is also a response
    // map; a patch that is also a render map; the scores inside the pooled
    // values; the response maps as one array that is also the render maps'
    // (their first maps). Each with enough work for several threads. And,
    // to check the check, maps and render maps as two arrays apart.
    for (int layout = 0; layout < 6; ++layout) {
        ThreadCount threads(2);
        TemplateCall c = randomCall(rng, 4, 3, 40, 30);
        std::vector<Array> in = c.inputs();
        if (layout == 0) setCell(in[14], 2, cellContent(in[14], 0));
        if (layout == 1) setCell(in[2], 5, cellContent(in[14], 1));
        if (layout == 2 && c.patchHalf > 0) setCell(in[13], 1, cellContent(in[14], 3));
        if (layout == 3) in[20] = in[21];
        if (layout >= 4) in[2] = oneArray(in[2], c.nImages, c.N);
        if (layout == 4) in[14] = in[2];
        if (layout == 5) in[14] = oneArray(in[14], c.nImages, 1);
        expectPlainResults(in, "layout " + std::to_string(layout));
    }
}

TEST(Halvery, MatchesThePlainLoopForAnyThreadCount)
{
    const unsigned seed = 2027;
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 17; ++trial) {
        // Trials 0-10 draw patches of every side that is drawn unrolled
        // (patchHalf 0-5), whole and clipped. Trial 11 has work enough for
        // helper threads; 12 and 13 pool and draw windows at and just past
        // the widest that are fetched ahead; 14 has 20 MB of maps, beyond
        // what the caches are taken to hold (its work is counted as read
        // from memory). 15 asks, while it tests an image, for the sample
        // lines of the next (4.6 MB of them) and its render lines (21 MB of
        // render maps); built with AddressSanitizer each request reads a byte.
        // 16 draws many whole patches of 11 x 11 and pools 9 orientations.
        TemplateCall c = trial < 11   ? randomCall(rng, 1 + trial % 5, 1 + trial % 6, 3 + 15 * (trial % 4), 6 + 3 * trial,
                                                   trial % 6)
                         : trial < 14 ? randomCall(rng, 8, 4, trial == 11 ? 600 : 200, 40, trial == 11 ? -1 : trial - 4)
                         : trial < 15 ? randomCall(rng, 4, 16, 300, 200, 2)
                         : trial < 16 ? randomCall(rng, 160, 2, 150, 128, 1)
                                      : randomCall(rng, 2, 10, 40, 40, 5);
        if (trial == 16) {
            c.shiftRange = 1;
            c.oriRange = 4;
        } else if (trial == 15) {
            c.shiftRange = 1;
            c.oriRange = 0;
            c.shiftStep = 1;
        } else if (trial == 14) {
            c.shiftRange = 2;
            c.oriRange = 1;
        } else if (trial >= 11) {
            c.shiftRange = trial == 11 ? 3 : trial + 1;
            c.oriRange = 1;
            if (trial > 11) c.shiftStep = 1;
        }
        std::vector<double> expected;
        {
            const std::vector<Array> copy = cloneInputs(c.inputs());
            plainTestTemplate(copy);
            expected = written(copy);
        }
        const std::vector<Array> start = cloneInputs(c.inputs());
        // The last run draws whole patches two entries at a time, as on a
        // processor without 4-lane steps.
        for (int run = 0; run < 4; ++run) {
            const int threads = run == 0 ? 1 : run == 1 ? 2 : run == 2 ? 8 : 1;
            ThreadCount count(threads);
            useWideDrawing(run < 3);
            const std::vector<Array> in = cloneInputs(start);
            call("Halvery", mexFunction, in);
            useWideDrawing(true);
            EXPECT_TRUE(sameBits(written(in), expected)) << "seed " << seed << " trial " << trial << ", " << threads
                                                         << " threads" << (run == 3 ? ", two at a time" : "");
        }
    }
    EXPECT_GE(poolHelpers(), 1);  // the threaded path did run
}

TEST(Halvery, NegativeZeroSaturationPoolsPositiveZeroWhereNothingIsFound)
{
    TemplateCall c = workedCall();
    c.saturation = -0.0;
    c.response(0, 0, 4, 3) = 0;
    c.response(0, 1, 3, 3) = 5;  // another orientation: not pooled
    run(c);
    EXPECT_EQ(values(c.pooledValues)[0], 0.0);
    EXPECT_FALSE(std::signbit(values(c.pooledValues)[0]));
    EXPECT_EQ(values(c.scores)[0], -1.0);
}

TEST(Halvery, AHugeShiftRangeCostsOnlyTheShiftsInsideTheMap)
{
    // 2*10^8 + 1 shifts of which five land in the 5 x 5 map; the element lies
    // far above it, so only shifts near +10^7 reach it.
    TemplateCall c;
    c.shiftRange = 100000000;
    c.addElement(0, -10000000, 3, 2, 1);
    c.allocate();
    c.response(0, 0, 4, 3) = 4;
    run(c);
    EXPECT_EQ(values(c.pooledValues)[0], 4.0);
    EXPECT_EQ(values(c.scores)[0], 7.0);
    EXPECT_EQ(TemplateCall::at(c.render(0), 5, 5, 4), 2.0);
    EXPECT_LE(allocationsOfLastCall(), 12u);
}
