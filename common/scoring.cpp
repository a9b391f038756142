#include "scoring.h"

#include <algorithm>
#include <cmath>

namespace scoring {

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

namespace {

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

// The kernel for the anchor columns with indices bFirst ... bEnd - 1 of `anchors` (all of an
// image's anchors, or a block of them), `memory.placed` holding where the elements fall for
// those anchors: adds every such anchor's template score into the score map, or sets it there
// unless it holds ruledOutScore, the normalizer read once per placement at the pixel under the
// template's centre. Each score meets the elements in order 0 ... K-1; as a score depends only
// on its own placement, the placements are taken an anchor column at a time, and within a
// column element by element, which walks the score and pooled maps in storage order.
void scoreColumns(const ScoreCall& call, int32_t image, const ImageGeometry& g, const TemplateGeometry& t,
                  const AnchorGrid& anchors, const ThreadScoring& memory, int32_t bFirst, int32_t bEnd) {
    bool rescore = call.mode == ScoreMode::rescore;
    int32_t scoreRows = static_cast<int32_t>(g.scoreRows);
    int32_t scoreCols = static_cast<int32_t>(g.scoreCols);
    const float* normalizers = call.grids.normalizerMaps[image];
    for (int32_t b = bFirst; b < bEnd; ++b) {
        int64_t cy = (int64_t{anchors.cols.first} + b + t.centerColOffset) * call.poolStep;
        for (int32_t a = 0; a < anchors.rows.count; ++a) {
            int64_t cx = (int64_t{anchors.rows.first} + a + t.centerRowOffset) * call.poolStep;
            memory.columnNormalizers[a] = normalizerAt(normalizers, g.rows, g.cols, cx, cy);
        }
        // Anchor (first + a, first + b) has score position (first + a + rowsPooled, ...).
        float* scores = call.grids.scoreMaps[image] + cmIndex(anchors.rows.first + t.rowsPooled,
                                                              anchors.cols.first + b + t.colsPooled, scoreRows,
                                                              scoreCols);
        float* column = rescore ? memory.freshScores : scores;
        if (rescore) std::fill(column, column + anchors.rows.count, 0.0f);
        for (int32_t k = 0; k < call.elementCount; ++k) {
            addElementToColumn(column, memory.columnNormalizers, anchors.rows.count, memory.placed[k],
                               call.elements[k], b, g, call.level);
        }
        for (int32_t a = 0; a < anchors.rows.count && rescore; ++a) {
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

// One side of a block: the bounds rounded half up and clipped to the anchors `all`.
AnchorSpan blockSideOf(double first, double last, AnchorSpan all) {
    if (all.count == 0) return AnchorSpan{all.first, 0};
    AnchorBounds side = clippedAnchorsOf(first, last, all.first, all.first + (all.count - 1));
    return AnchorSpan{side.first, std::max(0, side.last - side.first + 1)};
}

}  // namespace

TemplateElement* convertElements(int32_t elementCount, const double* orients, const double* rowOffsets,
                                 const double* colOffsets, const double* weights, const double* biases) {
    TemplateElement* elements = allocArray<TemplateElement>(elementCount);
    for (int32_t k = 0; k < elementCount; ++k) {
        elements[k] = TemplateElement{roundHalfUp(orients[k]), roundHalfUp(rowOffsets[k]),
                                      roundHalfUp(colOffsets[k]), weights[k], biases[k]};
    }
    return elements;
}

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

AnchorGrid anchorGridOf(const ImageGeometry& g, const TemplateGeometry& t) {
    int64_t rowCount = anchorCountOf(t.rowsPooled, g.pooledRows);
    int64_t colCount = anchorCountOf(t.colsPooled, g.pooledCols);
    if (rowCount == 0 || colCount == 0) return AnchorGrid{{0, 0}, {0, 0}};
    // Nonempty anchor spans lie within a score map that requireScoreMapsIndexable admitted.
    return AnchorGrid{{1 - t.rowsPooled, static_cast<int32_t>(rowCount)},
                      {1 - t.colsPooled, static_cast<int32_t>(colCount)}};
}

AnchorGrid* anchorGridsOf(const ImageSizes& sizes, int32_t imageCount, int32_t poolStep, int32_t templateRows,
                          int32_t templateCols, const BlockBounds* bounds) {
    TemplateGeometry t = templateGeometryOf(templateRows, templateCols, poolStep);
    AnchorGrid* grids = allocArray<AnchorGrid>(imageCount);
    for (int32_t image = 0; image < imageCount; ++image) {
        AnchorGrid all = anchorGridOf(geometryOf(sizes, image, poolStep, templateRows, templateCols), t);
        if (bounds == nullptr) {
            grids[image] = all;
            continue;
        }
        grids[image] = AnchorGrid{blockSideOf(bounds->firstRows[image], bounds->lastRows[image], all.rows),
                                  blockSideOf(bounds->firstCols[image], bounds->lastCols[image], all.cols)};
        if (grids[image].rows.count == 0) grids[image].cols.count = 0;
    }
    return grids;
}

ScoringWork prepareScoring(const ScoreCall& call, int64_t otherItems) {
    ScoringWork work;
    work.list = cutIntoPieces(call.grids.imageCount, columnsPerPiece,
                              [&](int32_t image) { return call.anchorGrids[image].cols.count; });
    work.threadCount = threadCountFor(work.list.count + otherItems);
    work.elementCount = call.elementCount;
    work.columnLength = largestAnchorRowCount(call.anchorGrids, call.grids.imageCount);
    work.placed = allocTable2D<PlacedElement>(work.threadCount, call.elementCount);
    work.columnNormalizers = allocTable2D<float>(work.threadCount, work.columnLength);
    work.freshScores = allocTable2D<float>(work.threadCount, work.columnLength);
    return work;
}

void releaseScoring(const ScoringWork& work) {
    freeTable2D(work.freshScores, work.threadCount, work.columnLength);
    freeTable2D(work.columnNormalizers, work.threadCount, work.columnLength);
    freeTable2D(work.placed, work.threadCount, work.elementCount);
    mxFree(work.list.pieces);
}

ThreadScoring threadScoringOf(const ScoringWork& work, int32_t thread) {
    return ThreadScoring{work.placed[thread], work.columnNormalizers[thread], work.freshScores[thread], -1};
}

void scorePiece(const ScoreCall& call, const WorkPiece& piece, ThreadScoring& memory) {
    TemplateGeometry t = templateGeometryOf(call.templateRows, call.templateCols, call.poolStep);
    ImageGeometry g = geometryOf(call.sizes, piece.item, call.poolStep, call.templateRows, call.templateCols);
    const AnchorGrid& anchors = call.anchorGrids[piece.item];
    if (memory.placedImage != piece.item) {
        placeElements(call.elements, call.elementCount, call.grids, piece.item, g, anchors.rows, anchors.cols,
                      memory.placed);
        memory.placedImage = piece.item;
    }
    scoreColumns(call, piece.item, g, t, anchors, memory, piece.first, piece.end);
}

void scoreImages(const ScoreCall& call) {
    ScoringWork work = prepareScoring(call, 0);
#pragma omp parallel num_threads(work.threadCount)
    {
        ThreadScoring memory = threadScoringOf(work, threadNumber());
#pragma omp for schedule(dynamic)
        for (int64_t k = 0; k < work.list.count; ++k) scorePiece(call, work.list.pieces[k], memory);
    }
    releaseScoring(work);
}

}  // namespace scoring
