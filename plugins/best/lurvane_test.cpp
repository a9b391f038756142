#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "minihost.h"
#include "test_support.h"

using minihost::Array;
using minihost::callPlugin;
using testsupport::MapGrid;
using testsupport::snapshot;

namespace {

const float nan = std::numeric_limits<float>::quiet_NaN();
const float inf = std::numeric_limits<float>::infinity();
const float noResponse = -1e10f;

int floorOf(double v) { return static_cast<int>(std::floor(v)); }

struct CallSetup {
    int poolStep, templateRows, templateCols;
};

// Score maps of the given image sizes, and outputs with `spare` entries past imageCount, all
// starting at 5.
struct LurvaneCall {
    CallSetup setup;
    std::vector<int> rows, cols, scoreRows, scoreCols;
    Array imageCount, imageRows, imageCols, poolStep, templateRows, templateCols;
    MapGrid scores;
    Array bestScores, anchorRows, anchorCols;
    std::vector<const mxArray*> args() const {
        return {imageCount.get(),   imageRows.get(),    imageCols.get(),  poolStep.get(),
                templateRows.get(), templateCols.get(), scores.cells.get(), bestScores.get(),
                anchorRows.get(),   anchorCols.get()};
    }
    float best(int image) const { return minihost::singleData(bestScores.get())[image]; }
    double row(int image) const { return minihost::doubleData(anchorRows.get())[image]; }
    double col(int image) const { return minihost::doubleData(anchorCols.get())[image]; }
    float* map(int image) const { return scores.singles(image, 0); }
};

LurvaneCall makeCall(const std::vector<int>& rows, const std::vector<int>& cols, const CallSetup& q, int spare = 0) {
    LurvaneCall call;
    call.setup = q;
    call.rows = rows;
    call.cols = cols;
    int imageCount = static_cast<int>(rows.size());
    for (int image = 0; image < imageCount; ++image) {
        call.scoreRows.push_back(floorOf((double(q.templateRows) + rows[image]) / q.poolStep));
        call.scoreCols.push_back(floorOf((double(q.templateCols) + cols[image]) / q.poolStep));
    }
    call.imageCount = minihost::scalar(imageCount);
    call.imageRows = minihost::doubles(1, imageCount, testsupport::asDoubles(rows));
    call.imageCols = minihost::doubles(1, imageCount, testsupport::asDoubles(cols));
    call.poolStep = minihost::scalar(q.poolStep);
    call.templateRows = minihost::scalar(q.templateRows);
    call.templateCols = minihost::scalar(q.templateCols);
    call.scores = testsupport::makeGrid(imageCount, 1, call.scoreRows, call.scoreCols, mxSINGLE_CLASS, spare);
    int outputs = imageCount + spare;
    call.bestScores = minihost::singles(1, outputs, std::vector<float>(outputs, 5.0f));
    call.anchorRows = minihost::doubles(1, outputs, std::vector<double>(outputs, 5.0));
    call.anchorCols = minihost::doubles(1, outputs, std::vector<double>(outputs, 5.0));
    return call;
}

minihost::CallResult run(const LurvaneCall& call) { return callPlugin(minihost::loadPlugin("lurvane"), call.args()); }

struct Expected {
    float score;
    double row, col;
};

// The plain search: anchors rows outer, columns inner, from -1e10, replacing only on a strictly
// greater score; NaN anchors when nothing beat -1e10.
Expected searchReference(const LurvaneCall& call, int image) {
    const CallSetup& q = call.setup;
    int rowsPooled = floorOf(double(q.templateRows) / q.poolStep), colsPooled = floorOf(double(q.templateCols) / q.poolStep);
    int pooledRows = floorOf(double(call.rows[image]) / q.poolStep), pooledCols = floorOf(double(call.cols[image]) / q.poolStep);
    Expected best{noResponse, std::nan(""), std::nan("")};
    for (int i = 1 - rowsPooled; i <= pooledRows; ++i) {
        for (int j = 1 - colsPooled; j <= pooledCols; ++j) {
            float v = call.map(image)[(i + rowsPooled - 1) + (j + colsPooled - 1) * call.scoreRows[image]];
            if (v > best.score) best = Expected{v, double(i), double(j)};
        }
    }
    return best;
}

testing::AssertionResult holds(const LurvaneCall& call, int image, const Expected& e) {
    bool same = testsupport::sameBits(call.best(image), e.score) && testsupport::sameBits(call.row(image), e.row) &&
                testsupport::sameBits(call.col(image), e.col);
    if (same) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "image " << image << ": " << call.best(image) << " at (" << call.row(image)
                                       << ", " << call.col(image) << ") instead of " << e.score << " at (" << e.row
                                       << ", " << e.col << ")";
}

TEST(Lurvane, MatchesThePlainSearch) {
    testsupport::SeededRandom random;
    const float unusual[] = {nan, -inf, noResponse, -0.0f, inf};
    for (int trial = 0; trial < 80; ++trial) {
        CallSetup q{random.integer(1, 4), random.integer(0, 12), random.integer(0, 12)};
        std::vector<int> rows, cols;
        for (int image = random.integer(1, 4); image > 0; --image) {
            rows.push_back(random.integer(0, 20));
            cols.push_back(random.integer(0, 20));
        }
        SCOPED_TRACE(testing::Message() << "trial " << trial << ": poolStep " << q.poolStep << ", template "
                                        << q.templateRows << " x " << q.templateCols);
        LurvaneCall call = makeCall(rows, cols, q, 2);
        // Small whole numbers so that ties are common; some maps hold nothing above -1e10.
        int hopeless = random.integer(0, 3);
        testsupport::fillEach(call.scores, [&]() -> double {
            int draw = random.integer(0, 29);
            if (hopeless == 0) return draw < 12 ? nan : draw < 20 ? noResponse : -inf;
            return draw < 5 ? unusual[draw] : std::floor(random.uniform(-4.0f, 4.0f));
        });
        auto scoresBefore = snapshot<float>(call.scores);
        minihost::CallResult result = run(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_EQ(result.blocksLeft, 1);  // the cell pointer table
        for (int image = 0; image < static_cast<int>(rows.size()); ++image) {
            EXPECT_TRUE(holds(call, image, searchReference(call, image)));
        }
        for (int extra = 0; extra < 2; ++extra) {  // entries past imageCount stay as they were
            int k = static_cast<int>(rows.size()) + extra;
            EXPECT_EQ(call.best(k), 5.0f);
            EXPECT_EQ(call.row(k), 5.0);
            EXPECT_EQ(call.col(k), 5.0);
        }
        auto scoresAfter = snapshot<float>(call.scores);
        for (size_t image = 0; image < scoresAfter.size(); ++image) {
            for (size_t k = 0; k < scoresAfter[image].size(); ++k) {
                ASSERT_TRUE(testsupport::sameBits(scoresAfter[image][k], scoresBefore[image][k])) << image << ", " << k;
            }
        }
    }
}

// poolStep 1, a 3 x 3 template and a 5 x 5 image: score (1, 1) is anchor (-2, -2) and score
// (8, 8) is anchor (5, 5).
TEST(Lurvane, ReportsAnchorsOfTheScoreMapGeometry) {
    for (int corner : {0, 63}) {
        LurvaneCall call = makeCall({5}, {5}, {1, 3, 3});
        call.map(0)[corner] = 2.0f;
        ASSERT_FALSE(run(call).failed);
        double anchor = corner == 0 ? -2 : 5;
        EXPECT_TRUE(holds(call, 0, {2.0f, anchor, anchor}));
    }
}

// Equal highest scores: the smallest anchor row wins, then the smallest anchor column; NaN
// between them changes nothing.
TEST(Lurvane, TiesKeepTheSmallestRowThenColumn) {
    LurvaneCall call = makeCall({6, 6}, {6, 6}, {2, 4, 4});  // anchors -1 ... 3, 5 x 5 score maps
    auto at = [](int i, int j) { return (i + 1) + (j + 1) * 5; };
    for (int image = 0; image < 2; ++image) {
        for (int p = 0; p < 25; ++p) call.map(image)[p] = nan;
    }
    call.map(0)[at(2, -1)] = 3.0f;
    call.map(0)[at(1, 3)] = 3.0f;  // same score, earlier row: wins although its column is larger
    call.map(0)[at(1, 2)] = 3.0f;  // same row, smaller column: wins
    call.map(0)[at(0, 0)] = 2.0f;
    call.map(1)[at(3, 3)] = -0.0f;
    call.map(1)[at(3, 2)] = 0.0f;  // -0 and +0 are equal: the earlier one, +0, is kept
    ASSERT_FALSE(run(call).failed);
    EXPECT_TRUE(holds(call, 0, {3.0f, 1, 2}));
    EXPECT_TRUE(holds(call, 1, {0.0f, 3, 2}));
}

// Images of many anchor rows or columns, whose columns the plug-in searches in pieces and then
// joins: the same result as the one plain search, ties, NaN and signed zeros included.
TEST(Lurvane, MatchesThePlainSearchOverImagesOfManyRows) {
    testsupport::SeededRandom random;
    const float unusual[] = {nan, -inf, noResponse, -0.0f, 0.0f, inf};
    for (int trial = 0; trial < 6; ++trial) {
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        LurvaneCall call = makeCall({random.integer(100, 300), 37}, {random.integer(20, 60), 250}, {1, 6, 5});
        // Every other trial without infinity, so that whole numbers tie for the highest score.
        int unusualCount = trial % 2 == 0 ? 6 : 5;
        testsupport::fillEach(call.scores, [&]() -> double {
            int draw = random.integer(0, 99);
            if (draw < unusualCount) return unusual[draw];
            return std::floor(random.uniform(-4.0f, 3.0f));
        });
        ASSERT_FALSE(run(call).failed);
        for (int image = 0; image < 2; ++image) EXPECT_TRUE(holds(call, image, searchReference(call, image)));
    }
}

// The first of equal scores in the plain search's order wins across rows and columns searched
// apart: the highest score at anchor rows 3 (column 40) and 70 (column 0), and a -0 at row 10
// (column 20) before a +0 at row 40 (column 5) elsewhere.
TEST(Lurvane, TiesAcrossDistantRowsKeepTheFirst) {
    LurvaneCall call = makeCall({100, 100}, {50, 50}, {1, 1, 1});  // anchors 0 ... 100 by 0 ... 50
    auto at = [](int i, int j) { return i + j * 101; };
    for (int image = 0; image < 2; ++image) {
        for (int p = 0; p < 101 * 51; ++p) call.map(image)[p] = nan;
    }
    call.map(0)[at(70, 0)] = 3.0f;
    call.map(0)[at(3, 40)] = 3.0f;
    call.map(1)[at(10, 20)] = -0.0f;
    call.map(1)[at(40, 5)] = 0.0f;
    ASSERT_FALSE(run(call).failed);
    EXPECT_TRUE(holds(call, 0, {3.0f, 3, 40}));
    EXPECT_TRUE(holds(call, 1, {-0.0f, 10, 20}));
}

// rows 10, templateRows 10, poolStep 4: the fifth score row belongs to no anchor and is never
// searched, however high its scores.
TEST(Lurvane, NeverSearchesScoresBeyondTheAnchors) {
    LurvaneCall call = makeCall({10}, {10}, {4, 10, 10});
    ASSERT_EQ(call.scoreRows[0], 5);
    for (int p = 0; p < 25; ++p) call.map(0)[p] = (p % 5 == 4 || p >= 20) ? 1e30f : 1.0f;
    call.map(0)[7] = 2.0f;  // score (3, 2): anchor (1, 0)
    ASSERT_FALSE(run(call).failed);
    EXPECT_TRUE(holds(call, 0, {2.0f, 1, 0}));
}

// Nothing above -1e10, or no anchor at all: the score is -1e10 and the anchors NaN.
TEST(Lurvane, ReportsNaNAnchorsWhenNothingIsFound) {
    // Image 2 (1 x 3 pixels at step 4 with a 2-pixel template) has no anchor rows.
    LurvaneCall call = makeCall({5, 5, 1, 5}, {5, 5, 3, 5}, {4, 2, 2});
    const float fills[] = {nan, noResponse, 7.0f, -inf};
    for (int image = 0; image < 4; ++image) {
        for (int p = 0; p < call.scoreRows[image] * call.scoreCols[image]; ++p) call.map(image)[p] = fills[image];
    }
    call.map(1)[0] = nan;
    ASSERT_FALSE(run(call).failed);
    for (int image : {0, 1, 2, 3}) {
        SCOPED_TRACE(image);
        EXPECT_EQ(call.best(image), noResponse);
        EXPECT_TRUE(std::isnan(call.row(image)));
        EXPECT_TRUE(std::isnan(call.col(image)));
    }
}

// The best placement of gastrel's scores is the placement gastrel scored highest.
TEST(Lurvane, FindsThePlacementGastrelScoredHighest) {
    const int rows = 12, cols = 10, poolStep = 2, templateRows = 5, templateCols = 3;
    const int pooledRows = rows / poolStep, pooledCols = cols / poolStep;
    Array count = minihost::scalar(1), r = minihost::doubles(1, 1, {rows}), c = minihost::doubles(1, 1, {cols});
    Array orients = minihost::scalar(1), step = minihost::scalar(poolStep);
    Array tr = minihost::scalar(templateRows), tc = minihost::scalar(templateCols), k = minihost::scalar(2);
    Array elementOrients = minihost::doubles(1, 2, {0, 0}), rowOffsets = minihost::doubles(1, 2, {0, 1});
    Array colOffsets = minihost::doubles(1, 2, {0, 0}), weights = minihost::doubles(1, 2, {1, 1});
    Array biases = minihost::doubles(1, 2, {0, 0}), level = minihost::scalar(10);
    testsupport::MapGrid pooled = testsupport::makeGrid(1, 1, {pooledRows}, {pooledCols}, mxSINGLE_CLASS);
    pooled.singles(0, 0)[(4 - 1) + (2 - 1) * pooledRows] = 3.0f;
    pooled.singles(0, 0)[(5 - 1) + (2 - 1) * pooledRows] = 3.0f;  // both elements fire at anchor (4, 2)
    LurvaneCall call = makeCall({rows}, {cols}, {poolStep, templateRows, templateCols});
    testsupport::MapGrid normalizers = testsupport::makeGrid(1, 1, {rows}, {cols}, mxSINGLE_CLASS);
    testsupport::fillEach(normalizers, [] { return 1.0; });
    minihost::CallResult scored = callPlugin(
        minihost::loadPlugin("gastrel"),
        {count.get(), r.get(), c.get(), orients.get(), step.get(), tr.get(), tc.get(), k.get(), elementOrients.get(),
         rowOffsets.get(), colOffsets.get(), weights.get(), biases.get(), pooled.cells.get(), call.scores.cells.get(),
         normalizers.cells.get(), level.get()});
    ASSERT_FALSE(scored.failed) << scored.errorMessage;
    ASSERT_FALSE(run(call).failed);
    EXPECT_EQ(call.row(0), 4.0);
    EXPECT_EQ(call.col(0), 2.0);
    EXPECT_GT(call.best(0), 5.0f);
}

// Each malformed call is refused with its id and writes nothing.
TEST(Lurvane, RefusesMalformedCallsBeforeWritingAnything) {
    using Spoil = std::function<void(std::vector<const mxArray*>&, LurvaneCall&, std::vector<Array>&)>;
    auto replace = [](int position, auto make) -> Spoil {
        return [=](auto& args, auto& call, auto& keep) {
            keep.push_back(make(call));
            args[position - 1] = keep.back().get();
        };
    };
    auto scalar = [&](int position, double value) {
        return replace(position, [=](auto&) { return minihost::scalar(value); });
    };
    struct Case {
        const char* what;
        const char* id;
        Spoil spoil;
    };
    // Two images of 7 x 6 and 5 x 4 pixels, step 2, a 4 x 3 template: score maps 5 x 4 and 4 x 3.
    const std::vector<Case> cases = {
        {"nine arguments", "lurvane:tooFewArguments", [](auto& args, auto&, auto&) { args.pop_back(); }},
        {"pool step 0", "lurvane:outOfRange", scalar(4, 0)},
        {"negative template rows", "lurvane:outOfRange", scalar(5, -1)},
        {"negative template columns", "lurvane:outOfRange", scalar(6, -3)},
        {"negative image count", "lurvane:outOfRange", scalar(1, -1)},
        {"score map beyond 32-bit indexing", "lurvane:tooLarge",
         [](auto& args, auto&, auto& keep) {
             keep.push_back(minihost::scalar(2e9));
             args[4] = keep.back().get();
             keep.push_back(minihost::scalar(2e9));
             args[5] = keep.back().get();
         }},
        {"score map too small", "lurvane:tooFewValues",
         [](auto&, auto& call, auto&) { minihost::putCell(call.scores.cells.get(), 1, minihost::singles(11, 1)); }},
        {"too few score cells", "lurvane:tooFewCells", replace(7, [](auto&) { return minihost::cellArray(1, 1); })},
        {"double best scores", "lurvane:wrongClass", replace(8, [](auto&) { return minihost::doubles(1, 2); })},
        {"single anchor rows", "lurvane:wrongClass", replace(9, [](auto&) { return minihost::singles(1, 2); })},
        {"short anchor columns", "lurvane:tooFewValues", replace(10, [](auto&) { return minihost::doubles(1, 1); })},
        {"anchor columns share anchor rows", "lurvane:sharedData",
         replace(10, [](auto& call) { return minihost::sharedCopy(call.anchorRows.get()); })},
        {"best scores share a score map", "lurvane:sharedData",
         replace(8, [](auto& call) { return minihost::sharedCopy(call.scores.map(1, 0)); })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LurvaneCall call = makeCall({7, 5}, {6, 4}, {2, 4, 3});
        testsupport::fillEach(call.scores, [] { return 1.0; });
        std::vector<const mxArray*> args = call.args();
        std::vector<Array> keep;
        c.spoil(args, call, keep);
        minihost::CallResult result = callPlugin(minihost::loadPlugin("lurvane"), args);
        EXPECT_TRUE(result.failed);
        EXPECT_FALSE(result.escaped);
        EXPECT_EQ(result.errorId, c.id) << result.errorMessage;
        for (int image = 0; image < 2; ++image) EXPECT_TRUE(holds(call, image, {5.0f, 5.0, 5.0}));
    }
    LurvaneCall call = makeCall({7}, {6}, {2, 4, 3});
    EXPECT_EQ(callPlugin(minihost::loadPlugin("lurvane"), call.args(), 1).errorId, "lurvane:tooManyOutputs");
    LurvaneCall none = makeCall({}, {}, {1, 0, 0});
    EXPECT_FALSE(run(none).failed);
}

}  // namespace
