// The arguments that the two recovery plug-ins (tarrow, and tarrowveto, which adds scoring and
// inhibition) share, as their unit tests hold them: what the test sets as plain values, and
// the grids that are built once and then filled and inspected.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

#include "grids.h"
#include "minihost.h"

namespace testsupport {

struct RecoveryParams {
    int orientCount, posShiftMax, orientShiftMax, poolStep, filterHalf;
};

struct RecoveryCall {
    RecoveryParams q;
    std::vector<double> rowsGiven, colsGiven;
    std::vector<int> rows, cols, pooledRows, pooledCols;
    double elementCount = 0;
    std::vector<double> orients, rowOffsets, colOffsets, anchorRows, anchorCols;
    double saturationLevel = 1.5;
    MapGrid stamps, pooled, traces, sketches;
    std::vector<minihost::Array> held;

    // Host arrays for one call's arguments, kept until the next call's are made.
    const mxArray* keep(minihost::Array array) {
        held.push_back(std::move(array));
        return held.back().get();
    }
    const mxArray* number(double value) { return keep(minihost::scalar(value)); }
    const mxArray* row(const std::vector<double>& values) {
        return keep(minihost::doubles(1, static_cast<int>(values.size()), values));
    }

    float* sketch(int image) const { return sketches.singles(image, 0); }
    float& pooledAt(int image, int orient, int x, int y) const {
        return pooled.singles(image, orient)[(x - 1) + (y - 1) * pooledRows[image]];
    }
    float& traceAt(int image, int orient, int x, int y) const {
        return traces.singles(image, orient)[(x - 1) + (y - 1) * pooledRows[image]];
    }
};

// Sets up the shared part of a call on images of the given sizes (rounded half up): pooled
// sizes floor(side / poolStep), anchors (0, 0), stamp o holding 1 + o + k/100 at its k-th
// value (so every drawn pixel tells which stamp value of which orientation it came from), and
// pooled, trace and sketch grids with `spare` values beyond their sizes.
inline void setUpRecoveryCall(RecoveryCall& call, const std::vector<double>& rowsGiven,
                              const std::vector<double>& colsGiven, RecoveryParams q, int spare) {
    call.q = q;
    call.rowsGiven = rowsGiven;
    call.colsGiven = colsGiven;
    int imageCount = static_cast<int>(rowsGiven.size());
    for (int image = 0; image < imageCount; ++image) {
        call.rows.push_back(static_cast<int>(std::floor(rowsGiven[image] + 0.5)));
        call.cols.push_back(static_cast<int>(std::floor(colsGiven[image] + 0.5)));
        call.pooledRows.push_back(call.rows[image] / q.poolStep);
        call.pooledCols.push_back(call.cols[image] / q.poolStep);
        call.anchorRows.push_back(0);
        call.anchorCols.push_back(0);
    }
    int side = 2 * q.filterHalf + 1;
    call.stamps = makeGrid(1, q.orientCount, {side}, {side}, mxDOUBLE_CLASS);
    for (int o = 0; o < q.orientCount; ++o) {
        for (int k = 0; k < side * side; ++k) call.stamps.doubles(0, o)[k] = 1 + o + k / 100.0;
    }
    call.pooled = makeGrid(imageCount, q.orientCount, call.pooledRows, call.pooledCols, mxSINGLE_CLASS, spare);
    call.traces = makeGrid(imageCount, q.orientCount, call.pooledRows, call.pooledCols, mxSINGLE_CLASS, spare);
    call.sketches = makeGrid(imageCount, 1, call.rows, call.cols, mxSINGLE_CLASS, spare);
}

}  // namespace testsupport
