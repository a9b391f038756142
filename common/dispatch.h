// Vector code chosen at run time for the processor. The default build compiles such code for
// several instruction sets and picks the copy for the processor when the library loads; with
// BASELINE_CODE_ONLY defined (the sanitizer build of the tests) only the baseline x86-64 copy
// is built, so that the tests also run the code that processors without the wider vector
// units take.
#pragma once

#include <cstdint>

#ifdef BASELINE_CODE_ONLY
#define PROCESSOR_CLONES(...)
#else
// Copies of one function for each instruction set named ("default" among them).
#define PROCESSOR_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#endif

// A helper of vector code, always inlined into its caller, so that it is compiled for the
// instruction set of each processor's copy of the caller; vectors pass to such helpers by
// reference for the same reason.
#define VECTOR_HELPER __attribute__((always_inline)) inline

// Bytes of a cache line, the unit in which memory is fetched ahead of its use.
constexpr int32_t cacheLineBytes = 64;

// A function compiled for AVX2, to be called only where avx2Available().
#define AVX2_VERSION __attribute__((target("avx2")))

// Whether AVX2 code may run: the processor has it and the build keeps such code.
inline bool avx2Available() {
#if defined(BASELINE_CODE_ONLY) || !(defined(__x86_64__) || defined(__i386__))
    return false;
#else
    return __builtin_cpu_supports("avx2");
#endif
}

// A function compiled for AVX-512 (its foundation, which holds sixteen single-precision lanes
// per register), to be called only where avx512Available().
#define AVX512_VERSION __attribute__((target("avx512f")))

// Whether AVX-512 code may run: the processor has its foundation and the build keeps such code.
inline bool avx512Available() {
#if defined(BASELINE_CODE_ONLY) || !(defined(__x86_64__) || defined(__i386__))
    return false;
#else
    return __builtin_cpu_supports("avx512f");
#endif
}
