// Vector code chosen at run time for the processor. The default build compiles such code for
// several instruction sets and picks the copy for the processor when the library loads; with
// BASELINE_CODE_ONLY defined (the sanitizer build of the tests) only the baseline x86-64 copy
// is built, so that the tests also run the code that processors without the wider vector
// units take.
#pragma once

#ifdef BASELINE_CODE_ONLY
#define PROCESSOR_CLONES(...)
#else
// Copies of one function for each instruction set named ("default" among them).
#define PROCESSOR_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#endif

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
