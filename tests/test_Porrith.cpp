// Porrith through its gateway, with the host-free stand-in: the region, the
// bins, the normalisation, and wrong calls that leave maps and histogram be.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "sigmoid.h"
#include "standin.h"
#include "threads.h"

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

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
using standin::sameBits;

std::string errorId(const PorrithCall& c, const std::vector<Array>& in)
{
    const auto before = c.snapshot();
    const std::string id = errorIdOf("Porrith", mexFunction, in);
    const auto after = c.snapshot();
    for (std::size_t k = 0; k < before.size(); ++k)
        EXPECT_TRUE(sameBits(before[k], after[k])) << "a failed call changed array " << k;
    return id;
}

// The defining steps, written out here rather than taken from the product.
double plainSigmoid(double v, double s)
{
    const double x = (-2.0 * v) / s;
    const double e = std::exp(x);
    return s * (2.0 / (e + 1.0) - 1.0);
}

// The whole call as the plain serial loops run it, on tables the test owns:
// each pixel through every map, pixels along rows, every map saturated
// before any is binned, bins counted one by one.
void referenceCall(int nImages, int N, double** maps, int margin, int nRows, int nCols, double bw, int nBins,
                   double* h, double s)
{
    for (int i = 1; i <= nRows; ++i)
        for (int j = 1; j <= nCols; ++j) {
            const long long p = i + static_cast<long long>(nRows) * (j - 1) - 1;
            for (int k = 0; k < N; ++k)
                for (int l = 0; l < nImages; ++l) maps[l + nImages * k][p] = plainSigmoid(maps[l + nImages * k][p], s);
        }
    long long count = 0;
    for (int r = margin + 1; r < nRows - margin; ++r)
        for (int col = margin + 1; col < nCols - margin; ++col) {
            const long long p = r + static_cast<long long>(nRows) * (col - 1) - 1;
            for (int k = 0; k < N; ++k)
                for (int l = 0; l < nImages; ++l) {
                    const double f = std::floor(maps[l + nImages * k][p] / bw);
                    const int bin = nBins - 1 > f ? (f < 0 ? 0 : static_cast<int>(f)) : nBins - 1;
                    h[bin] += 1.0;
                    ++count;
                }
        }
    for (int b = 0; b < nBins; ++b) h[b] = h[b] / (bw * static_cast<double>(count));
}

// Runs the call and the reference on copies of its arrays (cells that share
// a block share its copy; a histogram that is a map is that map's copy) and
// compares every array bit for bit.
void expectPlainResult(const PorrithCall& c, const std::string& label)
{
    const int nImages = static_cast<int>(c.nImages), N = static_cast<int>(c.N);
    std::vector<Array> blocks;
    std::vector<std::vector<double>> copies;
    auto copyOf = [&](const Array& a) {
        for (std::size_t i = 0; i < blocks.size(); ++i)
            if (blocks[i] == a) return i;
        blocks.push_back(a);
        copies.push_back(values(a));
        return blocks.size() - 1;
    };
    std::vector<std::size_t> cellCopy;
    for (int k = 0; k < nImages * N; ++k) cellCopy.push_back(copyOf(cellContent(c.maps, k)));
    const std::size_t histCopy = copyOf(c.histogram);
    std::vector<double*> table;
    for (std::size_t i : cellCopy) table.push_back(copies[i].data());
    referenceCall(nImages, N, table.data(), static_cast<int>(c.margin), static_cast<int>(c.nRows),
                  static_cast<int>(c.nCols), c.binWidth, static_cast<int>(c.nBins), copies[histCopy].data(), c.level);
    run(c);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        ASSERT_TRUE(sameBits(values(blocks[i]), copies[i])) << label << ", array " << i;
}

struct ThreadSetting {
    explicit ThreadSetting(int n) { setenv(THREADS_VARIABLE, std::to_string(n).c_str(), 1); }
    ~ThreadSetting() { unsetenv(THREADS_VARIABLE); }
};

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
    EXPECT_TRUE(sameBits(c.at(0, 2, 2), 0x1.d9353d7568af4p-2));  // tanh's is one bit below

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
        for (std::size_t p = 0; p < 30; ++p) EXPECT_EQ(c.map(k)[p], plainSigmoid(before[k + 1][p], 1.3)) << k << " " << p;
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
    EXPECT_EQ(c.map(0)[4], plainSigmoid(0.5, 1.0));  // saturated all the same

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
    EXPECT_EQ(c.at(0, 2, 2), plainSigmoid(1.0, 1.0));
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
    EXPECT_EQ(with(2, matrix(4, 4, {}, Kind::Int32)), "Porrith:notCell");
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

// The edge search and the bin lookup, against the defining division.
double binEdge(int b, double w);
int binByEdges(double q, const double* edges, int lastBin, double invWidth);
void fillBinEdges(double* edges, int lastBin, double w);

namespace {

int divisionBin(double q, double w, int lastBin)
{
    const double f = std::floor(q / w);
    return lastBin > f ? (f < 0 ? 0 : static_cast<int>(f)) : lastBin;
}

}  // namespace

TEST(Porrith, BinEdgesAreTheFirstDoublesOfTheirBins)
{
    // Ordinary, awkward, subnormal, tiny and huge widths: edge b holds the
    // quotient test and the double just below it does not; +Inf where no
    // finite value reaches the bin.
    for (double w : {0.25, 0.1, 1.0 / 3, 0.7, 4.9e-324, 1e-310, 3e-300, 1e-5, 7.0, 1e300, DBL_MAX}) {
        for (int b : {1, 2, 3, 5, 17, 1000, 65535, 1 << 30, 2147483646}) {
            const double e = binEdge(b, w);
            if (std::isinf(e)) {
                EXPECT_LT(std::floor(DBL_MAX / w), b) << w << " " << b;
                continue;
            }
            EXPECT_GE(std::floor(e / w), b) << w << " " << b;
            EXPECT_LT(std::floor(std::nextafter(e, 0.0) / w), b) << w << " " << b;
        }
    }
}

TEST(Porrith, LookupByEdgesGivesTheDivisionBin)
{
    const unsigned seed = 4242;
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (double w : {0.25, 0.1, 0.0123, 4.9e-324, 1e-310, 1e300}) {
        for (int nBins : {1, 2, 7, 300}) {
            const int lastBin = nBins - 1;
            std::vector<double> edges(static_cast<std::size_t>(nBins) + 2);
            fillBinEdges(edges.data(), lastBin, w);
            std::vector<double> qs = {0.0, -0.0, -1.0, -HUGE_VAL, HUGE_VAL, NAN, DBL_MIN, 4.9e-324, DBL_MAX};
            for (int b = 1; b <= lastBin && b < 40; ++b)
                for (double q : {edges[b], std::nextafter(edges[b], -HUGE_VAL), std::nextafter(edges[b], HUGE_VAL),
                                 b * w})
                    qs.push_back(q);
            for (int i = 0; i < 2000; ++i) qs.push_back(w * nBins * 1.2 * unit(gen) - 0.1 * w);
            for (double q : qs) {
                // A width whose reciprocal is useless must still find the bin.
                for (double inv : {1.0 / w, 0.0, 1e300, static_cast<double>(NAN)})
                    ASSERT_EQ(binByEdges(q, edges.data(), lastBin, inv), divisionBin(q, w, lastBin))
                        << "q " << q << " w " << w << " nBins " << nBins << " inv " << inv << " seed " << seed;
            }
        }
    }
}

void addCount(double& h, long long count);

TEST(Porrith, CountsAddedInRunsGiveTheBitsOfOneAdditionPerValue)
{
    // Against 1.0 added count times, one addition at a time: starting values
    // of every magnitude and sign (runs end at powers of two, at -h, at
    // 2^53), with fractions, next to 2^53 from both sides, and the specials.
    const unsigned seed = 1753;
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<double> starts = {0.0, -0.0, 0.3, -0.3, -0.5, -1.0, 0.999, 1e-300, -1e-300, 4.9e-324,
                                  0x1p52 - 0.25, 0x1p52 + 0.5, 0x1p53 - 1, 0x1p53 + 2, -0x1p53 - 2, -0x1p53,
                                  1e15 + 0.3, -1e15 - 0.3, 1e300, -1e300, HUGE_VAL, -HUGE_VAL, NAN};
    for (int k = 0; k < 400; ++k) {
        const double v = std::ldexp(unit(gen), static_cast<int>(gen() % 120) - 60);
        starts.push_back(v);
        starts.push_back(std::floor(v) + 0.5);
        starts.push_back(0x1p53 - static_cast<double>(gen() % 3000) - (gen() % 2 ? 0.5 : 0.0));
        starts.push_back(-0x1p53 + static_cast<double>(gen() % 3000));
    }
    for (const double h0 : starts)
        for (const long long count : {1LL, 2LL, 3LL, 7LL, 100LL, 1023LL, 4097LL}) {
            double fast = h0, plain = h0;
            addCount(fast, count);
            for (long long c = 0; c < count; ++c) plain = plain + 1.0;
            ASSERT_TRUE(std::memcmp(&fast, &plain, sizeof fast) == 0 || (std::isnan(fast) && std::isnan(plain)))
                << std::hexfloat << "start " << h0 << ", " << count << " additions: " << fast << " against "
                << plain << ", seed " << seed;
        }
}

TEST(Porrith, RegionEmptyInOneDirectionIsValid)
{
    // 5 x 3 maps with margin 1: two rows but no column. Nothing is binned,
    // so binWidth 0 is no error and every bin becomes 0 / 0.
    PorrithCall c(1, 2, 5, 3);
    c.binWidth = 0;
    for (double& v : c.map(1)) v = 0.5;
    run(c);
    for (double h : c.hist()) EXPECT_TRUE(std::isnan(h));
    EXPECT_TRUE(sameBits(c.map(1)[7], 0x1.d9353d7568af4p-2));  // the maps are saturated all the same

    // Three columns but no row.
    PorrithCall d(1, 1, 3, 6);
    d.binWidth = 0;
    run(d);
    for (double h : d.hist()) EXPECT_TRUE(std::isnan(h));
}

TEST(Porrith, AHistogramOneShortWritesNothing)
{
    PorrithCall c(2, 1);
    c.at(0, 2, 2) = 0.5;
    c.at(1, 2, 2) = 0.7;
    c.histogram = matrix(1, 3, {0.5, 0.25, 1});
    EXPECT_EQ(errorId(c, c.inputs()), "Porrith:tooShort");
    c.histogram = matrix(3, 1, {0.5, 0.25, 1});
    EXPECT_EQ(errorId(c, c.inputs()), "Porrith:tooShort");
}

TEST(Porrith, AHistogramThatIsAnotherMapKeepsThePlainOrder)
{
    // The histogram is the first column of the third map: the plain order
    // bins pixel (2, 1) of that map after row 1 of every map has counted
    // into it, where a storage-order or counted pass reads it first.
    for (int threads : {1, 2, 8}) {
        ThreadSetting setting(threads);
        PorrithCall c(1, 3, 6, 5, 6);
        c.margin = 0;
        c.binWidth = 0.125;
        for (int k = 0; k < 3; ++k)
            for (std::size_t p = 0; p < c.map(k).size(); ++p) c.map(k)[p] = 0.05 * static_cast<double>((p * 7 + k) % 9);
        c.histogram = cellContent(c.maps, 2);
        expectPlainResult(c, "threads " + std::to_string(threads));
    }
}

TEST(Porrith, AHistogramOverlappingMapsWithoutLyingInsideOneKeepsThePlainOrder)
{
    // Four 100 x 90 maps of one block, 4 doubles apart, and a histogram in the
    // same block that straddles a map's edge or holds a whole map: each count
    // changes values still to be binned (bins of 0.07 over saturated values
    // up to 0.83 fall on the first 12 bins), so only the plain order gives
    // the plain result. Large enough for 2 threads elsewhere.
    const int nRows = 100, nCols = 90, gap = 4;
    const std::size_t mapLength = nRows * nCols, stride = mapLength + gap;
    auto mapAt = [&](int k) { return gap + k * stride; };
    struct Case {
        const char* label;
        std::size_t histogramAt, nBins;
    };
    const Case cases[] = {
        {"straddles the start of map 0", mapAt(0) - 4, 12},
        {"straddles the end of map 0 and the start of map 1", mapAt(1) - 8, 12},
        {"starts with map 0 and runs past its end", mapAt(0), mapLength + 4},
        {"holds map 1 and more on either side", mapAt(1) - 2, mapLength + 4},
        {"lies inside map 2", mapAt(2) + 150, 12},
    };
    for (const Case& k : cases) {
        for (int threads : {1, 2}) {
            ThreadSetting setting(threads);
            const Array block = zeros(gap + 4 * stride, 1);
            std::vector<double>& b = values(block);
            for (std::size_t p = 0; p < b.size(); ++p) b[p] = 0.0013 * static_cast<double>((p * 37) % 919);
            PorrithCall c(2, 2, nRows, nCols, static_cast<int>(k.nBins));
            c.margin = 0;
            c.binWidth = 0.07;
            for (int m = 0; m < 4; ++m) setCell(c.maps, m, viewOf(block, mapAt(m), nRows, nCols));
            c.histogram = viewOf(block, k.histogramAt, 1, k.nBins);

            std::vector<double> plain = b;
            double* table[4];
            for (int m = 0; m < 4; ++m) table[m] = plain.data() + mapAt(m);
            referenceCall(2, 2, table, 0, nRows, nCols, 0.07, static_cast<int>(k.nBins), plain.data() + k.histogramAt,
                          1.0);
            run(c);
            EXPECT_TRUE(sameBits(b, plain)) << k.label << ", threads " << threads;
        }
    }
}

namespace {

// A random call: grid, map and region sizes, level, bins, a histogram of
// one of several kinds, a width of one of several kinds (some taken from
// the saturated values themselves, so values sit on bin edges), and now and
// then two cells on one block or a histogram that is a map.
PorrithCall randomCall(std::mt19937& gen, int largest)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); };
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int nImages = pick(1, 3), N = pick(1, 3), nRows = pick(1, largest), nCols = pick(1, largest);
    const int margin = pick(0, 2);
    const int nBins = pick(0, 5) == 0 ? pick(1, 400) : pick(1, 12);
    PorrithCall c(nImages, N, nRows, nCols, nBins);
    c.margin = margin;
    c.level = pick(0, 4) == 0 ? -1.5 : 0.3 + 2 * unit(gen);
    for (int k = 0; k < nImages * N; ++k)
        for (double& v : c.map(k)) {
            const int kind = pick(0, 40);
            v = kind == 0 ? NAN : kind == 1 ? -unit(gen) : kind == 2 ? 1e3 : 1.5 * unit(gen) * unit(gen);
        }
    std::vector<double>& h = c.hist();
    const int histKind = pick(0, 5);
    for (int b = 0; b < nBins; ++b)
        h[b] = histKind == 0   ? 0.0
               : histKind == 1 ? static_cast<double>(pick(0, 9))
               : histKind == 2 ? 0.3 * b + 0.1
               : histKind == 3 ? 0x1p53 - pick(0, 3)
               : histKind == 4 ? (b % 3 == 0 ? -0.0 : b % 3 == 1 ? 1e300 : -7.0)
                               : (b % 2 ? HUGE_VAL : NAN);
    const int widthKind = pick(0, 7);
    const double q = plainSigmoid(c.map(0)[static_cast<std::size_t>(pick(0, nRows * nCols - 1))], c.level);
    const double fromValue = q / pick(1, nBins);
    c.binWidth = widthKind == 0   ? 0.25
                 : widthKind == 1 ? 0.1
                 : widthKind == 2 ? 0.01 + unit(gen) / nBins
                 : widthKind == 3 ? (pick(0, 1) ? 4.9e-324 : 1e300)
                 : widthKind == 4 ? HUGE_VAL
                 : widthKind == 5 ? std::nextafter(fromValue, pick(0, 1) ? 0.0 : HUGE_VAL)
                                  : fromValue;
    if (!(c.binWidth > 0)) c.binWidth = 0.2;
    if (nImages * N > 1 && pick(0, 5) == 0) setCell(c.maps, nImages * N - 1, cellContent(c.maps, 0));
    if (nImages * N > 1 && nRows * nCols >= nBins && pick(0, 7) == 0) c.histogram = cellContent(c.maps, 1);
    return c;
}

}  // namespace

TEST(Porrith, RandomCallsMatchThePlainLoops)
{
    // Small calls: every route (plain order, 1.0 per value, counts by edges
    // and by division) on the caller's thread.
    const unsigned seed = 20261209;
    std::mt19937 gen(seed);
    for (int i = 0; i < 600; ++i) {
        const PorrithCall c = randomCall(gen, 14);
        expectPlainResult(c, "call " + std::to_string(i) + ", seed " + std::to_string(seed));
        if (HasFatalFailure()) return;
    }
}

TEST(Porrith, SameBitsForOneTwoAndEightThreads)
{
    // Calls large enough to use 8 threads: the counted route fused with the
    // saturation, and with two cells on one block saturated first.
    const unsigned seed = 31;
    for (int variant = 0; variant < 4; ++variant) {
        std::vector<std::vector<double>> results;
        for (int threads : {1, 2, 8}) {
            ThreadSetting setting(threads);
            std::mt19937 gen(seed + variant);
            std::uniform_real_distribution<double> unit(0.0, 1.0);
            PorrithCall c(4, 4, 130, 140, variant == 3 ? 3000 : 24);
            c.margin = 2;
            c.level = 1.1;
            c.binWidth = variant == 2 ? HUGE_VAL : 0.045;
            for (int k = 0; k < 16; ++k)
                for (double& v : c.map(k)) v = 1.4 * unit(gen) * unit(gen);
            c.map(5)[1000] = NAN;
            c.map(6)[2000] = -0.3;
            for (std::size_t b = 0; b < c.hist().size(); ++b) c.hist()[b] = b % 2 ? 0.3 * b : 2.0 * b;
            if (variant == 1) setCell(c.maps, 9, cellContent(c.maps, 3));
            expectPlainResult(c, "variant " + std::to_string(variant) + ", threads " + std::to_string(threads));
            if (HasFatalFailure()) return;
            std::vector<double> all = c.hist();
            for (int k = 0; k < 16; ++k) all.insert(all.end(), c.map(k).begin(), c.map(k).end());
            results.push_back(all);
        }
        EXPECT_TRUE(sameBits(results[0], results[1])) << variant;
        EXPECT_TRUE(sameBits(results[0], results[2])) << variant;
    }
}

TEST(Porrith, CountsAddedAtOnceOrReplayedGiveTheSerialSums)
{
    // 900 values into bin 0 onto a histogram that holds integers (added at
    // once), fractions and values past 2^53 (replayed), -0 in a bin that
    // gets nothing, and NaN and infinity.
    PorrithCall c(1, 1, 32, 32, 8);
    c.margin = 0;
    for (double& v : c.map(0)) v = 0.01;
    c.binWidth = 1;
    c.hist() = {0x1p53 - 1000, -0.0, 0.1, 0x1p53 + 2, 5, NAN, HUGE_VAL, -HUGE_VAL};
    expectPlainResult(c, "bin 0 near 2^53");
    // The replay goes in runs of exact additions: runs that end at a power
    // of two, at -h for a negative h (crossing zero), at 2^53 and past it.
    for (double h0 : {0.1, 0x1p53 - 899, 0x1p53 - 900, 0x1p53 + 2, 0x1p52 + 0.5, -1e6 - 0.25, 5.0, -0.3, -600.75,
                      -1024.5, 0x1p52 - 0.25, -0x1p53 - 2, 1e-300, 0.999, 2.5e15 + 0.5, 1000.3}) {
        PorrithCall d(1, 1, 32, 32, 2);
        d.margin = 0;
        for (double& v : d.map(0)) v = 0.01;
        d.binWidth = 1;
        d.hist() = {h0, -0.0};
        expectPlainResult(d, std::to_string(h0));
    }
}
