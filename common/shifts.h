// Shift tables: the small perturbations of position and orientation that pooling searches over,
// and the search itself.
//
// Every orientation o has shiftCount slots. Slot s = p * (2*orientShiftMax + 1) + q combines a
// position index p (0 ... 2*posShiftMax, major) with an orientation index q
// (0 ... 2*orientShiftMax, minor); both indices stand for the signed steps 0, -1, +1, -2, +2, ...
// A position step d moves the element d*poolStep pixels along the direction
// (cos theta, sin theta) in (row, column) coordinates, theta = (3.1415926 * o) / orientCount,
// each coordinate rounded half up; an orientation step e reads orientation o + e, wrapped once
// into 0 ... orientCount-1. Slot 0 is the unperturbed element.
//
// Trace maps store slot numbers, and every plug-in that reads them turns a slot back into a
// perturbation with a table built from the same four parameters, so this order is a data
// contract between plug-ins.
#pragma once

#include <algorithm>
#include <cstdint>

#include "frame.h"

// Start value of every maximum search (single precision, bit pattern 0xd01502f9). Only a
// strictly larger response replaces it.
constexpr float noResponse = -1e10f;

// Per orientation o and slot s: the row and column displacement in pixels and the 0-based
// orientation read. Each table has orientCount rows of shiftCount entries.
struct ShiftTable {
    int32_t shiftCount;
    int32_t** rowShift;
    int32_t** colShift;
    int32_t** shiftedOrient;
};

// Most slots, over all orientations, that one call's tables may hold. Far beyond any useful
// perturbation range (16 orientations of 7 x 3 steps use 336), it keeps a mistyped range from
// filling memory with tables until the host process is killed.
constexpr int64_t shiftSlotLimit = int64_t{1} << 24;

// True when orientCount * (2*posShiftMax + 1) * (2*orientShiftMax + 1) slots stay within
// shiftSlotLimit. All arguments are at least 0.
bool shiftTablesFit(int32_t orientCount, int32_t posShiftMax, int32_t orientShiftMax);

// True when every position 1 ... largestSide, displaced by up to posShiftMax * poolStep pixels
// either way (the largest displacement of any slot), stays within 32 bits. All arguments are
// at least 0.
bool displacedPositionsFit(int32_t posShiftMax, int32_t poolStep, int32_t largestSide);

// Slots per orientation: (2*posShiftMax + 1) * (2*orientShiftMax + 1).
inline int32_t shiftCountOf(int32_t posShiftMax, int32_t orientShiftMax) {
    return (2 * posShiftMax + 1) * (2 * orientShiftMax + 1);
}

// 1-based argument positions of a plug-in's four shift parameters, named in refusals.
struct ShiftArgPositions {
    int32_t orientCount;
    int32_t posShiftMax;
    int32_t orientShiftMax;
    int32_t poolStep;
};

// The four shift parameters of a call, with the 1-based positions they were read from.
struct ShiftParams {
    int32_t orientCount;
    int32_t posShiftMax;
    int32_t orientShiftMax;
    int32_t poolStep;
    ShiftArgPositions positions;
};

// Reads orientCount (at least 1), posShiftMax (at least 0), orientShiftMax
// (0 ... orientCount-1) and poolStep (at least 1) from four consecutive positions, then
// refuses ranges that requireShiftsFit refuses for pixels up to largestSide, the largest entry
// of the call's imageRows and imageCols.
ShiftParams readShiftParams(ArgList& args, int32_t largestSide);

// Refuses the call (tooLarge) when the tables would outgrow shiftSlotLimit, or when pixels up
// to largestSide, displaced by the largest shift, would leave 32 bits; sideOrigin names the
// arguments largestSide comes from in that refusal ("the larger of mapRows and mapCols"). All
// counts are at least 0.
void requireShiftsFit(const ShiftArgPositions& positions, int32_t orientCount, int32_t posShiftMax,
                      int32_t orientShiftMax, int32_t poolStep, int32_t largestSide, const char* sideOrigin);

// Slots that a call's tables may hold whatever data it was given: tables this small (under a
// megabyte) cost next to nothing to build.
constexpr int64_t freeShiftSlots = int64_t{1} << 16;

// Refuses the call (tooLarge) when the tables, orientCount * shiftCountOf(posShiftMax,
// orientShiftMax) slots, would hold more than freeShiftSlots and more than dataValues, the
// number of values in the maps they serve: tables that outweigh their maps come only from a
// count out of proportion to the data (a huge orientCount or shift range with tiny or empty
// maps), and must not cost memory and time. Requires shiftTablesFit.
void requireShiftsJustified(const ShiftArgPositions& positions, int32_t orientCount, int32_t posShiftMax,
                            int32_t orientShiftMax, int64_t dataValues);

// Values in a map grid of imageCount x orientCount cells whose cells of image i hold
// valuesOf(i) values each, counted only until the count reaches shiftSlotLimit, which is
// enough for requireShiftsJustified to accept any tables that fit.
template <typename ValuesOf>
int64_t gridValuesForShifts(int32_t imageCount, int32_t orientCount, ValuesOf valuesOf) {
    int64_t total = 0;
    for (int32_t image = 0; image < imageCount && total < shiftSlotLimit; ++image) {
        total += static_cast<int64_t>(valuesOf(image)) * orientCount;
    }
    return total;
}

// Builds the tables, allocating rowShift, colShift and shiftedOrient in that order from the
// host. Requires orientCount >= 1, posShiftMax >= 0, 0 <= orientShiftMax < orientCount,
// poolStep >= 1, shiftTablesFit and posShiftMax * poolStep within 32 bits. Release with
// freeShiftTables.
ShiftTable buildShiftTables(int32_t orientCount, int32_t posShiftMax, int32_t orientShiftMax,
                            int32_t poolStep);

// Releases rowShift, colShift and shiftedOrient, in that order.
void freeShiftTables(const ShiftTable& table, int32_t orientCount);

// Where a trace slot puts an element: the orientation it reads and the 1-based pixel.
struct ShiftedPlace {
    int32_t orient;
    int32_t x;
    int32_t y;
};

// The place that slot `slot` of orientation `orient` names for pooled position (x, y):
// orientation shiftedOrient, pixel (x * poolStep + rowShift, y * poolStep + colShift).
inline ShiftedPlace shiftedPlaceOf(const ShiftTable& table, int32_t orient, int32_t slot, int32_t x, int32_t y,
                                   int32_t poolStep) {
    return ShiftedPlace{table.shiftedOrient[orient][slot], x * poolStep + table.rowShift[orient][slot],
                        y * poolStep + table.colShift[orient][slot]};
}

// floor(numerator / denominator) and ceil(numerator / denominator) for a positive denominator;
// C++ division truncates toward 0.
inline int64_t floorDiv(int64_t numerator, int64_t denominator) {
    int64_t quotient = numerator / denominator;
    return numerator % denominator < 0 ? quotient - 1 : quotient;
}

inline int64_t ceilDiv(int64_t numerator, int64_t denominator) { return -floorDiv(-numerator, denominator); }

// The inclusive range first ... last of pooled positions lo ... hi whose pixel p * poolStep,
// moved by `shift`, lies inside 1 ... pixelCount; 1 ... 0 when none does. Formed in 64 bits,
// so any 32-bit shift is safe.
struct PositionRange {
    int32_t first;
    int32_t last;
};

inline PositionRange positionsLandingInside(int32_t lo, int32_t hi, int32_t shift, int32_t poolStep,
                                            int32_t pixelCount) {
    int64_t first = std::max<int64_t>(lo, ceilDiv(1 - int64_t{shift}, poolStep));
    int64_t last = std::min<int64_t>(hi, floorDiv(pixelCount - int64_t{shift}, poolStep));
    if (first > last) return PositionRange{1, 0};
    return PositionRange{static_cast<int32_t>(first), static_cast<int32_t>(last)};
}

// The largest response over the slots of one orientation, and the slot it came from.
struct LocalMax {
    float best;
    int32_t slot;
};

// Scans the slots of `orient` in order from (noResponse, slot 0). A slot counts only when its
// displaced position (x + rowShift, y + colShift) lies in 1 ... rows x 1 ... cols; it reads
// that position of the map in cell image + shiftedOrient * imageCount of responseMaps (maps of
// rows x cols values) and wins only when strictly greater than the best so far, so ties keep
// the earliest slot and NaN never wins. (x, y) is a 1-based pixel; x + rowShift and
// y + colShift must fit 32 bits.
LocalMax localMaxOverShifts(const ShiftTable& table, const float* const* responseMaps,
                            int32_t imageCount, int32_t image, int32_t orient, int32_t x,
                            int32_t y, int32_t rows, int32_t cols);
