#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "minihost.h"
#include "test_support.h"

using minihost::Array;
using minihost::callPlugin;
using testsupport::MapGrid;
using testsupport::makeGrid;
using testsupport::saturatedAsWritten;

namespace {

struct FennockCall {
    Array imageCount, imageRows, imageCols, orientCount, level;
    MapGrid grid;
    std::vector<const mxArray*> args() const {
        return {imageCount.get(), imageRows.get(), imageCols.get(), orientCount.get(), level.get(), grid.cells.get()};
    }
};

FennockCall makeCall(const std::vector<double>& rows, const std::vector<double>& cols, int orientCount,
                     double level, int spare) {
    std::vector<int> roundedRows, roundedCols;
    for (double r : rows) roundedRows.push_back(static_cast<int>(std::floor(r + 0.5)));
    for (double c : cols) roundedCols.push_back(static_cast<int>(std::floor(c + 0.5)));
    int imageCount = static_cast<int>(rows.size());
    return FennockCall{minihost::scalar(imageCount),
                       minihost::doubles(1, imageCount, rows),
                       minihost::doubles(1, imageCount, cols),
                       minihost::scalar(orientCount),
                       minihost::scalar(level),
                       makeGrid(imageCount, orientCount, roundedRows, roundedCols, mxSINGLE_CLASS, spare)};
}

TEST(Fennock, SaturatesEveryMapInPlaceBitForBit) {
    testsupport::SeededRandom random;
    const double level = 2.75;
    // Odd sizes exercise loop tails; sizes are rounded half up (2.5 -> 3, 4.49 -> 4).
    FennockCall call = makeCall({7, 2.5, 13}, {5, 4.49, 1}, 3, level, 6);
    testsupport::fillUniform(call.grid, random, -12.0f, 12.0f);
    call.grid.singles(0, 0)[0] = 0.0f;
    call.grid.singles(0, 0)[1] = 1e6f;
    call.grid.singles(0, 0)[2] = -1e6f;
    call.grid.singles(0, 0)[3] = std::numeric_limits<float>::quiet_NaN();
    call.grid.singles(0, 0)[4] = static_cast<float>(level);
    auto before = testsupport::snapshot<float>(call.grid);

    minihost::CallResult result = callPlugin(minihost::loadPlugin("fennock"), call.args());
    ASSERT_FALSE(result.failed) << result.errorMessage;
    EXPECT_FALSE(result.escaped);
    EXPECT_EQ(result.blocksLeft, 1);  // the cell pointer table, which the host reclaims

    const int valueCounts[] = {35, 12, 13};
    auto after = testsupport::snapshot<float>(call.grid);
    for (int c = 0; c < 9; ++c) {
        int image = c % 3;
        for (size_t k = 0; k < after[c].size(); ++k) {
            float expected = static_cast<int>(k) < valueCounts[image] ? saturatedAsWritten(before[c][k], level) : before[c][k];
            ASSERT_TRUE(testsupport::sameBits(after[c][k], expected)) << "cell " << c << " value " << k;
        }
    }
    EXPECT_EQ(after[0][0], 0.0f);
    EXPECT_EQ(after[0][1], static_cast<float>(level));
    EXPECT_EQ(after[0][2], static_cast<float>(-level));
    EXPECT_TRUE(std::isnan(after[0][3]));
    EXPECT_NEAR(after[0][4], level * std::tanh(1.0), 1e-6);
}

TEST(Fennock, EmptyImagesAndEmptyGridsChangeNothing) {
    FennockCall call = makeCall({0, 3}, {4, 0.49}, 2, 1.0, 4);
    testsupport::SeededRandom random;
    testsupport::fillUniform(call.grid, random, 1.0f, 2.0f);
    auto before = testsupport::snapshot<float>(call.grid);
    EXPECT_FALSE(callPlugin(minihost::loadPlugin("fennock"), call.args()).failed);
    EXPECT_EQ(testsupport::snapshot<float>(call.grid), before);

    Array zero = minihost::scalar(0);
    Array none = minihost::doubles(0, 0);
    Array noCells = minihost::cellArray(0, 0);
    Array level = minihost::scalar(1);
    minihost::CallResult result = callPlugin(minihost::loadPlugin("fennock"),
                                             {zero.get(), none.get(), none.get(), zero.get(), level.get(), noCells.get()});
    EXPECT_FALSE(result.failed) << result.errorMessage;
}

TEST(Fennock, IgnoresArgumentsBeyondTheSixth) {
    FennockCall call = makeCall({2}, {2}, 1, 1.0, 0);
    call.grid.singles(0, 0)[0] = 1.0f;
    Array extra = minihost::cellArray(0, 0);
    std::vector<const mxArray*> args = call.args();
    args.push_back(extra.get());
    EXPECT_FALSE(callPlugin(minihost::loadPlugin("fennock"), args).failed);
    EXPECT_EQ(call.grid.singles(0, 0)[0], saturatedAsWritten(1.0f, 1.0));
}

// Each malformed call is refused with its id, writes nothing, and leaves the host running.
TEST(Fennock, RefusesMalformedCallsBeforeWritingAnything) {
    struct Case {
        const char* what;
        const char* id;
        std::function<void(std::vector<const mxArray*>&, FennockCall&, std::vector<Array>&)> spoil;
    };
    const std::vector<Case> cases = {
        {"five arguments", "fennock:tooFewArguments", [](auto& args, auto&, auto&) { args.pop_back(); }},
        {"level 0", "fennock:outOfRange", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::scalar(0)); args[4] = keep.back().get(); }},
        {"level NaN", "fennock:outOfRange", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::scalar(std::nan(""))); args[4] = keep.back().get(); }},
        {"negative image count", "fennock:outOfRange", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::scalar(-1)); args[0] = keep.back().get(); }},
        {"negative orientation count", "fennock:outOfRange", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::scalar(-2)); args[3] = keep.back().get(); }},
        {"two-value count", "fennock:notScalar", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::doubles(1, 2, {2, 2})); args[3] = keep.back().get(); }},
        {"single-precision sizes", "fennock:wrongClass", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::singles(1, 2, {3, 3})); args[1] = keep.back().get(); }},
        {"size array too short", "fennock:tooFewValues", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::doubles(1, 1, {3})); args[2] = keep.back().get(); }},
        {"negative size", "fennock:outOfRange", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::doubles(1, 2, {3, -3})); args[1] = keep.back().get(); }},
        {"maps not a cell", "fennock:notCell", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::singles(3, 3)); args[5] = keep.back().get(); }},
        {"too few cells", "fennock:tooFewCells", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::cellArray(1, 3)); args[5] = keep.back().get(); }},
        {"double map", "fennock:badCell", [](auto&, auto& call, auto&) { minihost::putCell(call.grid.cells.get(), 3, minihost::doubles(9, 1)); }},
        {"map too small", "fennock:tooFewValues", [](auto&, auto& call, auto&) { minihost::putCell(call.grid.cells.get(), 2, minihost::singles(8, 1)); }},
        {"shared maps", "fennock:sharedData", [](auto&, auto& call, auto&) { minihost::putCell(call.grid.cells.get(), 3, minihost::sharedCopy(call.grid.map(0, 0))); }},
    };
    testsupport::SeededRandom random;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FennockCall call = makeCall({3, 3}, {3, 3}, 2, 1.5, 0);
        testsupport::fillUniform(call.grid, random, -3.0f, 3.0f);
        std::vector<const mxArray*> args = call.args();
        std::vector<Array> keep;
        c.spoil(args, call, keep);
        auto before = testsupport::snapshot<float>(call.grid);
        minihost::CallResult result = callPlugin(minihost::loadPlugin("fennock"), args);
        EXPECT_TRUE(result.failed);
        EXPECT_FALSE(result.escaped);
        EXPECT_EQ(result.errorId, c.id) << result.errorMessage;
        EXPECT_EQ(testsupport::snapshot<float>(call.grid), before);
    }
    FennockCall call = makeCall({3}, {3}, 1, 1.5, 0);
    minihost::CallResult withOutput = callPlugin(minihost::loadPlugin("fennock"), call.args(), 1);
    EXPECT_EQ(withOutput.errorId, "fennock:tooManyOutputs");
    EXPECT_EQ(call.grid.singles(0, 0)[0], 0.0f);
}

TEST(Fennock, NamesTheArgumentItRefuses) {
    FennockCall call = makeCall({3, 3}, {3, 3}, 2, 1.5, 0);
    minihost::putCell(call.grid.cells.get(), 3, minihost::singles(2, 4));
    minihost::CallResult result = callPlugin(minihost::loadPlugin("fennock"), call.args());
    EXPECT_EQ(result.errorMessage,
              "argument 6 (responseMaps), cell 4 (image 2, orientation 2): expected a real single array of at least 9 "
              "values; got a 2x4 single array");
}

}  // namespace
