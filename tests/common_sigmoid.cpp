// The sigmoid: its values to the last bit, its limits, and the saturation
// pass over a grid (shared blocks, chunks that straddle maps, any thread
// count) against plain loops written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "sigmoid.h"
#include "standin.h"
#include "threads.h"

namespace {

// The defining steps, written out here rather than taken from the product.
double plainSigmoid(double v, double s)
{
    const double x = (-2.0 * v) / s;
    const double e = std::exp(x);
    return s * (2.0 / (e + 1.0) - 1.0);
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A grid over maps the test owns; cells listed in table may repeat a map.
struct Grid {
    std::vector<std::vector<double>> maps;
    std::vector<double*> table;
    SaturationMaps m{};

    Grid(int nImages, int N, int nRows, int nCols, double s, const std::vector<int>& cellToMap,
         std::size_t mapSize, unsigned seed)
    {
        std::mt19937 gen(seed);
        std::uniform_real_distribution<double> dist(-6.0, 6.0);
        int distinct = 0;
        for (int k : cellToMap) distinct = std::max(distinct, k + 1);
        maps.assign(distinct, std::vector<double>(mapSize));
        for (auto& map : maps)
            for (double& v : map) v = dist(gen);
        for (int k : cellToMap) table.push_back(maps[k].data());
        m = {nImages, N, table.data(), nRows, nCols, s};
    }
};

std::vector<int> distinctCells(int n)
{
    std::vector<int> cells(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) cells[static_cast<std::size_t>(k)] = k;
    return cells;
}

// The plain pixel-major loops: each pixel through every cell (grid column
// outer, grid row inner), pixels along rows.
void plainPixelMajor(const SaturationMaps& m)
{
    for (long long i = 1; i <= m.nRows; ++i)
        for (long long j = 1; j <= m.nCols; ++j) {
            const long long p = i + static_cast<long long>(m.nRows) * (j - 1) - 1;
            for (int k = 0; k < m.N; ++k)
                for (int l = 0; l < m.nImages; ++l) {
                    double* map = m.responseMaps[l + m.nImages * k];
                    map[p] = plainSigmoid(map[p], m.saturationLevel);
                }
        }
}

bool sameBits(const std::vector<std::vector<double>>& a, const std::vector<std::vector<double>>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if (a[k].size() != b[k].size() || std::memcmp(a[k].data(), b[k].data(), a[k].size() * sizeof(double)) != 0)
            return false;
    return true;
}

struct ThreadSetting {
    explicit ThreadSetting(int n) { setenv(THREADS_VARIABLE, std::to_string(n).c_str(), 1); }
    ~ThreadSetting() { unsetenv(THREADS_VARIABLE); }
};

// The pass allocates its scratch from the host, which releases it after a
// call; called directly here, the test releases it.
class SigmoidPass : public ::testing::Test {
protected:
    void TearDown() override { standin::releaseAllocations(); }
};

// Values of the exp steps to the last bit (this platform's exp), each where
// s*tanh(v/s) rounds differently, so a sigmoid computed another way fails.
struct WorkedValue {
    double v, s, q;
};
const WorkedValue workedValues[] = {
    {1.0, 2.0, 0x1.d9353d7568af4p-1},    // 0.92423431452002
    {-1.0, 2.0, -0x1.d9353d7568af4p-1},
    {0.5, 1.0, 0x1.d9353d7568af4p-2},    // 0.46211715726001
    {0.3, 1.7, 0x1.300ce094f98bfp-2},
    {2.5, 1.7, 0x1.878b7fa842fe9p+0},
    {1e-3, 1.0, 0x1.0624d77516c00p-10},  // 12 bits short of tanh's
    {3.0, 1.0, 0x1.fd77d111a0b02p-1},
    {19.0, 1.0, 1.0},                     // exp's steps reach the level early
    {2.208, 2.0, 0x1.9a96bb0a9f58ap+0},
    {-1.491, 2.0, -0x1.43d15b4c2799ap+0},
};

}  // namespace

TEST(Sigmoid, KnownValuesTo14Digits)
{
    EXPECT_NEAR(saturate(1, 2), 0.92423431452002, 5e-15);
    EXPECT_NEAR(saturate(-1, 2), -0.92423431452002, 5e-15);
    EXPECT_EQ(saturate(-1, 2), -saturate(1, 2));
    EXPECT_NEAR(saturate(0.5, 1), 0.46211715726001, 5e-15);
    EXPECT_NEAR(saturate(100, 50), 48.201379003791, 5e-13);
    for (double s : {1e-3, 0.5, 2.0, 1e6}) {
        EXPECT_EQ(saturate(0, s), 0.0) << s;
        EXPECT_NEAR(saturate(0.3 * s, s), s * std::tanh(0.3), 4e-16 * s) << s;
    }
}

TEST(Sigmoid, WorkedValuesToTheLastBitWhereTanhRoundsOtherwise)
{
    for (const WorkedValue& w : workedValues) {
        EXPECT_TRUE(sameBits(saturate(w.v, w.s), w.q)) << w.v << " " << w.s;
        EXPECT_TRUE(sameBits(plainSigmoid(w.v, w.s), w.q)) << "this platform's exp differs at " << w.v;
        EXPECT_FALSE(sameBits(w.s * std::tanh(w.v / w.s), w.q)) << w.v << " " << w.s;
    }
    EXPECT_TRUE(sameBits(saturate(100, 50), 0x1.819c6c985b0fep+5));  // 48.201379003791
}

TEST(Sigmoid, AgreesWithThePlainStepsOnRandomValues)
{
    const unsigned seed = 20261209;
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> value(-50.0, 50.0);
    std::uniform_real_distribution<double> level(-4.0, 4.0);
    for (int i = 0; i < 20000; ++i) {
        const double v = value(gen), s = level(gen);
        ASSERT_TRUE(sameBits(saturate(v, s), plainSigmoid(v, s))) << v << " " << s << " seed " << seed;
    }
}

TEST(Sigmoid, ExactLimitsFromFortyOnAndPastExpOverflow)
{
    for (double s : {0.5, 1.0, 3.0, 1e5}) {
        for (double ratio : {40.0, 41.5, 100.0, 400.0, 1e300 / s}) {
            EXPECT_EQ(saturate(ratio * s, s), s) << ratio << " " << s;
            EXPECT_EQ(saturate(-ratio * s, s), -s) << ratio << " " << s;
        }
        EXPECT_EQ(saturate(std::numeric_limits<double>::infinity(), s), s);
        EXPECT_EQ(saturate(-std::numeric_limits<double>::infinity(), s), -s);
    }
    // Just below 40 the result is not yet the level.
    EXPECT_LT(saturate(15.0, 1.0), 1.0);
}

TEST(Sigmoid, NegativeLevelActsAsItsMagnitude)
{
    for (double v : {-3.0, -0.25, 0.7, 2.0, 80.0})
        EXPECT_NEAR(saturate(v, -2.0), saturate(v, 2.0), 1e-15) << v;
}

TEST(Sigmoid, ZeroLevelAndNaN)
{
    EXPECT_EQ(saturate(1, 0), 0.0);
    EXPECT_FALSE(std::signbit(saturate(1, 0)));
    EXPECT_EQ(saturate(-1, 0), 0.0);
    EXPECT_TRUE(std::signbit(saturate(-1, 0)));
    EXPECT_TRUE(std::isnan(saturate(0, 0)));
    EXPECT_TRUE(std::isnan(saturate(std::nan(""), 2.0)));
}

TEST_F(SigmoidPass, GridPassGivesThePlainPixelMajorBits)
{
    // 2 x 3 grid of 7 x 5 maps (rows and columns differ so a swapped index
    // shows), each block holding spare elements past nRows*nCols. Cells 1
    // and 4 hold the same block, so it must be saturated twice.
    const std::vector<int> cellToMap = {0, 1, 2, 3, 1, 4};
    const std::size_t mapSize = 7 * 5 + 3;
    for (double s : {1.7, -0.9, 0.0}) {
        Grid a(2, 3, 7, 5, s, cellToMap, mapSize, 11);
        Grid b(2, 3, 7, 5, s, cellToMap, mapSize, 11);
        const std::vector<std::vector<double>> before = a.maps;
        sigmoidSaturate(a.m);
        plainPixelMajor(b.m);
        EXPECT_TRUE(sameBits(a.maps, b.maps)) << s;
        for (std::size_t p = 0; p < mapSize; ++p) {
            const double v = before[1][p];
            const double expected = p < 35 ? plainSigmoid(plainSigmoid(v, s), s) : v;
            EXPECT_TRUE(sameBits(a.maps[1][p], expected)) << p;
            const double once = p < 35 ? plainSigmoid(before[3][p], s) : before[3][p];
            EXPECT_TRUE(sameBits(a.maps[3][p], once)) << p;
        }
    }
}

TEST_F(SigmoidPass, SameBitsForOneTwoAndEightThreads)
{
    // Enough elements for 8 threads, in maps of 37 x 53 plus spare elements,
    // so chunks start and end inside maps and across map boundaries.
    const int nRows = 37, nCols = 53;
    const long long perMap = nRows * nCols;
    const int cells = static_cast<int>(8 * SATURATION_PER_THREAD / perMap) + 3;
    const std::size_t mapSize = static_cast<std::size_t>(perMap) + 5;
    for (int threads : {1, 2, 8}) {
        ThreadSetting setting(threads);
        ASSERT_EQ(saturationThreads(static_cast<double>(cells) * perMap), threads);
        Grid a(1, cells, nRows, nCols, 2.3, distinctCells(cells), mapSize, 5);
        Grid b(1, cells, nRows, nCols, 2.3, distinctCells(cells), mapSize, 5);
        sigmoidSaturate(a.m);
        plainPixelMajor(b.m);
        EXPECT_TRUE(sameBits(a.maps, b.maps)) << threads << " threads";
    }
}

TEST_F(SigmoidPass, SharedBlocksStaySerialWithThreadsAvailable)
{
    // Every cell but one holds block 0 (a grid built as {a, a, ...}), at a
    // size that would otherwise be split: each element of block 0 goes
    // through the sigmoid once per cell, in turn.
    const int nRows = 64, nCols = 64;
    const int cells = static_cast<int>(4 * SATURATION_PER_THREAD / (nRows * nCols)) + 2;
    std::vector<int> cellToMap(static_cast<std::size_t>(cells), 0);
    cellToMap[1] = 1;
    ThreadSetting setting(8);
    Grid a(1, cells, nRows, nCols, 3.0, cellToMap, nRows * nCols, 9);
    Grid b(1, cells, nRows, nCols, 3.0, cellToMap, nRows * nCols, 9);
    EXPECT_TRUE(cellsShareStorage(a.m));
    sigmoidSaturate(a.m);
    plainPixelMajor(b.m);
    EXPECT_TRUE(sameBits(a.maps, b.maps));
}

TEST_F(SigmoidPass, SharingIsSeenForOverlappingBlocksOnly)
{
    std::vector<double> block(40);
    double* table[] = {block.data() + 20, block.data(), block.data() + 10};
    SaturationMaps m = {1, 3, table, 2, 5, 1.0};
    EXPECT_FALSE(cellsShareStorage(m));  // three runs of 10, end to end
    m.nCols = 6;
    EXPECT_TRUE(cellsShareStorage(m));   // 12 each: the first reaches into the next
    m.N = 1;
    EXPECT_FALSE(cellsShareStorage(m));
}

TEST_F(SigmoidPass, EmptyGridsTouchNothing)
{
    for (auto dims : std::vector<std::vector<int>>{{0, 2, 3, 3}, {2, 0, 3, 3}, {1, 1, 0, 3}, {1, 1, 3, -2}}) {
        Grid a(1, 1, 3, 3, 1.0, {0}, 9, 5);
        const std::vector<std::vector<double>> before = a.maps;
        SaturationMaps m = {dims[0], dims[1], a.table.data(), dims[2], dims[3], 1.0};
        if (m.nImages == 0 || m.N == 0) m.responseMaps = nullptr;  // as the reader hands over an empty grid
        sigmoidSaturate(m);
        EXPECT_TRUE(sameBits(before, a.maps));
    }
}
