// brelind: writes, for every image of a grid of single-precision response maps, the map of its
// floored local means: at each position the mean over a window and all orientations, never
// less than relativeFloor times the image's largest mean. Each map is the divisor somvert
// applies to the same image.

#include "frame.h"
#include "windowmeans.h"

namespace {

// The scalar arguments every image shares.
struct MeanSettings {
    int32_t orientCount;
    MeanWindow window;
    double meanSwitch;
    double relativeFloor;
};

// The first valueCount values of a map become 1, which leaves a division by it unchanged.
void fillOnes(float* map, int32_t valueCount) {
    for (int32_t p = 0; p < valueCount; ++p) map[p] = 1.0f;
}

// Turns the means of a column-major map into divisors, in place: each position's floored mean,
// 1 where that is exactly 0.
void meansToDivisors(float* const* columns, int32_t rows, int32_t cols, double floorValue) {
    for (int32_t y = 0; y < cols; ++y) {
        float* column = columns[y];
        for (int32_t x = 0; x < rows; ++x) column[x] = windowDivisor(column[x], floorValue);
    }
}

// The kernel for one image: ones when the switch is off (negative) or the image holds no
// window, the floored window means otherwise. The means are written straight into the output
// map, whose columns (outColumns, room for cols pointers) form the mean table.
void fillMeanMap(const float* const* imageMaps, int32_t rows, int32_t cols, const MeanSettings& settings,
                 WindowMeanWork<float>& work, float** outColumns, float* out) {
    Interior interior;
    if (settings.meanSwitch < 0 || !findInterior(rows, cols, settings.window, interior)) {
        fillOnes(out, rows * cols);
        return;
    }
    for (int32_t y = 0; y < cols; ++y) outColumns[y] = out + static_cast<int64_t>(y) * rows;
    float maxMean = 0;
    if (computeWindowMeans(imageMaps, settings.orientCount, rows, cols, settings.window, work, outColumns,
                           maxMean)) {
        meansToDivisors(outColumns, rows, cols, settings.relativeFloor * maxMean);
    } else {
        fillOnes(out, rows * cols);
    }
}

// What the working tables must hold for the images that hold a window (nothing when none
// does, or the switch is off).
WindowMeanNeeds windowedImageNeeds(const ImageSizes& sizes, int32_t imageCount, const MeanSettings& settings) {
    WindowMeanNeeds needs;
    if (settings.meanSwitch < 0) return needs;
    for (int32_t image = 0; image < imageCount; ++image) {
        int32_t rows = roundHalfUp(sizes.rows[image]);
        int32_t cols = roundHalfUp(sizes.cols[image]);
        Interior interior;
        if (findInterior(rows, cols, settings.window, interior)) includeMap(needs, rows, cols);
    }
    return needs;
}

const char* const argNames[] = {"imageCount",  "imageRows",   "imageCols",  "orientCount",
                                "edgeMargin",  "responseMaps", "meanMaps",  "halfWindowX",
                                "halfWindowY", "meanSwitch",  "relativeFloor"};

void brelind(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t imageCount = readIntArg(args, 0);
    ImageSizes sizes = readImageSizes(args, imageCount);
    MeanSettings settings;
    settings.orientCount = readIntArg(args, 1);
    settings.window.edgeMargin = readIntArg(args, 0);
    auto valuesOfImage = [&](int32_t image) { return imageValueCount(sizes, image); };
    float** responseMaps = readCellGrid<float>(args, imageCount, settings.orientCount, mapGridAxes,
                                               Access::read, valuesOfImage);
    float** meanMaps = readCellList<float>(args, imageCount, Access::written, valuesOfImage);
    settings.window.halfWindowX = readIntArg(args, 0);
    settings.window.halfWindowY = readIntArg(args, 0);
    settings.meanSwitch = readRealArg(args);
    settings.relativeFloor = readRealArg(args, RealRule::finite);
    endArgs(args);

    // Orientations of no image need no pointers. All working memory is taken before the first
    // map is written, sized for the largest images that need it, so a call that runs out of
    // memory writes nothing.
    if (imageCount == 0) return;
    WindowMeanNeeds needs = windowedImageNeeds(sizes, imageCount, settings);
    const float** imageMaps = allocArray<const float*>(settings.orientCount);
    float** outColumns = nullptr;
    WindowMeanWork<float> work{};
    if (needs.values > 0) {
        outColumns = allocArray<float*>(needs.cols);
        work = allocWindowMeanWork<float>(needs);
    }
    for (int32_t image = 0; image < imageCount; ++image) {
        for (int32_t o = 0; o < settings.orientCount; ++o) imageMaps[o] = responseMaps[image + o * imageCount];
        fillMeanMap(imageMaps, roundHalfUp(sizes.rows[image]), roundHalfUp(sizes.cols[image]), settings, work,
                    outColumns, meanMaps[image]);
    }
    if (needs.values > 0) {
        freeWindowMeanWork(work);
        mxFree(outColumns);
    }
    mxFree(imageMaps);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("brelind", brelind, nlhs, nrhs, prhs);
}
