#include "windowmeans.h"

#include <algorithm>

#include "frame.h"

namespace {

// Where the search for the largest mean starts; exactly representable in single precision.
const double meanSearchStart = -1e10;

// Columns whose running sums are formed together. Each running sum waits for the one above it
// in its column (a chain of roundings about 15 cycles per link), so a block of columns is
// walked along its anti-diagonals, one entry of every column per step: the entries of a step
// are independent, and that many chains advance at once.
const int32_t blockColumns = 16;

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

// Fills the running sums of columns y0 ... y0 + width - 1 (every earlier column is complete).
// At step k, column y0 + j takes row k - j: the entry to its left was set at step k - 1 and the
// one above it at step k - 1, so the entries of one step do not wait for each other. Steps
// where a full block has every entry past the first row and column take the inner formula
// without tests.
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

// Writes the window mean of every interior position into meanColumns, column by column, and
// returns the largest one. zeroColumn (rows zeros) stands for the running sums before the
// first column.
template <typename T>
T meanOverInterior(const T* const* running, const T* zeroColumn, int32_t orientCount, const MeanWindow& window,
                   const Interior& interior, T* const* meanColumns) {
    int32_t hx = window.halfWindowX;
    int32_t hy = window.halfWindowY;
    MeanDivisors divisors{2.0 * hx + 1.0, 2.0 * hy + 1.0, static_cast<double>(orientCount)};
    T maxMean = static_cast<T>(meanSearchStart);
    for (int32_t y = interior.c0; y < interior.c1; ++y) {
        const T* low = y - hy - 1 < 0 ? zeroColumn : running[y - hy - 1];
        T* means = meanColumns[y];
        meanColumn(running[y + hy], low, hx, interior, divisors, means);
        for (int32_t x = interior.r0; x < interior.r1; ++x) {
            if (means[x] > maxMean) maxMean = means[x];
        }
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

template <typename T>
WindowMeanWork<T> allocWindowMeanWork(const WindowMeanNeeds& needs) {
    WindowMeanWork<T> work;
    work.running = allocArray<T*>(needs.cols);
    work.runningValues = allocArray<T>(needs.values);
    work.blockValues = allocArray<T>(needs.blockValues);
    work.zeroColumn = allocArray<T>(needs.rows);
    return work;
}

template <typename T>
void freeWindowMeanWork(WindowMeanWork<T>& work) {
    mxFree(work.running);
    mxFree(work.runningValues);
    mxFree(work.blockValues);
    mxFree(work.zeroColumn);
}

template <typename T>
bool computeWindowMeans(const T* const* maps, int32_t orientCount, int32_t rows, int32_t cols,
                        const MeanWindow& window, WindowMeanWork<T>& work, T* const* meanColumns, T& maxMean) {
    Interior interior;
    if (!findInterior(rows, cols, window, interior)) return false;
    T** running = work.running;
    for (int32_t y = 0; y < cols; ++y) running[y] = work.runningValues + static_cast<int64_t>(y) * rows;
    for (int32_t y0 = 0, width = 0; y0 < cols; y0 += width) {
        width = std::min(blockColumns, cols - y0);
        sumBlockOrientations(maps, orientCount, rows, y0, width, work.blockValues);
        accumulateBlock(running, rows, y0, width, work.blockValues);
    }
    maxMean = meanOverInterior(running, work.zeroColumn, orientCount, window, interior, meanColumns);
    replicateEdges(meanColumns, rows, cols, interior);
    return true;
}

template WindowMeanWork<float> allocWindowMeanWork<float>(const WindowMeanNeeds&);
template WindowMeanWork<double> allocWindowMeanWork<double>(const WindowMeanNeeds&);
template void freeWindowMeanWork<float>(WindowMeanWork<float>&);
template void freeWindowMeanWork<double>(WindowMeanWork<double>&);
template void replicateEdges<float>(float* const*, int32_t, int32_t, const Interior&);
template void replicateEdges<double>(double* const*, int32_t, int32_t, const Interior&);
template bool computeWindowMeans<float>(const float* const*, int32_t, int32_t, int32_t, const MeanWindow&,
                                        WindowMeanWork<float>&, float* const*, float&);
template bool computeWindowMeans<double>(const double* const*, int32_t, int32_t, int32_t, const MeanWindow&,
                                         WindowMeanWork<double>&, double* const*, double&);
