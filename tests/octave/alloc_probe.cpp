// A test-only plug-in that hands its arguments to the allocation helpers in
// the real host, whose allocator and error machinery the stand-in cannot
// imitate. Never installed; the Octave tests load it from the test folder.
//
//   nonzero = alloc_probe(kind, count, size)
// kind 'zeroed' (count blocks of size bytes), 'doubles', 'ints' (count),
// 'table' (count rows of size ints) or 'require' (checks count x size
// bytes, allocates nothing). Returns the number of non-zero bytes found in
// what was allocated, which must be 0.
//   bytes = alloc_probe('heap')
// The bytes the process's C allocator has handed out and not taken back
// (small blocks and mapped ones), to the byte where RSS counts pages: for
// tests that bound what a loop of calls leaves behind. -1 where the
// allocator cannot tell (not glibc, or a sanitizer's allocator).
#include <cstring>

// Present when the address sanitizer's runtime is loaded, whose allocator
// glibc's counts do not see.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
#include <malloc.h>
#define PROBE_HAS_MALLINFO2 1
#endif

#include "alloc.h"
#include "host.h"

namespace {

double nonzeroBytes(const void* block, std::size_t bytes)
{
    const unsigned char* p = static_cast<const unsigned char*>(block);
    double count = 0;
    for (std::size_t k = 0; k < bytes; ++k) count += p[k] != 0;
    return count;
}

std::size_t sizeArg(const mxArray* a)
{
    return static_cast<std::size_t>(mxGetScalar(a));
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)nlhs;
    if (nrhs == 1 && mxIsChar(prhs[0])) {
        double bytes = -1;
#if defined(PROBE_HAS_MALLINFO2)
        const struct mallinfo2 info = mallinfo2();
        if (info.arena > 0 && __lsan_do_recoverable_leak_check == nullptr) bytes = static_cast<double>(info.uordblks) + static_cast<double>(info.hblkhd);
#endif
        plhs[0] = mxCreateDoubleScalar(bytes);
        return;
    }
    if (nrhs < 2 || !mxIsChar(prhs[0])) mexErrMsgIdAndTxt("alloc_probe:usage", "alloc_probe(kind, count, size)");
    char kind[16];
    mxGetString(prhs[0], kind, sizeof kind);
    const std::size_t count = sizeArg(prhs[1]);
    const std::size_t size = nrhs > 2 ? sizeArg(prhs[2]) : 1;
    double nonzero = 0;
    if (std::strcmp(kind, "zeroed") == 0) {
        nonzero = nonzeroBytes(allocZeroed(count, size), count * size);
    } else if (std::strcmp(kind, "doubles") == 0) {
        nonzero = nonzeroBytes(allocDoubles(count), count * sizeof(double));
    } else if (std::strcmp(kind, "ints") == 0) {
        nonzero = nonzeroBytes(allocInts(count), count * sizeof(int));
    } else if (std::strcmp(kind, "table") == 0) {
        int** table = allocIntTable(count, size);
        for (std::size_t i = 0; i < count; ++i) {
            nonzero += nonzeroBytes(table[i], size * sizeof(int));
            for (std::size_t j = 0; j < i; ++j) nonzero += size > 0 && table[i] == table[j];
        }
    } else if (std::strcmp(kind, "require") == 0) {
        requireAllocatable(count, size, "the probe's block");
    } else {
        mexErrMsgIdAndTxt("alloc_probe:usage", "unknown kind '%s'", kind);
    }
    plhs[0] = mxCreateDoubleScalar(nonzero);
}
