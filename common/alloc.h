// Zero-filled allocations that live for one host call.
//
// They come from the host allocator, which releases them when the gateway
// returns, so nothing here is ever freed by us. Call them only from the
// gateway's thread, before any worker starts.
//
// A block beyond what the process could ever hold raises
// "<Function>:outOfMemory" before the host is asked for it: the host's own
// failure report carries no identifier. Gateways that size a block from the
// caller's arguments call requireAllocatable before their first write, so a
// call that is refused writes nothing.
//
// The kernels see only this header; the argument module implements it over
// the host (args/host_memory.cpp), and the host-free tests over a stand-in.
#pragma once

#include <cstddef>

// The largest single block, in bytes, that this process is allowed to ask
// for (see alloc.cpp for how it is chosen).
std::size_t allocationBudget();

// Raises "<Function>:outOfMemory" naming what (e.g. "the shift tables")
// unless count elements of size bytes fit the budget. Counts of 0 always fit.
void requireAllocatable(std::size_t count, std::size_t size, const char* what);

// Raises "<Function>:outOfMemory" with the message (printf-style). For
// kernels that take plain memory of their own: release it first.
[[noreturn]] void outOfMemoryError(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

void* allocZeroed(std::size_t count, std::size_t size);
double* allocDoubles(std::size_t n);
int* allocInts(std::size_t n);
int** allocIntTable(std::size_t n, std::size_t m);
