// Pooled and template geometry shared by the plug-ins that place a template on pooled maps.
//
// A full-resolution image of rows x cols pixels has floor(rows / poolStep) x
// floor(cols / poolStep) pooled positions; pooled position p stands for pixel p * poolStep.
// A template placed with its anchor at pooled (i, j) has its elements at (i + row offset,
// j + column offset) and its centre at (i + centerRowOffset, j + centerColOffset). Score
// position (rho, sigma) of an image's score map belongs to the anchor
// (rho - rowsPooled, sigma - colsPooled).
#pragma once

#include <cstdint>

#include "frame.h"

// floor(pixels / poolStep) for pixels >= 0 and poolStep >= 1.
inline int32_t pooledSizeOf(int32_t pixels, int32_t poolStep) {
    return pixels / poolStep;
}

// The template's extent in pooled units and its centre's offset from the anchor:
// rowsPooled = floor(templateRows / poolStep), centerRowOffset =
// floor((templateRows / 2.0) / poolStep), and likewise for columns.
struct TemplateGeometry {
    int32_t rowsPooled;
    int32_t colsPooled;
    int32_t centerRowOffset;
    int32_t centerColOffset;
};

// Requires templateRows, templateCols >= 0 and poolStep >= 1.
TemplateGeometry templateGeometryOf(int32_t templateRows, int32_t templateCols, int32_t poolStep);

// Rows (or columns) of an image's score map: floor((templateSide + imageSide) / poolStep),
// formed in 64 bits; both sides >= 0, poolStep >= 1.
int64_t scoreSizeOf(int32_t templateSide, int32_t imageSide, int32_t poolStep);

// Values of an image's score map: scoreSizeOf of the rows times scoreSizeOf of the columns,
// which fits 64 bits for any template sides and any image whose rows * cols fits 32 bits.
int64_t scoreValueCountOf(int32_t templateRows, int32_t templateCols, int32_t rows, int32_t cols,
                          int32_t poolStep);

// Refuses the call (tooLarge) when the score map of any image 0 ... imageCount-1 would hold
// more values than 32-bit offsets reach; `position` is the 0-based argument of the score maps.
// Within that limit every score position and anchor of a nonempty anchor range fits 32 bits.
void requireScoreMapsIndexable(const ArgList& args, int32_t position, const ImageSizes& sizes,
                               int32_t imageCount, int32_t templateRows, int32_t templateCols,
                               int32_t poolStep);

// An inclusive span first ... last of anchors; empty when last < first.
struct AnchorBounds {
    int32_t first;
    int32_t last;
};

// The anchors from `first` to `last`, each rounded half up, clipped to lowest ... highest; empty
// when either bound is NaN or nothing is left. An infinite bound reaches the edge.
AnchorBounds clippedAnchorsOf(double first, double last, int32_t lowest, int32_t highest);

// Per image, the bounds of a block of anchors as a caller gives them: firstRows[i] ...
// lastRows[i] by firstCols[i] ... lastCols[i], any values (see clippedAnchorsOf).
struct BlockBounds {
    const double* firstRows;
    const double* lastRows;
    const double* firstCols;
    const double* lastCols;
};

// Reads the four bound arrays (four positions, in that order), each a real double array of at
// least imageCount entries.
BlockBounds readBlockBounds(ArgList& args, int32_t imageCount);

// The value that divides a placement's responses: the normalizer map's value at the
// 1-based pixel (cx, cy) when that lies in 1 ... rows x 1 ... cols, and 1 when it lies
// outside. A stored 0 also gives 1, so a zero mean leaves responses as they are rather than
// turning scores into infinities or NaN (window-mean maps write 1 there themselves).
float normalizerAt(const float* map, int32_t rows, int32_t cols, int64_t cx, int64_t cy);
