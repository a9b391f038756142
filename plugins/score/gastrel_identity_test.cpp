// gastrel against its plain placement-by-placement loop (tests/support/plain_detection_loops.h),
// bit for bit, through the test host: random calls of odd sizes and several images, pooled
// responses with NaN, +-infinity, -0, subnormals and magnitudes from tiny to beyond every
// saturation range, normalizers made by brelind with its switch on and off (and with exact
// zeros put in), levels that single precision cannot hold, and start scores that are not zero.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "minihost.h"
#include "plain_detection_loops.h"
#include "test_support.h"

using minihost::Array;
using testsupport::MapGrid;
using testsupport::snapshot;

namespace {

const float nan = std::numeric_limits<float>::quiet_NaN();
const float inf = std::numeric_limits<float>::infinity();

int floorOf(double v) { return static_cast<int>(std::floor(v)); }
int roundedHalfUp(double v) { return floorOf(v + 0.5); }

// One gastrel call: its sizes and scalars, element arrays, and the three grids.
struct ScoreCase {
    std::vector<double> rowsGiven, colsGiven;
    int orientCount = 1, poolStep = 1, templateRows = 0, templateCols = 0;
    double level = 1.0;
    std::vector<double> orients, rowOffsets, colOffsets, weights, biases;
    std::vector<int> rows, cols;
    MapGrid pooled, scores, normalizers;

    int imageCount() const { return static_cast<int>(rowsGiven.size()); }
    int elementCount() const { return static_cast<int>(orients.size()); }

    // Sizes the grids from the sizes and scalars; every cell gets two spare values.
    void makeGrids() {
        std::vector<int> pooledRows, pooledCols, scoreRows, scoreCols;
        for (int image = 0; image < imageCount(); ++image) {
            rows.push_back(roundedHalfUp(rowsGiven[image]));
            cols.push_back(roundedHalfUp(colsGiven[image]));
            pooledRows.push_back(floorOf(double(rows.back()) / poolStep));
            pooledCols.push_back(floorOf(double(cols.back()) / poolStep));
            scoreRows.push_back(floorOf((double(templateRows) + rows.back()) / poolStep));
            scoreCols.push_back(floorOf((double(templateCols) + cols.back()) / poolStep));
        }
        pooled = testsupport::makeGrid(imageCount(), orientCount, pooledRows, pooledCols, mxSINGLE_CLASS, 2);
        scores = testsupport::makeGrid(imageCount(), 1, scoreRows, scoreCols, mxSINGLE_CLASS, 2);
        normalizers = testsupport::makeGrid(imageCount(), 1, rows, cols, mxSINGLE_CLASS, 2);
    }
};

// Runs gastrel through the test host and the plain loop on a copy of the start scores; true
// when every score value, spare values included, has the same bits, and the pooled and
// normalizer maps are unchanged.
testing::AssertionResult gastrelMatchesPlain(const ScoreCase& c) {
    auto expected = snapshot<float>(c.scores);
    auto pooledBefore = snapshot<float>(c.pooled);
    auto normalizersBefore = snapshot<float>(c.normalizers);
    std::vector<float*> expectedTable;
    for (auto& map : expected) expectedTable.push_back(map.data());
    std::vector<const float*> pooledTable = testsupport::cellTable<const float>(c.pooled);
    std::vector<const float*> normalizerTable = testsupport::cellTable<const float>(c.normalizers);
    int k = c.elementCount();
    plaindetect::ScoreCall call{c.imageCount(), c.rowsGiven.data(), c.colsGiven.data(), c.orientCount, c.poolStep,
                                c.templateRows, c.templateCols, k, c.orients.data(), c.rowOffsets.data(),
                                c.colOffsets.data(), c.weights.data(), c.biases.data(), pooledTable.data(),
                                expectedTable.data(), normalizerTable.data(), c.level};
    plaindetect::gastrel(call);

    int n = c.imageCount();
    std::vector<Array> a;
    a.push_back(minihost::scalar(n));
    a.push_back(minihost::doubles(1, n, c.rowsGiven));
    a.push_back(minihost::doubles(1, n, c.colsGiven));
    for (double v : {double(c.orientCount), double(c.poolStep), double(c.templateRows), double(c.templateCols),
                     double(k)}) {
        a.push_back(minihost::scalar(v));
    }
    for (const std::vector<double>* values : {&c.orients, &c.rowOffsets, &c.colOffsets, &c.weights, &c.biases}) {
        a.push_back(minihost::doubles(1, k, *values));
    }
    a.push_back(minihost::scalar(c.level));
    std::vector<const mxArray*> args;
    for (const Array& arg : a) args.push_back(arg.get());
    args.insert(args.begin() + 13, {c.pooled.cells.get(), c.scores.cells.get(), c.normalizers.cells.get()});
    minihost::CallResult result = minihost::callPlugin(minihost::loadPlugin("gastrel"), args);
    if (result.failed) return testing::AssertionFailure() << result.errorMessage;
    testing::AssertionResult same = testsupport::sameBitsEverywhere(snapshot<float>(c.scores), expected);
    if (!same) return same << " (level " << c.level << ")";
    if (!testsupport::sameBitsEverywhere(snapshot<float>(c.pooled), pooledBefore)) {
        return testing::AssertionFailure() << "pooled maps changed";
    }
    if (!testsupport::sameBitsEverywhere(snapshot<float>(c.normalizers), normalizersBefore)) {
        return testing::AssertionFailure() << "normalizer maps changed";
    }
    return testing::AssertionSuccess();
}

// Normalizers as brelind makes them from full-resolution responses of the same images:
// window means floored at relativeFloor times the largest (switch 0), or all ones (switch -1).
void normalizeWithBrelind(ScoreCase& c, testsupport::SeededRandom& random, bool switchOn) {
    int n = c.imageCount();
    std::vector<int> rows = c.rows, cols = c.cols;
    MapGrid responses = testsupport::makeGrid(n, c.orientCount, rows, cols, mxSINGLE_CLASS);
    std::gamma_distribution<double> magnitude(2.0, 1.0);
    testsupport::fillEach(responses, [&] { return magnitude(random.engine()); });
    Array count = minihost::scalar(n), rowArg = minihost::doubles(1, n, c.rowsGiven),
          colArg = minihost::doubles(1, n, c.colsGiven), orients = minihost::scalar(c.orientCount),
          margin = minihost::scalar(random.integer(1, 3)), halfX = minihost::scalar(random.integer(0, 3)),
          halfY = minihost::scalar(random.integer(0, 3)), meanSwitch = minihost::scalar(switchOn ? 0 : -1),
          relativeFloor = minihost::scalar(random.uniform(0.0f, 0.5f));
    minihost::CallResult result = minihost::callPlugin(
        minihost::loadPlugin("brelind"), {count.get(), rowArg.get(), colArg.get(), orients.get(), margin.get(),
                                          responses.cells.get(), c.normalizers.cells.get(), halfX.get(), halfY.get(),
                                          meanSwitch.get(), relativeFloor.get()});
    ASSERT_FALSE(result.failed) << result.errorMessage;
}

// A pooled response: now and then NaN, +-infinity, +-0, a subnormal or a value near the float
// limit; otherwise a magnitude spread evenly over 2^-30 ... 2^12 (whose saturation ranges from
// exactly the value to exactly the level), of either sign.
float pooledValue(testsupport::SeededRandom& random) {
    const float unusual[] = {nan, inf, -inf, 0.0f, -0.0f, std::numeric_limits<float>::denorm_min(), -1e-40f,
                             3e38f, -3e38f};
    int draw = random.integer(0, 99);
    if (draw < 9) return unusual[draw];
    float magnitude = std::ldexp(1.0f, random.integer(-30, 11)) * random.uniform(1.0f, 2.0f);
    return draw % 3 == 0 ? -magnitude : magnitude;
}

// Offsets mostly within reach of the pooled map, some far outside it, given unrounded.
double offsetValue(testsupport::SeededRandom& random, int reach) {
    int draw = random.integer(0, 29);
    if (draw == 0) return random.integer(0, 1) != 0 ? 2147483647.0 : -2147483648.0;
    return random.integer(-reach, reach) + 0.5 * random.integer(-1, 0);
}

void addElements(ScoreCase& c, testsupport::SeededRandom& random, int count, int reach) {
    for (int k = 0; k < count; ++k) {
        c.orients.push_back(random.integer(0, c.orientCount - 1) + (random.integer(0, 1) != 0 ? 0.49 : -0.5) * 0.9);
        c.rowOffsets.push_back(offsetValue(random, reach));
        c.colOffsets.push_back(offsetValue(random, reach));
        // Weights and biases that single precision cannot hold.
        c.weights.push_back(random.uniform(-3.0f, 3.0f) + 1e-9 * random.integer(1, 99));
        c.biases.push_back(random.uniform(-0.7f, 0.7f) + 1e-10 * random.integer(1, 99));
    }
}

// Start scores that are not zero, among them -0 and NaN.
void fillStartScores(const MapGrid& scores, testsupport::SeededRandom& random) {
    testsupport::fillEach(scores, [&]() -> double {
        int draw = random.integer(0, 49);
        return draw == 0 ? -0.0 : draw == 1 ? nan : random.uniform(-20.0f, 20.0f);
    });
}

// Puts exact zeros at about one normalizer position in `oneIn` (a zero reads as 1).
void putZeros(const MapGrid& normalizers, testsupport::SeededRandom& random, int oneIn) {
    for (int image = 0; image < normalizers.imageCount; ++image) {
        mxArray* map = normalizers.map(image, 0);
        float* values = minihost::singleData(map);
        for (size_t p = 0; p < mxGetNumberOfElements(map); ++p) {
            if (random.integer(1, oneIn) == 1) values[p] = 0.0f;
        }
    }
}

const double levels[] = {6.0, 0.1, 1.0 / 3.0, -0.7, 2.5, 1e-3, 1e4};

TEST(GastrelIdentity, RandomCallsMatchThePlainLoop) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 120; ++trial) {
        ScoreCase c;
        for (int image = random.integer(1, 4); image > 0; --image) {
            c.rowsGiven.push_back(random.integer(0, 61) - 0.5 * random.integer(0, 1));
            c.colsGiven.push_back(random.integer(0, 61) - 0.5 * random.integer(0, 1));
        }
        c.orientCount = random.integer(1, 5);
        c.poolStep = random.integer(1, 3);
        c.templateRows = random.integer(0, 31);
        c.templateCols = random.integer(0, 31);
        c.level = levels[trial % 7];
        bool switchOn = trial % 2 == 0;
        SCOPED_TRACE(testing::Message() << "trial " << trial << ": " << c.imageCount() << " images, orientCount "
                                        << c.orientCount << ", poolStep " << c.poolStep << ", template "
                                        << c.templateRows << " x " << c.templateCols << ", meanSwitch "
                                        << (switchOn ? "on" : "off"));
        addElements(c, random, random.integer(0, 24), c.templateRows / c.poolStep + 3);
        c.makeGrids();
        testsupport::fillEach(c.pooled, [&] { return pooledValue(random); });
        fillStartScores(c.scores, random);
        normalizeWithBrelind(c, random, switchOn);
        if (trial % 3 == 0) putZeros(c.normalizers, random, 7);
        ASSERT_TRUE(gastrelMatchesPlain(c));
    }
}

// Larger maps, so that nearly every placement takes the vector path: three images at step 1
// and 2, 40 elements, responses of the size the detection pipeline gives; the same maps scored
// a second time accumulate into the first scores.
TEST(GastrelIdentity, LargeMapsAndASecondCallMatchThePlainLoop) {
    testsupport::SeededRandom random;
    for (int poolStep : {1, 2}) {
        for (bool switchOn : {true, false}) {
            SCOPED_TRACE(testing::Message() << "poolStep " << poolStep << ", meanSwitch " << (switchOn ? "on" : "off"));
            ScoreCase c;
            c.rowsGiven = {131, 97.5, 120};
            c.colsGiven = {89, 140, 119.5};
            c.orientCount = 6;
            c.poolStep = poolStep;
            c.templateRows = 41;
            c.templateCols = 36;
            c.level = 3.0;
            addElements(c, random, 40, 41 / poolStep);
            c.makeGrids();
            std::gamma_distribution<double> magnitude(2.0, 2.0);
            testsupport::fillEach(c.pooled, [&]() -> double {
                return random.integer(0, 999) == 0 ? pooledValue(random) : magnitude(random.engine());
            });
            fillStartScores(c.scores, random);
            normalizeWithBrelind(c, random, switchOn);
            ASSERT_TRUE(gastrelMatchesPlain(c));
            ASSERT_TRUE(gastrelMatchesPlain(c));
        }
    }
}

// Responses around the rounding boundaries of the saturated values: every single-precision
// pattern in windows around small, middle and saturating responses, one per pooled position,
// scored by one element of weight 1 and bias 0 over normalizers of 1 and of 3, so that each
// score is one saturated value added to a start score of -0.
TEST(GastrelIdentity, DenseWindowsOfNeighbouringResponsesMatchThePlainLoop) {
    const float centres[] = {1e-6f, 0.05f, 0.5f, 1.0f, 3.0f, 9.0f, 20.0f};
    const int halfSpan = 6000;
    std::vector<float> values;
    for (float centre : centres) {
        for (float sign : {1.0f, -1.0f}) {
            float c = sign * centre;
            uint32_t pattern;
            std::memcpy(&pattern, &c, sizeof(pattern));
            for (int k = -halfSpan; k < halfSpan; ++k) {
                uint32_t near = pattern + static_cast<uint32_t>(k);
                float v;
                std::memcpy(&v, &near, sizeof(v));
                values.push_back(v);
            }
        }
    }
    const int rows = 504;
    int cols = static_cast<int>(values.size()) / rows;
    for (double level : {1.0 / 3.0, 6.0, -2.5}) {
        for (float normalizer : {1.0f, 3.0f}) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", normalizer " << normalizer);
            ScoreCase c;
            c.rowsGiven = {double(rows)};
            c.colsGiven = {double(cols)};
            c.level = level;
            c.orients = {0};
            c.rowOffsets = {0};
            c.colOffsets = {0};
            c.weights = {1.0};
            c.biases = {0.0};
            c.makeGrids();
            std::copy(values.begin(), values.begin() + rows * cols, c.pooled.singles(0, 0));
            testsupport::fillEach(c.scores, [] { return -0.0; });
            testsupport::fillEach(c.normalizers, [&] { return normalizer; });
            ASSERT_TRUE(gastrelMatchesPlain(c));
        }
    }
}

}  // namespace
