// fennock's vector path against the plain loops, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "minihost.h"
#include "plain_loops.h"
#include "test_support.h"

namespace {

// Runs fennock and the plain loop on copies of the same grid; true when every value,
// spare values included, has the same bits.
testing::AssertionResult fennockMatchesPlain(const std::vector<int>& rows, const std::vector<int>& cols,
                                             int orientCount, double level,
                                             const std::vector<std::vector<float>>& values) {
    int imageCount = static_cast<int>(rows.size());
    testsupport::MapGrid grid = testsupport::makeGrid(imageCount, orientCount, rows, cols, mxSINGLE_CLASS);
    std::vector<std::vector<float>> expected = values;
    std::vector<float*> table;
    for (int c = 0; c < imageCount * orientCount; ++c) {
        std::copy(values[c].begin(), values[c].end(), minihost::singleData(mxGetCell(grid.cells.get(), c)));
        table.push_back(expected[c].data());
    }
    std::vector<double> rowSizes = testsupport::asDoubles(rows), colSizes = testsupport::asDoubles(cols);
    plain::fennock(imageCount, rowSizes.data(), colSizes.data(), orientCount, level, table.data());
    minihost::Array count = minihost::scalar(imageCount), orients = minihost::scalar(orientCount);
    minihost::Array rowArg = minihost::doubles(1, imageCount, rowSizes), colArg = minihost::doubles(1, imageCount, colSizes);
    minihost::Array levelArg = minihost::scalar(level);
    minihost::CallResult result = minihost::callPlugin(
        minihost::loadPlugin("fennock"),
        {count.get(), rowArg.get(), colArg.get(), orients.get(), levelArg.get(), grid.cells.get()});
    if (result.failed) return testing::AssertionFailure() << result.errorMessage;
    return testsupport::sameBitsEverywhere(testsupport::snapshot<float>(grid), expected) << " (level " << level << ")";
}

// Among them levels beyond the range where the argument is formed with the reciprocal of the
// level (vector_saturation.h): a subnormal one and one near the double limit.
const double levels[] = {0.1, 1.0 / 3.0, -2.5, 6.0, 1e4, 1e-30, 3e38, 1e-310, -1.7e308};

std::vector<float> edgeValues(double level) {
    const float inf = std::numeric_limits<float>::infinity();
    float s = static_cast<float>(level);
    return {0.0f, -0.0f, inf, -inf, std::numeric_limits<float>::quiet_NaN(), 3e38f, -3e38f,
            std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(), 1e-30f, s, -s,
            2 * s, 350 * s, -350 * s, 351 * s, -351 * s, 1e6f, -1e6f, 1.0f, 1.0f, 1.0f};
}

TEST(FennockIdentity, RandomOddSizesAndEdgeValuesMatchThePlainLoops) {
    testsupport::SeededRandom random;
    const std::vector<int> rows = {37, 5, 1, 0}, cols = {9, 3, 17, 4};
    const int orientCount = 3;
    for (double level : levels) {
        std::vector<std::vector<float>> values;
        for (int o = 0; o < orientCount; ++o) {
            for (size_t image = 0; image < rows.size(); ++image) {
                std::vector<float> map(rows[image] * cols[image]);
                for (float& v : map) v = random.uniform(-4.0f, 4.0f) * static_cast<float>(std::fabs(level));
                values.push_back(map);
            }
        }
        std::vector<float> edges = edgeValues(level);
        for (size_t k = 0; k < edges.size() && k < values[0].size(); ++k) values[0][k * 7 % values[0].size()] = edges[k];
        EXPECT_TRUE(fennockMatchesPlain(rows, cols, orientCount, level, values));
    }
}

// Every 193rd single-precision bit pattern (positive and negative, NaN and infinities among
// them), under each level: about 22 million values.
TEST(FennockIdentity, SweepOverSinglePrecisionMatchesThePlainLoops) {
    const uint64_t patternStride = 193, patternCount = uint64_t(1) << 32;
    std::vector<float> sweep;
    for (uint64_t bits = 0; bits < patternCount; bits += patternStride) {
        uint32_t pattern = static_cast<uint32_t>(bits);
        float v;
        std::memcpy(&v, &pattern, sizeof(v));
        sweep.push_back(v);
    }
    int side = static_cast<int>(sweep.size()) / 1031;
    sweep.resize(static_cast<size_t>(side) * 1031);
    for (double level : {0.1, 1.0 / 3.0, -2.5, 6.0}) {
        EXPECT_TRUE(fennockMatchesPlain({1031}, {side}, 1, level, {sweep}));
    }
}

// Values whose results lie near single-precision rounding boundaries, densely: every
// pattern in a window around small, middle and saturating responses.
TEST(FennockIdentity, DenseWindowsOfNeighbouringValuesMatchThePlainLoops) {
    const float centres[] = {1e-7f, 1e-3f, 0.05f, 0.5f, 1.0f, 3.0f, 9.0f, 20.0f};
    const int32_t halfSpan = 40000;
    std::vector<float> values;
    for (float centre : centres) {
        for (float sign : {1.0f, -1.0f}) {
            uint32_t pattern;
            float c = sign * centre;
            std::memcpy(&pattern, &c, sizeof(pattern));
            for (int32_t k = -halfSpan; k < halfSpan; ++k) {
                uint32_t near = pattern + static_cast<uint32_t>(k);
                float v;
                std::memcpy(&v, &near, sizeof(v));
                values.push_back(v);
            }
        }
    }
    int cols = static_cast<int>(values.size()) / 1000;
    for (double level : {0.1, 1.0 / 3.0, -2.5, 6.0}) EXPECT_TRUE(fennockMatchesPlain({1000}, {cols}, 1, level, {values}));
}

}  // namespace
