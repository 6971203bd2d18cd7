#include "poolmap.h"

#include <algorithm>
#include <cstring>

namespace {

long long rowOffset(const PoolState& s, int ori, long long i)
{
    long long dx, dy;
    shiftOffsets(s, ori, i, dx, dy);
    return dx;
}

long long colOffset(const PoolState& s, int ori, long long i)
{
    long long dx, dy;
    shiftOffsets(s, ori, i, dx, dy);
    return dy;
}

// Narrows first..last to the shifts whose offset (monotone in the shift)
// lies in lo..hi.
template <class Offset>
void clampShifts(long long& first, long long& last, long long lo, long long hi, Offset offset)
{
    if (first > last) return;
    const long long a = first, b = last;
    if (offset(a) <= offset(b)) {
        first = firstWhere(a, b, [&](long long i) { return offset(i) >= lo; });
        last = firstWhere(a, b, [&](long long i) { return offset(i) > hi; }) - 1;
    } else {
        first = firstWhere(a, b, [&](long long i) { return offset(i) <= hi; });
        last = firstWhere(a, b, [&](long long i) { return offset(i) < lo; }) - 1;
    }
}

// dst = max(dst, src) entry by entry, as `dst < src` takes src (a NaN
// never wins): two entries at a time, the same bits as one at a time.
void raiseRun(double* dst, const double* src, long long n)
{
    long long k = 0;
    for (; k + 2 <= n; k += 2) {
        Pair d, v;
        std::memcpy(&d, dst + k, sizeof d);
        std::memcpy(&v, src + k, sizeof v);
        const Pair r = v > d ? v : d;
        std::memcpy(dst + k, &r, sizeof r);
    }
    if (k < n) dst[k] = src[k] > dst[k] ? src[k] : dst[k];
}

// Raises every position of rect whose sample moved by (dx, dy) lies inside
// the map with that sample of each of the `turns` orientations from `first`
// on (wrapping).
void raiseByShift(const PoolState& s, ImageMaps m, int first, int turns, const PoolRect& rect, long long dx,
                  long long dy, double* out, std::ptrdiff_t ld)
{
    const long long xa = rect.x0 > 1 - dx ? rect.x0 : 1 - dx;
    const long long xb = rect.x1 < s.nRows - dx ? rect.x1 : s.nRows - dx;
    const long long ya = rect.y0 > 1 - dy ? rect.y0 : 1 - dy;
    const long long yb = rect.y1 < s.nCols - dy ? rect.y1 : s.nCols - dy;
    if (xa > xb || ya > yb) return;
    int o = first;
    for (int j = 0; j < turns; ++j) {
        const double* map = m.maps[o * m.stride];
        for (long long y = ya; y <= yb; ++y)
            raiseRun(out + (xa - rect.x0) + ld * (y - rect.y0), map + linearIndex(xa + dx, y + dy, s.nRows, s.nCols),
                     xb - xa + 1);
        if (++o == s.N) o = 0;
    }
}

// Raises every position of rect whose sample moved by (dx, dy) lies inside
// the map with the window's maximum Q there (Q covers q, which holds every
// sample the rect reaches inside the map).
void raiseFromWindow(const double* Q, const PoolRect& q, const PoolRect& rect, long long dx, long long dy, double* out,
                     std::ptrdiff_t ld)
{
    const long long xa = std::max(rect.x0, q.x0 - dx), xb = std::min(rect.x1, q.x1 - dx);
    const long long ya = std::max(rect.y0, q.y0 - dy), yb = std::min(rect.y1, q.y1 - dy);
    if (xa > xb || ya > yb) return;
    const long long rows = rectRows(q);
    for (long long y = ya; y <= yb; ++y)
        raiseRun(out + (xa - rect.x0) + ld * (y - rect.y0), Q + (xa + dx - q.x0) + rows * (y + dy - q.y0), xb - xa + 1);
}

}  // namespace

void shiftReach(const PoolState& s, int ori, long long& rows, long long& cols)
{
    const long long R = s.shiftRange;
    long long a = rowOffset(s, ori, -R), b = rowOffset(s, ori, R);
    rows = (a < 0 ? -a : a) > (b < 0 ? -b : b) ? (a < 0 ? -a : a) : (b < 0 ? -b : b);
    a = colOffset(s, ori, -R);
    b = colOffset(s, ori, R);
    cols = (a < 0 ? -a : a) > (b < 0 ? -b : b) ? (a < 0 ? -a : a) : (b < 0 ? -b : b);
}

namespace {

// The samples of map rows/columns q (inside the map) a rect reaches with
// shifts of up to reach rows and columns.
PoolRect reached(const PoolState& s, const PoolRect& rect, long long reachRows, long long reachCols)
{
    return {std::max<long long>(1, rect.x0 - reachRows), std::min<long long>(s.nRows, rect.x1 + reachRows),
            std::max<long long>(1, rect.y0 - reachCols), std::min<long long>(s.nCols, rect.y1 + reachCols)};
}

// Q = the maximum, from +0, of the window's `turns` orientations from
// `first` on, over the positions of q (inside the map): the orientations of
// a column taken together, a load each and one store, in slices of
// SLICE_TURNS.
constexpr int SLICE_TURNS = 8;

void windowMaximum(const PoolState& s, ImageMaps m, int first, int turns, const PoolRect& q, double* Q)
{
    const long long rows = rectRows(q);
    for (int done = 0; done < turns; done += SLICE_TURNS) {
        const int count = turns - done < SLICE_TURNS ? turns - done : SLICE_TURNS;
        const double* maps[SLICE_TURNS];
        int o = (first + done) % s.N;
        for (int j = 0; j < count; ++j) {
            maps[j] = m.maps[o * m.stride];
            if (++o == s.N) o = 0;
        }
        for (long long y = q.y0; y <= q.y1; ++y) {
            double* to = Q + rows * (y - q.y0);
            const std::ptrdiff_t at = linearIndex(q.x0, y, s.nRows, s.nCols);
            long long x = 0;
            for (; x + 2 <= rows; x += 2) {
                Pair best = {0.0, 0.0};
                if (done > 0) std::memcpy(&best, to + x, sizeof best);
                for (int j = 0; j < count; ++j) {
                    Pair v;
                    std::memcpy(&v, maps[j] + at + x, sizeof v);
                    best = v > best ? v : best;
                }
                std::memcpy(to + x, &best, sizeof best);
            }
            for (; x < rows; ++x) {
                double best = done > 0 ? to[x] : 0.0;
                for (int j = 0; j < count; ++j) {
                    const double v = maps[j][at + x];
                    best = v > best ? v : best;
                }
                to[x] = best;
            }
        }
    }
}

}  // namespace

long long poolScratch(const PoolState& s, long long rows, long long cols)
{
    // The samples a rect reaches lie inside the map and within the reach
    // of its rows and columns.
    long long reachRows = 0, reachCols = 0;
    for (int o = 0; o < s.N; ++o) {
        long long r, c;
        shiftReach(s, o, r, c);
        reachRows = std::max(reachRows, r);
        reachCols = std::max(reachCols, c);
    }
    return std::min<long long>(s.nRows, rows + 2 * reachRows) * std::min<long long>(s.nCols, cols + 2 * reachCols);
}

void poolRect(const PoolState& s, ImageMaps m, int ori, const PoolRect& rect, double* out, std::ptrdiff_t ld,
              double* scratch, bool capped)
{
    const long long rows = rectRows(rect), cols = rectCols(rect);
    if (rows == 0 || cols == 0) return;
    for (long long y = 0; y < cols; ++y)
        for (long long x = 0; x < rows; ++x) out[x + ld * y] = 0.0;

    // The orientations of the window, each once: a window of N or more
    // covers them all, and the maximum does not count repeats.
    int turns = 2 * s.oriRange + 1;
    int first = ori - s.oriRange;
    if (first < 0) first += s.N;
    if (turns >= s.N) {
        turns = s.N;
        first = 0;
    }
    // The shifts whose samples lie inside the map for some position of rect
    // form one run (the offsets are monotone); a shift with the offsets of
    // the one before reads the same samples and is passed over, so a long
    // run of equal offsets (a step of 0) costs one pass.
    const long long R = s.shiftRange;
    long long a = -R, b = R;
    clampShifts(a, b, 1 - rect.x1, s.nRows - rect.x0, [&](long long i) { return rowOffset(s, ori, i); });
    clampShifts(a, b, 1 - rect.y1, s.nCols - rect.y0, [&](long long i) { return colOffset(s, ori, i); });
    // Several orientations with scratch: their maximum first, then the
    // shifts read it as a single map.
    double* Q = nullptr;
    PoolRect q = {1, 0, 1, 0};
    if (scratch != nullptr && turns > 1 && a <= b) {
        long long reachRows, reachCols;
        shiftReach(s, ori, reachRows, reachCols);
        q = reached(s, rect, reachRows, reachCols);
        Q = scratch;
        windowMaximum(s, m, first, turns, q, Q);
    }
    for (long long i = a; i <= b;) {
        long long dx, dy;
        shiftOffsets(s, ori, i, dx, dy);
        if (Q != nullptr)
            raiseFromWindow(Q, q, rect, dx, dy, out, ld);
        else
            raiseByShift(s, m, first, turns, rect, dx, dy, out, ld);
        i = firstWhere(i + 1, b, [&](long long k) {
            long long ex, ey;
            shiftOffsets(s, ori, k, ex, ey);
            return ex != dx || ey != dy;
        });
    }
    if (!capped) return;
    const double cap = s.saturation;
    for (long long y = 0; y < cols; ++y)
        for (long long x = 0; x < rows; ++x) {
            double& v = out[x + ld * y];
            v = v > cap ? cap : v;
        }
}
