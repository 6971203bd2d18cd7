// Fenwold through its gateway, with the host-free stand-in.
#include <gtest/gtest.h>

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

// The defining steps, written out here rather than taken from the product.
double plainSigmoid(double v, double s)
{
    const double x = (-2.0 * v) / s;
    const double e = std::exp(x);
    return s * (2.0 / (e + 1.0) - 1.0);
}

// A valid call by default: a 2 x 3 grid of 3 x 4 maps, level 2.
struct FenwoldCall {
    double nImages = 2;
    double N = 3;
    double nRows = 3;
    double nCols = 4;
    double level = 2.0;
    int cells;
    Array maps;

    // Cells of rows x cols, values spread over both signs and past the limits.
    FenwoldCall(int gridRows = 2, int gridCols = 3, std::size_t rows = 3, std::size_t cols = 4)
        : cells(gridRows * gridCols)
    {
        maps = cell(gridRows, gridCols);
        for (int k = 0; k < gridRows * gridCols; ++k) {
            std::vector<double> v(rows * cols);
            for (std::size_t p = 0; p < v.size(); ++p) v[p] = 3.7 * (k + 1) * (static_cast<double>(p) - 5);
            setCell(maps, k, matrix(rows, cols, v));
        }
    }
    std::vector<Array> inputs() const
    {
        return {scalar(nImages), scalar(N), maps, scalar(nRows), scalar(nCols), scalar(level)};
    }
    std::vector<double>& map(int k) const { return values(cellContent(maps, k)); }
    std::vector<std::vector<double>> snapshot() const
    {
        std::vector<std::vector<double>> s;
        for (int k = 0; k < cells; ++k) {
            const Array c = cellContent(maps, k);
            s.push_back(c ? values(c) : std::vector<double>{});
        }
        return s;
    }
};

void run(const std::vector<Array>& in) { call("Fenwold", mexFunction, in); }

// One map of rows x cols holding values, at the given level.
FenwoldCall oneMap(int rows, int cols, const std::vector<double>& values, double level)
{
    FenwoldCall c(1, 1, rows, cols);
    c.map(0) = values;
    c.nImages = c.N = 1;
    c.nRows = rows;
    c.nCols = cols;
    c.level = level;
    return c;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
using standin::sameBits;

// The id of the error a call raises; every map must come back bit-identical.
std::string errorId(const FenwoldCall& c, std::vector<Array> in)
{
    const auto before = c.snapshot();
    const std::string id = errorIdOf("Fenwold", mexFunction, in);
    const auto after = c.snapshot();
    EXPECT_EQ(before.size(), after.size());
    for (std::size_t k = 0; k < before.size() && k < after.size(); ++k)
        EXPECT_TRUE(sameBits(before[k], after[k])) << "a failed call changed cell " << k;
    return id;
}

}  // namespace

TEST(Fenwold, SaturatesTheFirstRowsByColsOfEveryCellInPlace)
{
    // Matrices of 3 x 5 with nCols = 4: the fifth column lies past the map.
    FenwoldCall c(2, 3, 3, 5);
    const auto before = c.snapshot();
    run(c.inputs());
    for (int k = 0; k < 6; ++k)
        for (std::size_t p = 0; p < 15; ++p) {
            const double expected = p < 12 ? plainSigmoid(before[k][p], 2.0) : before[k][p];
            EXPECT_TRUE(sameBits(c.map(k)[p], expected)) << k << " " << p;
        }
    EXPECT_EQ(c.map(5)[0], -2.0);  // -5 * 22.2 is far past -40 * 2
    EXPECT_NEAR(c.map(0)[6], 2 * std::tanh(1.85), 1e-15);  // 3.7 at level 2
}

TEST(Fenwold, KnownValuesAndZeroLevel)
{
    FenwoldCall c = oneMap(1, 3, {1, -1, 100}, 2);
    run(c.inputs());
    // 0.92423431452002 to the last bit of the exp steps (tanh's rounds to
    // one bit below).
    EXPECT_TRUE(sameBits(c.map(0)[0], 0x1.d9353d7568af4p-1));
    EXPECT_TRUE(sameBits(c.map(0)[1], -0x1.d9353d7568af4p-1));
    EXPECT_EQ(c.map(0)[2], 2.0);

    c.map(0) = {1, -1, 0};
    c.level = 0;
    run(c.inputs());
    EXPECT_TRUE(sameBits(c.map(0)[0], 0.0));
    EXPECT_TRUE(sameBits(c.map(0)[1], -0.0));
    EXPECT_TRUE(std::isnan(c.map(0)[2]));
}

TEST(Fenwold, TwoCallsApplyTheSigmoidTwice)
{
    FenwoldCall c;
    c.level = 1.5;
    const auto before = c.snapshot();
    run(c.inputs());
    run(c.inputs());
    for (int k = 0; k < 6; ++k)
        for (std::size_t p = 0; p < 12; ++p)
            EXPECT_TRUE(sameBits(c.map(k)[p], plainSigmoid(plainSigmoid(before[k][p], 1.5), 1.5))) << k << " " << p;
}

TEST(Fenwold, ACellSharedByTwoEntriesIsSaturatedOncePerEntry)
{
    FenwoldCall c;
    setCell(c.maps, 4, cellContent(c.maps, 1));
    const auto before = c.snapshot();
    run(c.inputs());
    for (std::size_t p = 0; p < 12; ++p) {
        EXPECT_TRUE(sameBits(c.map(1)[p], plainSigmoid(plainSigmoid(before[1][p], 2.0), 2.0))) << p;
        EXPECT_TRUE(sameBits(c.map(3)[p], plainSigmoid(before[3][p], 2.0))) << p;
    }
}

TEST(Fenwold, CountsAreRounded)
{
    // 1.5 -> 2 images, 2.5 -> 3 orientations, 2.5 -> 3 rows, 3.49 -> 3 columns.
    FenwoldCall c(2, 3, 3, 4);
    c.nImages = 1.5;
    c.N = 2.5;
    c.nRows = 2.5;
    c.nCols = 3.49;
    const auto before = c.snapshot();
    run(c.inputs());
    for (int k = 0; k < 6; ++k) {
        EXPECT_TRUE(sameBits(c.map(k)[8], plainSigmoid(before[k][8], 2.0))) << k;
        EXPECT_TRUE(sameBits(c.map(k)[9], before[k][9])) << k;
    }
}

TEST(Fenwold, EmptyGridsAndMapsTouchNothing)
{
    FenwoldCall c;
    const auto before = c.snapshot();
    c.nImages = 0;
    run(c.inputs());
    c.nImages = 2;
    c.N = 0;
    run(c.inputs());
    c.N = 3;
    c.nRows = 0;
    run(c.inputs());
    c.nRows = -4;
    run(c.inputs());
    EXPECT_EQ(before, c.snapshot());
    // An empty cell array is a grid of 0 cells.
    run({scalar(0), scalar(5), cell(0, 0), scalar(3), scalar(3), scalar(1)});
}

TEST(Fenwold, WrongCallsRaiseNamedErrorsAndWriteNothing)
{
    FenwoldCall c;
    auto with = [&](int pos, const Array& a) {
        std::vector<Array> in = c.inputs();
        in[pos] = a;
        return errorId(c, in);
    };
    std::vector<Array> five = c.inputs();
    five.pop_back();
    EXPECT_EQ(errorId(c, five), "Fenwold:nargin");
    EXPECT_EQ(with(0, scalar('x', Kind::Char)), "Fenwold:notScalar");
    EXPECT_EQ(with(1, scalar(NAN)), "Fenwold:notFinite");
    EXPECT_EQ(with(0, scalar(-1)), "Fenwold:negativeCount");
    EXPECT_EQ(with(3, scalar(3e9)), "Fenwold:intRange");
    EXPECT_EQ(with(2, matrix(3, 4, {}, Kind::Int32)), "Fenwold:notCell");
    EXPECT_EQ(with(2, zeros(3, 4)), "Fenwold:tooFewMaps");
    EXPECT_EQ(with(1, scalar(4)), "Fenwold:tooFewCells");
    EXPECT_EQ(with(4, scalar(5)), "Fenwold:cellTooSmall");
    EXPECT_EQ(with(5, zeros(1, 2)), "Fenwold:notScalar");
    EXPECT_EQ(with(5, scalar(1, Kind::Complex)), "Fenwold:notScalar");

    // A bad last cell stops the call before the first cell is touched.
    setCell(c.maps, 5, matrix(3, 4, {}, Kind::Single));
    EXPECT_EQ(errorId(c, c.inputs()), "Fenwold:badCell");
    setCell(c.maps, 5, Array());
    EXPECT_EQ(errorId(c, c.inputs()), "Fenwold:badCell");
}

TEST(Fenwold, MessagesNameTheArgumentAndItsPosition)
{
    FenwoldCall c;
    std::vector<Array> in = c.inputs();
    in[5] = zeros(2, 2);
    try {
        run(in);
        ADD_FAILURE() << "no error";
    } catch (const HostError& e) {
        EXPECT_NE(std::string(e.what()).find("saturationLevel (argument 6)"), std::string::npos) << e.what();
    }
}

TEST(Fenwold, ExtraInputsAreIgnored)
{
    FenwoldCall c;
    const auto before = c.snapshot();
    std::vector<Array> in = c.inputs();
    in.push_back(scalar('z', Kind::Char));
    run(in);
    EXPECT_TRUE(sameBits(c.map(0)[0], plainSigmoid(before[0][0], 2.0)));
}

TEST(Fenwold, WorkedValuesToTheLastBit)
{
    // Each differs in the last bits from s*tanh(v/s); 19 at level 1 is
    // exactly 1 by the exp steps, one bit below by tanh.
    FenwoldCall c = oneMap(2, 3, {0.3, 2.5, -1.491, 1e-3, 19.0, 0.5}, 1.7);
    run(c.inputs());
    EXPECT_TRUE(sameBits(c.map(0)[0], 0x1.300ce094f98bfp-2));
    EXPECT_TRUE(sameBits(c.map(0)[1], 0x1.878b7fa842fe9p+0));
    c.map(0) = {1e-3, 19.0, 3.0, 0.5, 0, 0};
    c.level = 1.0;
    run(c.inputs());
    EXPECT_TRUE(sameBits(c.map(0)[0], 0x1.0624d77516c00p-10));
    EXPECT_TRUE(sameBits(c.map(0)[1], 1.0));
    EXPECT_TRUE(sameBits(c.map(0)[2], 0x1.fd77d111a0b02p-1));
    EXPECT_TRUE(sameBits(c.map(0)[3], 0x1.d9353d7568af4p-2));
}

TEST(Fenwold, SameBitsForOneTwoAndEightThreads)
{
    // A 3 x 5 grid of 71 x 83 maps (88,395 elements, fewer than 8 threads'
    // worth of work), and a 4 x 8 grid of 33 x 250 (264,000): chunks
    // straddle maps. Values spread over both signs and past the limits. On
    // the AVX2 path (where the processor has it) and the plain loop.
    const unsigned seed = 77;
    for (auto dims : std::vector<std::vector<int>>{{3, 5, 71, 83}, {4, 8, 33, 250}}) {
        std::vector<std::vector<double>> results;
        for (int run6 = 0; run6 < 6; ++run6) {
            const int threads = run6 % 3 == 0 ? 1 : run6 % 3 == 1 ? 2 : 8;
            useWideSaturation(run6 < 3);
            setenv(THREADS_VARIABLE, std::to_string(threads).c_str(), 1);
            FenwoldCall c(dims[0], dims[1], dims[2], dims[3]);
            c.nImages = dims[0];
            c.N = dims[1];
            c.nRows = dims[2];
            c.nCols = dims[3];
            c.level = 1.3;
            std::mt19937 gen(seed);
            std::uniform_real_distribution<double> dist(-60.0, 60.0);
            for (int k = 0; k < c.cells; ++k)
                for (double& v : c.map(k)) v = dist(gen) * dist(gen) / 30;
            const auto before = c.snapshot();
            run(c.inputs());
            std::vector<double> all;
            for (int k = 0; k < c.cells; ++k) {
                for (std::size_t p = 0; p < before[k].size(); ++p)
                    ASSERT_TRUE(sameBits(c.map(k)[p], plainSigmoid(before[k][p], 1.3)))
                        << threads << " threads, " << (run6 < 3 ? "wide" : "plain") << ", cell " << k << ", element " << p << ", seed " << seed;
                all.insert(all.end(), c.map(k).begin(), c.map(k).end());
            }
            results.push_back(all);
        }
        unsetenv(THREADS_VARIABLE);
        useWideSaturation(true);
        for (std::size_t r = 1; r < results.size(); ++r) EXPECT_TRUE(sameBits(results[0], results[r])) << r;
    }
}

TEST(Fenwold, ASharedCellWithThreadsIsSaturatedOncePerEntry)
{
    // Large enough to be split, but cells 0 and 7 hold one block.
    setenv(THREADS_VARIABLE, "8", 1);
    FenwoldCall c(2, 4, 100, 120);
    c.nImages = 2;
    c.N = 4;
    c.nRows = 100;
    c.nCols = 120;
    setCell(c.maps, 7, cellContent(c.maps, 0));
    const auto before = c.snapshot();
    run(c.inputs());
    unsetenv(THREADS_VARIABLE);
    for (std::size_t p = 0; p < before[0].size(); ++p) {
        ASSERT_TRUE(sameBits(c.map(0)[p], plainSigmoid(plainSigmoid(before[0][p], 2.0), 2.0))) << p;
        ASSERT_TRUE(sameBits(c.map(3)[p], plainSigmoid(before[3][p], 2.0))) << p;
    }
}
