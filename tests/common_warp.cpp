// The machinery Sabrel and Mundle share: the fast exact sampling, the offset
// table, and the preparation that separates a call's reads from its writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "standin.h"
#include "transform.h"
#include "warp.h"
#include "warp_args.h"

using namespace standin;

namespace {

struct Positions {
    std::vector<long long> rows, cols;
    long long recomputed;
};

// Elements e0..e1-1 of transform p; margin < 0 keeps the derived one.
Positions positions(int N, int sx, int sy, const WarpParams& p, double margin = -1, long long e0 = 0,
                    long long e1 = -1)
{
    SampleGeometry g = sampleGeometry(N, sx, sy, p);
    if (margin >= 0) g.margin = margin;
    if (e1 < 0) e1 = static_cast<long long>(sx) * sy;
    Positions out;
    out.rows.resize(static_cast<std::size_t>(e1 - e0));
    out.cols.resize(out.rows.size());
    out.recomputed = samplePositions(g, e0, e1, out.rows.data(), out.cols.data());
    return out;
}

// Where the defining point transform sends elements e0..e1-1.
Positions defined(int N, int sx, int sy, const WarpParams& p, long long e0, long long e1)
{
    Positions out;
    out.recomputed = 0;
    for (long long e = e0; e < e1; ++e) {
        long long xyo[3];
        geometricTransform(N, sx / 2, sy / 2, static_cast<int>(e % sx), static_cast<int>(e / sx), 0, p.dX, p.dY,
                           p.dO, xyo);
        out.rows.push_back(xyo[0]);
        out.cols.push_back(xyo[1]);
    }
    return out;
}

bool samePositions(const Positions& a, const Positions& b)
{
    return a.rows == b.rows && a.cols == b.cols;
}

// The source offsets of positions (row + sx*col, -1 outside the map), and
// those sampleOffsets gives for the whole map.
std::vector<long long> offsetsOf(const Positions& p, int sx, int sy)
{
    std::vector<long long> out;
    for (std::size_t k = 0; k < p.rows.size(); ++k) {
        const bool in = p.rows[k] >= 0 && p.rows[k] < sx && p.cols[k] >= 0 && p.cols[k] < sy;
        out.push_back(in ? p.rows[k] + static_cast<long long>(sx) * p.cols[k] : -1);
    }
    return out;
}

std::vector<long long> sampledOffsets(int N, int sx, int sy, const WarpParams& p)
{
    std::vector<long long> out(static_cast<std::size_t>(sx) * sy, -9);
    sampleOffsets(sampleGeometry(N, sx, sy, p), 0, static_cast<long long>(sx) * sy, out.data());
    return out;
}

// A Sabrel-shaped call of n 2 x 2 maps, read and prepared.
struct Prepared {
    std::vector<Array> in;
    std::vector<const mxArray*> prhs;
    WarpState s;
    Prepared(const Array& sources, const Array& results, const std::vector<double>& deltaX, int side = 2,
             std::vector<double> deltaY = {})
    {
        const double n = static_cast<double>(deltaX.size());
        const std::vector<double> zero(deltaX.size(), 0.0);
        if (deltaY.empty()) deltaY = zero;
        in = {scalar(n), scalar(4), sources, results, scalar(side), scalar(side), column(deltaX), column(deltaY), column(zero)};
        for (auto& a : in) prhs.push_back(a.get());
        const Gateway g = {"Tester", static_cast<int>(prhs.size()), prhs.data(), warpArgNames};
        readWarpCall(g, WARP_SINGLE_MAPS, s);
        prepareWarp(g, s);
    }
    ~Prepared()
    {
        finishWarp(s);
        releaseAllocations();
    }
};

}  // namespace

TEST(SamplePositions, WorkedQuarterAndHalfTurns)
{
    // 3 x 3, centre (1, 1), N = 2: a quarter turn samples (2 - y, x).
    const Positions q = positions(2, 3, 3, {0, 0, 1});
    EXPECT_EQ(q.rows, (std::vector<long long>{2, 2, 2, 1, 1, 1, 0, 0, 0}));
    EXPECT_EQ(q.cols, (std::vector<long long>{0, 1, 2, 0, 1, 2, 0, 1, 2}));
    // 4 x 4, centre (2, 2), half turn and a shift: (4 - x + 1, 4 - y - 3).
    const Positions h = positions(4, 4, 4, {1, -3, 4}, -1, 5, 7);  // elements (1, 1) and (2, 1)
    EXPECT_EQ(h.rows, (std::vector<long long>{4, 3}));
    EXPECT_EQ(h.cols, (std::vector<long long>{0, 0}));
    // An eighth turn at N = 16 of the point 10 rows below the centre: 7.07 each.
    const Positions e = positions(16, 21, 1, {0, 0, 4}, -1, 20, 21);
    EXPECT_EQ(e.rows[0], 10 + 7);
    EXPECT_EQ(e.cols[0], 0 + 7);
}

TEST(SamplePositions, ForcedRecomputationAndTheClosedFormAgree)
{
    // Every rotation of small N, odd and even sizes, shifts near and far:
    // recomputing every element (margin 1) gives the defining positions, and
    // so does the closed form with its derived margin, on the 2-lane and the
    // 4-lane (AVX2) path alike, as positions and as offsets (columns of 32
    // rows and more take theirs from the closed form straight).
    const int sizes[][2] = {{1, 1}, {2, 3}, {5, 4}, {9, 9}, {16, 7}, {40, 3}, {70, 2}};
    const int shifts[] = {0, -3, 1 << 20, INT_MAX - 9, INT_MIN + 3};
    for (bool wide : {false, true})
        for (const auto& size : sizes)
            for (int N : {1, 2, 3, 4, 6, 16})
                for (int dO = -2 * N; dO <= 2 * N; ++dO)
                    for (int shift : shifts) {
                        const WarpParams p = {shift, -shift / 3, dO};
                        const long long count = static_cast<long long>(size[0]) * size[1];
                        const Positions forced = positions(N, size[0], size[1], p, 1.0);
                        ASSERT_EQ(forced.recomputed, count);
                        useWideSampling(wide);
                        const Positions fast = positions(N, size[0], size[1], p);
                        const std::vector<long long> offsets = sampledOffsets(N, size[0], size[1], p);
                        useWideSampling(true);
                        ASSERT_TRUE(samePositions(forced, fast)) << N << " " << dO << " " << shift << " " << size[0]
                                                                 << (wide ? " wide" : " plain");
                        ASSERT_EQ(offsets, offsetsOf(forced, size[0], size[1]))
                            << N << " " << dO << " " << shift << " " << size[0] << (wide ? " wide" : " plain");
                    }
}

TEST(SamplePositions, NearIntegersDeferToTheDefiningTransform)
{
    // A turn of 2^31 - 1 steps: the defining form rounds an angle near 7e9
    // and lands one row further than the exact rotation; the closed form
    // alone (margin 0) gives 204, the derived margin recomputes it.
    const WarpParams huge = {0, 0, INT_MAX};
    const long long e = 170 + 256LL * 28;
    EXPECT_EQ(positions(3, 256, 256, huge, 0.0, e, e + 1).rows[0], 204);
    const Positions fast = positions(3, 256, 256, huge, -1, e, e + 1);
    EXPECT_EQ(fast.rows[0], 205);
    EXPECT_EQ(fast.recomputed, 1);
    EXPECT_TRUE(samePositions(fast, defined(3, 256, 256, huge, e, e + 1)));

    // t = PI/3 and quarter turns (cos t is not 0.5 or 0 with PI = 3.1415926),
    // about far-off centres, where the final sums round to whole numbers and
    // halves: some elements are recomputed, all agree.
    struct Case {
        int N, sx, sy;
        WarpParams p;
    };
    const Case cases[] = {{3, 8, 8, {2000000000, 2000000000, 1}},   {3, 256, 64, {1 << 30, 1 << 30, 1}},
                          {6, 256, 64, {-(1 << 30), 7, 2}},          {2, 64, 64, {INT_MAX - 40, INT_MIN + 40, 1}},
                          {3, 1, 1 << 16, {0, 1 << 30, 1}},          {1, 128, 128, {0, 0, 1 << 30}}};
    long long recomputed = 0;
    for (const Case& c : cases) {
        const long long count = static_cast<long long>(c.sx) * c.sy;
        const Positions p = positions(c.N, c.sx, c.sy, c.p);
        recomputed += p.recomputed;
        const Positions d = defined(c.N, c.sx, c.sy, c.p, 0, count);
        EXPECT_TRUE(samePositions(p, d)) << c.N << " " << c.sx;
        EXPECT_EQ(sampledOffsets(c.N, c.sx, c.sy, c.p), offsetsOf(d, c.sx, c.sy)) << c.N << " " << c.sx;
    }
    EXPECT_GT(recomputed, 0);
    // The turn of 2^31 - 1 steps over the whole map, as offsets.
    EXPECT_EQ(sampledOffsets(3, 256, 256, huge), offsetsOf(defined(3, 256, 256, huge, 0, 256 * 256), 256, 256));
}

TEST(SamplePositions, MarginGrowsWithReachTurnAndCentre)
{
    const double base = sampleMargin(10, 1, 10);
    EXPECT_GT(sampleMargin(1000, 1, 10), base);
    EXPECT_GT(sampleMargin(10, 1e9, 10), base);
    EXPECT_GT(sampleMargin(10, 1, 1e9), base);
    // Small maps near the origin: far below any spacing of real positions,
    // and above the rounding of a double near 2^31.
    EXPECT_LT(sampleGeometry(16, 512, 512, {3, -2, 5}).margin, 1e-9);
    EXPECT_GT(sampleGeometry(3, 8, 8, {INT_MAX, 0, 1}).margin, 0x1p-21);
}

TEST(SampleOffsets, OutsideIsMinusOneAndZeroWhateverTheResultHeld)
{
    const SampleGeometry g = sampleGeometry(2, 1, 3, {0, 1, 0});  // one column to the right
    long long offsets[3] = {-9, -9, -9};
    sampleOffsets(g, 0, 3, offsets);
    EXPECT_EQ(std::vector<long long>(offsets, offsets + 3), (std::vector<long long>{1, 2, -1}));
    const double source[] = {5, 6, 7};
    for (bool stream : {false, true}) {
        double direct[] = {-1, -1, -1};
        warpColumns(g, 1, 3, source, direct, stream);
        EXPECT_EQ(std::vector<double>(direct, direct + 3), (std::vector<double>{-1, 7, 0}));
    }
}

TEST(WarpColumns, EverySideAndAlignmentWritesTheDefinedSamples)
{
    // Sides of one tile a column (up to 1024 rows), sides of tiles of 32
    // rows whose last one takes a remainder (1025) or whose breaks lie on
    // line boundaries (1064, whole lines a column), and results starting on
    // every double of a cache line: streamed or not, each element is the
    // source at the defined position.
    const WarpParams p = {1, -2, 3};
    for (int sx : {17, 31, 33, 64, 65, 1024, 1025, 1064}) {
        const int sy = 9, N = 16;
        const long long count = static_cast<long long>(sx) * sy;
        std::vector<double> source(static_cast<std::size_t>(count));
        for (long long e = 0; e < count; ++e) source[e] = static_cast<double>(e + 1);
        const Positions d = defined(N, sx, sy, p, 0, count);
        std::vector<double> expected(source.size());
        for (long long e = 0; e < count; ++e) {
            const bool in = d.rows[e] >= 0 && d.rows[e] < sx && d.cols[e] >= 0 && d.cols[e] < sy;
            expected[e] = in ? source[d.rows[e] + sx * d.cols[e]] : 0.0;
        }
        const SampleGeometry g = sampleGeometry(N, sx, sy, p);
        for (int shift = 0; shift < 8; ++shift)
            for (bool stream : {false, true}) {
                std::vector<double> block(static_cast<std::size_t>(count + 16), -1.0);
                double* result = block.data() + shift;
                warpColumns(g, 0, sy, source.data(), result, stream);
                EXPECT_EQ(std::vector<double>(result, result + count), expected)
                    << "side " << sx << ", shift " << shift << ", stream " << stream;
                EXPECT_EQ(block[count + shift], -1.0);
            }
    }
}

TEST(PrepareWarp, CopiesOnlySourcesThatShareAResultBlock)
{
    Array a = matrix(2, 2, {1, 2, 3, 4}), b = zeros(2, 2), c = zeros(2, 2), d = zeros(2, 2);
    // Sources a, a, c; results b, a, d: both entries of a share one copy.
    Prepared p(cellOf(3, 1, {a, a, c}), cellOf(3, 1, {b, a, d}), {0, 0, 0});
    EXPECT_NE(p.s.sI[0], values(a).data());
    EXPECT_EQ(p.s.sI[0], p.s.copies);
    EXPECT_EQ(p.s.sI[0], p.s.sI[1]);
    EXPECT_EQ(std::vector<double>(p.s.sI[0], p.s.sI[0] + 4), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(p.s.sI[2], values(c).data());
    EXPECT_EQ(p.s.rI[1], values(a).data());
    EXPECT_FALSE(p.s.plainOrder);
}

TEST(PrepareWarp, LongRunsOfOneTransformAreSplitIntoGroupsThatCanBeStopped)
{
    // 512^2 maps: a group holds at most 2 (half a million elements), and
    // 5 maps of one transform make groups {0, 1}, {2, 3}, {4}. Each map is
    // still what the plain warp of that map alone gives, bit for bit.
    const int side = 512, n = 5;
    EXPECT_EQ(warpGroupImages(1, static_cast<long long>(side) * side), 2);
    EXPECT_EQ(warpGroupImages(16, 1LL << 30), 1);
    std::vector<Array> sources, results;
    for (int k = 0; k < n; ++k) {
        std::vector<double> v(static_cast<std::size_t>(side) * side);
        for (std::size_t e = 0; e < v.size(); ++e) v[e] = static_cast<double>((e * 7 + k) % 101);
        sources.push_back(matrix(side, side, v));
        results.push_back(zeros(side, side));
    }
    Prepared p(cellOf(n, 1, sources), cellOf(n, 1, results), std::vector<double>(n, 3.0), side);
    ASSERT_EQ(p.s.groups, 3);
    EXPECT_EQ(std::vector<int>(p.s.groupStart, p.s.groupStart + 4), (std::vector<int>{0, 2, 4, 5}));
    warpAllOn(p.s, 1);
    const SampleGeometry g = sampleGeometry(4, side, side, WarpParams{3, 0, 0});
    for (int k = 0; k < n; ++k) {
        std::vector<double> expected(static_cast<std::size_t>(side) * side);
        warpColumns(g, 0, side, values(sources[k]).data(), expected.data(), false);
        EXPECT_TRUE(sameBits(values(results[k]), expected)) << "map " << k;
    }
}

TEST(PrepareWarp, GroupedMapsOfEveryTileShapeAreEachMapWarpedAlone)
{
    // Sides of one tile a column, maps of one transform sharing their
    // offsets, and results beyond 8 MB, which go past the caches.
    for (int side : {33, 64, 65, 200}) {
        const long long plane = static_cast<long long>(side) * side;
        const int n = std::max(2, static_cast<int>((8.5 * (1 << 20)) / (8.0 * plane)) + 1);
        std::vector<Array> sources, results;
        for (int k = 0; k < n; ++k) {
            std::vector<double> v(static_cast<std::size_t>(plane));
            for (std::size_t e = 0; e < v.size(); ++e) v[e] = static_cast<double>((e * 7 + k) % 101);
            sources.push_back(matrix(side, side, v));
            results.push_back(zeros(side, side));
        }
        Prepared p(cellOf(n, 1, sources), cellOf(n, 1, results), std::vector<double>(n, 3.0), side);
        ASSERT_LT(p.s.groups, n) << "side " << side;
        warpAllOn(p.s, 1);
        const SampleGeometry g = sampleGeometry(4, side, side, WarpParams{3, 0, 0});
        std::vector<double> expected(static_cast<std::size_t>(plane));
        for (int k = 0; k < n; k += 7) {
            warpColumns(g, 0, side, values(sources[k]).data(), expected.data(), false);
            EXPECT_TRUE(sameBits(values(results[k]), expected)) << "side " << side << ", map " << k;
        }
    }
}

TEST(PrepareWarp, ShiftsAloneAreTheDefinedSamples)
{
    // Transforms with no turn are copied a column at a time: shifts either
    // way along both axes, past the map and none, on sides of whole lines
    // and not, written in place and past the caches (the 8 MB batch).
    const std::vector<std::pair<int, int>> shifts = {{3, 0}, {-2, 5}, {0, -7}, {0, 0}, {70, 1}, {-70, 0}, {1, 70}, {2, -70}};
    for (int side : {31, 64, 65}) {
        const long long plane = static_cast<long long>(side) * side;
        for (bool big : {false, true}) {
            const int n = big ? static_cast<int>((8.5 * (1 << 20)) / (8.0 * plane)) + 1 : static_cast<int>(shifts.size());
            std::vector<Array> sources, results;
            std::vector<double> dX, dY;
            for (int k = 0; k < n; ++k) {
                std::vector<double> v(static_cast<std::size_t>(plane));
                for (std::size_t e = 0; e < v.size(); ++e) v[e] = static_cast<double>(e + 1 + k);
                sources.push_back(matrix(side, side, v));
                results.push_back(matrix(side, side, std::vector<double>(v.size(), -1.0)));
                dX.push_back(shifts[k % shifts.size()].first);
                dY.push_back(shifts[k % shifts.size()].second);
            }
            Prepared p(cellOf(n, 1, sources), cellOf(n, 1, results), dX, side, dY);
            warpAllOn(p.s, 1);
            for (int k = 0; k < n; k += big ? 13 : 1) {
                const WarpParams w = {static_cast<int>(dX[k]), static_cast<int>(dY[k]), 0};
                const Positions d = defined(4, side, side, w, 0, plane);
                const std::vector<double>& from = values(sources[k]);
                std::vector<double> expected(static_cast<std::size_t>(plane));
                for (long long e = 0; e < plane; ++e) {
                    const bool in = d.rows[e] >= 0 && d.rows[e] < side && d.cols[e] >= 0 && d.cols[e] < side;
                    expected[e] = in ? from[d.rows[e] + side * d.cols[e]] : 0.0;
                }
                EXPECT_EQ(values(results[k]), expected) << "side " << side << ", shift " << w.dX << ", " << w.dY
                                                        << (big ? ", streamed" : "");
            }
        }
    }
}

TEST(PrepareWarp, GroupsByTransformUnlessResultsShareStorage)
{
    Array a = zeros(2, 2), b = zeros(2, 2), c = zeros(2, 2), r = zeros(2, 2);
    Prepared grouped(cellOf(3, 1, {a, b, c}), cellOf(3, 1, {zeros(2, 2), zeros(2, 2), zeros(2, 2)}), {1, 0, 1});
    EXPECT_EQ(std::vector<int>(grouped.s.order, grouped.s.order + 3), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(grouped.s.groups, 2);
    EXPECT_EQ(std::vector<int>(grouped.s.groupStart, grouped.s.groupStart + 3), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(grouped.s.copies, nullptr);
    Prepared plain(cellOf(3, 1, {a, b, c}), cellOf(3, 1, {zeros(2, 2), r, r}), {1, 0, 1});
    EXPECT_TRUE(plain.s.plainOrder);
}
