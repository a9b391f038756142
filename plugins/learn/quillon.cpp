// quillon: learns a template shared by a set of training images, one element at a time. Each
// element is the orientation and pooled position whose pooled responses, summed over the
// images, are largest; its mean response is turned into a weight and a bias through three
// lookup tables. Every image then adds the element's contribution to its score, draws the
// element where it found it into its own sketch, and is inhibited around it, which also
// keeps the sums current for the next choice.

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "frame.h"
#include "inhibit.h"
#include "placement.h"
#include "shifts.h"

namespace {

// The three lookup tables of `length` entries: meanResponses is the ascending search key.
struct LookupTables {
    int32_t length;
    const double* weights;
    const double* meanResponses;
    const double* biases;
};

// The five per-element output arrays.
struct TemplateOutputs {
    double* orients;
    double* rows;
    double* cols;
    double* weights;
    double* biases;
};

// An element: a 0-based orientation at a 1-based pooled position.
struct Element {
    int32_t orient;
    int32_t row;
    int32_t col;
};

struct ElementParams {
    double weight;
    double bias;
};

// Everything one call works on.
struct Learner {
    ShiftTable shifts;
    InhibitGrids grids;
    ImageExtent extent;
    const double* const* orientStamps;
    LookupTables tables;
    TemplateOutputs outputs;
    double* imageScores;
    float* commonSketch;
    float* const* imageSketches;
    float** summedMaps;  // orientCount rows of pooledRows * pooledCols sums over the images
    InhibitWork* inhibitWork;
};

// summedMaps[o][k] = the pooled values of orientation o at k added over images 0, 1, ... in
// order, rounded to single precision after each addition; only window positions are filled.
// Each sum is independent of the others, so the images are walked map by map in storage order
// rather than sum by sum; every sum still meets its images in the same order.
void sumPooledMaps(const Learner& learner) {
    const InhibitGrids& grids = learner.grids;
    const ImageExtent& extent = learner.extent;
    const PoolWindow& window = extent.window;
    for (int32_t o = 0; o < grids.orientCount; ++o) {
        float* sums = learner.summedMaps[o];
        for (int32_t py = window.colLo; py <= window.colHi; ++py) {
            for (int32_t px = window.rowLo; px <= window.rowHi; ++px) {
                sums[cmIndex(px, py, extent.pooledRows, extent.pooledCols)] = 0.0f;
            }
        }
        for (int32_t image = 0; image < grids.imageCount; ++image) {
            const float* pooled = grids.pooledMaps[image + o * grids.imageCount];
            for (int32_t py = window.colLo; py <= window.colHi; ++py) {
                for (int32_t px = window.rowLo; px <= window.rowHi; ++px) {
                    int32_t k = cmIndex(px, py, extent.pooledRows, extent.pooledCols);
                    sums[k] = sums[k] + pooled[k];
                }
            }
        }
    }
}

// The largest sum of a selection, noResponse when no sum was above it.
struct Selection {
    float best;
    bool found;
};

// The largest of `count` sums, by maxima that keep their value unless a sum is strictly
// greater (so NaN never counts), starting from `largest`.
float largestOf(const float* sums, int32_t count, float largest) {
    const int32_t lanesPerVector = 4;
    int32_t i = 0;
#if defined(__SSE2__)
    if (count >= lanesPerVector) {
        __m128 lanes = _mm_set1_ps(largest);
        for (; i + lanesPerVector <= count; i += lanesPerVector) lanes = _mm_max_ps(_mm_loadu_ps(sums + i), lanes);
        float lane[lanesPerVector];
        _mm_storeu_ps(lane, lanes);
        for (float v : lane) largest = v > largest ? v : largest;
    }
#endif
    for (; i < count; ++i) largest = sums[i] > largest ? sums[i] : largest;
    return largest;
}

// Scans the window, row outer, column middle, orientation inner, for the largest sum above
// noResponse; only a strictly larger sum replaces the running best, so ties keep the smallest
// row, then column, then orientation, and NaN never wins. `chosen` changes only when a sum
// wins, so without any it keeps the previous element.
//
// That scan picks the first sum in its order that equals the largest (0 and -0 equal), so the
// largest is found first, map by map in storage order, and then the first sum equal to it.
Selection selectElement(const Learner& learner, Element& chosen) {
    const ImageExtent& extent = learner.extent;
    const PoolWindow& window = extent.window;
    int32_t orientCount = learner.grids.orientCount;
    int32_t height = window.rowHi - window.rowLo + 1;
    float largest = noResponse;
    for (int32_t o = 0; o < orientCount; ++o) {
        for (int32_t py = window.colLo; py <= window.colHi; ++py) {
            largest = largestOf(learner.summedMaps[o] + cmIndex(window.rowLo, py, extent.pooledRows, 0), height, largest);
        }
    }
    if (!(largest > noResponse)) return Selection{noResponse, false};
    // The first sum equal to the largest, in the scan's order: the smallest row, then column,
    // then orientation among the equal sums of all maps.
    Element first{orientCount, window.rowHi + 1, window.colHi + 1};
    for (int32_t o = 0; o < orientCount; ++o) {
        for (int32_t py = window.colLo; py <= window.colHi; ++py) {
            const float* sums = learner.summedMaps[o] + cmIndex(window.rowLo, py, extent.pooledRows, 0);
            for (int32_t i = 0; i < height; ++i) {
                if (sums[i] != largest) continue;
                int32_t px = window.rowLo + i;
                if (px < first.row || (px == first.row && py < first.col)) first = Element{o, px, py};
                break;  // later rows of this column come after it in the scan
            }
        }
    }
    chosen = first;
    return Selection{learner.summedMaps[first.orient][cmIndex(first.row, first.col, extent.pooledRows, 0)], true};
}

// Weight and bias of a mean response: the search runs down from the last key to the first
// key not above the mean. At or above the last key (or NaN) the last entry is copied; between
// two keys the entries are interpolated with t rounded to single precision; below the first
// key, where the table has no interval, the first entry is copied, mirroring the top.
ElementParams lookupElementParams(float meanResponse, const LookupTables& tables) {
    const double* keys = tables.meanResponses;
    int32_t j = tables.length - 1;
    while (j >= 0 && meanResponse < keys[j]) --j;
    if (j < 0) return ElementParams{tables.weights[0], tables.biases[0]};
    if (j == tables.length - 1) return ElementParams{tables.weights[j], tables.biases[j]};
    float t = static_cast<float>((meanResponse - keys[j]) / (keys[j + 1] - keys[j]));
    const double* w = tables.weights;
    const double* b = tables.biases;
    return ElementParams{w[j] + (w[j + 1] - w[j]) * t, b[j] + (b[j + 1] - b[j]) * t};
}

void recordElement(const Learner& learner, int32_t e, const Element& element, const ElementParams& params) {
    const TemplateOutputs& out = learner.outputs;
    out.orients[e] = element.orient;
    out.rows[e] = element.row;
    out.cols[e] = element.col;
    out.weights[e] = params.weight;
    out.biases[e] = params.bias;
}

// Where image `image` has the element: the orientation and pixel its trace slot names.
ShiftedPlace placeIn(const Learner& learner, const Element& element, int32_t image, int32_t k) {
    int32_t slot = roundHalfUp(learner.grids.traceMaps[image + element.orient * learner.grids.imageCount][k]);
    return shiftedPlaceOf(learner.shifts, element.orient, slot, element.row, element.col, learner.grids.poolStep);
}

// Every image, in order: its score grows by weight * r - bias, r being its pooled value at the
// element before its inhibition; where r > 0 the element is drawn into its sketch where the
// trace says the image has it, scaled by sqrt(r), and the image is inhibited around that place.
// Images are inhibited independently of one another, so before an image is inhibited the
// values that the next image's inhibition will read are read ahead.
void updateImages(const Learner& learner, const Element& element, const ElementParams& params) {
    const InhibitGrids& grids = learner.grids;
    const ImageExtent& extent = learner.extent;
    const ShiftTable& shifts = learner.shifts;
    int32_t o = element.orient;
    int32_t k = cmIndex(element.row, element.col, extent.pooledRows, extent.pooledCols);
    for (int32_t image = 0; image < grids.imageCount; ++image) {
        int32_t c = image + o * grids.imageCount;
        float r = grids.pooledMaps[c][k];
        learner.imageScores[image] = learner.imageScores[image] + (params.weight * r - params.bias);
        ShiftedPlace found = placeIn(learner, element, image, k);
        if (r > 0.0f) {
            stampElement(learner.imageSketches[image], extent.mapRows, extent.mapCols, learner.orientStamps,
                         grids.filterHalf, found.orient, found.x, found.y, std::sqrt(static_cast<double>(r)));
            int32_t next = image + 1;
            if (next < grids.imageCount && grids.pooledMaps[next + o * grids.imageCount][k] > 0.0f) {
                ShiftedPlace ahead = placeIn(learner, element, next, k);
                readAheadInhibition(shifts, grids, extent, next, ahead.orient, ahead.x, ahead.y, *learner.inhibitWork);
            }
            inhibitAround(shifts, grids, extent, image, found.orient, found.x, found.y, learner.summedMaps,
                          *learner.inhibitWork);
        }
    }
}

// Selects, records, draws, applies and prints elements 0, 1, ... while e < elementCount; the
// count is tested after each element, so at least one is learned. The first selection has
// been made by the caller, which refuses the call when it finds no candidate.
void learnTemplate(const Learner& learner, int32_t elementCount, Element chosen, Selection selection) {
    const InhibitGrids& grids = learner.grids;
    int32_t e = 0;
    do {
        if (e > 0) selection = selectElement(learner, chosen);
        float meanResponse = selection.best / static_cast<float>(grids.imageCount);
        ElementParams params = lookupElementParams(meanResponse, learner.tables);
        recordElement(learner, e, chosen, params);
        stampElement(learner.commonSketch, learner.extent.mapRows, learner.extent.mapCols, learner.orientStamps,
                     grids.filterHalf, chosen.orient, chosen.row * grids.poolStep, chosen.col * grids.poolStep,
                     std::sqrt(static_cast<double>(meanResponse)));
        updateImages(learner, chosen, params);
        mexPrintf("%d:  (orient = %d   x = %d   y = %d) --> %f\n", e, chosen.orient, chosen.row, chosen.col,
                  learner.outputs.weights[e]);
        ++e;
    } while (e < elementCount);
}

// 0-based argument positions named in the checks made after reading.
const int32_t mapRowsPosition = 7;
const int32_t traceMapsPosition = 11;
// 1-based positions of the shift parameters, for refusals.
const ShiftArgPositions shiftArgPositions = {1, 2, 3, 5};

const GridAxes overlapAxes = {"selected orientation", "other orientation"};

// Refuses a key that is not finite or lies below the key before it. Equal neighbours are
// accepted: the search never stops between two equal keys, so their interval is never used.
void requireAscendingKeys(const ArgList& args, int32_t position, const double* keys, int32_t length) {
    for (int32_t j = 0; j < length; ++j) {
        if (!std::isfinite(keys[j])) refuseEntry(args, position, j, "a finite mean response", keys[j]);
        if (j > 0 && keys[j] < keys[j - 1]) {
            refuseEntry(args, position, j, "mean responses in ascending order, none below the entry before",
                        keys[j]);
        }
    }
}

[[noreturn]] void refuseEmptyWindow(const ImageExtent& extent, int32_t filterHalf, int32_t posShiftMax,
                                    int32_t poolStep) {
    refuseCall(ArgFault::noCandidate,
               "arguments %d (mapRows) and %d (mapCols): maps of %d x %d pixels are too small for filterHalf %d, "
               "posShiftMax %d and poolStep %d: no pooled position keeps the whole neighbourhood of its shifted "
               "elements inside the maps (pooled rows %d ... %d, columns %d ... %d)",
               mapRowsPosition + 1, mapRowsPosition + 2, extent.mapRows, extent.mapCols, filterHalf, posShiftMax,
               poolStep, extent.window.rowLo, extent.window.rowHi, extent.window.colLo, extent.window.colHi);
}

[[noreturn]] void refuseNoFirstElement(const ImageExtent& extent) {
    refuseCall(ArgFault::noCandidate,
               "argument 11 (pooledMaps): expected a pooled response sum above -1e10 at some orientation of "
               "pooled rows %d ... %d, columns %d ... %d; got only sums of -1e10 or less, or NaN",
               extent.window.rowLo, extent.window.rowHi, extent.window.colLo, extent.window.colHi);
}

const char* const argNames[] = {
    "orientCount",    "posShiftMax",       "orientShiftMax", "unused",         "poolStep",     "elementCount",
    "imageCount",     "mapRows",           "mapCols",        "responseMaps",   "pooledMaps",   "traceMaps",
    "filterHalf",     "overlapTable",      "orientStamps",   "tableLength",    "weightTable",  "meanResponseTable",
    "biasTable",      "elementOrients",    "elementX",       "elementY",       "elementWeights", "elementBiases",
    "imageScores",    "commonSketch",      "imageSketches"};

void quillon(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    Learner learner;
    InhibitGrids& grids = learner.grids;
    ImageExtent& extent = learner.extent;
    grids.orientCount = readIntArg(args, 1);
    grids.posShiftMax = readIntArg(args, 0);
    int32_t orientShiftMax = readIntArg(args, 0, grids.orientCount - 1);
    readRealArg(args);
    grids.poolStep = readIntArg(args, 1);
    int32_t elementCount = readIntArg(args);
    grids.imageCount = readIntArg(args, 1);
    MapSize size = readMapSize(args);
    extent.mapRows = size.rows;
    extent.mapCols = size.cols;
    requireShiftsFit(shiftArgPositions, grids.orientCount, grids.posShiftMax, orientShiftMax, grids.poolStep,
                     std::max(size.rows, size.cols), "the larger of mapRows and mapCols");
    int64_t mapValues = static_cast<int64_t>(size.rows) * size.cols;
    requireShiftsJustified(shiftArgPositions, grids.orientCount, grids.posShiftMax, orientShiftMax,
                           gridValuesForShifts(grids.imageCount, grids.orientCount, [&](int32_t) { return mapValues; }));
    extent.pooledRows = pooledSizeOf(size.rows, grids.poolStep);
    extent.pooledCols = pooledSizeOf(size.cols, grids.poolStep);
    int64_t pooledValues = static_cast<int64_t>(extent.pooledRows) * extent.pooledCols;
    auto perMap = [&](int32_t) { return mapValues; };
    auto perPooledMap = [&](int32_t) { return pooledValues; };
    grids.responseMaps = readCellGrid<float>(args, grids.imageCount, grids.orientCount, mapGridAxes,
                                             Access::written, perMap);
    grids.pooledMaps = readCellGrid<float>(args, grids.imageCount, grids.orientCount, mapGridAxes,
                                           Access::written, perPooledMap);
    grids.traceMaps = readCellGrid<float>(args, grids.imageCount, grids.orientCount, mapGridAxes,
                                          Access::written, perPooledMap);
    grids.filterHalf = readIntArg(args, 0, filterHalfLimit);
    int64_t overlapSide = 4 * int64_t{grids.filterHalf} + 1;
    int64_t stampSide = 2 * int64_t{grids.filterHalf} + 1;
    grids.overlapTable = readCellGrid<double>(args, grids.orientCount, grids.orientCount, overlapAxes,
                                              Access::read, [&](int32_t) { return overlapSide * overlapSide; });
    learner.orientStamps =
        readCellList<double>(args, grids.orientCount, Access::read, [&](int32_t) { return stampSide * stampSide; });
    LookupTables& tables = learner.tables;
    tables.length = readIntArg(args, 1);
    tables.weights = readArrayArg<double>(args, tables.length, Access::read);
    int32_t keysPosition = args.position;
    tables.meanResponses = readArrayArg<double>(args, tables.length, Access::read);
    requireAscendingKeys(args, keysPosition, tables.meanResponses, tables.length);
    tables.biases = readArrayArg<double>(args, tables.length, Access::read);
    int32_t elementSlots = std::max(elementCount, 1);
    TemplateOutputs& out = learner.outputs;
    for (double** output : {&out.orients, &out.rows, &out.cols, &out.weights, &out.biases}) {
        *output = readArrayArg<double>(args, elementSlots, Access::written);
    }
    learner.imageScores = readArrayArg<double>(args, grids.imageCount, Access::written);
    learner.commonSketch = readArrayArg<float>(args, mapValues, Access::written);
    learner.imageSketches = readCellList<float>(args, grids.imageCount, Access::written, perMap);
    endArgs(args);

    extent.window = computePoolWindow(grids.filterHalf, grids.posShiftMax, grids.poolStep, size.rows, size.cols);
    if (isEmpty(extent.window)) refuseEmptyWindow(extent, grids.filterHalf, grids.posShiftMax, grids.poolStep);
    int32_t shiftCount = shiftCountOf(grids.posShiftMax, orientShiftMax);
    for (int32_t image = 0; image < grids.imageCount; ++image) {
        requireSlotsInWindow(args, traceMapsPosition, grids.traceMaps, grids.imageCount, grids.orientCount, image,
                             extent.pooledRows, extent.window, shiftCount);
    }

    learner.shifts = buildShiftTables(grids.orientCount, grids.posShiftMax, orientShiftMax, grids.poolStep);
    learner.summedMaps = allocTable2D<float>(grids.orientCount, extent.pooledRows * extent.pooledCols);
    sumPooledMaps(learner);
    InhibitedSizes inhibitedSizes{&extent.mapRows, &extent.mapCols, 0};
    InhibitWork inhibitWork = prepareInhibition(learner.shifts, grids, inhibitedSizes);
    // Elements spread over the whole window of every image, so inhibition meets most responses.
    learnNaNFreedom(inhibitWork, grids, inhibitedSizes);
    learner.inhibitWork = &inhibitWork;
    Element chosen{0, 0, 0};
    Selection first = selectElement(learner, chosen);
    if (first.found) learnTemplate(learner, elementCount, chosen, first);
    releaseInhibition(inhibitWork);
    freeTable2D(learner.summedMaps, grids.orientCount, extent.pooledRows * extent.pooledCols);
    freeShiftTables(learner.shifts, grids.orientCount);
    if (!first.found) refuseNoFirstElement(extent);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("quillon", quillon, nlhs, nrhs, prhs);
}
