// cobrint: saturates a grid of double-precision response maps in place and adds the density
// of the saturated values inside an inner window of every map to a histogram.

#include <algorithm>

#include "dispatch.h"
#include "frame.h"
#include "threads.h"

namespace {

// The histogram and its bins: bin b < count - 1 holds the values in [b * width, (b + 1) * width).
struct Bins {
    double width;
    int32_t count;
    double* histogram;
};

// Copies of the bin counts that successive values fill in turn, so that a run of values in one
// bin does not wait for each previous count to be stored.
const int32_t countCopies = 4;

// Where a map is tallied: 0-based rows rowBegin ... rowEnd - 1 and columns colBegin ...
// colEnd - 1. It leaves out one row and one column more at the far edges than at the near ones.
struct TallyWindow {
    int32_t rowBegin;
    int32_t rowEnd;
    int32_t colBegin;
    int32_t colEnd;
};

// The bin of a value: floor(v / width), compared in double before it becomes an integer.
// Values below 0 join the first bin, values from the last bin's lower edge up (and NaN) the
// last, so every value has a bin. Written as two selects so that it runs without branches.
int32_t binOf(double v, const Bins& bins) {
    double f = std::floor(v / bins.width);
    double lastBin = bins.count - 1;
    double atLeastFirst = f < 0.0 ? 0.0 : f;
    return static_cast<int32_t>(lastBin > atLeastFirst ? atLeastFirst : lastBin);
}

// Every value of a column becomes s * tanh(v / s) in double precision, on its own.
void saturateColumn(double* column, int32_t rows, double saturationLevel) {
    for (int32_t x = 0; x < rows; ++x) column[x] = saturationOf(column[x], saturationLevel);
}

// The bins of n values; vector code where the processor has it.
PROCESSOR_CLONES("avx2", "default") void binValues(const double* values, int32_t n, const Bins& bins,
                                                   int32_t* binIndex) {
    for (int32_t x = 0; x < n; ++x) binIndex[x] = binOf(values[x], bins);
}

// Counts n bin indices into the copies of the counts, value k into copy k % countCopies.
void countBins(const int32_t* binIndex, int32_t n, int32_t binCount, int64_t* counts) {
    int32_t x = 0;
    for (; x + countCopies <= n; x += countCopies) {
        for (int32_t k = 0; k < countCopies; ++k) ++counts[static_cast<int64_t>(k) * binCount + binIndex[x + k]];
    }
    for (int32_t k = 0; x < n; ++x, ++k) ++counts[static_cast<int64_t>(k) * binCount + binIndex[x]];
}

// Saturates every value of one map, border included, and counts the bins of the saturated
// values inside the window into `counts`, one column at a time while it is in cache. binIndex
// has room for a column of the window.
void saturateAndCountMap(double* map, MapSize size, const TallyWindow& window, double saturationLevel,
                         const Bins& bins, int32_t* binIndex, int64_t* counts) {
    bool windowEmpty = window.rowBegin >= window.rowEnd || window.colBegin >= window.colEnd;
    for (int32_t y = 0; y < size.cols; ++y) {
        double* column = map + static_cast<int64_t>(y) * size.rows;
        saturateColumn(column, size.rows, saturationLevel);
        if (windowEmpty || y < window.colBegin || y >= window.colEnd) continue;
        int32_t n = window.rowEnd - window.rowBegin;
        binValues(column + window.rowBegin, n, bins, binIndex);
        countBins(binIndex, n, bins.count, counts);
    }
}

// The threads for cellCount maps each with windowValues values to count into tables of
// countSlots counts: one per map, but each with at least as many values to count as its own
// table of counts holds (any number when there is nothing to count).
int32_t countingThreadsFor(int32_t cellCount, int64_t windowValues, int64_t countSlots) {
    if (windowValues == 0) return threadCountFor(cellCount);
    return threadCountFor(std::min<int64_t>(cellCount, cellCount * windowValues / countSlots));
}

// Count tables of `threads` threads: thread 0 counts into `counts` itself, every other one into
// a table of countSlots counts of its own (none when nothing is counted).
int64_t** allocCountTables(int32_t threads, int64_t countSlots, int64_t* counts) {
    auto** tables = static_cast<int64_t**>(hostCalloc(static_cast<size_t>(threads), sizeof(int64_t*)));
    tables[0] = counts;
    for (int32_t t = 1; t < threads; ++t) {
        tables[t] = static_cast<int64_t*>(hostCalloc(static_cast<size_t>(countSlots), sizeof(int64_t)));
    }
    return tables;
}

// Adds the other threads' tables into thread 0's and releases them.
void gatherCountTables(int64_t** tables, int32_t threads, int64_t countSlots) {
    for (int32_t t = 1; t < threads; ++t) {
        for (int64_t k = 0; k < countSlots; ++k) tables[0][k] += tables[t][k];
        mxFree(tables[t]);
    }
    mxFree(tables);
}

// Saturates every value of every map and counts the bins of the saturated values inside the
// window into `counts` (countCopies copies of binCount counts); returns how many it counted.
// The maps are shared out among the threads, each counting into a table of its own; the
// tables are then added together. Counts are whole numbers, added exactly in any order, so
// they come out as on one thread; the histogram itself is added to only afterwards.
int64_t saturateAndCount(double* const* maps, int32_t cellCount, MapSize size, const TallyWindow& window,
                         double saturationLevel, const Bins& bins, int64_t* counts) {
    // Maps without values: nothing to saturate or count, however many columns (or rows) the
    // size names; walking them would take time out of all proportion to the data.
    if (size.rows == 0 || size.cols == 0) return 0;
    bool windowEmpty = window.rowBegin >= window.rowEnd || window.colBegin >= window.colEnd;
    int32_t windowRows = windowEmpty ? 0 : window.rowEnd - window.rowBegin;
    int64_t windowValues = windowEmpty ? 0 : static_cast<int64_t>(windowRows) * (window.colEnd - window.colBegin);
    int64_t countSlots = windowEmpty ? 0 : static_cast<int64_t>(countCopies) * bins.count;
    int32_t threads = countingThreadsFor(cellCount, windowValues, countSlots);
    int32_t** binIndex = allocTable2D<int32_t>(threads, windowRows);
    int64_t** countTables = allocCountTables(threads, countSlots, counts);
#pragma omp parallel for schedule(dynamic) num_threads(threads)
    for (int32_t c = 0; c < cellCount; ++c) {
        saturateAndCountMap(maps[c], size, window, saturationLevel, bins, binIndex[threadNumber()],
                            countTables[threadNumber()]);
    }
    gatherCountTables(countTables, threads, countSlots);
    freeTable2D(binIndex, threads, windowRows);
    return static_cast<int64_t>(cellCount) * windowValues;
}

// Largest count below which every whole number is a double: adding such counts to a whole
// number of the same range is exact.
const double exactWholeLimit = 9007199254740992.0;  // 2^53

// Adds `count` ones to a bin, with the result of adding 1.0 that many times: in one addition
// when every partial sum is a whole number below 2^53 (the usual zero-filled histogram), one
// by one otherwise.
double addOnes(double bin, int64_t count) {
    if (count == 0) return bin;
    double ones = static_cast<double>(count);
    if (std::floor(bin) == bin && std::fabs(bin) + ones <= exactWholeLimit) return bin + ones;
    for (int64_t k = 0; k < count; ++k) bin += 1.0;
    return bin;
}

// Adds the counts of every copy to the histogram.
void addCounts(const int64_t* counts, const Bins& bins) {
    for (int32_t b = 0; b < bins.count; ++b) {
        int64_t total = 0;
        for (int32_t k = 0; k < countCopies; ++k) total += counts[static_cast<int64_t>(k) * bins.count + b];
        bins.histogram[b] = addOnes(bins.histogram[b], total);
    }
}

// Turns the counts into a density: every bin is divided by width * tallied. With nothing
// tallied the histogram is left as it was rather than filled with 0/0.
void normalizeHistogram(const Bins& bins, int64_t tallied) {
    if (tallied == 0) return;
    double scale = bins.width * static_cast<double>(tallied);
    for (int32_t b = 0; b < bins.count; ++b) bins.histogram[b] = bins.histogram[b] / scale;
}

// The window of 0-based rows borderWidth ... rows - borderWidth - 2, likewise for columns.
TallyWindow tallyWindowOf(MapSize size, int32_t borderWidth) {
    return TallyWindow{borderWidth, size.rows - borderWidth - 1, borderWidth, size.cols - borderWidth - 1};
}

// 0-based position of mapRows: the map size comes after the grid whose cells it sizes.
const int32_t mapRowsPosition = 4;

const char* const argNames[] = {"imageCount", "orientCount", "doubleResponseMaps", "borderWidth",
                                "mapRows",    "mapCols",     "binWidth",           "binCount",
                                "histogram",  "saturationLevel"};

void cobrint(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t imageCount = readIntArg(args, 0);
    int32_t orientCount = readIntArg(args, 0);
    MapSize size = peekMapSize(args, mapRowsPosition);
    int64_t valueCount = static_cast<int64_t>(size.rows) * size.cols;
    double** maps = readCellGrid<double>(args, imageCount, orientCount, mapGridAxes, Access::written,
                                         [&](int32_t) { return valueCount; });
    int32_t borderWidth = readIntArg(args, 0);
    readMapSize(args);  // mapRows and mapCols again, now in their turn
    Bins bins;
    bins.width = readRealArg(args, RealRule::finitePositive);
    bins.count = readIntArg(args, 1);
    bins.histogram = readArrayArg<double>(args, bins.count, Access::written);
    double saturationLevel = readRealArg(args, RealRule::finiteNonzero);
    endArgs(args);

    int32_t cellCount = imageCount * orientCount;
    size_t countSlots = cellCount == 0 ? 0 : static_cast<size_t>(countCopies) * bins.count;
    int64_t* counts = static_cast<int64_t*>(hostCalloc(countSlots, sizeof(int64_t)));
    int64_t tallied = saturateAndCount(maps, cellCount, size, tallyWindowOf(size, borderWidth), saturationLevel,
                                       bins, counts);
    if (tallied > 0) addCounts(counts, bins);
    mxFree(counts);
    normalizeHistogram(bins, tallied);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("cobrint", cobrint, nlhs, nrhs, prhs);
}
