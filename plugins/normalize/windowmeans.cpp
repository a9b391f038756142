#include "windowmeans.h"

#include <algorithm>

#include "frame.h"

namespace {

// Where the search for the largest mean starts; exactly representable in single precision.
const double meanSearchStart = -1e10;

// orientSum[x][y] = the sum of the maps at (x, y), orientations added in order and rounded to
// T after each addition. The maps are column-major, so each column is summed into
// columnSum (rows entries), reading every map along the column, and then stored.
template <typename T>
void sumOrientations(const T* const* maps, int32_t orientCount, int32_t rows, int32_t cols,
                     T* columnSum, T* const* orientSum) {
    for (int32_t y = 0; y < cols; ++y) {
        std::fill(columnSum, columnSum + rows, T(0));
        for (int32_t o = 0; o < orientCount; ++o) {
            const T* column = maps[o] + y * rows;
            for (int32_t x = 0; x < rows; ++x) columnSum[x] += column[x];
        }
        for (int32_t x = 0; x < rows; ++x) orientSum[x][y] = columnSum[x];
    }
}

// running[x][y] = the sum of orientSum over rows 0 ... x and columns 0 ... y. The first row
// and column add in T; every other entry is formed in double precision as
// ((left + above) - aboveLeft) + own and rounded to T once.
template <typename T>
void accumulateRunningSums(const T* const* orientSum, int32_t rows, int32_t cols, T* const* running) {
    running[0][0] = orientSum[0][0];
    for (int32_t x = 1; x < rows; ++x) running[x][0] = running[x - 1][0] + orientSum[x][0];
    for (int32_t y = 1; y < cols; ++y) running[0][y] = running[0][y - 1] + orientSum[0][y];
    for (int32_t x = 1; x < rows; ++x) {
        for (int32_t y = 1; y < cols; ++y) {
            double sum = ((static_cast<double>(running[x][y - 1]) + running[x - 1][y]) -
                          running[x - 1][y - 1]) +
                         orientSum[x][y];
            running[x][y] = static_cast<T>(sum);
        }
    }
}

// A running sum, zero before the first row or column (x or y of -1).
template <typename T>
double runningSumAt(const T* const* running, int32_t x, int32_t y) {
    return x < 0 || y < 0 ? 0.0 : static_cast<double>(running[x][y]);
}

// Writes the window mean of every interior position into meanTable, rows outermost, and
// returns the largest one.
template <typename T>
T meanOverInterior(const T* const* running, int32_t orientCount, const MeanWindow& window,
                   const Interior& interior, T* const* meanTable) {
    int32_t hx = window.halfWindowX;
    int32_t hy = window.halfWindowY;
    double windowRows = 2.0 * hx + 1.0;
    double windowCols = 2.0 * hy + 1.0;
    T maxMean = static_cast<T>(meanSearchStart);
    for (int32_t x = interior.r0; x < interior.r1; ++x) {
        for (int32_t y = interior.c0; y < interior.c1; ++y) {
            double s = ((runningSumAt(running, x + hx, y + hy) - runningSumAt(running, x - hx - 1, y + hy)) -
                        runningSumAt(running, x + hx, y - hy - 1)) +
                       runningSumAt(running, x - hx - 1, y - hy - 1);
            T mean = static_cast<T>(s / windowRows / windowCols / orientCount);
            meanTable[x][y] = mean;
            if (mean > maxMean) maxMean = mean;
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
void replicateEdges(T* const* table, int32_t rows, int32_t cols, const Interior& interior) {
    for (int32_t x = interior.r0; x < interior.r1; ++x) {
        T* row = table[x];
        std::fill(row, row + interior.c0, row[interior.c0]);
        std::fill(row + interior.c1, row + cols, row[interior.c1 - 1]);
    }
    for (int32_t x = 0; x < interior.r0; ++x) std::copy(table[interior.r0], table[interior.r0] + cols, table[x]);
    for (int32_t x = interior.r1; x < rows; ++x) {
        std::copy(table[interior.r1 - 1], table[interior.r1 - 1] + cols, table[x]);
    }
}

template <typename T>
bool computeWindowMeans(const T* const* maps, int32_t orientCount, int32_t rows, int32_t cols,
                        const MeanWindow& window, T* const* meanTable, T& maxMean) {
    Interior interior;
    if (!findInterior(rows, cols, window, interior)) return false;
    T** orientSum = allocTable2D<T>(rows, cols);
    T** running = allocTable2D<T>(rows, cols);
    T* columnSum = allocArray<T>(rows);
    sumOrientations(maps, orientCount, rows, cols, columnSum, orientSum);
    mxFree(columnSum);
    accumulateRunningSums(orientSum, rows, cols, running);
    maxMean = meanOverInterior(running, orientCount, window, interior, meanTable);
    replicateEdges(meanTable, rows, cols, interior);
    freeTable2D(running, rows, cols);
    freeTable2D(orientSum, rows, cols);
    return true;
}

template void replicateEdges<float>(float* const*, int32_t, int32_t, const Interior&);
template void replicateEdges<double>(double* const*, int32_t, int32_t, const Interior&);
template bool computeWindowMeans<float>(const float* const*, int32_t, int32_t, int32_t,
                                        const MeanWindow&, float* const*, float&);
template bool computeWindowMeans<double>(const double* const*, int32_t, int32_t, int32_t,
                                         const MeanWindow&, double* const*, double&);
