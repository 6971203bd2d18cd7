// Oriented local-maximum pooling: the shift offsets and localMaximum.
//
// The offset of shift i of orientation k is floor(d*sin(theta)+0.5) columns
// and floor(d*cos(theta)+0.5) rows, d = i*shiftStep, theta = PI*k/N. For a
// fixed orientation both are monotone in i (d is, and rounding a product and
// a sum preserves order), so the shifts of one element that land inside the
// map form one run of consecutive indexes, found by bisection. Pooling visits
// only that run: a shift outside the map reads nothing and can never win, so
// skipping it gives the same value and the same record.
#pragma once

#include <cstddef>
#include <type_traits>

#include "cpu.h"
#include "maps.h"

// The smallest i in lo..hi for which pred(i) holds, or hi + 1; pred must be
// false up to some index and true from there on. Trims runs of shifts to
// the part that lands inside a map.
template <class Pred>
long long firstWhere(long long lo, long long hi, Pred pred)
{
    long long end = hi + 1;
    while (lo < end) {
        const long long mid = lo + (end - lo) / 2;
        if (pred(mid))
            end = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// Two doubles, multiplied and compared lane by lane exactly as two
// scalars: the same bits as the scalar loop, two at a time.
typedef double Pair __attribute__((vector_size(16)));

// What pooling reads, filled by the gateway of Halvery or Wendlow.
struct PoolState {
    int nImages;
    int N;
    int nRows;
    int nCols;
    int shiftRange;
    int oriRange;
    int shiftStep;
    double saturation;
    MapGrid responseMaps;  // nImages x N; image i, orientation o at i + nImages*o
    // Filled by buildShiftTables. The tables are a cache of the offsets, held
    // only while they are small; otherwise (nullptr) offsets are computed from
    // sinTheta and cosTheta, with the same bits.
    const double* sinTheta;         // N
    const double* cosTheta;         // N
    const int* shiftX;              // row offset of orientation k, shift i at k*(2*shiftRange+1) + i+shiftRange
    const int* shiftY;              // column offsets, the same layout
    const std::ptrdiff_t* shiftAt;  // shiftX + nRows*shiftY, the same layout
    // Filled by buildImageRuns: the maps image by image (image i,
    // orientation o at i*N + o), read by Halvery in place of the grid
    // (imageMapsInRun): with 512 images the
    // grid's orientations of one image lie 4 kB apart, all in one cache set
    // with the pooled values' column (4 kB apart too), and scoring 512
    // images cost 1.15-1.2 times 500 or 520.
    const double* const* byImage;
};

// Arg-max of one pooling. Meaningful only when the pooled value is above 0.
struct MaxRecord {
    int shift;
    int x;
    int y;
    int ori;
    int oriShift;
};

// The shifts of one placement whose sample lies inside the map: first..last
// (empty when first > last); `whole` when that is every shift.
struct ShiftRun {
    int first;
    int last;
    bool whole;
};

// floor(d*c + 0.5) as an int: one offset (|c| <= 1, so it fits).
int shiftOffset(int d, double c);

// Fills sinTheta, cosTheta and, while they hold at most maxCached entries,
// the offset tables (host memory for this call); every pooling reads them. Callers guarantee
// shiftRange >= 0, that shiftRange*|shiftStep| fits an int, and N >= 1.
void buildShiftTables(PoolState& s, long long maxCached);

// Fills byImage (host memory for this call), for imageMapsInRun.
void buildImageRuns(PoolState& s);

// Row and column offset of shift i (-shiftRange..shiftRange) of orientation k.
inline void shiftOffsets(const PoolState& s, int k, long long i, long long& dx, long long& dy)
{
    if (s.shiftX != nullptr) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(k) * (2LL * s.shiftRange + 1) + i + s.shiftRange;
        dx = s.shiftX[at];
        dy = s.shiftY[at];
    } else {
        const int d = static_cast<int>(i) * s.shiftStep;
        dx = shiftOffset(d, s.cosTheta[k]);
        dy = shiftOffset(d, s.sinTheta[k]);
    }
}

// The shifts of orientation ori that take (x, y) inside the map, found by
// bisection (any placement).
ShiftRun mapShiftsBisected(const PoolState& s, int ori, long long x, long long y);

// The same; a placement whose first and last shift are inside has every
// shift inside (the offsets are monotone), which the cached tables tell at
// once.
inline ShiftRun mapShifts(const PoolState& s, int ori, long long x, long long y)
{
    if (s.shiftX != nullptr) {
        const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(ori) * (2LL * s.shiftRange + 1);
        const std::ptrdiff_t last = first + 2LL * s.shiftRange;
        const long long x0 = x + s.shiftX[first], x1 = x + s.shiftX[last];
        const long long y0 = y + s.shiftY[first], y1 = y + s.shiftY[last];
        if (x0 >= 1 && x0 <= s.nRows && x1 >= 1 && x1 <= s.nRows && y0 >= 1 && y0 <= s.nCols && y1 >= 1 &&
            y1 <= s.nCols)
            return {-s.shiftRange, s.shiftRange, true};
    }
    return mapShiftsBisected(s, ori, x, y);
}

// The maps of one image: map of orientation o at maps[o*stride].
struct ImageMaps {
    const double* const* maps;
    std::ptrdiff_t stride;
};

inline ImageMaps imageMaps(const PoolState& s, int image)
{
    return {s.responseMaps + image, s.nImages};
}

// The same maps from byImage: what Halvery pools from, and what the places
// of gatherPlaces count in. (The pooled maps of learning and the score map
// read each map as a whole; read through byImage they took 8-9 % longer,
// for no reason found.)
inline ImageMaps imageMapsInRun(const PoolState& s, int image)
{
    return {s.byImage + static_cast<std::ptrdiff_t>(image) * s.N, 1};
}

// Bytes of maps a last-level cache holds comfortably (32 MB here): a batch
// beyond this is read from memory at every call.
constexpr double MAPS_IN_CACHE = 16.0 * (1 << 20);

// Bytes of response maps a call reads from.
inline double mapBytes(const PoolState& s)
{
    return static_cast<double>(s.nImages) * s.N * static_cast<double>(mapElements(s.nRows, s.nCols)) *
           sizeof(double);
}

inline bool mapsBeyondCache(const PoolState& s)
{
    return mapBytes(s) > MAPS_IN_CACHE;
}

// Pools over the shifts of run (from mapShifts for the same ori, x, y) and
// the orientations ori-oriRange..ori+oriRange, wrapped once, in ascending
// shift, then orientation order; capped at saturation.
double poolRun(const PoolState& s, ImageMaps m, int ori, long long x, long long y, ShiftRun run, MaxRecord& record);

// Orientation windows up to this wide are pooled from a small table of map
// pointers; wider ones go through poolRun.
constexpr int INSIDE_TURNS = 9;

// Whether poolInside and poolInsideRecord may serve this call: offsets
// cached, window narrow (compared without forming 2*oriRange+1).
inline bool insideWindow(const PoolState& s)
{
    return s.shiftAt != nullptr && s.oriRange <= (INSIDE_TURNS - 1) / 2;
}

// The value of a pooling is the largest of +0 and every sample that is not
// a NaN: `best < v` never takes a NaN, and the only samples that compare
// equal with other bits are zeros, which never beat the starting +0. So the
// value does not depend on the order of the samples (only the record
// would), and poolInside keeps one running maximum per orientation offset,
// each in ascending shift order, taken together in ascending offset order:
// independent maxima instead of one long chain of dependent ones.
template <int TURNS>
double poolInsideWindow(const PoolState& s, const double* const* window, const std::ptrdiff_t* at, long long width,
                        bool capped = true)
{
    double best[TURNS];
#pragma GCC unroll 9
    for (int j = 0; j < TURNS; ++j) best[j] = 0.0;
    for (long long i = 0; i < width; ++i) {
        const std::ptrdiff_t q = at[i];
#pragma GCC unroll 9
        for (int j = 0; j < TURNS; ++j) {
            const double v = window[j][q];
            best[j] = v > best[j] ? v : best[j];  // best < v, as a maximum instruction
        }
    }
    double all = 0.0;
#pragma GCC unroll 9
    for (int j = 0; j < TURNS; ++j) all = best[j] > all ? best[j] : all;
    if (!capped) return all;
    return all > s.saturation ? s.saturation : all;
}

// The first sample of orientation offset j of an inside pooling at p.
inline void windowAt(const PoolState& s, ImageMaps m, int ori, std::ptrdiff_t p, const double** window)
{
    const int turns = 2 * s.oriRange + 1;
    int o = ori - s.oriRange;
    if (o < 0) o += s.N;
    for (int j = 0; j < turns; ++j) {
        window[j] = m.maps[o * m.stride] + p;
        if (++o == s.N) o = 0;
    }
}

// The value of poolRun for a placement whose every shift is inside the map,
// with p the linear index of (x, y); no record. Needs insideWindow(s).
inline double poolInside(const PoolState& s, ImageMaps m, int ori, std::ptrdiff_t p)
{
    const int turns = 2 * s.oriRange + 1;
    const double* window[INSIDE_TURNS];
    windowAt(s, m, ori, p, window);
    const long long width = 2LL * s.shiftRange + 1;
    const std::ptrdiff_t* at = s.shiftAt + static_cast<std::ptrdiff_t>(ori) * width;
    switch (turns) {
    case 1: return poolInsideWindow<1>(s, window, at, width);
    case 3: return poolInsideWindow<3>(s, window, at, width);
    case 5: return poolInsideWindow<5>(s, window, at, width);
    case 7: return poolInsideWindow<7>(s, window, at, width);
    default: return poolInsideWindow<9>(s, window, at, width);
    }
}

// The largest sample of poolInsideRecord and where it was first met, in
// shift, then orientation order (-1 when nothing beats +0). The largest
// value is found first, without branches; the winner of `best < v` is then
// the first sample equal to it (above 0 no other bits compare equal).
template <int TURNS>
double poolInsideWinner(const PoolState& s, const double* const* window, const std::ptrdiff_t* at, long long width,
                        long long& winI, int& winJ)
{
    const double best = poolInsideWindow<TURNS>(s, window, at, width, false);
    if (!(best > 0)) return best;
    for (long long i = 0; i < width; ++i) {
        const std::ptrdiff_t q = at[i];
        for (int j = 0; j < TURNS; ++j)
            if (window[j][q] == best) {
                winI = i;
                winJ = j;
                return best;
            }
    }
    return best;
}

// The value and record of an inside pooling of (ori, x, y) whose samples
// lie at window[j][at[i]] (orientation offset j, shift i).
inline double poolWindowRecord(const PoolState& s, const double* const* window, const std::ptrdiff_t* at, int ori,
                               long long x, long long y, MaxRecord& record)
{
    const int turns = 2 * s.oriRange + 1;
    const long long width = 2LL * s.shiftRange + 1;
    const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(ori) * width;
    long long winI = -1;
    int winJ = 0;
    double best;
    switch (turns) {
    case 1: best = poolInsideWinner<1>(s, window, at, width, winI, winJ); break;
    case 3: best = poolInsideWinner<3>(s, window, at, width, winI, winJ); break;
    case 5: best = poolInsideWinner<5>(s, window, at, width, winI, winJ); break;
    case 7: best = poolInsideWinner<7>(s, window, at, width, winI, winJ); break;
    default: best = poolInsideWinner<9>(s, window, at, width, winI, winJ); break;
    }
    if (winI >= 0) {
        int o = ori - s.oriRange + winJ;
        if (o < 0) o += s.N;
        if (o >= s.N) o -= s.N;
        record = {static_cast<int>(winI - s.shiftRange), static_cast<int>(x + s.shiftX[first + winI]),
                  static_cast<int>(y + s.shiftY[first + winI]), o, winJ - s.oriRange};
    } else {
        record = {0, 0, 0, 0, 0};
    }
    return best > s.saturation ? s.saturation : best;
}

// poolRun for a placement whose every shift is inside the map, with the
// record: the same samples in the same order, from precomputed offsets.
// Needs insideWindow(s).
inline double poolInsideRecord(const PoolState& s, ImageMaps m, int ori, long long x, long long y, MaxRecord& record)
{
    const double* window[INSIDE_TURNS];
    windowAt(s, m, ori, linearIndex(x, y, s.nRows, s.nCols), window);
    const std::ptrdiff_t* at = s.shiftAt + static_cast<std::ptrdiff_t>(ori) * (2LL * s.shiftRange + 1);
    return poolWindowRecord(s, window, at, ori, x, y, record);
}

// Samples a gathered inside pooling may hold: see gatherInside.
constexpr int GATHERED_SAMPLES = 32;

// Whether gatherInside serves this call: offsets cached, and every inside
// pooling's samples fit GATHERED_SAMPLES.
inline bool gathersInside(const PoolState& s)
{
    return insideWindow(s) && (2LL * s.oriRange + 1) * (2LL * s.shiftRange + 1) <= GATHERED_SAMPLES;
}

// Copies the samples of the inside pooling (ori, x, y) into samples, those
// of orientation offset j at samples[j * width + i] for shift i: loads and
// stores only. A run of these over many poolings keeps many loads in
// flight, where pooling straight from the maps waits on each pooling's
// misses in turn (its winner is found by branches on the samples). The
// pooling then reads the copy (poolGatheredRecord): the same values in the
// same order, so the same result. Needs gathersInside(s).
inline void gatherInside(const PoolState& s, ImageMaps m, int ori, long long x, long long y, double* samples)
{
    const double* window[INSIDE_TURNS];
    windowAt(s, m, ori, linearIndex(x, y, s.nRows, s.nCols), window);
    const int turns = 2 * s.oriRange + 1;
    const long long width = 2LL * s.shiftRange + 1;
    const std::ptrdiff_t* at = s.shiftAt + static_cast<std::ptrdiff_t>(ori) * width;
    for (int j = 0; j < turns; ++j)
        for (long long i = 0; i < width; ++i) samples[j * width + i] = window[j][at[i]];
}

// Where the samples of one inside pooling lie in the maps of any image:
// the grid places of its orientations' maps counted from the image's first
// (orientation o at o in the run imageMapsInRun gives), and the offsets of its shifts within a
// map. Worked out once a call, they leave the copy of each image's samples
// nothing but its loads and stores (gatherPlaced).
struct GatherPlace {
    std::ptrdiff_t map[3];
    std::ptrdiff_t at[5];
};

// Asks for the line of every sample a pooling from place g reads on the
// image of m (requestLine): its misses in flight before it is copied.
inline void requestPlaced(const PoolState& s, ImageMaps m, const GatherPlace& g)
{
    for (int j = 0; j <= 2 * s.oriRange; ++j) {
        const double* map = m.maps[g.map[j]];
        for (int i = 0; i <= 2 * s.shiftRange; ++i) requestLine(map + g.at[i]);
    }
}

// Whether the call's windows have a size the loops unrolled when compiling
// serve: 1 or 3 orientations, 3 or 5 shifts.
inline bool fixedWindow(const PoolState& s)
{
    return (s.oriRange == 0 || s.oriRange == 1) && (s.shiftRange == 1 || s.shiftRange == 2);
}

// Whether gatherPlaces and gatherPlaced serve the call.
inline bool gathersPlaced(const PoolState& s)
{
    return gathersInside(s) && fixedWindow(s);
}

// Calls f(turns, width) with the sizes of the call's window as
// std::integral_constant. Needs fixedWindow(s).
template <class F>
void withFixedWindow(const PoolState& s, F f)
{
    using std::integral_constant;
    const bool three = s.oriRange == 1;
    if (s.shiftRange == 1) {
        if (three)
            f(integral_constant<int, 3>(), integral_constant<int, 3>());
        else
            f(integral_constant<int, 1>(), integral_constant<int, 3>());
    } else {
        if (three)
            f(integral_constant<int, 3>(), integral_constant<int, 5>());
        else
            f(integral_constant<int, 1>(), integral_constant<int, 5>());
    }
}

template <int TURNS, int WIDTH>
GatherPlace gatherPlaceFixed(const PoolState& s, int ori, long long x, long long y)
{
    GatherPlace g = {};
    int o = ori - (TURNS - 1) / 2;
    if (o < 0) o += s.N;
#pragma GCC unroll 3
    for (int j = 0; j < TURNS; ++j) {
        g.map[j] = o;
        if (++o == s.N) o = 0;
    }
    const std::ptrdiff_t p = linearIndex(x, y, s.nRows, s.nCols);
    const std::ptrdiff_t* at = s.shiftAt + static_cast<std::ptrdiff_t>(ori) * WIDTH;
#pragma GCC unroll 5
    for (int i = 0; i < WIDTH; ++i) g.at[i] = p + at[i];
    return g;
}

template <int TURNS, int WIDTH, class Element>
void gatherPlacesFixed(const PoolState& s, const Element* elements, const ShiftRun* runs, long long count,
                       GatherPlace* places)
{
    for (long long k = 0; k < count; ++k)
        if (runs[k].whole) places[k] = gatherPlaceFixed<TURNS, WIDTH>(s, elements[k].ori, elements[k].x, elements[k].y);
}

// The places of `count` poolings (elements[k].ori, .x, .y) whose samples
// lie inside the maps (runs[k].whole); the others are left as they are.
// The sizes of the window known when compiling: a call of 600 elements
// spent 7 us working them out one by one with loops over the window's
// sizes, against 1.8. Needs gathersPlaced(s).
template <class Element>
void gatherPlaces(const PoolState& s, const Element* elements, const ShiftRun* runs, long long count,
                  GatherPlace* places)
{
    withFixedWindow(s, [&](auto turns, auto width) {
        gatherPlacesFixed<decltype(turns)::value, decltype(width)::value>(s, elements, runs, count, places);
    });
}

template <int TURNS, int WIDTH>
void gatherPlacedFixed(ImageMaps m, const GatherPlace* places, const ShiftRun* runs, long long count, double* samples)
{
    for (long long k = 0; k < count; ++k) {
        if (!runs[k].whole) continue;
        const GatherPlace& g = places[k];
        double* out = samples + k * GATHERED_SAMPLES;
#pragma GCC unroll 9
        for (int j = 0; j < TURNS; ++j) {
            const double* map = m.maps[g.map[j]];
#pragma GCC unroll 9
            for (int i = 0; i < WIDTH; ++i) out[j * WIDTH + i] = map[g.at[i]];
        }
    }
}

// What gatherInside copies for each of `count` poolings whose samples lie
// inside the maps (runs[k].whole), from their places, into samples +
// k * GATHERED_SAMPLES: a load and a store per sample and little else, so
// that more poolings' loads fit the processor's window of waiting work and
// are in flight at once (a Halvery call of 32 images of 60 elements, 3 x 3
// samples each, took 15 % less time than with the loop of gatherInside for
// each pooling; of 16 images of 100, 3 x 5 samples, 7-10 %). Needs
// gathersPlaced(s).
inline void gatherPlaced(const PoolState& s, ImageMaps m, const GatherPlace* places, const ShiftRun* runs,
                         long long count, double* samples)
{
    withFixedWindow(s, [&](auto turns, auto width) {
        gatherPlacedFixed<decltype(turns)::value, decltype(width)::value>(m, places, runs, count, samples);
    });
}

// poolWindowRecord of gathered samples with TURNS orientation offsets and
// WIDTH shifts known when compiling: the loops unrolled over samples at
// fixed places, where the general one takes each place from a table (a
// Halvery call of 32 images of 60 elements took a tenth less time).
template <int TURNS, int WIDTH>
double poolGatheredFixed(const PoolState& s, const double* samples, int ori, long long x, long long y,
                         MaxRecord& record)
{
    double best[TURNS];
#pragma GCC unroll 9
    for (int j = 0; j < TURNS; ++j) best[j] = 0.0;
#pragma GCC unroll 9
    for (int i = 0; i < WIDTH; ++i)
#pragma GCC unroll 9
        for (int j = 0; j < TURNS; ++j) {
            const double v = samples[j * WIDTH + i];
            best[j] = v > best[j] ? v : best[j];  // best < v, as a maximum instruction
        }
    double all = 0.0;
#pragma GCC unroll 9
    for (int j = 0; j < TURNS; ++j) all = best[j] > all ? best[j] : all;
    // The winner is the first sample equal to the largest, in shift, then
    // orientation order (as poolInsideWinner).
    int winI = -1;
    int winJ = 0;
    if (all > 0)
        for (int i = 0; i < WIDTH && winI < 0; ++i)
            for (int j = 0; j < TURNS; ++j)
                if (samples[j * WIDTH + i] == all) {
                    winI = i;
                    winJ = j;
                    break;
                }
    if (winI >= 0) {
        const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(ori) * WIDTH;
        int o = ori - (TURNS - 1) / 2 + winJ;
        if (o < 0) o += s.N;
        if (o >= s.N) o -= s.N;
        record = {winI - (WIDTH - 1) / 2, static_cast<int>(x + s.shiftX[first + winI]),
                  static_cast<int>(y + s.shiftY[first + winI]), o, winJ - (TURNS - 1) / 2};
    } else {
        record = {0, 0, 0, 0, 0};
    }
    return all > s.saturation ? s.saturation : all;
}

// poolInsideRecord of the samples gatherInside copied; `along` holds
// 0, 1, ..., 2*shiftRange.
inline double poolGatheredRecord(const PoolState& s, const double* samples, const std::ptrdiff_t* along, int ori,
                                 long long x, long long y, MaxRecord& record)
{
    const int turns = 2 * s.oriRange + 1;
    const long long width = 2LL * s.shiftRange + 1;
    if (turns == 3 && width == 3) return poolGatheredFixed<3, 3>(s, samples, ori, x, y, record);
    if (turns == 3 && width == 5) return poolGatheredFixed<3, 5>(s, samples, ori, x, y, record);
    if (turns == 1 && width == 3) return poolGatheredFixed<1, 3>(s, samples, ori, x, y, record);
    if (turns == 1 && width == 5) return poolGatheredFixed<1, 5>(s, samples, ori, x, y, record);
    const double* window[INSIDE_TURNS];
    for (int j = 0; j < turns; ++j) window[j] = samples + j * width;
    return poolWindowRecord(s, window, along, ori, x, y, record);
}

// Asks the memory system for the samples that pooling (ori, x, y) over run
// (from mapShifts) will read, without waiting for them. Pooling a big batch
// takes one cache and page-table miss after another; issued a few poolings
// ahead, these requests keep many misses in flight. A hint only: it reads
// no value and changes no result. Needs the cached offsets; windows of more
// than PREFETCH_SAMPLES samples are left to the loads themselves.
constexpr long long PREFETCH_SAMPLES = 81;

inline void prefetchPooling(const PoolState& s, ImageMaps m, int ori, long long x, long long y, ShiftRun run)
{
    const long long turns = 2LL * s.oriRange + 1;
    if (s.shiftAt == nullptr || run.first > run.last || run.last - run.first + 1 > PREFETCH_SAMPLES / turns) return;
    const std::ptrdiff_t p = linearIndex(x, y, s.nRows, s.nCols);
    const std::ptrdiff_t* at = s.shiftAt + static_cast<std::ptrdiff_t>(ori) * (2LL * s.shiftRange + 1) + s.shiftRange;
    int o = ori - s.oriRange;
    if (o < 0) o += s.N;
    for (long long j = 0; j < turns; ++j) {
        const double* map = m.maps[o * m.stride] + p;
        for (long long i = run.first; i <= run.last; ++i) requestLine(map + at[i]);
        if (++o == s.N) o = 0;
    }
}

// The largest response around (x, y) over the shifts along orientation ori and
// the orientations ori-oriRange..ori+oriRange (wrapped once), capped at
// saturation. Positions are 64-bit so that any element or transformed
// position, however far outside the map, is simply skipped.
double localMaximum(const PoolState& s, int image, int ori, long long x, long long y, MaxRecord& record);
