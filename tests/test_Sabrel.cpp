// Sabrel through its gateway, with the host-free stand-in.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "standin.h"
#include "threads.h"
#include "warp_call.h"

using namespace standin;

namespace {

using Values = std::vector<double>;

void run(const std::vector<Array>& in)
{
    call("Sabrel", mexFunction, in);
}

// Result map k read row by row.
Values rows(const WarpCall& c, int k = 0)
{
    Values v;
    for (int x = 0; x < c.sx; ++x)
        for (int y = 0; y < c.sy; ++y) v.push_back(c.at(k, x, y));
    return v;
}

// One side x side map warped by (dX, dY, dO); the source holds 10*row + column.
WarpCall warped(double dX, double dY, double dO, int N = 2, int side = 3)
{
    WarpCall c;
    c.N = N;
    c.sx = c.sy = side;
    c.allocate();
    c.deltaX = {dX};
    c.deltaY = {dY};
    c.deltaOri = {dO};
    run(c.inputs());
    return c;
}

std::string errorId(const WarpCall& c, const std::vector<Array>& in)
{
    const Values before = c.snapshot();
    const std::string id = errorIdOf("Sabrel", mexFunction, in);
    EXPECT_TRUE(sameBits(before, c.snapshot())) << "a failed call changed an array";
    return id;
}

WarpCall twoMaps()
{
    WarpCall c;
    c.n = 2;
    c.allocate();
    c.deltaOri = {1, 2};
    return c;
}

}  // namespace

TEST(Sabrel, ThreeByThreeExamples)
{
    EXPECT_EQ(rows(warped(0, 0, 0)), (Values{0, 1, 2, 10, 11, 12, 20, 21, 22}));
    EXPECT_EQ(rows(warped(0, 0, 1)), (Values{20, 10, 0, 21, 11, 1, 22, 12, 2}));
    EXPECT_EQ(rows(warped(0, 0, 2)), (Values{22, 21, 20, 12, 11, 10, 2, 1, 0}));
    EXPECT_EQ(rows(warped(0, 0, -1)), (Values{2, 12, 22, 1, 11, 21, 0, 10, 20}));
    // Zeros replace the -7 the result held where the sample leaves the source.
    EXPECT_EQ(rows(warped(1, 0, 0)), (Values{10, 11, 12, 20, 21, 22, 0, 0, 0}));
    EXPECT_EQ(rows(warped(0, -1, 0)), (Values{0, 0, 1, 0, 10, 11, 0, 20, 21}));
}

TEST(Sabrel, TransformsTruncateTowardZero)
{
    EXPECT_EQ(rows(warped(1.9, 0, 0)), rows(warped(1, 0, 0)));
    EXPECT_EQ(rows(warped(-1.9, 0, 0)), rows(warped(-1, 0, 0)));
    EXPECT_EQ(rows(warped(0, 1.9, 0)), rows(warped(0, 1, 0)));
    EXPECT_EQ(rows(warped(0, -1.9, 0)), rows(warped(0, -1, 0)));
    EXPECT_EQ(rows(warped(0, 0, 1.9)), rows(warped(0, 0, 1)));
    EXPECT_EQ(rows(warped(0, 0, -1.9)), rows(warped(0, 0, -1)));
    EXPECT_NE(rows(warped(0, 0, -1)), rows(warped(0, 0, 0)));
}

TEST(Sabrel, EvenHalfTurnAndTheCentre)
{
    const WarpCall c = warped(0, 0, 4, 4, 4);  // centre (2, 2)
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) EXPECT_EQ(c.at(0, x, y), x == 0 || y == 0 ? 0 : 10 * (4 - x) + (4 - y));
    for (int dO = -9; dO <= 9; ++dO) EXPECT_EQ(warped(1, -2, dO, 4, 5).at(0, 2, 2), 30.0) << dO;
}

TEST(Sabrel, EachMapHasItsOwnTransform)
{
    WarpCall c = twoMaps();
    run(c.inputs());
    EXPECT_EQ(rows(c, 0), (Values{20, 10, 0, 21, 11, 1, 22, 12, 2}));
    EXPECT_EQ(rows(c, 1), (Values{122, 121, 120, 112, 111, 110, 102, 101, 100}));
}

TEST(Sabrel, SameBitsAsThePlainLoop)
{
    auto next = smallRandom(12345u);
    const int shapes[][2] = {{1, 1}, {2, 3}, {4, 4}, {5, 7}, {9, 6}, {16, 11}};
    for (const auto& shape : shapes)
        for (int N : {1, 2, 3, 4, 8, 16}) {
            WarpCall c;
            c.n = 6;
            c.N = N;
            c.sx = shape[0];
            c.sy = shape[1];
            c.allocate();
            for (int i = 0; i < c.n; ++i) {
                // Draws from a small range, so that some maps share a transform.
                c.deltaX[i] = next(3) - 1;
                c.deltaY[i] = next(3) - 1;
                c.deltaOri[i] = next(4 * N + 1) - 2 * N;
            }
            const auto expected = c.expected();
            run(c.inputs());
            for (int k = 0; k < c.n; ++k) EXPECT_TRUE(sameBits(c.result(k), expected[k])) << N << " map " << k;
        }
}

TEST(Sabrel, MapsBeyond32767ColumnsAreExact)
{
    WarpCall c;
    c.N = 1;
    c.sx = 1;
    c.sy = 70001;  // centre column 35000; a half turn reaches 70000 columns away
    c.allocate();
    c.deltaY = {1};
    c.deltaOri = {1};
    const auto expected = c.expected();
    run(c.inputs());
    EXPECT_TRUE(sameBits(c.result(0), expected[0]));
    EXPECT_EQ(c.at(0, 0, 0), 0.0);          // samples column 70001
    EXPECT_EQ(c.at(0, 0, 1), 70000.0);      // column 70000
    EXPECT_EQ(c.at(0, 0, 70000), 1.0);
}

TEST(Sabrel, ResultsFromTheSourcesAsTheyWereBeforeTheCall)
{
    // The same cell array as sources and results.
    WarpCall same = twoMaps();
    auto expected = same.expected();
    std::vector<Array> in = same.inputs();
    in[3] = in[2];
    run(in);
    for (int k = 0; k < 2; ++k) EXPECT_TRUE(sameBits(same.source(k), expected[k]));

    // Result 0 is source 1: grouped by transform, map 0 is written first.
    WarpCall crossed = twoMaps();
    setCell(crossed.results, 0, cellContent(crossed.sources, 1));
    expected = crossed.expected();
    run(crossed.inputs());
    EXPECT_TRUE(sameBits(crossed.source(1), expected[0]));
    EXPECT_TRUE(sameBits(crossed.result(1), expected[1]));

    // The transforms stored in a result map are read before it is written.
    WarpCall stored = twoMaps();
    stored.result(0)[0] = 1;
    stored.result(0)[1] = 2;
    expected = stored.expected();
    in = stored.inputs();
    in[8] = cellContent(stored.results, 0);
    run(in);
    for (int k = 0; k < 2; ++k) EXPECT_TRUE(sameBits(stored.result(k), expected[k]));
}

TEST(Sabrel, ResultsSharingABlockKeepTheLastMapsWrite)
{
    // Grouping by transform would visit map 1 before map 0; the plain order
    // must decide which write stays.
    WarpCall c = twoMaps();
    c.deltaX = {1, 0};
    setCell(c.results, 1, cellContent(c.results, 0));
    const auto expected = c.expected();
    run(c.inputs());
    EXPECT_TRUE(sameBits(c.result(0), expected[1]));
}

TEST(Sabrel, WrongCallsRaiseAndWriteNothing)
{
    const WarpCall c = twoMaps();
    auto with = [&c](int pos, const Array& a) {
        std::vector<Array> in = c.inputs();
        in[pos] = a;
        return errorId(c, in);
    };
    std::vector<Array> eight = c.inputs();
    eight.pop_back();
    EXPECT_EQ(errorId(c, eight), "Sabrel:nargin");
    EXPECT_EQ(with(0, matrix(1, 1, {2}, Kind::Char)), "Sabrel:notScalar");
    EXPECT_EQ(with(0, scalar(-1)), "Sabrel:negativeCount");
    EXPECT_EQ(with(1, scalar(0.4)), "Sabrel:N");
    EXPECT_EQ(with(1, scalar(-2)), "Sabrel:N");
    EXPECT_EQ(with(2, matrix(3, 3, {}, Kind::Char)), "Sabrel:notCell");
    EXPECT_EQ(with(3, cellOf(1, 1, {zeros(3, 3)})), "Sabrel:tooFewCells");
    EXPECT_EQ(with(2, cellOf(2, 1, {zeros(3, 3), matrix(3, 3, {}, Kind::Int32)})), "Sabrel:badCell");
    EXPECT_EQ(with(3, cellOf(2, 1, {zeros(3, 3), zeros(2, 4)})), "Sabrel:cellTooSmall");
    EXPECT_EQ(with(4, scalar(NAN)), "Sabrel:notFinite");
    EXPECT_EQ(with(5, scalar(3e9)), "Sabrel:intRange");
    EXPECT_EQ(with(6, matrix(2, 1, {}, Kind::Single)), "Sabrel:notDouble");
    EXPECT_EQ(with(7, column({0})), "Sabrel:tooShort");
    EXPECT_EQ(with(8, column({0, 2147483648.0})), "Sabrel:badValue");
    EXPECT_EQ(with(6, column({NAN, 0})), "Sabrel:badValue");
}

TEST(Sabrel, CallsThatVisitNothingAcceptAnyN)
{
    WarpCall c = twoMaps();
    const Values before = c.snapshot();
    for (int empty : {4, 5}) {
        std::vector<Array> in = c.inputs();
        in[1] = scalar(-3);
        in[empty] = scalar(0);
        run(in);
    }
    run({scalar(0), scalar(0), cell(0, 0), cell(0, 0), scalar(3), scalar(3), zeros(0, 0), zeros(0, 0),
            zeros(0, 0)});
    EXPECT_TRUE(sameBits(before, c.snapshot()));

    // Inputs past the ninth are ignored; sizes are rounded.
    std::vector<Array> in = c.inputs();
    in[4] = scalar(2.6);
    in.push_back(cell(1, 1));
    run(in);
    EXPECT_EQ(rows(c, 0), (Values{20, 10, 0, 21, 11, 1, 22, 12, 2}));
}

namespace {

// n maps of sx x sy, every map its own seeded transform, some far turns.
WarpCall bigCall(int n, int sx, int sy, unsigned seed)
{
    WarpCall c;
    c.n = n;
    c.N = 16;
    c.sx = sx;
    c.sy = sy;
    c.allocate();
    auto next = smallRandom(seed);
    for (int i = 0; i < n; ++i) {
        c.deltaX[i] = next(41) - 20;
        c.deltaY[i] = next(41) - 20;
        c.deltaOri[i] = next(200) - 100;
    }
    return c;
}

}  // namespace

TEST(Sabrel, SameBitsOnOneTwoAndEightThreads)
{
    // Several maps (split by map) and one big map (split by columns), each
    // large enough to run on helper threads; out of place and in place.
    const int shapes[][3] = {{3, 300, 301}, {1, 640, 500}};
    for (const auto& shape : shapes)
        for (bool inPlace : {false, true})
            for (int threads : {1, 2, 8}) {
                const ThreadCount setting(threads);
                WarpCall c = bigCall(shape[0], shape[1], shape[2], 99u);
                const auto expected = c.expected();
                std::vector<Array> in = c.inputs();
                if (inPlace) in[3] = in[2];
                run(in);
                for (int k = 0; k < c.n; ++k)
                    EXPECT_TRUE(sameBits(inPlace ? c.source(k) : c.result(k), expected[k]))
                        << threads << " threads, map " << k << " of " << c.n << (inPlace ? ", in place" : "");
            }
    EXPECT_GE(poolHelpers(), 1);  // the calls above did use helpers
}

TEST(Sabrel, ResultCellsOneElementShortWriteNothing)
{
    for (int k : {0, 1})
        for (int pos : {2, 3}) {
            WarpCall c = twoMaps();
            std::vector<Array> in = c.inputs();
            in[pos] = gridWithShortCell(pos == 2 ? c.sources : c.results, 2, 1, k);
            EXPECT_EQ(errorId(c, in), "Sabrel:cellTooSmall") << "cell " << k << " of argument " << pos + 1;
        }
}

TEST(Sabrel, ResultsBeyondTheCachesAreWrittenAlike)
{
    // 8.4 MB of results: written with stores that bypass the caches.
    WarpCall c = bigCall(1, 1030, 1025, 7u);
    const auto expected = c.expected();
    run(c.inputs());
    EXPECT_TRUE(sameBits(c.result(0), expected[0]));
}
