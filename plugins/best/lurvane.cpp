// lurvane: finds, in every image's score map, the template placement with the highest score,
// and reports that score and the placement's anchor in pooled coordinates.

#include <limits>

#include "frame.h"
#include "placement.h"
#include "shifts.h"

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

// Searches the anchors 1 - rowsPooled ... pooledRows (rows outer) by 1 - colsPooled ...
// pooledCols (columns inner) from noResponse. Only a strictly greater score replaces the best,
// so ties keep the smallest anchor row, then column, and NaN never wins. Anchor
// (1 - rowsPooled + a, 1 - colsPooled + b) has score position (a + 1, b + 1); score rows and
// columns past the anchors are never searched. Counts are formed in 64 bits.
BestPlacement findBestPlacement(const float* scores, int32_t pooledRows, int32_t pooledCols, int64_t scoreRows,
                                int64_t scoreCols, const TemplateGeometry& t) {
    BestPlacement best{noResponse, 0, 0, false};
    int64_t rowCount = int64_t{pooledRows} + t.rowsPooled;
    int64_t colCount = int64_t{pooledCols} + t.colsPooled;
    if (rowCount < 1 || colCount < 1) return best;
    // Nonempty anchor ranges lie within a score map that requireScoreMapsIndexable admitted.
    int32_t rows = static_cast<int32_t>(scoreRows);
    int32_t cols = static_cast<int32_t>(scoreCols);
    for (int32_t a = 0; a < rowCount; ++a) {
        for (int32_t b = 0; b < colCount; ++b) {
            float v = scores[cmIndex(a + 1, b + 1, rows, cols)];
            if (v > best.score) best = BestPlacement{v, 1 - t.rowsPooled + a, 1 - t.colsPooled + b, true};
        }
    }
    return best;
}

// Stores an image's result; without a placement that beat noResponse, the anchor is NaN.
void storeBest(const BestPlacement& best, int32_t image, const BestOutputs& out) {
    const double notFound = std::numeric_limits<double>::quiet_NaN();
    out.bestScores[image] = best.score;
    out.anchorRows[image] = best.found ? best.anchorRow : notFound;
    out.anchorCols[image] = best.found ? best.anchorCol : notFound;
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
    for (int32_t image = 0; image < imageCount; ++image) {
        int32_t rows = rowsOf(image);
        int32_t cols = colsOf(image);
        BestPlacement best = findBestPlacement(scoreMaps[image], pooledSizeOf(rows, poolStep),
                                               pooledSizeOf(cols, poolStep), scoreSizeOf(templateRows, rows, poolStep),
                                               scoreSizeOf(templateCols, cols, poolStep), t);
        storeBest(best, image, out);
    }
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("lurvane", lurvane, nlhs, nrhs, prhs);
}
