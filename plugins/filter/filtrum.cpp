// filtrum: the energy maps of one image's responses to a bank of complex filters. The value of
// map o at (x, y) is |r|^2, r being filter o's response there: the sum over the filter's
// (2h+1) x (2h+1) neighbourhood of image value times filter value, the filter applied as a
// convolution (flipped) and the image's edges replicated.
//
// Every sum is formed in single precision in one order, whatever the processor and however
// many threads share the work: image and filter values are rounded to single precision, and
// for output (x, y) the neighbourhood is walked column by column from the left (dy = -h ... h),
// each column from the top (dx = -h ... h), adding image(x+dx, y+dy) * filter(h+1-dx, h+1-dy)
// to the real sum and to the imaginary sum (1-based filter positions); the energy is then
// re*re + im*im. The kernel (filter_energy.h) computes them; here the arguments are read, the
// working memory made, the kernel's copy for the processor chosen and the maps shared among
// OpenMP threads.

#include "dispatch.h"
#include "filter_energy.h"
#include "frame.h"

namespace {

using filterenergy::PaddedImage;
using filterenergy::Taps;

// The largest filterHalf whose (2h+1)^2 taps a 32-bit count holds: 46339^2 = 2147302921.
const int32_t maxFilterHalf = 23169;
// Columns of one map handed to a thread at a time: a task small enough to share the maps of
// a few orientations among many threads, large enough that its image columns stay in cache.
const int32_t stripCols = 16;
// Products of image and filter values (rows * cols * orientCount * (2h+1)^2) below which one
// thread does the whole call: waking the other threads and waiting for them would cost more
// than they save, and far more while other programs keep the processors busy. A 40 x 40 patch
// through 8 filters of 9 x 9 (1.04e6) stays on one thread; a 256 x 256 image (4.2e7) does not.
const double minThreadedProducts = 16777216.0;

// Whether a call of these sizes shares its work among the threads.
bool isThreaded(MapSize size, int32_t orientCount, double tapCount) {
    return static_cast<double>(size.rows) * size.cols * orientCount * tapCount >= minThreadedProducts;
}

// One strip of one map (filterenergy::energyStrip), compiled for AVX-512, for AVX2 and for any
// x86-64.
using StripFunction = void (*)(const PaddedImage&, const Taps&, int32_t, int32_t, float*, int32_t);

AVX512_VERSION void energyStripAvx512(const PaddedImage& padded, const Taps& taps, int32_t yStart, int32_t yEnd,
                                      float* map, int32_t rows) {
    filterenergy::energyStrip<filterenergy::Lanes16>(padded, taps, yStart, yEnd, map, rows);
}

AVX2_VERSION void energyStripAvx2(const PaddedImage& padded, const Taps& taps, int32_t yStart, int32_t yEnd,
                                  float* map, int32_t rows) {
    filterenergy::energyStrip<filterenergy::Lanes8>(padded, taps, yStart, yEnd, map, rows);
}

void energyStripBaseline(const PaddedImage& padded, const Taps& taps, int32_t yStart, int32_t yEnd, float* map,
                         int32_t rows) {
    filterenergy::energyStrip<filterenergy::Lanes4>(padded, taps, yStart, yEnd, map, rows);
}

// The widest copy the processor runs.
StripFunction stripFunctionForProcessor() {
    if (avx512Available()) return energyStripAvx512;
    if (avx2Available()) return energyStripAvx2;
    return energyStripBaseline;
}

// Every map, strip by strip, shared among the OpenMP threads when the call is large enough.
// Each value is written by one thread and computed as one thread alone computes it; the
// workers call nothing of the host.
void energyMaps(const PaddedImage& padded, const Taps* taps, int32_t orientCount, MapSize size,
                float* const* maps) {
    int32_t stripCount = size.cols / stripCols + (size.cols % stripCols != 0 ? 1 : 0);
    bool threaded = isThreaded(size, orientCount, static_cast<double>(taps[0].side) * taps[0].side);
    StripFunction energyStrip = stripFunctionForProcessor();
#pragma omp parallel for collapse(2) schedule(dynamic) if (threaded)
    for (int32_t orient = 0; orient < orientCount; ++orient) {
        for (int32_t strip = 0; strip < stripCount; ++strip) {
            int32_t yStart = strip * stripCols;
            int32_t yEnd = size.cols - yStart > stripCols ? yStart + stripCols : size.cols;
            energyStrip(padded, taps[orient], yStart, yEnd, maps[orient], size.rows);
        }
    }
}

// The padded image's memory (unset: every value is written before it is read) and the flipped
// taps are taken here, on the calling thread, since the host's allocator serves that thread
// only; the padded columns are written on the threads, strip by strip; then the maps are
// computed.
void filterEnergies(const double* image, MapSize size, int32_t orientCount, int32_t filterHalf,
                    const double* const* filterReal, const double* const* filterImag, float* const* maps) {
    if (size.rows == 0 || size.cols == 0 || orientCount == 0) return;
    int32_t side = 2 * filterHalf + 1;
    int32_t tapCount = side * side;
    int32_t paddedRows = size.rows + 2 * filterHalf;
    float* padded = allocUnsetArray<float>(paddedRows * (size.cols + 2 * filterHalf));
    float** tapsRe = allocTable2D<float>(orientCount, tapCount);
    float** tapsIm = allocTable2D<float>(orientCount, tapCount);
    Taps* taps = allocArray<Taps>(orientCount);
    int32_t paddedCols = size.cols + 2 * filterHalf;
#pragma omp parallel for schedule(static) if (isThreaded(size, orientCount, tapCount))
    for (int32_t strip = 0; strip < paddedCols; strip += stripCols) {
        filterenergy::padColumns(image, size.rows, size.cols, filterHalf, padded, strip,
                                 std::min(paddedCols, strip + stripCols));
    }
    for (int32_t orient = 0; orient < orientCount; ++orient) {
        filterenergy::flipFilter(filterReal[orient], side, tapsRe[orient]);
        filterenergy::flipFilter(filterImag[orient], side, tapsIm[orient]);
        taps[orient] = Taps{tapsRe[orient], tapsIm[orient], side};
    }
    energyMaps(PaddedImage{padded, paddedRows}, taps, orientCount, size, maps);
    mxFree(taps);
    freeTable2D(tapsIm, orientCount, tapCount);
    freeTable2D(tapsRe, orientCount, tapCount);
    mxFree(padded);
}

const char* const argNames[] = {"mapRows", "mapCols",    "orientCount", "filterHalf",
                                "image",   "filterReal", "filterImag",  "responseMaps"};

// Refuses a filterHalf whose padded image (see PaddedImage) would outgrow 32-bit indexing; an
// empty image is never padded.
void requirePaddable(const ArgList& args, int32_t position, MapSize size, int32_t filterHalf) {
    int64_t paddedRows = static_cast<int64_t>(size.rows) + 2 * filterHalf;
    int64_t paddedCols = static_cast<int64_t>(size.cols) + 2 * filterHalf;
    if (size.rows > 0 && size.cols > 0 && paddedRows * paddedCols > INT32_MAX) {
        refuseCall(ArgFault::tooLarge,
                   "argument %d (%s): expected a half width h for which the image padded by h on "
                   "every side, (mapRows + 2h) x (mapCols + 2h), holds at most 2147483647 values "
                   "(32-bit indexing); got %d, a padded image of %lld x %lld values",
                   position + 1, args.names[position], filterHalf, static_cast<long long>(paddedRows),
                   static_cast<long long>(paddedCols));
    }
}

void filtrum(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    MapSize size = readMapSize(args);
    int32_t orientCount = readIntArg(args, 0);
    int32_t filterHalfPosition = args.position;
    int32_t filterHalf = readIntArg(args, 0, maxFilterHalf);
    requirePaddable(args, filterHalfPosition, size, filterHalf);
    int64_t valueCount = static_cast<int64_t>(size.rows) * size.cols;
    const double* image = readArrayArg<double>(args, valueCount, Access::read);
    int64_t tapCount = static_cast<int64_t>(2 * filterHalf + 1) * (2 * filterHalf + 1);
    double** filterReal = readCellList<double>(args, orientCount, Access::read, [&](int32_t) { return tapCount; });
    double** filterImag = readCellList<double>(args, orientCount, Access::read, [&](int32_t) { return tapCount; });
    float** responseMaps =
        readCellList<float>(args, orientCount, Access::written, [&](int32_t) { return valueCount; });
    endArgs(args);

    filterEnergies(image, size, orientCount, filterHalf, filterReal, filterImag, responseMaps);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("filtrum", filtrum, nlhs, nrhs, prhs);
}
