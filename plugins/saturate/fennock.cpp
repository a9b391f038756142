// fennock: saturates a grid of single-precision response maps in place, every value v becoming
// s * tanh(v / s) for one level s.

#include "frame.h"
#include "threads.h"
#include "vector_saturation.h"

namespace {

// Values per unit of the threads' work: a whole number of vector steps (vector_saturation.h),
// so that the values fall into the same steps of eight however the maps are shared out, and
// large enough to outweigh the handing out.
const int32_t valuesPerPiece = 4096 * saturationLanes;

// Saturates every map of the grid, the maps cut into pieces that the threads share out. Each
// value is transformed on its own, eight at a time in vectors (vector_saturation.h), and walked
// in storage order within its piece.
void saturateGrid(float* const* responseMaps, int32_t imageCount, int32_t orientCount, const ImageSizes& sizes,
                  double saturationLevel) {
    auto valuesOfCell = [&](int32_t cell) { return static_cast<int32_t>(imageValueCount(sizes, cell % imageCount)); };
    PieceList list = cutIntoPieces(imageCount * orientCount, valuesPerPiece, valuesOfCell);
#pragma omp parallel for schedule(dynamic) num_threads(threadCountFor(list.count))
    for (int64_t k = 0; k < list.count; ++k) {
        const WorkPiece& piece = list.pieces[k];
        saturateValues(responseMaps[piece.item] + piece.first, piece.end - piece.first, saturationLevel);
    }
    mxFree(list.pieces);
}

const char* const argNames[] = {"imageCount",      "imageRows",   "imageCols", "orientCount",
                                "saturationLevel", "responseMaps"};

void fennock(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t imageCount = readIntArg(args, 0);
    ImageSizes sizes = readImageSizes(args, imageCount);
    int32_t orientCount = readIntArg(args, 0);
    double saturationLevel = readRealArg(args, RealRule::finiteNonzero);
    float** responseMaps =
        readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::written,
                            [&](int32_t image) { return imageValueCount(sizes, image); });
    endArgs(args);

    saturateGrid(responseMaps, imageCount, orientCount, sizes, saturationLevel);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("fennock", fennock, nlhs, nrhs, prhs);
}
