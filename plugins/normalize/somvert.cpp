// somvert and somvertwide: divide the oriented response maps of one image, in place, by their
// local mean over a window and all orientations, never by less than relativeFloor times the
// largest local mean. One source: somvert works on single-precision maps, somvertwide (built
// with SOMVERT_DOUBLE_PRECISION defined) on double-precision maps, each with working values
// of its own precision.

#include "frame.h"
#include "windowmeans.h"

namespace {

#ifdef SOMVERT_DOUBLE_PRECISION
using MapValue = double;
const char* const pluginName = "somvertwide";
#else
using MapValue = float;
const char* const pluginName = "somvert";
#endif

// Turns one column of window means into divisors, in place.
void meansToDivisors(MapValue* column, int32_t rows, double floorValue) {
    for (int32_t x = 0; x < rows; ++x) column[x] = windowDivisor(column[x], floorValue);
}

// Divides one column of a map by its divisors.
void divideColumn(MapValue* column, const MapValue* divisors, int32_t rows) {
    for (int32_t x = 0; x < rows; ++x) column[x] = column[x] / divisors[x];
}

// Divides every orientation's value at each position by the position's divisor. The maps are
// column-major, as is the mean table, so each column's divisors are formed once, in place, and
// every map is then divided along the column while they are in cache. The columns are shared
// out among `threads` threads.
void divideMaps(MapValue* const* maps, int32_t orientCount, MapSize size, MapValue* const* meanColumns,
                double floorValue, int32_t threads) {
#pragma omp parallel for schedule(static) num_threads(threads) if (threads > 1)
    for (int32_t y = 0; y < size.cols; ++y) {
        meansToDivisors(meanColumns[y], size.rows, floorValue);
        for (int32_t o = 0; o < orientCount; ++o) {
            divideColumn(maps[o] + static_cast<int64_t>(y) * size.rows, meanColumns[y], size.rows);
        }
    }
}

// The kernel: window means first, all of them from the maps as they came in, then the
// division, both shared out among the threads that the map's size allows. An empty interior
// leaves the maps unchanged.
void divideByWindowMean(MapValue* const* maps, int32_t orientCount, MapSize size,
                        const MeanWindow& window, double relativeFloor) {
    // Nothing to divide: no working memory either, however many rows or columns are named.
    Interior interior;
    if (!findInterior(size.rows, size.cols, window, interior)) return;
    MapValue** meanColumns = allocTable2D<MapValue>(size.cols, size.rows);
    WindowMeanNeeds needs;
    includeMap(needs, size.rows, size.cols);
    int32_t threads = windowMeanThreadsFor(size.rows, size.cols);
    WindowMeanWork<MapValue> work = allocWindowMeanWork<MapValue>(needs, threads);
    MapValue maxMean = 0;
    if (computeWindowMeans(maps, orientCount, size.rows, size.cols, window, work, meanColumns, maxMean)) {
        divideMaps(maps, orientCount, size, meanColumns, maxMean * relativeFloor, threads);
    }
    freeWindowMeanWork(work);
    freeTable2D(meanColumns, size.cols, size.rows);
}

const char* const argNames[] = {"mapRows",     "mapCols",     "orientCount", "edgeMargin",
                                "halfWindowX", "halfWindowY", "orientMaps",  "relativeFloor"};

void somvert(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    MapSize size = readMapSize(args);
    int32_t orientCount = readIntArg(args, 1);
    MeanWindow window;
    window.edgeMargin = readIntArg(args, 0);
    window.halfWindowX = readIntArg(args, 0);
    window.halfWindowY = readIntArg(args, 0);
    int64_t valueCount = static_cast<int64_t>(size.rows) * size.cols;
    MapValue** maps = readCellList<MapValue>(args, orientCount, Access::written,
                                             [&](int32_t) { return valueCount; });
    double relativeFloor = readRealArg(args, RealRule::finite);
    endArgs(args);

    divideByWindowMean(maps, orientCount, size, window, relativeFloor);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin(pluginName, somvert, nlhs, nrhs, prhs);
}
