// lurvaneveto against a plain rule-out over the whole score maps followed by the plain search.
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

namespace {

const float nan = std::numeric_limits<float>::quiet_NaN();
const float noResponse = -1e10f;

// One search step's call: score maps of the given image sizes, each image's best on entry, the
// images' factors from the photo, the detection and what it changed.
struct VetoCall {
    int poolStep, templateRows, templateCols;
    std::vector<int> rows, cols, scoreRows, scoreCols;
    MapGrid scores;
    Array imageCount, imageRows, imageCols, step, tRows, tCols, bestScores, anchorRows, anchorCols;
    Array rowFactors, colFactors, detectionRow, detectionCol, radii, firstRows, lastRows, firstCols, lastCols;
    std::vector<const mxArray*> args() const {
        return {imageCount.get(), imageRows.get(),  imageCols.get(),    step.get(),         tRows.get(),
                tCols.get(),      scores.cells.get(), bestScores.get(), anchorRows.get(),   anchorCols.get(),
                rowFactors.get(), colFactors.get(), detectionRow.get(), detectionCol.get(), radii.get(),
                firstRows.get(),  lastRows.get(),   firstCols.get(),    lastCols.get()};
    }
    float* map(int image) const { return scores.singles(image, 0); }
    int count() const { return static_cast<int>(rows.size()); }
};

VetoCall makeCall(const std::vector<int>& rows, const std::vector<int>& cols, int poolStep, int templateRows,
                  int templateCols) {
    VetoCall call;
    call.poolStep = poolStep;
    call.templateRows = templateRows;
    call.templateCols = templateCols;
    call.rows = rows;
    call.cols = cols;
    int n = static_cast<int>(rows.size());
    for (int image = 0; image < n; ++image) {
        call.scoreRows.push_back((templateRows + rows[image]) / poolStep);
        call.scoreCols.push_back((templateCols + cols[image]) / poolStep);
    }
    call.imageCount = minihost::scalar(n);
    call.imageRows = minihost::doubles(1, n, testsupport::asDoubles(rows));
    call.imageCols = minihost::doubles(1, n, testsupport::asDoubles(cols));
    call.step = minihost::scalar(poolStep);
    call.tRows = minihost::scalar(templateRows);
    call.tCols = minihost::scalar(templateCols);
    call.scores = testsupport::makeGrid(n, 1, call.scoreRows, call.scoreCols, mxSINGLE_CLASS);
    call.bestScores = minihost::singles(1, n);
    call.anchorRows = minihost::doubles(1, n);
    call.anchorCols = minihost::doubles(1, n);
    call.rowFactors = minihost::doubles(1, n, std::vector<double>(n, 1.0));
    call.colFactors = minihost::doubles(1, n, std::vector<double>(n, 1.0));
    call.detectionRow = minihost::scalar(0);
    call.detectionCol = minihost::scalar(0);
    call.radii = minihost::doubles(1, n);
    for (Array* bound : {&call.firstRows, &call.lastRows, &call.firstCols, &call.lastCols}) {
        *bound = minihost::doubles(1, n, std::vector<double>(n, std::nan("")));
    }
    return call;
}

double* entries(const Array& array) { return minihost::doubleData(array.get()); }

// The plain search of one image: anchors rows outer, columns inner, strictly greater wins.
struct Best {
    float score;
    double row, col;
};

Best plainSearch(const VetoCall& call, int image, const float* scores) {
    int rowsPooled = call.templateRows / call.poolStep, colsPooled = call.templateCols / call.poolStep;
    int pooledRows = call.rows[image] / call.poolStep, pooledCols = call.cols[image] / call.poolStep;
    Best best{noResponse, std::nan(""), std::nan("")};
    for (int i = 1 - rowsPooled; i <= pooledRows; ++i) {
        for (int j = 1 - colsPooled; j <= pooledCols; ++j) {
            float v = scores[(i + rowsPooled - 1) + (j + colsPooled - 1) * call.scoreRows[image]];
            if (v > best.score) best = Best{v, double(i), double(j)};
        }
    }
    return best;
}

// Octave's scalar power: the C library's pow, not the product the compiler would put in its place.
double powerOfTwo(double v) {
    volatile double two = 2.0;
    return std::pow(v, two);
}

// The plain rule-out: every score position of the map, its box centre in photo pixels tested
// against the radius as the documented expressions form it.
void plainRuleOut(const VetoCall& call, int image, std::vector<float>& scores) {
    double radius = entries(call.radii)[image];
    if (!(radius > 0)) return;
    double centreRow = minihost::doubleData(call.detectionRow.get())[0];
    double centreCol = minihost::doubleData(call.detectionCol.get())[0];
    int rowsPooled = call.templateRows / call.poolStep, colsPooled = call.templateCols / call.poolStep;
    for (int rho = 1; rho <= call.scoreRows[image]; ++rho) {
        for (int sigma = 1; sigma <= call.scoreCols[image]; ++sigma) {
            double r = (double(rho - rowsPooled) * call.poolStep + ((call.templateRows + 1) / 2.0 - 0.5)) /
                           entries(call.rowFactors)[image] + 0.5;
            double c = (double(sigma - colsPooled) * call.poolStep + ((call.templateCols + 1) / 2.0 - 0.5)) /
                           entries(call.colFactors)[image] + 0.5;
            double dr = r - centreRow, dc = c - centreCol;
            if (dr * dr + dc * dc < powerOfTwo(radius)) scores[(rho - 1) + (sigma - 1) * call.scoreRows[image]] = noResponse;
        }
    }
}

// Scores from a small set, so that ties are common, with NaN and the ruled-out score among them.
float coarseScore(testsupport::SeededRandom& random) {
    int draw = random.integer(0, 19);
    if (draw == 0) return nan;
    if (draw < 3) return noResponse;
    return std::floor(random.uniform(-3.0f, 4.0f));
}

// Random scenes: bests found by the plain search, then a random block of anchors given new
// scores (ruled-out placements kept, as a rescoring keeps them), a detection somewhere on or
// beside the photo. Afterwards every map must be the plain rule-out of the changed map, and
// every best the plain search of that map.
TEST(LurvaneVeto, MatchesThePlainRuleOutAndSearch) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<int> rows, cols;
        for (int image = random.integer(1, 4); image > 0; --image) {
            rows.push_back(random.integer(0, 30));
            cols.push_back(random.integer(0, 30));
        }
        VetoCall call = makeCall(rows, cols, random.integer(1, 3), random.integer(0, 9), random.integer(0, 9));
        SCOPED_TRACE(testing::Message() << "trial " << trial << ": poolStep " << call.poolStep << ", template "
                                        << call.templateRows << " x " << call.templateCols);
        testsupport::fillEach(call.scores, [&] { return coarseScore(random); });
        std::vector<std::vector<float>> expected(call.count());
        for (int image = 0; image < call.count(); ++image) {
            Best before = plainSearch(call, image, call.map(image));
            minihost::singleData(call.bestScores.get())[image] = before.score;
            entries(call.anchorRows)[image] = before.row;
            entries(call.anchorCols)[image] = before.col;
            int rowsPooled = call.templateRows / call.poolStep, colsPooled = call.templateCols / call.poolStep;
            // A block around the best half of the time, else anywhere; sometimes none.
            int centreRow = std::isnan(before.row) || random.integer(0, 1) ? random.integer(-rowsPooled, rows[image] / call.poolStep)
                                                                           : int(before.row);
            int centreCol = std::isnan(before.col) ? random.integer(-colsPooled, cols[image] / call.poolStep) : int(before.col);
            double first = centreRow - random.integer(0, 4), last = centreRow + random.integer(-1, 4);
            entries(call.firstRows)[image] = random.integer(0, 5) == 0 ? std::nan("") : first - 0.25;
            entries(call.lastRows)[image] = last + 0.25;
            entries(call.firstCols)[image] = centreCol - random.integer(0, 4);
            entries(call.lastCols)[image] = random.integer(0, 5) == 0 ? INFINITY : centreCol + random.integer(0, 4);
            int rowLo = std::max<double>(1 - rowsPooled, std::floor(entries(call.firstRows)[image] + 0.5));
            int rowHi = std::min<double>(rows[image] / call.poolStep, std::floor(entries(call.lastRows)[image] + 0.5));
            int colLo = std::max<double>(1 - colsPooled, std::floor(entries(call.firstCols)[image] + 0.5));
            int colHi = std::min<double>(cols[image] / call.poolStep, std::floor(entries(call.lastCols)[image] + 0.5));
            bool hasBlock = !std::isnan(entries(call.firstRows)[image]);
            for (int i = rowLo; hasBlock && i <= rowHi; ++i) {
                for (int j = colLo; j <= colHi; ++j) {
                    float& v = call.map(image)[(i + rowsPooled - 1) + (j + colsPooled - 1) * call.scoreRows[image]];
                    if (v != noResponse) v = coarseScore(random);
                }
            }
            entries(call.rowFactors)[image] = random.uniform(0.4f, 2.5f);
            entries(call.colFactors)[image] = random.integer(0, 1) ? entries(call.rowFactors)[image] : random.uniform(0.4f, 2.5f);
            entries(call.radii)[image] = random.integer(0, 4) == 0 ? (random.integer(0, 1) ? -1.0 : std::nan(""))
                                                                   : random.uniform(0.5f, 12.0f);
            expected[image].assign(call.map(image), call.map(image) + call.scoreRows[image] * call.scoreCols[image]);
        }
        minihost::doubleData(call.detectionRow.get())[0] = random.uniform(-5.0f, 40.0f);
        minihost::doubleData(call.detectionCol.get())[0] = random.uniform(-5.0f, 40.0f);
        minihost::CallResult result = callPlugin(minihost::loadPlugin("lurvaneveto"), call.args());
        ASSERT_FALSE(result.failed) << result.errorMessage;
        for (int image = 0; image < call.count(); ++image) {
            SCOPED_TRACE(testing::Message() << "image " << image);
            plainRuleOut(call, image, expected[image]);
            for (size_t k = 0; k < expected[image].size(); ++k) {
                ASSERT_TRUE(testsupport::sameBits(call.map(image)[k], expected[image][k])) << "score " << k;
            }
            Best after = plainSearch(call, image, expected[image].data());
            EXPECT_TRUE(testsupport::sameBits(minihost::singleData(call.bestScores.get())[image], after.score));
            EXPECT_TRUE(testsupport::sameBits(entries(call.anchorRows)[image], after.row));
            EXPECT_TRUE(testsupport::sameBits(entries(call.anchorCols)[image], after.col));
        }
    }
}

// A block best that ties the standing best wins only from an earlier anchor: a later one, in a
// block that does not hold the best, leaves it; an earlier one takes its place.
TEST(LurvaneVeto, BlockTiesKeepTheEarlierAnchor) {
    for (int earlier : {0, 1}) {
        VetoCall call = makeCall({10}, {10}, 1, 0, 0);  // anchors 1 ... 10, score position = anchor
        for (int k = 0; k < 100; ++k) call.map(0)[k] = 1.0f;
        call.map(0)[4 + 4 * 10] = 5.0f;  // the best, anchor (5, 5)
        int tieRow = earlier ? 2 : 8;
        call.map(0)[(tieRow - 1) + 1 * 10] = 5.0f;  // anchor (tieRow, 2), in the block
        minihost::singleData(call.bestScores.get())[0] = 5.0f;
        entries(call.anchorRows)[0] = 5;
        entries(call.anchorCols)[0] = 5;
        entries(call.firstRows)[0] = tieRow;
        entries(call.lastRows)[0] = tieRow;
        entries(call.firstCols)[0] = 1;
        entries(call.lastCols)[0] = 3;
        ASSERT_FALSE(callPlugin(minihost::loadPlugin("lurvaneveto"), call.args()).failed);
        EXPECT_EQ(entries(call.anchorRows)[0], earlier ? 2.0 : 5.0);
        EXPECT_EQ(entries(call.anchorCols)[0], earlier ? 2.0 : 5.0);
    }
}

// Each malformed call is refused with its id and changes neither maps nor bests.
TEST(LurvaneVeto, RefusesMalformedCallsBeforeWritingAnything) {
    struct Case {
        const char* what;
        const char* id;
        std::function<void(VetoCall&, std::vector<const mxArray*>&, std::vector<Array>&)> spoil;
    };
    auto entry = [](Array VetoCall::*array, double value) {
        return [=](VetoCall& call, auto&, auto&) { entries(call.*array)[0] = value; };
    };
    const std::vector<Case> cases = {
        {"eighteen arguments", "lurvaneveto:tooFewArguments", [](auto&, auto& args, auto&) { args.pop_back(); }},
        {"a best anchor row past the map", "lurvaneveto:outOfRange", entry(&VetoCall::anchorRows, 7)},
        {"a best anchor column before the map", "lurvaneveto:outOfRange", entry(&VetoCall::anchorCols, -3)},
        {"a fractional best anchor", "lurvaneveto:outOfRange", entry(&VetoCall::anchorRows, 1.5)},
        {"one anchor NaN, the other not", "lurvaneveto:outOfRange", entry(&VetoCall::anchorCols, std::nan(""))},
        {"a zero row factor", "lurvaneveto:outOfRange", entry(&VetoCall::rowFactors, 0)},
        {"an infinite column factor", "lurvaneveto:outOfRange", entry(&VetoCall::colFactors, INFINITY)},
        {"a NaN detection row", "lurvaneveto:outOfRange",
         [](auto& call, auto&, auto&) { minihost::doubleData(call.detectionRow.get())[0] = std::nan(""); }},
        {"single radii", "lurvaneveto:wrongClass",
         [](auto&, auto& args, auto& keep) {
             keep.push_back(minihost::singles(1, 1));
             args[14] = keep.back().get();
         }},
        {"anchor rows share the radii", "lurvaneveto:sharedData",
         [](auto& call, auto& args, auto& keep) {
             keep.push_back(minihost::sharedCopy(call.radii.get()));
             args[8] = keep.back().get();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VetoCall call = makeCall({5}, {5}, 1, 2, 2);  // anchors -1 ... 5, a 7 x 7 score map
        for (int k = 0; k < 49; ++k) call.map(0)[k] = 2.0f;
        entries(call.anchorRows)[0] = 0;
        entries(call.anchorCols)[0] = 0;
        entries(call.radii)[0] = 100;  // would rule out every placement
        std::vector<const mxArray*> args = call.args();
        std::vector<Array> keep;
        c.spoil(call, args, keep);
        double rowBefore = entries(call.anchorRows)[0];
        minihost::CallResult result = callPlugin(minihost::loadPlugin("lurvaneveto"), args);
        EXPECT_TRUE(result.failed);
        EXPECT_EQ(result.errorId, c.id) << result.errorMessage;
        for (int k = 0; k < 49; ++k) ASSERT_EQ(call.map(0)[k], 2.0f);
        EXPECT_TRUE(testsupport::sameBits(entries(call.anchorRows)[0], rowBefore));
        EXPECT_EQ(minihost::singleData(call.bestScores.get())[0], 0.0f);
    }
}

}  // namespace
