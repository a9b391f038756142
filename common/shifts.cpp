#include "shifts.h"

#include <algorithm>
#include <cmath>

#include "frame.h"

namespace {

// pi to eight significant digits: the angle unit of the displacement directions. Slots are
// looked up again in tables built with this very value, so it is not full-precision pi; near
// theta = pi/2 the difference shows in rowShift for displacements of about 1.9e7 pixels.
const double anglePi = 3.1415926;

// The signed step of a position or orientation index: 0, -1, +1, -2, +2, ... for
// 0, 1, 2, 3, 4, ...
int32_t signedStep(int32_t index) {
    return index % 2 == 1 ? -((index + 1) / 2) : index / 2;
}

// orient + step with a single correction into 0 ... orientCount-1; |step| < orientCount.
int32_t wrappedOrient(int32_t orient, int32_t step, int32_t orientCount) {
    int32_t t = orient + step;
    if (t < 0) {
        t += orientCount;
    } else if (t >= orientCount) {
        t -= orientCount;
    }
    return t;
}

}  // namespace

bool shiftTablesFit(int32_t orientCount, int32_t posShiftMax, int32_t orientShiftMax) {
    int64_t positionIndexCount = 2 * static_cast<int64_t>(posShiftMax) + 1;
    int64_t orientIndexCount = 2 * static_cast<int64_t>(orientShiftMax) + 1;
    return positionIndexCount <= shiftSlotLimit / std::max(orientCount, 1) / orientIndexCount;
}

bool displacedPositionsFit(int32_t posShiftMax, int32_t poolStep, int32_t largestSide) {
    return static_cast<int64_t>(posShiftMax) * poolStep <= INT32_MAX - static_cast<int64_t>(largestSide);
}

void requireShiftsFit(const ShiftArgPositions& positions, int32_t orientCount, int32_t posShiftMax,
                      int32_t orientShiftMax, int32_t poolStep, int32_t largestSide, const char* sideOrigin) {
    if (!shiftTablesFit(orientCount, posShiftMax, orientShiftMax)) {
        refuseCall(ArgFault::tooLarge,
                   "arguments %d (orientCount), %d (posShiftMax) and %d (orientShiftMax): expected at most %lld "
                   "shift slots over all orientations, orientCount*(2*posShiftMax + 1)*(2*orientShiftMax + 1); "
                   "got orientCount %d, posShiftMax %d and orientShiftMax %d",
                   positions.orientCount, positions.posShiftMax, positions.orientShiftMax,
                   static_cast<long long>(shiftSlotLimit), orientCount, posShiftMax, orientShiftMax);
    }
    if (!displacedPositionsFit(posShiftMax, poolStep, largestSide)) {
        refuseCall(ArgFault::tooLarge,
                   "arguments %d (posShiftMax) and %d (poolStep): expected posShiftMax*poolStep of at most "
                   "2147483647 less %s (%d); got posShiftMax %d and poolStep %d",
                   positions.posShiftMax, positions.poolStep, sideOrigin, largestSide, posShiftMax, poolStep);
    }
}

ShiftParams readShiftParams(ArgList& args, int32_t largestSide) {
    int32_t first = args.position + 1;
    ShiftParams q;
    q.positions = ShiftArgPositions{first, first + 1, first + 2, first + 3};
    q.orientCount = readIntArg(args, 1);
    q.posShiftMax = readIntArg(args, 0);
    q.orientShiftMax = readIntArg(args, 0, q.orientCount - 1);
    q.poolStep = readIntArg(args, 1);
    requireShiftsFit(q.positions, q.orientCount, q.posShiftMax, q.orientShiftMax, q.poolStep, largestSide,
                     "the largest entry of imageRows and imageCols");
    return q;
}

void requireShiftsJustified(const ShiftArgPositions& positions, int32_t orientCount, int32_t posShiftMax,
                            int32_t orientShiftMax, int64_t dataValues) {
    int64_t slots = int64_t{orientCount} * shiftCountOf(posShiftMax, orientShiftMax);
    if (slots > freeShiftSlots && slots > dataValues) {
        refuseCall(ArgFault::tooLarge,
                   "arguments %d (orientCount), %d (posShiftMax) and %d (orientShiftMax): expected at most %lld "
                   "shift slots over all orientations, or as many as the maps hold values (%lld); got %lld slots "
                   "(orientCount %d, posShiftMax %d, orientShiftMax %d)",
                   positions.orientCount, positions.posShiftMax, positions.orientShiftMax,
                   static_cast<long long>(freeShiftSlots), static_cast<long long>(dataValues),
                   static_cast<long long>(slots), orientCount, posShiftMax, orientShiftMax);
    }
}

ShiftTable buildShiftTables(int32_t orientCount, int32_t posShiftMax, int32_t orientShiftMax,
                            int32_t poolStep) {
    ShiftTable table;
    int32_t positionIndexCount = 2 * posShiftMax + 1;
    int32_t orientIndexCount = 2 * orientShiftMax + 1;
    table.shiftCount = shiftCountOf(posShiftMax, orientShiftMax);
    table.rowShift = allocTable2D<int32_t>(orientCount, table.shiftCount);
    table.colShift = allocTable2D<int32_t>(orientCount, table.shiftCount);
    table.shiftedOrient = allocTable2D<int32_t>(orientCount, table.shiftCount);
    for (int32_t o = 0; o < orientCount; ++o) {
        double theta = (anglePi * o) / orientCount;
        double rowDirection = std::cos(theta);
        double colDirection = std::sin(theta);
        for (int32_t p = 0; p < positionIndexCount; ++p) {
            int32_t m = signedStep(p) * poolStep;
            for (int32_t q = 0; q < orientIndexCount; ++q) {
                int32_t s = p * orientIndexCount + q;
                table.rowShift[o][s] = roundHalfUp(m * rowDirection);
                table.colShift[o][s] = roundHalfUp(m * colDirection);
                table.shiftedOrient[o][s] = wrappedOrient(o, signedStep(q), orientCount);
            }
        }
    }
    return table;
}

void freeShiftTables(const ShiftTable& table, int32_t orientCount) {
    freeTable2D(table.rowShift, orientCount, table.shiftCount);
    freeTable2D(table.colShift, orientCount, table.shiftCount);
    freeTable2D(table.shiftedOrient, orientCount, table.shiftCount);
}

LocalMax localMaxOverShifts(const ShiftTable& table, const float* const* responseMaps,
                            int32_t imageCount, int32_t image, int32_t orient, int32_t x,
                            int32_t y, int32_t rows, int32_t cols) {
    LocalMax result{noResponse, 0};
    for (int32_t s = 0; s < table.shiftCount; ++s) {
        int32_t xs = x + table.rowShift[orient][s];
        int32_t ys = y + table.colShift[orient][s];
        if (xs < 1 || xs > rows || ys < 1 || ys > cols) continue;
        const float* map = responseMaps[image + table.shiftedOrient[orient][s] * imageCount];
        float v = map[cmIndex(xs, ys, rows, cols)];
        if (v > result.best) {
            result.best = v;
            result.slot = s;
        }
    }
    return result;
}
