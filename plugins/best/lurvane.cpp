// lurvane: finds, in every image's score map, the template placement with the highest score,
// and reports that score and the placement's anchor in pooled coordinates.

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

// Searches the anchors with row indices aFirst ... aEnd - 1 (rows outer) by every column (inner)
// from noResponse. Only a strictly greater score replaces the best, so ties keep the smallest
// anchor row, then column, and NaN never wins.
BestPlacement findBestInRows(const float* scores, const AnchorGrid& anchors, const TemplateGeometry& t,
                             int32_t aFirst, int32_t aEnd) {
    BestPlacement best{noResponse, 0, 0, false};
    for (int32_t a = aFirst; a < aEnd; ++a) {
        for (int32_t b = 0; b < anchors.colCount; ++b) {
            float v = scores[cmIndex(a + 1, b + 1, anchors.scoreRows, anchors.scoreCols)];
            if (v > best.score) best = BestPlacement{v, 1 - t.rowsPooled + a, 1 - t.colsPooled + b, true};
        }
    }
    return best;
}

// The search over an earlier range of rows followed by a later one, from the results of each:
// the later result only where its score is strictly greater, as the search itself decides (a
// result that found nothing holds noResponse, which beats nothing).
BestPlacement laterIfGreater(const BestPlacement& earlier, const BestPlacement& later) {
    return later.score > earlier.score ? later : earlier;
}

// Stores an image's result; without a placement that beat noResponse, the anchor is NaN.
void storeBest(const BestPlacement& best, int32_t image, const BestOutputs& out) {
    const double notFound = std::numeric_limits<double>::quiet_NaN();
    out.bestScores[image] = best.score;
    out.anchorRows[image] = best.found ? best.anchorRow : notFound;
    out.anchorCols[image] = best.found ? best.anchorCol : notFound;
}

// Anchor rows per unit of the threads' work.
const int32_t rowsPerPiece = 32;

// Finds every image's best placement and stores it. The anchor rows of every image are cut
// into pieces that the threads search on their own; then each image's pieces are joined in row
// order, which gives the search over all its rows. anchorsOf(image) is the image's AnchorGrid.
template <typename AnchorsOf>
void searchImages(const float* const* scoreMaps, int32_t imageCount, AnchorsOf anchorsOf, const TemplateGeometry& t,
                  const BestOutputs& out) {
    PieceList list = cutIntoPieces(imageCount, rowsPerPiece, [&](int32_t image) { return anchorsOf(image).rowCount; });
    auto* pieceBests = static_cast<BestPlacement*>(hostCalloc(static_cast<size_t>(list.count), sizeof(BestPlacement)));
#pragma omp parallel for schedule(dynamic) num_threads(threadCountFor(list.count))
    for (int64_t k = 0; k < list.count; ++k) {
        const WorkPiece& piece = list.pieces[k];
        pieceBests[k] = findBestInRows(scoreMaps[piece.item], anchorsOf(piece.item), t, piece.first, piece.end);
    }
    int64_t next = 0;
    for (int32_t image = 0; image < imageCount; ++image) {
        BestPlacement best{noResponse, 0, 0, false};
        for (; next < list.count && list.pieces[next].item == image; ++next) {
            best = laterIfGreater(best, pieceBests[next]);
        }
        storeBest(best, image, out);
    }
    mxFree(pieceBests);
    mxFree(list.pieces);
}

// 0-based position of scoreMaps, for the size refusal made before it is read.
const int32_t scoreMapsPosition = 6;

const char* const argNames[] = {"imageCount",   "imageRows", "imageCols",  "poolStep",   "templateRows",
                                "templateCols", "scoreMaps", "bestScores", "anchorRows", "anchorCols"};

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
    const float* const* scoreMaps = readCellList<float>(args, imageCount, Access::read, scoreValues);
    BestOutputs out;
    out.bestScores = readArrayArg<float>(args, imageCount, Access::written);
    out.anchorRows = readArrayArg<double>(args, imageCount, Access::written);
    out.anchorCols = readArrayArg<double>(args, imageCount, Access::written);
    endArgs(args);

    TemplateGeometry t = templateGeometryOf(templateRows, templateCols, poolStep);
    auto anchorsOf = [&](int32_t image) {
        int32_t rows = rowsOf(image);
        int32_t cols = colsOf(image);
        return anchorGridOf(pooledSizeOf(rows, poolStep), pooledSizeOf(cols, poolStep),
                            scoreSizeOf(templateRows, rows, poolStep), scoreSizeOf(templateCols, cols, poolStep), t);
    };
    searchImages(scoreMaps, imageCount, anchorsOf, t, out);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("lurvane", lurvane, nlhs, nrhs, prhs);
}
