// Mundle through its gateway, with the host-free stand-in.
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
    call("Mundle", mexFunction, in);
}

// n images of N channels of side x side; source channel k of image i holds
// 100*(i + n*k) + 10*row + column.
WarpCall stacks(int n, int N, int side = 3)
{
    WarpCall c;
    c.oriented = true;
    c.n = n;
    c.N = N;
    c.sx = c.sy = side;
    c.allocate();
    return c;
}

// Result map k read row by row.
Values rows(const WarpCall& c, int k)
{
    Values v;
    for (int x = 0; x < c.sx; ++x)
        for (int y = 0; y < c.sy; ++y) v.push_back(c.at(k, x, y));
    return v;
}

// Source channel each result channel of image 0 reads, told by the hundreds.
std::vector<int> channelsRead(WarpCall c, double dO)
{
    c.deltaOri = {dO};
    run(c.inputs());
    std::vector<int> from;
    for (int k = 0; k < c.N; ++k) from.push_back(static_cast<int>(c.at(k, 1, 1)) / 100);
    return from;
}

std::string errorId(const WarpCall& c, const std::vector<Array>& in)
{
    const Values before = c.snapshot();
    const std::string id = errorIdOf("Mundle", mexFunction, in);
    EXPECT_TRUE(sameBits(before, c.snapshot())) << "a failed call changed an array";
    return id;
}

}  // namespace

TEST(Mundle, ChannelsFollowTheRotation)
{
    WarpCall c = stacks(1, 2);
    EXPECT_EQ(channelsRead(c, 0), (std::vector<int>{0, 1}));
    EXPECT_EQ(channelsRead(c, 1), (std::vector<int>{1, 0}));
    EXPECT_EQ(channelsRead(c, 2), (std::vector<int>{0, 1}));
    EXPECT_EQ(channelsRead(c, 1.9), (std::vector<int>{1, 0}));

    c = stacks(1, 4);
    EXPECT_EQ(channelsRead(c, 1), (std::vector<int>{1, 2, 3, 0}));
    EXPECT_EQ(channelsRead(c, -1), (std::vector<int>{3, 0, 1, 2}));
    EXPECT_EQ(channelsRead(c, -1.9), (std::vector<int>{3, 0, 1, 2}));
    EXPECT_EQ(channelsRead(c, -5), (std::vector<int>{3, 0, 1, 2}));
    EXPECT_EQ(channelsRead(c, 7), (std::vector<int>{3, 0, 1, 2}));
    EXPECT_EQ(channelsRead(c, 4), (std::vector<int>{0, 1, 2, 3}));
}

TEST(Mundle, ThreeByThreeExamples)
{
    WarpCall c = stacks(1, 2);
    run(c.inputs());
    for (int k = 0; k < 2; ++k) EXPECT_TRUE(sameBits(c.result(k), c.source(k)));

    c.deltaOri = {1};
    run(c.inputs());
    EXPECT_EQ(rows(c, 1), (Values{20, 10, 0, 21, 11, 1, 22, 12, 2}));  // from channel 0
    EXPECT_EQ(rows(c, 0), (Values{120, 110, 100, 121, 111, 101, 122, 112, 102}));

    c.deltaOri = {0};
    c.deltaX = {1.9};
    run(c.inputs());
    EXPECT_EQ(rows(c, 0), (Values{10, 11, 12, 20, 21, 22, 0, 0, 0}));
    EXPECT_EQ(rows(c, 1), (Values{110, 111, 112, 120, 121, 122, 0, 0, 0}));
}

TEST(Mundle, EvenHalfTurnKeepsChannels)
{
    WarpCall c = stacks(1, 4, 4);
    c.deltaOri = {4};
    run(c.inputs());
    for (int k = 0; k < 4; ++k)
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                EXPECT_EQ(c.at(k, x, y), x == 0 || y == 0 ? 0 : 100 * k + 10 * (4 - x) + (4 - y));
}

TEST(Mundle, ImagesAreWarpedIndependently)
{
    WarpCall c = stacks(2, 2);
    c.deltaOri = {1, 2};
    run(c.inputs());
    // Grid entry i + 2*k: image 0 swaps channels and turns a quarter; image 1
    // keeps them and turns half.
    EXPECT_EQ(rows(c, 0), (Values{220, 210, 200, 221, 211, 201, 222, 212, 202}));
    EXPECT_EQ(rows(c, 1), (Values{122, 121, 120, 112, 111, 110, 102, 101, 100}));
    EXPECT_EQ(rows(c, 3), (Values{322, 321, 320, 312, 311, 310, 302, 301, 300}));
}

TEST(Mundle, SameBitsAsThePlainLoop)
{
    auto next = smallRandom(777u);
    const int shapes[][2] = {{1, 1}, {3, 2}, {4, 4}, {7, 5}, {6, 9}};
    for (const auto& shape : shapes)
        for (int N : {1, 2, 3, 4, 6, 8}) {
            WarpCall c = stacks(4, N);
            c.sx = shape[0];
            c.sy = shape[1];
            c.allocate();
            for (int i = 0; i < c.n; ++i) {
                c.deltaX[i] = next(3) - 1;
                c.deltaY[i] = next(3) - 1;
                c.deltaOri[i] = next(4 * N + 1) - 2 * N;
            }
            const auto expected = c.expected();
            run(c.inputs());
            for (int k = 0; k < c.maps(); ++k) EXPECT_TRUE(sameBits(c.result(k), expected[k])) << N << " map " << k;
        }
}

TEST(Mundle, ResultsFromTheSourcesAsTheyWereBeforeTheCall)
{
    // The same grid as sources and results: every channel reads another one.
    WarpCall same = stacks(2, 4);
    same.deltaOri = {1, -2};
    same.deltaX = {0, 1};
    auto expected = same.expected();
    std::vector<Array> in = same.inputs();
    in[3] = in[2];
    run(in);
    for (int k = 0; k < same.maps(); ++k) EXPECT_TRUE(sameBits(same.source(k), expected[k])) << k;

    // Result cells sharing one block: the last channel's write stays.
    WarpCall shared = stacks(1, 3);
    shared.deltaOri = {1};
    for (int k = 1; k < 3; ++k) setCell(shared.results, k, cellContent(shared.results, 0));
    expected = shared.expected();
    run(shared.inputs());
    EXPECT_TRUE(sameBits(shared.result(0), expected[2]));
}

TEST(Mundle, WrongCallsRaiseAndWriteNothing)
{
    const WarpCall c = stacks(2, 2);
    auto with = [&c](int pos, const Array& a) {
        std::vector<Array> in = c.inputs();
        in[pos] = a;
        return errorId(c, in);
    };
    std::vector<Array> eight = c.inputs();
    eight.pop_back();
    EXPECT_EQ(errorId(c, eight), "Mundle:nargin");
    EXPECT_EQ(with(1, scalar(-1)), "Mundle:negativeCount");
    EXPECT_EQ(with(1, scalar(3)), "Mundle:tooFewCells");
    EXPECT_EQ(with(3, cellOf(2, 2, {zeros(3, 3), zeros(3, 3), zeros(3, 3), zeros(3, 2)})), "Mundle:cellTooSmall");
    EXPECT_EQ(with(2, matrix(2, 2, {}, Kind::Single)), "Mundle:notCell");
    EXPECT_EQ(with(8, column({1, 1e10})), "Mundle:badValue");
    EXPECT_EQ(with(7, column({1})), "Mundle:tooShort");
}

TEST(Mundle, NoChannelsVisitNothing)
{
    WarpCall c = stacks(2, 2);
    const Values before = c.snapshot();
    std::vector<Array> in = c.inputs();
    in[1] = scalar(0);
    in[2] = in[3] = cell(0, 0);
    run(in);
    EXPECT_TRUE(sameBits(before, c.snapshot()));
}

TEST(Mundle, SameBitsOnOneTwoAndEightThreads)
{
    // Images with their own transforms, then one image (split by columns),
    // then an odd count of stacks of many channels (split by columns into a
    // count the threads divide); out of place and in place (every channel
    // reads another one).
    const int shapes[][3] = {{3, 4, 160}, {1, 3, 400}, {7, 16, 64}};  // images, N, side
    for (const auto& shape : shapes)
        for (bool inPlace : {false, true})
            for (int threads : {1, 2, 8}) {
                const ThreadCount setting(threads);
                WarpCall c = stacks(shape[0], shape[1], shape[2]);
                auto next = smallRandom(4242u);
                for (int i = 0; i < c.n; ++i) {
                    c.deltaX[i] = next(21) - 10;
                    c.deltaY[i] = next(21) - 10;
                    c.deltaOri[i] = next(8 * c.N) - 4 * c.N;
                }
                const auto expected = c.expected();
                std::vector<Array> in = c.inputs();
                if (inPlace) in[3] = in[2];
                run(in);
                for (int k = 0; k < c.maps(); ++k)
                    EXPECT_TRUE(sameBits(inPlace ? c.source(k) : c.result(k), expected[k]))
                        << threads << " threads, map " << k << (inPlace ? ", in place" : "");
            }
    EXPECT_GE(poolHelpers(), 1);
}

TEST(Mundle, TransformsStoredInAResultMapAreReadFirst)
{
    WarpCall c = stacks(2, 2);
    c.deltaOri = {1, -1};
    c.result(3)[0] = 1;
    c.result(3)[1] = -1;
    const auto expected = c.expected();
    std::vector<Array> in = c.inputs();
    in[8] = cellContent(c.results, 3);  // deltaOri = {1, -1, ...}, overwritten by the call
    run(in);
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(sameBits(c.result(k), expected[k])) << k;
}

TEST(Mundle, CellsOneElementShortWriteNothing)
{
    for (int k : {0, 3})
        for (int pos : {2, 3}) {
            const WarpCall c = stacks(2, 2);
            std::vector<Array> in = c.inputs();
            in[pos] = gridWithShortCell(pos == 2 ? c.sources : c.results, 2, 2, k);
            EXPECT_EQ(errorId(c, in), "Mundle:cellTooSmall") << "cell " << k << " of argument " << pos + 1;
        }
}

TEST(Mundle, ResultsBeyondTheCachesAreWrittenAlike)
{
    // Two channels of 8.5 MB or more of results, written with stores that
    // bypass the caches: columns of one tile (730 rows), tiles of 32 rows
    // whose breaks lie on line boundaries (1064) or whose last takes a
    // remainder (1025), and a transform with no turn (copied).
    const int cases[][5] = {{730, 730, 3, -2, 3}, {1064, 520, 3, -2, 3}, {1025, 540, -1, 2, 5}, {730, 730, 3, -2, 0}};
    for (const auto& k : cases) {
        WarpCall c = stacks(1, 2);
        c.sx = k[0];
        c.sy = k[1];
        c.allocate();
        c.deltaX = {static_cast<double>(k[2])};
        c.deltaY = {static_cast<double>(k[3])};
        c.deltaOri = {static_cast<double>(k[4])};
        const auto expected = c.expected();
        run(c.inputs());
        for (int m = 0; m < 2; ++m) EXPECT_TRUE(sameBits(c.result(m), expected[m])) << k[0] << " x " << k[1] << ", map " << m;
    }
}
