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

// The 64-byte lines o[0..n-1] holds whole: o[head..end-1]. Stores that
// bypass the caches go only to whole lines: a part of a line streamed goes
// to memory on its own, as a partial write.
struct WholeLines {
    long long head, end;
};

inline WholeLines wholeLinesOf(const double* o, long long n)
{
    constexpr unsigned long long LINE = LINE_DOUBLES * sizeof(double);
    const unsigned long long p = reinterpret_cast<unsigned long long>(o);
    const long long rest = static_cast<long long>((LINE - p % LINE) % LINE / sizeof(double));
    const long long head = rest < n ? rest : n;
    return {head, head + (n - head) / LINE_DOUBLES * LINE_DOUBLES};
}

// Asks the memory system to bring the line holding *p close to the core,
// without waiting for it; changes nothing. The request is prefetchnta.
// Requests into the second level (prefetcht1) came to nothing whenever the
// maps of a batch lie a power of two apart (maps of 128^2 and 256^2 in one
// array, or cells allocated one after another), most likely because the
// lines of one place in every map then share a set of that physically
// indexed cache and a requested line is gone before it is read. Wendlow
// called again and again on 32 images of 128^2 x 16 in one array, one
// thread, processor time: 1.6-1.7 us an element-image with prefetcht1, as
// much as with no request at all; 0.70-0.76 with prefetcht0 or
// prefetchnta; 0.55-0.60 with any of them once the maps were moved off the
// power of two. On 128 such images (beyond the caches): 1.7-2.0 with
// prefetcht1, 0.92 with prefetcht0, 0.86 with prefetchnta, and 0.89-0.93
// with any of them off the power of two. g++ 12 deletes a loop whose only
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
    asm volatile("prefetchnta %0" : : "m"(*static_cast<const char*>(p)));
#elif defined(__GNUC__)
    __builtin_prefetch(p, 0, 0);
#else
    (void)p;
#endif
}
