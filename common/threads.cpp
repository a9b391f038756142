#include "threads.h"

#include <algorithm>

#ifdef _OPENMP
#include <omp.h>
#endif

int32_t threadCountFor(int64_t itemCount) {
#ifdef _OPENMP
    int64_t available = omp_get_max_threads();
#else
    int64_t available = 1;
#endif
    return static_cast<int32_t>(std::max<int64_t>(1, std::min(available, itemCount)));
}

int32_t threadNumber() {
#ifdef _OPENMP
    return omp_get_thread_num();
#else
    return 0;
#endif
}

int32_t teamSize() {
#ifdef _OPENMP
    return omp_get_num_threads();
#else
    return 1;
#endif
}

ItemRange shareOf(int64_t count, int32_t part, int32_t parts) {
    return ItemRange{count * part / parts, count * (part + 1) / parts};
}
