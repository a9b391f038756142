#include "shifts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "frame.h"
#include "minihost.h"

namespace {

struct Slot {
    int32_t row;
    int32_t col;
    int32_t orient;
    bool operator==(const Slot& other) const {
        return row == other.row && col == other.col && orient == other.orient;
    }
};

std::ostream& operator<<(std::ostream& out, const Slot& slot) {
    return out << "(" << slot.row << ", " << slot.col << ", " << slot.orient << ")";
}

std::vector<Slot> slotsOf(const ShiftTable& table, int32_t orient) {
    std::vector<Slot> slots;
    for (int32_t s = 0; s < table.shiftCount; ++s) {
        slots.push_back({table.rowShift[orient][s], table.colShift[orient][s], table.shiftedOrient[orient][s]});
    }
    return slots;
}

TEST(ShiftTables, EightOrientationsInSlotOrder) {
    ShiftTable table = buildShiftTables(8, 1, 1, 2);
    ASSERT_EQ(table.shiftCount, 9);
    EXPECT_EQ(slotsOf(table, 0), (std::vector<Slot>{{0, 0, 0}, {0, 0, 7}, {0, 0, 1}, {-2, 0, 0}, {-2, 0, 7},
                                                    {-2, 0, 1}, {2, 0, 0}, {2, 0, 7}, {2, 0, 1}}));
    // theta just under pi/4: 2 * 0.7071 rounds half up to 1 on both axes, -2 * 0.7071 to -1.
    EXPECT_EQ(slotsOf(table, 2), (std::vector<Slot>{{0, 0, 2}, {0, 0, 1}, {0, 0, 3}, {-1, -1, 2}, {-1, -1, 1},
                                                    {-1, -1, 3}, {1, 1, 2}, {1, 1, 1}, {1, 1, 3}}));
    // theta just under pi/2: the displacement is along the columns only.
    EXPECT_EQ(slotsOf(table, 4)[3], (Slot{0, -2, 4}));
    EXPECT_EQ(slotsOf(table, 4)[6], (Slot{0, 2, 4}));
    freeShiftTables(table, 8);
}

TEST(ShiftTables, StepsAlternateInSignAndGrowPositionFirst) {
    ShiftTable table = buildShiftTables(5, 3, 2, 3);
    ASSERT_EQ(table.shiftCount, 35);
    std::vector<Slot> expected;
    for (int32_t rowStep : {0, -1, 1, -2, 2, -3, 3}) {
        for (int32_t orient : {0, 4, 1, 3, 2}) expected.push_back({3 * rowStep, 0, orient});
    }
    EXPECT_EQ(slotsOf(table, 0), expected);
    freeShiftTables(table, 5);
}

TEST(ShiftTables, AngleUsesPiToEightDigits) {
    // At theta = 3.1415926 / 2, cos theta is about 2.68e-8 rather than 0, which moves a
    // displacement of 2e7 pixels by one row; one of 1.8e7 pixels still stays on its row.
    ShiftTable far = buildShiftTables(8, 1, 0, 20000000);
    EXPECT_EQ(slotsOf(far, 4), (std::vector<Slot>{{0, 0, 4}, {-1, -20000000, 4}, {1, 20000000, 4}}));
    freeShiftTables(far, 8);
    ShiftTable near = buildShiftTables(8, 1, 0, 18000000);
    EXPECT_EQ(slotsOf(near, 4), (std::vector<Slot>{{0, 0, 4}, {0, -18000000, 4}, {0, 18000000, 4}}));
    freeShiftTables(near, 8);
}

TEST(ShiftTables, OrientationStepsWrapAround) {
    ShiftTable six = buildShiftTables(6, 0, 1, 1);
    EXPECT_EQ(six.shiftedOrient[0][1], 5);
    EXPECT_EQ(six.shiftedOrient[5][2], 0);
    freeShiftTables(six, 6);
    // The widest orientation range still lands inside 0 ... orientCount-1 after one correction.
    ShiftTable three = buildShiftTables(3, 0, 2, 1);
    EXPECT_EQ(slotsOf(three, 0), (std::vector<Slot>{{0, 0, 0}, {0, 0, 2}, {0, 0, 1}, {0, 0, 1}, {0, 0, 2}}));
    EXPECT_EQ(slotsOf(three, 2), (std::vector<Slot>{{0, 0, 2}, {0, 0, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, 1}}));
    freeShiftTables(three, 3);
}

// Maps of one size addressed like a map grid's cell pointer table.
struct Maps {
    int32_t imageCount, rows, cols;
    std::vector<std::vector<float>> values;
    std::vector<const float*> table;
    Maps(int32_t images, int32_t orients, int32_t r, int32_t c, float fill)
        : imageCount(images), rows(r), cols(c), values(images * orients, std::vector<float>(r * c, fill)) {
        for (const auto& map : values) table.push_back(map.data());
    }
    float& at(int32_t image, int32_t orient, int32_t x, int32_t y) {
        return values[image + orient * imageCount][cmIndex(x, y, rows, cols)];
    }
    LocalMax search(const ShiftTable& shifts, int32_t image, int32_t orient, int32_t x, int32_t y) const {
        return localMaxOverShifts(shifts, table.data(), imageCount, image, orient, x, y, rows, cols);
    }
};

TEST(ShiftTables, DisplacementsPastTheLargestSideAreRefusedNamingWhereTheSideComesFrom) {
    const ShiftArgPositions positions{1, 2, 3, 5};
    requireShiftsFit(positions, 4, 1, 1, 2, INT32_MAX - 2, "the larger of mapRows and mapCols");
    try {
        requireShiftsFit(positions, 4, 1, 1, 2, INT32_MAX - 1, "the larger of mapRows and mapCols");
        ADD_FAILURE() << "a displacement past 32 bits was accepted";
    } catch (const PluginError& error) {
        EXPECT_EQ(error.fault, ArgFault::tooLarge);
        EXPECT_STREQ(error.message,
                     "arguments 2 (posShiftMax) and 5 (poolStep): expected posShiftMax*poolStep of at most 2147483647 "
                     "less the larger of mapRows and mapCols (2147483646); got posShiftMax 1 and poolStep 2");
    }
}

TEST(ShiftTables, FitOnlyWithinTheSlotLimit) {
    EXPECT_TRUE(shiftTablesFit(1, 8388607, 0));   // 16777215 slots
    EXPECT_FALSE(shiftTablesFit(1, 8388608, 0));  // 16777217 slots
    EXPECT_TRUE(shiftTablesFit(16, 3, 1));
    EXPECT_FALSE(shiftTablesFit(16, 174763, 1));  // 16 * 349527 * 3 slots
    EXPECT_FALSE(shiftTablesFit(1, 2147483647, 2147483646));
}

TEST(LocalMaxOverShifts, KeepsTheEarliestOfEqualSlotsAndNeverTakesNaN) {
    // Orientation 0 of 8 moves along the rows: slots (0,0,0) (0,0,7) (0,0,1) (-2,0,*) (2,0,*).
    ShiftTable shifts = buildShiftTables(8, 1, 1, 2);
    Maps maps(2, 8, 7, 3, std::nanf(""));
    LocalMax allNaN = maps.search(shifts, 0, 0, 4, 2);
    EXPECT_EQ(allNaN.best, noResponse);
    EXPECT_EQ(allNaN.slot, 0);
    maps.at(0, 0, 4, 2) = noResponse;  // equal to the start value: does not count
    maps.at(0, 0, 2, 2) = 5.0f;
    maps.at(0, 0, 6, 2) = 5.0f;
    maps.at(1, 1, 6, 2) = 9.0f;  // the other image's map
    LocalMax negativeFirst = maps.search(shifts, 0, 0, 4, 2);
    EXPECT_EQ(negativeFirst.best, 5.0f);
    EXPECT_EQ(negativeFirst.slot, 3);
    maps.at(0, 7, 4, 2) = 5.0f;
    EXPECT_EQ(maps.search(shifts, 0, 0, 4, 2).slot, 1);  // orientation 0 - 1 wraps to 7
    maps.at(0, 0, 4, 2) = 5.0f;
    EXPECT_EQ(maps.search(shifts, 0, 0, 4, 2).slot, 0);
    maps.at(0, 1, 6, 2) = 6.0f;
    LocalMax larger = maps.search(shifts, 0, 0, 4, 2);
    EXPECT_EQ(larger.best, 6.0f);
    EXPECT_EQ(larger.slot, 8);
    EXPECT_EQ(maps.search(shifts, 1, 0, 4, 2).slot, 8);
    freeShiftTables(shifts, 8);
}

TEST(LocalMaxOverShifts, SkipsSlotsThatLeaveTheMap) {
    // Orientation 0 of 2 moves rows and orientation 1 columns, by 2. Rows past either end
    // would read the neighbouring column in memory, columns past the end the spare value.
    ShiftTable shifts = buildShiftTables(2, 1, 0, 2);
    Maps maps(1, 2, 5, 4, 1.0f);
    maps.at(0, 0, 4, 1) = 9.0f;  // what (-1, 2) would read
    maps.at(0, 0, 2, 3) = 9.0f;  // what (7, 2) would read
    maps.at(0, 0, 3, 2) = 3.0f;
    LocalMax top = maps.search(shifts, 0, 0, 1, 2);
    EXPECT_EQ(top.best, 3.0f);
    EXPECT_EQ(top.slot, 2);
    LocalMax bottom = maps.search(shifts, 0, 0, 5, 2);
    EXPECT_EQ(bottom.best, 3.0f);
    EXPECT_EQ(bottom.slot, 1);
    maps.values[1].push_back(9.0f);
    maps.table[1] = maps.values[1].data();
    EXPECT_EQ(maps.search(shifts, 0, 1, 1, 3).best, 1.0f);  // (1, 5) is past the last column
    freeShiftTables(shifts, 2);
}

}  // namespace
