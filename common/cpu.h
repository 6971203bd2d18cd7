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
