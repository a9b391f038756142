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
        SaturationMask unproven;
        __builtin_memcpy(&v, values + p, sizeof(v));
        saturateLanes(v, level, saturated, unproven);
        if (anyLane(unproven)) {
            for (int32_t k = 0; k < saturationLanes; ++k) {
                if (unproven[k]) saturated[k] = saturate(v[k], s);
            }
        }
        __builtin_memcpy(values + p, &saturated, sizeof(saturated));
    }
    for (; p < n; ++p) values[p] = saturate(values[p], s);
}

}  // namespace

void saturateValues(float* values, int32_t n, double s) { saturateEach(values, n, s); }
