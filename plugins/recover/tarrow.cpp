// tarrow: draws, for every image, the template as it was found there. Each element looks up,
// at its pooled position, the shift slot that gave the pooled maximum, and is stamped at that
// perturbed pixel and orientation with an intensity that grows with the pooled response.

#include <cmath>

#include "detections.h"
#include "frame.h"
#include "inhibit.h"
#include "placement.h"
#include "shifts.h"
#include "threads.h"

namespace {

// The maps and settings that every image of a call draws with. Grid cells are indexed by
// image + orient * imageCount.
struct RecoverGrids {
    const float* const* pooledMaps;
    const float* const* traceMaps;
    float* const* imageSketches;
    const double* const* orientStamps;
    int32_t imageCount;
    int32_t poolStep;
    int32_t filterHalf;
    double saturationLevel;
};

// Draws every element of the template on the pooled map of one detected image: at its pooled
// position it reads the shift slot and the pooled value, and stamps the slot's orientation
// at the slot's displaced pixel with factor sqrt(saturate(r, s)). A value of 0 or less (or
// NaN) draws nothing, since no scaled stamp value then exceeds the cleared sketch.
void recoverImage(const ShiftTable& shifts, const RecoverGrids& grids, const TemplateElements& elements,
                  const ImagePlacement& place, int32_t image) {
    float* sketch = grids.imageSketches[image];
    for (int32_t k = 0; k < elements.count; ++k) {
        PlacedElement element = placeElement(elements, k, place);
        if (!element.inside) continue;
        int32_t p = cmIndex(element.x, element.y, place.pooledRows, place.pooledCols);
        int32_t c = image + element.orient * grids.imageCount;
        int32_t slot = roundHalfUp(grids.traceMaps[c][p]);
        float r = grids.pooledMaps[c][p];
        double intensity = std::sqrt(static_cast<double>(saturate(r, grids.saturationLevel)));
        ShiftedPlace matched = shiftedPlaceOf(shifts, element.orient, slot, element.x, element.y, grids.poolStep);
        stampElement(sketch, place.rows, place.cols, grids.orientStamps, grids.filterHalf, matched.orient, matched.x,
                     matched.y, intensity);
    }
}

// 0-based position of traceMaps, for refusals of trace values.
const int32_t traceMapsPosition = 14;

const char* const argNames[] = {"imageCount",        "imageRows",         "imageCols",      "orientCount",
                                "posShiftMax",       "orientShiftMax",    "poolStep",       "filterHalf",
                                "orientStamps",      "elementCount",      "elementOrients", "elementRowOffsets",
                                "elementColOffsets", "pooledMaps",        "traceMaps",      "imageSketches",
                                "anchorRows",        "anchorCols",        "saturationLevel"};

void tarrow(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t imageCount = readIntArg(args, 0);
    ImageSizes sizes = readImageSizes(args, imageCount);
    ShiftParams q = readShiftParams(args, largestSideOf(sizes, imageCount));
    int32_t orientCount = q.orientCount;
    int32_t posShiftMax = q.posShiftMax;
    int32_t orientShiftMax = q.orientShiftMax;
    int32_t poolStep = q.poolStep;
    auto pooledValues = [&](int32_t image) { return pooledValueCount(sizes, image, poolStep); };
    requireShiftsJustified(q.positions, orientCount, posShiftMax, orientShiftMax,
                           gridValuesForShifts(imageCount, orientCount, pooledValues));
    int32_t filterHalf = readIntArg(args, 0, filterHalfLimit);
    int64_t stampValues = int64_t{2 * filterHalf + 1} * (2 * filterHalf + 1);
    const double* const* orientStamps =
        readCellList<double>(args, orientCount, Access::read, [&](int32_t) { return stampValues; });
    TemplateElements elements = readTemplateElements(args, orientCount);
    const float* const* pooledMaps =
        readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::read, pooledValues);
    const float* const* traceMaps =
        readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::read, pooledValues);
    float* const* imageSketches = readCellList<float>(
        args, imageCount, Access::written, [&](int32_t image) { return imageValueCount(sizes, image); });
    const double* anchorRows = readAnchorArg(args, imageCount);
    const double* anchorCols = readAnchorArg(args, imageCount);
    double saturationLevel = readRealArg(args, RealRule::finiteNonzero);
    endArgs(args);

    requireSlotsAtElements(args, traceMapsPosition, traceMaps, sizes, anchorRows, anchorCols, imageCount,
                           poolStep, elements, shiftCountOf(posShiftMax, orientShiftMax));
    // Each image draws only into its own sketch, so all can be cleared first, and the images are
    // shared out among the threads; the tables are built only when some element is drawn.
    int32_t threadCount = threadCountFor(imageCount);
#pragma omp parallel for schedule(dynamic) num_threads(threadCount)
    for (int32_t image = 0; image < imageCount; ++image) {
        clearSketch(imageSketches[image], placementOf(sizes, anchorRows, anchorCols, image, poolStep));
    }
    if (!anyElementPlaced(sizes, anchorRows, anchorCols, imageCount, poolStep, elements)) return;
    ShiftTable shifts = buildShiftTables(orientCount, posShiftMax, orientShiftMax, poolStep);
    RecoverGrids grids{pooledMaps, traceMaps, imageSketches, orientStamps, imageCount, poolStep, filterHalf,
                       saturationLevel};
#pragma omp parallel for schedule(dynamic) num_threads(threadCount)
    for (int32_t image = 0; image < imageCount; ++image) {
        ImagePlacement place = placementOf(sizes, anchorRows, anchorCols, image, poolStep);
        if (place.detected) recoverImage(shifts, grids, elements, place, image);
    }
    freeShiftTables(shifts, orientCount);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("tarrow", tarrow, nlhs, nrhs, prhs);
}
