// cellum: for each of a stack of square windows, the energies of its responses to a bank of
// complex filters (each window filtered alone, its edges repeated, exactly as filtrum filters an
// image), their square roots in double precision (amplitudes), summed over a grid of square
// cells centred in the window. A cell's sum adds, column by column from the left, the column's
// sum of its rows from the top, each sum started at 0: the order in which Octave's sum(sum(x, 1), 2)
// adds them. The windows are shared among OpenMP threads; each sum is formed by one thread in
// that order.

#include <cmath>

#include "dispatch.h"
#include "filter_energy.h"
#include "frame.h"
#include "threads.h"

namespace {

using filterenergy::PaddedImage;
using filterenergy::Taps;

// The largest filterHalf whose (2h+1)^2 taps a 32-bit count holds: 46339^2 = 2147302921.
const int32_t maxFilterHalf = 23169;
// The largest side of a padded window, (side + 2h), whose square a 32-bit count holds.
const int64_t maxPaddedSide = 46340;

// The energies of one map's columns 0 ... side-1, compiled for AVX-512, for AVX2 and for any
// x86-64 (the window's map is a strip of its own).
using MapFunction = void (*)(const PaddedImage&, const Taps&, int32_t, float*);

AVX512_VERSION void energyMapAvx512(const PaddedImage& padded, const Taps& taps, int32_t side, float* map) {
    filterenergy::energyStrip<filterenergy::Lanes16>(padded, taps, 0, side, map, side);
}

AVX2_VERSION void energyMapAvx2(const PaddedImage& padded, const Taps& taps, int32_t side, float* map) {
    filterenergy::energyStrip<filterenergy::Lanes8>(padded, taps, 0, side, map, side);
}

void energyMapBaseline(const PaddedImage& padded, const Taps& taps, int32_t side, float* map) {
    filterenergy::energyStrip<filterenergy::Lanes4>(padded, taps, 0, side, map, side);
}

MapFunction mapFunctionForProcessor() {
    if (avx512Available()) return energyMapAvx512;
    if (avx2Available()) return energyMapAvx2;
    return energyMapBaseline;
}

// The grid of cells: cellsPerSide cells of cellSize pixels a side, starting at row and column
// `first` (0-based), the remainder of the window split evenly between its edges.
struct CellGrid {
    int32_t cellSize;
    int32_t cellsPerSide;
    int32_t first;
};

// The cell sums of the amplitudes of one energy map, into sums[cell] (cells column-major).
void cellSums(const float* map, int32_t side, const CellGrid& grid, double* sums) {
    for (int32_t cc = 0; cc < grid.cellsPerSide; ++cc) {
        for (int32_t cr = 0; cr < grid.cellsPerSide; ++cr) {
            double cellSum = 0.0;
            for (int32_t c = 0; c < grid.cellSize; ++c) {
                const float* column = map + int64_t{grid.first + cc * grid.cellSize + c} * side +
                                      grid.first + cr * grid.cellSize;
                double columnSum = 0.0;
                for (int32_t r = 0; r < grid.cellSize; ++r) columnSum += std::sqrt(static_cast<double>(column[r]));
                cellSum += columnSum;
            }
            sums[cr + cc * grid.cellsPerSide] = cellSum;
        }
    }
}

// The working memory of one thread: a padded window and one energy map.
struct WindowWork {
    float* padded;
    float* map;
};

// Every window's cell sums, windows shared among the threads. The padded copies and taps are
// made on the calling thread (the host's allocator serves that thread only).
void windowAmplitudes(const double* windows, int32_t side, int32_t count, int32_t orientCount, int32_t filterHalf,
                      const double* const* filterReal, const double* const* filterImag, const CellGrid& grid,
                      double* amplitudes) {
    if (count == 0 || orientCount == 0 || side == 0) return;
    int32_t tapSide = 2 * filterHalf + 1;
    int32_t tapCount = tapSide * tapSide;
    int32_t paddedSide = side + 2 * filterHalf;
    float** tapsRe = allocTable2D<float>(orientCount, tapCount);
    float** tapsIm = allocTable2D<float>(orientCount, tapCount);
    Taps* taps = allocArray<Taps>(orientCount);
    for (int32_t orient = 0; orient < orientCount; ++orient) {
        filterenergy::flipFilter(filterReal[orient], tapSide, tapsRe[orient]);
        filterenergy::flipFilter(filterImag[orient], tapSide, tapsIm[orient]);
        taps[orient] = Taps{tapsRe[orient], tapsIm[orient], tapSide};
    }
    int32_t threadCount = threadCountFor(count);
    float** padded = allocTable2D<float>(threadCount, paddedSide * paddedSide);
    float** maps = allocTable2D<float>(threadCount, side * side);
    MapFunction energyMap = mapFunctionForProcessor();
    int32_t cellCount = grid.cellsPerSide * grid.cellsPerSide;
#pragma omp parallel for schedule(dynamic) num_threads(threadCount)
    for (int32_t w = 0; w < count; ++w) {
        WindowWork work{padded[threadNumber()], maps[threadNumber()]};
        filterenergy::padImage(windows + int64_t{w} * side * side, side, side, filterHalf, work.padded);
        for (int32_t orient = 0; orient < orientCount; ++orient) {
            energyMap(PaddedImage{work.padded, paddedSide}, taps[orient], side, work.map);
            cellSums(work.map, side, grid, amplitudes + (int64_t{w} * orientCount + orient) * cellCount);
        }
    }
    freeTable2D(maps, threadCount, side * side);
    freeTable2D(padded, threadCount, paddedSide * paddedSide);
    mxFree(taps);
    freeTable2D(tapsIm, orientCount, tapCount);
    freeTable2D(tapsRe, orientCount, tapCount);
}

const char* const argNames[] = {"side",       "count",      "orientCount", "filterHalf",   "windows",
                                "filterReal", "filterImag", "cellSize",    "cellsPerSide", "amplitudes"};

void cellum(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t side = readIntArg(args, 0);
    int32_t count = readIntArg(args, 0);
    int32_t orientCount = readIntArg(args, 0);
    int32_t filterHalf = readIntArg(args, 0, maxFilterHalf);
    if (side + 2 * int64_t{filterHalf} > maxPaddedSide) {
        refuseCall(ArgFault::tooLarge,
                   "argument 4 (filterHalf): expected a window padded by h on every side, (side + 2h)^2 values, "
                   "within 32-bit indexing, side + 2h at most %lld; got side %d and h %d",
                   static_cast<long long>(maxPaddedSide), side, filterHalf);
    }
    int64_t tapCount = (2 * int64_t{filterHalf} + 1) * (2 * int64_t{filterHalf} + 1);
    const double* windows = readArrayArg<double>(args, int64_t{side} * side * count, Access::read);
    double** filterReal = readCellList<double>(args, orientCount, Access::read, [&](int32_t) { return tapCount; });
    double** filterImag = readCellList<double>(args, orientCount, Access::read, [&](int32_t) { return tapCount; });
    CellGrid grid;
    grid.cellSize = readIntArg(args, 1);
    grid.cellsPerSide = readIntArg(args, 0);
    if (int64_t{grid.cellSize} * grid.cellsPerSide > side) {
        refuseCall(ArgFault::outOfRange,
                   "argument 9 (cellsPerSide): expected cells that fit the window, cellSize * cellsPerSide "
                   "at most side %d; got %d cells of %d",
                   side, grid.cellsPerSide, grid.cellSize);
    }
    grid.first = (side - grid.cellSize * grid.cellsPerSide) / 2;
    int64_t cellCount = int64_t{grid.cellsPerSide} * grid.cellsPerSide;
    double* amplitudes = readArrayArg<double>(args, cellCount * orientCount * count, Access::written);
    endArgs(args);
    windowAmplitudes(windows, side, count, orientCount, filterHalf, filterReal, filterImag, grid, amplitudes);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("cellum", cellum, nlhs, nrhs, prhs);
}
