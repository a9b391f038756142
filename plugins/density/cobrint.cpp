// cobrint: saturates a grid of double-precision response maps in place and adds the density
// of the saturated values inside an inner window of every map to a histogram.

#include "frame.h"

namespace {

// The histogram and its bins: bin b < count - 1 holds the values in [b * width, (b + 1) * width).
struct Bins {
    double width;
    int32_t count;
    double* histogram;
};

// Every value of every map, border included, becomes s * tanh(v / s) in double precision.
// Each value is transformed on its own, so the maps are walked in storage order.
void saturateGrid(double* const* maps, int32_t cellCount, int32_t valueCount, double saturationLevel) {
    for (int32_t c = 0; c < cellCount; ++c) {
        double* map = maps[c];
        for (int32_t p = 0; p < valueCount; ++p) map[p] = saturationOf(map[p], saturationLevel);
    }
}

// The bin of a value: floor(v / width), compared in double before it becomes an integer.
// Values below 0 join the first bin, values from the last bin's lower edge up (and NaN) the
// last, so every value has a bin.
int32_t binOf(double v, const Bins& bins) {
    double f = std::floor(v / bins.width);
    if (f < 0.0) return 0;
    if (bins.count - 1 > f) return static_cast<int32_t>(f);
    return bins.count - 1;
}

// Adds 1 to the bin of every value in rows borderWidth ... rows - borderWidth - 2 and columns
// borderWidth ... cols - borderWidth - 2 (0-based) of every map; returns how many it added.
// The window leaves out one row and one column more at the far edges than at the near ones.
int64_t tallyWindow(const double* const* maps, int32_t cellCount, MapSize size, int32_t borderWidth,
                    const Bins& bins) {
    int32_t rowEnd = size.rows - borderWidth - 1;
    int32_t colEnd = size.cols - borderWidth - 1;
    if (borderWidth >= rowEnd || borderWidth >= colEnd) return 0;
    for (int32_t c = 0; c < cellCount; ++c) {
        for (int32_t y = borderWidth; y < colEnd; ++y) {
            const double* column = maps[c] + y * size.rows;
            for (int32_t x = borderWidth; x < rowEnd; ++x) bins.histogram[binOf(column[x], bins)] += 1.0;
        }
    }
    return static_cast<int64_t>(cellCount) * (rowEnd - borderWidth) * (colEnd - borderWidth);
}

// Turns the counts into a density: every bin is divided by width * tallied. With nothing
// tallied the histogram is left as it was rather than filled with 0/0.
void normalizeHistogram(const Bins& bins, int64_t tallied) {
    if (tallied == 0) return;
    double scale = bins.width * static_cast<double>(tallied);
    for (int32_t b = 0; b < bins.count; ++b) bins.histogram[b] = bins.histogram[b] / scale;
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
    saturateGrid(maps, cellCount, size.rows * size.cols, saturationLevel);
    normalizeHistogram(bins, tallyWindow(maps, cellCount, size, borderWidth, bins));
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("cobrint", cobrint, nlhs, nrhs, prhs);
}
