// Storage overlap of address ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "overlap.h"

namespace {

ByteRange range(std::uintptr_t begin, std::uintptr_t end)
{
    return {begin, end};
}

// Every pair compared: the plain answer.
bool pairwise(const std::vector<ByteRange>& a, const std::vector<ByteRange>& b, bool within)
{
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = within ? i + 1 : 0; j < b.size(); ++j)
            if (a[i].begin < a[i].end && b[j].begin < b[j].end && a[i].begin < b[j].end && b[j].begin < a[i].end)
                return true;
    return false;
}

// Whether any range of b overlaps a range of a, each asked on its own of
// a prepared a, as the kernels ask.
bool anyOverlap(ByteRange* a, std::size_t na, const ByteRange* b, std::size_t nb)
{
    na = prepareRanges(a, na, nullptr);
    for (std::size_t k = 0; k < nb; ++k)
        if (overlapsPrepared(a, na, b[k])) return true;
    return false;
}

}  // namespace

TEST(Overlap, TouchingEmptyAndNestedRanges)
{
    std::vector<ByteRange> a = {range(100, 200), range(300, 400)};
    const ByteRange touching[] = {range(200, 300), range(0, 100), range(400, 500)};
    EXPECT_FALSE(anyOverlap(a.data(), a.size(), touching, 3));
    const ByteRange empty[] = {range(150, 150), range(350, 340)};
    EXPECT_FALSE(anyOverlap(a.data(), a.size(), empty, 2));
    const ByteRange nested[] = {range(310, 320)};
    EXPECT_TRUE(anyOverlap(a.data(), a.size(), nested, 1));
    // A long range early in the order still counts after shorter ones.
    std::vector<ByteRange> longFirst = {range(0, 1000), range(10, 20), range(30, 40)};
    const ByteRange late[] = {range(900, 950)};
    EXPECT_TRUE(anyOverlap(longFirst.data(), longFirst.size(), late, 1));

    std::vector<ByteRange> same = {range(8, 16), range(40, 48), range(8, 16)};
    EXPECT_TRUE(anyOverlapWithin(same.data(), same.size()));
    std::vector<ByteRange> apart = {range(16, 24), range(8, 16), range(24, 24), range(20, 20)};
    EXPECT_FALSE(anyOverlapWithin(apart.data(), apart.size()));
}

TEST(Overlap, AgreesWithEveryPairCompared)
{
    const unsigned seed = 3;
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<ByteRange> a, b;
        for (int k = pick(0, 6); k > 0; --k) {
            const int begin = pick(0, 200);
            a.push_back(range(begin, begin + pick(-2, 30)));
        }
        for (int k = pick(0, 6); k > 0; --k) {
            const int begin = pick(0, 200);
            b.push_back(range(begin, begin + pick(-2, 30)));
        }
        std::vector<ByteRange> a2 = a;
        EXPECT_EQ(anyOverlapWithin(a2.data(), a2.size()), pairwise(a, a, true)) << "seed " << seed << " trial " << trial;
        // One prepared set asked about each range of b on its own, as the
        // warps ask about every source map and Halvery about every map.
        std::vector<ByteRange> a3 = a;
        bool within = false;
        const std::size_t kept = prepareRanges(a3.data(), a3.size(), &within);
        EXPECT_EQ(within, pairwise(a, a, true)) << "seed " << seed << " trial " << trial;
        for (const ByteRange& r : b)
            EXPECT_EQ(overlapsPrepared(a3.data(), kept, r), pairwise(a, {r}, false))
                << "seed " << seed << " trial " << trial;
        // A grid of maps of one size, asked about as a whole first: its
        // hull runs from the lowest map to the end of the highest, and where
        // the hull overlaps nothing no map does.
        std::vector<const double*> grid;
        std::vector<ByteRange> maps;
        const long long count = pick(-1, 4);
        for (int k = pick(0, 5); k > 0; --k) {
            grid.push_back(reinterpret_cast<const double*>(std::uintptr_t(8) * pick(1, 25)));
            maps.push_back(doublesAt(grid.back(), count));
        }
        const ByteRange hull = gridHull(grid.data(), grid.size(), count);
        std::uintptr_t lo = UINTPTR_MAX, hi = 0;
        for (const ByteRange& m : maps)
            if (m.begin < m.end) lo = std::min(lo, m.begin), hi = std::max(hi, m.end);
        EXPECT_EQ(hull.end > hull.begin ? hull.begin : 0, lo < hi ? lo : 0) << "seed " << seed << " trial " << trial;
        EXPECT_EQ(hull.end > hull.begin ? hull.end : 0, lo < hi ? hi : 0) << "seed " << seed << " trial " << trial;
        if (!overlapsPrepared(a3.data(), kept, hull)) {
            EXPECT_FALSE(pairwise(a, maps, false)) << "seed " << seed << " trial " << trial;
        }
    }
}
