// fennock: saturates a grid of single-precision response maps in place, every value v becoming
// s * tanh(v / s) for one level s.

#include "frame.h"
#include "vector_saturation.h"

namespace {

// Saturates the first rows * cols values of every orientation map of one image, eight at a
// time in vectors (vector_saturation.h). Each value is transformed on its own, so the maps are
// walked in storage order.
void saturateImage(float* const* responseMaps, int32_t imageCount, int32_t orientCount,
                   int32_t image, int32_t rows, int32_t cols, double saturationLevel) {
    int32_t valueCount = rows * cols;
    for (int32_t orient = 0; orient < orientCount; ++orient) {
        saturateValues(responseMaps[image + orient * imageCount], valueCount, saturationLevel);
    }
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

    for (int32_t image = 0; image < imageCount; ++image) {
        saturateImage(responseMaps, imageCount, orientCount, image, roundHalfUp(sizes.rows[image]),
                      roundHalfUp(sizes.cols[image]), saturationLevel);
    }
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("fennock", fennock, nlhs, nrhs, prhs);
}
