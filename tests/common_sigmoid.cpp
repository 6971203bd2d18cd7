// The sigmoid: its values and limits, and the proof that the storage-order
// pass gives the bits of the pixel-major order, shared blocks included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "sigmoid.h"

namespace {

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

bool sameBits(const std::vector<std::vector<double>>& a, const std::vector<std::vector<double>>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if (a[k].size() != b[k].size() || std::memcmp(a[k].data(), b[k].data(), a[k].size() * sizeof(double)) != 0)
            return false;
    return true;
}

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

TEST(Sigmoid, StorageOrderGivesThePixelMajorBits)
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
        sigmoidSaturatePixelMajor(b.m);
        EXPECT_TRUE(sameBits(a.maps, b.maps)) << s;
        for (std::size_t p = 0; p < mapSize; ++p) {
            const double v = before[1][p];
            const double expected = p < 35 ? saturate(saturate(v, s), s) : v;
            EXPECT_EQ(std::memcmp(&a.maps[1][p], &expected, sizeof expected), 0) << p;
            const double once = p < 35 ? saturate(before[3][p], s) : before[3][p];
            EXPECT_EQ(std::memcmp(&a.maps[3][p], &once, sizeof once), 0) << p;
        }
    }
}

TEST(Sigmoid, EmptyGridsTouchNothing)
{
    for (auto dims : std::vector<std::vector<int>>{{0, 2, 3, 3}, {2, 0, 3, 3}, {1, 1, 0, 3}, {1, 1, 3, -2}}) {
        Grid a(1, 1, 3, 3, 1.0, {0}, 9, 5);
        const std::vector<std::vector<double>> before = a.maps;
        SaturationMaps m = {dims[0], dims[1], a.table.data(), dims[2], dims[3], 1.0};
        if (m.nImages == 0 || m.N == 0) m.responseMaps = nullptr;  // as the reader hands over an empty grid
        sigmoidSaturate(m);
        sigmoidSaturatePixelMajor(m);
        EXPECT_TRUE(sameBits(before, a.maps));
    }
}

