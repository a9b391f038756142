// gastrel: scores a template of oriented elements against the pooled response maps of a set
// of images at every placement of its anchor on the pooled grid, and adds the scores into one
// score map per image.
//
// Compiled with GASTREL_BLOCK, the same source is gastrelblock: it scores again, in place, only
// the anchors of one block per image (four more arguments give each block's bounds), so that a
// search can bring the placements an inhibition touched up to date without scoring the whole
// map. A block's new scores are those gastrel adds into a zero map; a placement holding the
// ruled-out score single(-1e10) keeps it.

#include <algorithm>
#include <cmath>

#include "frame.h"
#include "placement.h"
#include "threads.h"
#include "vector_saturation.h"

namespace {

// One template element with its orientation and offsets rounded once per call.
struct TemplateElement {
    int32_t orient;
    int32_t rowOffset;
    int32_t colOffset;
    double weight;
    double bias;
};

// An element as it falls on one image: the pooled map of its orientation; the anchors that put
// it inside the pooled map, as 0-based indices rowBegin ... rowEnd-1 into the image's anchor
// rows and colBegin ... colEnd-1 into its anchor columns; and the pooled row and column it
// reads at anchor indices (rowBegin, colBegin).
struct PlacedElement {
    const float* map;
    int32_t rowBegin;
    int32_t rowEnd;
    int32_t colBegin;
    int32_t colEnd;
    int32_t firstRow;
    int32_t firstCol;
};

// The maps of one call: pooledMaps by image + orient * imageCount, the others by image.
struct ScoreGrids {
    const float* const* pooledMaps;
    float* const* scoreMaps;
    const float* const* normalizerMaps;
    int32_t imageCount;
};

// One image's full-resolution, pooled and score-map sizes. Score position (rho, sigma) belongs
// to the anchor (rho - rowsPooled, sigma - colsPooled) of the template geometry.
struct ImageGeometry {
    int32_t rows;
    int32_t cols;
    int32_t pooledRows;
    int32_t pooledCols;
    int64_t scoreRows;
    int64_t scoreCols;
};

ImageGeometry geometryOf(const ImageSizes& sizes, int32_t image, int32_t poolStep, int32_t templateRows,
                         int32_t templateCols) {
    int32_t rows = roundHalfUp(sizes.rows[image]);
    int32_t cols = roundHalfUp(sizes.cols[image]);
    return ImageGeometry{rows,
                         cols,
                         pooledSizeOf(rows, poolStep),
                         pooledSizeOf(cols, poolStep),
                         scoreSizeOf(templateRows, rows, poolStep),
                         scoreSizeOf(templateCols, cols, poolStep)};
}

// The anchors of one side: first, first + 1, ..., first + count - 1.
struct AnchorSpan {
    int32_t first;
    int32_t count;
};

// The number of anchors 1 - templatePooled ... pooledSide, counted in 64 bits (0 for none).
int64_t anchorCountOf(int32_t templatePooled, int32_t pooledSide) {
    return std::max<int64_t>(0, int64_t{pooledSide} + templatePooled);
}

// Anchor indices begin ... end-1 of `anchors` that move a position `offset` away into
// 1 ... pooledSide, and the position reached from index begin (0 when there are none). Formed
// in 64 bits, so any offset is safe.
struct InsideRange {
    int32_t begin;
    int32_t end;
    int32_t firstPooled;
};

InsideRange anchorsLandingInside(AnchorSpan anchors, int32_t offset, int32_t pooledSide) {
    int64_t shift = int64_t{anchors.first} + offset;  // pooled position of anchor index 0
    int64_t begin = std::min<int64_t>(std::max<int64_t>(0, 1 - shift), anchors.count);
    int64_t end = std::max<int64_t>(begin, std::min<int64_t>(anchors.count, pooledSide - shift + 1));
    int32_t firstPooled = begin < end ? static_cast<int32_t>(shift + begin) : 0;
    return InsideRange{static_cast<int32_t>(begin), static_cast<int32_t>(end), firstPooled};
}

// Rounds the element arrays once: orientations and offsets to integers, weights and biases as
// given.
TemplateElement* convertElements(int32_t elementCount, const double* orients, const double* rowOffsets,
                                 const double* colOffsets, const double* weights, const double* biases) {
    TemplateElement* elements = allocArray<TemplateElement>(elementCount);
    for (int32_t k = 0; k < elementCount; ++k) {
        elements[k] = TemplateElement{roundHalfUp(orients[k]), roundHalfUp(rowOffsets[k]),
                                      roundHalfUp(colOffsets[k]), weights[k], biases[k]};
    }
    return elements;
}

// Sets, for every element, its pooled map in this image and the anchors that keep it inside.
void placeElements(const TemplateElement* elements, int32_t elementCount, const ScoreGrids& grids,
                   int32_t image, const ImageGeometry& g, AnchorSpan anchorRows, AnchorSpan anchorCols,
                   PlacedElement* placed) {
    for (int32_t k = 0; k < elementCount; ++k) {
        InsideRange inRows = anchorsLandingInside(anchorRows, elements[k].rowOffset, g.pooledRows);
        InsideRange inCols = anchorsLandingInside(anchorCols, elements[k].colOffset, g.pooledCols);
        placed[k] = PlacedElement{grids.pooledMaps[image + elements[k].orient * grids.imageCount],
                                  inRows.begin, inRows.end, inCols.begin, inCols.end,
                                  inRows.firstPooled, inCols.firstPooled};
    }
}

// Adds one element's term to the scores of the anchor column with index b; scores and
// normalizers hold one value per anchor row. Inside the pooled map the term is
// w * saturate(r / n, s) - b, formed in double and added to the score, which is rounded to
// single; outside, the bias is subtracted in double and the score rounded to single. Inside,
// eight neighbouring placements at a time divide, saturate (vector_saturation.h) and add.
SATURATION_CLONES void addElementToColumn(float* scores, const float* normalizers, int32_t rowCount,
                                          const PlacedElement& p, const TemplateElement& e, int32_t b,
                                          const ImageGeometry& g, const SaturationLevel& level) {
    double s = level.s;
    bool columnInside = b >= p.colBegin && b < p.colEnd;
    int32_t begin = columnInside ? p.rowBegin : rowCount;
    int32_t end = columnInside ? p.rowEnd : rowCount;
    for (int32_t a = 0; a < begin; ++a) scores[a] = static_cast<float>(scores[a] - e.bias);
    if (begin < end) {
        const float* responses = p.map + cmIndex(p.firstRow, p.firstCol + (b - p.colBegin), g.pooledRows, g.pooledCols);
        int32_t a = begin;
        for (; a + saturationLanes <= end; a += saturationLanes) {
            SaturationFloats r, n, t;
            __builtin_memcpy(&r, responses + (a - begin), sizeof(r));
            __builtin_memcpy(&n, normalizers + a, sizeof(n));
            saturateEveryLane(r / n, level, t);
            SaturationFloats before;
            __builtin_memcpy(&before, scores + a, sizeof(before));
            SaturationDoubles term = e.weight * __builtin_convertvector(t, SaturationDoubles) - e.bias;
            SaturationFloats after =
                __builtin_convertvector(__builtin_convertvector(before, SaturationDoubles) + term, SaturationFloats);
            __builtin_memcpy(scores + a, &after, sizeof(after));
        }
        for (; a < end; ++a) {
            float t = saturate(responses[a - begin] / normalizers[a], s);
            scores[a] = static_cast<float>(scores[a] + (e.weight * t - e.bias));
        }
    }
    for (int32_t a = end; a < rowCount; ++a) scores[a] = static_cast<float>(scores[a] - e.bias);
}

// The anchors of one image, rows and columns: anchor (rows.first + a, cols.first + b) has
// score position (a + 1, b + 1). Both counts are 0 when either side has no anchor.
struct AnchorGrid {
    AnchorSpan rows;
    AnchorSpan cols;
};

AnchorGrid anchorGridOf(const ImageGeometry& g, const TemplateGeometry& t) {
    int64_t rowCount = anchorCountOf(t.rowsPooled, g.pooledRows);
    int64_t colCount = anchorCountOf(t.colsPooled, g.pooledCols);
    if (rowCount == 0 || colCount == 0) return AnchorGrid{{0, 0}, {0, 0}};
    // Nonempty anchor spans lie within a score map that requireScoreMapsIndexable admitted.
    return AnchorGrid{{1 - t.rowsPooled, static_cast<int32_t>(rowCount)},
                      {1 - t.colsPooled, static_cast<int32_t>(colCount)}};
}

#ifdef GASTREL_BLOCK
const char* const pluginName = "gastrelblock";
// Whether the scores are set anew (gastrelblock) rather than added to (gastrel).
constexpr bool rescoresInPlace = true;
#else
const char* const pluginName = "gastrel";
constexpr bool rescoresInPlace = false;
#endif

// The score a placement keeps once ruled out (lurvane's floor): gastrelblock never rescores it.
constexpr float ruledOutScore = -1e10f;

// Working memory of one thread: where the elements fall on the image it scores (elementCount
// entries, set for image placedImage; -1 before the first), a column of normalizers and, for
// gastrelblock, a column of fresh scores.
struct ScoreWork {
    PlacedElement* placed;
    float* columnNormalizers;
    float* freshScores;
    int32_t placedImage;
};

// The kernel for the anchor columns with indices bFirst ... bEnd - 1 of `anchors` (all of an
// image's anchors, or gastrelblock's block of them), `placed` holding where the elements fall
// for those anchors: adds every such anchor's template score into the score map (gastrel), or
// sets it there unless it holds ruledOutScore (gastrelblock), the normalizer read once per
// placement at the pixel under the template's centre. Each score meets the elements in order
// 0 ... K-1; as a score depends only on its own placement, the placements are taken an anchor
// column at a time, and within a column element by element, which walks the score and pooled
// maps in storage order.
void scoreColumns(const TemplateElement* elements, int32_t elementCount, const ScoreGrids& grids, int32_t image,
                  const ImageGeometry& g, const TemplateGeometry& t, const AnchorGrid& anchors, int32_t poolStep,
                  const SaturationLevel& level, const ScoreWork& work, int32_t bFirst, int32_t bEnd) {
    int32_t scoreRows = static_cast<int32_t>(g.scoreRows);
    int32_t scoreCols = static_cast<int32_t>(g.scoreCols);
    const float* normalizers = grids.normalizerMaps[image];
    for (int32_t b = bFirst; b < bEnd; ++b) {
        int64_t cy = (int64_t{anchors.cols.first} + b + t.centerColOffset) * poolStep;
        for (int32_t a = 0; a < anchors.rows.count; ++a) {
            int64_t cx = (int64_t{anchors.rows.first} + a + t.centerRowOffset) * poolStep;
            work.columnNormalizers[a] = normalizerAt(normalizers, g.rows, g.cols, cx, cy);
        }
        // Anchor (first + a, first + b) has score position (first + a + rowsPooled, ...).
        float* scores = grids.scoreMaps[image] + cmIndex(anchors.rows.first + t.rowsPooled,
                                                         anchors.cols.first + b + t.colsPooled, scoreRows, scoreCols);
        float* column = rescoresInPlace ? work.freshScores : scores;
        if (rescoresInPlace) std::fill(column, column + anchors.rows.count, 0.0f);
        for (int32_t k = 0; k < elementCount; ++k) {
            addElementToColumn(column, work.columnNormalizers, anchors.rows.count, work.placed[k], elements[k], b, g,
                               level);
        }
        for (int32_t a = 0; a < anchors.rows.count && rescoresInPlace; ++a) {
            if (scores[a] != ruledOutScore) scores[a] = column[a];
        }
    }
}

// The most anchor rows of any grid with anchor columns: the length of the per-column buffers.
int32_t largestAnchorRowCount(const AnchorGrid* anchorGrids, int32_t imageCount) {
    int32_t largest = 0;
    for (int32_t image = 0; image < imageCount; ++image) {
        if (anchorGrids[image].cols.count > 0) largest = std::max(largest, anchorGrids[image].rows.count);
    }
    return largest;
}

// Anchor columns per unit of the threads' work: enough to outweigh the handing out, few enough
// that a small image still gives every thread a share.
const int32_t columnsPerPiece = 8;

// Scores the anchors anchorGrids[image] of every image, each grid's anchor columns cut into
// pieces that the threads share out. Every score column is written by the one thread that takes
// its piece, element by element in order, as on one thread.
void scoreImages(const TemplateElement* elements, int32_t elementCount, const ScoreGrids& grids,
                 const ImageSizes& sizes, const AnchorGrid* anchorGrids, int32_t poolStep, int32_t templateRows,
                 int32_t templateCols, const SaturationLevel& level) {
    TemplateGeometry t = templateGeometryOf(templateRows, templateCols, poolStep);
    auto geometry = [&](int32_t image) { return geometryOf(sizes, image, poolStep, templateRows, templateCols); };
    PieceList list = cutIntoPieces(grids.imageCount, columnsPerPiece,
                                   [&](int32_t image) { return anchorGrids[image].cols.count; });
    int32_t threadCount = threadCountFor(list.count);
    int32_t columnLength = largestAnchorRowCount(anchorGrids, grids.imageCount);
    PlacedElement** placed = allocTable2D<PlacedElement>(threadCount, elementCount);
    float** columnNormalizers = allocTable2D<float>(threadCount, columnLength);
    float** freshScores = allocTable2D<float>(threadCount, columnLength);
#pragma omp parallel num_threads(threadCount)
    {
        ScoreWork work{placed[threadNumber()], columnNormalizers[threadNumber()], freshScores[threadNumber()], -1};
#pragma omp for schedule(dynamic)
        for (int64_t k = 0; k < list.count; ++k) {
            const WorkPiece& piece = list.pieces[k];
            ImageGeometry g = geometry(piece.item);
            const AnchorGrid& anchors = anchorGrids[piece.item];
            if (work.placedImage != piece.item) {
                placeElements(elements, elementCount, grids, piece.item, g, anchors.rows, anchors.cols, work.placed);
                work.placedImage = piece.item;
            }
            scoreColumns(elements, elementCount, grids, piece.item, g, t, anchors, poolStep, level, work, piece.first,
                         piece.end);
        }
    }
    freeTable2D(freshScores, threadCount, columnLength);
    freeTable2D(columnNormalizers, threadCount, columnLength);
    freeTable2D(placed, threadCount, elementCount);
    mxFree(list.pieces);
}

#ifdef GASTREL_BLOCK
// One side of an image's block: the bounds rounded half up and clipped to the image's anchors
// `all` (an infinite bound reaches the edge); no anchor when a bound is NaN or nothing is left.
AnchorSpan blockSideOf(double first, double last, AnchorSpan all) {
    if (all.count == 0) return AnchorSpan{all.first, 0};
    AnchorBounds side = clippedAnchorsOf(first, last, all.first, all.first + (all.count - 1));
    return AnchorSpan{side.first, std::max(0, side.last - side.first + 1)};
}
#endif

// 0-based position of scoreMaps, for the size refusal made before it is read.
const int32_t scoreMapsPosition = 14;

const char* const argNames[] = {"imageCount",        "imageRows",         "imageCols",      "orientCount",
                                "poolStep",          "templateRows",      "templateCols",   "elementCount",
                                "elementOrients",    "elementRowOffsets", "elementColOffsets",
                                "elementWeights",    "elementBiases",     "pooledMaps",     "scoreMaps",
                                "normalizerMaps",    "saturationLevel"
#ifdef GASTREL_BLOCK
                                ,
                                "firstAnchorRows",   "lastAnchorRows",    "firstAnchorCols", "lastAnchorCols"
#endif
};

void gastrel(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t imageCount = readIntArg(args, 0);
    ImageSizes sizes = readImageSizes(args, imageCount);
    int32_t orientCount = readIntArg(args, 1);
    int32_t poolStep = readIntArg(args, 1);
    int32_t templateRows = readIntArg(args, 0);
    int32_t templateCols = readIntArg(args, 0);
    int32_t elementCount = readIntArg(args, 0);
    const double* orients = readIntArrayArg(args, elementCount, 0, orientCount - 1);
    const double* rowOffsets = readIntArrayArg(args, elementCount);
    const double* colOffsets = readIntArrayArg(args, elementCount);
    const double* weights = readArrayArg<double>(args, elementCount, Access::read);
    const double* biases = readArrayArg<double>(args, elementCount, Access::read);
    auto geometry = [&](int32_t image) { return geometryOf(sizes, image, poolStep, templateRows, templateCols); };
    auto pooledValues = [&](int32_t image) {
        ImageGeometry g = geometry(image);
        return static_cast<int64_t>(g.pooledRows) * g.pooledCols;
    };
    auto scoreValues = [&](int32_t image) {
        ImageGeometry g = geometry(image);
        return scoreValueCountOf(templateRows, templateCols, g.rows, g.cols, poolStep);
    };
    auto imageValues = [&](int32_t image) { return imageValueCount(sizes, image); };
    ScoreGrids grids;
    grids.imageCount = imageCount;
    grids.pooledMaps = readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::read, pooledValues);
    requireScoreMapsIndexable(args, scoreMapsPosition, sizes, imageCount, templateRows, templateCols, poolStep);
    grids.scoreMaps = readCellList<float>(args, imageCount, Access::written, scoreValues);
    grids.normalizerMaps = readCellList<float>(args, imageCount, Access::read, imageValues);
    double saturationLevel = readRealArg(args, RealRule::finiteNonzero);
#ifdef GASTREL_BLOCK
    const double* firstRows = readArrayArg<double>(args, imageCount, Access::read);
    const double* lastRows = readArrayArg<double>(args, imageCount, Access::read);
    const double* firstCols = readArrayArg<double>(args, imageCount, Access::read);
    const double* lastCols = readArrayArg<double>(args, imageCount, Access::read);
#endif
    endArgs(args);

    TemplateGeometry t = templateGeometryOf(templateRows, templateCols, poolStep);
    AnchorGrid* anchorGrids = allocArray<AnchorGrid>(imageCount);
    for (int32_t image = 0; image < imageCount; ++image) {
        AnchorGrid all = anchorGridOf(geometry(image), t);
#ifdef GASTREL_BLOCK
        anchorGrids[image] = AnchorGrid{blockSideOf(firstRows[image], lastRows[image], all.rows),
                                        blockSideOf(firstCols[image], lastCols[image], all.cols)};
        if (anchorGrids[image].rows.count == 0) anchorGrids[image].cols.count = 0;
#else
        anchorGrids[image] = all;
#endif
    }
    TemplateElement* elements = convertElements(elementCount, orients, rowOffsets, colOffsets, weights, biases);
    scoreImages(elements, elementCount, grids, sizes, anchorGrids, poolStep, templateRows, templateCols,
                saturationLevelOf(saturationLevel));
    mxFree(elements);
    mxFree(anchorGrids);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin(pluginName, gastrel, nlhs, nrhs, prhs);
}
