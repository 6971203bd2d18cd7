// What the processor offers beyond the baseline the kernels are compiled
// for. Their 4-lane paths are compiled for AVX2 (target("avx2")) and chosen
// at run time, so the default build still runs on any x86-64.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__)
#define OTK_HAS_AVX2_PATHS 1
#else
#define OTK_HAS_AVX2_PATHS 0
#endif

// Whether the processor and the OS run AVX2 code.
inline bool processorHasAvx2()
{
#if OTK_HAS_AVX2_PATHS
    __builtin_cpu_init();  // may run before the runtime's own detection
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

// Doubles in a cache line of 64 bytes: one request per this many rows of
// a column.
constexpr long long LINE_DOUBLES = 8;

// Asks the memory system to bring the line holding *p into the
// second-level cache, without waiting for it; changes nothing. Requests
// into the first-level cache (prefetcht0, what __builtin_prefetch gives)
// wait for the same few miss buffers as the loads; these do not, so many
// more are in flight: Wendlow's requests ahead on 128 images of 128^2 x 16
// took its time from 96 to 49-55 us an image, where the same requests into
// the first level left it at 96. g++ 12 deletes a loop whose only
// statements are __builtin_prefetch (or _mm_prefetch) as dead code, so on
// x86-64 the request is an instruction the compiler must keep; other
// targets get the builtin, other compilers nothing. p must point into an
// object: built with AddressSanitizer, the request reads a byte there, so
// that the tests see any request that does not (a read of a line another
// thread may be writing, as Halvery's requests for the next image's render
// lines can be: harmless, and only in those builds).
inline void requestLine(const void* p)
{
#if defined(__SANITIZE_ADDRESS__)
    (void)*static_cast<const volatile char*>(p);
#elif defined(__GNUC__) && defined(__x86_64__)
    asm volatile("prefetcht1 %0" : : "m"(*static_cast<const char*>(p)));
#elif defined(__GNUC__)
    __builtin_prefetch(p, 0, 2);
#else
    (void)p;
#endif
}
