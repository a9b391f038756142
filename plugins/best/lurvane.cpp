// lurvane: finds, in every image's score map, the template placement with the highest score,
// and reports that score and the placement's anchor in pooled coordinates.
//
// Compiled with LURVANE_VETO, the same source is lurvaneveto: the step a search makes after
// each detection. It rules out the placements centred near the detection, then brings each
// image's best placement (as lurvane found it before the detection's changes) up to date,
// searching the whole map again only where the best was ruled out or lies in the block of
// anchors the detection's inhibition scored again; elsewhere the block's best takes the old
// best's place when it comes first in lurvane's order.

#include <algorithm>
#include <cmath>
#include <limits>

#include "frame.h"
#include "placement.h"
#include "shifts.h"
#include "threads.h"

namespace {

// The outputs of a call, one entry per image.
struct BestOutputs {
    float* bestScores;
    double* anchorRows;
    double* anchorCols;
};

// The best placement of one image; found is false when no score beat noResponse.
struct BestPlacement {
    float score;
    int32_t anchorRow;
    int32_t anchorCol;
    bool found;
};

// The anchors of one image's score map: 1 - rowsPooled ... pooledRows by 1 - colsPooled ...
// pooledCols, anchor (1 - rowsPooled + a, 1 - colsPooled + b) at score position (a + 1, b + 1);
// no rows and no columns when either side has none. Score rows and columns past the anchors are
// never searched.
struct AnchorGrid {
    int32_t rowCount;
    int32_t colCount;
    int32_t scoreRows;
    int32_t scoreCols;
};

// Counts are formed in 64 bits; nonempty anchor ranges lie within a score map that
// requireScoreMapsIndexable admitted.
AnchorGrid anchorGridOf(int32_t pooledRows, int32_t pooledCols, int64_t scoreRows, int64_t scoreCols,
                        const TemplateGeometry& t) {
    int64_t rowCount = int64_t{pooledRows} + t.rowsPooled;
    int64_t colCount = int64_t{pooledCols} + t.colsPooled;
    if (rowCount < 1 || colCount < 1) return AnchorGrid{0, 0, 0, 0};
    return AnchorGrid{static_cast<int32_t>(rowCount), static_cast<int32_t>(colCount), static_cast<int32_t>(scoreRows),
                      static_cast<int32_t>(scoreCols)};
}

// A block of anchor indices (index a is anchor 1 - rowsPooled + a): rows rowBegin ... rowEnd - 1
// by columns colBegin ... colEnd - 1; empty when either range is.
struct BlockIndices {
    int32_t rowBegin;
    int32_t rowEnd;
    int32_t colBegin;
    int32_t colEnd;
};

// Whether `candidate` comes before `best` in the search's order: anything found before nothing,
// then a higher score, then, of equal scores, the smaller anchor row, then column. A score the
// search found beat noResponse, so it is never NaN; a stored best read from the caller may hold
// NaN, and then nothing comes before it, as in the search's own comparisons.
bool comesBefore(const BestPlacement& candidate, const BestPlacement& best) {
    if (!candidate.found || !best.found) return candidate.found;
    if (candidate.score != best.score) return candidate.score > best.score;
    return candidate.anchorRow < best.anchorRow ||
           (candidate.anchorRow == best.anchorRow && candidate.anchorCol < best.anchorCol);
}

// Searches the anchors of a block: the placement that a search rows outer, columns inner, from
// noResponse, taking only a strictly greater score, would find (so ties keep the smallest anchor
// row, then column, and NaN never wins). The block is read in storage order, a column at a time:
// each column's first highest score (its smallest row) is joined to the columns before it by
// comesBefore.
BestPlacement findBestInBlock(const float* scores, const AnchorGrid& anchors, const TemplateGeometry& t,
                              const BlockIndices& block) {
    BestPlacement best{noResponse, 0, 0, false};
    for (int32_t b = block.colBegin; b < block.colEnd; ++b) {
        const float* column = scores + cmIndex(1, b + 1, anchors.scoreRows, anchors.scoreCols);
        BestPlacement columnBest{noResponse, 0, 0, false};
        for (int32_t a = block.rowBegin; a < block.rowEnd; ++a) {
            if (column[a] > columnBest.score) columnBest = BestPlacement{column[a], 1 - t.rowsPooled + a, 0, true};
        }
        columnBest.anchorCol = 1 - t.colsPooled + b;
        if (comesBefore(columnBest, best)) best = columnBest;
    }
    return best;
}

// The search over anchor columns bFirst ... bEnd - 1, every row of each.
BestPlacement findBestInCols(const float* scores, const AnchorGrid& anchors, const TemplateGeometry& t,
                             int32_t bFirst, int32_t bEnd) {
    return findBestInBlock(scores, anchors, t, BlockIndices{0, anchors.rowCount, bFirst, bEnd});
}

// Stores an image's result; without a placement that beat noResponse, the anchor is NaN.
void storeBest(const BestPlacement& best, int32_t image, const BestOutputs& out) {
    const double notFound = std::numeric_limits<double>::quiet_NaN();
    out.bestScores[image] = best.score;
    out.anchorRows[image] = best.found ? best.anchorRow : notFound;
    out.anchorCols[image] = best.found ? best.anchorCol : notFound;
}

// Anchor columns per unit of the threads' work.
const int32_t colsPerPiece = 32;

// The pieces the threads search: every image's anchor columns cut into pieces, and room for each
// piece's best. Made before a call changes anything, so that running out of memory is refused
// with every argument as it was.
struct SearchPieces {
    PieceList list;
    BestPlacement* bests;
};

template <typename AnchorsOf>
SearchPieces cutSearchIntoPieces(int32_t imageCount, AnchorsOf anchorsOf) {
    PieceList list = cutIntoPieces(imageCount, colsPerPiece, [&](int32_t image) { return anchorsOf(image).colCount; });
    auto* bests = static_cast<BestPlacement*>(hostCalloc(static_cast<size_t>(list.count), sizeof(BestPlacement)));
    return SearchPieces{list, bests};
}

void releasePieces(const SearchPieces& pieces) {
    mxFree(pieces.bests);
    mxFree(pieces.list.pieces);
}

// Finds the best placement of every image that `wanted(image)` names and stores it; the other
// images' outputs are left as they are. The threads search the pieces of those images on their
// own; then each image's pieces are joined by comesBefore, which gives the search over all its
// anchors. anchorsOf(image) is the image's AnchorGrid.
template <typename AnchorsOf, typename Wanted>
void searchImages(const float* const* scoreMaps, int32_t imageCount, AnchorsOf anchorsOf, Wanted wanted,
                  const TemplateGeometry& t, const SearchPieces& pieces, const BestOutputs& out) {
    const PieceList& list = pieces.list;
#pragma omp parallel for schedule(dynamic) num_threads(threadCountFor(list.count))
    for (int64_t k = 0; k < list.count; ++k) {
        const WorkPiece& piece = list.pieces[k];
        if (!wanted(piece.item)) continue;
        pieces.bests[k] = findBestInCols(scoreMaps[piece.item], anchorsOf(piece.item), t, piece.first, piece.end);
    }
    int64_t next = 0;
    for (int32_t image = 0; image < imageCount; ++image) {
        BestPlacement best{noResponse, 0, 0, false};
        for (; next < list.count && list.pieces[next].item == image; ++next) {
            if (comesBefore(pieces.bests[next], best)) best = pieces.bests[next];
        }
        if (wanted(image)) storeBest(best, image, out);
    }
}

#ifdef LURVANE_VETO
const char* const pluginName = "lurvaneveto";

// 0-based position of anchorRows, for refusals of stored bests.
const int32_t anchorRowsPosition = 8;

// What a detection changed, per image: the image's sizes in its own pixels over the photo's
// (a box centre at image pixel u lies at photo pixel (u - 0.5) / factor + 0.5), the photo pixel
// the detection is centred on, the radius of the placements it rules out, and the bounds of
// the anchors its inhibition scored again.
struct DetectionChanges {
    const double* rowFactors;
    const double* colFactors;
    double centreRow;
    double centreCol;
    const double* radii;
    BlockBounds rescored;
};

// The photo pixel of the box centre of score position `position` on one side: the anchor
// position - templatePooled, its box's centre (anchor * poolStep + (templateSide + 1) / 2 - 0.5
// image pixels past the image's origin), brought to the photo; each step rounded in double as
// the search's own bookkeeping rounds it.
double centreInPhoto(int32_t position, int32_t templatePooled, int32_t poolStep, int32_t templateSide,
                     double factor) {
    double offset = (templateSide + 1) / 2.0 - 0.5;
    return (static_cast<double>(position - templatePooled) * poolStep + offset) / factor + 0.5;
}

// The score positions 1 ... scoreSide on one side whose box centre may lie within `radius`
// photo pixels of `centre`: those whose centre lies between the two bounds, and one more on
// each side so that rounding cannot leave one out. Empty (last < first) when none can.
AnchorBounds positionsNear(double centre, double radius, int32_t templatePooled, int32_t poolStep,
                           int32_t templateSide, double factor, int32_t scoreSide) {
    double offset = (templateSide + 1) / 2.0 - 0.5;
    double lowest = ((centre - radius - 0.5) * factor - offset) / poolStep + templatePooled;
    double highest = ((centre + radius - 0.5) * factor - offset) / poolStep + templatePooled;
    return clippedAnchorsOf(std::floor(lowest) - 1, std::ceil(highest) + 1, 1, scoreSide);
}

// The square of a radius as Octave's scalar power forms it: the C library's pow, which for some
// values differs from radius * radius in the last bit. The exponent is read through a volatile so
// that the compiler cannot replace the call by the product.
double squareByPow(double radius) {
    volatile double two = 2.0;
    return std::pow(radius, two);
}

// Rules out, in one image's scoreRows x scoreCols score map, every placement (score position,
// whether or not a search reaches it) whose box centre lies strictly within
// the image's radius of the detection's centre: (rowCentre - centreRow)^2 + (colCentre -
// centreCol)^2 < radius^2. Nothing when the radius is not positive.
void ruleOutNear(float* scores, int32_t scoreRows, int32_t scoreCols, const TemplateGeometry& t,
                 const DetectionChanges& changes, int32_t image, int32_t poolStep, int32_t templateRows,
                 int32_t templateCols) {
    double radius = changes.radii[image];
    if (!(radius > 0)) return;
    double rowFactor = changes.rowFactors[image];
    double colFactor = changes.colFactors[image];
    AnchorBounds rows =
        positionsNear(changes.centreRow, radius, t.rowsPooled, poolStep, templateRows, rowFactor, scoreRows);
    AnchorBounds cols =
        positionsNear(changes.centreCol, radius, t.colsPooled, poolStep, templateCols, colFactor, scoreCols);
    double limit = squareByPow(radius);
    for (int32_t col = cols.first; col <= cols.last; ++col) {
        double dc = centreInPhoto(col, t.colsPooled, poolStep, templateCols, colFactor) - changes.centreCol;
        for (int32_t row = rows.first; row <= rows.last; ++row) {
            double dr = centreInPhoto(row, t.rowsPooled, poolStep, templateRows, rowFactor) - changes.centreRow;
            if (dr * dr + dc * dc < limit) scores[cmIndex(row, col, scoreRows, scoreCols)] = noResponse;
        }
    }
}

// The image's block of rescored anchors as anchor indices; empty when the bounds leave none.
BlockIndices rescoredBlockOf(const AnchorGrid& anchors, const TemplateGeometry& t, const DetectionChanges& changes,
                             int32_t image) {
    if (anchors.rowCount == 0) return BlockIndices{0, 0, 0, 0};
    const BlockBounds& bounds = changes.rescored;
    AnchorBounds rows = clippedAnchorsOf(bounds.firstRows[image], bounds.lastRows[image], 1 - t.rowsPooled,
                                         anchors.rowCount - t.rowsPooled);
    AnchorBounds cols = clippedAnchorsOf(bounds.firstCols[image], bounds.lastCols[image], 1 - t.colsPooled,
                                         anchors.colCount - t.colsPooled);
    if (rows.last < rows.first || cols.last < cols.first) return BlockIndices{0, 0, 0, 0};
    return BlockIndices{rows.first - 1 + t.rowsPooled, rows.last + t.rowsPooled, cols.first - 1 + t.colsPooled,
                        cols.last + t.colsPooled};
}

// Whether `candidate` comes before the image's stored best in lurvane's order (comesBefore); a
// stored best with NaN anchors is nothing found.
bool comesFirst(const BestPlacement& candidate, int32_t image, const BestOutputs& out) {
    bool known = !std::isnan(out.anchorRows[image]);
    BestPlacement stored{out.bestScores[image], known ? roundHalfUp(out.anchorRows[image]) : 0,
                         known ? roundHalfUp(out.anchorCols[image]) : 0, known};
    return comesBefore(candidate, stored);
}

// Brings one image's best up to date after its placements near the detection were ruled out and
// its block scored again: returns whether the whole map must be searched again (the best was
// ruled out or lies in the block, where its score may have fallen); otherwise stores the
// block's best where it comes first. Outside the block no score rose, so the best there stands.
bool mergeBlockBest(const float* scores, const AnchorGrid& anchors, const TemplateGeometry& t,
                    const BlockIndices& block, int32_t image, const BestOutputs& out) {
    bool known = !std::isnan(out.anchorRows[image]);
    int32_t a = known ? roundHalfUp(out.anchorRows[image]) - (1 - t.rowsPooled) : 0;
    int32_t b = known ? roundHalfUp(out.anchorCols[image]) - (1 - t.colsPooled) : 0;
    if (known && scores[cmIndex(a + 1, b + 1, anchors.scoreRows, anchors.scoreCols)] == noResponse) return true;
    if (block.rowBegin == block.rowEnd) return false;
    if (known && a >= block.rowBegin && a < block.rowEnd && b >= block.colBegin && b < block.colEnd) return true;
    BestPlacement best = findBestInBlock(scores, anchors, t, block);
    if (best.found && comesFirst(best, image, out)) storeBest(best, image, out);
    return false;
}

// Refuses a stored best that is no placement of its image: both anchors NaN (nothing found) or
// both whole numbers within the image's anchors.
void requireBestsOnMaps(const ArgList& args, int32_t position, const BestOutputs& out, int32_t imageCount,
                        const AnchorGrid* grids, const TemplateGeometry& t) {
    for (int32_t image = 0; image < imageCount; ++image) {
        double row = out.anchorRows[image];
        double col = out.anchorCols[image];
        if (std::isnan(row) && std::isnan(col)) continue;
        const AnchorGrid& g = grids[image];
        auto inside = [](double v, int32_t first, int32_t count) {
            return !std::isnan(v) && v == std::floor(v) && v >= first && v < static_cast<double>(first) + count;
        };
        if (!inside(row, 1 - t.rowsPooled, g.rowCount)) {
            refuseEntry(args, position, image, "NaN (nothing found) or an anchor row of the image's score map", row);
        }
        if (!inside(col, 1 - t.colsPooled, g.colCount)) {
            refuseEntry(args, position + 1, image, "NaN (nothing found) or an anchor column of the image's score map",
                        col);
        }
    }
}

// Refuses a scale factor that is not finite and positive.
const double* readFactorArg(ArgList& args, int32_t imageCount) {
    int32_t position = args.position;
    const double* factors = readArrayArg<double>(args, imageCount, Access::read);
    for (int32_t image = 0; image < imageCount; ++image) {
        if (!(std::isfinite(factors[image]) && factors[image] > 0)) {
            refuseEntry(args, position, image, "a finite positive scale factor", factors[image]);
        }
    }
    return factors;
}
#else
const char* const pluginName = "lurvane";
#endif

// 0-based position of scoreMaps, for the size refusal made before it is read.
const int32_t scoreMapsPosition = 6;

const char* const argNames[] = {"imageCount",   "imageRows", "imageCols",  "poolStep",   "templateRows",
                                "templateCols", "scoreMaps", "bestScores", "anchorRows", "anchorCols"
#ifdef LURVANE_VETO
                                ,
                                "rowFactors",   "colFactors", "detectionRow", "detectionCol", "exclusionRadii",
                                "firstAnchorRows", "lastAnchorRows", "firstAnchorCols", "lastAnchorCols"
#endif
};

void lurvane(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t imageCount = readIntArg(args, 0);
    ImageSizes sizes = readImageSizes(args, imageCount);
    int32_t poolStep = readIntArg(args, 1);
    int32_t templateRows = readIntArg(args, 0);
    int32_t templateCols = readIntArg(args, 0);
    auto rowsOf = [&](int32_t image) { return roundHalfUp(sizes.rows[image]); };
    auto colsOf = [&](int32_t image) { return roundHalfUp(sizes.cols[image]); };
    auto scoreValues = [&](int32_t image) {
        return scoreValueCountOf(templateRows, templateCols, rowsOf(image), colsOf(image), poolStep);
    };
    requireScoreMapsIndexable(args, scoreMapsPosition, sizes, imageCount, templateRows, templateCols, poolStep);
    BestOutputs out;
#ifdef LURVANE_VETO
    float* const* scoreMaps = readCellList<float>(args, imageCount, Access::written, scoreValues);
#else
    const float* const* scoreMaps = readCellList<float>(args, imageCount, Access::read, scoreValues);
#endif
    out.bestScores = readArrayArg<float>(args, imageCount, Access::written);
    out.anchorRows = readArrayArg<double>(args, imageCount, Access::written);
    out.anchorCols = readArrayArg<double>(args, imageCount, Access::written);
#ifdef LURVANE_VETO
    DetectionChanges changes;
    changes.rowFactors = readFactorArg(args, imageCount);
    changes.colFactors = readFactorArg(args, imageCount);
    changes.centreRow = readRealArg(args, RealRule::finite);
    changes.centreCol = readRealArg(args, RealRule::finite);
    changes.radii = readArrayArg<double>(args, imageCount, Access::read);
    changes.rescored = readBlockBounds(args, imageCount);
#endif
    endArgs(args);

    TemplateGeometry t = templateGeometryOf(templateRows, templateCols, poolStep);
    auto anchorsOf = [&](int32_t image) {
        int32_t rows = rowsOf(image);
        int32_t cols = colsOf(image);
        return anchorGridOf(pooledSizeOf(rows, poolStep), pooledSizeOf(cols, poolStep),
                            scoreSizeOf(templateRows, rows, poolStep), scoreSizeOf(templateCols, cols, poolStep), t);
    };
#ifdef LURVANE_VETO
    AnchorGrid* grids = allocArray<AnchorGrid>(imageCount);
    for (int32_t image = 0; image < imageCount; ++image) grids[image] = anchorsOf(image);
    requireBestsOnMaps(args, anchorRowsPosition, out, imageCount, grids, t);
    auto* searchAgain = static_cast<bool*>(hostCalloc(static_cast<size_t>(imageCount), sizeof(bool)));
    SearchPieces pieces = cutSearchIntoPieces(imageCount, anchorsOf);
    for (int32_t image = 0; image < imageCount; ++image) {
        ruleOutNear(scoreMaps[image], static_cast<int32_t>(scoreSizeOf(templateRows, rowsOf(image), poolStep)),
                    static_cast<int32_t>(scoreSizeOf(templateCols, colsOf(image), poolStep)), t, changes, image,
                    poolStep, templateRows, templateCols);
        BlockIndices rescored = rescoredBlockOf(grids[image], t, changes, image);
        searchAgain[image] = mergeBlockBest(scoreMaps[image], grids[image], t, rescored, image, out);
    }
    searchImages(scoreMaps, imageCount, anchorsOf, [&](int32_t image) { return searchAgain[image]; }, t, pieces, out);
    releasePieces(pieces);
    mxFree(searchAgain);
    mxFree(grids);
#else
    SearchPieces pieces = cutSearchIntoPieces(imageCount, anchorsOf);
    searchImages(scoreMaps, imageCount, anchorsOf, [](int32_t) { return true; }, t, pieces, out);
    releasePieces(pieces);
#endif
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin(pluginName, lurvane, nlhs, nrhs, prhs);
}
