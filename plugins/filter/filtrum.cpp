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
// re*re + im*im. Vector lanes and threads only decide which outputs are computed together, never
// how one is computed.

#include "dispatch.h"
#include "frame.h"

namespace {

// The largest filterHalf whose (2h+1)^2 taps a 32-bit count holds: 46339^2 = 2147302921.
const int32_t maxFilterHalf = 23169;

// Single-precision lanes of one vector: a column of output rows computed together.
#define FILTER_LANES 16
typedef float FilterFloats __attribute__((vector_size(FILTER_LANES * 4)));
const int32_t filterLanes = FILTER_LANES;
// Vectors per column in one step, and output columns per step: each loaded vector of image
// values serves every column of the step, and the step's sums are independent chains.
const int32_t vectorsPerColumn = 2;
const int32_t blockRows = filterLanes * vectorsPerColumn;
const int32_t blockCols = 2;
// Columns of one map handed to a thread at a time: a task small enough to share the maps of
// a few orientations among many threads, large enough that its image columns stay in cache.
const int32_t stripCols = 16;
// Products of image and filter values (rows * cols * orientCount * (2h+1)^2) below which one
// thread does the whole call: waking the other threads and waiting for them would cost more
// than they save, and far more while other programs keep the processors busy. A 40 x 40 patch
// through 8 filters of 9 x 9 (1.04e6) stays on one thread; a 256 x 256 image (4.2e7) does not.
const double minThreadedProducts = 16777216.0;

// The image rounded to single precision with h rows and h columns of its edge values
// repeated on every side: (rows + 2h) x (cols + 2h), column-major. Output (x, y) (0-based)
// reads padded rows x ... x + 2h of padded columns y ... y + 2h.
struct PaddedImage {
    const float* values;
    int32_t rows;
};

// One filter in single precision, flipped: tap (a, b) multiplies padded value (x + a, y + b)
// of output (x, y), so taps are walked in storage order.
struct Taps {
    const float* re;
    const float* im;
    int32_t side;
};

// i clamped to 0 ... n-1.
int32_t clampIndex(int32_t i, int32_t n) {
    return i < 0 ? 0 : i >= n ? n - 1 : i;
}

// Writes the padded single-precision copy of the rows x cols image (see PaddedImage).
void padImage(const double* image, MapSize size, int32_t filterHalf, float* padded) {
    int32_t paddedRows = size.rows + 2 * filterHalf;
    int32_t paddedCols = size.cols + 2 * filterHalf;
    for (int32_t q = 0; q < paddedCols; ++q) {
        const double* column = image + clampIndex(q - filterHalf, size.cols) * size.rows;
        float* out = padded + q * paddedRows;
        for (int32_t p = 0; p < paddedRows; ++p) {
            out[p] = static_cast<float>(column[clampIndex(p - filterHalf, size.rows)]);
        }
    }
}

// Writes filter's side x side values, rounded to single precision, in flipped order.
void flipFilter(const double* filter, int32_t side, float* taps) {
    int32_t last = side * side - 1;
    for (int32_t k = 0; k <= last; ++k) taps[k] = static_cast<float>(filter[last - k]);
}

// The energy at output (x, y) (0-based), one value at a time.
float energyAt(const PaddedImage& padded, const Taps& taps, int32_t x, int32_t y) {
    float re = 0.0f;
    float im = 0.0f;
    for (int32_t b = 0; b < taps.side; ++b) {
        const float* column = padded.values + (y + b) * padded.rows + x;
        const float* tapsRe = taps.re + b * taps.side;
        const float* tapsIm = taps.im + b * taps.side;
        for (int32_t a = 0; a < taps.side; ++a) {
            re = re + column[a] * tapsRe[a];
            im = im + column[a] * tapsIm[a];
        }
    }
    return re * re + im * im;
}

// The energies of blockRows outputs from row x in each of columnCount columns from y, written
// into the rows-row map. Padded column y + c serves output column y + j through tap column
// b = c - j, so every output still takes its taps column by column, each from the top.
template <int32_t columnCount>
VECTOR_HELPER void energyBlock(const PaddedImage& padded, const Taps& taps, int32_t x, int32_t y,
                               float* map, int32_t rows) {
    FilterFloats re[columnCount][vectorsPerColumn] = {};
    FilterFloats im[columnCount][vectorsPerColumn] = {};
    int32_t side = taps.side;
    for (int32_t c = 0; c < side + columnCount - 1; ++c) {
        const float* column = padded.values + (y + c) * padded.rows + x;
        for (int32_t a = 0; a < side; ++a) {
            FilterFloats values[vectorsPerColumn];
            for (int32_t v = 0; v < vectorsPerColumn; ++v) {
                __builtin_memcpy(&values[v], column + a + v * filterLanes, sizeof(FilterFloats));
            }
            for (int32_t j = 0; j < columnCount; ++j) {
                int32_t b = c - j;
                if (b < 0 || b >= side) continue;
                float tapRe = taps.re[a + b * side];
                float tapIm = taps.im[a + b * side];
                for (int32_t v = 0; v < vectorsPerColumn; ++v) {
                    re[j][v] = re[j][v] + values[v] * tapRe;
                    im[j][v] = im[j][v] + values[v] * tapIm;
                }
            }
        }
    }
    for (int32_t j = 0; j < columnCount; ++j) {
        for (int32_t v = 0; v < vectorsPerColumn; ++v) {
            FilterFloats energy = re[j][v] * re[j][v] + im[j][v] * im[j][v];
            __builtin_memcpy(map + (y + j) * rows + x + v * filterLanes, &energy, sizeof(energy));
        }
    }
}

// Every row of columnCount columns from y. Maps shorter than a block are done one value at a
// time; otherwise the last block is moved up to end on the last row, recomputing a few rows
// with the very same bits.
template <int32_t columnCount>
VECTOR_HELPER void energyColumns(const PaddedImage& padded, const Taps& taps, int32_t y, float* map,
                                 int32_t rows) {
    if (rows < blockRows) {
        for (int32_t j = 0; j < columnCount; ++j) {
            for (int32_t x = 0; x < rows; ++x) map[(y + j) * rows + x] = energyAt(padded, taps, x, y + j);
        }
        return;
    }
    int32_t blockCount = rows / blockRows + (rows % blockRows != 0 ? 1 : 0);
    for (int32_t k = 0; k < blockCount; ++k) {
        int32_t x = k < rows / blockRows ? k * blockRows : rows - blockRows;
        energyBlock<columnCount>(padded, taps, x, y, map, rows);
    }
}

// The energies of columns yStart ... yEnd-1 of one map, in pairs of columns, the last one alone
// when their count is odd.
PROCESSOR_CLONES("arch=x86-64-v4", "avx2", "default")
void energyStrip(const PaddedImage& padded, const Taps& taps, int32_t yStart, int32_t yEnd, float* map,
                 int32_t rows) {
    int32_t y = yStart;
    for (; yEnd - y >= blockCols; y += blockCols) energyColumns<blockCols>(padded, taps, y, map, rows);
    if (y < yEnd) energyColumns<1>(padded, taps, y, map, rows);
}

// The kernel's threaded part: every map, strip by strip, shared among the OpenMP threads when
// the call is large enough. Each value is written by one thread, computed as one thread alone
// computes it.
void energyMaps(const PaddedImage& padded, const Taps* taps, int32_t orientCount, MapSize size,
                float* const* maps) {
    int32_t stripCount = size.cols / stripCols + (size.cols % stripCols != 0 ? 1 : 0);
    double tapCount = static_cast<double>(taps[0].side) * taps[0].side;
    bool threaded = static_cast<double>(size.rows) * size.cols * orientCount * tapCount >= minThreadedProducts;
#pragma omp parallel for collapse(2) schedule(dynamic) if (threaded)
    for (int32_t orient = 0; orient < orientCount; ++orient) {
        for (int32_t strip = 0; strip < stripCount; ++strip) {
            int32_t yStart = strip * stripCols;
            int32_t yEnd = size.cols - yStart > stripCols ? yStart + stripCols : size.cols;
            energyStrip(padded, taps[orient], yStart, yEnd, maps[orient], size.rows);
        }
    }
}

// The kernel: the padded image and the flipped taps are made here, on the calling thread, since
// the host's allocator serves that thread only; then the maps are computed.
void filterEnergies(const double* image, MapSize size, int32_t orientCount, int32_t filterHalf,
                    const double* const* filterReal, const double* const* filterImag, float* const* maps) {
    if (size.rows == 0 || size.cols == 0 || orientCount == 0) return;
    int32_t side = 2 * filterHalf + 1;
    int32_t tapCount = side * side;
    int32_t paddedRows = size.rows + 2 * filterHalf;
    float* padded = allocArray<float>(paddedRows * (size.cols + 2 * filterHalf));
    float** tapsRe = allocTable2D<float>(orientCount, tapCount);
    float** tapsIm = allocTable2D<float>(orientCount, tapCount);
    Taps* taps = allocArray<Taps>(orientCount);
    padImage(image, size, filterHalf, padded);
    for (int32_t orient = 0; orient < orientCount; ++orient) {
        flipFilter(filterReal[orient], side, tapsRe[orient]);
        flipFilter(filterImag[orient], side, tapsIm[orient]);
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
