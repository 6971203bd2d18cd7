#include "overlap.h"

#include <algorithm>

namespace {

bool isEmpty(const ByteRange& r)
{
    return r.end <= r.begin;
}

// Drops empty ranges, sorts the rest by start; returns how many are left.
std::size_t sortNonEmpty(ByteRange* a, std::size_t n)
{
    ByteRange* end = std::remove_if(a, a + n, isEmpty);
    std::sort(a, end, [](const ByteRange& x, const ByteRange& y) { return x.begin < y.begin; });
    return static_cast<std::size_t>(end - a);
}

}  // namespace

std::size_t prepareRanges(ByteRange* a, std::size_t n, bool* overlapWithin)
{
    n = sortNonEmpty(a, n);
    bool within = false;
    // After this, a[k].end is the furthest end of a[0..k]: the ranges starting
    // before some point reach past it exactly when the last of them does.
    for (std::size_t k = 1; k < n; ++k) {
        if (a[k].begin < a[k - 1].end) within = true;
        a[k].end = std::max(a[k].end, a[k - 1].end);
    }
    if (overlapWithin != nullptr) *overlapWithin = within;
    return n;
}

bool overlapsPrepared(const ByteRange* a, std::size_t n, const ByteRange& r)
{
    if (isEmpty(r)) return false;
    const ByteRange* after = std::partition_point(a, a + n, [&](const ByteRange& x) { return x.begin < r.end; });
    return after != a && (after - 1)->end > r.begin;
}

void gridRanges(const double* const* grid, std::size_t n, long long count, ByteRange* out)
{
    for (std::size_t k = 0; k < n; ++k) out[k] = doublesAt(grid[k], count);
}

ByteRange gridHull(const double* const* grid, std::size_t n, long long count)
{
    ByteRange hull = {UINTPTR_MAX, 0};
    for (std::size_t k = 0; k < n; ++k) {
        const ByteRange r = doublesAt(grid[k], count);
        if (isEmpty(r)) continue;
        hull.begin = std::min(hull.begin, r.begin);
        hull.end = std::max(hull.end, r.end);
    }
    return hull.begin < hull.end ? hull : ByteRange{0, 0};
}

bool anyOverlapWithin(ByteRange* a, std::size_t n)
{
    bool within = false;
    prepareRanges(a, n, &within);
    return within;
}
