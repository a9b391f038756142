// Sets the OpenMP thread count of the plug-in calls made in a scope (tests and benchmarks).
#pragma once

#include <omp.h>

namespace testsupport {

// Sets the count for the calls made in its scope, and restores the count it found.
class ThreadCountScope {
public:
    explicit ThreadCountScope(int threadCount) : previous_(omp_get_max_threads()) { omp_set_num_threads(threadCount); }
    ~ThreadCountScope() { omp_set_num_threads(previous_); }
    ThreadCountScope(const ThreadCountScope&) = delete;
    ThreadCountScope& operator=(const ThreadCountScope&) = delete;

private:
    int previous_;
};

}  // namespace testsupport
