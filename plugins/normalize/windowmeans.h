// Window means over all orientations of one image's response maps, in single or double
// precision: the routine shared by somvert, somvertwide (which divide by the means) and
// brelind (which writes them out).
//
// A map holds rows x cols values column-major: position (x, y), 0-based row x and column y,
// is element x + y * rows. Mean tables are column tables: cols pointers, each to a column of
// rows values, position (x, y) at [y][x] (for example allocTable2D(cols, rows), or pointers
// to the columns of a map).
#pragma once

#include <cstdint>

// Where a window may sit and how large it is: no window covers the edgeMargin rows and
// columns at each map edge; a window spans 2 * halfWindowX + 1 rows and 2 * halfWindowY + 1
// columns. All three are at least 0.
struct MeanWindow {
    int32_t edgeMargin;
    int32_t halfWindowX;
    int32_t halfWindowY;
};

// The positions whose whole window keeps the margin: rows r0 <= x < r1, columns c0 <= y < c1.
struct Interior {
    int32_t r0;
    int32_t r1;
    int32_t c0;
    int32_t c1;
};

// Finds the interior of a rows x cols map; false, leaving `interior` unset, when it is empty
// (r0 >= r1 or c0 >= c1).
bool findInterior(int32_t rows, int32_t cols, const MeanWindow& window, Interior& interior);

// Sets every position of a column table outside a non-empty interior to the value of the
// nearest interior position: (x, y) takes the value at (min(max(x, r0), r1 - 1),
// min(max(y, c0), c1 - 1)).
template <typename T>
void replicateEdges(T* const* columns, int32_t rows, int32_t cols, const Interior& interior);

// What the working tables of the window means must hold for a set of maps: the most rows, the
// most columns, the most values of one map and the most values of one block of its columns.
// Start from zeros and include every map that is given a window.
struct WindowMeanNeeds {
    int32_t rows = 0;
    int32_t cols = 0;
    int32_t values = 0;
    int32_t blockValues = 0;
};

void includeMap(WindowMeanNeeds& needs, int32_t rows, int32_t cols);

// Working tables for the window means of maps within `needs` (at least one map included),
// computed by `threads` threads together: one column of running sums per map column, a block of
// orientation sums, a column of zeros and the largest mean of each thread's share. Allocating
// them once for the largest maps of a call lets a call with several maps take all its working
// memory before it writes, and before any thread starts.
template <typename T>
struct WindowMeanWork {
    T** running;       // column pointers into runningValues, set for each map
    T* runningValues;
    T* blockValues;    // a block of columns of orientation sums, column j at j * rows
    T* zeroColumn;     // a column of zeros
    T* maxima;         // per share of the columns, its largest mean
    int32_t threads;   // at least 1
};

// The threads that compute the window means of one rows x cols map together: as many as
// OMP_NUM_THREADS allows, but no more than its blocks of columns, and each with a share of
// enough values to be worth starting (at least 1).
int32_t windowMeanThreadsFor(int32_t rows, int32_t cols);

template <typename T>
WindowMeanWork<T> allocWindowMeanWork(const WindowMeanNeeds& needs, int32_t threads);

template <typename T>
void freeWindowMeanWork(WindowMeanWork<T>& work);

// Writes into the column table meanColumns, at every position, the window mean over all
// orientCount (at least 1) maps, and sets maxMean to the largest interior mean (a strict
// maximum starting from -1e10, so NaN means never win); returns true. Each interior mean is
//   s / (2 * halfWindowX + 1) / (2 * halfWindowY + 1) / orientCount
// in double precision from the window sum s of a summed-area table (orientation sums and
// running sums rounded to T as they are stored), and is stored in T; positions outside the
// interior copy the nearest interior mean. Running sums before the first row or column, which
// windows reach when edgeMargin is 0, count as zero. When the interior is empty it writes
// nothing and returns false. `work` must hold a rows x cols map. Every rounded operation
// happens in the order the plain row-by-row loops give it; only independent operations are
// interleaved, or shared out among work.threads threads: blocks of columns of the orientation
// sums (which the calling thread then sums up into the running sums), then ranges of columns of
// the means. Called from inside a parallel region, work.threads must be 1.
template <typename T>
bool computeWindowMeans(const T* const* maps, int32_t orientCount, int32_t rows, int32_t cols,
                        const MeanWindow& window, WindowMeanWork<T>& work, T* const* meanColumns, T& maxMean);

// The divisor of a position with window mean `mean`: the mean when floorValue < mean,
// otherwise floorValue rounded to T (so a NaN mean takes the floor too). A divisor of exactly
// 0 becomes 1, so dividing by it keeps a value instead of turning it into NaN or an infinity.
template <typename T>
T windowDivisor(T mean, double floorValue) {
    T divisor = floorValue < mean ? mean : static_cast<T>(floorValue);
    return divisor == 0 ? T(1) : divisor;
}
