#include "sigmoid.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "alloc.h"
#include "cpu.h"
#include "overlap.h"
#include "threads.h"

#if OTK_HAS_AVX2_PATHS
#include <immintrin.h>
#endif

// Measured with bench_Fenwold's ThresholdProbe (the same elements in 4
// chunks on 2 threads against 1 thread, real time, medians): under a load
// average near 8, 2 threads took 0.92 of the time at 4,096 elements and
// 0.75 to 0.86 from 8,192 on, so a helper was given 16,384. With helpers
// that stay awake between calls, on the idle 2-core machine: 0.67 at
// 4,096, 0.62 at 8,192, 0.61 at 16,384; with two busy loops beside it
// 0.91, 0.87 and 0.81. So a thread's share is 8,192 elements (some 35 us
// idle), and a call has 2 threads from 16,384 elements, in 4 chunks.
const double SATURATION_PER_THREAD = 8192;

namespace {

// Elements per chunk: large enough that claiming a chunk costs nothing
// measurable (some 40 us of work against one atomic operation), small
// enough that the last chunks even out the threads: with 16384 a call of
// 72^2 x 16 maps had five chunks and gained 1.6x from a second thread in a
// loop of calls, with 4096 about 1.9x.
constexpr long long SATURATION_CHUNK = 4096;

}  // namespace

int saturationThreads(double work)
{
    // Small calls do not even ask: finding the cores is a system call that
    // costs a tiny call a good part of its time.
    if (work < 2 * SATURATION_PER_THREAD) return 1;
    return threadsFor(work, SATURATION_PER_THREAD);
}

namespace {

void saturatePlain(const double* from, double* to, long long n, double s)
{
    for (long long p = 0; p < n; ++p) to[p] = saturate(from[p], s);
}

#if OTK_HAS_AVX2_PATHS
// saturate's steps for a block at a time where the processor has AVX2: its
// two divisions four lanes at a time, the standard exp one value at a time
// between them. The same operations on the same operands, so the same bits.
// The plain loop (the divisions overlapping neighbouring exp calls) took
// 1.15-1.26 times a bare exp loop over the same values (bench_Fenwold,
// one thread); blocked with scalar divisions it had only added loads and
// stores.
constexpr long long SATURATION_BLOCK = 64;

__attribute__((target("avx2"))) void saturateWide(const double* from, double* to, long long n, double s)
{
    const __m256d level = _mm256_set1_pd(s), minusTwo = _mm256_set1_pd(-2.0), two = _mm256_set1_pd(2.0),
                  one = _mm256_set1_pd(1.0);
    alignas(32) double x[SATURATION_BLOCK];
    for (long long p0 = 0; p0 < n; p0 += SATURATION_BLOCK) {
        const long long m = std::min(SATURATION_BLOCK, n - p0);
        long long j = 0;
        for (; j + 4 <= m; j += 4)
            _mm256_store_pd(x + j, _mm256_div_pd(_mm256_mul_pd(minusTwo, _mm256_loadu_pd(from + p0 + j)), level));
        for (; j < m; ++j) x[j] = (-2.0 * from[p0 + j]) / s;
        for (j = 0; j < m; ++j) x[j] = std::exp(x[j]);
        for (j = 0; j + 4 <= m; j += 4) {
            const __m256d e = _mm256_load_pd(x + j);
            _mm256_storeu_pd(to + p0 + j,
                             _mm256_mul_pd(level, _mm256_sub_pd(_mm256_div_pd(two, _mm256_add_pd(e, one)), one)));
        }
        for (; j < m; ++j) to[p0 + j] = s * (2.0 / (x[j] + 1.0) - 1.0);
    }
}
#endif

std::atomic<bool> wideSaturation{processorHasAvx2()};

// to may be from itself, or apart from it: a block is read whole before it
// is written.
void saturateSpan(const double* from, double* to, long long n, double s)
{
#if OTK_HAS_AVX2_PATHS
    if (wideSaturation.load(std::memory_order_relaxed)) return saturateWide(from, to, n, s);
#endif
    saturatePlain(from, to, n, s);
}

}  // namespace

bool useWideSaturation(bool wide)
{
    wideSaturation.store(wide && processorHasAvx2());
    return wideSaturation.load();
}

void saturateRun(double* v, long long n, double s)
{
    saturateSpan(v, v, n, s);
}

void saturateRunFrom(const double* from, double* to, long long n, double s)
{
    // Storage that overlaps in part keeps the plain order of reads and writes.
    const bool apart = from == to || from + n <= to || to + n <= from;
    if (apart)
        saturateSpan(from, to, n, s);
    else
        saturatePlain(from, to, n, s);
}

bool cellsShareStorage(const SaturationMaps& m)
{
    const long long cells = static_cast<long long>(m.nImages) * m.N;
    const long long count = mapElements(m.nRows, m.nCols);
    if (cells < 2 || count == 0) return false;
    ByteRange* ranges = static_cast<ByteRange*>(allocZeroed(static_cast<std::size_t>(cells), sizeof(ByteRange)));
    gridRanges(m.responseMaps, static_cast<std::size_t>(cells), count, ranges);
    return anyOverlapWithin(ranges, static_cast<std::size_t>(cells));
}

void sigmoidSaturate(const SaturationMaps& m)
{
    const long long cells = static_cast<long long>(m.nImages) * m.N;
    const long long count = mapElements(m.nRows, m.nCols);
    const long long total = cells * count;
    if (total == 0) return;
    int threads = saturationThreads(static_cast<double>(total));
    if (threads > 1 && cellsShareStorage(m)) threads = 1;
    // Chunk c is the range [c*SATURATION_CHUNK, ...) of all elements laid
    // end to end, map after map; on one thread they run in that order, the
    // plain order of writes (maps that share storage are saturated as
    // often as they are listed), and a long call can be stopped between
    // them (runChunks).
    auto chunk = [&](long long c) {
        long long first = c * SATURATION_CHUNK;
        const long long end = std::min(total, first + SATURATION_CHUNK);
        while (first < end) {
            const long long k = first / count;
            const long long p = first - k * count;
            const long long n = std::min(count - p, end - first);
            saturateMapRun(m, k, p, n);
            first += n;
        }
    };
    forEachChunk((total + SATURATION_CHUNK - 1) / SATURATION_CHUNK, threads, chunk);
}
