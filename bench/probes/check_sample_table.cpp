// Question: are the warps' fast positions exactly those of the point transform?
// Figure: the positions compared and the differences found (0), quoted where
// docs/performance.md describes the warps.
//
// Compares the warp's fast positions (closed-form rotation, recomputed near
// integers) with the defining point transform, element by element, on well
// over 10^9 positions: every N from 1 to 64 with every rotation 0..2N-1 and
// some far beyond, map sizes from 1 x 1 to 4096 x 4096, shifts from 0 to the
// ends of the int range, and pieces of maps of 2^31 - 1 rows whose elements
// lie 2^30 from the centre. Prints the positions compared, the differences
// (which must be 0) and how many the fast path recomputed.
//
// Not a test: it runs for minutes. Build target check_sample_table; run
// `nice build/bench/check_sample_table [maxN] [plain]` (maxN limits N for a
// quick run; plain checks the 2-lane path instead of the AVX2 one).
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "transform.h"
#include "warp.h"

namespace {

struct Tally {
    long long positions = 0;
    long long differences = 0;
    long long recomputed = 0;
};

constexpr long long PIECE = 1 << 16;
std::vector<long long> rows(PIECE), cols(PIECE);

// Elements e0..e1-1 of an sx x sy map under p, fast against defining.
void compare(int N, int sx, int sy, const WarpParams& p, long long e0, long long e1, Tally& t)
{
    const SampleGeometry g = sampleGeometry(N, sx, sy, p);
    for (long long b = e0; b < e1; b += PIECE) {
        const long long end = b + PIECE < e1 ? b + PIECE : e1;
        t.recomputed += samplePositions(g, b, end, rows.data(), cols.data());
        for (long long e = b; e < end; ++e) {
            long long xyo[3];
            geometricTransform(N, sx / 2, sy / 2, static_cast<int>(e % sx), static_cast<int>(e / sx), 0, p.dX,
                               p.dY, p.dO, xyo);
            if (xyo[0] != rows[e - b] || xyo[1] != cols[e - b]) {
                if (t.differences < 20)
                    std::printf("DIFFERENCE N=%d map %dx%d shift (%d,%d) dO=%d element %lld: defined (%lld,%lld), "
                                "fast (%lld,%lld)\n",
                                N, sx, sy, p.dX, p.dY, p.dO, e, xyo[0], xyo[1], rows[e - b], cols[e - b]);
                ++t.differences;
            }
        }
        t.positions += end - b;
    }
}

void whole(int N, int side, int otherSide, const WarpParams& p, Tally& t)
{
    compare(N, side, otherSide, p, 0, static_cast<long long>(side) * otherSide, t);
}

// A small repeatable generator.
unsigned long long state = 88172645463325252ULL;
unsigned long long draw()
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

const int SHIFTS[] = {0, 1, -2, 5, -17, 300, 1 << 16, -(1 << 20), 1 << 30, -(1 << 30), INT_MAX, INT_MIN + 1,
                      INT_MAX - 4096, INT_MIN + 4096};
constexpr int NSHIFTS = sizeof SHIFTS / sizeof SHIFTS[0];

int shift(unsigned long long r)
{
    return SHIFTS[r % NSHIFTS];
}

// One rotation of one N on every kind of map.
void rotation(int N, int dO, Tally& t)
{
    // Every small map shape, each with four shifts.
    const int small[] = {1, 2, 3, 4, 5, 8, 13, 16};
    for (int a : small)
        for (int b : {a, a + 1})
            for (int k = 0; k < 4; ++k) whole(N, a, b, {shift(draw()), shift(draw()), dO}, t);
    // A whole medium map, 17 x 17 to 512 x 512, odd and even sides.
    const int side = 17 + static_cast<int>(draw() % 496);
    whole(N, side, side + static_cast<int>(draw() % 2), {shift(draw()), shift(draw()), dO}, t);
    // 64 columns of a 4096 x 4096 map, from a random column on.
    const long long column = static_cast<long long>(draw() % (4096 - 64));
    compare(N, 4096, 4096, {shift(draw()), shift(draw()), dO}, column * 4096, (column + 64) * 4096, t);
    // Far points: the two ends of a column of 2^31 - 1 rows, 2^30 from its
    // centre, and a row of as many columns.
    const long long far = INT_MAX;
    compare(N, INT_MAX, 1, {shift(draw()), shift(draw()), dO}, 0, 2048, t);
    compare(N, INT_MAX, 1, {shift(draw()), shift(draw()), dO}, far - 2048, far, t);
    compare(N, 1, INT_MAX, {shift(draw()), shift(draw()), dO}, far - 2048, far, t);
}

}  // namespace

int main(int argc, char** argv)
{
    const int maxN = argc > 1 ? std::atoi(argv[1]) : 64;
    const bool wide = useWideSampling(!(argc > 2 && std::string(argv[2]) == "plain"));
    std::printf("positions computed %s\n", wide ? "4 at a time (AVX2)" : "2 at a time (SSE2)");
    Tally t;
    for (int N = 1; N <= maxN; ++N) {
        for (int dO = 0; dO < 2 * N; ++dO) rotation(N, dO, t);
        // Rotations beyond a full turn, negative, and at the ends of the int
        // range, where the defining form rounds a huge angle.
        for (int dO : {-1, -N, -2 * N - 1, 2 * N + 1, 1000003, -(1 << 24) - 1, INT_MAX, INT_MIN + 1}) rotation(N, dO, t);
        std::fprintf(stderr, "N=%d: %lld positions, %lld differences, %lld recomputed\n", N, t.positions,
                     t.differences, t.recomputed);
    }
    std::printf("positions compared: %lld\ndifferences: %lld\nrecomputed by the point transform: %lld (%.3g of all)\n",
                t.positions, t.differences, t.recomputed, static_cast<double>(t.recomputed) / t.positions);
    return t.differences == 0 ? 0 : 1;
}
