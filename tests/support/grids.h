// Map grids and arrays built the way a caller builds them, for tests and benchmarks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "minihost.h"

namespace testsupport {

// A cell array of imageCount * orientCount maps, cell image + orient * imageCount holding
// rows[image] x cols[image] values plus `spare` trailing values, all of the given class.
struct MapGrid {
    minihost::Array cells;
    int imageCount = 0;
    int orientCount = 0;
    mxArray* map(int image, int orient) const { return mxGetCell(cells.get(), image + orient * imageCount); }
    float* singles(int image, int orient) const { return minihost::singleData(map(image, orient)); }
    double* doubles(int image, int orient) const { return minihost::doubleData(map(image, orient)); }
};

inline MapGrid makeGrid(int imageCount, int orientCount, const std::vector<int>& rows,
                        const std::vector<int>& cols, mxClassID classId, int spare = 0) {
    MapGrid grid{minihost::cellArray(imageCount, orientCount), imageCount, orientCount};
    for (int orient = 0; orient < orientCount; ++orient) {
        for (int image = 0; image < imageCount; ++image) {
            minihost::putCell(grid.cells.get(), image + orient * imageCount,
                              minihost::Array(mxCreateNumericMatrix(rows[image] * cols[image] + spare, 1,
                                                                    classId, mxREAL)));
        }
    }
    return grid;
}

// Sets every value of every cell (spare values included) to draw(), cell by cell in cell
// order; single or double cells alike.
template <typename Draw>
void fillEach(const MapGrid& grid, Draw draw) {
    for (int c = 0; c < grid.imageCount * grid.orientCount; ++c) {
        mxArray* map = mxGetCell(grid.cells.get(), c);
        size_t count = mxGetNumberOfElements(map);
        for (size_t k = 0; k < count; ++k) {
            if (mxIsSingle(map)) minihost::singleData(map)[k] = static_cast<float>(draw());
            else minihost::doubleData(map)[k] = draw();
        }
    }
}

// The data pointers of every cell, in cell order: the cell pointer table a plug-in makes of
// the grid. T is the cells' value type (const or not).
template <typename T>
std::vector<T*> cellTable(const MapGrid& grid) {
    std::vector<T*> table;
    for (int c = 0; c < grid.imageCount * grid.orientCount; ++c) {
        table.push_back(static_cast<T*>(mxGetData(mxGetCell(grid.cells.get(), c))));
    }
    return table;
}

// An overlap table as the benchmarks inhibit with: orientCount x orientCount cells of
// (4h + 1)^2 double factors, h = filterHalf. Orientations more than one step apart (cyclically)
// keep their responses (1); for the same or a neighbouring orientation, responses within
// wipedHalf rows and columns of the element are wiped out (0) and the rest of the reach halved.
inline MapGrid neighbourOverlapTable(int orientCount, int filterHalf, int wipedHalf) {
    const int reachSide = 4 * filterHalf + 1;
    const std::vector<int> sides(orientCount, reachSide);
    MapGrid overlap = makeGrid(orientCount, orientCount, sides, sides, mxDOUBLE_CLASS);
    for (int a = 0; a < orientCount; ++a) {
        for (int b = 0; b < orientCount; ++b) {
            int apart = std::min((a - b + orientCount) % orientCount, (b - a + orientCount) % orientCount);
            double* factors = overlap.doubles(a, b);
            for (int y = 0; y < reachSide; ++y) {
                for (int x = 0; x < reachSide; ++x) {
                    bool near = std::abs(x - 2 * filterHalf) <= wipedHalf && std::abs(y - 2 * filterHalf) <= wipedHalf;
                    factors[x + y * reachSide] = apart > 1 ? 1.0 : near ? 0.0 : 0.5;
                }
            }
        }
    }
    return overlap;
}

// The values of every cell, in cell order, for before/after comparisons.
template <typename T>
std::vector<std::vector<T>> snapshot(const MapGrid& grid) {
    std::vector<std::vector<T>> values;
    for (int c = 0; c < grid.imageCount * grid.orientCount; ++c) {
        mxArray* map = mxGetCell(grid.cells.get(), c);
        const T* data = static_cast<const T*>(mxGetData(map));
        values.emplace_back(data, data + mxGetNumberOfElements(map));
    }
    return values;
}

// Writes values taken by snapshot() back into the grid's cells, which keep their sizes.
template <typename T>
void restore(const MapGrid& grid, const std::vector<std::vector<T>>& values) {
    for (size_t c = 0; c < values.size(); ++c) {
        std::copy(values[c].begin(), values[c].end(), static_cast<T*>(mxGetData(mxGetCell(grid.cells.get(), c))));
    }
}

inline std::vector<double> asDoubles(const std::vector<int>& values) {
    return std::vector<double>(values.begin(), values.end());
}

// Bit-for-bit equality that treats two NaNs of the same pattern as equal.
template <typename T>
bool sameBits(T a, T b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

}  // namespace testsupport
