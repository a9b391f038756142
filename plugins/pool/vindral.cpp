// vindral: pools a grid of response maps into maps of local maxima over small perturbations of
// position and orientation, and records for every pooled value the shift slot that gave it.

#include <algorithm>

#include "frame.h"
#include "placement.h"
#include "shifts.h"

namespace {

// The three map grids of a call, each cell indexed by image + orient * imageCount.
struct PoolGrids {
    const float* const* responseMaps;
    float* const* pooledMaps;
    float* const* traceMaps;
    int32_t imageCount;
    int32_t orientCount;
};

// One image's response size and pooled size. Node (i, j) of the pooled maps stands for pixel
// (i * poolStep, j * poolStep).
struct ImageGeometry {
    int32_t rows;
    int32_t cols;
    int32_t poolStep;
    int32_t pooledRows;
    int32_t pooledCols;
};

ImageGeometry geometryOf(const ImageSizes& sizes, int32_t image, int32_t poolStep) {
    int32_t rows = roundHalfUp(sizes.rows[image]);
    int32_t cols = roundHalfUp(sizes.cols[image]);
    return ImageGeometry{rows, cols, poolStep, pooledSizeOf(rows, poolStep), pooledSizeOf(cols, poolStep)};
}

// floor(numerator / denominator) for a positive denominator; C++ division truncates toward 0.
int64_t floorDiv(int64_t numerator, int64_t denominator) {
    int64_t quotient = numerator / denominator;
    return numerator % denominator < 0 ? quotient - 1 : quotient;
}

// The inclusive range first ... last of nodes 1 ... nodeCount whose pixel node * poolStep,
// moved by `shift`, lies inside 1 ... pixelCount; empty when first > last.
struct NodeRange {
    int32_t first;
    int32_t last;
};

NodeRange nodesLandingInside(int32_t shift, int32_t pixelCount, int32_t nodeCount, int32_t poolStep) {
    int64_t first = std::max<int64_t>(1, -floorDiv(shift - int64_t{1}, poolStep));
    int64_t last = std::min<int64_t>(nodeCount, floorDiv(pixelCount - int64_t{shift}, poolStep));
    if (first > last) return NodeRange{1, 0};
    return NodeRange{static_cast<int32_t>(first), static_cast<int32_t>(last)};
}

// Offers `count` candidates, poolStep values apart in `source`, to consecutive nodes: a
// candidate replaces its node's running maximum in `best` only when strictly greater (so NaN
// never does), and the node's slot becomes `slot`. The slot is chosen with a mask rather than
// a branch, which lets the compiler keep the loop free of jumps and vectorize it.
void offerColumn(const float* source, int32_t poolStep, int32_t count, int32_t slot, float* best,
                 int32_t* slotOf) {
    for (int32_t i = 0; i < count; ++i) {
        float v = source[i * poolStep];
        float b = best[i];
        int32_t winMask = -static_cast<int32_t>(v > b);
        best[i] = v > b ? v : b;
        slotOf[i] = (slotOf[i] & ~winMask) | (slot & winMask);
    }
}

// Offers one slot's candidates to every node whose displaced pixel lies inside the image:
// node (i, j) meets the response at (i * poolStep + rowShift, j * poolStep + colShift).
void offerSlot(const ImageGeometry& g, const float* source, int32_t rowShift, int32_t colShift,
               int32_t slot, float* pooled, int32_t* slotOf) {
    NodeRange nodeRows = nodesLandingInside(rowShift, g.rows, g.pooledRows, g.poolStep);
    NodeRange nodeCols = nodesLandingInside(colShift, g.cols, g.pooledCols, g.poolStep);
    if (nodeRows.first > nodeRows.last) return;
    int32_t count = nodeRows.last - nodeRows.first + 1;
    int32_t firstPixelRow = nodeRows.first * g.poolStep + rowShift;
    for (int32_t j = nodeCols.first; j <= nodeCols.last; ++j) {
        int32_t first = cmIndex(nodeRows.first, j, g.pooledRows, g.pooledCols);
        offerColumn(source + cmIndex(firstPixelRow, j * g.poolStep + colShift, g.rows, g.cols), g.poolStep,
                    count, slot, pooled + first, slotOf + first);
    }
}

// Pools every orientation of one image. Each node gets what localMaxOverShifts gives at its
// pixel: the running maximum starts at noResponse with slot 0 and meets the candidates in slot
// order, each replacing it only when strictly greater. Nodes are independent, so instead of
// searching node by node, the pooled map holds the running maxima (and slotOf their slots)
// while each slot in turn sweeps all the nodes it can reach: the bounds are settled once per
// slot rather than tested per lookup, and the maps are walked in storage order. slotOf holds
// at least pooledRows * pooledCols entries.
void poolImage(const ShiftTable& shifts, const PoolGrids& grids, int32_t image, const ImageGeometry& g,
               int32_t* slotOf) {
    int32_t nodeCount = g.pooledRows * g.pooledCols;
    for (int32_t orient = 0; orient < grids.orientCount; ++orient) {
        int32_t cell = image + orient * grids.imageCount;
        float* pooled = grids.pooledMaps[cell];
        std::fill(pooled, pooled + nodeCount, noResponse);
        std::fill(slotOf, slotOf + nodeCount, 0);
        for (int32_t s = 0; s < shifts.shiftCount; ++s) {
            const float* source = grids.responseMaps[image + shifts.shiftedOrient[orient][s] * grids.imageCount];
            offerSlot(g, source, shifts.rowShift[orient][s], shifts.colShift[orient][s], s, pooled, slotOf);
        }
        float* trace = grids.traceMaps[cell];
        for (int32_t p = 0; p < nodeCount; ++p) trace[p] = static_cast<float>(slotOf[p]);
    }
}

int32_t largestNodeCountOf(const ImageSizes& sizes, int32_t imageCount, int32_t poolStep) {
    int32_t largest = 0;
    for (int32_t image = 0; image < imageCount; ++image) {
        ImageGeometry g = geometryOf(sizes, image, poolStep);
        largest = std::max(largest, g.pooledRows * g.pooledCols);
    }
    return largest;
}

const char* const argNames[] = {"imageCount",     "imageRows", "imageCols",    "orientCount", "posShiftMax",
                                "orientShiftMax", "poolStep",  "responseMaps", "pooledMaps",  "traceMaps"};

void vindral(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t imageCount = readIntArg(args, 0);
    ImageSizes sizes = readImageSizes(args, imageCount);
    ShiftParams q = readShiftParams(args, largestSideOf(sizes, imageCount));
    int32_t orientCount = q.orientCount;
    int32_t poolStep = q.poolStep;
    auto responseValues = [&](int32_t image) { return imageValueCount(sizes, image); };
    requireShiftsJustified(q.positions, orientCount, q.posShiftMax, q.orientShiftMax,
                           gridValuesForShifts(imageCount, orientCount, responseValues));
    auto pooledValues = [&](int32_t image) {
        ImageGeometry g = geometryOf(sizes, image, poolStep);
        return static_cast<int64_t>(g.pooledRows) * g.pooledCols;
    };
    const float* const* responseMaps =
        readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::read, responseValues);
    float* const* pooledMaps =
        readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::written, pooledValues);
    float* const* traceMaps =
        readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::written, pooledValues);
    endArgs(args);

    // Images without pooled nodes have nothing to pool; without any, no table is needed.
    int32_t largestNodeCount = largestNodeCountOf(sizes, imageCount, poolStep);
    if (largestNodeCount == 0) return;
    ShiftTable shifts = buildShiftTables(orientCount, q.posShiftMax, q.orientShiftMax, poolStep);
    PoolGrids grids{responseMaps, pooledMaps, traceMaps, imageCount, orientCount};
    int32_t* slotOf = allocArray<int32_t>(largestNodeCount);
    for (int32_t image = 0; image < imageCount; ++image) {
        ImageGeometry g = geometryOf(sizes, image, poolStep);
        if (g.pooledRows > 0 && g.pooledCols > 0) poolImage(shifts, grids, image, g, slotOf);
    }
    mxFree(slotOf);
    freeShiftTables(shifts, orientCount);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("vindral", vindral, nlhs, nrhs, prhs);
}
