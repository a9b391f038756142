// The tally window, bin edges and empty tallies of cobrint. Results over random maps are
// checked bit for bit against a step-by-step Octave computation in tests/octave.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "minihost.h"
#include "test_support.h"

using minihost::Array;
using minihost::scalar;

namespace {

// cobrint over imageCount x orientCount maps of rows x cols, every map filled with value(x, y).
struct CobrintCall {
    int imageCount, orientCount, rows, cols;
    testsupport::MapGrid maps;
    Array histogram;
    CobrintCall(int imageCount, int orientCount, int rows, int cols, int binCount,
                const std::function<double(int x, int y)>& value)
        : imageCount(imageCount), orientCount(orientCount), rows(rows), cols(cols),
          maps(testsupport::makeGrid(imageCount, orientCount, std::vector<int>(imageCount, rows),
                                     std::vector<int>(imageCount, cols), mxDOUBLE_CLASS)),
          histogram(minihost::doubles(1, binCount)) {
        for (int c = 0; c < imageCount * orientCount; ++c) {
            double* map = maps.doubles(c % imageCount, c / imageCount);
            for (int y = 0; y < cols; ++y) {
                for (int x = 0; x < rows; ++x) map[x + y * rows] = value(x, y);
            }
        }
    }
    minihost::CallResult run(int borderWidth, double binWidth, double saturationLevel) const {
        Array images = scalar(imageCount), orients = scalar(orientCount), border = scalar(borderWidth);
        Array r = scalar(rows), c = scalar(cols), width = scalar(binWidth);
        Array bins = scalar(static_cast<double>(mxGetNumberOfElements(histogram.get()))), level = scalar(saturationLevel);
        return minihost::callPlugin(minihost::loadPlugin("cobrint"),
                                    {images.get(), orients.get(), maps.cells.get(), border.get(), r.get(), c.get(),
                                     width.get(), bins.get(), histogram.get(), level.get()});
    }
    std::vector<double> density() const {
        const double* bins = minihost::doubleData(histogram.get());
        return std::vector<double>(bins, bins + mxGetNumberOfElements(histogram.get()));
    }
};

TEST(Cobrint, TalliesTheAsymmetricWindowOverTheWholeGrid) {
    // 10 x 7 maps with border 2: rows 3..7 and columns 3..4 (1-based) are tallied, 10 positions
    // per map. Positions outside hold 0.6, which saturates into bin 2; inside, 0 (bin 0) except
    // 100 at the window's corners, which saturates to exactly 1.0 = 4 * 0.25 (bin 4, not 3),
    // and 10 (just below 1.0, bin 3) at one more position.
    CobrintCall call(2, 2, 10, 7, 6, [](int x, int y) {
        bool inside = x >= 2 && x <= 6 && y >= 2 && y <= 3;
        if (!inside) return 0.6;
        if ((x == 2 && y == 2) || (x == 6 && y == 3)) return 100.0;
        return x == 4 && y == 2 ? 10.0 : 0.0;
    });
    // One map adds nothing but zeros: the density is pooled over every map of the grid.
    std::fill(call.maps.doubles(1, 1), call.maps.doubles(1, 1) + 70, 0.0);
    ASSERT_FALSE(call.run(2, 0.25, 1.0).failed);
    const double scale = 0.25 * 40;
    EXPECT_EQ(call.density(), (std::vector<double>{(3 * 7 + 10) / scale, 0, 0, 3 / scale, 6 / scale, 0}));
    EXPECT_EQ(call.maps.doubles(0, 0)[0], (2.0 / (std::exp(-1.2) + 1.0)) - 1.0) << "values outside the window are saturated too";
}

TEST(Cobrint, NegativeAndNaNValuesJoinTheOuterBinsAndCount) {
    // 3 x 3 maps with border 0 tally the four positions of rows and columns 1..2: -5 and 0.1
    // fall into bin 0, NaN and 50 (saturated to 1.0 = 2 * 0.5) into the last bin.
    const double values[] = {-5, 0.1, std::numeric_limits<double>::quiet_NaN(), 50};
    for (int binCount : {3, 1}) {
        CobrintCall call(1, 1, 3, 3, binCount, [&](int x, int y) { return x < 2 && y < 2 ? values[x + 2 * y] : 7.0; });
        ASSERT_FALSE(call.run(0, 0.5, 1.0).failed);
        EXPECT_EQ(call.density(), (binCount == 3 ? std::vector<double>{1, 0, 1} : std::vector<double>{2}));
    }
}

TEST(Cobrint, NothingTalliedLeavesTheHistogramAsItWas) {
    // Two rows with border 1 leave no window row; no images leave nothing at all.
    for (int imageCount : {1, 0}) {
        CobrintCall call(imageCount, 2, 2, 6, 3, [](int x, int y) { return x + y + 1.0; });
        std::copy_n(std::vector<double>{0.5, 0.25, 7}.begin(), 3, minihost::doubleData(call.histogram.get()));
        ASSERT_FALSE(call.run(1, 0.5, 2.0).failed);
        EXPECT_EQ(call.density(), (std::vector<double>{0.5, 0.25, 7}));
        if (imageCount == 1) {
            EXPECT_NE(call.maps.doubles(0, 1)[11], 7.0) << "the maps are still saturated";
        }
    }
}

// ---------------------------------------------------------------- refusals at one value

// cobrint(1, 1, {3 x 3 of 0.5}, 0, 3, 3, binWidth, binCount, zeros(1, 2), 1): the id of the
// refusal, or "" when the call is accepted; the map must be untouched by a refusal.
std::string refusalOf(double binWidth, double binCount) {
    CobrintCall call(1, 1, 3, 3, 2, [](int, int) { return 0.5; });
    Array images = scalar(1), orients = scalar(1), border = scalar(0), r = scalar(3), c = scalar(3);
    Array width = scalar(binWidth), bins = scalar(binCount), level = scalar(1);
    minihost::CallResult result = minihost::callPlugin(
        minihost::loadPlugin("cobrint"), {images.get(), orients.get(), call.maps.cells.get(), border.get(), r.get(),
                                          c.get(), width.get(), bins.get(), call.histogram.get(), level.get()});
    if (result.failed) {
        EXPECT_EQ(call.maps.doubles(0, 0)[0], 0.5) << "refused after writing";
    }
    return result.failed ? result.errorId : "";
}

TEST(Cobrint, RefusesABinWidthOrBinCountOfZero) {
    EXPECT_EQ(refusalOf(0.0, 2), "cobrint:outOfRange");
    EXPECT_EQ(refusalOf(-0.0, 2), "cobrint:outOfRange");
    EXPECT_EQ(refusalOf(0.5, 0), "cobrint:outOfRange");
    EXPECT_EQ(refusalOf(0.5, 0.49), "cobrint:outOfRange");
    EXPECT_EQ(refusalOf(0.5, 1), "");
}

TEST(Cobrint, RefusesAOneBinHistogramSharingAOneValueMap) {
    CobrintCall call(1, 1, 1, 1, 1, [](int, int) { return 0.5; });
    call.histogram = minihost::sharedCopy(call.maps.map(0, 0));
    minihost::CallResult result = call.run(0, 0.25, 1.0);
    EXPECT_EQ(result.errorId, "cobrint:sharedData");
    EXPECT_EQ(call.maps.doubles(0, 0)[0], 0.5);
}

TEST(Cobrint, RefusesOneValueMapsSharingData) {
    CobrintCall call(2, 1, 1, 1, 3, [](int, int) { return 0.5; });
    // The copy goes before its original, which the cell array destroys later.
    minihost::putCell(call.maps.cells.get(), 0, minihost::sharedCopy(call.maps.map(1, 0)));
    minihost::CallResult result = call.run(0, 0.25, 1.0);
    EXPECT_EQ(result.errorId, "cobrint:sharedData");
    EXPECT_EQ(call.maps.doubles(1, 0)[0], 0.5);
}

TEST(Cobrint, MapsOfNoRowsTakeNoTimeHoweverManyColumnsTheyName) {
    // Found by the fuzzer: 0 x 2147483647 maps hold no value, yet every one of their columns
    // was walked (2^31 empty columns per map, a hang). Now nothing is walked and nothing tallied.
    for (int rows : {0, 2147483647}) {
        int cols = rows == 0 ? 2147483647 : 0;
        CobrintCall call(2, 2, 0, 0, 3, [](int, int) { return 0.0; });
        call.rows = rows;
        call.cols = cols;
        std::copy_n(std::vector<double>{0.5, 0.25, 7}.begin(), 3, minihost::doubleData(call.histogram.get()));
        minihost::CallResult result = call.run(1, 0.5, 2.0);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_EQ(call.density(), (std::vector<double>{0.5, 0.25, 7}));
    }
}

TEST(Cobrint, AGridOfNoOrientationsTakesNoTimeHoweverManyImagesItNames) {
    // Found by the fuzzer: 2147483647 images of no orientation make a grid of no cells, yet
    // reading it walked every image (2^31 steps, a hang). Now it is read at once.
    Array images = scalar(2147483647), orients = scalar(0), maps = minihost::cellArray(0, 0), border = scalar(1);
    Array rows = scalar(12), cols = scalar(10), width = scalar(0.5), bins = scalar(3), level = scalar(2);
    Array histogram = minihost::doubles(1, 3, {0.5, 0.25, 7});
    minihost::CallResult result = minihost::callPlugin(
        minihost::loadPlugin("cobrint"), {images.get(), orients.get(), maps.get(), border.get(), rows.get(), cols.get(),
                                          width.get(), bins.get(), histogram.get(), level.get()});
    ASSERT_FALSE(result.failed) << result.errorMessage;
    EXPECT_EQ(std::vector<double>(minihost::doubleData(histogram.get()), minihost::doubleData(histogram.get()) + 3),
              (std::vector<double>{0.5, 0.25, 7}));
}

}  // namespace

