// The geometric point transform.
#include <gtest/gtest.h>

#include <climits>

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

}  // namespace

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
