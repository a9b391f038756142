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

// floor(numerator / denominator) and ceil(numerator / denominator) for a positive denominator;
// C++ division truncates toward 0.
int64_t floorDiv(int64_t numerator, int64_t denominator) {
    int64_t quotient = numerator / denominator;
    return numerator % denominator < 0 ? quotient - 1 : quotient;
}

int64_t ceilDiv(int64_t numerator, int64_t denominator) {
    return -floorDiv(-numerator, denominator);
}

// An inclusive rectangle of pooled positions; empty when either span is.
struct Rect {
    Span rows;
    Span cols;
};

bool isEmpty(const Span& span) { return span.first > span.last; }

// Widens `span` to hold first ... last; an empty span becomes first ... last.
void widen(Span& span, int64_t first, int64_t last) {
    if (first > last) return;
    if (isEmpty(span)) {
        span = Span{static_cast<int32_t>(first), static_cast<int32_t>(last)};
        return;
    }
    span.first = static_cast<int32_t>(std::min<int64_t>(span.first, first));
    span.last = static_cast<int32_t>(std::max<int64_t>(span.last, last));
}

Span intersect(const Span& a, const Span& b) {
    Span both{std::max(a.first, b.first), std::min(a.last, b.last)};
    return isEmpty(both) ? Span{1, 0} : both;
}

// The offsets (dx, dy) from the element at which one overlap cell holds a factor of exactly 0,
// as their bounding box; empty when dxLo > dxHi.
struct ZeroBox {
    int32_t dxLo;
    int32_t dxHi;
    int32_t dyLo;
    int32_t dyHi;
};

// The zeros of an overlap cell among the offsets dxs x dys. Columns are first tested whole,
// without a branch per factor, and only a column that holds a zero is searched for its first
// and last one.
ZeroBox zeroBoxOf(const double* factors, int32_t reach, const Span& dxs, const Span& dys) {
    int32_t side = 2 * reach + 1;
    ZeroBox box{1, 0, 1, 0};
    for (int32_t dy = dys.first; dy <= dys.last; ++dy) {
        const double* column = factors + cmIndex(reach + 1, dy + reach + 1, side, side);
        int32_t zeroCount = 0;
        for (int32_t dx = dxs.first; dx <= dxs.last; ++dx) zeroCount += column[dx] == 0.0;
        if (zeroCount == 0) continue;
        int32_t first = dxs.first;
        while (column[first] != 0.0) ++first;
        int32_t last = dxs.last;
        while (column[last] != 0.0) --last;
        if (box.dxLo > box.dxHi) {
            box = ZeroBox{first, last, dy, dy};
        } else {
            box.dxLo = std::min(box.dxLo, first);
            box.dxHi = std::max(box.dxHi, last);
            box.dyHi = dy;
        }
    }
    return box;
}

// Working memory of one inhibition, from the host: the zero boxes of the selected
// orientation's overlap cells, found when first needed, and per position of the re-pooling
// range whether its maximum was wiped out, with the running maxima and slots of a sweep.
struct RepoolScratch {
    ZeroBox* boxes;
    bool* boxKnown;
    bool* wiped;
    float* best;
    int32_t* slotOf;
};

int32_t lengthOf(const Span& span) { return span.last - span.first + 1; }

RepoolScratch allocRepoolScratch(int32_t orientCount, const Span& rows, const Span& cols) {
    int32_t area = lengthOf(rows) * lengthOf(cols);
    return RepoolScratch{allocArray<ZeroBox>(orientCount), allocArray<bool>(orientCount), allocArray<bool>(area),
                         allocArray<float>(area), allocArray<int32_t>(area)};
}

void freeRepoolScratch(const RepoolScratch& scratch) {
    mxFree(scratch.boxes);
    mxFree(scratch.boxKnown);
    mxFree(scratch.wiped);
    mxFree(scratch.best);
    mxFree(scratch.slotOf);
}

// One inhibition's element and the re-pooling range rows x cols it repairs.
struct RepoolSite {
    const ShiftTable& shifts;
    const InhibitGrids& grids;
    const ImageExtent& extent;
    int32_t image;
    int32_t selOrient;
    int32_t x;
    int32_t y;
    Span rows;
    Span cols;
};

// The zero box of overlap cell selOrient + b * orientCount over the offsets of pixels inside
// the map: a pooled maximum in the window always traces back to a pixel inside the map, so
// zeros elsewhere never wipe one out.
const ZeroBox& zeroBoxFor(const RepoolSite& site, const RepoolScratch& scratch, int32_t b) {
    if (!scratch.boxKnown[b]) {
        int32_t reach = 2 * site.grids.filterHalf;
        Span pixelRows = spanInside(site.x, reach, site.extent.mapRows);
        Span pixelCols = spanInside(site.y, reach, site.extent.mapCols);
        scratch.boxes[b] = zeroBoxOf(site.grids.overlapTable[site.selOrient + b * site.grids.orientCount], reach,
                                     Span{pixelRows.first - site.x, pixelRows.last - site.x},
                                     Span{pixelCols.first - site.y, pixelCols.last - site.y});
        scratch.boxKnown[b] = true;
    }
    return scratch.boxes[b];
}

// The positions of the range from which some slot of orientation o can trace back into a zero
// of its source's overlap cell: slot s reaches pixel p * poolStep + shift, whose offset from
// the element lies in lo ... hi for p from ceil((centre + lo - shift) / poolStep) to
// floor((centre + hi - shift) / poolStep). No other position can have been wiped out.
Rect candidatesOf(const RepoolSite& site, const RepoolScratch& scratch, int32_t o) {
    Rect found{Span{1, 0}, Span{1, 0}};
    int32_t step = site.grids.poolStep;
    for (int32_t s = 0; s < site.shifts.shiftCount; ++s) {
        const ZeroBox& box = zeroBoxFor(site, scratch, site.shifts.shiftedOrient[o][s]);
        if (box.dxLo > box.dxHi) continue;
        int64_t rowShift = site.shifts.rowShift[o][s];
        int64_t colShift = site.shifts.colShift[o][s];
        widen(found.rows, ceilDiv(site.x + box.dxLo - rowShift, step), floorDiv(site.x + box.dxHi - rowShift, step));
        widen(found.cols, ceilDiv(site.y + box.dyLo - colShift, step), floorDiv(site.y + box.dyHi - colShift, step));
    }
    return Rect{intersect(found.rows, site.rows), intersect(found.cols, site.cols)};
}

// Whether the maximum of orientation o at pooled position (px, py), traced to slot
// roundHalfUp(traceValue), came from a response within reach of the element that met a
// factor of exactly 0.
bool isWipedOut(const RepoolSite& site, int32_t o, int32_t px, int32_t py, float traceValue) {
    int32_t reach = 2 * site.grids.filterHalf;
    int32_t side = 2 * reach + 1;
    int32_t s = roundHalfUp(traceValue);
    int32_t dx = px * site.grids.poolStep + site.shifts.rowShift[o][s] - site.x;
    int32_t dy = py * site.grids.poolStep + site.shifts.colShift[o][s] - site.y;
    if (dx < -reach || dx > reach || dy < -reach || dy > reach) return false;
    const double* factors =
        site.grids.overlapTable[site.selOrient + site.shifts.shiftedOrient[o][s] * site.grids.orientCount];
    return factors[cmIndex(dx + reach + 1, dy + reach + 1, side, side)] == 0.0;
}

// Offset of pooled position (px, py) in the scratch arrays of the re-pooling range.
int32_t scratchIndex(const RepoolSite& site, int32_t px, int32_t py) {
    return (px - site.rows.first) + (py - site.cols.first) * lengthOf(site.rows);
}

// The maps of orientation o that re-pooling rewrites, and its row of running sums (or null).
struct RepoolTarget {
    float* pooled;
    float* trace;
    float* sum;
};

// Stores a repaired maximum and its slot at offset k, and moves the running sum by the change.
void storeRepooled(const RepoolTarget& target, int32_t k, LocalMax found) {
    float old = target.pooled[k];
    target.trace[k] = static_cast<float>(found.slot);
    target.pooled[k] = found.best;
    if (target.sum != nullptr) {
        float& sum = target.sum[k];
        sum = static_cast<float>(sum + (static_cast<double>(found.best) - old));
    }
}

// Searches each wiped-out position of `area` on its own.
void searchEachWiped(const RepoolSite& site, const RepoolScratch& scratch, const RepoolTarget& target, int32_t o,
                     const Rect& area) {
    int32_t step = site.grids.poolStep;
    for (int32_t py = area.cols.first; py <= area.cols.last; ++py) {
        for (int32_t px = area.rows.first; px <= area.rows.last; ++px) {
            if (!scratch.wiped[scratchIndex(site, px, py)]) continue;
            LocalMax found = localMaxOverShifts(site.shifts, site.grids.responseMaps, site.grids.imageCount,
                                                site.image, o, px * step, py * step, site.extent.mapRows,
                                                site.extent.mapCols);
            storeRepooled(target, cmIndex(px, py, site.extent.pooledRows, site.extent.pooledCols), found);
        }
    }
}

// The positions p of `span` whose pixel p * poolStep, moved by `shift`, lies in 1 ... size.
Span landingInside(const Span& span, int32_t shift, int32_t poolStep, int32_t size) {
    Span inside{static_cast<int32_t>(std::max<int64_t>(span.first, ceilDiv(1 - int64_t{shift}, poolStep))),
                static_cast<int32_t>(std::min<int64_t>(span.last, floorDiv(size - int64_t{shift}, poolStep)))};
    return isEmpty(inside) ? Span{1, 0} : inside;
}

// Searches every position of `area` at once, as localMaxOverShifts does position by position:
// the running maxima start at noResponse with slot 0 and each slot in turn offers its
// candidates, which win only when strictly greater (so ties keep the earlier slot and NaN
// never wins); a slot skips the positions it would move off the map. The winner is selected
// with a mask rather than a branch, so the inner loop vectorizes. Only the wiped-out
// positions are stored.
void sweepWiped(const RepoolSite& site, const RepoolScratch& scratch, const RepoolTarget& target, int32_t o,
                const Rect& area) {
    const InhibitGrids& grids = site.grids;
    int32_t step = grids.poolStep;
    int32_t width = lengthOf(area.rows);
    int32_t count = width * lengthOf(area.cols);
    std::fill(scratch.best, scratch.best + count, noResponse);
    std::fill(scratch.slotOf, scratch.slotOf + count, 0);
    for (int32_t s = 0; s < site.shifts.shiftCount; ++s) {
        int32_t rowShift = site.shifts.rowShift[o][s];
        int32_t colShift = site.shifts.colShift[o][s];
        Span rows = landingInside(area.rows, rowShift, step, site.extent.mapRows);
        Span cols = landingInside(area.cols, colShift, step, site.extent.mapCols);
        const float* source = grids.responseMaps[site.image + site.shifts.shiftedOrient[o][s] * grids.imageCount];
        for (int32_t py = cols.first; py <= cols.last; ++py) {
            const float* candidates =
                source + cmIndex(rows.first * step + rowShift, py * step + colShift, site.extent.mapRows, 0);
            int32_t first = (rows.first - area.rows.first) + (py - area.cols.first) * width;
            float* best = scratch.best + first;
            int32_t* slotOf = scratch.slotOf + first;
            for (int32_t i = 0; i <= rows.last - rows.first; ++i) {
                float v = candidates[i * step];
                float b = best[i];
                int32_t winMask = -static_cast<int32_t>(v > b);
                best[i] = v > b ? v : b;
                slotOf[i] = (slotOf[i] & ~winMask) | (s & winMask);
            }
        }
    }
    for (int32_t py = area.cols.first; py <= area.cols.last; ++py) {
        for (int32_t px = area.rows.first; px <= area.rows.last; ++px) {
            if (!scratch.wiped[scratchIndex(site, px, py)]) continue;
            int32_t i = (px - area.rows.first) + (py - area.cols.first) * width;
            storeRepooled(target, cmIndex(px, py, site.extent.pooledRows, site.extent.pooledCols),
                          LocalMax{scratch.best[i], scratch.slotOf[i]});
        }
    }
}

// A sweep searches every position of its rectangle, a position-by-position search only the
// wiped-out ones but several times slower per lookup; the sweep is taken while the rectangle
// holds at most this many positions per wiped-out one.
constexpr int32_t sweepAreaPerWiped = 4;

// Step 3 of inhibition for orientation o: marks, among the positions that can trace back into
// a zero, those whose maximum was wiped out, then searches them again.
void repoolOrientation(const RepoolSite& site, const RepoolScratch& scratch, int32_t o, float* const* summedMaps) {
    Rect candidates = candidatesOf(site, scratch, o);
    if (isEmpty(candidates.rows) || isEmpty(candidates.cols)) return;
    int32_t c = site.image + o * site.grids.imageCount;
    RepoolTarget target{site.grids.pooledMaps[c], site.grids.traceMaps[c],
                        summedMaps != nullptr ? summedMaps[o] : nullptr};
    Rect wiped{Span{1, 0}, Span{1, 0}};
    int32_t wipedCount = 0;
    for (int32_t py = candidates.cols.first; py <= candidates.cols.last; ++py) {
        for (int32_t px = candidates.rows.first; px <= candidates.rows.last; ++px) {
            int32_t k = cmIndex(px, py, site.extent.pooledRows, site.extent.pooledCols);
            bool isWiped = isWipedOut(site, o, px, py, target.trace[k]);
            scratch.wiped[scratchIndex(site, px, py)] = isWiped;
            if (!isWiped) continue;
            ++wipedCount;
            widen(wiped.rows, px, px);
            widen(wiped.cols, py, py);
        }
    }
    if (wipedCount == 0) return;
    if (lengthOf(wiped.rows) * lengthOf(wiped.cols) <= sweepAreaPerWiped * wipedCount) {
        sweepWiped(site, scratch, target, o, wiped);
    } else {
        searchEachWiped(site, scratch, target, o, wiped);
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
    const PoolWindow& window = extent.window;
    Span rows = repoolSpan(x, reach, grids.poolStep, grids.posShiftMax, window.rowLo, window.rowHi);
    Span cols = repoolSpan(y, reach, grids.poolStep, grids.posShiftMax, window.colLo, window.colHi);
    if (rows.first > rows.last || cols.first > cols.last) return;
    RepoolScratch scratch = allocRepoolScratch(grids.orientCount, rows, cols);
    RepoolSite site{shifts, grids, extent, image, selOrient, x, y, rows, cols};
    // Every pooled position is repaired from the suppressed responses alone, independently of
    // the others and of the other orientations.
    for (int32_t o = 0; o < grids.orientCount; ++o) repoolOrientation(site, scratch, o, summedMaps);
    freeRepoolScratch(scratch);
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
