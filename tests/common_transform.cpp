// The geometric point transform.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

#include "transform.h"

namespace {

struct Moved {
    long long x, y, o;
};

Moved move(int N, int cx, int cy, int x, int y, int iOri, int dX, int dY, int dO)
{
    long long xyo[3] = {-7, -7, -7};
    geometricTransform(N, cx, cy, x, y, iOri, dX, dY, dO, xyo);
    return {xyo[0], xyo[1], xyo[2]};
}

void expectMoved(const Moved& m, long long x, long long y, long long o)
{
    EXPECT_EQ(m.x, x);
    EXPECT_EQ(m.y, y);
    EXPECT_EQ(m.o, o);
}

// The transform's steps written out plainly, apart from the product's code:
// the orientation wrapped by adding N, the polar angle turned by
// 3.1415926*dO/N, each coordinate floor(moved centre + 0.5 + offset). For
// offsets small enough that du*du + dv*dv is exact in a double.
Moved reference(int N, int cx, int cy, int x, int y, int iOri, int dX, int dY, int dO)
{
    long long o = static_cast<long long>(iOri) + dO;
    while (o < 0) o += N;
    if (o >= N) o = o % N;
    const double du = static_cast<double>(x) - cx, dv = static_cast<double>(y) - cy;
    const double alpha = std::atan2(dv, du) + (3.1415926 * dO) / N;
    const double radius = std::sqrt(du * du + dv * dv);
    const double row = std::floor((0.5 + (static_cast<double>(cx) + dX)) + radius * std::cos(alpha));
    const double col = std::floor((0.5 + (static_cast<double>(cy) + dY)) + radius * std::sin(alpha));
    return {static_cast<long long>(row), static_cast<long long>(col), o};
}

}  // namespace

TEST(GeometricTransform, MatchesAPlainReferenceOnRandomPoints)
{
    const unsigned seed = 20261209u;
    std::mt19937 rng(seed);
    auto draw = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int trial = 0; trial < 20000; ++trial) {
        const int N = draw(1, 64), cx = draw(-3000, 3000), cy = draw(-3000, 3000);
        const int x = cx + draw(-4000, 4000), y = cy + draw(-4000, 4000);
        const int iOri = draw(0, N - 1), dX = draw(-100, 100), dY = draw(-100, 100), dO = draw(-300, 300);
        const Moved want = reference(N, cx, cy, x, y, iOri, dX, dY, dO);
        const Moved got = move(N, cx, cy, x, y, iOri, dX, dY, dO);
        ASSERT_TRUE(got.x == want.x && got.y == want.y && got.o == want.o)
            << "seed " << seed << " trial " << trial << ": N " << N << " centre " << cx << "," << cy << " point " << x
            << "," << y << " shift " << dX << "," << dY << " dO " << dO;
    }
}

TEST(GeometricTransform, PiIsTheSystemsApproximation)
{
    // A quarter turn with PI = 3.1415926 leaves cos t = 2.68e-8, not 0: a
    // point 2e7 rows from the centre lands one row off the axis.
    expectMoved(move(2, 0, 0, 20000000, 0, 0, 0, 0, 1), 1, 20000000, 1);
    expectMoved(move(2, 0, 0, 0, 20000000, 0, 0, 0, 1), -20000000, 1, 1);
    // t = PI/3: cos t = 0.50000001547, so odd offsets land just past a
    // half-integer before the 0.5 is added, and round up.
    expectMoved(move(3, 0, 0, 1, 0, 0, 0, 0, 1), 1, 1, 1);
    expectMoved(move(3, 0, 0, 1000, 0, 0, 0, 0, 1), 500, 866, 1);
    expectMoved(move(6, 0, 0, 3, 0, 0, 0, 0, 2), 2, 3, 2);
}

TEST(GeometricTransform, NoRotationMovesByTheShiftOnly)
{
    for (int iOri = 0; iOri < 4; ++iOri) expectMoved(move(4, 10, 20, 13, 25, iOri, 0, 0, 0), 13, 25, iOri);
    expectMoved(move(4, 10, 20, 13, 25, 1, -3, 7, 0), 10, 32, 1);
    expectMoved(move(4, 0, 0, -5, 9, 2, 1, 1, 0), -4, 10, 2);
}

TEST(GeometricTransform, TheCentreOnlyMovesByTheShift)
{
    for (int dO = -9; dO <= 9; ++dO) expectMoved(move(16, 10, 20, 10, 20, 3, 2, -1, dO), 12, 19, ((3 + dO) % 16 + 16) % 16);
}

TEST(GeometricTransform, HalfQuarterAndEighthTurns)
{
    expectMoved(move(16, 10, 20, 13, 25, 5, 0, 0, 16), 7, 15, 5);
    expectMoved(move(16, 10, 20, 13, 25, 5, 1, -2, 16), 8, 13, 5);
    expectMoved(move(16, 10, 20, 11, 20, 0, 0, 0, 8), 10, 21, 8);
    expectMoved(move(16, 10, 20, 10, 21, 9, 0, 0, 8), 9, 20, 1);
    expectMoved(move(16, 0, 0, 10, 0, 0, 0, 0, 4), 7, 7, 4);
}

TEST(GeometricTransform, OrientationWraps)
{
    const int sums[] = {-1, -16, -33, 16, 40, 47};
    const int expected[] = {15, 0, 15, 0, 8, 15};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(move(16, 0, 0, 0, 0, 0, 0, 0, sums[k]).o, expected[k]);
    // Any size of iOri + deltaOri, in constant time and without overflow.
    EXPECT_EQ(move(16, 0, 0, 0, 0, INT_MAX, 0, 0, INT_MAX).o, (2LL * INT_MAX) % 16);
    EXPECT_EQ(move(16, 0, 0, 0, 0, INT_MIN, 0, 0, INT_MIN).o, 0);
    EXPECT_EQ(move(7, 0, 0, 0, 0, -1, 0, 0, INT_MIN).o, ((-1LL + INT_MIN) % 7 + 7) % 7);
}

TEST(GeometricTransform, OneOrientation)
{
    for (int dO = -3; dO <= 3; ++dO) EXPECT_EQ(move(1, 0, 0, 0, 0, 0, 0, 0, dO).o, 0);
    // One step is a half turn.
    expectMoved(move(1, 5, 5, 7, 4, 0, 0, 0, 1), 3, 6, 0);
}

TEST(GeometricTransform, FarPointsAreExact)
{
    // Differences beyond 32767 would overflow a 32-bit squared distance.
    expectMoved(move(4, 0, 0, 100000, 0, 0, 0, 0, 4), -100000, 0, 0);
    expectMoved(move(4, 0, 0, 0, 50000, 0, 0, 0, 0), 0, 50000, 0);
    expectMoved(move(2, 0, 0, 40000, 0, 0, 0, 0, 1), 0, 40000, 1);
    // The extremes of the int range.
    expectMoved(move(4, INT_MIN, 0, INT_MAX, 0, 0, INT_MAX, 0, 0), 2LL * INT_MAX, 0, 0);
    const Moved m = move(4, INT_MAX, 0, INT_MIN, 0, 0, 0, 0, 4);
    EXPECT_EQ(m.x, 2LL * INT_MAX - INT_MIN);
}

TEST(GeometricTransform, TurnedPathRoundsOnceNearAHalf)
{
    // Turned offsets placed by hand around a half: the moved centre plus
    // 0.5 plus the offset, added in that order, is rounded once. With the
    // moved centre -1 and the offset the double just below 0.5, the exact
    // sum is -2^-54 (row -1); adding the offset to the centre first would
    // round -1.5 + 2^-54 to -0.5 and land on row 0. Large centres and shifts
    // reach the same moved centres; far sums are exact at 2^-20.
    struct Case {
        int centre, shift;
        double offset;
        long long expected;
    };
    const double belowHalf = std::nextafter(0.5, 0.0);
    const Case cases[] = {
        {INT_MAX, INT_MIN, belowHalf, -1},
        {INT_MIN, INT_MAX, belowHalf, -1},
        {INT_MAX, INT_MIN, 0.5, 0},
        {INT_MAX, INT_MIN, std::nextafter(belowHalf, 0.0), -1},
        {INT_MAX, INT_MIN, std::nextafter(0.5, 1.0), 0},
        {INT_MAX, INT_MAX, -4294967294.5 - 0x1p-20, -1},  // moved centre 2^32 - 2
        {INT_MAX, INT_MAX, -4294967294.5 + 0x1p-20, 0},
        {INT_MIN, INT_MIN, 4294967295.5 - 0x1p-20, -1},   // moved centre -2^32
        {INT_MIN, INT_MIN, 4294967295.5 + 0x1p-20, 0},
    };
    for (const Case& k : cases) {
        long long xyo[3] = {7, 7, 7};
        shiftTurnedPoint(TurnedPoint{k.offset, k.offset, 3}, k.centre, k.centre, k.shift, k.shift, xyo);
        // The plain order, written out: centre, then 0.5, then the offset.
        const double plain = std::floor((0.5 + (static_cast<double>(k.centre) + k.shift)) + k.offset);
        EXPECT_EQ(static_cast<long long>(plain), k.expected) << k.centre << " + " << k.shift << ", " << k.offset;
        EXPECT_TRUE(xyo[0] == k.expected && xyo[1] == k.expected && xyo[2] == 3)
            << k.centre << " + " << k.shift << ", offset " << k.offset << ": " << xyo[0] << ", " << xyo[1];
    }

    // Real turns of a point 100001 rows from a centre at the ends of the int
    // range: with PI = 3.1415926 a sixth of a turn leaves the column offset
    // 50000.49923, just below a half (column + 50000), and a third of a turn
    // the row offset 50000.50155, just above (row + 50001). The turned path
    // under several shifts gives the one-step transform's and the plain
    // reference's positions.
    struct Turn {
        int N, dO;
        long long rowStep, colStep;
    };
    const Turn turns[] = {{6, 1, 86603, 50000}, {3, 1, 50001, 86603}};
    const int centres[][2] = {{INT_MAX - 100001, INT_MAX}, {INT_MIN, INT_MIN}};
    const int shifts[][2] = {{INT_MAX, INT_MAX}, {INT_MIN, INT_MIN}, {0, -1}, {INT_MIN, INT_MAX}};
    for (const Turn& t : turns)
        for (const auto& c : centres) {
            const int x = c[0] + 100001, y = c[1];
            const TurnedPoint turned = turnPoint(t.N, c[0], c[1], x, y, 2, t.dO);
            for (const auto& s : shifts) {
                long long xyo[3];
                shiftTurnedPoint(turned, c[0], c[1], s[0], s[1], xyo);
                const Moved oneStep = move(t.N, c[0], c[1], x, y, 2, s[0], s[1], t.dO);
                const Moved plain = reference(t.N, c[0], c[1], x, y, 2, s[0], s[1], t.dO);
                const long long row = static_cast<long long>(c[0]) + s[0] + t.rowStep;
                const long long col = static_cast<long long>(c[1]) + s[1] + t.colStep;
                EXPECT_TRUE(xyo[0] == row && xyo[1] == col && xyo[2] == (2 + t.dO) % t.N)
                    << "N " << t.N << " centre " << c[0] << "," << c[1] << " shift " << s[0] << "," << s[1];
                expectMoved(oneStep, row, col, (2 + t.dO) % t.N);
                expectMoved(plain, row, col, (2 + t.dO) % t.N);
            }
        }
}
