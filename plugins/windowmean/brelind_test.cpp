// brelind against somvert: the same window means, the same divisors. Results over random maps
// are also checked bit for bit against a step-by-step Octave computation in tests/octave.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "minihost.h"
#include "test_support.h"

using minihost::Array;
using minihost::scalar;

namespace {

struct Window {
    double edgeMargin, halfWindowX, halfWindowY, meanSwitch, relativeFloor;
};

const int orientCount = 5;

// brelind over images of the given sizes with random responses in [0, 10).
struct BrelindCall {
    std::vector<int> rows, cols;
    testsupport::MapGrid responses, means;
    BrelindCall(const std::vector<int>& rows, const std::vector<int>& cols, testsupport::SeededRandom& random)
        : rows(rows), cols(cols),
          responses(testsupport::makeGrid(static_cast<int>(rows.size()), orientCount, rows, cols, mxSINGLE_CLASS)),
          means(testsupport::makeGrid(static_cast<int>(rows.size()), 1, rows, cols, mxSINGLE_CLASS, 1)) {
        testsupport::fillUniform(responses, random, 0.0f, 10.0f);
    }
    minihost::CallResult run(const Window& w) const {
        int imageCount = static_cast<int>(rows.size());
        Array count = scalar(imageCount), orients = scalar(orientCount), margin = scalar(w.edgeMargin);
        Array imageRows = minihost::doubles(1, imageCount, testsupport::asDoubles(rows));
        Array imageCols = minihost::doubles(1, imageCount, testsupport::asDoubles(cols));
        Array hx = scalar(w.halfWindowX), hy = scalar(w.halfWindowY), on = scalar(w.meanSwitch), floor = scalar(w.relativeFloor);
        return minihost::callPlugin(minihost::loadPlugin("brelind"),
                                    {count.get(), imageRows.get(), imageCols.get(), orients.get(), margin.get(),
                                     responses.cells.get(), means.cells.get(), hx.get(), hy.get(), on.get(), floor.get()});
    }
    // What somvert leaves in a copy of one image's maps.
    std::vector<std::vector<float>> somvertResult(int image, const Window& w) const {
        testsupport::MapGrid maps = testsupport::makeGrid(1, orientCount, {rows[image]}, {cols[image]}, mxSINGLE_CLASS);
        for (int o = 0; o < orientCount; ++o) {
            std::copy_n(responses.singles(image, o), rows[image] * cols[image], maps.singles(0, o));
        }
        Array r = scalar(rows[image]), c = scalar(cols[image]), orients = scalar(orientCount);
        Array margin = scalar(w.edgeMargin), hx = scalar(w.halfWindowX), hy = scalar(w.halfWindowY);
        Array floor = scalar(w.relativeFloor);
        minihost::CallResult result = minihost::callPlugin(
            minihost::loadPlugin("somvert"),
            {r.get(), c.get(), orients.get(), margin.get(), hx.get(), hy.get(), maps.cells.get(), floor.get()});
        EXPECT_FALSE(result.failed) << result.errorMessage;
        return testsupport::snapshot<float>(maps);
    }
};

TEST(Brelind, DividingByItsMapsReproducesSomvertBitForBit) {
    testsupport::SeededRandom random;
    const Window windows[] = {{1, 2, 3, 0, 0.3}, {0, 3, 1, 2.5, 0.05}, {2, 1, 0, 0, 1.5}, {1, 0, 0, 0, 0.0}};
    for (const Window& w : windows) {
        SCOPED_TRACE(testing::Message() << "margin " << w.edgeMargin << ", floor " << w.relativeFloor);
        BrelindCall call({31, 18, 24}, {26, 22, 13}, random);
        // Silent columns give windows a mean of 0, which with a floor of 0 is a divisor of 1.
        for (int o = 0; o < orientCount; ++o) std::fill_n(call.responses.singles(0, o), 31 * 4, 0.0f);
        auto responsesBefore = testsupport::snapshot<float>(call.responses);
        minihost::CallResult result = call.run(w);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_EQ(result.blocksLeft, 2);  // the two cell pointer tables; working memory is freed
        EXPECT_EQ(testsupport::snapshot<float>(call.responses), responsesBefore);
        for (int image = 0; image < 3; ++image) {
            auto normalized = call.somvertResult(image, w);
            const float* divisor = call.means.singles(image, 0);
            for (int o = 0; o < orientCount; ++o) {
                const float* response = call.responses.singles(image, o);
                for (int p = 0; p < call.rows[image] * call.cols[image]; ++p) {
                    ASSERT_TRUE(testsupport::sameBits(response[p] / divisor[p], normalized[o][p]))
                        << "image " << image << " orientation " << o << " value " << p;
                }
            }
        }
    }
}

TEST(Brelind, GivesOnesWhenSwitchedOffOrWithoutAWindow) {
    // The second image (8 rows <= 2 * (margin 1 + half window 3)) holds no window.
    testsupport::SeededRandom random;
    // A negative floor lets every mean through, so a window counted by mistake would show.
    for (double meanSwitch : {-0.5, 0.0}) {
        BrelindCall call({12, 8}, {12, 12}, random);
        ASSERT_FALSE(call.run({1, 3, 2, meanSwitch, meanSwitch < 0 ? 0.5 : -2.0}).failed);
        for (int image = 0; image < 2; ++image) {
            const float* out = call.means.singles(image, 0);
            bool ones = meanSwitch < 0 || image == 1;
            for (int p = 0; p < 12 * call.rows[image]; ++p) ASSERT_EQ(out[p] == 1.0f, ones) << image << " " << p;
            EXPECT_EQ(out[12 * call.rows[image]], 0.0f);  // values past rows * cols stay as they were
        }
    }
}

}  // namespace
