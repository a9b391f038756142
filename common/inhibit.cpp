#include "inhibit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The inclusive range first ... last of 1 ... size that lies within `reach` of `centre`;
// empty when first > last. Formed in 64 bits, so any 32-bit centre is safe.
struct Span {
    int32_t first;
    int32_t last;
};

Span spanInside(int32_t centre, int32_t reach, int32_t size) {
    int64_t first = std::max<int64_t>(1, int64_t{centre} - reach);
    int64_t last = std::min<int64_t>(size, int64_t{centre} + reach);
    if (first > last) return Span{1, 0};
    return Span{static_cast<int32_t>(first), static_cast<int32_t>(last)};
}

// Pooled positions whose shift neighbourhood can reach pixels centre - reach ... centre +
// reach, clipped to lo ... hi: from (centre - reach) / poolStep - posShiftMax + 1 to
// (centre + reach) / poolStep + posShiftMax, quotients truncated toward zero.
Span repoolSpan(int32_t centre, int32_t reach, int32_t poolStep, int32_t posShiftMax, int32_t lo,
                int32_t hi) {
    int64_t first = (int64_t{centre} - reach) / poolStep - posShiftMax + 1;
    int64_t last = (int64_t{centre} + reach) / poolStep + posShiftMax;
    first = std::max<int64_t>(first, lo);
    last = std::min<int64_t>(last, hi);
    if (first > last) return Span{1, 0};
    return Span{static_cast<int32_t>(first), static_cast<int32_t>(last)};
}

// Step 1 of inhibition: scales every response within 2h of (x, y) by its overlap factor. Each
// response is scaled on its own, so the square is walked column by column, in storage order.
void suppressResponses(const InhibitGrids& grids, const ImageExtent& extent, int32_t image,
                       int32_t selOrient, int32_t x, int32_t y) {
    int32_t reach = 2 * grids.filterHalf;
    int32_t side = 2 * reach + 1;
    Span rows = spanInside(x, reach, extent.mapRows);
    Span cols = spanInside(y, reach, extent.mapCols);
    for (int32_t o = 0; o < grids.orientCount; ++o) {
        float* responses = grids.responseMaps[image + o * grids.imageCount];
        const double* factors = grids.overlapTable[selOrient + o * grids.orientCount];
        for (int32_t yi = cols.first; yi <= cols.last; ++yi) {
            for (int32_t xi = rows.first; xi <= rows.last; ++xi) {
                float& response = responses[cmIndex(xi, yi, extent.mapRows, extent.mapCols)];
                double factor = factors[cmIndex(xi - x + reach + 1, yi - y + reach + 1, side, side)];
                response = static_cast<float>(response * factor);
            }
        }
    }
}

}  // namespace

PoolWindow computePoolWindow(int32_t filterHalf, int32_t posShiftMax, int32_t poolStep,
                             int32_t mapRows, int32_t mapCols) {
    int32_t lo = (filterHalf + 1) / poolStep + 1 + posShiftMax;
    return PoolWindow{lo, (mapRows - filterHalf) / poolStep - 1 - posShiftMax, lo,
                      (mapCols - filterHalf) / poolStep - 1 - posShiftMax};
}

void stampElement(float* map, int32_t rows, int32_t cols, const double* const* orientStamps,
                  int32_t filterHalf, int32_t orient, int32_t x, int32_t y, double factor) {
    int32_t side = 2 * filterHalf + 1;
    const double* stamp = orientStamps[orient];
    Span stampRows = spanInside(x, filterHalf, rows);
    Span stampCols = spanInside(y, filterHalf, cols);
    for (int32_t xi = stampRows.first; xi <= stampRows.last; ++xi) {
        for (int32_t yi = stampCols.first; yi <= stampCols.last; ++yi) {
            float v = static_cast<float>(
                stamp[cmIndex(xi - x + filterHalf + 1, yi - y + filterHalf + 1, side, side)] * factor);
            float& pixel = map[cmIndex(xi, yi, rows, cols)];
            if (v > pixel) pixel = v;
        }
    }
}

void inhibitAround(const ShiftTable& shifts, const InhibitGrids& grids, const ImageExtent& extent,
                   int32_t image, int32_t selOrient, int32_t x, int32_t y, float* const* summedMaps) {
    suppressResponses(grids, extent, image, selOrient, x, y);

    int32_t reach = 2 * grids.filterHalf;
    int32_t side = 2 * reach + 1;
    int32_t step = grids.poolStep;
    const PoolWindow& window = extent.window;
    // Every pooled position is repaired from the suppressed responses alone, independently of
    // the others, so the range is walked in storage order.
    Span rows = repoolSpan(x, reach, step, grids.posShiftMax, window.rowLo, window.rowHi);
    Span cols = repoolSpan(y, reach, step, grids.posShiftMax, window.colLo, window.colHi);
    for (int32_t o = 0; o < grids.orientCount; ++o) {
        int32_t c = image + o * grids.imageCount;
        float* pooled = grids.pooledMaps[c];
        float* trace = grids.traceMaps[c];
        for (int32_t py = cols.first; py <= cols.last; ++py) {
            for (int32_t px = rows.first; px <= rows.last; ++px) {
                int32_t k = cmIndex(px, py, extent.pooledRows, extent.pooledCols);
                float old = pooled[k];
                int32_t s = roundHalfUp(trace[k]);
                int32_t dx = px * step + shifts.rowShift[o][s] - x;
                int32_t dy = py * step + shifts.colShift[o][s] - y;
                if (dx < -reach || dx > reach || dy < -reach || dy > reach) continue;
                const double* factors = grids.overlapTable[selOrient + shifts.shiftedOrient[o][s] * grids.orientCount];
                if (factors[cmIndex(dx + reach + 1, dy + reach + 1, side, side)] != 0.0) continue;
                LocalMax found = localMaxOverShifts(shifts, grids.responseMaps, grids.imageCount, image, o,
                                                    px * step, py * step, extent.mapRows, extent.mapCols);
                trace[k] = static_cast<float>(found.slot);
                pooled[k] = found.best;
                if (summedMaps != nullptr) {
                    float& sum = summedMaps[o][k];
                    sum = static_cast<float>(sum + (static_cast<double>(found.best) - old));
                }
            }
        }
    }
}

bool isShiftSlot(float traceValue, int32_t shiftCount) {
    return traceValue >= 0.0f && traceValue < static_cast<float>(shiftCount) &&
           traceValue == std::floor(traceValue);
}

namespace {

[[noreturn]] void refuseSlot(const ArgList& args, int32_t position, int32_t imageCount, int32_t image,
                             int32_t orient, int32_t x, int32_t y, int32_t shiftCount, float value) {
    char expected[96];
    std::snprintf(expected, sizeof expected, "a shift slot, a whole number from 0 to %d", shiftCount - 1);
    refuseGridValue(args, position, imageCount, image, orient, x, y, expected, value);
}

}  // namespace

void requireSlotsInWindow(const ArgList& args, int32_t position, const float* const* traceMaps,
                          int32_t imageCount, int32_t orientCount, int32_t image,
                          int32_t pooledRows, const PoolWindow& window, int32_t shiftCount) {
    for (int32_t o = 0; o < orientCount; ++o) {
        const float* trace = traceMaps[image + o * imageCount];
        for (int32_t py = window.colLo; py <= window.colHi; ++py) {
            for (int32_t px = window.rowLo; px <= window.rowHi; ++px) {
                float v = trace[cmIndex(px, py, pooledRows, 0)];
                if (!isShiftSlot(v, shiftCount)) {
                    refuseSlot(args, position, imageCount, image, o, px, py, shiftCount, v);
                }
            }
        }
    }
}

void requireSlotAt(const ArgList& args, int32_t position, const float* const* traceMaps,
                   int32_t imageCount, int32_t image, int32_t orient, int32_t x, int32_t y,
                   int32_t pooledRows, int32_t shiftCount) {
    float v = traceMaps[image + orient * imageCount][cmIndex(x, y, pooledRows, 0)];
    if (!isShiftSlot(v, shiftCount)) refuseSlot(args, position, imageCount, image, orient, x, y, shiftCount, v);
}
