// fennock's numerics at levels single precision cannot hold and at a negative level, against
// the formula written out here, bit for bit: a level rounded to single precision, or the
// formula regrouped as 2s/(e + 1) - s, changes some of these values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "minihost.h"
#include "test_support.h"

using testsupport::saturatedAsWritten;

namespace {

// Values that come out as +0 or -0: zeros of both signs and the smallest magnitudes, whose
// exp is exactly 1; the sign of the result is the level's, which the regrouped formula loses.
std::vector<float> valuesGivingZero() {
    const float tiny = std::numeric_limits<float>::denorm_min();
    return {0.0f, -0.0f, tiny, -tiny, 2 * tiny, -3 * tiny, 1e-40f, -1e-40f};
}

// One image of `valueCount` x 1 pixels and one orientation holding `values`; returns the map
// after fennock saturated it at `level`.
std::vector<float> saturatedByFennock(const std::vector<float>& values, double level) {
    int valueCount = static_cast<int>(values.size());
    testsupport::MapGrid grid = testsupport::makeGrid(1, 1, {valueCount}, {1}, mxSINGLE_CLASS);
    std::copy(values.begin(), values.end(), grid.singles(0, 0));
    minihost::Array count = minihost::scalar(1), rows = minihost::scalar(valueCount), cols = minihost::scalar(1),
                    orients = minihost::scalar(1), levelArg = minihost::scalar(level);
    minihost::CallResult result = minihost::callPlugin(
        minihost::loadPlugin("fennock"), {count.get(), rows.get(), cols.get(), orients.get(), levelArg.get(), grid.cells.get()});
    EXPECT_FALSE(result.failed) << result.errorMessage;
    return testsupport::snapshot<float>(grid)[0];
}

TEST(FennockNumerics, RandomValuesAndZerosAtLevelsSingleCannotHold) {
    testsupport::SeededRandom random;
    for (double level : {0.1, 1.0 / 3.0, -0.7, -1.0 / 3.0}) {
        std::vector<float> values = valuesGivingZero();
        for (int k = 0; k < 4000; ++k) values.push_back(random.uniform(-4.0f, 4.0f) * static_cast<float>(std::fabs(level)));
        std::vector<float> after = saturatedByFennock(values, level);
        ASSERT_EQ(after.size(), values.size());
        for (size_t k = 0; k < values.size(); ++k) {
            ASSERT_TRUE(testsupport::sameBits(after[k], saturatedAsWritten(values[k], level)))
                << "level " << level << ", value " << values[k] << " gave " << after[k];
        }
    }
}

TEST(FennockNumerics, ZeroResultsCarryTheSignOfTheLevel) {
    for (double level : {0.1, -0.1}) {
        for (float v : saturatedByFennock(valuesGivingZero(), level)) {
            EXPECT_EQ(v, 0.0f);
            EXPECT_EQ(std::signbit(v), level < 0) << "level " << level;
        }
    }
}

}  // namespace
