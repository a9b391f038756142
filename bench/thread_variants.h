// The thread counts of a threaded plug-in's benchmark: 1, the count its plain loop is compared
// at, and 2, the development machine's cores. Threads share the work of one call, so these
// variants are timed in real (wall-clock) time; their CPU time counts the calling thread only.
#pragma once

#include <benchmark/benchmark.h>

#include "thread_count.h"

// For a benchmark whose only argument is the thread count.
inline void onOneAndTwoThreads(benchmark::internal::Benchmark* b) {
    b->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime();
}

// For a benchmark whose first argument is the side of its maps and whose second is the thread
// count.
inline void sideOnOneAndTwoThreads(benchmark::internal::Benchmark* b, int side) {
    b->ArgNames({"", "threads"})->Args({side, 1})->Args({side, 2})->UseRealTime();
}
