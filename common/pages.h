// Asking the system for 2 MB pages. No host calls here.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

constexpr std::size_t LARGE_PAGE_BYTES = std::size_t(1) << 21;

// Where the system backs memory that asks with 2 MB pages (Linux's
// transparent huge pages), the whole 2 MB pages inside [start, start +
// bytes) ask: no other storage of the process is named. A hint only: where
// there is no such request, or it is refused, nothing changes. Arrays of
// tens of megabytes faulted in 4 kB at a time cost more, on a virtual
// machine, than much of the work done on them.
inline void adviseLargePages(void* start, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const std::uintptr_t p = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t first = (p + LARGE_PAGE_BYTES - 1) / LARGE_PAGE_BYTES * LARGE_PAGE_BYTES;
    const std::uintptr_t end = (p + bytes) / LARGE_PAGE_BYTES * LARGE_PAGE_BYTES;
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}
