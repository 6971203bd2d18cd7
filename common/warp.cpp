#include "warp.h"

#include <algorithm>
#include <cmath>

#include "threads.h"
#include "transform.h"

// Measured with bench_Sabrel's thread-threshold cases on the 2-core machine:
// handing a call to a helper costs about 15-30 us of wake-up and hand-back,
// and one element costs 1-4 ns, so a share below some 64k elements gains
// nothing and a loaded machine can make it lose.
const double WARP_MIN_PER_THREAD = 65536;

namespace {

// Offsets of one block of a shared table live on the worker's stack: small
// enough to stay in the first-level cache while every map of the group
// reads them.
constexpr long long BLOCK = 1024;

// Pieces of one map are at least this long, so that a piece's setup (its
// cos and sin, its first column) stays negligible.
constexpr long long MIN_PIECE = 4096;

// floor(v) for |v| < 2^62, without a library call.
inline long long floorToInt(double v)
{
    const long long t = static_cast<long long>(v);  // toward zero
    return t - (v < static_cast<double>(t) ? 1 : 0);
}

// Visits elements e0..e1-1 in storage order and hands each one's sampled
// position to store(e, row, col). A coordinate whose closed-form floor
// argument v has a fractional part within margin of 0 or 1 is recomputed by
// geometricTransform, which then decides both coordinates.
template <class Store>
long long walkSamples(const SampleGeometry& g, long long e0, long long e1, Store store)
{
    long long recomputed = 0;
    const long long rows = g.sx;
    const double low = g.margin;
    const double high = 1.0 - g.margin;
    long long y = e0 / rows;
    long long x = e0 - y * rows;
    for (long long e = e0; e < e1; ++y, x = 0) {
        const double dv = static_cast<double>(y - g.cy);
        const double dvSin = dv * g.sinT;
        const double dvCos = dv * g.cosT;
        const long long end = std::min(e1, e + (rows - x));
        double du = static_cast<double>(x - g.cx);  // exact integers; += 1 stays exact
        for (; e < end; ++e, ++x, du += 1.0) {
            const double vr = g.rowBase + (du * g.cosT - dvSin);
            const double vc = g.colBase + (du * g.sinT + dvCos);
            long long r = floorToInt(vr);
            long long c = floorToInt(vc);
            const double fr = vr - static_cast<double>(r);
            const double fc = vc - static_cast<double>(c);
            if (!(fr > low && fr < high && fc > low && fc < high)) {
                long long xyo[3];
                geometricTransform(g.N, g.cx, g.cy, static_cast<int>(x), static_cast<int>(y), 0, g.p.dX, g.p.dY,
                                   g.p.dO, xyo);
                r = xyo[0];
                c = xyo[1];
                ++recomputed;
            }
            store(e, r, c);
        }
    }
    return recomputed;
}

inline bool inside(const SampleGeometry& g, long long r, long long c)
{
    return r >= 0 && r < g.sx && c >= 0 && c < g.sy;
}

}  // namespace

// Why the closed form may be trusted away from integers, and how far.
//
// Let u = 2^-53 (the unit roundoff of a double), (du, dv) the element's
// offset from the centre, R = sqrt(du^2 + dv^2) <= L = |du| + |dv|, theta
// its exact polar angle, t the double (PI*dO)/N that both forms compute the
// same way, and A = 0.5 + (centre + shift), exact in a double. Both forms
// approximate the same real number X = A + R*cos(theta + t) (the column:
// sin instead of cos; every bound below holds for it unchanged). We allow
// atan2, cos and sin an error of lambda = 16 units in the last place, far
// more than glibc documents (1 or 2).
//
// Defining form, fl(A + fl(fl(sqrt(fl(d))) * cos(fl(atan2(dv, du) + t)))):
//   atan2 is off by at most lambda*ulp(pi) = 4*lambda*u; the sum with t
//   rounds by at most (pi + |t|)*u; so the angle, and with it the exact
//   cosine of the angle, is off by at most (4*lambda + pi + |t|)*u, and cos
//   itself adds lambda*u (its result lies in [-1, 1]). The radius: d to
//   double (u) and the square root (u/2 + u) give 2*u*R; the product u*R;
//   the final sum u*(|A| + R). Together
//     E_def <= R*(5*lambda + 4 + pi + |t|)*u + |A|*u.
// Closed form, fl(A + fl(fl(du*c) - fl(dv*s))), c and s within lambda*u of
// cos t and sin t, du and dv exact:
//     E_fast <= (|du| + |dv|)*(lambda + 3)*u + |A|*u.
// The fractional part f = v - floor(v) is exact but for v in (-1, 0), where
// it is off by at most u.
//
// When the closed-form value lies farther than E_def + E_fast + u from every
// integer, X lies farther than E_def from it on the same side, and so does
// the defining value: both floors agree. With lambda = 16 that sum is at most
//     u*(L*(110.2 + |t|) + 2*|A| + 1),
// to first order in u. The margin doubles it twice, for the second-order
// terms and any extended-precision double rounding (which add far less), so
// it is safe with room, not tuned. It grows with the distance from the
// centre, with |t| (the defining form rounds the angle after adding a
// possibly huge t) and with the moved centre (far shifts round the final
// sum coarsely); from 0.5 on, every element is recomputed.
double sampleMargin(double reach, double turn, double centre)
{
    const double u = 0x1p-53;
    return 4 * u * (reach * (111 + turn) + 2 * centre + 1);
}

SampleGeometry sampleGeometry(int N, int sx, int sy, const WarpParams& p)
{
    SampleGeometry g;
    g.N = N;
    g.sx = sx;
    g.sy = sy;
    g.cx = sx / 2;
    g.cy = sy / 2;
    g.p = p;
    const double t = (PI * p.dO) / N;  // as geometricTransform forms it
    g.cosT = std::cos(t);
    g.sinT = std::sin(t);
    g.rowBase = 0.5 + static_cast<double>(static_cast<long long>(g.cx) + p.dX);
    g.colBase = 0.5 + static_cast<double>(static_cast<long long>(g.cy) + p.dY);
    const double reach = static_cast<double>(std::max(g.cx, sx - 1 - g.cx)) +
                         static_cast<double>(std::max(g.cy, sy - 1 - g.cy));
    g.margin = sampleMargin(reach, std::fabs(t), std::max(std::fabs(g.rowBase), std::fabs(g.colBase)));
    return g;
}

long long samplePositions(const SampleGeometry& g, long long e0, long long e1, long long* rows, long long* cols)
{
    return walkSamples(g, e0, e1, [&](long long e, long long r, long long c) {
        rows[e - e0] = r;
        cols[e - e0] = c;
    });
}

long long sampleOffsets(const SampleGeometry& g, long long e0, long long e1, long long* offsets)
{
    const long long rows = g.sx;
    return walkSamples(g, e0, e1, [&](long long e, long long r, long long c) {
        offsets[e - e0] = inside(g, r, c) ? r + rows * c : -1;
    });
}

void applySampleOffsets(const long long* offsets, long long count, const double* source, double* result)
{
    for (long long e = 0; e < count; ++e) {
        const long long from = offsets[e];
        result[e] = from >= 0 ? source[from] : 0.0;
    }
}

void warpElements(const SampleGeometry& g, long long e0, long long e1, const double* source, double* result)
{
    const long long rows = g.sx;
    walkSamples(g, e0, e1, [&](long long e, long long r, long long c) {
        result[e] = inside(g, r, c) ? source[r + rows * c] : 0.0;
    });
}

namespace {

// The source channel that result channel k of an image turned by dO reads.
inline int sourceChannel(const WarpState& s, int k, int dO)
{
    return s.channels == 1 ? 0 : wrapOrientation(s.N, static_cast<long long>(k) + dO);
}

// Elements e0..e1-1 of every map of group g.
void warpGroupRange(const WarpState& s, int g, long long e0, long long e1)
{
    const int first = s.groupStart[g];
    const int last = s.groupStart[g + 1];
    const WarpParams p = s.params[s.order[first]];
    const SampleGeometry geo = sampleGeometry(s.N, s.sx, s.sy, p);
    const long long n = s.n;
    if (last - first == 1 && s.channels == 1) {
        const int i = s.order[first];
        warpElements(geo, e0, e1, s.sI[i], s.rI[i]);
        return;
    }
    long long offsets[BLOCK];
    for (long long b = e0; b < e1; b += BLOCK) {
        const long long len = std::min(BLOCK, e1 - b);
        sampleOffsets(geo, b, b + len, offsets);
        for (int v = first; v < last; ++v) {
            const long long i = s.order[v];
            for (int k = 0; k < s.channels; ++k)
                applySampleOffsets(offsets, len, s.sI[i + n * sourceChannel(s, k, p.dO)], s.rI[i + n * k] + b);
        }
    }
}

// Results that share storage: every map whole, in the plain order of
// writes, so the last write to shared storage is the plain one.
void warpPlainOrder(const WarpState& s)
{
    const long long n = s.n;
    for (int i = 0; i < s.n; ++i) {
        const SampleGeometry geo = sampleGeometry(s.N, s.sx, s.sy, s.params[i]);
        for (int k = 0; k < s.channels; ++k)
            warpElements(geo, 0, s.count, s.sI[i + n * sourceChannel(s, k, s.params[i].dO)], s.rI[i + n * k]);
    }
}

}  // namespace

void warpAll(const WarpState& s)
{
    if (s.count == 0 || s.n == 0) return;
    if (s.plainOrder) {
        warpPlainOrder(s);
        return;
    }
    // Work: the positions of every group plus every element written.
    const double maps = static_cast<double>(s.n) * s.channels;
    const double work = (maps + s.groups) * static_cast<double>(s.count);
    const int threads = threadsFor(work, WARP_MIN_PER_THREAD);

    // Enough chunks for the threads to balance: whole groups when there are
    // many, pieces of each map's elements when there are few (one big map
    // still uses every thread). Pieces are disjoint ranges of the same
    // elements in every map, so no two chunks write the same storage.
    long long pieces = 1;
    if (threads > 1 && s.groups < 4LL * threads) {
        pieces = (4LL * threads + s.groups - 1) / s.groups;
        pieces = std::max(1LL, std::min(pieces, s.count / MIN_PIECE));
    }
    const long long pieceLength = (s.count + pieces - 1) / pieces;
    auto chunk = [&](long long c) {
        const int g = static_cast<int>(c / pieces);
        const long long e0 = (c % pieces) * pieceLength;
        const long long e1 = std::min(s.count, e0 + pieceLength);
        if (e0 < e1) warpGroupRange(s, g, e0, e1);
    };
    forEachChunk(static_cast<long long>(s.groups) * pieces, threads, chunk);
}
