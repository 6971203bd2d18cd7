// Learning a template. The pooled values come from poolRect, a whole map of
// one orientation at a time with localMaximum's bits; each candidate's sum
// runs over the images in order, as the plain loop adds them. The picks need
// only each position's best orientation: a pick drops every orientation of
// the positions near it, so a position's candidates leave together, and the
// first of its largest is the one the array order would take first.
#include "learn.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "alloc.h"
#include "maps.h"
#include "poolmap.h"
#include "template.h"
#include "threads.h"

namespace {

// Work of a chunk, in samples (some 100 us), and below which a call keeps
// one thread (see scoremap.cpp).
constexpr double CHUNK_WORK = 1 << 17;
constexpr double PARALLEL_WORK = 1 << 15;

struct MeanPlan {
    PoolState* pool;
    double* sum;      // nRows x nCols x N
    double* pooled;   // per chunk, block x nRows doubles: its pooling of one map
    long long block;  // columns per chunk
    long long blocks;
    double* scratch;  // per chunk, scratchSize doubles for poolRect; or nullptr
    long long scratchSize;
};

// Chunk `chunk` (a block of columns, every orientation) of images
// first..first+count-1, in image order. One image's maps of the block are
// read by all its orientations while the caches hold them: taken
// orientation by orientation over the whole batch, the maps came from
// memory once per orientation (learning from 64 examples of 128^2 x 16
// was bound by it).
void meanChunk(const MeanPlan& p, int first, int count, long long chunk)
{
    const PoolState& s = *p.pool;
    const long long c0 = 1 + chunk * p.block;
    const long long c1 = std::min<long long>(s.nCols, c0 + p.block - 1);
    const long long nPix = mapElements(s.nRows, s.nCols);
    const long long n = (c1 - c0 + 1) * s.nRows;
    const PoolRect rect = {1, s.nRows, c0, c1};
    for (int i = first; i < first + count; ++i)
        for (int o = 0; o < s.N; ++o) {
            const long long at = o * nPix + (c0 - 1) * s.nRows;
            double* const v = p.pooled + chunk * p.block * s.nRows;
            poolRect(s, imageMaps(s, i), o, rect, v, s.nRows,
                     p.scratch ? p.scratch + chunk * p.scratchSize : nullptr, false);
            // Capped as it is added: one pass fewer.
            double* sum = p.sum + at;
            const double cap = s.saturation;
            for (long long k = 0; k < n; ++k) sum[k] = sum[k] + (v[k] > cap ? cap : v[k]);
        }
}

}  // namespace

void meanPooled(PoolState& pool, double* mean)
{
    const long long nPix = mapElements(pool.nRows, pool.nCols);
    const long long n = nPix * pool.N;
    for (long long k = 0; k < n; ++k) mean[k] = 0.0;
    if (pool.nImages == 0 || n == 0) return;
    buildShiftTables(pool, shiftCacheLimit(pool));
    MeanPlan p;
    p.pool = &pool;
    p.sum = mean;
    const double samples = (2.0 * pool.oriRange + 1 < pool.N ? 2.0 * pool.oriRange + 1 : pool.N) *
                           (2.0 * pool.shiftRange + 1 < 64 ? 2.0 * pool.shiftRange + 1 : 64);
    // Columns a chunk pools, then images, to fill CHUNK_WORK.
    const double perImageColumn = static_cast<double>(pool.N) * pool.nRows * (samples + 1);
    const double b = std::floor(CHUNK_WORK / perImageColumn);
    p.block = b >= pool.nCols ? pool.nCols : (b < 1 ? 1 : static_cast<long long>(b));
    p.blocks = (pool.nCols + p.block - 1) / p.block;
    // A map's worth for all the chunks together: a pooling is added as soon
    // as it is made. (One the size of the mean, fresh for every call and
    // faulted in 4 kB at a time, was some 40 % of a call at 511^2 x 16.)
    p.pooled = allocDoubles(static_cast<std::size_t>(p.blocks * p.block * pool.nRows));
    const int group = static_cast<int>(
        std::max(1.0, std::min<double>(pool.nImages, std::floor(CHUNK_WORK / (perImageColumn * p.block)))));
    // Scratch for the windows' maxima while it stays near the size of the
    // maps (pooling shifts of a few pixels; far-reaching ones pool without).
    p.scratchSize = poolScratch(pool, pool.nRows, p.block);
    p.scratch = nullptr;
    if (static_cast<double>(p.scratchSize) * p.blocks <= 2.0 * nPix + 65536)
        p.scratch = allocDoubles(static_cast<std::size_t>(p.scratchSize * p.blocks));
    const int threads = threadsFor(static_cast<double>(pool.nImages) * static_cast<double>(n) * (samples + 1), PARALLEL_WORK);
    // Groups of images one after the other, so that every candidate's sum
    // takes the images in order.
    for (int first = 0; first < pool.nImages; first += group) {
        const int count = std::min(group, pool.nImages - first);
        auto chunk = [&](long long c) { meanChunk(p, first, count, c); };
        forEachChunk(p.blocks, threads, chunk);
    }
    const double nImages = pool.nImages;
    for (long long k = 0; k < n; ++k) mean[k] = mean[k] / nImages;
}

long long pickCandidates(LearnState& s, const double* mean)
{
    const PoolState& pool = s.pool;
    const long long nRows = pool.nRows, nCols = pool.nCols;
    const long long nPix = mapElements(pool.nRows, pool.nCols);
    // Each position's best orientation (the first of equal ones); below 0
    // where the position takes no part or has left. Orientation by orientation,
    // each position seeing them in order: a position's N values lie a map
    // apart, and at 512^2 all of them in one set of each cache.
    constexpr int OUTSIDE = -2;
    int* bestOri = static_cast<int*>(allocZeroed(static_cast<std::size_t>(nPix), sizeof(int)));
    double* bestValue = allocDoubles(static_cast<std::size_t>(nPix));
    const double cr = nRows / 2, cc = nCols / 2;
    const double radius2 = s.radius * s.radius;
    for (long long c = 1; c <= nCols; ++c)
        for (long long r = 1; r <= nRows; ++r) {
            const double dr = static_cast<double>(r) - cr, dc = static_cast<double>(c) - cc;
            bestOri[(r - 1) + (c - 1) * nRows] = dr * dr + dc * dc <= radius2 ? -1 : OUTSIDE;
        }
    for (int o = 0; o < pool.N; ++o) {
        const double* values = mean + o * nPix;
        for (long long p = 0; p < nPix; ++p) {
            const double v = values[p];
            if (bestOri[p] == OUTSIDE || std::isnan(v)) continue;  // a NaN is never picked
            if (bestOri[p] < 0 || v > bestValue[p]) {
                bestOri[p] = o;
                bestValue[p] = v;
            }
        }
    }
    // The positions in the order the steps would take them: largest value
    // first, of equal ones the first in the array's order (a total order,
    // so any sort gives this sequence). Each step's pick is the first of
    // this order not dropped yet, since dropping is all that changes.
    long long* order = static_cast<long long*>(allocZeroed(static_cast<std::size_t>(nPix), sizeof(long long)));
    long long candidates = 0;
    for (long long p = 0; p < nPix; ++p)
        if (bestOri[p] >= 0) order[candidates++] = p;
    // Sorted only as far as the steps reach: a first part, then twice as
    // much again whenever they reach its end (a whole 512^2 sort was a third
    // of a one-example call).
    auto before = [&](long long a, long long b) {
        if (bestValue[a] != bestValue[b]) return bestValue[a] > bestValue[b];
        return a + nPix * bestOri[a] < b + nPix * bestOri[b];
    };
    long long sorted = std::min(candidates, std::max<long long>(256, 8 * s.K));
    std::partial_sort(order, order + sorted, order + candidates, before);
    const double separation2 = s.separation * s.separation;
    const long long span = s.separation >= static_cast<double>(nRows + nCols) ? nRows + nCols
                                                                               : static_cast<long long>(std::ceil(s.separation));
    long long picked = 0;
    for (long long k = 0; k < candidates && picked < s.K; ++k) {
        if (k == sorted) {
            const long long more = std::min(candidates, 2 * sorted);
            std::partial_sort(order + sorted, order + more, order + candidates, before);
            sorted = more;
        }
        const long long win = order[k];
        if (bestOri[win] < 0) continue;
        const long long r = win % nRows, c = win / nRows;
        s.rows[picked] = static_cast<double>(r + 1);
        s.cols[picked] = static_cast<double>(c + 1);
        s.oris[picked] = bestOri[win];
        s.means[picked] = bestValue[win];
        ++picked;
        bestOri[win] = -1;
        for (long long c2 = std::max<long long>(0, c - span); c2 <= std::min(nCols - 1, c + span); ++c2)
            for (long long r2 = std::max<long long>(0, r - span); r2 <= std::min(nRows - 1, r + span); ++r2) {
                const double dr = static_cast<double>(r2 - r), dc = static_cast<double>(c2 - c);
                if (dr * dr + dc * dc < separation2) bestOri[r2 + c2 * nRows] = -1;
            }
    }
    s.picked = picked;
    return picked;
}

void learnTemplate(LearnState& s)
{
    const long long n = mapElements(s.pool.nRows, s.pool.nCols) * s.pool.N;
    double* mean = allocDoubles(static_cast<std::size_t>(n));
    meanPooled(s.pool, mean);
    // A stopped call's means are partial and its template is discarded.
    if (chunksStopped()) {
        s.picked = 0;
        return;
    }
    pickCandidates(s, mean);
}
