// brelind: writes, for every image of a grid of single-precision response maps, the map of its
// floored local means: at each position the mean over a window and all orientations, never
// less than relativeFloor times the image's largest mean. Each map is the divisor somvert
// applies to the same image.

#include "frame.h"
#include "threads.h"
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
// 1 where that is exactly 0. The columns are shared out among `threads` threads.
void meansToDivisors(float* const* columns, int32_t rows, int32_t cols, double floorValue, int32_t threads) {
#pragma omp parallel for schedule(static) num_threads(threads) if (threads > 1)
    for (int32_t y = 0; y < cols; ++y) {
        float* column = columns[y];
        for (int32_t x = 0; x < rows; ++x) column[x] = windowDivisor(column[x], floorValue);
    }
}

// Working memory for one image at a time: pointers to its response maps (orientCount) and to
// the columns of its output map (room for the most columns of an image with a window), and the
// window-mean tables.
struct ImageWork {
    const float** imageMaps;
    float** outColumns;
    WindowMeanWork<float> means;
};

// The kernel for one image: ones when the switch is off (negative) or the image holds no
// window, the floored window means otherwise. The means are written straight into the output
// map, whose columns form the mean table.
void fillMeanMap(const float* const* responseMaps, int32_t imageCount, int32_t image, const ImageSizes& sizes,
                 const MeanSettings& settings, ImageWork& work, float* out) {
    int32_t rows = roundHalfUp(sizes.rows[image]);
    int32_t cols = roundHalfUp(sizes.cols[image]);
    Interior interior;
    if (settings.meanSwitch < 0 || !findInterior(rows, cols, settings.window, interior)) {
        fillOnes(out, rows * cols);
        return;
    }
    for (int32_t o = 0; o < settings.orientCount; ++o) work.imageMaps[o] = responseMaps[image + o * imageCount];
    for (int32_t y = 0; y < cols; ++y) work.outColumns[y] = out + static_cast<int64_t>(y) * rows;
    float maxMean = 0;
    if (computeWindowMeans(work.imageMaps, settings.orientCount, rows, cols, settings.window, work.means,
                           work.outColumns, maxMean)) {
        meansToDivisors(work.outColumns, rows, cols, settings.relativeFloor * maxMean, work.means.threads);
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

// Working memory of each of `workers` threads, taking images on their own (meanThreads 1) or
// one image at a time together (meanThreads threads in each computation of window means), for
// images within `needs` (at least one included).
ImageWork* allocImageWork(int32_t workers, const WindowMeanNeeds& needs, int32_t orientCount, int32_t meanThreads) {
    ImageWork* work = allocArray<ImageWork>(workers);
    for (int32_t w = 0; w < workers; ++w) {
        work[w] = ImageWork{allocArray<const float*>(orientCount), allocArray<float*>(needs.cols),
                            allocWindowMeanWork<float>(needs, meanThreads)};
    }
    return work;
}

void freeImageWork(ImageWork* work, int32_t workers) {
    for (int32_t w = 0; w < workers; ++w) {
        freeWindowMeanWork(work[w].means);
        mxFree(work[w].outColumns);
        mxFree(work[w].imageMaps);
    }
    mxFree(work);
}

// Writes every image's mean map. When the images give the threads at least as many shares as
// the largest one would, the threads take whole images; otherwise the images are taken one
// after another, each by all the threads its size allows (windowmeans.h). All working
// memory is taken before the first map is written, sized for the largest images that need it,
// so a call that runs out of memory writes nothing; without such images, none is needed.
void fillMeanMaps(const float* const* responseMaps, float* const* meanMaps, int32_t imageCount,
                  const ImageSizes& sizes, const MeanSettings& settings) {
    WindowMeanNeeds needs = windowedImageNeeds(sizes, imageCount, settings);
    if (needs.values == 0) {
#pragma omp parallel for schedule(dynamic) num_threads(threadCountFor(imageCount))
        for (int32_t image = 0; image < imageCount; ++image) {
            fillOnes(meanMaps[image], static_cast<int32_t>(imageValueCount(sizes, image)));
        }
        return;
    }
    int32_t imageThreads = threadCountFor(imageCount);
    int32_t mapThreads = windowMeanThreadsFor(needs.rows, needs.cols);
    bool acrossImages = imageThreads >= mapThreads;
    int32_t workers = acrossImages ? imageThreads : 1;
    ImageWork* work = allocImageWork(workers, needs, settings.orientCount, acrossImages ? 1 : mapThreads);
#pragma omp parallel for schedule(dynamic) num_threads(workers) if (workers > 1)
    for (int32_t image = 0; image < imageCount; ++image) {
        fillMeanMap(responseMaps, imageCount, image, sizes, settings, work[threadNumber()], meanMaps[image]);
    }
    freeImageWork(work, workers);
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

    // Orientations of no image need no pointers.
    if (imageCount == 0) return;
    fillMeanMaps(responseMaps, meanMaps, imageCount, sizes, settings);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("brelind", brelind, nlhs, nrhs, prhs);
}
