#include "placement.h"

#include <algorithm>
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

int64_t scoreValueCountOf(int32_t templateRows, int32_t templateCols, int32_t rows, int32_t cols,
                          int32_t poolStep) {
    return scoreSizeOf(templateRows, rows, poolStep) * scoreSizeOf(templateCols, cols, poolStep);
}

void requireScoreMapsIndexable(const ArgList& args, int32_t position, const ImageSizes& sizes,
                               int32_t imageCount, int32_t templateRows, int32_t templateCols,
                               int32_t poolStep) {
    for (int32_t image = 0; image < imageCount; ++image) {
        int32_t rows = roundHalfUp(sizes.rows[image]);
        int32_t cols = roundHalfUp(sizes.cols[image]);
        if (scoreValueCountOf(templateRows, templateCols, rows, cols, poolStep) > INT32_MAX) {
            refuseCall(ArgFault::tooLarge,
                       "argument %d (%s), cell %d: expected score maps of at most 2147483647 values "
                       "(32-bit indexing); got a map of %lld x %lld values",
                       position + 1, args.names[position], image + 1,
                       static_cast<long long>(scoreSizeOf(templateRows, rows, poolStep)),
                       static_cast<long long>(scoreSizeOf(templateCols, cols, poolStep)));
        }
    }
}

AnchorBounds clippedAnchorsOf(double first, double last, int32_t lowest, int32_t highest) {
    const AnchorBounds none{lowest, lowest - 1};
    if (std::isnan(first) || std::isnan(last) || highest < lowest) return none;
    double from = std::max<double>(lowest, std::floor(first + 0.5));
    double to = std::min<double>(highest, std::floor(last + 0.5));
    if (from > to) return none;
    return AnchorBounds{static_cast<int32_t>(from), static_cast<int32_t>(to)};
}

BlockBounds readBlockBounds(ArgList& args, int32_t imageCount) {
    BlockBounds bounds;
    bounds.firstRows = readArrayArg<double>(args, imageCount, Access::read);
    bounds.lastRows = readArrayArg<double>(args, imageCount, Access::read);
    bounds.firstCols = readArrayArg<double>(args, imageCount, Access::read);
    bounds.lastCols = readArrayArg<double>(args, imageCount, Access::read);
    return bounds;
}

float normalizerAt(const float* map, int32_t rows, int32_t cols, int64_t cx, int64_t cy) {
    if (cx < 1 || cx > rows || cy < 1 || cy > cols) return 1.0f;
    float n = map[cmIndex(static_cast<int32_t>(cx), static_cast<int32_t>(cy), rows, cols)];
    return n == 0.0f ? 1.0f : n;
}
