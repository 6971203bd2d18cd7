// Shift tables and oriented local-maximum pooling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <random>

#include "learn.h"
#include "plain_pooling.h"
#include "poolmap.h"
#include "pooling.h"
#include "scoremap.h"
#include "standin.h"
#include "template.h"
#include "threads.h"

namespace {

// What gatherPlaces reads of an element.
struct Place {
    int ori;
    int x;
    int y;
};

// A pooling set-up over plain vectors: nImages x N maps of nRows x nCols.
struct Pool {
    std::vector<std::vector<double>> maps;
    std::vector<double*> table;
    PoolState s{};

    // maxCached 0: offsets computed on the fly instead of from the tables.
    Pool(int nImages, int N, int nRows, int nCols, int shiftRange, int oriRange, int shiftStep = 1,
         double saturation = 100, long long maxCached = 1 << 20)
    {
        maps.assign(nImages * N, std::vector<double>(nRows * nCols, 0.0));
        for (auto& m : maps) table.push_back(m.data());
        s = {nImages, N, nRows, nCols, shiftRange, oriRange, shiftStep, saturation, table.data(),
             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
        buildShiftTables(s, maxCached);
        buildImageRuns(s);
    }
    ~Pool() { standin::releaseAllocations(); }
    double& at(int image, int ori, int row, int col) { return maps[image + s.nImages * ori][(row - 1) + s.nRows * (col - 1)]; }
    double pool(int image, int ori, long long x, long long y, MaxRecord& r) const { return localMaximum(s, image, ori, x, y, r); }
};

void expectRecord(const MaxRecord& r, int shift, int x, int y, int ori, int oriShift)
{
    EXPECT_EQ(r.shift, shift);
    EXPECT_EQ(r.x, x);
    EXPECT_EQ(r.y, y);
    EXPECT_EQ(r.ori, ori);
    EXPECT_EQ(r.oriShift, oriShift);
}

}  // namespace

TEST(ShiftTables, SixOrientationsShowTheTruncatedPi)
{
    Pool p(1, 6, 3, 3, 2, 0);
    const int x[6][5] = {{-2, -1, 0, 1, 2}, {-2, -1, 0, 1, 2}, {-1, -1, 0, 1, 1},
                         {0, 0, 0, 0, 0},   {1, 0, 0, 0, -1},  {2, 1, 0, -1, -2}};
    const int y[6][5] = {{0, 0, 0, 0, 0},   {-1, 0, 0, 0, 1},  {-2, -1, 0, 1, 2},
                         {-2, -1, 0, 1, 2}, {-2, -1, 0, 1, 2}, {-1, -1, 0, 1, 1}};
    Pool onTheFly(1, 6, 3, 3, 2, 0, 1, 100, 0);
    ASSERT_EQ(onTheFly.s.shiftX, nullptr);
    for (int k = 0; k < 6; ++k)
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(p.s.shiftX[k * 5 + i], x[k][i]) << "k=" << k << " i=" << i;
            EXPECT_EQ(p.s.shiftY[k * 5 + i], y[k][i]) << "k=" << k << " i=" << i;
            EXPECT_EQ(p.s.shiftAt[k * 5 + i], x[k][i] + 3 * y[k][i]) << "k=" << k << " i=" << i;
            long long dx, dy;
            shiftOffsets(onTheFly.s, k, i - 2, dx, dy);
            EXPECT_EQ(dx, x[k][i]) << "k=" << k << " i=" << i;
            EXPECT_EQ(dy, y[k][i]) << "k=" << k << " i=" << i;
        }
}

TEST(ShiftTables, ZeroStepAndZeroRange)
{
    Pool p(1, 4, 3, 3, 3, 0, 0);
    for (int k = 0; k < 28; ++k) EXPECT_EQ(p.s.shiftX[k] | p.s.shiftY[k], 0);
    Pool q(1, 4, 3, 3, 0, 0, 5);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(q.s.shiftX[k] | q.s.shiftY[k], 0);
}

TEST(LocalMaximum, SingleSampleWithoutShiftsOrOrientations)
{
    Pool p(2, 2, 4, 4, 0, 0, 1, 10);
    p.at(1, 1, 2, 3) = 0.5;
    MaxRecord r;
    EXPECT_EQ(p.pool(1, 1, 2, 3, r), 0.5);
    expectRecord(r, 0, 2, 3, 1, 0);
    EXPECT_EQ(p.pool(0, 1, 2, 3, r), 0.0);  // other image
    p.at(1, 1, 2, 3) = -0.5;
    EXPECT_EQ(p.pool(1, 1, 2, 3, r), 0.0);  // never below 0
}

TEST(LocalMaximum, TiesGoToTheLowestShiftThenTheLowestOrientationOffset)
{
    Pool p(1, 4, 7, 7, 1, 1, 1, 10);
    // ori 0 shifts along rows: samples rows 3, 4, 5 of column 4.
    p.at(0, 1, 3, 4) = 2;
    p.at(0, 3, 3, 4) = 2;
    p.at(0, 0, 5, 4) = 2;
    MaxRecord r;
    EXPECT_EQ(p.pool(0, 0, 4, 4, r), 2.0);
    expectRecord(r, -1, 3, 4, 3, -1);  // shift -1 first; offset -1 (orientation 3) before +1
    p.at(0, 3, 3, 4) = 0;
    p.pool(0, 0, 4, 4, r);
    expectRecord(r, -1, 3, 4, 1, 1);
}

TEST(LocalMaximum, OrientationWrapsOnceAtBothEnds)
{
    Pool p(1, 4, 3, 3, 0, 1, 1, 10);
    p.at(0, 3, 2, 2) = 1;
    MaxRecord r;
    EXPECT_EQ(p.pool(0, 0, 2, 2, r), 1.0);
    EXPECT_EQ(r.ori, 3);
    EXPECT_EQ(r.oriShift, -1);
    p.at(0, 0, 2, 2) = 3;
    EXPECT_EQ(p.pool(0, 3, 2, 2, r), 3.0);
    EXPECT_EQ(r.ori, 0);
    EXPECT_EQ(r.oriShift, 1);
    // oriRange = N reads every orientation, some twice.
    Pool q(1, 2, 3, 3, 0, 2, 1, 10);
    q.at(0, 1, 2, 2) = 4;
    EXPECT_EQ(q.pool(0, 0, 2, 2, r), 4.0);
    EXPECT_EQ(r.oriShift, -1);
}

TEST(LocalMaximum, SaturationCapsTheValueButNotTheRecord)
{
    Pool p(1, 1, 5, 5, 1, 0, 1, 0.7);
    p.at(0, 0, 4, 3) = 0.9;
    MaxRecord r;
    EXPECT_EQ(p.pool(0, 0, 3, 3, r), 0.7);
    expectRecord(r, 1, 4, 3, 0, 0);
    p.s.saturation = -1;
    EXPECT_EQ(p.pool(0, 0, 1, 1, r), -1.0);  // nothing found, capped below 0
    // A cap of -0 leaves the +0 of nothing found: 0 > -0 does not hold.
    p.s.saturation = -0.0;
    const double none = p.pool(0, 0, 1, 1, r);
    EXPECT_EQ(none, 0.0);
    EXPECT_FALSE(std::signbit(none));
}

TEST(LocalMaximum, NaNNeverWins)
{
    Pool p(1, 1, 3, 3, 1, 0, 1, 10);
    for (double& v : p.maps[0]) v = NAN;
    MaxRecord r;
    EXPECT_EQ(p.pool(0, 0, 2, 2, r), 0.0);
    p.at(0, 0, 3, 2) = 0.25;
    EXPECT_EQ(p.pool(0, 0, 2, 2, r), 0.25);
    EXPECT_EQ(r.x, 3);
}

TEST(LocalMaximum, PositionsOutsideTheMapAreSkipped)
{
    Pool p(1, 1, 4, 4, 2, 0, 1, 10);
    for (double& v : p.maps[0]) v = 1;
    MaxRecord r;
    // Only rows 1..4 are inside; the element at row 0 reaches rows 1 and 2.
    EXPECT_EQ(p.pool(0, 0, 0, 2, r), 1.0);
    EXPECT_EQ(r.x, 1);
    EXPECT_EQ(r.shift, 1);
    // Bounds are inclusive at nRows and nCols.
    EXPECT_EQ(p.pool(0, 0, 6, 4, r), 1.0);
    EXPECT_EQ(r.x, 4);
    // Everything outside, near and very far: 0, and no read outside the maps.
    EXPECT_EQ(p.pool(0, 0, 7, 2, r), 0.0);
    EXPECT_EQ(p.pool(0, 0, 2, 0, r), 0.0);
    EXPECT_EQ(p.pool(0, 0, 2, 5, r), 0.0);
    EXPECT_EQ(p.pool(0, 0, -2147483648LL, 2147483647LL, r), 0.0);
    EXPECT_EQ(p.pool(0, 0, 40000000000LL, 1, r), 0.0);
}

TEST(LocalMaximum, ZeroStepFindsTheFirstShift)
{
    Pool p(1, 1, 3, 3, 2, 0, 0, 10);
    p.at(0, 0, 2, 2) = 5;
    MaxRecord r;
    EXPECT_EQ(p.pool(0, 0, 2, 2, r), 5.0);
    EXPECT_EQ(r.shift, -2);
}

TEST(LocalMaximum, MatchesThePlainLoopAnywhereWithTablesAndWithout)
{
    // Elements inside, at and far beyond the border, long shift ranges that
    // reach the map from far away, every shift direction: the bisected run of
    // in-map shifts gives the plain loop's value and winner, and offsets
    // computed on the fly give the tables' bits.
    const unsigned seed = 99;
    std::mt19937 rng(seed);
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    for (int trial = 0; trial < 300; ++trial) {
        const int N = pick(1, 9), nRows = pick(1, 12), nCols = pick(1, 12);
        const int shiftRange = trial % 3 == 0 ? pick(0, 400) : pick(0, 4);
        const int shiftStep = pick(-3, 3), oriRange = pick(0, N);
        Pool p(2, N, nRows, nCols, shiftRange, oriRange, shiftStep, 0.8, trial % 2 ? 0 : 1 << 20);
        // Every fifth trial has few distinct values, so that ties decide.
        for (auto& m : p.maps)
            for (double& v : m)
                v = pick(0, 30) == 0 ? NAN
                    : trial % 5 == 0 ? pick(-1, 3) / 4.0
                                     : std::uniform_real_distribution<double>(-0.5, 1)(rng);
        plain::Maps plainMaps = {2, N, nRows, nCols, oriRange, 0.8, p.table};
        const plain::Shifts t = plain::shiftTables(N, shiftRange, shiftStep);
        const int reach = shiftRange * (shiftStep < 0 ? -shiftStep : shiftStep) + 3;
        for (int k = 0; k < 10; ++k) {
            const int ori = pick(0, N - 1);
            const long long x = pick(-reach, nRows + reach), y = pick(-reach, nCols + reach);
            plain::Winner win;
            const double expected = plain::pool(plainMaps, t, 1, ori, x, y, win);
            MaxRecord r;
            const double v = p.pool(1, ori, x, y, r);
            ASSERT_EQ(v, expected) << "seed " << seed << " trial " << trial;
            if (v > 0) {
                EXPECT_EQ(r.x, win.row) << "seed " << seed << " trial " << trial;
                EXPECT_EQ(r.y, win.col) << "seed " << seed << " trial " << trial;
                EXPECT_EQ(r.ori, win.ori) << "seed " << seed << " trial " << trial;
            }
            const ShiftRun run = mapShifts(p.s, ori, x, y);
            const ShiftRun bisected = mapShiftsBisected(p.s, ori, x, y);
            if (bisected.first <= bisected.last) {
                EXPECT_EQ(run.first, bisected.first);
                EXPECT_EQ(run.last, bisected.last);
            } else {
                EXPECT_GT(run.first, run.last);
            }
            EXPECT_EQ(run.whole, bisected.whole);
            if (run.whole && insideWindow(p.s)) {
                EXPECT_EQ(poolInside(p.s, imageMaps(p.s, 1), ori, linearIndex(x, y, nRows, nCols)), expected);
                MaxRecord inside;
                EXPECT_EQ(poolInsideRecord(p.s, imageMaps(p.s, 1), ori, x, y, inside), expected);
                if (v > 0) {
                    EXPECT_EQ(inside.x, win.row);
                    EXPECT_EQ(inside.y, win.col);
                    EXPECT_EQ(inside.ori, win.ori);
                    EXPECT_EQ(inside.shift, r.shift);
                    EXPECT_EQ(inside.oriShift, r.oriShift);
                }
            }
            if (run.whole && gathersInside(p.s)) {
                // Copied out first, then pooled (the big batches' way).
                double samples[GATHERED_SAMPLES];
                std::ptrdiff_t along[GATHERED_SAMPLES];
                for (int i = 0; i < GATHERED_SAMPLES; ++i) along[i] = i;
                gatherInside(p.s, imageMaps(p.s, 1), ori, x, y, samples);
                MaxRecord gathered;
                EXPECT_EQ(poolGatheredRecord(p.s, samples, along, ori, x, y, gathered), expected)
                    << "seed " << seed << " trial " << trial;
                if (v > 0) {
                    EXPECT_EQ(gathered.x, win.row) << "seed " << seed << " trial " << trial;
                    EXPECT_EQ(gathered.y, win.col) << "seed " << seed << " trial " << trial;
                    EXPECT_EQ(gathered.ori, win.ori) << "seed " << seed << " trial " << trial;
                    EXPECT_EQ(gathered.shift, r.shift) << "seed " << seed << " trial " << trial;
                    EXPECT_EQ(gathered.oriShift, r.oriShift) << "seed " << seed << " trial " << trial;
                }
            }
        }
    }
}

// Copied from places worked out once, every inside pooling of every window
// size that serves gets the samples the loop of gatherInside copies, bit for
// bit, and a pooling not wholly inside is left alone.
TEST(LocalMaximum, PlacedCopiesAreTheLoopsCopies)
{
    const unsigned seed = 7;
    std::mt19937 rng(seed);
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    for (int trial = 0; trial < 16; ++trial) {
        const int N = pick(1, 6), oriRange = std::min(N, trial % 2), shiftRange = 1 + trial / 2 % 2;
        Pool p(3, N, pick(5, 11), pick(5, 11), shiftRange, oriRange, pick(-2, 2), 0.8);
        ASSERT_TRUE(gathersPlaced(p.s)) << "trial " << trial;
        for (auto& m : p.maps)
            for (double& v : m) v = pick(0, 20) == 0 ? NAN : std::uniform_real_distribution<double>(-1, 1)(rng);
        std::vector<ShiftRun> runs;
        std::vector<Place> at;
        for (int ori = 0; ori < N; ++ori)
            for (int x = 1; x <= p.s.nRows; ++x)
                for (int y = 1; y <= p.s.nCols; ++y) {
                    runs.push_back(mapShifts(p.s, ori, x, y));
                    at.push_back({ori, x, y});
                }
        std::vector<GatherPlace> places(at.size());
        gatherPlaces(p.s, at.data(), runs.data(), static_cast<long long>(at.size()), places.data());
        std::vector<double> placed(places.size() * GATHERED_SAMPLES, -7.0);
        gatherPlaced(p.s, imageMapsInRun(p.s, 2), places.data(), runs.data(), static_cast<long long>(places.size()), placed.data());
        const int count = (2 * oriRange + 1) * (2 * shiftRange + 1);
        for (std::size_t k = 0; k < places.size(); ++k) {
            const double* got = placed.data() + k * GATHERED_SAMPLES;
            if (!runs[k].whole) {
                EXPECT_EQ(got[0], -7.0) << "seed " << seed << " trial " << trial << " pooling " << k;
                continue;
            }
            double samples[GATHERED_SAMPLES];
            gatherInside(p.s, imageMaps(p.s, 2), at[k].ori, at[k].x, at[k].y, samples);
            EXPECT_EQ(std::memcmp(samples, got, count * sizeof(double)), 0) << "seed " << seed << " trial " << trial << " pooling " << k;
        }
    }
}

TEST(LocalMaximum, AHugeShiftRangeVisitsOnlyTheShiftsThatLandInside)
{
    // 2*10^8 + 1 shifts along the rows of a 5 x 5 map: five land inside.
    Pool p(1, 2, 5, 5, 100000000, 0, 1, 10, 0);
    p.at(0, 0, 5, 3) = 2;
    p.at(0, 0, 1, 3) = 1;
    MaxRecord r;
    EXPECT_EQ(p.pool(0, 0, -1000, 3, r), 2.0);
    EXPECT_EQ(r.shift, 1005);
    const ShiftRun run = mapShifts(p.s, 0, -1000, 3);
    EXPECT_EQ(run.first, 1001);
    EXPECT_EQ(run.last, 1005);
    EXPECT_FALSE(run.whole);
    EXPECT_EQ(p.pool(0, 0, 3, 6, r), 0.0);  // column 6: no shift of orientation 0 moves columns
}

namespace {

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Fills every map with values in -0.5..1, a few NaN; few distinct values
// when coarse, so that ties decide.
void fillRandom(Pool& p, std::mt19937& rng, bool coarse)
{
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    for (auto& m : p.maps)
        for (double& v : m)
            v = pick(0, 30) == 0 ? NAN : coarse ? pick(-1, 3) / 4.0 : std::uniform_real_distribution<double>(-0.5, 1)(rng);
}

struct ThreadCount {
    explicit ThreadCount(int n) { setenv(THREADS_VARIABLE, std::to_string(n).c_str(), 1); }
    ~ThreadCount() { unsetenv(THREADS_VARIABLE); }
};

}  // namespace

TEST(PooledRect, EveryPositionIsThePlainPoolingInsideAndBeyondTheMap)
{
    // Rectangles that cover the map and reach beyond it, long and zero
    // steps, windows wider than N, negative caps, NaN: every position gets
    // the plain loop's value, bit for bit.
    const unsigned seed = 41;
    std::mt19937 rng(seed);
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    for (int trial = 0; trial < 200; ++trial) {
        const int N = pick(1, 9), nRows = pick(1, 12), nCols = pick(1, 12);
        const int shiftRange = trial % 7 == 0 ? pick(0, 3000) : pick(0, 4);
        const int shiftStep = pick(-3, 3), oriRange = pick(0, N);
        const double saturation = trial % 9 == 0 ? -0.25 : 0.8;
        Pool p(2, N, nRows, nCols, shiftRange, oriRange, shiftStep, saturation, trial % 2 ? 0 : 1 << 20);
        fillRandom(p, rng, trial % 5 == 0);
        plain::Maps plainMaps = {2, N, nRows, nCols, oriRange, saturation, p.table};
        const plain::Shifts t = plain::shiftTables(N, shiftRange, shiftStep);
        const PoolRect rect = {pick(-6, 2), nRows + pick(-1, 6), pick(-6, 2), nCols + pick(-1, 6)};
        const long long rows = rectRows(rect), cols = rectCols(rect);
        const int ori = pick(0, N - 1);
        std::vector<double> out(static_cast<std::size_t>(rows * cols + 7), 123.0);
        poolRect(p.s, imageMaps(p.s, 1), ori, rect, out.data(), rows);
        // With the window's maximum taken first, and the cap left out.
        std::vector<double> scratch(static_cast<std::size_t>(poolScratch(p.s, rows, cols)));
        std::vector<double> uncapped(out.size(), 123.0);
        poolRect(p.s, imageMaps(p.s, 1), ori, rect, uncapped.data(), rows, scratch.data(), false);
        for (long long y = rect.y0; y <= rect.y1; ++y)
            for (long long x = rect.x0; x <= rect.x1; ++x) {
                plain::Winner win;
                const double expected = plain::pool(plainMaps, t, 1, ori, x, y, win);
                const std::size_t at = static_cast<std::size_t>((x - rect.x0) + rows * (y - rect.y0));
                ASSERT_TRUE(sameBits(out[at], expected))
                    << "seed " << seed << " trial " << trial << " at " << x << "," << y;
                const double capped = uncapped[at] > saturation ? saturation : uncapped[at];
                ASSERT_TRUE(sameBits(capped, expected)) << "seed " << seed << " trial " << trial << " with scratch";
            }
        EXPECT_EQ(out[rows * cols], 123.0) << "seed " << seed << " trial " << trial;
        // A rect inside the map, reaching samples on every side, with the
        // scratch sized for its size alone (the sanitizer sees any overrun).
        const PoolRect inner = {1 + nRows / 4, nRows - nRows / 4, 1 + nCols / 4, nCols - nCols / 4};
        const long long innerRows = rectRows(inner), innerCols = rectCols(inner);
        if (innerRows == 0 || innerCols == 0) continue;
        std::vector<double> innerScratch(static_cast<std::size_t>(poolScratch(p.s, innerRows, innerCols)));
        std::vector<double> innerOut(static_cast<std::size_t>(innerRows * innerCols));
        poolRect(p.s, imageMaps(p.s, 0), ori, inner, innerOut.data(), innerRows, innerScratch.data());
        for (long long y = inner.y0; y <= inner.y1; ++y)
            for (long long x = inner.x0; x <= inner.x1; ++x) {
                plain::Winner win;
                const double expected = plain::pool(plainMaps, t, 0, ori, x, y, win);
                ASSERT_TRUE(sameBits(innerOut[(x - inner.x0) + innerRows * (y - inner.y0)], expected))
                    << "seed " << seed << " trial " << trial << " inside at " << x << "," << y;
            }
    }
}

TEST(ScoreMap, PooledSumsArePlainScoresOfEveryPlacementOnAnyThreads)
{
    // Every placement of every rotation: the template moved by the plain
    // point transform, each element pooled by the plain loop, the score
    // summed from 0 in element order. The pooled route and the direct one,
    // each on 1 and 2 threads, with the rotations' scores kept and not.
    const unsigned seed = 43;
    std::mt19937 rng(seed);
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    for (int trial = 0; trial < 24; ++trial) {
        // Trial 1: a column of placements holds more than a chunk's work
        // (2300 elements on 60 rows), so its rows are split.
        const bool tall = trial == 1;
        // Trial 2: an element one row below the centre turned by PI/3 lands
        // at a turned row offset within 4e-8 of a half: the rows are
        // visited one by one.
        const bool nearHalf = trial == 2;
        const int pickedN = pick(1, 8);
        const int N = nearHalf ? 3 : pickedN, nRows = tall ? 60 : pick(1, 14), nCols = tall ? 3 : pick(1, 14),
                  nImages = pick(1, 3);
        const int shiftRange = trial % 6 == 0 ? pick(0, 2000) : pick(0, 2);
        const int shiftStep = trial % 6 == 0 ? pick(-3, 3) * 700 : pick(-2, 2), oriRange = pick(0, N);
        const double saturation = trial % 5 == 0 ? -0.5 : 0.9;
        Pool p(nImages, N, nRows, nCols, shiftRange, oriRange, shiftStep, saturation);
        fillRandom(p, rng, trial % 4 == 0);
        const int nElements = tall ? 2300 : pick(0, 12);
        std::vector<Element> elements;
        for (int e = 0; e < nElements; ++e)
            elements.push_back({pick(0, N - 1), pick(-8, nRows + 8), pick(-8, nCols + 8),
                                std::uniform_real_distribution<double>(-1, 2)(rng), pick(0, 4) / 4.0});
        if (trial % 8 == 3 && nElements > 0) elements[0].x = 100000;  // far beyond: read nothing
        if (nearHalf) elements.push_back({0, nRows / 2 + 1, nCols / 2, 1.5, 0.25});
        std::vector<int> rotations = {0, pick(-20, 20), pick(0, 2 * N)};
        if (tall) rotations.resize(1);
        if (nearHalf) rotations = {1, 4};
        const int nRot = static_cast<int>(rotations.size());
        const long long nPix = static_cast<long long>(nRows) * nCols;

        plain::Maps plainMaps = {nImages, N, nRows, nCols, oriRange, saturation, p.table};
        const plain::Shifts t = plain::shiftTables(N, shiftRange, shiftStep);
        std::vector<double> expected(static_cast<std::size_t>(nPix * nRot * nImages));
        const int cx = nRows / 2, cy = nCols / 2;
        for (int i = 0; i < nImages; ++i)
            for (int k = 0; k < nRot; ++k)
                for (int c = 1; c <= nCols; ++c)
                    for (int r = 1; r <= nRows; ++r) {
                        double score = 0.0;
                        for (const Element& el : elements) {
                            long long xyo[3];
                            plain::turn(N, cx, cy, el.x, el.y, el.ori, r - cx, c - cy, rotations[k], xyo);
                            plain::Winner win;
                            const double v = plain::pool(plainMaps, t, i, static_cast<int>(xyo[2]), xyo[0], xyo[1], win);
                            score = score + (el.weight * v - el.bias);
                        }
                        expected[(i * nRot + k) * nPix + (c - 1) * nRows + (r - 1)] = score;
                    }
        for (int route = 0; route < 4; ++route) {
            ThreadCount threads(route % 2 + 1);
            std::vector<double> all(expected.size(), 7.0), best(nPix * nImages, 7.0), rot(nPix * nImages, 7.0);
            ScoreMapState s;
            s.pool = p.s;
            s.pool.sinTheta = nullptr;  // the kernel builds its own tables
            s.elements = elements.data();
            s.nElements = static_cast<long long>(elements.size());
            s.rotations = rotations.data();
            s.nRotations = nRot;
            s.scores = route < 2 ? all.data() : nullptr;
            s.best = best.data();
            s.bestRotation = rot.data();
            if (route == 1)
                scoreMapDirect(s);
            else
                scoreMap(s);
            for (int i = 0; i < nImages; ++i)
                for (long long q = 0; q < nPix; ++q) {
                    // The host's max over the rotations.
                    double b = expected[(i * nRot) * nPix + q];
                    int at = 0;
                    for (int k = 1; k < nRot; ++k) {
                        const double v = expected[(i * nRot + k) * nPix + q];
                        if (std::isnan(b) ? !std::isnan(v) : v > b) {
                            b = v;
                            at = k;
                        }
                    }
                    ASSERT_TRUE(sameBits(best[i * nPix + q], b)) << "seed " << seed << " trial " << trial << " route " << route;
                    ASSERT_EQ(rot[i * nPix + q], rotations[at]) << "seed " << seed << " trial " << trial;
                    if (s.scores) {
                        for (int k = 0; k < nRot; ++k)
                            ASSERT_TRUE(sameBits(all[(i * nRot + k) * nPix + q], expected[(i * nRot + k) * nPix + q]))
                                << "seed " << seed << " trial " << trial << " route " << route;
                    }
                }
        }
    }
}

TEST(ScoreMap, PeaksAreSeparatedLocalMaximaHighestFirst)
{
    // 4 x 5: a peak of 5 at (2, 2), a plateau of 3 at (3, 4) and (3, 5), a
    // NaN that blocks nothing, a slope that is no peak.
    const int nRows = 4, nCols = 5;
    double best[20] = {1, 1, 1, 1,  1, 5, 1, 1,  0, 1, 2, 0,  0, 1, 3, NAN,  0, 1, 3, 0};
    double rot[20];
    for (int k = 0; k < 20; ++k) rot[k] = k;
    double peaks[4 * 20];
    unsigned char flags[20];
    long long order[20];
    // Peaks: 5 at (2, 2); 3 at (3, 4) and (3, 5), the NaN beside them
    // passed over; 1 at (4, 1), whose neighbours are all 1. The slope
    // (3, 3) = 2 and the zeros are below a neighbour. Highest first, the
    // plateau in column-major order, (3, 5) within 1.5 of (3, 4).
    long long n = findPeaks(best, rot, nRows, nCols, 10, 1.5, peaks, flags, order);
    ASSERT_EQ(n, 3);
    const double expected[12] = {2, 2, 5, 5, 3, 4, 14, 3, 4, 1, 3, 1};
    for (int k = 0; k < 12; ++k) EXPECT_EQ(peaks[k], expected[k]) << k;
    n = findPeaks(best, rot, nRows, nCols, 10, 0, peaks, flags, order);
    EXPECT_EQ(n, 4);  // the plateau's second peak too
    EXPECT_EQ(peaks[9], 5);  // (3, 5), third
    n = findPeaks(best, rot, nRows, nCols, 1, 0, peaks, flags, order);
    EXPECT_EQ(n, 1);
}

TEST(LearnTemplate, MeansAreThePlainPoolingsSummedInImageOrder)
{
    const unsigned seed = 47;
    std::mt19937 rng(seed);
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    for (int trial = 0; trial < 20; ++trial) {
        const int N = pick(1, 6), nRows = pick(1, 30), nCols = pick(1, 30), nImages = pick(1, 9);
        const int shiftRange = pick(0, 3), shiftStep = pick(-2, 2), oriRange = pick(0, N);
        Pool p(nImages, N, nRows, nCols, shiftRange, oriRange, shiftStep, 0.9);
        fillRandom(p, rng, false);
        plain::Maps plainMaps = {nImages, N, nRows, nCols, oriRange, 0.9, p.table};
        const plain::Shifts t = plain::shiftTables(N, shiftRange, shiftStep);
        ThreadCount threads(trial % 2 + 1);
        std::vector<double> mean(static_cast<std::size_t>(nRows) * nCols * N);
        PoolState s = p.s;
        meanPooled(s, mean.data());
        for (int o = 0; o < N; ++o)
            for (int c = 1; c <= nCols; ++c)
                for (int r = 1; r <= nRows; ++r) {
                    double sum = 0.0;
                    for (int i = 0; i < nImages; ++i) {
                        plain::Winner win;
                        sum = sum + plain::pool(plainMaps, t, i, o, r, c, win);
                    }
                    ASSERT_TRUE(sameBits(mean[(r - 1) + nRows * (c - 1) + nRows * nCols * o], sum / nImages))
                        << "seed " << seed << " trial " << trial;
                }
    }
}

TEST(LearnTemplate, PicksTheLargestFirstInArrayOrderAndDropsItsNeighbours)
{
    // 5 x 5 x 2, centre (2, 2) counted from 1, radius 2.9 (d^2 <= 8.41):
    // (5, 5) and (4, 5) lie outside. 9 at (4, 4) in both orientations and
    // at (1, 1) in orientation 1: (4, 4, 0) is first in array order (18
    // against 25), then (1, 1, 1); each drops d^2 < 4 about it, (3, 3) and
    // its NaN among them. Then 6 at (2, 3) (d^2 = 5 from both), then a 0.
    std::vector<double> mean(50, 0.0);
    auto at = [&](int r, int c, int o) -> double& { return mean[(r - 1) + 5 * (c - 1) + 25 * o]; };
    at(4, 4, 1) = 9;
    at(4, 4, 0) = 9;
    at(1, 1, 1) = 9;
    at(4, 5, 0) = 8;   // outside the radius
    at(5, 5, 0) = 10;  // outside the radius
    at(2, 3, 1) = 6;
    at(3, 3, 0) = NAN;
    double rows[4], cols[4], oris[4], means[4];
    LearnState s;
    s.pool = {1, 2, 5, 5, 0, 0, 1, 1.0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    s.K = 4;
    s.radius = 2.9;
    s.separation = 2;
    s.rows = rows;
    s.cols = cols;
    s.oris = oris;
    s.means = means;
    const long long n = pickCandidates(s, mean.data());
    ASSERT_EQ(n, 4);
    // (1, 1, 1) has index 25 + 0 = 25, (4, 4, 0) index 18: the latter first.
    EXPECT_EQ(rows[0], 4);
    EXPECT_EQ(cols[0], 4);
    EXPECT_EQ(oris[0], 0);
    EXPECT_EQ(rows[1], 1);
    EXPECT_EQ(cols[1], 1);
    EXPECT_EQ(oris[1], 1);
    EXPECT_EQ(means[2], 6);
    EXPECT_EQ(rows[2], 2);
    EXPECT_EQ(cols[2], 3);
    EXPECT_EQ(means[3], 0);
    EXPECT_FALSE(rows[3] == 3 && cols[3] == 3 && oris[3] == 0);
    standin::releaseAllocations();
}
