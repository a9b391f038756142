// crossum against its sums written out, on sizes that leave partial blocks of entries and
// partial tiles of rows, and its thread identity.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "minihost.h"
#include "test_support.h"
#include "thread_identity.h"

namespace {

using minihost::Array;

TEST(Crossum, EveryEntryIsItsSumInRowOrderFromZero) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 60; ++trial) {
        int inner = random.integer(0, 150), leftCols = random.integer(0, 19), rightCols = random.integer(0, 19);
        SCOPED_TRACE(testing::Message() << inner << " rows, " << leftCols << " x " << rightCols);
        std::vector<double> left, right;
        // Values of widely different magnitudes, so that another order of the sums shows.
        for (int k = 0; k < inner * leftCols; ++k) left.push_back(random.uniform(-1, 1) * (k % 7 == 0 ? 1e8 : 1));
        for (int k = 0; k < inner * rightCols; ++k) right.push_back(random.uniform(-1, 1) * (k % 5 == 0 ? 1e-7 : 1));
        std::vector<double> expected(leftCols * rightCols);
        for (int j = 0; j < rightCols; ++j) {
            for (int i = 0; i < leftCols; ++i) {
                double sum = 0.0;
                for (int l = 0; l < inner; ++l) sum += left[i * inner + l] * right[j * inner + l];
                expected[j * leftCols + i] = sum;
            }
        }
        std::vector<Array> arrays;
        arrays.push_back(minihost::scalar(inner));
        arrays.push_back(minihost::scalar(leftCols));
        arrays.push_back(minihost::scalar(rightCols));
        arrays.push_back(minihost::doubles(inner, leftCols, left));
        arrays.push_back(minihost::doubles(inner, rightCols, right));
        int outCount = leftCols * rightCols + 1;
        arrays.push_back(minihost::doubles(1, outCount, std::vector<double>(outCount, 5)));
        std::vector<const mxArray*> args;
        for (const Array& a : arrays) args.push_back(a.get());
        minihost::CallResult result = minihost::callPlugin(minihost::loadPlugin("crossum"), args);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        const double* got = minihost::doubleData(arrays.back().get());
        EXPECT_TRUE(expected.empty() || std::memcmp(got, expected.data(), expected.size() * sizeof(double)) == 0);
        EXPECT_EQ(got[leftCols * rightCols], 5.0);  // the value past the product is untouched
    }
}

// A product large enough to be shared among threads: 300 rows, 45 x 53 entries.
TEST(Crossum, SameBitsForEveryThreadCount) {
    using namespace validcalls;
    PluginCall call{"crossum", {num(300), num(45), num(53), row(ramp(300 * 45, -1, 1.3e-4)),
                                row(ramp(300 * 53, 2, -7e-5)), row(std::vector<double>(45 * 53))}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 15)));
}

}  // namespace
