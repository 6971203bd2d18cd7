#include "warp.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "cpu.h"
#include "threads.h"
#include "transform.h"
#if OTK_HAS_AVX2_PATHS
#include <immintrin.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Work is counted in elements written plus elements whose position is
// computed (a single map: 2 per element). Measured with bench_Sabrel's
// threshold cases (one map on 1 and on 2 threads, medians of 5 runs, the
// 2-core machine under a load average of 5): a 128^2 map (work 32k) took
// 48 us on 2 threads against 89 us on one, 1.87x; a 64^2 map takes 14 us,
// too short to split (and it stays one piece). So a thread's share is at
// least 16k units, about 25 us of work: below 32k a call stays on the
// caller's thread.
const double WARP_MIN_PER_THREAD = 16384;

namespace {

// The elements a chunk writes at most where the maps allow (a column of one
// map is the least a chunk writes): some milliseconds.
constexpr long long STOPPABLE_ELEMENTS = 1 << 19;

// Offsets of one block of a shared table live on the worker's stack: small
// enough to stay in the first-level cache while every map of the group
// reads them.
constexpr long long BLOCK = 1024;

// Pieces hold at least this many elements over the maps of their group, so
// that a piece's setup (its cos and sin, shared by the group) stays
// negligible.
constexpr long long MIN_PIECE = 4096;

// Results larger than this (far beyond a second-level cache, near the size
// of a last-level one) are written with stores that bypass the caches.
constexpr double STREAM_BYTES = 8 << 20;

// Adding and then subtracting 1.5 * 2^52 rounds a double of magnitude below
// 2^51 to a whole number (to nearest) in plain double arithmetic, which
// vectorises where a conversion to a 64-bit integer does not.
constexpr double ROUNDER = 6755399441055744.0;
static_assert(FLT_EVAL_METHOD == 0, "the rounding needs double arithmetic in double precision");

// Rows of one column handled at a time: the positions live in small arrays
// on the stack, filled by one loop the compiler vectorises.
constexpr long long SEGMENT = 32;

// What one segment's positions start from: the first row's offset from the
// centre, the moved centres, the rotation, and the column's share.
struct SegmentStart {
    double du0, rowBase, colBase, cosT, sinT, dvSin, dvCos;
};

#if defined(__GNUC__)
#define WARP_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define WARP_ALWAYS_INLINE inline
#endif

// The closed-form positions of L consecutive rows, all of them (a fixed
// trip count is what lets the compiler vectorise at -O2), and how far each
// floor argument's fractional part lies from 0.5 (0.5 at an integer). Every
// row's arithmetic is its own: the bits do not depend on L.
template <int L>
WARP_ALWAYS_INLINE void segmentBody(const SegmentStart& start, double* __restrict rows, double* __restrict cols,
                                    double* __restrict offCentre)
{
    const SegmentStart s = start;  // locals: no store can change them
    for (int j = 0; j < L; ++j) {
        const double du = s.du0 + j;
        const double vr = s.rowBase + (du * s.cosT - s.dvSin);
        const double vc = s.colBase + (du * s.sinT + s.dvCos);
        // v - 0.5 is exact, and rounded to the nearest whole number it is
        // floor(v) unless v is whole; then it may be v - 1, the fractional
        // part comes out 1, and the element is recomputed.
        const double r = ((vr - 0.5) + ROUNDER) - ROUNDER;
        const double c = ((vc - 0.5) + ROUNDER) - ROUNDER;
        const double offRow = std::fabs((vr - r) - 0.5);
        const double offCol = std::fabs((vc - c) - 0.5);
        offCentre[j] = std::isgreater(offRow, offCol) ? offRow : offCol;
        rows[j] = r;
        cols[j] = c;
    }
}

template <int L>
void segmentPlain(const SegmentStart& s, double* rows, double* cols, double* offCentre)
{
    segmentBody<L>(s, rows, cols, offCentre);
}

// The same loop on 4 lanes where the processor has AVX2, chosen at run
// time, so the default build still runs on any x86-64. The operations are
// the same IEEE additions, multiplications and comparisons, never fused
// (-ffp-contract=off, and the avx2 target does not include FMA): the same
// bits on either path.
#if OTK_HAS_AVX2_PATHS
template <int L>
__attribute__((target("avx2"))) void segmentAvx2(const SegmentStart& s, double* rows, double* cols, double* offCentre)
{
    segmentBody<L>(s, rows, cols, offCentre);
}
#endif

const bool wideAvailable = processorHasAvx2();

bool wideChosen = wideAvailable;

template <int L>
inline void segmentOf(const SegmentStart& s, double* rows, double* cols, double* offCentre)
{
#if OTK_HAS_AVX2_PATHS
    if (wideChosen) return segmentAvx2<L>(s, rows, cols, offCentre);
#endif
    segmentPlain<L>(s, rows, cols, offCentre);
}

// The positions of at least length (1..SEGMENT) rows. A short piece (the
// last row of a 2^k + 1 map's columns, in tiles of SEGMENT rows) gets a
// short segment: a whole one for a single row made such sides cost 1.2 to
// 1.35 times a power of two per element.
inline void segmentPositions(const SegmentStart& s, int length, double* rows, double* cols, double* offCentre)
{
    if (length <= SEGMENT / 4) return segmentOf<SEGMENT / 4>(s, rows, cols, offCentre);
    if (length <= SEGMENT / 2) return segmentOf<SEGMENT / 2>(s, rows, cols, offCentre);
    segmentOf<SEGMENT>(s, rows, cols, offCentre);
}

// Calls use(x0', length, rows, cols) for consecutive segments of rows
// x0..x1-1 of column y: rows[j] and cols[j] are the sampled position of row
// x0' + j as whole doubles. A
// coordinate whose closed-form floor argument has a fractional part within
// margin of 0 or 1 is recomputed by geometricTransform, which then decides
// both coordinates. Returns the number recomputed.
//
// The larger of two distances is taken with a quiet comparison
// (std::isgreater): it raises no floating-point exception, so the compiler
// may evaluate both sides of the selection and vectorise the loop.
template <class Use>
long long walkColumn(const SampleGeometry& g, long long y, long long x0, long long x1, Use use)
{
    long long recomputed = 0;
    const double cosT = g.cosT, sinT = g.sinT, rowBase = g.rowBase, colBase = g.colBase;
    const double dv = static_cast<double>(y - g.cy);
    const double dvSin = dv * sinT;
    const double dvCos = dv * cosT;
    // Fractional parts within margin of 0 or 1 lie at least limit from 0.5.
    const double limit = 0.5 - g.margin;
    double rows[SEGMENT], cols[SEGMENT], offCentre[SEGMENT];
    for (long long s0 = x0; s0 < x1; s0 += SEGMENT) {
        const int length = static_cast<int>(std::min(SEGMENT, x1 - s0));
        const double du0 = static_cast<double>(s0 - g.cx);  // du0 + j is exact
        const SegmentStart start = {du0, rowBase, colBase, cosT, sinT, dvSin, dvCos};
        segmentPositions(start, length, rows, cols, offCentre);
        for (int j = 0; j < length; ++j) {
            if (offCentre[j] < limit) continue;
            long long xyo[3];
            geometricTransform(g.N, g.cx, g.cy, static_cast<int>(s0 + j), static_cast<int>(y), 0, g.p.dX, g.p.dY,
                               g.p.dO, xyo);
            rows[j] = static_cast<double>(xyo[0]);
            cols[j] = static_cast<double>(xyo[1]);
            ++recomputed;
        }
        use(s0, length, rows, cols);
    }
    return recomputed;
}

// The source offset of a position given as whole doubles (below 2^53, so
// converted exactly), or -1 outside the map.
inline long long sourceOffset(double r, double c, long long sx, long long sy)
{
    const long long row = static_cast<long long>(r), col = static_cast<long long>(c);
    // An unsigned comparison tests both bounds of a coordinate; no branch to
    // mispredict where a column crosses the map's edge.
    const bool in = (static_cast<unsigned long long>(row) < static_cast<unsigned long long>(sx)) &
                    (static_cast<unsigned long long>(col) < static_cast<unsigned long long>(sy));
    return in ? row + sx * col : -1;
}

// The closed form over consecutive rows, SEGMENT at a time, where the
// processor has AVX2: for up to `segments` segments from s.du0 on, works
// out the first `wanted` rows (and the rest of their step of four), writes
// their source offsets (sourceOffset's, -1 outside the map) or, with
// GATHER, their samples (+0 outside), and returns how many segments it
// wrote before the first whose floor arguments do not all lie clear of an
// integer (that one's elements need walkColumn's recomputation). The
// positions are segmentBody's, the same operations on the same operands,
// so the same bits: rounding to nearest (vroundpd) gives what adding and
// subtracting ROUNDER does for magnitudes below 2^51, and beyond that the
// margin is over 0.5 and every segment stops here. The offset of a
// position inside the map is a whole double below 2^52, taken as an
// integer from its bits once 2^52 is added (its low 52 bits are then the
// number). Positions converted one at a time, SEGMENT rows a call, had
// cost Sabrel two thirds of its time per pixel (bench/probes/warp_floor:
// 2.9-3.0 ns a pixel for the positions alone, against 1.9-2.2 for
// warpAffine's whole warp).
#if OTK_HAS_AVX2_PATHS
// What every step of closedFormAvx2 works with, in lanes.
struct ClosedFormLanes {
    __m256d rowBase, colBase, cosT, sinT, dvSin, dvCos, rows, cols, within;
};

// Rows and columns of the positions whose du are the lanes of du
// (segmentBody's operations), to be rounded: r = round(vr - 0.5).
struct Positions {
    __m256d vr, vc, r, c;
};

__attribute__((target("avx2"), always_inline)) inline Positions positionsAt(const ClosedFormLanes& l, __m256d du)
{
    const __m256d half = _mm256_set1_pd(0.5);
    Positions p;
    p.vr = _mm256_add_pd(l.rowBase, _mm256_sub_pd(_mm256_mul_pd(du, l.cosT), l.dvSin));
    p.vc = _mm256_add_pd(l.colBase, _mm256_add_pd(_mm256_mul_pd(du, l.sinT), l.dvCos));
    p.r = _mm256_round_pd(_mm256_sub_pd(p.vr, half), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    p.c = _mm256_round_pd(_mm256_sub_pd(p.vc, half), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    return p;
}

// All ones in the lanes whose position lies inside the map.
__attribute__((target("avx2"), always_inline)) inline __m256d insideMap(const ClosedFormLanes& l, const Positions& p)
{
    const __m256d zero = _mm256_setzero_pd();
    return _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(p.r, zero, _CMP_GE_OQ), _mm256_cmp_pd(p.r, l.rows, _CMP_LT_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(p.c, zero, _CMP_GE_OQ), _mm256_cmp_pd(p.c, l.cols, _CMP_LT_OQ)));
}

// Rows first..first+count-1 of one segment (count a multiple of 4, du the
// first's): their offsets or samples written for rows below `wanted`, and
// the lanes whose floor arguments lie near an integer returned. With
// INSIDE every position is known to lie inside the map, and no lane is
// tested or masked.
template <bool GATHER, bool INSIDE>
__attribute__((target("avx2"), always_inline)) inline __m256d segmentAvx2(const ClosedFormLanes& l, __m256d du,
                                                                          long long first, long long count,
                                                                          long long* offsets, const double* source,
                                                                          long long wanted, double* values)
{
    const __m256d half = _mm256_set1_pd(0.5), four = _mm256_set1_pd(4.0);
    const __m256d two52 = _mm256_set1_pd(4503599627370496.0), outside = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
    const __m256i lanes = _mm256_set_epi64x(3, 2, 1, 0);
    __m256d near = _mm256_setzero_pd();
    for (long long row = first; row < first + count; row += 4, du = _mm256_add_pd(du, four)) {
        const Positions p = positionsAt(l, du);
        const __m256d offRow = _mm256_and_pd(_mm256_sub_pd(_mm256_sub_pd(p.vr, p.r), half), magnitude);
        const __m256d offCol = _mm256_and_pd(_mm256_sub_pd(_mm256_sub_pd(p.vc, p.c), half), magnitude);
        near = _mm256_or_pd(near, _mm256_cmp_pd(_mm256_max_pd(offRow, offCol), l.within, _CMP_NLT_UQ));
        const __m256d at = _mm256_add_pd(_mm256_add_pd(p.r, _mm256_mul_pd(l.rows, p.c)), two52);
        const __m256i offset = _mm256_sub_epi64(_mm256_castpd_si256(at), _mm256_castpd_si256(two52));
        if (GATHER) {
            // Only the wanted rows are written; a lane outside the map
            // reads the first element and keeps +0. Four loads: a masked
            // vgatherqpd made Sabrel's warp 2.27-2.36 ns a pixel here, the
            // loads 2.05-2.15 (build/bench/warp_floor).
            alignas(32) long long at4[4];
            __m256d v;
            if (INSIDE) {
                _mm256_store_si256(reinterpret_cast<__m256i*>(at4), offset);
                v = _mm256_set_pd(source[at4[3]], source[at4[2]], source[at4[1]], source[at4[0]]);
            } else {
                const __m256d in = insideMap(l, p);
                _mm256_store_si256(reinterpret_cast<__m256i*>(at4), _mm256_and_si256(offset, _mm256_castpd_si256(in)));
                v = _mm256_and_pd(_mm256_set_pd(source[at4[3]], source[at4[2]], source[at4[1]], source[at4[0]]), in);
            }
            if (wanted - row >= 4)
                _mm256_storeu_pd(values + row, v);
            else
                _mm256_maskstore_pd(values + row, _mm256_cmpgt_epi64(_mm256_set1_epi64x(wanted - row), lanes), v);
        } else if (INSIDE) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(offsets + row), offset);
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(offsets + row),
                                _mm256_castpd_si256(_mm256_blendv_pd(outside, _mm256_castsi256_pd(offset), insideMap(l, p))));
        }
    }
    return near;
}

template <bool GATHER>
__attribute__((target("avx2"))) long long closedFormAvx2(const SegmentStart& s, long long segments, double sxd,
                                                         double syd, double limit, long long* offsets,
                                                         const double* source, long long wanted, double* values)
{
    const ClosedFormLanes l = {_mm256_set1_pd(s.rowBase), _mm256_set1_pd(s.colBase), _mm256_set1_pd(s.cosT),
                               _mm256_set1_pd(s.sinT),    _mm256_set1_pd(s.dvSin),   _mm256_set1_pd(s.dvCos),
                               _mm256_set1_pd(sxd),       _mm256_set1_pd(syd),       _mm256_set1_pd(limit)};
    for (long long k = 0; k < segments; ++k) {
        const long long first = k * SEGMENT;
        if (first >= wanted) return segments;
        // Rows past the wanted ones are not worked out (but for the rest of
        // a step of four): a map of 2^k + 1 rows would pay a whole segment
        // for its last row.
        const long long count = std::min(SEGMENT, (wanted - first + 3) / 4 * 4);
        // du0 + j for the lanes' j: whole numbers far below 2^53, so
        // stepping du by 4 gives exactly segmentBody's du0 + j.
        const __m256d du = _mm256_add_pd(_mm256_set1_pd(s.du0 + static_cast<double>(first)), _mm256_set_pd(3, 2, 1, 0));
        // Along a segment the rounded row and column move one way only
        // (each operation is monotone in du), so where its first and last
        // positions lie inside the map, all do. Asking costs about what
        // testing two steps does: pieces of a few rows (columns cut into
        // tiles from a line boundary begin and end with them) do not ask.
        const __m256d ends = _mm256_add_pd(_mm256_set1_pd(s.du0 + static_cast<double>(first)),
                                           _mm256_set_pd(static_cast<double>(count - 1), 0, static_cast<double>(count - 1), 0));
        const bool inside = count > 8 && _mm256_movemask_pd(insideMap(l, positionsAt(l, ends))) == 0xF;
        const __m256d near = inside ? segmentAvx2<GATHER, true>(l, du, first, count, offsets, source, wanted, values)
                                    : segmentAvx2<GATHER, false>(l, du, first, count, offsets, source, wanted, values);
        if (_mm256_movemask_pd(near) != 0) return k;
    }
    return segments;
}
#endif

// values[j] = source[o[j]], or 0 where o[j] < 0, for j < length.
inline void gatherPlain(const double* source, const long long* o, long long length, double* values)
{
    for (long long j = 0; j < length; ++j) {
        const long long from = o[j];
        const double v = source[from >= 0 ? from : 0];
        values[j] = from >= 0 ? v : 0.0;
    }
}

#if OTK_HAS_AVX2_PATHS
// Four at a time, as closedFormAvx2 reads its samples.
__attribute__((target("avx2"))) void gatherAvx2(const double* source, const long long* o, long long length,
                                                double* values)
{
    long long j = 0;
    const __m256i none = _mm256_set1_epi64x(-1);
    for (; j + 4 <= length; j += 4) {
        const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(o + j));
        const __m256i in = _mm256_cmpgt_epi64(at, none);
        alignas(32) long long at4[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(at4), _mm256_and_si256(at, in));
        const __m256d v = _mm256_set_pd(source[at4[3]], source[at4[2]], source[at4[1]], source[at4[0]]);
        _mm256_storeu_pd(values + j, _mm256_and_pd(v, _mm256_castsi256_pd(in)));
    }
    gatherPlain(source, o + j, length - j, values + j);
}
#endif

inline void gatherSamples(const double* source, const long long* o, long long length, double* values)
{
#if OTK_HAS_AVX2_PATHS
    if (wideChosen) return gatherAvx2(source, o, length, values);
#endif
    gatherPlain(source, o, length, values);
}

// Rows x0..x1-1 of column y through the closed form: fast(s0, start,
// segments) works out up to `segments` segments of SEGMENT rows from row s0
// (start: their SegmentStart) and returns how many of them lie clear of
// the integers (closedFormAvx2); slow(a, b) takes rows a..b-1 through
// walkColumn, which recomputes what needs it. A last segment of fewer rows
// is worked out whole and used in part: rows past x1 only add to what is
// computed, and may send the segment to walkColumn without need. (Columns
// in tiles of 32 rows from a line boundary begin and end with such pieces:
// through walkColumn they had been a sixth of a 256^2 warp.) Without AVX2,
// and where the map's offsets could pass 2^52 (never, for maps a host
// holds), every row goes to slow.
template <class Fast, class Slow>
void walkClosedForm(const SampleGeometry& g, long long y, long long x0, long long x1, Fast fast, Slow slow)
{
    long long s0 = x0;
#if OTK_HAS_AVX2_PATHS
    const double dv = static_cast<double>(y - g.cy);
    if (wideChosen && static_cast<double>(g.sx) * static_cast<double>(g.sy) < 4503599627370496.0)
        while (s0 < x1) {
            const long long segments = (std::min(x1 - s0, BLOCK) + SEGMENT - 1) / SEGMENT;
            const SegmentStart start = {static_cast<double>(s0 - g.cx), g.rowBase, g.colBase, g.cosT, g.sinT,
                                        dv * g.sinT, dv * g.cosT};
            const long long clear = std::min(fast(s0, start, segments) * SEGMENT, x1 - s0);
            s0 += clear;
            if (s0 < x1 && clear < segments * SEGMENT) {
                const long long end = std::min(s0 + SEGMENT, x1);
                slow(s0, end);
                s0 = end;
            }
        }
#else
    (void)fast;
#endif
    if (s0 < x1) slow(s0, x1);
}

// walkColumn's pieces of rows a..b-1 of column y as source offsets:
// use(x0', length, offsets), offsets[j] = sourceOffset of row x0' + j.
template <class Use>
void recomputedOffsets(const SampleGeometry& g, long long y, long long a, long long b, Use use)
{
    long long offsets[SEGMENT];
    walkColumn(g, y, a, b, [&](long long x, int length, const double* r, const double* c) {
        for (int j = 0; j < length; ++j) offsets[j] = sourceOffset(r[j], c[j], g.sx, g.sy);
        use(x, length, offsets);
    });
}

// Calls use(x0', length, offsets) for consecutive pieces of rows x0..x1-1
// of column y: offsets[j] is sourceOffset of row x0' + j's sampled
// position, as walkColumn finds it.
template <class Use>
void walkOffsets(const SampleGeometry& g, long long y, long long x0, long long x1, Use use)
{
    const long long sx = g.sx, sy = g.sy;
    long long offsets[BLOCK];
    auto fast = [&](long long s0, const SegmentStart& start, long long segments) {
#if OTK_HAS_AVX2_PATHS
        const long long clear = closedFormAvx2<false>(start, segments, static_cast<double>(sx), static_cast<double>(sy),
                                                      0.5 - g.margin, offsets, nullptr, x1 - s0, nullptr);
        const long long rows = std::min(clear * SEGMENT, x1 - s0);
        if (rows > 0) use(s0, static_cast<int>(rows), offsets);
        return clear;
#else
        (void)s0, (void)start;
        return segments;
#endif
    };
    walkClosedForm(g, y, x0, x1, fast, [&](long long a, long long b) { recomputedOffsets(g, y, a, b, use); });
}

// Writes length values to dst by stores that bypass the caches (for calls
// whose results are far larger than they are: a normal store first reads
// the line it writes, a third of a warp's memory traffic). Made visible by
// streamed(). Unstreamed segments are written straight into the result: a
// copy from a buffer became a library call per segment, a fifth of a warp.
#if defined(__SSE2__) && defined(__x86_64__)
// One double stored past the caches too (as its 64 bits): a plain store
// into a line that other stores are writing past the caches costs that
// line a trip to memory and back.
inline void streamOne(double* dst, double value)
{
    long long bits;
    std::memcpy(&bits, &value, sizeof bits);
    _mm_stream_si64(reinterpret_cast<long long*>(dst), bits);
}
#endif

// With `whole`, only the lines dst holds whole go past the caches, the
// parts of lines at either end are stored as usual: for segments whose
// ends lie on line boundaries but at the ends of a column, whose first and
// last lines the columns beside it share (see Tiling).
inline void streamSegment(double* dst, const double* values, long long length, bool whole)
{
#if defined(__SSE2__) && defined(__x86_64__)
    long long e = 0;
    if (whole) {
        const WholeLines lines = wholeLinesOf(dst, length);
        for (; e < lines.head; ++e) dst[e] = values[e];
        for (; e < lines.end; e += 2) _mm_stream_pd(dst + e, _mm_loadu_pd(values + e));
        for (; e < length; ++e) dst[e] = values[e];
        return;
    }
    if (length > 0 && (reinterpret_cast<std::uintptr_t>(dst) & 15) != 0) {
        streamOne(dst, values[0]);
        e = 1;
    }
    for (; e + 1 < length; e += 2) _mm_stream_pd(dst + e, _mm_loadu_pd(values + e));
    if (e < length) streamOne(dst + e, values[e]);
#else
    (void)whole;
    for (long long e = 0; e < length; ++e) dst[e] = values[e];
#endif
}

// streamSegment (not `whole`) from the last value to the first.
inline void streamSegmentBackwards(double* dst, const double* values, long long length)
{
#if defined(__SSE2__) && defined(__x86_64__)
    long long e = length;
    if (e > 0 && (reinterpret_cast<std::uintptr_t>(dst + e) & 15) != 0) {
        streamOne(dst + e - 1, values[e - 1]);
        --e;
    }
    for (; e > 1; e -= 2) _mm_stream_pd(dst + e - 2, _mm_loadu_pd(values + e - 2));
    if (e > 0) streamOne(dst, values[0]);
#else
    for (long long e = length; e > 0; --e) dst[e - 1] = values[e - 1];
#endif
}

// Orders the streamed stores of this thread before whatever follows (the
// end of a chunk, which another thread then relies on).
inline void streamed(bool stream)
{
#if defined(__SSE2__)
    if (stream) _mm_sfence();
#else
    (void)stream;
#endif
}

// Calls f(y, first, x0, x1) for the rows x0..x1-1 of each column y that
// elements e0..e1-1 (storage order) cover; first is the column's element 0.
template <class F>
void forEachColumnPiece(const SampleGeometry& g, long long e0, long long e1, F f)
{
    const long long rows = g.sx;
    for (long long y = e0 / rows; y * rows < e1; ++y) {
        const long long first = y * rows;
        f(y, first, std::max(e0 - first, 0LL), std::min(e1 - first, rows));
    }
}

// Elements e0..e1-1 in storage order, as use(e0', length, rows, cols).
template <class Use>
long long walkSamples(const SampleGeometry& g, long long e0, long long e1, Use use)
{
    long long recomputed = 0;
    forEachColumnPiece(g, e0, e1, [&](long long y, long long first, long long x0, long long x1) {
        recomputed += walkColumn(g, y, x0, x1, [&](long long x, int length, const double* r, const double* c) {
            use(first + x, length, r, c);
        });
    });
    return recomputed;
}

// Results are written tile by tile: BLOCK elements of a few neighbouring
// columns, whose offsets are worked out once for every map of a group. A
// rotation reads the source along slanted lines, and neighbouring result
// columns reuse the source lines the tile before brought in.
//
// A streamed result's column of up to BLOCK rows is one tile's height: the
// tiles then write the map in storage order, and every line shared between
// two columns is written whole, its two parts one after the other. Tiles
// of 32 rows had left parts of lines between the tiles above and below,
// each going to memory on its own: Mundle on a turned 257^2 image of 16
// channels took 1.70-1.80 ns a pixel, 1.17-1.20 with whole columns; 513^2
// 2.13-2.25, 1.54-1.74; 512^2 2.06, 1.79-1.82 (bench_sizes_Mundle, one
// thread). Results the caches hold keep square tiles, whose sources the
// first-level cache holds (127^2 to 256^2 cost some 10 % more in columns).
//
// Other tiles are TILE_ROWS rows, the last taking a shorter remainder with
// it (a last tile of one row had made 33^2 to 48^2 cost 1.3-1.5 times
// 32^2). Where a streamed result's taller columns all start at the same
// place in a line (sx a multiple of a line's doubles) the breaks lie on
// line boundaries, the first tile taking the lead rows before the first
// boundary, so that only a column's first and last lines are shared, and
// those are stored as usual (streamSegment's `whole`): the host puts a
// large array 16 bytes past a page, and results there had cost 1.35-1.5
// times those starting on a line.
constexpr long long TILE_ROWS = SEGMENT;

struct Tiling {
    long long sx;
    long long lead;  // rows before the first line boundary of every column
    bool aligned;    // every column starts at the same place in a line
    bool columns;    // a tile's height is the column's
};

inline Tiling tilingOf(long long sx, const double* result, bool stream)
{
    constexpr std::uintptr_t LINE = LINE_DOUBLES * sizeof(double);
    const std::uintptr_t p = reinterpret_cast<std::uintptr_t>(result);
    const bool columns = stream && sx <= BLOCK;
    if (columns || sx % LINE_DOUBLES != 0 || p % sizeof(double) != 0) return {sx, 0, false, columns};
    return {sx, static_cast<long long>((LINE - p % LINE) % LINE / sizeof(double)), true, columns};
}

inline long long tileEnd(const Tiling& t, long long tx)
{
    if (t.columns) return t.sx;
    const long long next = (tx == 0 ? t.lead : tx) + TILE_ROWS;
    return t.sx - next < TILE_ROWS ? t.sx : next;
}

inline long long tallestTile(const Tiling& t)
{
    if (t.columns) return t.sx;
    long long tallest = 0;
    for (long long tx = 0; tx < t.sx; tx = tileEnd(t, tx)) tallest = std::max(tallest, tileEnd(t, tx) - tx);
    return tallest;
}

// Zeros a shifted column's rows beyond the map are streamed from, a run at a time.
constexpr long long ZERO_RUN = 64;

// Offsets of a tile between two requests for the next map's lines.
constexpr long long AHEAD_STEP = 4;

inline long long tileColumns(const Tiling& t)
{
    return std::max(1LL, BLOCK / tallestTile(t));
}

}  // namespace

bool useWideSampling(bool wide)
{
    wideChosen = wide && wideAvailable;
    return wideChosen;
}

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
// The fractional part f = v - floor(v) and its distance |f - 0.5| from 0.5,
// which the test uses, are exact but for v in (-1, 0) or f below 1/4, where
// they are off by at most u.
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
    return walkSamples(g, e0, e1, [&](long long e, int length, const double* r, const double* c) {
        for (int j = 0; j < length; ++j) {
            rows[e - e0 + j] = static_cast<long long>(r[j]);
            cols[e - e0 + j] = static_cast<long long>(c[j]);
        }
    });
}

void sampleOffsets(const SampleGeometry& g, long long e0, long long e1, long long* offsets)
{
    forEachColumnPiece(g, e0, e1, [&](long long y, long long first, long long x0, long long x1) {
        walkOffsets(g, y, x0, x1, [&](long long x, int length, const long long* o) {
            std::copy(o, o + length, offsets + (first + x - e0));
        });
    });
}

void warpColumns(const SampleGeometry& g, long long y0, long long y1, const double* source, double* result,
                 bool stream)
{
    const Tiling t = tilingOf(g.sx, result, stream);
    const long long rows = g.sx, tc = tileColumns(t);
    const long long sx = g.sx, sy = g.sy;
    double buffer[BLOCK];
    for (long long ty = y0; ty < y1; ty += tc)
        for (long long tx = 0; tx < rows; tx = tileEnd(t, tx)) {
            const long long tx1 = tileEnd(t, tx);
            for (long long y = ty; y < std::min(ty + tc, y1); ++y) {
                double* column = result + rows * y;
                double* values = stream ? buffer : column + tx;
                auto fast = [&](long long s0, const SegmentStart& start, long long segments) {
#if OTK_HAS_AVX2_PATHS
                    return closedFormAvx2<true>(start, segments, static_cast<double>(sx), static_cast<double>(sy),
                                                0.5 - g.margin, nullptr, source, tx1 - s0, values + (s0 - tx));
#else
                    (void)s0, (void)start;
                    return segments;
#endif
                };
                walkClosedForm(g, y, tx, tx1, fast, [&](long long a, long long b) {
                    recomputedOffsets(g, y, a, b, [&](long long x, int length, const long long* o) {
                        gatherPlain(source, o, length, values + (x - tx));
                    });
                });
                if (stream) streamSegment(column + tx, buffer, tx1 - tx, t.aligned);
            }
        }
    streamed(stream);
}

namespace {

// Whether transform g samples every element at (x + dX, y + dY): no turn,
// and a margin that leaves the closed form in charge everywhere. The closed
// form's floor argument is then x + dX + 0.5 exactly, half a unit from any
// integer, so walkColumn would find the same positions one by one.
bool onlyShifts(const SampleGeometry& g)
{
    return g.p.dO == 0 && g.margin < 0.5;
}

// Whether a copy from `from` to `to` goes from its end backwards. A load
// whose address matches a waiting store's in its last 12 bits waits for
// that store: copying forwards, every load trails the stores just made by
// (to - from) mod 4096 bytes, and where that is short it waits on each.
// Backwards, the stores just made lie above the loads.
inline bool copiesBackwards(const double* to, const double* from)
{
    const std::uintptr_t ahead = (reinterpret_cast<std::uintptr_t>(to) - reinterpret_cast<std::uintptr_t>(from)) % 4096;
    return ahead != 0 && ahead < 2048;
}

// Columns y0..y1-1 of one result map moved by (dX, dY) from its source:
// each column a run of its source column, zeros beyond the map. What
// warpColumns gives for such a transform, as copies, with no positions.
// The map is written in storage order (or its reverse), so a streamed
// line shared by two columns goes out whole.
void shiftColumns(const SampleGeometry& g, long long y0, long long y1, const double* source, double* result,
                  bool stream)
{
    const long long sx = g.sx, sy = g.sy, dX = g.p.dX, dY = g.p.dY;
    // Rows x0..x1-1 read rows x0 + dX.. of the source column; the rest are 0.
    const long long x0 = std::min(sx, std::max(0LL, -dX)), x1 = std::max(x0, std::min(sx, sx - dX));
    const bool backwards = copiesBackwards(result, source + sx * dY + dX);
    double zeros[ZERO_RUN] = {};
    auto put = [&](double* to, const double* from, long long length) {
        if (from == nullptr) {
            for (long long done = 0; done < length;) {
                const long long part = std::min(length - done, ZERO_RUN);
                double* at = backwards ? to + length - done - part : to + done;
                if (stream && backwards) streamSegmentBackwards(at, zeros, part);
                else if (stream) streamSegment(at, zeros, part, false);
                else std::fill(at, at + part, 0.0);
                done += part;
            }
        } else if (stream && backwards) {
            streamSegmentBackwards(to, from, length);
        } else if (stream) {
            streamSegment(to, from, length, false);
        } else if (backwards) {
            for (long long e = length; e > 0; --e) to[e - 1] = from[e - 1];
        } else {
            std::memcpy(to, from, static_cast<std::size_t>(length) * sizeof(double));
        }
    };
    for (long long q = y0; q < y1; ++q) {
        const long long y = backwards ? y1 - 1 - (q - y0) : q;
        double* column = result + sx * y;
        const long long ys = y + dY;
        if (ys < 0 || ys >= sy) {
            put(column, nullptr, sx);
            continue;
        }
        // The column's parts in the order of the copy.
        const double* from = source + sx * ys + dX;
        put(backwards ? column + x1 : column, nullptr, backwards ? sx - x1 : x0);
        put(column + x0, from + x0, x1 - x0);
        put(backwards ? column : column + x1, nullptr, backwards ? x0 : sx - x1);
    }
    streamed(stream);
}

// The source channel that result channel k of an image turned by dO reads.
inline int sourceChannel(const WarpState& s, int k, int dO)
{
    return s.channels == 1 ? 0 : wrapOrientation(s.N, static_cast<long long>(k) + dO);
}

// Columns y0..y1-1 of every map of group g: tile by tile, the source
// offsets of the tile once, then every map of the group through them.
// While a map is read through a tile's offsets, the lines the next map of
// the group will read there are asked for (one request every AHEAD_STEP
// offsets: a turned column crosses a source line every few rows): with
// maps beyond the second-level cache each read waited on its own miss.
// Mundle on a 512^2 image of 16 channels, turned, one thread: 2.8-3.5 ns a
// pixel without, 2.1-2.2 with (3.2-3.5 with a request every offset);
// 127^2 to 257^2 within 5 % either way (build/bench/bench_sizes_Mundle).
void warpGroupColumns(const WarpState& s, int g, long long y0, long long y1, bool stream)
{
    const int first = s.groupStart[g];
    const int last = s.groupStart[g + 1];
    const WarpParams p = s.params[s.order[first]];
    const SampleGeometry geo = sampleGeometry(s.N, s.sx, s.sy, p);
    const long long n = s.n;
    if (onlyShifts(geo)) {
        for (int v = first; v < last; ++v)
            for (int k = 0; k < s.channels; ++k) {
                const long long i = s.order[v];
                shiftColumns(geo, y0, y1, s.sI[i + n * sourceChannel(s, k, 0)], s.rI[i + n * k], stream);
            }
        return;
    }
    if (last - first == 1 && s.channels == 1) {
        const int i = s.order[first];
        warpColumns(geo, y0, y1, s.sI[i], s.rI[i], stream);
        return;
    }
    const Tiling t = tilingOf(s.sx, s.rI[s.order[first]], stream);
    const long long rows = s.sx, tc = tileColumns(t);
    long long offsets[BLOCK];
    for (long long ty = y0; ty < y1; ty += tc) {
        const long long ty1 = std::min(ty + tc, y1);
        for (long long tx = 0; tx < rows; tx = tileEnd(t, tx)) {
            const long long tx1 = tileEnd(t, tx), height = tx1 - tx;
            for (long long y = ty; y < ty1; ++y) {
                long long* column = offsets + (y - ty) * height;
                walkOffsets(geo, y, tx, tx1, [&](long long x, int length, const long long* o) {
                    std::copy(o, o + length, column + (x - tx));
                });
            }
            for (int v = first; v < last; ++v) {
                const long long i = s.order[v];
                for (int k = 0; k < s.channels; ++k) {
                    const double* source = s.sI[i + n * sourceChannel(s, k, p.dO)];
                    double* result = s.rI[i + n * k];
                    const double* next = k + 1 < s.channels ? s.sI[i + n * sourceChannel(s, k + 1, p.dO)]
                                         : v + 1 < last     ? s.sI[s.order[v + 1] + n * sourceChannel(s, 0, p.dO)]
                                                            : nullptr;
                    for (long long y = ty; y < ty1; ++y) {
                        const long long* o = offsets + (y - ty) * height;
                        if (next != nullptr)
                            for (long long j = 0; j < height; j += AHEAD_STEP)
                                if (o[j] >= 0) requestLine(next + o[j]);
                        double buffer[BLOCK];
                        double* values = stream ? buffer : result + tx + rows * y;
                        gatherSamples(source, o, height, values);
                        if (stream) streamSegment(result + tx + rows * y, values, height, t.aligned);
                    }
                }
            }
        }
    }
    streamed(stream);
}

// Results that share storage: every map whole, in the plain order of
// writes, so the last write to shared storage is the plain one.
void warpPlainOrder(const WarpState& s)
{
    const long long n = s.n;
    for (int i = 0; i < s.n; ++i) {
        const SampleGeometry geo = sampleGeometry(s.N, s.sx, s.sy, s.params[i]);
        for (int k = 0; k < s.channels; ++k)
            warpColumns(geo, 0, s.sy, s.sI[i + n * sourceChannel(s, k, s.params[i].dO)], s.rI[i + n * k], false);
    }
}

}  // namespace

int warpGroupImages(int channels, long long count)
{
    const long long stack = std::max(1, channels) * std::max(1LL, count);
    return static_cast<int>(std::max(1LL, std::min<long long>(INT_MAX, STOPPABLE_ELEMENTS / stack)));
}

int warpThreads(const WarpState& s)
{
    if (s.count == 0 || s.n == 0 || s.plainOrder) return 1;
    // Work: the positions of every group plus every element written.
    const double maps = static_cast<double>(s.n) * s.channels;
    return threadsFor((maps + s.groups) * static_cast<double>(s.count), WARP_MIN_PER_THREAD);
}

void warpAllOn(const WarpState& s, int threads)
{
    if (s.count == 0 || s.n == 0) return;
    if (s.plainOrder) {
        warpPlainOrder(s);
        return;
    }
    // Enough chunks for the threads to balance: whole groups when there are
    // many, ranges of columns when there are few (one big map still uses
    // every thread), and then a count the threads divide where the columns
    // allow. Ranges are disjoint columns of the same maps, so no two chunks
    // write the same storage. A group holds every channel of at least one
    // image: 7 stacks of 16 channels of 64^2 made 7 chunks, 4 for one
    // thread and 3 for the other, and a loop of such calls gained 1.44-1.58x
    // from the second core; in 28 pieces of 16 columns, 1.74-1.78x.
    const long long columns = s.sy;
    long long pieces = 1;
    if (threads > 1 && s.groups < 8LL * threads) {
        const long long groupColumn = s.sx * std::max(1, s.channels);
        const long long minColumns = (MIN_PIECE + groupColumn - 1) / groupColumn;
        const long long most = std::max(1LL, columns / minColumns);
        pieces = std::min((8LL * threads + s.groups - 1) / s.groups, most);
        while (pieces < most && (s.groups * pieces) % threads != 0) ++pieces;
    }
    // And pieces of at most STOPPABLE_ELEMENTS where the columns allow, on
    // any thread count (see warpGroupImages).
    long long largest = 1;
    for (int g = 0; g < s.groups; ++g) largest = std::max<long long>(largest, s.groupStart[g + 1] - s.groupStart[g]);
    const double groupElements = static_cast<double>(largest) * std::max(1, s.channels) * static_cast<double>(s.count);
    if (groupElements > STOPPABLE_ELEMENTS)
        pieces = std::max(pieces, std::min(columns, static_cast<long long>(std::ceil(groupElements / STOPPABLE_ELEMENTS))));
    const long long pieceColumns = (columns + pieces - 1) / pieces;
    // Results of more than STREAM_BYTES go past the caches.
    const bool stream = static_cast<double>(s.n) * s.channels * static_cast<double>(s.count) * sizeof(double) >
                        STREAM_BYTES;
    auto chunk = [&](long long c) {
        const int g = static_cast<int>(c / pieces);
        const long long y0 = (c % pieces) * pieceColumns;
        const long long y1 = std::min(columns, y0 + pieceColumns);
        if (y0 < y1) warpGroupColumns(s, g, y0, y1, stream);
    };
    forEachChunk(static_cast<long long>(s.groups) * pieces, threads, chunk);
}

void warpAll(const WarpState& s)
{
    warpAllOn(s, warpThreads(s));
}
