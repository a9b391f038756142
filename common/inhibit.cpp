// The rules of inhibition (inhibit.h), to be read against the plain loop of
// tests/support/plain_detection_loops.h: which responses are scaled and how, which pooled
// maxima count as wiped out, and how they are searched again. The inner loops over whole
// columns are kernels with a copy per instruction set (inhibit_kernels.h), run through the
// table inhibitKernelsFor picks; reading ahead is in inhibit_readahead.cpp.
#include "inhibit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dispatch.h"
#include "inhibit_kernels.h"
#include "inhibit_work.h"

namespace inhibition {

namespace {

// Widens `span` to hold first ... last; an empty span becomes first ... last.
void widen(Span& span, int32_t first, int32_t last) {
    if (first > last) return;
    if (isEmpty(span)) {
        span = Span{first, last};
        return;
    }
    span.first = std::min(span.first, first);
    span.last = std::max(span.last, last);
}

const double solidZero[1] = {0.0};

// The rowLo and colLo of a slot that reaches no position: with a span of 0, only position 2^31
// would lie in it, and no pooled position does.
const uint32_t noRow = uint32_t{1} << 31;

bool sameBitsAs(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Reads a cell of (4h + 1)^2 factors once: whether all are alike, and the box of its zeros.
FactorCell describeCell(const double* factors, int32_t reach) {
    int32_t side = 2 * reach + 1;
    FactorCell cell{true, FactorKind::uniform, false, factors[0], 1, 0, 1, 0};
    uint64_t valueBits;
    std::memcpy(&valueBits, &cell.value, sizeof valueBits);
    int64_t zeroCount = 0;
    for (int32_t dy = -reach; dy <= reach; ++dy) {
        const double* column = factors + int64_t{dy + reach} * side + reach;
        int32_t zerosHere = 0;
        uint64_t differ = 0;
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            uint64_t bits;
            std::memcpy(&bits, column + dx, sizeof bits);
            differ |= bits ^ valueBits;
            zerosHere += column[dx] == 0.0;
        }
        if (differ != 0) cell.kind = FactorKind::general;
        if (zerosHere == 0) continue;
        zeroCount += zerosHere;
        int32_t first = -reach;
        while (column[first] != 0.0) ++first;
        int32_t last = reach;
        while (column[last] != 0.0) --last;
        if (cell.dxLo > cell.dxHi) {
            cell.dxLo = first;
            cell.dxHi = last;
            cell.dyLo = dy;
        } else {
            cell.dxLo = std::min(cell.dxLo, first);
            cell.dxHi = std::max(cell.dxHi, last);
        }
        cell.dyHi = dy;
    }
    if (cell.kind == FactorKind::uniform && sameBitsAs(cell.value, 1.0)) cell.kind = FactorKind::identity;
    if (cell.dxLo <= cell.dxHi) {
        cell.solid = zeroCount == int64_t{cell.dxHi - cell.dxLo + 1} * (cell.dyHi - cell.dyLo + 1);
    }
    return cell;
}

}  // namespace

const FactorCell& cellOf(InhibitWork& work, const InhibitGrids& grids, int32_t selOrient, int32_t b) {
    int32_t index = selOrient + b * grids.orientCount;
    FactorCell& cell = work.cells[index];
    if (!cell.known) cell = describeCell(grids.overlapTable[index], 2 * grids.filterHalf);
    return cell;
}

namespace {

bool holdsNaN(const float* responses, int32_t count) {
    int32_t nanCount = 0;
    for (int32_t i = 0; i < count; ++i) nanCount += responses[i] != responses[i];
    return nanCount != 0;
}

// Step 1 of inhibition: scales every response within 2h of (x, y) by its overlap factor. Each
// response is scaled on its own, so the square is walked column by column, in storage order;
// a cell of one factor is applied without reading it. A factor of 1 changes only a NaN
// response (a signalling NaN is quieted), so a cell of factors 1 rescales only the blocks of
// rows that may hold a NaN: a block is read once for NaN and then known to hold none, until a
// product turns NaN in it.
void suppressResponses(InhibitWork& work, const InhibitGrids& grids, const ImageExtent& extent, int32_t image,
                       int32_t selOrient, int32_t x, int32_t y) {
    int32_t reach = 2 * grids.filterHalf;
    int32_t side = 2 * reach + 1;
    Span rows = spanInside(x, reach, extent.mapRows);
    Span cols = spanInside(y, reach, extent.mapCols);
    if (isEmpty(rows) || isEmpty(cols)) return;
    int32_t count = lengthOf(rows);
    int32_t blocks = nanBlocksOf(extent.mapRows);
    int32_t firstBlock = (rows.first - 1) / nanBlockRows;
    int32_t lastBlock = (rows.last - 1) / nanBlockRows;
    const InhibitKernels& kernels = inhibitKernelsFor(work.useAvx2);
    for (int32_t b = 0; b < grids.orientCount; ++b) {
        float* responses = grids.responseMaps[image + b * grids.imageCount];
        const double* factors = grids.overlapTable[selOrient + b * grids.orientCount];
        const FactorCell& cell = cellOf(work, grids, selOrient, b);
        uint8_t* flags = nanFlagsOf(work, extent, image, b);
        for (int32_t yi = cols.first; yi <= cols.last; ++yi) {
            float* column = responses + cmIndex(1, yi, extent.mapRows, extent.mapCols);
            const double* columnFactors = factors + cmIndex(rows.first - x + reach + 1, yi - y + reach + 1, side, side);
            uint8_t* columnFlags = flags + int64_t{yi - 1} * blocks;
            int32_t nanCount = 0;
            if (cell.kind == FactorKind::general) {
                nanCount = kernels.scaleColumn(column + (rows.first - 1), columnFactors, count, false);
            } else if (cell.kind == FactorKind::uniform) {
                nanCount = kernels.scaleColumn(column + (rows.first - 1), &cell.value, count, true);
            } else {
                uint8_t unsure = 0;
                for (int32_t j = firstBlock; j <= lastBlock; ++j) unsure |= columnFlags[j] ^ nanFree;
                if (unsure == 0) continue;
                for (int32_t j = firstBlock; j <= lastBlock; ++j) {
                    uint8_t& flag = columnFlags[j];
                    int32_t blockFirst = j * nanBlockRows;  // 0-based
                    if (flag == nanUnknown) {
                        int32_t blockRows = std::min(nanBlockRows, extent.mapRows - blockFirst);
                        flag = holdsNaN(column + blockFirst, blockRows) ? nanHeld : nanFree;
                    }
                    if (flag == nanFree) continue;
                    int32_t first = std::max(rows.first - 1, blockFirst);
                    int32_t last = std::min(rows.last - 1, blockFirst + nanBlockRows - 1);
                    kernels.scaleColumn(column + first, columnFactors + (first - (rows.first - 1)), last - first + 1,
                                        false);
                }
            }
            if (nanCount == 0) continue;
            for (int32_t j = firstBlock; j <= lastBlock; ++j) columnFlags[j] = nanHeld;
        }
    }
}

}  // namespace

Rect reachOfSlots(const RepoolSite& site, InhibitWork& work, int32_t o) {
    const ShiftTable& shifts = site.shifts;
    int32_t step = site.grids.poolStep;
    int32_t reach = 2 * site.grids.filterHalf;
    int64_t side = 2 * int64_t{reach} + 1;
    Rect found{Span{1, 0}, Span{1, 0}};
    // Whether any slot of o reads an orientation whose overlap cell holds a zero.
    uint8_t& reachesZero = work.reachesZero[site.selOrient + o * site.grids.orientCount];
    if (reachesZero == 0) {
        reachesZero = 1;
        for (int32_t s = 0; s < shifts.shiftCount; ++s) {
            const FactorCell& cell = cellOf(work, site.grids, site.selOrient, shifts.shiftedOrient[o][s]);
            if (cell.dxLo <= cell.dxHi) reachesZero = 2;
        }
    }
    if (reachesZero == 1) return found;
    for (int32_t s = 0; s < shifts.shiftCount; ++s) {
        SlotReach& slot = work.slots[s];
        slot = SlotReach{noRow, 0, noRow, 0, solidZero, 0, 0, 0};
        const FactorCell& cell = cellOf(work, site.grids, site.selOrient, shifts.shiftedOrient[o][s]);
        if (cell.dxLo > cell.dxHi) continue;
        int64_t rowShift = shifts.rowShift[o][s];
        int64_t colShift = shifts.colShift[o][s];
        int64_t rowLo = std::max<int64_t>(site.rows.first, ceilDiv(site.x + cell.dxLo - rowShift, step));
        int64_t rowHi = std::min<int64_t>(site.rows.last, floorDiv(site.x + cell.dxHi - rowShift, step));
        int64_t colLo = std::max<int64_t>(site.cols.first, ceilDiv(site.y + cell.dyLo - colShift, step));
        int64_t colHi = std::min<int64_t>(site.cols.last, floorDiv(site.y + cell.dyHi - colShift, step));
        if (rowLo > rowHi || colLo > colHi) continue;
        slot.rowLo = static_cast<uint32_t>(rowLo);
        slot.rowSpan = static_cast<uint32_t>(rowHi - rowLo);
        slot.colLo = static_cast<uint32_t>(colLo);
        slot.colSpan = static_cast<uint32_t>(colHi - colLo);
        if (!cell.solid) {
            slot.factors = site.grids.overlapTable[site.selOrient + shifts.shiftedOrient[o][s] * site.grids.orientCount];
            slot.first = (rowLo * step + rowShift - site.x + reach) + (colLo * step + colShift - site.y + reach) * side;
            slot.rowStride = step;
            slot.colStride = step * side;
        }
        widen(found.rows, static_cast<int32_t>(rowLo), static_cast<int32_t>(rowHi));
        widen(found.cols, static_cast<int32_t>(colLo), static_cast<int32_t>(colHi));
    }
    return found;
}

namespace {

// Whether the maximum at pooled position (px, py), traced to `slot`, came from a response that
// met a factor of exactly 0; decided without a branch.
inline uint8_t isWipedOut(const SlotReach& slot, int32_t px, int32_t py) {
    uint32_t rowOffset = static_cast<uint32_t>(px) - slot.rowLo;
    uint32_t colOffset = static_cast<uint32_t>(py) - slot.colLo;
    uint32_t inside = static_cast<uint32_t>(rowOffset <= slot.rowSpan) & static_cast<uint32_t>(colOffset <= slot.colSpan);
    // Outside the box the factor read is the cell's first, which always exists.
    int64_t at = (slot.first + int64_t{rowOffset} * slot.rowStride + int64_t{colOffset} * slot.colStride) &
                 -static_cast<int64_t>(inside);
    return static_cast<uint8_t>(inside & static_cast<uint32_t>(slot.factors[at] == 0.0));
}

// Whether every one of `count` trace values is a whole slot number below shiftCount: only
// then does a value equal to s name slot s.
bool allWholeSlots(const float* trace, int32_t count, int32_t shiftCount) {
    float limit = static_cast<float>(shiftCount);
    int32_t strays = 0;
    for (int32_t i = 0; i < count; ++i) strays += namedSlotOf(trace[i], limit).stray;
    return strays == 0;
}

// Largest shiftCount whose slots fit the bits of a slot mask.
constexpr int32_t maskedSlotLimit = 32;

// Sets, for up to maskedSlotLimit slots, the bits of the slots whose solid zero box holds
// (px, py) as rowMasks[px - rows.first] & colMasks[py - cols.first]: a slot's positions are a
// rectangle, so a position lies in it when its row lies in the rectangle's rows and its column
// in its columns. Returns whether a slot reaches a zero box that is not solid.
bool setSlotMasks(const InhibitWork& work, int32_t shiftCount, const Rect& area) {
    std::fill(work.rowMasks, work.rowMasks + lengthOf(area.rows), 0u);
    std::fill(work.colMasks, work.colMasks + lengthOf(area.cols), 0u);
    bool anyMixed = false;
    for (int32_t s = 0; s < shiftCount; ++s) {
        const SlotReach& slot = work.slots[s];
        if (slot.rowLo == noRow) continue;
        if (slot.factors != solidZero) {
            anyMixed = true;
            continue;
        }
        uint32_t bit = uint32_t{1} << s;
        int32_t rowFirst = static_cast<int32_t>(slot.rowLo) - area.rows.first;
        int32_t colFirst = static_cast<int32_t>(slot.colLo) - area.cols.first;
        for (uint32_t i = 0; i <= slot.rowSpan; ++i) work.rowMasks[rowFirst + static_cast<int32_t>(i)] |= bit;
        for (uint32_t i = 0; i <= slot.colSpan; ++i) work.colMasks[colFirst + static_cast<int32_t>(i)] |= bit;
    }
    return anyMixed;
}

// marks[i] = -1 where the maximum of pooled position (px + i, py) of `area`, traced to its
// slot, was wiped out, else 0, for `count` positions. With few enough slots, a solid zero box
// is found through the slot masks (setSlotMasks); every other slot marks, among the positions
// it can have wiped out in this column, those that name it after looking their factor up.
void markWiped(const InhibitWork& work, int32_t shiftCount, bool masked, bool anyMixed, const Rect& area,
               const float* trace, int32_t* marks, int32_t px, int32_t py) {
    int32_t count = lengthOf(area.rows);
    bool wholeSlots;
    if (masked) {
        uint32_t colMask = work.colMasks[py - area.cols.first];
        float limit = static_cast<float>(shiftCount);
        wholeSlots = inhibitKernelsFor(work.useAvx2).markByMasks(trace, work.rowMasks, colMask, marks, count, limit);
        if (wholeSlots && !anyMixed) return;
    } else {
        std::fill(marks, marks + count, 0);
        wholeSlots = allWholeSlots(trace, count, shiftCount);
    }
    if (!wholeSlots) {
        for (int32_t i = 0; i < count; ++i) marks[i] = -isWipedOut(work.slots[roundHalfUp(trace[i])], px + i, py);
        return;
    }
    for (int32_t s = 0; s < shiftCount; ++s) {
        const SlotReach& slot = work.slots[s];
        if (static_cast<uint32_t>(py) - slot.colLo > slot.colSpan) continue;
        if (masked && slot.factors == solidZero) continue;
        int32_t first = static_cast<int32_t>(slot.rowLo) - px;
        int32_t last = first + static_cast<int32_t>(slot.rowSpan);
        float named = static_cast<float>(s);
        if (slot.factors == solidZero) {
            for (int32_t i = first; i <= last; ++i) marks[i] |= -static_cast<int32_t>(trace[i] == named);
        } else {
            for (int32_t i = first; i <= last; ++i) {
                if (trace[i] == named) marks[i] = -isWipedOut(slot, px + i, py);
            }
        }
    }
}

// Offset of pooled position (px, py) in the scratch arrays, laid out over `area`.
int32_t scratchIndex(const Rect& area, int32_t px, int32_t py) {
    return (px - area.rows.first) + (py - area.cols.first) * lengthOf(area.rows);
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

// The positions p of `span` whose pixel p * poolStep, moved by `shift`, lies in 1 ... size.
Span landingInside(const Span& span, int32_t shift, int32_t poolStep, int32_t size) {
    PositionRange inside = positionsLandingInside(span.first, span.last, shift, poolStep, size);
    return Span{inside.first, inside.last};
}

// Sets where each slot of orientation o reads, as a map and the offset of pooled position
// (0, 0) in it; returns whether every slot of every position of `area` lands on the map (as it
// does inside the pool window), so that the reads need no bounds checks.
bool locateSlots(const RepoolSite& site, const InhibitWork& work, int32_t o, const Rect& area) {
    const ShiftTable& shifts = site.shifts;
    int32_t step = site.grids.poolStep;
    int32_t mapRows = site.extent.mapRows;
    bool allLand = true;
    for (int32_t s = 0; s < shifts.shiftCount; ++s) {
        int32_t rowShift = shifts.rowShift[o][s];
        int32_t colShift = shifts.colShift[o][s];
        Span rows = landingInside(area.rows, rowShift, step, mapRows);
        Span cols = landingInside(area.cols, colShift, step, site.extent.mapCols);
        allLand = allLand && rows.first == area.rows.first && rows.last == area.rows.last &&
                  cols.first == area.cols.first && cols.last == area.cols.last;
        work.slotMaps[s] = site.grids.responseMaps[site.image + shifts.shiftedOrient[o][s] * site.grids.imageCount];
        work.slotOffsets[s] = int64_t{rowShift - 1} + int64_t{colShift - 1} * mapRows;
    }
    return allLand;
}


// Searches each wiped-out position of `wipedArea` (marked over `marked`) on its own.
void searchEachWiped(const RepoolSite& site, const InhibitWork& work, const RepoolTarget& target, int32_t o,
                     const Rect& marked, const Rect& wipedArea) {
    const ShiftTable& shifts = site.shifts;
    int32_t step = site.grids.poolStep;
    int32_t mapRows = site.extent.mapRows;
    bool allLand = locateSlots(site, work, o, wipedArea);
    for (int32_t py = wipedArea.cols.first; py <= wipedArea.cols.last; ++py) {
        for (int32_t px = wipedArea.rows.first; px <= wipedArea.rows.last; ++px) {
            if (!work.wiped[scratchIndex(marked, px, py)]) continue;
            LocalMax found;
            if (allLand) {
                found = searchLocated(work.slotMaps, work.slotOffsets, shifts.shiftCount,
                                      int64_t{px} * step + int64_t{py} * step * mapRows);
            } else {
                found = localMaxOverShifts(shifts, site.grids.responseMaps, site.grids.imageCount, site.image, o,
                                           px * step, py * step, mapRows, site.extent.mapCols);
            }
            storeRepooled(target, cmIndex(px, py, site.extent.pooledRows, site.extent.pooledCols), found);
        }
    }
}

// Searches every position of `area` at once, as localMaxOverShifts does position by position,
// into the work's running maxima and slots (laid out over `area`): they start at noResponse
// with slot 0 and each slot in turn offers its candidates; a slot skips the positions it would
// move off the map.
void sweepMaxima(const RepoolSite& site, const InhibitWork& work, int32_t o, const Rect& area) {
    const InhibitGrids& grids = site.grids;
    int32_t step = grids.poolStep;
    int32_t width = lengthOf(area.rows);
    int32_t count = width * lengthOf(area.cols);
    std::fill(work.best, work.best + count, noResponse);
    std::fill(work.slotOf, work.slotOf + count, 0);
    const InhibitKernels& kernels = inhibitKernelsFor(work.useAvx2);
    for (int32_t s = 0; s < site.shifts.shiftCount; ++s) {
        int32_t rowShift = site.shifts.rowShift[o][s];
        int32_t colShift = site.shifts.colShift[o][s];
        Span rows = landingInside(area.rows, rowShift, step, site.extent.mapRows);
        Span cols = landingInside(area.cols, colShift, step, site.extent.mapCols);
        if (isEmpty(rows) || isEmpty(cols)) continue;
        const float* source = grids.responseMaps[site.image + site.shifts.shiftedOrient[o][s] * grids.imageCount];
        int32_t first = (rows.first - area.rows.first) + (cols.first - area.cols.first) * width;
        SlotOffer offer{source + cmIndex(rows.first * step + rowShift, cols.first * step + colShift,
                                         site.extent.mapRows, 0),
                        int64_t{step} * site.extent.mapRows,
                        step,
                        work.best + first,
                        work.slotOf + first,
                        width,
                        lengthOf(rows),
                        lengthOf(cols),
                        s};
        kernels.offerSlot(offer);
    }
}

// Searches, in each column of `area`, the run of positions from its first to its last
// wiped-out one (work.runFirst and runLast, laid out over the columns of `marked`), into the
// work's maxima and slots laid out over `area`, where the processor has a kernel that searches
// runs, the pool step is 1 or 2 and every slot lands on the map; returns false, having searched
// nothing, otherwise.
bool searchRuns(const RepoolSite& site, const InhibitWork& work, int32_t o, const Rect& marked, const Rect& area) {
    const InhibitKernels& kernels = inhibitKernelsFor(work.useAvx2);
    int32_t step = site.grids.poolStep;
    if (kernels.searchRuns == nullptr || (step != 1 && step != 2) || !locateSlots(site, work, o, area)) return false;
    int32_t columnsBefore = area.cols.first - marked.cols.first;
    kernels.searchRuns(RunSearch{work.slotMaps, work.slotOffsets, site.shifts.shiftCount, step, site.extent.mapRows,
                                 area.rows.first, area.cols.first, lengthOf(area.rows), lengthOf(area.cols),
                                 work.runFirst + columnsBefore, work.runLast + columnsBefore, work.best,
                                 work.slotOf});
    return true;
}

// Searches every position of `area` at once and stores the wiped-out ones (marked over
// `marked`).
void sweepWiped(const RepoolSite& site, const InhibitWork& work, const RepoolTarget& target, int32_t o,
                const Rect& marked, const Rect& area) {
    if (!searchRuns(site, work, o, marked, area)) sweepMaxima(site, work, o, area);
    // The stores of storeRepooled, made at every position of the area but changing only the
    // wiped-out ones (the others get their own values back), so that no branch is taken per
    // position.
    int32_t width = lengthOf(area.rows);
    for (int32_t py = area.cols.first; py <= area.cols.last; ++py) {
        int32_t k = cmIndex(area.rows.first, py, site.extent.pooledRows, site.extent.pooledCols);
        const int32_t* marks = work.wiped + scratchIndex(marked, area.rows.first, py);
        const float* best = work.best + (py - area.cols.first) * width;
        const int32_t* slotOf = work.slotOf + (py - area.cols.first) * width;
        float* pooled = target.pooled + k;
        float* trace = target.trace + k;
        if (target.sum == nullptr) {
            for (int32_t i = 0; i < width; ++i) {
                bool isWiped = marks[i] != 0;
                pooled[i] = isWiped ? best[i] : pooled[i];
                trace[i] = isWiped ? static_cast<float>(slotOf[i]) : trace[i];
            }
            continue;
        }
        float* sum = target.sum + k;
        for (int32_t i = 0; i < width; ++i) {
            bool isWiped = marks[i] != 0;
            float old = pooled[i];
            float moved = static_cast<float>(sum[i] + (static_cast<double>(best[i]) - old));
            pooled[i] = isWiped ? best[i] : old;
            trace[i] = isWiped ? static_cast<float>(slotOf[i]) : trace[i];
            sum[i] = isWiped ? moved : sum[i];
        }
    }
}

// A sweep searches every position of its rectangle, a position-by-position search only the
// wiped-out ones but several times slower per lookup; the sweep is taken while the rectangle
// holds at most this many positions per wiped-out one.
constexpr int32_t sweepAreaPerWiped = 4;

// Step 2 of inhibition for orientation o: marks, among the positions that can trace back into
// a zero, those whose maximum was wiped out, then searches them again.
void repoolOrientation(const RepoolSite& site, InhibitWork& work, int32_t o, float* const* summedMaps) {
    Rect candidates = reachOfSlots(site, work, o);
    if (isEmpty(candidates.rows) || isEmpty(candidates.cols)) return;
    int32_t c = site.image + o * site.grids.imageCount;
    RepoolTarget target{site.grids.pooledMaps[c], site.grids.traceMaps[c],
                        summedMaps != nullptr ? summedMaps[o] : nullptr};
    Rect wiped{Span{1, 0}, Span{1, 0}};
    int32_t wipedCount = 0;
    int32_t shiftCount = site.shifts.shiftCount;
    bool masked = shiftCount <= maskedSlotLimit;
    bool anyMixed = masked ? setSlotMasks(work, shiftCount, candidates) : true;
    for (int32_t py = candidates.cols.first; py <= candidates.cols.last; ++py) {
        const float* trace = target.trace + cmIndex(candidates.rows.first, py, site.extent.pooledRows, 0);
        int32_t* marks = work.wiped + scratchIndex(candidates, candidates.rows.first, py);
        int32_t count = lengthOf(candidates.rows);
        markWiped(work, shiftCount, masked, anyMixed, candidates, trace, marks, candidates.rows.first, py);
        int32_t firstWiped = INT32_MAX, lastWiped = -1, wipedHere = 0;
        for (int32_t i = 0; i < count; ++i) {
            int32_t wipedMask = marks[i];
            wipedHere -= wipedMask;
            firstWiped = std::min(firstWiped, (i & wipedMask) | (INT32_MAX & ~wipedMask));
            lastWiped = std::max(lastWiped, (i & wipedMask) | (-1 & ~wipedMask));
        }
        work.runFirst[py - candidates.cols.first] = candidates.rows.first + (wipedHere > 0 ? firstWiped : 0);
        work.runLast[py - candidates.cols.first] = candidates.rows.first + lastWiped;
        if (wipedHere == 0) continue;
        wipedCount += wipedHere;
        widen(wiped.rows, candidates.rows.first + firstWiped, candidates.rows.first + lastWiped);
        widen(wiped.cols, py, py);
    }
    if (wipedCount == 0) return;
    if (lengthOf(wiped.rows) * lengthOf(wiped.cols) <= sweepAreaPerWiped * wipedCount) {
        sweepWiped(site, work, target, o, candidates, wiped);
    } else {
        searchEachWiped(site, work, target, o, candidates, wiped);
    }
}

// The longest re-pooling range along one axis, (4h) / poolStep + 2 posShiftMax + 2 positions
// at most, and no more than the pooled map has.
int32_t longestRange(int32_t filterHalf, int32_t posShiftMax, int32_t poolStep, int32_t pooledSide) {
    int64_t longest = 4 * int64_t{filterHalf} / poolStep + 2 * int64_t{posShiftMax} + 2;
    return static_cast<int32_t>(std::max<int64_t>(1, std::min<int64_t>(longest, pooledSide)));
}

}  // namespace

}  // namespace inhibition

using namespace inhibition;

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

namespace {

// prepareInhibition's work, with NaN flags of its own (flagOwner null), cleared or left unset,
// or flagOwner's.
InhibitWork prepareWork(const ShiftTable& shifts, const InhibitGrids& grids, const InhibitedSizes& sizes,
                        const InhibitWork* flagOwner, bool clearFlags) {
    InhibitWork work;
    work.orientCount = grids.orientCount;
    work.useAvx2 = avx2Available();
    size_t cellCount = static_cast<size_t>(grids.orientCount) * static_cast<size_t>(grids.orientCount);
    work.cells = static_cast<FactorCell*>(hostCalloc(cellCount, sizeof(FactorCell)));
    work.slots = allocArray<SlotReach>(shifts.shiftCount);
    work.slotMaps = static_cast<const float**>(hostCalloc(static_cast<size_t>(shifts.shiftCount), sizeof(float*)));
    work.slotOffsets = allocArray<int64_t>(shifts.shiftCount);
    work.readBoxes = allocArray<ReadBox>(grids.orientCount);
    work.reachesZero = static_cast<uint8_t*>(hostCalloc(cellCount, sizeof(uint8_t)));
    int32_t largestRows = 0, largestCols = 0;
    for (int32_t image = 0; image < grids.imageCount; ++image) {
        largestRows = std::max(largestRows, sizes.rows[int64_t{image} * sizes.stride]);
        largestCols = std::max(largestCols, sizes.cols[int64_t{image} * sizes.stride]);
    }
    work.ownsNaNFlags = flagOwner == nullptr;
    if (flagOwner != nullptr) {
        work.nanFlagStart = flagOwner->nanFlagStart;
        work.nanFlags = flagOwner->nanFlags;
    } else {
        work.nanFlagStart =
            static_cast<int64_t*>(hostCalloc(static_cast<size_t>(grids.imageCount) + 1, sizeof(int64_t)));
        for (int32_t image = 0; image < grids.imageCount; ++image) {
            int32_t rows = sizes.rows[int64_t{image} * sizes.stride];
            int32_t cols = sizes.cols[int64_t{image} * sizes.stride];
            work.nanFlagStart[image + 1] =
                work.nanFlagStart[image] + int64_t{grids.orientCount} * cols * nanBlocksOf(rows);
        }
        size_t flagCount = static_cast<size_t>(work.nanFlagStart[grids.imageCount]);
        work.nanFlags = static_cast<uint8_t*>(clearFlags ? hostCalloc(flagCount, 1) : hostMalloc(flagCount, 1));
    }
    work.scratchRows = longestRange(grids.filterHalf, grids.posShiftMax, grids.poolStep, largestRows / grids.poolStep);
    work.scratchCols = longestRange(grids.filterHalf, grids.posShiftMax, grids.poolStep, largestCols / grids.poolStep);
    size_t area = static_cast<size_t>(work.scratchRows) * static_cast<size_t>(work.scratchCols);
    work.wiped = static_cast<int32_t*>(hostCalloc(area, sizeof(int32_t)));
    work.best = static_cast<float*>(hostCalloc(area, sizeof(float)));
    work.slotOf = static_cast<int32_t*>(hostCalloc(area, sizeof(int32_t)));
    work.rowMasks = allocArray<uint32_t>(work.scratchRows);
    work.runFirst = allocArray<int32_t>(work.scratchCols);
    work.runLast = allocArray<int32_t>(work.scratchCols);
    work.colMasks = allocArray<uint32_t>(work.scratchCols);
    return work;
}

}  // namespace

InhibitWork prepareInhibition(const ShiftTable& shifts, const InhibitGrids& grids, const InhibitedSizes& sizes) {
    return prepareWork(shifts, grids, sizes, nullptr, true);
}

InhibitWork prepareInhibitionUnsetFlags(const ShiftTable& shifts, const InhibitGrids& grids,
                                        const InhibitedSizes& sizes) {
    return prepareWork(shifts, grids, sizes, nullptr, false);
}

void forgetNaNFreedom(InhibitWork& work, int32_t image) {
    std::fill(work.nanFlags + work.nanFlagStart[image], work.nanFlags + work.nanFlagStart[image + 1],
              uint8_t{nanUnknown});
}

InhibitWork prepareInhibitionSharingFlags(const ShiftTable& shifts, const InhibitGrids& grids,
                                          const InhibitedSizes& sizes, const InhibitWork& flagOwner) {
    return prepareWork(shifts, grids, sizes, &flagOwner, true);
}

void learnNaNFreedom(InhibitWork& work, const InhibitGrids& grids, const InhibitedSizes& sizes) {
    for (int32_t image = 0; image < grids.imageCount; ++image) {
        int32_t rows = sizes.rows[int64_t{image} * sizes.stride];
        int32_t cols = sizes.cols[int64_t{image} * sizes.stride];
        int32_t blocks = nanBlocksOf(rows);
        for (int32_t b = 0; b < grids.orientCount; ++b) {
            const float* responses = grids.responseMaps[image + b * grids.imageCount];
            uint8_t* flags = work.nanFlags + work.nanFlagStart[image] + int64_t{b} * cols * blocks;
            for (int64_t block = 0; block < int64_t{cols} * blocks; ++block) {
                if (flags[block] != nanUnknown) continue;
                int64_t first = (block % blocks) * nanBlockRows;
                const float* values = responses + (block / blocks) * rows + first;
                flags[block] = holdsNaN(values, static_cast<int32_t>(std::min<int64_t>(nanBlockRows, rows - first)))
                                   ? nanHeld
                                   : nanFree;
            }
        }
    }
}

void releaseInhibition(const InhibitWork& work) {
    mxFree(work.cells);
    mxFree(work.slots);
    mxFree(work.slotMaps);
    mxFree(work.slotOffsets);
    mxFree(work.readBoxes);
    mxFree(work.reachesZero);
    if (work.ownsNaNFlags) {
        mxFree(work.nanFlagStart);
        mxFree(work.nanFlags);
    }
    mxFree(work.wiped);
    mxFree(work.best);
    mxFree(work.slotOf);
    mxFree(work.rowMasks);
    mxFree(work.runFirst);
    mxFree(work.runLast);
    mxFree(work.colMasks);
}

void inhibitAround(const ShiftTable& shifts, const InhibitGrids& grids, const ImageExtent& extent,
                   int32_t image, int32_t selOrient, int32_t x, int32_t y, float* const* summedMaps,
                   InhibitWork& work) {
    suppressResponses(work, grids, extent, image, selOrient, x, y);

    int32_t reach = 2 * grids.filterHalf;
    const PoolWindow& window = extent.window;
    Span rows = repoolSpan(x, reach, grids.poolStep, grids.posShiftMax, window.rowLo, window.rowHi);
    Span cols = repoolSpan(y, reach, grids.poolStep, grids.posShiftMax, window.colLo, window.colHi);
    if (rows.first > rows.last || cols.first > cols.last) return;
    RepoolSite site{shifts, grids, extent, image, selOrient, x, y, rows, cols};
    // Every pooled position is repaired from the suppressed responses alone, independently of
    // the others and of the other orientations.
    for (int32_t o = 0; o < grids.orientCount; ++o) repoolOrientation(site, work, o, summedMaps);
}

void inhibitAround(const ShiftTable& shifts, const InhibitGrids& grids, const ImageExtent& extent,
                   int32_t image, int32_t selOrient, int32_t x, int32_t y, float* const* summedMaps) {
    InhibitWork work = prepareInhibition(shifts, grids, InhibitedSizes{&extent.mapRows, &extent.mapCols, 0});
    inhibitAround(shifts, grids, extent, image, selOrient, x, y, summedMaps, work);
    releaseInhibition(work);
}

bool isShiftSlot(float traceValue, int32_t shiftCount) {
    return namedSlotOf(traceValue, static_cast<float>(shiftCount)).stray == 0;
}

namespace {

[[noreturn]] void refuseSlot(const ArgList& args, int32_t position, int32_t imageCount, int32_t image,
                             int32_t orient, int32_t x, int32_t y, int32_t shiftCount, float value) {
    char expected[96];
    std::snprintf(expected, sizeof expected, "a shift slot, a whole number from 0 to %d", shiftCount - 1);
    refuseGridValue(args, position, imageCount, image, orient, x, y, expected, value);
}

}  // namespace

bool windowHoldsSlots(const float* trace, int32_t pooledRows, const PoolWindow& window, int32_t shiftCount) {
    for (int32_t py = window.colLo; py <= window.colHi; ++py) {
        if (!allWholeSlots(trace + cmIndex(window.rowLo, py, pooledRows, 0), window.rowHi - window.rowLo + 1,
                           shiftCount)) {
            return false;
        }
    }
    return true;
}

void requireSlotsInWindow(const ArgList& args, int32_t position, const float* const* traceMaps,
                          int32_t imageCount, int32_t orientCount, int32_t image,
                          int32_t pooledRows, const PoolWindow& window, int32_t shiftCount) {
    for (int32_t o = 0; o < orientCount; ++o) {
        const float* trace = traceMaps[image + o * imageCount];
        for (int32_t py = window.colLo; py <= window.colHi; ++py) {
            // Whole columns are checked at once; only one that fails is searched for its value.
            if (allWholeSlots(trace + cmIndex(window.rowLo, py, pooledRows, 0), window.rowHi - window.rowLo + 1,
                              shiftCount)) {
                continue;
            }
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
