// A template placed at the detection found in each image: the anchors one per image, in pooled
// units, as the best-position search writes them (NaN where nothing was found), and the
// template's elements, each an orientation with row and column offsets from the anchor.
// Header-only, for the plug-ins that draw a detected template.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "frame.h"
#include "inhibit.h"
#include "placement.h"

// Reads a real double array of at least imageCount anchor entries (rows or columns). Each
// entry must be NaN (no detection) or round half up to a 32-bit integer; anything else
// (+-Inf, values beyond 32 bits) is refused as outOfRange.
inline const double* readAnchorArg(ArgList& args, int32_t imageCount) {
    int32_t position = args.position;
    const double* anchors = readArrayArg<double>(args, imageCount, Access::read);
    for (int32_t image = 0; image < imageCount; ++image) {
        if (!std::isnan(anchors[image]) && !roundsToInt32(anchors[image])) {
            refuseEntry(args, position, image,
                        "NaN (no detection) or a finite number that rounds half up to a 32-bit integer",
                        anchors[image]);
        }
    }
    return anchors;
}

// The template: element k has a 0-based orientation and row and column offsets from the anchor
// in pooled units, each rounded half up where used. count is 0 for a template without elements.
struct TemplateElements {
    int32_t count;
    const double* orients;
    const double* rowOffsets;
    const double* colOffsets;
};

// Reads elementCount and then the orientation, row offset and column offset arrays (four
// positions). An elementCount below 1 means no elements: the arrays then need no entries
// (they may be empty). Otherwise each array needs elementCount entries; orientations must round
// to 0 ... orientCount-1 and offsets to 32-bit integers.
inline TemplateElements readTemplateElements(ArgList& args, int32_t orientCount) {
    TemplateElements elements;
    elements.count = std::max(readIntArg(args), 0);
    elements.orients = readIntArrayArg(args, elements.count, 0, orientCount - 1);
    elements.rowOffsets = readIntArrayArg(args, elements.count);
    elements.colOffsets = readIntArrayArg(args, elements.count);
    return elements;
}

// One image's sizes and its detection's rounded anchor (meaningful only when detected).
struct ImagePlacement {
    int32_t rows;
    int32_t cols;
    int32_t pooledRows;
    int32_t pooledCols;
    bool detected;
    int32_t anchorRow;
    int32_t anchorCol;
};

// Image `image` of a call: sizes rounded half up, pooled sizes floor(side / poolStep), and a
// detection unless its anchor row or column is NaN.
inline ImagePlacement placementOf(const ImageSizes& sizes, const double* anchorRows,
                                  const double* anchorCols, int32_t image, int32_t poolStep) {
    ImagePlacement place;
    place.rows = roundHalfUp(sizes.rows[image]);
    place.cols = roundHalfUp(sizes.cols[image]);
    place.pooledRows = pooledSizeOf(place.rows, poolStep);
    place.pooledCols = pooledSizeOf(place.cols, poolStep);
    place.detected = !std::isnan(anchorRows[image]) && !std::isnan(anchorCols[image]);
    place.anchorRow = place.detected ? roundHalfUp(anchorRows[image]) : 0;
    place.anchorCol = place.detected ? roundHalfUp(anchorCols[image]) : 0;
    return place;
}

// Values in one pooled map of image `image`: floor(rows / poolStep) * floor(cols / poolStep).
inline int64_t pooledValueCount(const ImageSizes& sizes, int32_t image, int32_t poolStep) {
    return int64_t{pooledSizeOf(roundHalfUp(sizes.rows[image]), poolStep)} *
           pooledSizeOf(roundHalfUp(sizes.cols[image]), poolStep);
}

// The first rows * cols values of an image's sketch become 0; values beyond them are left alone.
inline void clearSketch(float* sketch, const ImagePlacement& place) {
    std::fill(sketch, sketch + place.rows * place.cols, 0.0f);
}

// Element k of a detection: its orientation and pooled position (anchor + offset, formed in
// 64 bits), and whether that position lies in 1 ... pooledRows x 1 ... pooledCols. x and y are
// meaningful only inside.
struct PlacedElement {
    int32_t orient;
    int32_t x;
    int32_t y;
    bool inside;
};

inline PlacedElement placeElement(const TemplateElements& elements, int32_t k, const ImagePlacement& place) {
    int64_t x = int64_t{place.anchorRow} + roundHalfUp(elements.rowOffsets[k]);
    int64_t y = int64_t{place.anchorCol} + roundHalfUp(elements.colOffsets[k]);
    bool inside = x >= 1 && x <= place.pooledRows && y >= 1 && y <= place.pooledCols;
    return PlacedElement{roundHalfUp(elements.orients[k]), inside ? static_cast<int32_t>(x) : 0,
                         inside ? static_cast<int32_t>(y) : 0, inside};
}

// True when some element of some detected image lies on its pooled map: only then does a
// call draw, and need shift tables.
inline bool anyElementPlaced(const ImageSizes& sizes, const double* anchorRows, const double* anchorCols,
                             int32_t imageCount, int32_t poolStep, const TemplateElements& elements) {
    for (int32_t image = 0; image < imageCount; ++image) {
        ImagePlacement place = placementOf(sizes, anchorRows, anchorCols, image, poolStep);
        if (!place.detected) continue;
        for (int32_t k = 0; k < elements.count; ++k) {
            if (placeElement(elements, k, place).inside) return true;
        }
    }
    return false;
}

// Refuses the call unless, in every image with a detection, the trace value at the pooled
// position of every element that lies on the pooled map is a shift slot. `position` is the
// 0-based argument of the trace grid.
inline void requireSlotsAtElements(const ArgList& args, int32_t position, const float* const* traceMaps,
                                   const ImageSizes& sizes, const double* anchorRows,
                                   const double* anchorCols, int32_t imageCount, int32_t poolStep,
                                   const TemplateElements& elements, int32_t shiftCount) {
    for (int32_t image = 0; image < imageCount; ++image) {
        ImagePlacement place = placementOf(sizes, anchorRows, anchorCols, image, poolStep);
        if (!place.detected) continue;
        for (int32_t k = 0; k < elements.count; ++k) {
            PlacedElement element = placeElement(elements, k, place);
            if (!element.inside) continue;
            requireSlotAt(args, position, traceMaps, imageCount, image, element.orient, element.x,
                          element.y, place.pooledRows, shiftCount);
        }
    }
}
