// cobrint's one-pass saturation and counting against the plain loop, bit for bit.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "minihost.h"
#include "plain_loops.h"
#include "test_support.h"

namespace {

TEST(CobrintIdentity, RandomGridsAndStartingHistogramsMatchThePlainLoops) {
    testsupport::SeededRandom random;
    const double inf = std::numeric_limits<double>::infinity();
    const double edges[] = {0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300, 0.5, 0.5};
    const int imageCount = 3, orientCount = 2, rows = 13, cols = 7, binCount = 5;
    for (double level : {0.1, 1.0 / 3.0, -2.5, 6.0}) {
        for (int border : {0, 1, 4}) {
            // Zeros, whole counts, and values whose additions of 1.0 round (0.3, 2^53).
            for (std::vector<double> start : {std::vector<double>(binCount, 0.0), {0.3, 2, 9007199254740992.0, -0.0, 1e-300}}) {
                testsupport::MapGrid grid = testsupport::makeGrid(imageCount, orientCount, std::vector<int>(imageCount, rows),
                                                                  std::vector<int>(imageCount, cols), mxDOUBLE_CLASS);
                testsupport::fillEach(grid, [&] { return static_cast<double>(random.uniform(-3.0f, 3.0f)); });
                for (int k = 0; k < 9; ++k) grid.doubles(1, 1)[k * 10 + 1] = edges[k];
                std::vector<std::vector<double>> expected = testsupport::snapshot<double>(grid);
                std::vector<double*> table;
                for (std::vector<double>& map : expected) table.push_back(map.data());
                std::vector<double> expectedHistogram = start;
                plain::cobrint(imageCount, orientCount, table.data(), border, rows, cols, 0.25, binCount,
                               expectedHistogram.data(), level);
                minihost::Array histogram = minihost::doubles(1, binCount, start);
                minihost::Array a1 = minihost::scalar(imageCount), a2 = minihost::scalar(orientCount);
                minihost::Array a4 = minihost::scalar(border), a5 = minihost::scalar(rows), a6 = minihost::scalar(cols);
                minihost::Array a7 = minihost::scalar(0.25), a8 = minihost::scalar(binCount), a10 = minihost::scalar(level);
                ASSERT_FALSE(minihost::callPlugin(minihost::loadPlugin("cobrint"),
                                                  {a1.get(), a2.get(), grid.cells.get(), a4.get(), a5.get(), a6.get(),
                                                   a7.get(), a8.get(), histogram.get(), a10.get()})
                                 .failed);
                std::vector<std::vector<double>> actual = testsupport::snapshot<double>(grid);
                for (size_t c = 0; c < expected.size(); ++c) {
                    for (size_t k = 0; k < expected[c].size(); ++k) {
                        ASSERT_TRUE(testsupport::sameBits(actual[c][k], expected[c][k])) << "cell " << c << " value " << k;
                    }
                }
                for (int b = 0; b < binCount; ++b) {
                    EXPECT_TRUE(testsupport::sameBits(minihost::doubleData(histogram.get())[b], expectedHistogram[b]))
                        << "bin " << b << " level " << level << " border " << border;
                }
            }
        }
    }
}

}  // namespace
