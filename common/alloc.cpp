#include "alloc.h"

#include <cstdint>
#include <cstdio>

#include "host.h"

void* allocZeroed(std::size_t count, std::size_t size)
{
    if (count == 0 || size == 0) return nullptr;
    void* block = nullptr;
    if (count <= SIZE_MAX / size) block = mxCalloc(count, size);
    if (block == nullptr) {
        char id[96];
        const char* fn = mexFunctionName();
        std::snprintf(id, sizeof id, "%s:outOfMemory", fn ? fn : "toolbox");
        mexErrMsgIdAndTxt(id, "cannot allocate %zu blocks of %zu bytes for this call", count, size);
    }
    return block;
}

double* allocDoubles(std::size_t n)
{
    return static_cast<double*>(allocZeroed(n, sizeof(double)));
}

int* allocInts(std::size_t n)
{
    return static_cast<int*>(allocZeroed(n, sizeof(int)));
}

int** allocIntTable(std::size_t n, std::size_t m)
{
    int** table = static_cast<int**>(allocZeroed(n, sizeof(int*)));
    for (std::size_t i = 0; i < n; ++i) table[i] = allocInts(m);
    return table;
}
