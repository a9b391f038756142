// tarrowveto: draws, for every image, the template as it was found there, and in the same pass
// scores each drawn element and inhibits what it explains. Each element with a positive pooled
// value is stamped at the pixel and orientation its shift slot names, the responses around
// that spot are suppressed with the overlap factors and the pooled maxima they fed are searched
// again, and the element's score term is added to the image's score. Later elements see the
// maps as earlier ones left them.
//
// Compiled with TARROWVETO_BLOCK, the same source is tarrowvetoblock: after inhibiting an image
// it scores again, in place, the block of anchors the caller names in that image's score map,
// as gastrelblock scores them. The threads that have no image left to inhibit score the blocks
// of the images already inhibited, so that one call keeps every thread busy where inhibition
// alone would leave some idle. Given a crop, it first copies a block of one image's pooled and
// trace maps (what a search keeps of a detection's maps to draw it later) on the thread that
// then inhibits that image.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "detections.h"
#include "frame.h"
#include "inhibit.h"
#include "placement.h"
#include "scoring.h"
#include "shifts.h"
#include "threads.h"

namespace {

// What every image of a call works with besides the maps that inhibition changes.
struct RecoverSettings {
    float* const* imageSketches;
    const float* const* normalizerMaps;
    float* imageScores;
    const double* const* orientStamps;
    const double* elementWeights;
    const double* elementBiases;
    double saturationLevel;
    TemplateGeometry geometry;
};

// The divisor of the detection's responses: the normalizer map's value at the template's
// centre pixel ((anchor + centre offset) * poolStep, formed in 64 bits); 1 outside the image
// or where the map holds 0.
float normalizerOf(const RecoverSettings& settings, const ImagePlacement& place, int32_t image,
                   int32_t poolStep) {
    int64_t cx = (int64_t{place.anchorRow} + settings.geometry.centerRowOffset) * poolStep;
    int64_t cy = (int64_t{place.anchorCol} + settings.geometry.centerColOffset) * poolStep;
    return normalizerAt(settings.normalizerMaps[image], place.rows, place.cols, cx, cy);
}

// Walks the elements of one detected image in order. An element on the pooled map whose pooled
// value r is positive (read before its own inhibition) is drawn (unless the sketches were
// declined) with factor sqrt(t), where
// t = saturate(r / n, s), at the pixel and orientation of its shift slot; the image is then
// inhibited around that spot, and w * t - b is added to the image's single-precision score.
void recoverImageInhibited(const ShiftTable& shifts, const InhibitGrids& grids, const RecoverSettings& settings,
                           const TemplateElements& elements, const ImagePlacement& place, const ImageExtent& extent,
                           int32_t image, InhibitWork& inhibitWork) {
    float n = normalizerOf(settings, place, image, grids.poolStep);
    float* sketch = settings.imageSketches != nullptr ? settings.imageSketches[image] : nullptr;
    for (int32_t k = 0; k < elements.count; ++k) {
        PlacedElement element = placeElement(elements, k, place);
        if (!element.inside) continue;
        int32_t p = cmIndex(element.x, element.y, place.pooledRows, place.pooledCols);
        int32_t c = image + element.orient * grids.imageCount;
        int32_t slot = roundHalfUp(grids.traceMaps[c][p]);
        ShiftedPlace matched = shiftedPlaceOf(shifts, element.orient, slot, element.x, element.y, grids.poolStep);
        float r = grids.pooledMaps[c][p];
        if (!(r > 0.0f)) continue;
        float v = static_cast<float>(static_cast<double>(r) / n);
        float t = saturate(v, settings.saturationLevel);
        if (sketch != nullptr) {
            stampElement(sketch, place.rows, place.cols, settings.orientStamps, grids.filterHalf, matched.orient,
                         matched.x, matched.y, std::sqrt(static_cast<double>(t)));
        }
        inhibitAround(shifts, grids, extent, image, matched.orient, matched.x, matched.y, nullptr, inhibitWork);
        double term = settings.elementWeights[k] * static_cast<double>(t) - settings.elementBiases[k];
        settings.imageScores[image] = static_cast<float>(settings.imageScores[image] + term);
    }
}

// Names of the two indices of an overlap table cell, for refusals.
const GridAxes overlapAxes = {"selected orientation", "other orientation"};

// 0-based position of traceMaps, for refusals of trace values.
const int32_t traceMapsPosition = 17;

const char* const argNames[] = {
    "imageCount",     "imageRows",         "imageCols",         "orientCount",    "posShiftMax",
    "orientShiftMax", "poolStep",          "filterHalf",        "orientStamps",   "elementCount",
    "elementOrients", "elementRowOffsets", "elementColOffsets", "elementWeights", "elementBiases",
    "responseMaps",   "pooledMaps",        "traceMaps",         "imageSketches",  "anchorRows",
    "anchorCols",     "saturationLevel",   "templateRows",      "templateCols",   "overlapTable",
    "imageScores",    "normalizerMaps"
#ifdef TARROWVETO_BLOCK
    ,
    "scoreMaps",      "firstAnchorRows",   "lastAnchorRows",    "firstAnchorCols", "lastAnchorCols",
    "cropImage",      "cropFirstRow",      "cropFirstCol",      "cropRows",        "cropCols",
    "pooledCrops",    "traceCrops"
#endif
};

// The part of an image's pool window whose trace values the call's inhibitions can read. An
// inhibition happens at an element's matched place, at most posShiftMax*poolStep pixels from
// the element's own, and re-pools the positions within 2*filterHalf pixels and posShiftMax
// further positions of it: so only positions within that reach, and one more, of a placed
// element are read. Empty (rowLo > rowHi) when no element lies on the map.
PoolWindow windowNearElements(const PoolWindow& window, const InhibitGrids& grids, const TemplateElements& elements,
                              const ImagePlacement& place) {
    int64_t reach = (int64_t{grids.posShiftMax} * grids.poolStep + 2 * int64_t{grids.filterHalf}) / grids.poolStep +
                    grids.posShiftMax + 2;
    int64_t rowLo = INT64_MAX, rowHi = INT64_MIN, colLo = INT64_MAX, colHi = INT64_MIN;
    for (int32_t k = 0; k < elements.count; ++k) {
        PlacedElement element = placeElement(elements, k, place);
        if (!element.inside) continue;
        rowLo = std::min<int64_t>(rowLo, element.x);
        rowHi = std::max<int64_t>(rowHi, element.x);
        colLo = std::min<int64_t>(colLo, element.y);
        colHi = std::max<int64_t>(colHi, element.y);
    }
    if (rowLo > rowHi) return PoolWindow{1, 0, 1, 0};
    return PoolWindow{static_cast<int32_t>(std::max<int64_t>(window.rowLo, rowLo - reach)),
                      static_cast<int32_t>(std::min<int64_t>(window.rowHi, rowHi + reach)),
                      static_cast<int32_t>(std::max<int64_t>(window.colLo, colLo - reach)),
                      static_cast<int32_t>(std::min<int64_t>(window.colHi, colHi + reach))};
}

// Refuses trace values that are no slot where the call may read them, so that an image's
// whole maps need not be read for an inhibition that touches a few positions. The maps are
// read on the threads, each (image, orientation) map by one; only a map found to hold a stray
// value is read again, on the calling thread, to refuse it by position.
void requireSlotsInWindows(const ArgList& args, const InhibitGrids& grids, const ImageSizes& sizes,
                           const double* anchorRows, const double* anchorCols, const TemplateElements& elements,
                           int32_t shiftCount) {
    if (elements.count < 1) return;
    int32_t imageCount = grids.imageCount;
    PoolWindow* windows = allocArray<PoolWindow>(imageCount);
    int32_t* pooledRows = allocArray<int32_t>(imageCount);
    for (int32_t image = 0; image < imageCount; ++image) {
        ImagePlacement place = placementOf(sizes, anchorRows, anchorCols, image, grids.poolStep);
        pooledRows[image] = place.pooledRows;
        windows[image] = PoolWindow{1, 0, 1, 0};
        if (!place.detected) continue;
        PoolWindow window = computePoolWindow(grids.filterHalf, grids.posShiftMax, grids.poolStep, place.rows, place.cols);
        windows[image] = windowNearElements(window, grids, elements, place);
    }
    int64_t mapCount = int64_t{imageCount} * grids.orientCount;
    auto* stray = static_cast<uint8_t*>(hostCalloc(static_cast<size_t>(mapCount), sizeof(uint8_t)));
#pragma omp parallel for schedule(dynamic) num_threads(threadCountFor(mapCount))
    for (int64_t map = 0; map < mapCount; ++map) {
        int32_t image = static_cast<int32_t>(map % imageCount);
        if (isEmpty(windows[image])) continue;
        stray[map] = !windowHoldsSlots(grids.traceMaps[map], pooledRows[image], windows[image], shiftCount);
    }
    // Images in order, as the refusal names the first stray value of the first image holding one.
    for (int32_t image = 0; image < imageCount; ++image) {
        for (int32_t o = 0; o < grids.orientCount; ++o) {
            if (!stray[image + int64_t{o} * imageCount]) continue;
            requireSlotsInWindow(args, traceMapsPosition, grids.traceMaps, imageCount, grids.orientCount, image,
                                 pooledRows[image], windows[image], shiftCount);
        }
    }
    mxFree(stray);
    mxFree(pooledRows);
    mxFree(windows);
}

// Clears every image's sketch (nothing when the sketches were declined).
void clearSketches(const RecoverSettings& settings, const ImageSizes& sizes, const double* anchorRows,
                   const double* anchorCols, const InhibitGrids& grids) {
    if (settings.imageSketches == nullptr) return;
    for (int32_t image = 0; image < grids.imageCount; ++image) {
        clearSketch(settings.imageSketches[image], placementOf(sizes, anchorRows, anchorCols, image, grids.poolStep));
    }
}

// The number of images with a detection.
int32_t detectedCountOf(const ImageSizes& sizes, const double* anchorRows, const double* anchorCols,
                        const InhibitGrids& grids) {
    int32_t count = 0;
    for (int32_t image = 0; image < grids.imageCount; ++image) {
        count += placementOf(sizes, anchorRows, anchorCols, image, grids.poolStep).detected ? 1 : 0;
    }
    return count;
}

// Inhibition work for threadCount threads, sized for the images with a detection (the others
// are never inhibited); the works share one set of NaN flags, each image's part cleared and
// used by the one thread that inhibits that image.
InhibitWork* prepareWorks(const ShiftTable& shifts, const InhibitGrids& grids, const ImageSizes& sizes,
                          const double* anchorRows, const double* anchorCols, int32_t threadCount) {
    int32_t* inhibitedRows = allocArray<int32_t>(grids.imageCount);
    int32_t* inhibitedCols = allocArray<int32_t>(grids.imageCount);
    for (int32_t image = 0; image < grids.imageCount; ++image) {
        ImagePlacement place = placementOf(sizes, anchorRows, anchorCols, image, grids.poolStep);
        if (!place.detected) continue;
        inhibitedRows[image] = place.rows;
        inhibitedCols[image] = place.cols;
    }
    InhibitWork* works = allocArray<InhibitWork>(threadCount);
    InhibitedSizes inhibitedSizes{inhibitedRows, inhibitedCols, 1};
    works[0] = prepareInhibitionUnsetFlags(shifts, grids, inhibitedSizes);
    for (int32_t t = 1; t < threadCount; ++t) {
        works[t] = prepareInhibitionSharingFlags(shifts, grids, inhibitedSizes, works[0]);
    }
    mxFree(inhibitedRows);
    mxFree(inhibitedCols);
    return works;
}

void releaseWorks(InhibitWork* works, int32_t threadCount) {
    for (int32_t t = threadCount - 1; t >= 0; --t) releaseInhibition(works[t]);
    mxFree(works);
}

// Recovers image `image` with the calling thread's work when it has a detection, clearing the
// image's NaN flags first.
void recoverIfDetected(const ShiftTable& shifts, const InhibitGrids& grids, const RecoverSettings& settings,
                       const ImageSizes& sizes, const double* anchorRows, const double* anchorCols,
                       const TemplateElements& elements, int32_t image, InhibitWork& work) {
    ImagePlacement place = placementOf(sizes, anchorRows, anchorCols, image, grids.poolStep);
    if (!place.detected) return;
    forgetNaNFreedom(work, image);
    ImageExtent extent{place.rows, place.cols, place.pooledRows, place.pooledCols,
                       computePoolWindow(grids.filterHalf, grids.posShiftMax, grids.poolStep, place.rows, place.cols)};
    recoverImageInhibited(shifts, grids, settings, elements, place, extent, image, work);
}

#ifdef TARROWVETO_BLOCK
const char* const pluginName = "tarrowvetoblock";

// The arguments of a call without a crop; the crop's seven follow them.
const int32_t croplessArgCount = 32;

// A block of one image's pooled and trace maps, copied before the image is inhibited into
// orientCount crop maps of each kind (image -1: no crop). Positions are 0-based.
struct MapCrop {
    int32_t image;
    int32_t mapRows;
    int32_t firstRow;
    int32_t firstCol;
    int32_t rows;
    int32_t cols;
    float* const* pooledCrops;
    float* const* traceCrops;
};

// Reads the crop's image (from 1), first pooled row and column (from 1), its rows and columns
// (at least 1, within the image's pooled maps) and its two lists of orientCount maps of at
// least rows * cols values, written.
MapCrop readMapCrop(ArgList& args, const ImageSizes& sizes, int32_t imageCount, int32_t orientCount,
                    int32_t poolStep) {
    MapCrop crop;
    crop.image = readIntArg(args, 1, imageCount) - 1;
    crop.mapRows = pooledSizeOf(roundHalfUp(sizes.rows[crop.image]), poolStep);
    int32_t mapCols = pooledSizeOf(roundHalfUp(sizes.cols[crop.image]), poolStep);
    crop.firstRow = readIntArg(args, 1, crop.mapRows) - 1;
    crop.firstCol = readIntArg(args, 1, mapCols) - 1;
    crop.rows = readIntArg(args, 1, crop.mapRows - crop.firstRow);
    crop.cols = readIntArg(args, 1, mapCols - crop.firstCol);
    int64_t values = int64_t{crop.rows} * crop.cols;
    auto cropValues = [&](int32_t) { return values; };
    crop.pooledCrops = readCellList<float>(args, orientCount, Access::written, cropValues);
    crop.traceCrops = readCellList<float>(args, orientCount, Access::written, cropValues);
    return crop;
}

// Copies the crop's block of every orientation's pooled and trace map, column by column.
void copyMapCrop(const MapCrop& crop, const InhibitGrids& grids) {
    for (int32_t o = 0; o < grids.orientCount; ++o) {
        int32_t c = crop.image + o * grids.imageCount;
        for (int32_t j = 0; j < crop.cols; ++j) {
            int64_t from = int64_t{crop.firstCol + j} * crop.mapRows + crop.firstRow;
            int64_t to = int64_t{j} * crop.rows;
            std::copy_n(grids.pooledMaps[c] + from, crop.rows, crop.pooledCrops[o] + to);
            std::copy_n(grids.traceMaps[c] + from, crop.rows, crop.traceCrops[o] + to);
        }
    }
}

// 0-based position of scoreMaps, for the size refusal made before it is read.
const int32_t scoreMapsPosition = 27;

// The score maps and, per image, the bounds of the block of anchors scored again.
struct RescoredBlocks {
    float* const* scoreMaps;
    BlockBounds bounds;
    int32_t templateRows;
    int32_t templateCols;
};

// Spins until another thread has set the flag (with release order), so that what that thread
// wrote before setting it is seen.
void waitUntilSet(const uint8_t* flag) {
    while (__atomic_load_n(flag, __ATOMIC_ACQUIRE) == 0) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
}

// Recovers every image with a detection, as tarrowveto does, and scores each image's block
// again once that image is recovered. The threads first take the images to recover, copying
// the crop of its image before recovering it; a thread with none left takes the blocks' pieces
// of columns in image order, waiting, where it must, for the image's recovery to end. Every
// allocation is made before the first write.
void recoverAndRescore(const InhibitGrids& grids, const RecoverSettings& settings, const ImageSizes& sizes,
                       const double* anchorRows, const double* anchorCols, const TemplateElements& elements,
                       int32_t orientShiftMax, const RescoredBlocks& blocks, const MapCrop& crop) {
    int32_t imageCount = grids.imageCount;
    scoring::TemplateElement* scored =
        scoring::convertElements(elements.count, elements.orients, elements.rowOffsets, elements.colOffsets,
                                 settings.elementWeights, settings.elementBiases);
    scoring::AnchorGrid* anchorBlocks = scoring::anchorGridsOf(sizes, imageCount, grids.poolStep, blocks.templateRows,
                                                               blocks.templateCols, &blocks.bounds);
    scoring::ScoreCall rescoring{scored,
                                 elements.count,
                                 scoring::ScoreGrids{grids.pooledMaps, blocks.scoreMaps, settings.normalizerMaps,
                                                     imageCount},
                                 sizes,
                                 anchorBlocks,
                                 grids.poolStep,
                                 blocks.templateRows,
                                 blocks.templateCols,
                                 saturationLevelOf(settings.saturationLevel),
                                 scoring::ScoreMode::rescore};
    bool placed = anyElementPlaced(sizes, anchorRows, anchorCols, imageCount, grids.poolStep, elements);
    scoring::ScoringWork scoringWork =
        scoring::prepareScoring(rescoring, placed ? detectedCountOf(sizes, anchorRows, anchorCols, grids) : 0);
    int32_t threadCount = scoringWork.threadCount;
    ShiftTable shifts{};
    InhibitWork* works = nullptr;
    if (placed) {
        shifts = buildShiftTables(grids.orientCount, grids.posShiftMax, orientShiftMax, grids.poolStep);
        works = prepareWorks(shifts, grids, sizes, anchorRows, anchorCols, threadCount);
    }
    // recovered[image] is set once the image's maps are final: at once where nothing inhibits.
    auto* recovered = static_cast<uint8_t*>(hostCalloc(static_cast<size_t>(imageCount), sizeof(uint8_t)));
    for (int32_t image = 0; image < imageCount; ++image) {
        recovered[image] = placed && placementOf(sizes, anchorRows, anchorCols, image, grids.poolStep).detected ? 0 : 1;
    }
    clearSketches(settings, sizes, anchorRows, anchorCols, grids);
#pragma omp parallel num_threads(threadCount)
    {
        scoring::ThreadScoring memory = scoring::threadScoringOf(scoringWork, threadNumber());
#pragma omp for schedule(dynamic) nowait
        for (int32_t image = 0; image < imageCount; ++image) {
            if (image == crop.image) copyMapCrop(crop, grids);
            if (recovered[image]) continue;
            recoverIfDetected(shifts, grids, settings, sizes, anchorRows, anchorCols, elements, image,
                              works[threadNumber()]);
            __atomic_store_n(&recovered[image], 1, __ATOMIC_RELEASE);
        }
        // A thread gets here only when every image has been taken, so each wait ends.
#pragma omp for schedule(dynamic)
        for (int64_t k = 0; k < scoringWork.list.count; ++k) {
            const WorkPiece& piece = scoringWork.list.pieces[k];
            waitUntilSet(&recovered[piece.item]);
            scoring::scorePiece(rescoring, piece, memory);
        }
    }
    mxFree(recovered);
    if (placed) {
        releaseWorks(works, threadCount);
        freeShiftTables(shifts, grids.orientCount);
    }
    scoring::releaseScoring(scoringWork);
    mxFree(anchorBlocks);
    mxFree(scored);
}
#else
const char* const pluginName = "tarrowveto";
#endif

void tarrowveto(int nlhs, int nrhs, const mxArray* prhs[]) {
#ifdef TARROWVETO_BLOCK
    // The crop's arguments are optional: a call that passes any of them must pass all.
    bool cropping = nrhs > croplessArgCount;
    ArgList args = beginArgs(argNames, cropping ? static_cast<int32_t>(std::size(argNames)) : croplessArgCount,
                             nlhs, nrhs, prhs);
#else
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
#endif
    InhibitGrids grids;
    RecoverSettings settings;
    grids.imageCount = readIntArg(args, 0);
    int32_t imageCount = grids.imageCount;
    ImageSizes sizes = readImageSizes(args, imageCount);
    ShiftParams q = readShiftParams(args, largestSideOf(sizes, imageCount));
    grids.orientCount = q.orientCount;
    int32_t orientCount = q.orientCount;
    grids.posShiftMax = q.posShiftMax;
    int32_t orientShiftMax = q.orientShiftMax;
    grids.poolStep = q.poolStep;
    auto imageValues = [&](int32_t image) { return imageValueCount(sizes, image); };
    requireShiftsJustified(q.positions, orientCount, grids.posShiftMax, orientShiftMax,
                           gridValuesForShifts(imageCount, orientCount, imageValues));
    grids.filterHalf = readIntArg(args, 0, filterHalfLimit);
    int64_t stampSide = 2 * int64_t{grids.filterHalf} + 1;
    int64_t overlapSide = 4 * int64_t{grids.filterHalf} + 1;
    settings.orientStamps = readCellList<double>(args, orientCount, Access::read,
                                                 [&](int32_t) { return stampSide * stampSide; });
    TemplateElements elements = readTemplateElements(args, orientCount);
    settings.elementWeights = readArrayArg<double>(args, elements.count, Access::read);
    settings.elementBiases = readArrayArg<double>(args, elements.count, Access::read);
    auto pooledValues = [&](int32_t image) { return pooledValueCount(sizes, image, grids.poolStep); };
    grids.responseMaps = readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::written, imageValues);
    grids.pooledMaps = readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::written, pooledValues);
    grids.traceMaps = readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::written, pooledValues);
    // An empty cell array declines the sketches: the call inhibits and scores without drawing.
    settings.imageSketches =
        takeEmptyCell(args) ? nullptr : readCellList<float>(args, imageCount, Access::written, imageValues);
    const double* anchorRows = readAnchorArg(args, imageCount);
    const double* anchorCols = readAnchorArg(args, imageCount);
    settings.saturationLevel = readRealArg(args, RealRule::finiteNonzero);
    int32_t templateRows = readIntArg(args, 0);
    int32_t templateCols = readIntArg(args, 0);
    settings.geometry = templateGeometryOf(templateRows, templateCols, grids.poolStep);
    grids.overlapTable = readCellGrid<double>(args, orientCount, orientCount, overlapAxes,
                                              Access::read, [&](int32_t) { return overlapSide * overlapSide; });
    settings.imageScores = readArrayArg<float>(args, imageCount, Access::written);
    settings.normalizerMaps = readCellList<float>(args, imageCount, Access::read, imageValues);
#ifdef TARROWVETO_BLOCK
    RescoredBlocks blocks;
    requireScoreMapsIndexable(args, scoreMapsPosition, sizes, imageCount, templateRows, templateCols, grids.poolStep);
    blocks.scoreMaps = readCellList<float>(args, imageCount, Access::written, [&](int32_t image) {
        return scoreValueCountOf(templateRows, templateCols, roundHalfUp(sizes.rows[image]),
                                 roundHalfUp(sizes.cols[image]), grids.poolStep);
    });
    blocks.bounds = readBlockBounds(args, imageCount);
    blocks.templateRows = templateRows;
    blocks.templateCols = templateCols;
    MapCrop crop{-1, 0, 0, 0, 0, 0, nullptr, nullptr};
    if (cropping) crop = readMapCrop(args, sizes, imageCount, orientCount, grids.poolStep);
#endif
    endArgs(args);

    int32_t shiftCount = shiftCountOf(grids.posShiftMax, orientShiftMax);
    requireSlotsAtElements(args, traceMapsPosition, grids.traceMaps, sizes, anchorRows, anchorCols, imageCount,
                           grids.poolStep, elements, shiftCount);
    requireSlotsInWindows(args, grids, sizes, anchorRows, anchorCols, elements, shiftCount);
#ifdef TARROWVETO_BLOCK
    recoverAndRescore(grids, settings, sizes, anchorRows, anchorCols, elements, orientShiftMax, blocks, crop);
#else
    // Each image draws into and inhibits only its own maps, so all sketches can be cleared
    // first; the tables are built only when some element is drawn.
    clearSketches(settings, sizes, anchorRows, anchorCols, grids);
    if (!anyElementPlaced(sizes, anchorRows, anchorCols, imageCount, grids.poolStep, elements)) return;
    ShiftTable shifts = buildShiftTables(orientCount, grids.posShiftMax, orientShiftMax, grids.poolStep);
    int32_t threadCount = threadCountFor(detectedCountOf(sizes, anchorRows, anchorCols, grids));
    InhibitWork* works = prepareWorks(shifts, grids, sizes, anchorRows, anchorCols, threadCount);
    // Images change only their own maps, sketch and score, so each is recovered by the one
    // thread that takes it, with inhibition work of that thread's own.
#pragma omp parallel for num_threads(threadCount) schedule(dynamic)
    for (int32_t image = 0; image < imageCount; ++image) {
        recoverIfDetected(shifts, grids, settings, sizes, anchorRows, anchorCols, elements, image,
                          works[threadNumber()]);
    }
    releaseWorks(works, threadCount);
    freeShiftTables(shifts, orientCount);
#endif
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin(pluginName, tarrowveto, nlhs, nrhs, prhs);
}
