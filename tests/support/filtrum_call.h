// A call of filtrum built the way a caller builds it, with random image and filters, and the
// plain loop's maps for the same arguments: shared by filtrum's unit tests.
#pragma once

#include <cstdint>
#include <vector>

#include "grids.h"
#include "minihost.h"
#include "plain_loops.h"
#include "test_support.h"

namespace testsupport {

struct FiltrumCall {
    int rows = 0;
    int cols = 0;
    int orientCount = 0;
    int filterHalf = 0;
    minihost::Array rowArg, colArg, orientArg, halfArg, image;
    MapGrid filterReal, filterImag, maps;

    std::vector<const mxArray*> args() const {
        return {rowArg.get(), colArg.get(), orientArg.get(), halfArg.get(), image.get(),
                filterReal.cells.get(), filterImag.cells.get(), maps.cells.get()};
    }
    double* imageValues() const { return minihost::doubleData(image.get()); }
};

// rows x cols image values from [-1, 2), filter values from [-1, 1), and maps of zeros with
// `spare` values more than rows * cols each.
inline FiltrumCall makeFiltrumCall(int rows, int cols, int orientCount, int filterHalf, SeededRandom& random,
                                   int spare = 0) {
    int side = 2 * filterHalf + 1;
    FiltrumCall call;
    call.rows = rows;
    call.cols = cols;
    call.orientCount = orientCount;
    call.filterHalf = filterHalf;
    call.rowArg = minihost::scalar(rows);
    call.colArg = minihost::scalar(cols);
    call.orientArg = minihost::scalar(orientCount);
    call.halfArg = minihost::scalar(filterHalf);
    call.image = minihost::doubles(rows, cols);
    for (int k = 0; k < rows * cols; ++k) call.imageValues()[k] = random.uniform(-1.0f, 2.0f);
    call.filterReal = makeGrid(1, orientCount, {side}, {side}, mxDOUBLE_CLASS);
    call.filterImag = makeGrid(1, orientCount, {side}, {side}, mxDOUBLE_CLASS);
    fillEach(call.filterReal, [&] { return random.uniform(-1.0f, 1.0f); });
    fillEach(call.filterImag, [&] { return random.uniform(-1.0f, 1.0f); });
    call.maps = makeGrid(1, orientCount, {rows}, {cols}, mxSINGLE_CLASS, spare);
    return call;
}

// The plain loop's maps for the call's arguments, each as long as the call's map, the values
// past rows * cols as they are in the call's maps now.
inline std::vector<std::vector<float>> plainEnergies(const FiltrumCall& call) {
    std::vector<std::vector<float>> expected = snapshot<float>(call.maps);
    std::vector<float*> mapTable;
    for (std::vector<float>& map : expected) mapTable.push_back(map.data());
    std::vector<const double*> realTable = cellTable<const double>(call.filterReal);
    std::vector<const double*> imagTable = cellTable<const double>(call.filterImag);
    plain::filtrum(call.rows, call.cols, call.imageValues(), call.orientCount, call.filterHalf, realTable.data(),
                   imagTable.data(), mapTable.data());
    return expected;
}

}  // namespace testsupport
