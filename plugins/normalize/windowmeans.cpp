#include "windowmeans.h"

#include <algorithm>

#include "frame.h"
#include "threads.h"

namespace {

// Where the search for the largest mean starts; exactly representable in single precision.
const double meanSearchStart = -1e10;

// Columns whose running sums are formed together. Each running sum waits for the one above it
// in its column (a chain of roundings about 15 cycles per link), so a block of columns is
// walked along its anti-diagonals, one entry of every column per step: the entries of a step
// are independent, and that many chains advance at once.
const int32_t blockColumns = 16;

// Values of a map per thread at the least, when threads share out its window means: enough
// that each thread's share outweighs starting the threads.
const int64_t minValuesPerThread = 16384;

// Maps whose values are added to the orientation sums in one pass: each sum is read and
// written once per group rather than once per map, and the group's maps stream in together.
const int32_t mapGroupSize = 8;

// Adds to each of n sums the values at the same place in G stretches, stretch by stretch in
// order, rounding to T after each addition.
template <int32_t G, typename T>
void addStretches(T* sums, const T* const* stretches, int64_t n) {
    for (int64_t k = 0; k < n; ++k) {
        T sum = sums[k];
        for (int32_t g = 0; g < G; ++g) sum += stretches[g][k];
        sums[k] = sum;
    }
}

// blockValues[x + j * rows] = the sum of the maps at (x, y0 + j) for j < width, orientations
// added in order from 0 and rounded to T after each addition. The block's columns lie one
// after another in every map, so each map is read as one stretch; the maps are taken in groups
// of up to mapGroupSize, which leaves the order of the additions at every position as it is.
template <typename T>
void sumBlockOrientations(const T* const* maps, int32_t orientCount, int32_t rows, int32_t y0, int32_t width,
                          T* blockValues) {
    int64_t n = static_cast<int64_t>(width) * rows;
    std::fill(blockValues, blockValues + n, T(0));
    const T* stretches[mapGroupSize];
    for (int32_t o = 0; o < orientCount;) {
        int32_t left = orientCount - o;
        int32_t group = left >= mapGroupSize ? mapGroupSize : left >= 4 ? 4 : left >= 2 ? 2 : 1;
        for (int32_t g = 0; g < group; ++g) stretches[g] = maps[o + g] + static_cast<int64_t>(y0) * rows;
        switch (group) {
        case mapGroupSize: addStretches<mapGroupSize>(blockValues, stretches, n); break;
        case 4: addStretches<4>(blockValues, stretches, n); break;
        case 2: addStretches<2>(blockValues, stretches, n); break;
        default: addStretches<1>(blockValues, stretches, n); break;
        }
        o += group;
    }
}

// The running sum at (x, y) for x and y of at least 1: ((left + above) - aboveLeft) + own in
// double precision, rounded to T once; `left` is column y - 1.
template <typename T>
inline T innerRunningSum(const T* column, const T* left, int32_t x, T own) {
    return static_cast<T>(((static_cast<double>(left[x]) + column[x - 1]) - left[x - 1]) + own);
}

// Sets column[x], the running sum at (x, y): the sum of the orientation sums over rows 0 ... x
// and columns 0 ... y. The first row and column add in T; `left` is column y - 1 and is not
// read when y is 0.
template <typename T>
inline void setRunningSum(T* column, const T* left, int32_t x, int32_t y, T own) {
    if (y == 0) {
        column[x] = x == 0 ? own : column[x - 1] + own;
    } else if (x == 0) {
        column[0] = left[0] + own;
    } else {
        column[x] = innerRunningSum(column, left, x, own);
    }
}

// Fills the running sums of columns y0 ... y0 + width - 1 (every earlier column is complete)
// from the block's orientation sums, blockValues[x + j * rows] for column y0 + j, which may be
// those very columns of the running sums: each entry reads its own orientation sum once, just
// before it is overwritten. At step k, column y0 + j takes row k - j: the entry to its left
// was set at step k - 1 and the one above it at step k - 1, so the entries of one step do not
// wait for each other. Steps where a full block has every entry past the first row and column
// take the inner formula without tests.
template <typename T>
void accumulateBlock(T* const* running, int32_t rows, int32_t y0, int32_t width, const T* blockValues) {
    bool fullBlock = y0 > 0 && width == blockColumns;
    int64_t stepCount = static_cast<int64_t>(rows) + width - 1;
    for (int64_t step = 0; step < stepCount; ++step) {
        if (fullBlock && step >= blockColumns && step < rows) {
            for (int32_t j = 0; j < blockColumns; ++j) {
                int32_t x = static_cast<int32_t>(step - j);
                running[y0 + j][x] =
                    innerRunningSum(running[y0 + j], running[y0 + j - 1], x, blockValues[x + int64_t{j} * rows]);
            }
            continue;
        }
        int32_t jFirst = static_cast<int32_t>(std::max<int64_t>(0, step - rows + 1));
        int32_t jLast = static_cast<int32_t>(std::min<int64_t>(width - 1, step));
        for (int32_t j = jFirst; j <= jLast; ++j) {
            int32_t x = static_cast<int32_t>(step - j);
            int32_t y = y0 + j;
            setRunningSum(running[y], y > 0 ? running[y - 1] : nullptr, x, y, blockValues[x + int64_t{j} * rows]);
        }
    }
}

// Fills the running sums of a rows x cols map from the maps, block of columns by block. On one
// thread each block's orientation sums are formed in work.blockValues and summed up at once,
// while they are in cache. With more threads, the threads first form the orientation sums of
// all blocks, each block by one thread, in the running sums' own places; then the calling
// thread sums them up, block by block, in place.
template <typename T>
void fillRunningSums(const T* const* maps, int32_t orientCount, int32_t rows, int32_t cols,
                     const WindowMeanWork<T>& work) {
    int32_t blockCount = static_cast<int32_t>((int64_t{cols} + blockColumns - 1) / blockColumns);
    auto widthOf = [&](int32_t block) { return std::min(blockColumns, cols - block * blockColumns); };
    if (work.threads == 1) {
        for (int32_t block = 0; block < blockCount; ++block) {
            sumBlockOrientations(maps, orientCount, rows, block * blockColumns, widthOf(block), work.blockValues);
            accumulateBlock(work.running, rows, block * blockColumns, widthOf(block), work.blockValues);
        }
        return;
    }
#pragma omp parallel for schedule(dynamic) num_threads(work.threads)
    for (int32_t block = 0; block < blockCount; ++block) {
        sumBlockOrientations(maps, orientCount, rows, block * blockColumns, widthOf(block),
                             work.running[block * blockColumns]);
    }
    for (int32_t block = 0; block < blockCount; ++block) {
        accumulateBlock(work.running, rows, block * blockColumns, widthOf(block), work.running[block * blockColumns]);
    }
}

// The divisions that turn a window sum into a mean, in this order, and the rounding to T.
struct MeanDivisors {
    double windowRows;
    double windowCols;
    double orientCount;
};

template <typename T>
inline T meanOfSum(double s, const MeanDivisors& divisors) {
    return static_cast<T>(s / divisors.windowRows / divisors.windowCols / divisors.orientCount);
}

// A running sum of one column, zero before the first row (x of -1).
template <typename T>
inline double runningSumAt(const T* column, int32_t x) {
    return x < 0 ? 0.0 : static_cast<double>(column[x]);
}

// Writes the window means of one interior column into means[r0 ... r1 - 1]: each window sum
// ((high[x + hx] - high[x - hx - 1]) - low[x + hx]) + low[x - hx - 1] in double precision,
// from the running sums of the window's last column (high) and of the column before its first
// (low). Only the first interior row can reach before row 0 (edgeMargin 0); it is done on its
// own so that the other rows run without a test.
template <typename T>
void meanColumn(const T* high, const T* low, int32_t hx, const Interior& interior, const MeanDivisors& divisors,
                T* means) {
    int32_t x = interior.r0;
    if (x - hx - 1 < 0) {
        double s = ((runningSumAt(high, x + hx) - runningSumAt(high, x - hx - 1)) - runningSumAt(low, x + hx)) +
                   runningSumAt(low, x - hx - 1);
        means[x] = meanOfSum<T>(s, divisors);
        ++x;
    }
    for (; x < interior.r1; ++x) {
        double s = ((static_cast<double>(high[x + hx]) - high[x - hx - 1]) - low[x + hx]) + low[x - hx - 1];
        means[x] = meanOfSum<T>(s, divisors);
    }
}

// Writes the window means of interior columns yFirst ... yEnd - 1 into meanColumns, column by
// column, and returns the largest one (meanSearchStart when none is greater). zeroColumn (rows
// zeros) stands for the running sums before the first column.
template <typename T>
T meanOverColumns(const T* const* running, const T* zeroColumn, const MeanWindow& window, const Interior& interior,
                  const MeanDivisors& divisors, int32_t yFirst, int32_t yEnd, T* const* meanColumns) {
    int32_t hx = window.halfWindowX;
    int32_t hy = window.halfWindowY;
    T maxMean = static_cast<T>(meanSearchStart);
    for (int32_t y = yFirst; y < yEnd; ++y) {
        const T* low = y - hy - 1 < 0 ? zeroColumn : running[y - hy - 1];
        T* means = meanColumns[y];
        meanColumn(running[y + hy], low, hx, interior, divisors, means);
        for (int32_t x = interior.r0; x < interior.r1; ++x) {
            if (means[x] > maxMean) maxMean = means[x];
        }
    }
    return maxMean;
}

// Writes the window mean of every interior position into meanColumns and returns the largest
// one. The interior columns are cut into work.threads ranges in order, each with its own
// largest mean; those are then taken in order with the same strict comparison, which gives
// the largest mean of the column-by-column search.
template <typename T>
T meanOverInterior(const T* zeroColumn, int32_t orientCount, const MeanWindow& window, const Interior& interior,
                   const WindowMeanWork<T>& work, T* const* meanColumns) {
    MeanDivisors divisors{2.0 * window.halfWindowX + 1.0, 2.0 * window.halfWindowY + 1.0,
                          static_cast<double>(orientCount)};
    int32_t parts = work.threads;
#pragma omp parallel num_threads(parts) if (parts > 1)
    for (int32_t p = threadNumber(); p < parts; p += teamSize()) {
        ItemRange share = shareOf(interior.c1 - interior.c0, p, parts);
        work.maxima[p] = meanOverColumns(work.running, zeroColumn, window, interior, divisors,
                                         static_cast<int32_t>(interior.c0 + share.first),
                                         static_cast<int32_t>(interior.c0 + share.end), meanColumns);
    }
    T maxMean = static_cast<T>(meanSearchStart);
    for (int32_t p = 0; p < parts; ++p) {
        if (work.maxima[p] > maxMean) maxMean = work.maxima[p];
    }
    return maxMean;
}

}  // namespace

bool findInterior(int32_t rows, int32_t cols, const MeanWindow& window, Interior& interior) {
    // In 64 bits: margins and half windows may each be as large as a 32-bit integer.
    int64_t r0 = static_cast<int64_t>(window.edgeMargin) + window.halfWindowX;
    int64_t r1 = rows - r0;
    int64_t c0 = static_cast<int64_t>(window.edgeMargin) + window.halfWindowY;
    int64_t c1 = cols - c0;
    if (r0 >= r1 || c0 >= c1) return false;
    interior = Interior{static_cast<int32_t>(r0), static_cast<int32_t>(r1), static_cast<int32_t>(c0),
                        static_cast<int32_t>(c1)};
    return true;
}

template <typename T>
void replicateEdges(T* const* columns, int32_t rows, int32_t cols, const Interior& interior) {
    for (int32_t y = interior.c0; y < interior.c1; ++y) {
        T* column = columns[y];
        std::fill(column, column + interior.r0, column[interior.r0]);
        std::fill(column + interior.r1, column + rows, column[interior.r1 - 1]);
    }
    for (int32_t y = 0; y < interior.c0; ++y) std::copy(columns[interior.c0], columns[interior.c0] + rows, columns[y]);
    for (int32_t y = interior.c1; y < cols; ++y) {
        std::copy(columns[interior.c1 - 1], columns[interior.c1 - 1] + rows, columns[y]);
    }
}

void includeMap(WindowMeanNeeds& needs, int32_t rows, int32_t cols) {
    needs.rows = std::max(needs.rows, rows);
    needs.cols = std::max(needs.cols, cols);
    needs.values = std::max(needs.values, rows * cols);
    needs.blockValues = std::max(needs.blockValues, std::min(blockColumns, cols) * rows);
}

int32_t windowMeanThreadsFor(int32_t rows, int32_t cols) {
    int64_t blockCount = (int64_t{cols} + blockColumns - 1) / blockColumns;
    return threadCountFor(std::min(blockCount, int64_t{rows} * cols / minValuesPerThread));
}

template <typename T>
WindowMeanWork<T> allocWindowMeanWork(const WindowMeanNeeds& needs, int32_t threads) {
    WindowMeanWork<T> work;
    work.running = allocArray<T*>(needs.cols);
    work.runningValues = allocArray<T>(needs.values);
    work.blockValues = allocArray<T>(needs.blockValues);
    work.zeroColumn = allocArray<T>(needs.rows);
    work.maxima = allocArray<T>(threads);
    work.threads = threads;
    return work;
}

template <typename T>
void freeWindowMeanWork(WindowMeanWork<T>& work) {
    mxFree(work.running);
    mxFree(work.runningValues);
    mxFree(work.blockValues);
    mxFree(work.zeroColumn);
    mxFree(work.maxima);
}

template <typename T>
bool computeWindowMeans(const T* const* maps, int32_t orientCount, int32_t rows, int32_t cols,
                        const MeanWindow& window, WindowMeanWork<T>& work, T* const* meanColumns, T& maxMean) {
    Interior interior;
    if (!findInterior(rows, cols, window, interior)) return false;
    for (int32_t y = 0; y < cols; ++y) work.running[y] = work.runningValues + static_cast<int64_t>(y) * rows;
    fillRunningSums(maps, orientCount, rows, cols, work);
    maxMean = meanOverInterior(work.zeroColumn, orientCount, window, interior, work, meanColumns);
    replicateEdges(meanColumns, rows, cols, interior);
    return true;
}

template WindowMeanWork<float> allocWindowMeanWork<float>(const WindowMeanNeeds&, int32_t);
template WindowMeanWork<double> allocWindowMeanWork<double>(const WindowMeanNeeds&, int32_t);
template void freeWindowMeanWork<float>(WindowMeanWork<float>&);
template void freeWindowMeanWork<double>(WindowMeanWork<double>&);
template void replicateEdges<float>(float* const*, int32_t, int32_t, const Interior&);
template void replicateEdges<double>(double* const*, int32_t, int32_t, const Interior&);
template bool computeWindowMeans<float>(const float* const*, int32_t, int32_t, int32_t, const MeanWindow&,
                                        WindowMeanWork<float>&, float* const*, float&);
template bool computeWindowMeans<double>(const double* const*, int32_t, int32_t, int32_t, const MeanWindow&,
                                         WindowMeanWork<double>&, double* const*, double&);
