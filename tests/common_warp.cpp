// The machinery Sabrel and Mundle share: the sample table, its reuse, and the
// preparation that separates a call's reads from its writes.
#include <gtest/gtest.h>

#include <vector>

#include "standin.h"
#include "warp.h"
#include "warp_args.h"

using namespace standin;

namespace {

std::vector<long long> table(int N, int sx, int sy, const WarpParams& p)
{
    std::vector<long long> samples(static_cast<std::size_t>(sx) * sy, -99);
    buildSampleTable(N, sx, sy, p, samples.data());
    return samples;
}

// A Sabrel-shaped call of n 2 x 2 maps, read and prepared.
struct Prepared {
    std::vector<Array> in;
    std::vector<const mxArray*> prhs;
    WarpState s;
    Prepared(const Array& sources, const Array& results, const std::vector<double>& deltaX)
    {
        const double n = static_cast<double>(deltaX.size());
        const std::vector<double> zero(deltaX.size(), 0.0);
        in = {scalar(n), scalar(4), sources, results, scalar(2), scalar(2), column(deltaX), column(zero), column(zero)};
        for (auto& a : in) prhs.push_back(a.get());
        const Gateway g = {"Tester", static_cast<int>(prhs.size()), prhs.data(), warpArgNames};
        readWarpCall(g, WARP_SINGLE_MAPS, s);
        prepareWarp(s);
    }
    ~Prepared() { releaseAllocations(); }
};

}  // namespace

TEST(SampleTable, OutsideIsZeroWhateverTheResultHeld)
{
    const std::vector<long long> samples = table(2, 1, 3, {0, 1, 0});  // one column to the right
    EXPECT_EQ(samples, (std::vector<long long>{1, 2, -1}));
    const double source[] = {5, 6, 7};
    double result[] = {-1, -1, -1};
    applySampleTable(samples.data(), 3, source, result);
    EXPECT_EQ(result[0], 6.0);
    EXPECT_EQ(result[1], 7.0);
    EXPECT_EQ(result[2], 0.0);
}

TEST(SampleTable, RebuiltOnlyForANewTransform)
{
    const WarpParams params[] = {{1, 0, 0}, {1, 0, 0}, {1, 0, 1}};
    long long samples[4];
    WarpState s = {};
    s.N = 2;
    s.sx = s.sy = 2;
    s.params = params;
    s.samples = samples;
    samplesFor(s, 0);
    EXPECT_EQ(samples[0], 1);
    samples[0] = 42;  // a rebuild would restore it
    samplesFor(s, 1);
    EXPECT_EQ(samples[0], 42);
    samplesFor(s, 2);
    EXPECT_NE(samples[0], 42);
}

TEST(PrepareWarp, CopiesOnlySourcesThatShareAResultBlock)
{
    Array a = matrix(2, 2, {1, 2, 3, 4}), b = zeros(2, 2), c = zeros(2, 2), d = zeros(2, 2);
    // Sources a, a, c; results b, a, d: both entries of a share one copy.
    Prepared p(cellOf(3, 1, {a, a, c}), cellOf(3, 1, {b, a, d}), {0, 0, 0});
    EXPECT_NE(p.s.sI[0], values(a).data());
    EXPECT_EQ(p.s.sI[0], p.s.sI[1]);
    EXPECT_EQ(std::vector<double>(p.s.sI[0], p.s.sI[0] + 4), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(p.s.sI[2], values(c).data());
    EXPECT_EQ(p.s.rI[1], values(a).data());
}

TEST(PrepareWarp, GroupsByTransformUnlessResultsShareStorage)
{
    Array a = zeros(2, 2), b = zeros(2, 2), c = zeros(2, 2), r = zeros(2, 2);
    Prepared grouped(cellOf(3, 1, {a, b, c}), cellOf(3, 1, {zeros(2, 2), zeros(2, 2), zeros(2, 2)}), {1, 0, 1});
    EXPECT_EQ(std::vector<int>(grouped.s.order, grouped.s.order + 3), (std::vector<int>{1, 0, 2}));
    Prepared plain(cellOf(3, 1, {a, b, c}), cellOf(3, 1, {zeros(2, 2), r, r}), {1, 0, 1});
    EXPECT_EQ(std::vector<int>(plain.s.order, plain.s.order + 3), (std::vector<int>{0, 1, 2}));
}
