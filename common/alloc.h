// Zero-filled allocations that live for one host call.
//
// They come from the host allocator, which releases them when the gateway
// returns, so nothing here is ever freed by us. Call them only from the
// gateway's thread, before any worker starts.
#pragma once

#include <cstddef>

void* allocZeroed(std::size_t count, std::size_t size);
double* allocDoubles(std::size_t n);
int* allocInts(std::size_t n);
int** allocIntTable(std::size_t n, std::size_t m);
