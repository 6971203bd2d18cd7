// Porrith through its gateway, with the host-free stand-in: the region, the
// bins, the normalisation, and wrong calls that leave maps and histogram be.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "sigmoid.h"
#include "standin.h"

using namespace standin;

namespace {

const double inf = std::numeric_limits<double>::infinity();

// A valid call by default: one 4 x 4 map of zeros, margin 1, level 1, four
// bins of 0.25 and a zero histogram.
struct PorrithCall {
    double nImages, N, margin = 1, nRows, nCols, binWidth = 0.25, nBins = 4, level = 1;
    int rows;
    Array maps;
    Array histogram;

    PorrithCall(int gridRows = 1, int gridCols = 1, int mapRows = 4, int mapCols = 4, int bins = 4)
        : nImages(gridRows), N(gridCols), nRows(mapRows), nCols(mapCols), nBins(bins), rows(mapRows)
    {
        maps = cell(gridRows, gridCols);
        for (int k = 0; k < gridRows * gridCols; ++k) setCell(maps, k, zeros(mapRows, mapCols));
        histogram = zeros(1, bins);
    }
    std::vector<Array> inputs() const
    {
        return {scalar(nImages), scalar(N),        maps,         scalar(margin), scalar(nRows),
                scalar(nCols),   scalar(binWidth), scalar(nBins), histogram,     scalar(level)};
    }
    std::vector<double>& map(int k) const { return values(cellContent(maps, k)); }
    double& at(int k, int r, int c) const { return map(k)[(r - 1) + rows * (c - 1)]; }
    std::vector<double>& hist() const { return values(histogram); }
    std::vector<std::vector<double>> snapshot() const
    {
        std::vector<std::vector<double>> s = {hist()};
        for (int k = 0; k < static_cast<int>(nImages * N); ++k) s.push_back(map(k));
        return s;
    }
};

void run(const PorrithCall& c) { call("Porrith", mexFunction, c.inputs()); }

std::string errorId(const PorrithCall& c, const std::vector<Array>& in)
{
    const auto before = c.snapshot();
    const std::string id = errorIdOf("Porrith", mexFunction, in);
    const auto after = c.snapshot();
    for (std::size_t k = 0; k < before.size(); ++k)
        EXPECT_TRUE(sameBits(before[k], after[k])) << "a failed call changed array " << k;
    return id;
}

// The whole call as the plain serial loops run it, on tables the test owns:
// each pixel through every map, pixels along rows, bins counted one by one.
void referenceCall(int nImages, int N, double** maps, int margin, int nRows, int nCols, double bw, int nBins,
                   double* h, double s)
{
    sigmoidSaturatePixelMajor({nImages, N, maps, nRows, nCols, s});
    int count = 0;
    for (int r = margin + 1; r < nRows - margin; ++r)
        for (int col = margin + 1; col < nCols - margin; ++col) {
            const int p = r + nRows * (col - 1) - 1;
            for (int k = 0; k < N; ++k)
                for (int l = 0; l < nImages; ++l) {
                    const double f = std::floor(maps[l + nImages * k][p] / bw);
                    const int bin = nBins - 1 > f ? (f < 0 ? 0 : static_cast<int>(f)) : nBins - 1;
                    h[bin] += 1.0;
                    ++count;
                }
        }
    for (int b = 0; b < nBins; ++b) h[b] = h[b] / (bw * count);
}

// Every map 100 (the level once saturated, so the last bin), and the given
// pixels 0.5 (bin 1 at level 1 and width 0.25).
void markRegion(const PorrithCall& c, int k, int r0, int r1, int c0, int c1)
{
    for (double& v : c.map(k)) v = 100;
    for (int r = r0; r <= r1; ++r)
        for (int col = c0; col <= c1; ++col) c.at(k, r, col) = 0.5;
}

}  // namespace

TEST(Porrith, WorkedHistograms)
{
    PorrithCall c;
    c.at(0, 2, 2) = 0.5;  // saturates to 0.462..., 1.848 bins: bin 1
    run(c);
    EXPECT_EQ(c.hist(), (std::vector<double>{0, 4, 0, 0}));
    EXPECT_NEAR(c.at(0, 2, 2), 0.46211715726001, 5e-15);

    PorrithCall d;
    d.at(0, 2, 2) = 100;  // saturates to exactly 1: 4 bins, capped into bin 3
    run(d);
    EXPECT_EQ(d.at(0, 2, 2), 1.0);
    EXPECT_EQ(d.hist(), (std::vector<double>{0, 0, 0, 4}));
}

TEST(Porrith, RegionLeavesMarginAtTopLeftAndOneMoreAtBottomRight)
{
    // Margin 1 on 4 x 4: only (2, 2); every other pixel would land in bin 3.
    PorrithCall c;
    markRegion(c, 0, 2, 2, 2, 2);
    run(c);
    EXPECT_EQ(c.hist(), (std::vector<double>{0, 4, 0, 0}));

    // Margin 0: rows and columns 1-3, 9 values; (3, 3) is moved to bin 3 so
    // the count shows in the normalisation: 8 and 1 over 0.25 * 9.
    PorrithCall d;
    d.margin = 0;
    markRegion(d, 0, 1, 3, 1, 3);
    d.at(0, 3, 3) = 100;
    run(d);
    EXPECT_EQ(d.hist(), (std::vector<double>{0, 8 / (0.25 * 9), 0, 1 / (0.25 * 9)}));

    // 5 rows x 4 columns, margin 1: rows 2-3 of column 2, not the transpose.
    PorrithCall e(1, 1, 5, 4);
    markRegion(e, 0, 2, 3, 2, 2);
    run(e);
    EXPECT_EQ(e.hist(), (std::vector<double>{0, 4, 0, 0}));
}

TEST(Porrith, EveryPixelOfEveryMapIsSaturatedBorderIncluded)
{
    PorrithCall c(2, 2, 5, 6);
    for (int k = 0; k < 4; ++k)
        for (std::size_t p = 0; p < 30; ++p) c.map(k)[p] = 0.05 * (k + 1) * static_cast<double>(p) + 0.01;
    const auto before = c.snapshot();
    c.level = 1.3;
    run(c);
    for (int k = 0; k < 4; ++k)
        for (std::size_t p = 0; p < 30; ++p) EXPECT_EQ(c.map(k)[p], saturate(before[k + 1][p], 1.3)) << k << " " << p;
}

TEST(Porrith, BinsIncludeTheirLowerEdgeAndNaNGoesLast)
{
    // Level 0.5 and 100 saturate to exactly 0.5: 0.5 / 0.25 is 2, bin 2.
    PorrithCall c;
    c.level = 0.5;
    c.at(0, 2, 2) = 100;
    run(c);
    EXPECT_EQ(c.hist(), (std::vector<double>{0, 0, 4, 0}));

    PorrithCall d;
    d.at(0, 2, 2) = NAN;
    run(d);
    EXPECT_TRUE(std::isnan(d.at(0, 2, 2)));
    EXPECT_EQ(d.hist(), (std::vector<double>{0, 0, 0, 4}));
}

TEST(Porrith, HistogramIsAddedToAndScaledNotReplaced)
{
    PorrithCall c;
    c.level = 0.5;
    c.at(0, 2, 2) = 100;  // bin 2
    c.hist() = {1, 0, 0, 0};
    run(c);
    EXPECT_EQ(c.hist(), (std::vector<double>{4, 0, 4, 0}));
}

TEST(Porrith, NegativeResponsesAreCountedInBinZero)
{
    PorrithCall c(1, 3);
    c.at(0, 2, 2) = -0.5;
    c.at(1, 2, 2) = -100;  // -1, far below bin 0
    c.at(2, 2, 2) = 0.5;   // bin 1
    run(c);
    EXPECT_EQ(c.hist(), (std::vector<double>{2 / (0.25 * 3), 1 / (0.25 * 3), 0, 0}));
}

TEST(Porrith, EmptyRegionNormalisesByZero)
{
    // 3 x 3 with margin 1: nothing binned, every bin divided by 0.
    PorrithCall c(1, 1, 3, 3);
    for (double& v : c.map(0)) v = 0.5;
    c.hist() = {2, 0, -1, 0};
    run(c);
    EXPECT_EQ(c.hist()[0], inf);
    EXPECT_TRUE(std::isnan(c.hist()[1]));
    EXPECT_EQ(c.hist()[2], -inf);
    EXPECT_TRUE(std::isnan(c.hist()[3]));
    EXPECT_EQ(c.map(0)[4], saturate(0.5, 1.0));  // saturated all the same

    // With no bins and no region there is nothing to check or normalise.
    PorrithCall d(1, 1, 3, 3, 0);
    d.binWidth = -1;
    run(d);
    PorrithCall e(0, 3);
    e.nBins = 0;
    e.binWidth = NAN;
    run(e);
    // A bad width still divides when there are bins: 0 / (0 * 0).
    PorrithCall f(1, 1, 2, 9);
    f.binWidth = 0;
    run(f);
    for (double h : f.hist()) EXPECT_TRUE(std::isnan(h));
}

TEST(Porrith, ACellSharedByTwoEntriesIsSaturatedAndBinnedOncePerEntry)
{
    PorrithCall c(1, 2, 4, 4, 5);
    c.binWidth = 0.2;
    setCell(c.maps, 1, cellContent(c.maps, 0));
    c.at(0, 2, 2) = 100;  // 1.0 once (bin 4), tanh(1) twice (3.8 widths: bin 3)
    run(c);
    EXPECT_EQ(c.at(0, 2, 2), saturate(1.0, 1.0));
    EXPECT_EQ(c.hist(), (std::vector<double>{0, 0, 0, 2 / (0.2 * 2), 0}));
}

TEST(Porrith, CountsAreRounded)
{
    PorrithCall c(1, 1, 4, 4, 4);
    c.margin = 0.5;   // 1
    c.nBins = 3.5;    // 4
    c.nRows = 3.6;    // 4
    c.at(0, 2, 2) = 100;
    run(c);
    EXPECT_EQ(c.hist(), (std::vector<double>{0, 0, 0, 4}));
}

TEST(Porrith, MatchesThePlainPixelMajorLoopsBitForBit)
{
    // 2 x 3 grid of 9 x 7 maps, margin 1, values over several bins, one NaN,
    // one negative, one past the last bin, and a histogram that already holds
    // fractional counts.
    const int nImages = 2, N = 3, nRows = 9, nCols = 7, margin = 1, nBins = 8;
    const double s = 1.3, bw = 0.1;
    PorrithCall c(nImages, N, nRows, nCols, nBins);
    c.margin = margin;
    c.level = s;
    c.binWidth = bw;
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> dist(0.0, 1.2);
    for (int k = 0; k < nImages * N; ++k)
        for (double& v : c.map(k)) v = dist(gen);
    c.at(3, 4, 3) = NAN;
    c.at(1, 2, 5) = -0.2;
    c.at(5, 8, 6) = 50;
    for (int b = 0; b < nBins; ++b) c.hist()[b] = 0.3 * b + 0.1;

    std::vector<std::vector<double>> maps;
    for (int k = 0; k < nImages * N; ++k) maps.push_back(c.map(k));
    std::vector<double*> table;
    for (auto& m : maps) table.push_back(m.data());
    std::vector<double> h = c.hist();

    run(c);
    referenceCall(nImages, N, table.data(), margin, nRows, nCols, bw, nBins, h.data(), s);

    EXPECT_TRUE(sameBits(h, c.hist()));
    for (int k = 0; k < nImages * N; ++k) EXPECT_TRUE(sameBits(maps[k], c.map(k))) << k;
}

TEST(Porrith, AHistogramThatIsAlsoAMapKeepsThePlainOrder)
{
    // The histogram is the map's own first column: each count changes a
    // value that is still to be binned, so only the plain order gives the
    // plain result. Pixel (1, 2) counts into bin 1, pixel (2, 1), before
    // (2, 1) is read in the plain order and after it in storage order.
    PorrithCall c(1, 1, 4, 4);
    c.margin = 0;
    for (double& v : c.map(0)) v = 0.1;
    c.at(0, 1, 2) = 0.4;
    c.histogram = cellContent(c.maps, 0);
    std::vector<double> block = c.map(0);
    double* table[] = {block.data()};

    run(c);
    referenceCall(1, 1, table, 0, 4, 4, 0.25, 4, block.data(), 1.0);
    EXPECT_TRUE(sameBits(block, c.map(0)));
}

TEST(Porrith, WrongCallsRaiseNamedErrorsAndSaturateNothing)
{
    PorrithCall c(2, 2);
    for (int k = 0; k < 4; ++k) c.at(k, 2, 2) = 0.5 + k;
    auto with = [&](int pos, const Array& a) {
        std::vector<Array> in = c.inputs();
        in[pos] = a;
        return errorId(c, in);
    };
    std::vector<Array> nine = c.inputs();
    nine.pop_back();
    EXPECT_EQ(errorId(c, nine), "Porrith:nargin");
    EXPECT_EQ(with(0, scalar(-2)), "Porrith:negativeCount");
    EXPECT_EQ(with(1, scalar(inf)), "Porrith:notFinite");
    EXPECT_EQ(with(2, zeros(4, 4)), "Porrith:notCell");
    EXPECT_EQ(with(1, scalar(3)), "Porrith:tooFewCells");
    EXPECT_EQ(with(5, scalar(5)), "Porrith:cellTooSmall");
    EXPECT_EQ(with(3, scalar(-1)), "Porrith:margin");
    EXPECT_EQ(with(7, scalar(0)), "Porrith:nBins");
    EXPECT_EQ(with(7, scalar(-3)), "Porrith:nBins");
    EXPECT_EQ(with(6, scalar(0)), "Porrith:binWidth");
    EXPECT_EQ(with(6, scalar(-0.25)), "Porrith:binWidth");
    EXPECT_EQ(with(6, scalar(NAN)), "Porrith:binWidth");
    EXPECT_EQ(with(6, scalar('w', Kind::Char)), "Porrith:notScalar");
    EXPECT_EQ(with(7, scalar(5)), "Porrith:tooShort");
    EXPECT_EQ(with(8, matrix(1, 4, {}, Kind::Single)), "Porrith:notDouble");
    EXPECT_EQ(with(8, matrix(1, 4, {}, Kind::Complex)), "Porrith:notDouble");
    EXPECT_EQ(with(9, zeros(0, 0)), "Porrith:notScalar");
    setCell(c.maps, 3, matrix(4, 4, {}, Kind::Int32));
    EXPECT_EQ(errorId(c, c.inputs()), "Porrith:badCell");
}
