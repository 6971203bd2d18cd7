#include "pooling.h"

#include <cmath>

#include "alloc.h"

int shiftOffset(int d, double c)
{
    return static_cast<int>(std::floor(d * c + 0.5));
}

void buildShiftTables(PoolState& s, long long maxCached)
{
    const std::size_t n = static_cast<std::size_t>(s.N);
    double* sinTheta = static_cast<double*>(allocZeroed(n, sizeof(double)));
    double* cosTheta = static_cast<double*>(allocZeroed(n, sizeof(double)));
    for (int k = 0; k < s.N; ++k) {
        const double theta = (PI * k) / s.N;
        sinTheta[k] = std::sin(theta);
        cosTheta[k] = std::cos(theta);
    }
    s.sinTheta = sinTheta;
    s.cosTheta = cosTheta;
    s.shiftX = s.shiftY = nullptr;
    s.shiftAt = nullptr;

    const long long width = 2LL * s.shiftRange + 1;
    if (width > maxCached / (s.N > 0 ? s.N : 1)) return;
    const std::size_t entries = n * static_cast<std::size_t>(width);
    int* shiftX = static_cast<int*>(allocZeroed(entries, sizeof(int)));
    int* shiftY = static_cast<int*>(allocZeroed(entries, sizeof(int)));
    std::ptrdiff_t* shiftAt = static_cast<std::ptrdiff_t*>(allocZeroed(entries, sizeof(std::ptrdiff_t)));
    std::size_t at = 0;
    for (int k = 0; k < s.N; ++k)
        for (long long i = -s.shiftRange; i <= s.shiftRange; ++i, ++at) {
            const int d = static_cast<int>(i) * s.shiftStep;
            shiftY[at] = shiftOffset(d, sinTheta[k]);
            shiftX[at] = shiftOffset(d, cosTheta[k]);
            shiftAt[at] = shiftX[at] + static_cast<std::ptrdiff_t>(s.nRows) * shiftY[at];
        }
    s.shiftX = shiftX;
    s.shiftY = shiftY;
    s.shiftAt = shiftAt;
}

void buildImageRuns(PoolState& s)
{
    const std::size_t n = static_cast<std::size_t>(s.N);
    const double** byImage =
        static_cast<const double**>(allocZeroed(static_cast<std::size_t>(s.nImages) * n, sizeof(double*)));
    for (int o = 0; o < s.N; ++o)
        for (int i = 0; i < s.nImages; ++i)
            byImage[static_cast<std::size_t>(i) * n + o] = s.responseMaps[i + static_cast<std::size_t>(s.nImages) * o];
    s.byImage = byImage;
}

namespace {

// The run of shifts i for which lo <= base + offset(i) <= hi, offset(i)
// being one coordinate's offset, monotone in i.
template <class Offset>
void clampRun(long long& first, long long& last, long long R, long long base, long long lo, long long hi, Offset offset)
{
    if (first > last) return;
    const long long atLow = base + offset(-R);
    const long long atHigh = base + offset(R);
    if (atLow >= lo && atLow <= hi && atHigh >= lo && atHigh <= hi) return;  // every shift inside
    long long a, b;
    if (atLow <= atHigh) {
        a = firstWhere(-R, R, [&](long long i) { return base + offset(i) >= lo; });
        b = firstWhere(-R, R, [&](long long i) { return base + offset(i) > hi; }) - 1;
    } else {
        a = firstWhere(-R, R, [&](long long i) { return base + offset(i) <= hi; });
        b = firstWhere(-R, R, [&](long long i) { return base + offset(i) < lo; }) - 1;
    }
    if (a > first) first = a;
    if (b < last) last = b;
}

}  // namespace

ShiftRun mapShiftsBisected(const PoolState& s, int ori, long long x, long long y)
{
    const long long R = s.shiftRange;
    long long first = -R, last = R;
    clampRun(first, last, R, x, 1, s.nRows, [&](long long i) {
        long long dx, dy;
        shiftOffsets(s, ori, i, dx, dy);
        return dx;
    });
    clampRun(first, last, R, y, 1, s.nCols, [&](long long i) {
        long long dx, dy;
        shiftOffsets(s, ori, i, dx, dy);
        return dy;
    });
    return {static_cast<int>(first), static_cast<int>(last), first == -R && last == R};
}

double poolRun(const PoolState& s, ImageMaps m, int ori, long long x, long long y, ShiftRun run, MaxRecord& record)
{
    int start = ori - s.oriRange;
    if (start < 0) start += s.N;
    double best = 0.0;
    MaxRecord win = {0, 0, 0, 0, 0};
    for (long long i = run.first; i <= run.last; ++i) {
        long long dx, dy;
        shiftOffsets(s, ori, i, dx, dy);
        const long long xs = x + dx;
        const long long ys = y + dy;
        const std::ptrdiff_t p = linearIndex(xs, ys, s.nRows, s.nCols);
        int o = start;
        for (long long j = -s.oriRange; j <= s.oriRange; ++j) {
            const double v = m.maps[o * m.stride][p];
            if (best < v) {
                best = v;
                win = {static_cast<int>(i), static_cast<int>(xs), static_cast<int>(ys), o, static_cast<int>(j)};
            }
            if (++o == s.N) o = 0;
        }
    }
    record = win;
    return best > s.saturation ? s.saturation : best;
}

double localMaximum(const PoolState& s, int image, int ori, long long x, long long y, MaxRecord& record)
{
    return poolRun(s, imageMaps(s, image), ori, x, y, mapShifts(s, ori, x, y), record);
}
