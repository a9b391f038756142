// Edge cases of somvert and somvertwide. Results over random maps are checked bit for bit
// against a step-by-step Octave computation in tests/octave.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "minihost.h"
#include "test_support.h"

using minihost::Array;
using minihost::scalar;

namespace {

// somvert on one image of orientCount rows x cols maps, margin 1, with value(o, p) filled in.
struct SomvertCall {
    int rows, cols, orientCount;
    testsupport::MapGrid maps;
    SomvertCall(int rows, int cols, int orientCount, const std::function<float(int o, int p)>& value)
        : rows(rows), cols(cols), orientCount(orientCount),
          maps(testsupport::makeGrid(1, orientCount, {rows}, {cols}, mxSINGLE_CLASS)) {
        for (int o = 0; o < orientCount; ++o) {
            for (int p = 0; p < rows * cols; ++p) maps.singles(0, o)[p] = value(o, p);
        }
    }
    minihost::CallResult run(int halfWindowX, int halfWindowY, double relativeFloor) const {
        Array r = scalar(rows), c = scalar(cols), n = scalar(orientCount), margin = scalar(1);
        Array hx = scalar(halfWindowX), hy = scalar(halfWindowY), floor = scalar(relativeFloor);
        return minihost::callPlugin(minihost::loadPlugin("somvert"), {r.get(), c.get(), n.get(), margin.get(), hx.get(),
                                                                       hy.get(), maps.cells.get(), floor.get()});
    }
};

TEST(Somvert, ZeroDivisorKeepsTheValuesInsteadOfMakingInfinities) {
    // Opposite responses give every window a mean of 0; with a floor of 0 every divisor is 0.
    SomvertCall call(9, 9, 2, [](int o, int p) { return static_cast<float>(o == 0 ? p + 1 : -(p + 1)); });
    auto before = testsupport::snapshot<float>(call.maps);
    minihost::CallResult result = call.run(1, 1, 0.0);
    ASSERT_FALSE(result.failed) << result.errorMessage;
    EXPECT_EQ(result.blocksLeft, 1);  // the cell pointer table; every working table is freed
    EXPECT_EQ(testsupport::snapshot<float>(call.maps), before);
}

TEST(Somvert, OnesStayOnesOrTakeTheFloorEverywhere) {
    // Every position, edges and corners included, is divided by the same divisor.
    for (double relativeFloor : {1.0, 4.0}) {
        SomvertCall call(12, 10, 3, [](int, int) { return 1.0f; });
        ASSERT_FALSE(call.run(2, 1, relativeFloor).failed);
        for (int o = 0; o < 3; ++o) {
            for (int p = 0; p < 120; ++p) ASSERT_EQ(call.maps.singles(0, o)[p], relativeFloor > 1 ? 0.25f : 1.0f);
        }
    }
}

TEST(Somvert, InteriorEndsBeforeMarginAndHalfWindowFromTheFarEdge) {
    // 10 rows with margin 1 and half window 4 leave no interior row; 11 rows leave one.
    // Also with a negative floor, which lets every mean through: a window counted by mistake
    // would divide.
    for (double relativeFloor : {0.5, -2.0}) {
        for (int rows : {10, 11}) {
            SomvertCall call(rows, 30, 2, [](int o, int p) { return static_cast<float>(o + 2 + p % 5); });
            auto before = testsupport::snapshot<float>(call.maps);
            ASSERT_FALSE(call.run(4, 1, relativeFloor).failed);
            EXPECT_EQ(testsupport::snapshot<float>(call.maps) == before, rows == 10) << rows << " " << relativeFloor;
        }
    }
}

}  // namespace
