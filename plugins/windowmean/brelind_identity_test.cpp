// brelind against the plain loops, bit for bit: several images of odd sizes in one grid,
// margins of 0, windows that barely fit or do not, zero means, NaN, infinities, -0 and
// negative floors.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "minihost.h"
#include "plain_loops.h"
#include "test_support.h"

namespace {

// One call's window and floor; the images are the same in every call.
struct MeanCase {
    int edgeMargin, halfWindowX, halfWindowY;
    double meanSwitch, relativeFloor;
};

const MeanCase cases[] = {
    {2, 3, 2, 0, 0.2},    // every image holds windows
    {0, 4, 1, 1, 0.5},    // margin 0: windows reach before the first row and column
    {1, 4, 3, 0, 0.3},    // the 11 x 9 image holds exactly one position, the 10 x 9 one none
    {1, 0, 0, 0, -0.7},   // one-position window, negative floor
    {5, 5, 5, 0, 0.2},    // the benchmark's window: only the largest image holds it
    {1, 2, 2, -1, 0.2},   // switched off: ones
};

const std::vector<int> imageRows = {37, 11, 10, 1, 64}, imageCols = {29, 9, 9, 13, 70};
const int orientCount = 4;

// Random responses; the first image has silent columns (window means of exactly 0, with -0
// among the values) and the last one NaN, infinities and -0 at random places.
testsupport::MapGrid drawResponses(testsupport::SeededRandom& random) {
    int imageCount = static_cast<int>(imageRows.size());
    testsupport::MapGrid grid = testsupport::makeGrid(imageCount, orientCount, imageRows, imageCols, mxSINGLE_CLASS);
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), -0.0f};
    for (int image = 0; image < imageCount; ++image) {
        int rows = imageRows[image];
        for (int o = 0; o < orientCount; ++o) {
            float* map = grid.singles(image, o);
            for (int p = 0; p < rows * imageCols[image]; ++p) {
                map[p] = random.uniform(-1.0f, 10.0f);
                if (image == 0 && p / rows < 12) map[p] = p % 3 == 0 ? -0.0f : 0.0f;
                if (image == imageCount - 1 && random.integer(0, 99) < 2) map[p] = specials[random.integer(0, 3)];
            }
        }
    }
    return grid;
}

testing::AssertionResult brelindMatchesPlain(const MeanCase& c, const testsupport::MapGrid& responses) {
    int imageCount = static_cast<int>(imageRows.size());
    testsupport::MapGrid means = testsupport::makeGrid(imageCount, 1, imageRows, imageCols, mxSINGLE_CLASS);
    std::vector<std::vector<float>> expected = testsupport::snapshot<float>(means);
    std::vector<const float*> responseTable;
    std::vector<float*> expectedTable;
    for (int cell = 0; cell < imageCount * orientCount; ++cell) {
        responseTable.push_back(minihost::singleData(mxGetCell(responses.cells.get(), cell)));
    }
    for (std::vector<float>& map : expected) expectedTable.push_back(map.data());
    std::vector<double> rowSizes = testsupport::asDoubles(imageRows), colSizes = testsupport::asDoubles(imageCols);
    plain::brelind(imageCount, rowSizes.data(), colSizes.data(), orientCount, c.edgeMargin, responseTable.data(),
                   expectedTable.data(), c.halfWindowX, c.halfWindowY, c.meanSwitch, c.relativeFloor);
    minihost::Array count = minihost::scalar(imageCount), orients = minihost::scalar(orientCount);
    minihost::Array rowArg = minihost::doubles(1, imageCount, rowSizes), colArg = minihost::doubles(1, imageCount, colSizes);
    minihost::Array margin = minihost::scalar(c.edgeMargin), hx = minihost::scalar(c.halfWindowX);
    minihost::Array hy = minihost::scalar(c.halfWindowY), on = minihost::scalar(c.meanSwitch);
    minihost::Array floor = minihost::scalar(c.relativeFloor);
    minihost::CallResult result = minihost::callPlugin(
        minihost::loadPlugin("brelind"), {count.get(), rowArg.get(), colArg.get(), orients.get(), margin.get(),
                                          responses.cells.get(), means.cells.get(), hx.get(), hy.get(), on.get(),
                                          floor.get()});
    if (result.failed) return testing::AssertionFailure() << result.errorMessage;
    return testsupport::sameBitsEverywhere(testsupport::snapshot<float>(means), expected)
           << " (margin " << c.edgeMargin << ", half window " << c.halfWindowX << " x " << c.halfWindowY << ")";
}

TEST(BrelindIdentity, EveryCaseMatchesThePlainLoops) {
    testsupport::SeededRandom random;
    testsupport::MapGrid responses = drawResponses(random);
    for (const MeanCase& c : cases) EXPECT_TRUE(brelindMatchesPlain(c, responses));
}

}  // namespace
