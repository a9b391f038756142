#include "placement.h"

#include <cmath>

#include "frame.h"

TemplateGeometry templateGeometryOf(int32_t templateRows, int32_t templateCols, int32_t poolStep) {
    auto centerOffset = [&](int32_t side) {
        return static_cast<int32_t>(std::floor((side / 2.0) / poolStep));
    };
    return TemplateGeometry{pooledSizeOf(templateRows, poolStep), pooledSizeOf(templateCols, poolStep),
                            centerOffset(templateRows), centerOffset(templateCols)};
}

int64_t scoreSizeOf(int32_t templateSide, int32_t imageSide, int32_t poolStep) {
    return (int64_t{templateSide} + imageSide) / poolStep;
}

float normalizerAt(const float* map, int32_t rows, int32_t cols, int64_t cx, int64_t cy) {
    if (cx < 1 || cx > rows || cy < 1 || cy > cols) return 1.0f;
    float n = map[cmIndex(static_cast<int32_t>(cx), static_cast<int32_t>(cy), rows, cols)];
    return n == 0.0f ? 1.0f : n;
}
