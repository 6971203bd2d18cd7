// Whether arrays share storage. Kernels that may reorder their writes (to
// split work over threads, or to write in storage order) ask this first and
// keep the plain order when any result shares bytes with another result or
// with an input that is read after a write.
#pragma once

#include <cstddef>
#include <cstdint>

// The bytes [begin, end) of one array; an empty range overlaps nothing.
struct ByteRange {
    std::uintptr_t begin;
    std::uintptr_t end;
};

inline ByteRange doublesAt(const double* data, long long count)
{
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data);
    return {begin, begin + static_cast<std::uintptr_t>(count > 0 ? count : 0) * sizeof(double)};
}

// Whether any two ranges of a[0..n-1] overlap each other. Reorders a.
bool anyOverlapWithin(ByteRange* a, std::size_t n);

// For many questions against one set: prepareRanges drops the empty ranges
// of a, sorts the rest by start and turns each end into the furthest end so
// far; it returns how many are kept and tells through overlapWithin (when
// given) whether any two of them overlap. overlapsPrepared then asks, in
// O(log n), whether range r overlaps any of them.
std::size_t prepareRanges(ByteRange* a, std::size_t n, bool* overlapWithin);
bool overlapsPrepared(const ByteRange* a, std::size_t n, const ByteRange& r);

// The bytes of count doubles from each of the n data pointers of a grid.
void gridRanges(const double* const* grid, std::size_t n, long long count, ByteRange* out);

// The bytes from the lowest start to the highest end of those ranges: where
// it overlaps nothing, none of them does. A grid that is one host array is
// its array; a cell grid's hull spans the cells and whatever lies between.
ByteRange gridHull(const double* const* grid, std::size_t n, long long count);
