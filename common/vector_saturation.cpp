#include "vector_saturation.h"

namespace {

// The loop, in one copy per processor. The copies are chosen inside this file, behind a plain
// function, since GCC and clang expect the processor copies of a function named in a header in
// different ways.
SATURATION_CLONES void saturateEach(float* values, int32_t n, double s) {
    SaturationLevel level = saturationLevelOf(s);
    int32_t p = 0;
    for (; p + saturationLanes <= n; p += saturationLanes) {
        SaturationFloats v, saturated;
        __builtin_memcpy(&v, values + p, sizeof(v));
        saturateEveryLane(v, level, saturated);
        __builtin_memcpy(values + p, &saturated, sizeof(saturated));
    }
    for (; p < n; ++p) values[p] = saturate(values[p], s);
}

}  // namespace

void saturateValues(float* values, int32_t n, double s) { saturateEach(values, n, s); }
