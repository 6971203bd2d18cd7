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

bool anyOverlap(ByteRange* a, std::size_t na, const ByteRange* b, std::size_t nb)
{
    na = sortNonEmpty(a, na);
    // After this, a[k].end is the furthest end of a[0..k]: the ranges starting
    // before some point reach past it exactly when the last of them does.
    for (std::size_t k = 1; k < na; ++k) a[k].end = std::max(a[k].end, a[k - 1].end);
    for (std::size_t k = 0; k < nb; ++k) {
        if (isEmpty(b[k])) continue;
        const ByteRange* after =
            std::partition_point(a, a + na, [&](const ByteRange& r) { return r.begin < b[k].end; });
        if (after != a && (after - 1)->end > b[k].begin) return true;
    }
    return false;
}

bool anyOverlapWithin(ByteRange* a, std::size_t n)
{
    n = sortNonEmpty(a, n);
    std::uintptr_t reach = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0 && a[k].begin < reach) return true;
        reach = std::max(reach, a[k].end);
    }
    return false;
}
