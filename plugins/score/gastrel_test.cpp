#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "minihost.h"
#include "plain_detection_loops.h"
#include "test_support.h"

using minihost::Array;
using minihost::callPlugin;
using testsupport::MapGrid;
using testsupport::snapshot;

namespace {

const float nan = std::numeric_limits<float>::quiet_NaN();
const float inf = std::numeric_limits<float>::infinity();

struct CallSetup {
    int orientCount, poolStep, templateRows, templateCols;
    double saturationLevel;
};

// Element arrays as the caller passes them: orientations and offsets are rounded by the plug-in.
struct Elements {
    std::vector<double> orients, rowOffsets, colOffsets, weights, biases;
    void add(double orient, double rowOffset, double colOffset, double weight, double bias) {
        orients.push_back(orient);
        rowOffsets.push_back(rowOffset);
        colOffsets.push_back(colOffset);
        weights.push_back(weight);
        biases.push_back(bias);
    }
};

int floorOf(double v) { return static_cast<int>(std::floor(v)); }
int roundedHalfUp(double v) { return floorOf(v + 0.5); }

struct GastrelCall {
    CallSetup setup;
    Elements elements;
    std::vector<int> rows, cols, pooledRows, pooledCols, scoreRows, scoreCols;
    std::vector<Array> scalars;  // arguments 1 ... 13 and 17, by position; cells come from the grids
    MapGrid pooled, scores, normalizers;
    std::vector<const mxArray*> args() const {
        std::vector<const mxArray*> list;
        for (const Array& a : scalars) list.push_back(a.get());
        list.insert(list.begin() + 13, {pooled.cells.get(), scores.cells.get(), normalizers.cells.get()});
        return list;
    }
};

// Sizes are passed as given (rounded half up by the plug-in); every cell gets `spare` values
// beyond what the call may touch.
GastrelCall makeCall(const std::vector<double>& rowsGiven, const std::vector<double>& colsGiven, const CallSetup& setup,
                     const Elements& elements, int spare = 0) {
    GastrelCall call;
    call.setup = setup;
    call.elements = elements;
    int imageCount = static_cast<int>(rowsGiven.size());
    int p = setup.poolStep;
    for (int image = 0; image < imageCount; ++image) {
        int rows = roundedHalfUp(rowsGiven[image]), cols = roundedHalfUp(colsGiven[image]);
        call.rows.push_back(rows);
        call.cols.push_back(cols);
        call.pooledRows.push_back(floorOf(double(rows) / p));
        call.pooledCols.push_back(floorOf(double(cols) / p));
        call.scoreRows.push_back(floorOf((double(setup.templateRows) + rows) / p));
        call.scoreCols.push_back(floorOf((double(setup.templateCols) + cols) / p));
    }
    int k = static_cast<int>(elements.orients.size());
    call.scalars.push_back(minihost::scalar(imageCount));
    call.scalars.push_back(minihost::doubles(1, imageCount, rowsGiven));
    call.scalars.push_back(minihost::doubles(1, imageCount, colsGiven));
    for (double v : {double(setup.orientCount), double(setup.poolStep), double(setup.templateRows),
                     double(setup.templateCols), double(k)}) {
        call.scalars.push_back(minihost::scalar(v));
    }
    for (const std::vector<double>* values : {&elements.orients, &elements.rowOffsets, &elements.colOffsets,
                                              &elements.weights, &elements.biases}) {
        call.scalars.push_back(minihost::doubles(1, k, *values));
    }
    call.scalars.push_back(minihost::scalar(setup.saturationLevel));
    call.pooled = testsupport::makeGrid(imageCount, setup.orientCount, call.pooledRows, call.pooledCols,
                                        mxSINGLE_CLASS, spare);
    call.scores = testsupport::makeGrid(imageCount, 1, call.scoreRows, call.scoreCols, mxSINGLE_CLASS, spare);
    call.normalizers = testsupport::makeGrid(imageCount, 1, call.rows, call.cols, mxSINGLE_CLASS, spare);
    testsupport::fillEach(call.normalizers, [] { return 1.0; });
    return call;
}

// The plain loop (tests/support/plain_detection_loops.h) on a copy of the start scores:
// every score cell as it should be after the call.
std::vector<std::vector<float>> scoreReference(const GastrelCall& call) {
    auto scores = snapshot<float>(call.scores);
    std::vector<float*> scoreTable;
    for (auto& map : scores) scoreTable.push_back(map.data());
    std::vector<const float*> pooledTable = testsupport::cellTable<const float>(call.pooled);
    std::vector<const float*> normalizerTable = testsupport::cellTable<const float>(call.normalizers);
    std::vector<double> rows = testsupport::asDoubles(call.rows), cols = testsupport::asDoubles(call.cols);
    const CallSetup& q = call.setup;
    const Elements& el = call.elements;
    plaindetect::ScoreCall plainCall{static_cast<int32_t>(rows.size()), rows.data(), cols.data(), q.orientCount,
                                     q.poolStep, q.templateRows, q.templateCols,
                                     static_cast<int32_t>(el.orients.size()), el.orients.data(),
                                     el.rowOffsets.data(), el.colOffsets.data(), el.weights.data(), el.biases.data(),
                                     pooledTable.data(), scoreTable.data(), normalizerTable.data(),
                                     q.saturationLevel};
    plaindetect::gastrel(plainCall);
    return scores;
}

minihost::CallResult run(const GastrelCall& call) { return callPlugin(minihost::loadPlugin("gastrel"), call.args()); }

// Pooled responses of moderate size with NaN, +-infinity and -0 among them.
void fillPooled(const MapGrid& grid, testsupport::SeededRandom& random) {
    const float unusual[] = {nan, inf, -inf, -0.0f};
    testsupport::fillEach(grid, [&]() -> double {
        int draw = random.integer(0, 39);
        return draw < 4 ? unusual[draw] : random.uniform(-6.0f, 6.0f);
    });
}

// Sizes of 1 ... mostImages images as a caller may pass them: whole numbers from 0 to
// largestSide, some a half less (the plug-in rounds them half up); rows then columns, image by
// image, appended to rows and cols.
void addRandomSizes(testsupport::SeededRandom& random, int mostImages, int largestSide, std::vector<double>& rows,
                    std::vector<double>& cols) {
    for (int image = random.integer(1, mostImages); image > 0; --image) {
        rows.push_back(random.integer(0, largestSide) - 0.5 * random.integer(0, 1));
        cols.push_back(random.integer(0, largestSide) - 0.5 * random.integer(0, 1));
    }
}

// Offsets mostly near the template, some far outside every map, given unrounded (x.5 rounds up).
double randomOffset(testsupport::SeededRandom& random, int reach) {
    int draw = random.integer(0, 19);
    if (draw == 0) return random.integer(0, 1) != 0 ? 2147483647.0 : -2147483648.0;
    if (draw == 1) return 1.5e9 * (random.integer(0, 1) != 0 ? 1 : -1);
    return random.integer(-reach, reach) + 0.5 * random.integer(-1, 0);
}

Elements randomElements(testsupport::SeededRandom& random, int count, int orientCount, int reach) {
    Elements elements;
    for (int k = 0; k < count; ++k) {
        double orient = random.integer(0, orientCount - 1) + (random.integer(0, 1) != 0 ? 0.49 : -0.5);
        if (orient < 0) orient = 0;
        // Weights and biases that single precision cannot hold, so that a term rounded too early shows.
        double weight = random.uniform(-3.0f, 3.0f) + 1e-9 * random.integer(1, 99);
        double bias = random.uniform(-0.7f, 0.7f) + 1e-10 * random.integer(1, 99);
        elements.add(orient, randomOffset(random, reach), randomOffset(random, reach), weight, bias);
    }
    return elements;
}

// The plug-in walks the placements column by column and element by element; every score must
// still be bit for bit what the placement-by-placement loop gives.
TEST(Gastrel, MatchesThePlainLoopBitForBit) {
    testsupport::SeededRandom random;
    struct Case {
        std::vector<double> rows, cols;
        CallSetup setup;
        int elementCount;
    };
    // Fixed cases: the smallest geometry example, several images of odd sizes with a step of 3,
    // an image smaller than the step, and huge template sides whose centres overflow 32 bits.
    std::vector<Case> cases = {{{5}, {5}, {1, 1, 3, 3, 2.0}, 4},
                               {{17, 12.5, 2}, {11, 20, 9}, {4, 3, 7, 10, 1.5}, 9},
                               {{5, 3}, {4, 7}, {2, 1000000000, 2147483000, 2147483000, 3.0}, 3}};
    for (int trial = 0; trial < 200; ++trial) {
        Case c;
        addRandomSizes(random, 3, 23, c.rows, c.cols);
        c.setup = {random.integer(1, 5), random.integer(1, 4), random.integer(0, 15), random.integer(0, 15),
                   random.uniform(0.5f, 8.0f) * (random.integer(0, 4) == 0 ? -1 : 1)};
        c.elementCount = random.integer(0, 12);
        cases.push_back(c);
    }
    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        const CallSetup& q = c.setup;
        SCOPED_TRACE(testing::Message() << "case " << n << ": orientCount " << q.orientCount << ", poolStep "
                                        << q.poolStep << ", template " << q.templateRows << " x " << q.templateCols);
        int reach = q.templateRows / q.poolStep + 3;
        GastrelCall call = makeCall(c.rows, c.cols, q, randomElements(random, c.elementCount, q.orientCount, reach), 2);
        fillPooled(call.pooled, random);
        // Nonzero start scores, among them -0 and NaN; normalizers with some exact zeros.
        testsupport::fillEach(call.scores, [&]() -> double {
            int draw = random.integer(0, 29);
            return draw == 0 ? -0.0 : draw == 1 ? nan : random.uniform(-20.0f, 20.0f);
        });
        testsupport::fillEach(call.normalizers, [&]() -> double {
            return random.integer(0, 9) == 0 ? 0.0 : random.uniform(0.25f, 4.0f);
        });
        auto expected = scoreReference(call);
        auto pooledBefore = snapshot<float>(call.pooled);
        auto normalizersBefore = snapshot<float>(call.normalizers);

        minihost::CallResult result = run(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_EQ(result.blocksLeft, 3);  // the three cell pointer tables; working memory is freed
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.scores), expected));
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.pooled), pooledBefore));
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.normalizers), normalizersBefore));
    }
}

// Normalizers as brelind makes them from full-resolution responses of the same images: window
// means floored at a fraction of the largest (meanSwitch 0), or all ones (meanSwitch -1).
void normalizeWithBrelind(const GastrelCall& call, testsupport::SeededRandom& random, bool switchOn) {
    int imageCount = static_cast<int>(call.rows.size());
    MapGrid responses = testsupport::makeGrid(imageCount, call.setup.orientCount, call.rows, call.cols, mxSINGLE_CLASS);
    std::gamma_distribution<double> magnitude(2.0, 1.0);
    testsupport::fillEach(responses, [&] { return magnitude(random.engine()); });
    std::vector<double> rows = testsupport::asDoubles(call.rows), cols = testsupport::asDoubles(call.cols);
    Array count = minihost::scalar(imageCount), rowArg = minihost::doubles(1, imageCount, rows),
          colArg = minihost::doubles(1, imageCount, cols), orients = minihost::scalar(call.setup.orientCount),
          margin = minihost::scalar(random.integer(1, 3)), halfX = minihost::scalar(random.integer(0, 3)),
          halfY = minihost::scalar(random.integer(0, 3)), meanSwitch = minihost::scalar(switchOn ? 0 : -1),
          relativeFloor = minihost::scalar(random.uniform(0.0f, 0.5f));
    minihost::CallResult result = callPlugin(
        minihost::loadPlugin("brelind"), {count.get(), rowArg.get(), colArg.get(), orients.get(), margin.get(),
                                          responses.cells.get(), call.normalizers.cells.get(), halfX.get(),
                                          halfY.get(), meanSwitch.get(), relativeFloor.get()});
    ASSERT_FALSE(result.failed) << result.errorMessage;
}

// Pooled responses of every size, so that saturation runs from exactly the response to exactly
// the level: magnitudes spread evenly over 2^-30 ... 2^12 of either sign, with NaN, +-infinity,
// -0, subnormals and values near the single limit among them.
void fillSpreadPooled(const MapGrid& grid, testsupport::SeededRandom& random) {
    const float unusual[] = {nan, inf, -inf, -0.0f, std::numeric_limits<float>::denorm_min(), -1e-40f, 3e38f};
    testsupport::fillEach(grid, [&]() -> double {
        int draw = random.integer(0, 99);
        if (draw < 7) return unusual[draw];
        float magnitude = std::ldexp(random.uniform(1.0f, 2.0f), random.integer(-30, 11));
        return draw % 3 == 0 ? -magnitude : magnitude;
    });
}

// Saturation takes eight neighbouring placements at a time: maps large enough for many such
// batches and their tails, normalizers made by brelind with its switch on and off (some with
// exact zeros put in), and every third call repeated to accumulate into its own scores.
TEST(Gastrel, BrelindNormalizedCallsMatchThePlainLoopBitForBit) {
    testsupport::SeededRandom random;
    const double levels[] = {6.0, 0.1, 1.0 / 3.0, -0.7, 1e-3, 1e4};
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<double> rows, cols;
        addRandomSizes(random, 3, 71, rows, cols);
        CallSetup q{random.integer(1, 5), random.integer(1, 3), random.integer(0, 31), random.integer(0, 31),
                    levels[trial % 6]};
        bool switchOn = trial % 2 == 0;
        SCOPED_TRACE(testing::Message() << "trial " << trial << ": poolStep " << q.poolStep << ", template "
                                        << q.templateRows << " x " << q.templateCols << ", level "
                                        << q.saturationLevel << ", meanSwitch " << (switchOn ? "on" : "off"));
        GastrelCall call = makeCall(rows, cols, q, randomElements(random, random.integer(0, 40), q.orientCount,
                                                                  q.templateRows / q.poolStep + 3), 2);
        fillSpreadPooled(call.pooled, random);
        testsupport::fillEach(call.scores, [&]() -> double {
            int draw = random.integer(0, 49);
            return draw == 0 ? -0.0 : draw == 1 ? nan : random.uniform(-20.0f, 20.0f);
        });
        normalizeWithBrelind(call, random, switchOn);
        if (trial % 5 == 0) {
            testsupport::fillEach(call.normalizers, [&]() -> double {
                return random.integer(0, 6) == 0 ? 0.0 : random.uniform(0.5f, 3.0f);
            });
        }
        for (int repeat = 0; repeat < (trial % 3 == 0 ? 2 : 1); ++repeat) {
            auto expected = scoreReference(call);
            ASSERT_FALSE(run(call).failed);
            ASSERT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.scores), expected));
        }
    }
}

// Responses around the rounding boundaries of the saturated values: every single-precision
// pattern in windows around small, middle and saturating responses, one per pooled position,
// scored by one element of weight 1 and bias 0 over normalizers of 1 and of 3, so that each
// score is one saturated value added to a start score of -0.
TEST(Gastrel, DenseWindowsOfNeighbouringResponsesMatchThePlainLoop) {
    const float centres[] = {1e-6f, 0.05f, 0.5f, 1.0f, 3.0f, 9.0f, 20.0f};
    const int halfSpan = 6000, rows = 504;
    std::vector<float> values;
    for (float centre : centres) {
        for (float c : {centre, -centre}) {
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
    int cols = static_cast<int>(values.size()) / rows;
    Elements one;
    one.add(0, 0, 0, 1.0, 0.0);
    for (double level : {1.0 / 3.0, 6.0, -2.5}) {
        for (float normalizer : {1.0f, 3.0f}) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", normalizer " << normalizer);
            GastrelCall call = makeCall({double(rows)}, {double(cols)}, {1, 1, 0, 0, level}, one);
            std::copy(values.begin(), values.begin() + rows * cols, call.pooled.singles(0, 0));
            testsupport::fillEach(call.scores, [] { return -0.0; });
            testsupport::fillEach(call.normalizers, [&] { return normalizer; });
            auto expected = scoreReference(call);
            ASSERT_FALSE(run(call).failed);
            EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.scores), expected));
        }
    }
}

// poolStep 1, a 3 x 3 template and a 5 x 5 image: anchors -2 ... 5 fill all of an 8 x 8 score
// map, and score position (rho, sigma) belongs to the anchor (rho - 3, sigma - 3).
TEST(Gastrel, ScorePositionsBelongToAnchorsShiftedByTheTemplate) {
    Elements one;
    one.add(0, 0, 0, 1.0, 0.25);
    const double s = 100.0;
    GastrelCall call = makeCall({5}, {5}, {1, 1, 3, 3, s}, one, 1);
    float* pooled = call.pooled.singles(0, 0);
    for (int x = 1; x <= 5; ++x) {
        for (int y = 1; y <= 5; ++y) pooled[(x - 1) + (y - 1) * 5] = static_cast<float>(10 * x + y);
    }
    ASSERT_EQ(call.scoreRows[0], 8);
    ASSERT_FALSE(run(call).failed);
    const float* scores = call.scores.singles(0, 0);
    for (int rho = 1; rho <= 8; ++rho) {
        for (int sigma = 1; sigma <= 8; ++sigma) {
            int i = rho - 3, j = sigma - 3;
            bool inside = i >= 1 && i <= 5 && j >= 1 && j <= 5;
            float t = inside ? static_cast<float>(s * std::tanh((10.0 * i + j) / s)) : 0.0f;
            EXPECT_NEAR(scores[(rho - 1) + (sigma - 1) * 8], t - 0.25f, 1e-4) << "anchor " << i << ", " << j;
        }
    }
    EXPECT_EQ(scores[64], 0.0f);  // past the score map
}

// rows 10, templateRows 10, poolStep 4: 5 score rows, but anchors -1 ... 2 reach only 4 of them.
TEST(Gastrel, LastScoreRowBeyondTheAnchorsKeepsItsValue) {
    Elements one;
    one.add(0, 0, 0, 2.0, 1.0);
    GastrelCall call = makeCall({10}, {10}, {1, 4, 10, 10, 1.0}, one);
    testsupport::fillEach(call.scores, [] { return 7.0; });
    ASSERT_EQ(call.scoreRows[0], 5);
    ASSERT_FALSE(run(call).failed);
    const float* scores = call.scores.singles(0, 0);
    for (int rho = 1; rho <= 5; ++rho) {
        for (int sigma = 1; sigma <= 5; ++sigma) {
            bool written = rho <= 4 && sigma <= 4;
            EXPECT_EQ(scores[(rho - 1) + (sigma - 1) * 5] != 7.0f, written) << rho << ", " << sigma;
        }
    }
}

// Biases of elements outside the map are subtracted one at a time in single precision: ten
// subtractions of 1e-8 from 1 each round back to 1, whereas their sum would not.
TEST(Gastrel, OutsideElementsSubtractTheirBiasesOneAtATime) {
    Elements outside;
    for (int k = 0; k < 10; ++k) outside.add(0, -1000 - k, 3, 5.0, 1e-8);
    GastrelCall call = makeCall({6}, {6}, {1, 2, 4, 4, 1.0}, outside);
    testsupport::fillEach(call.scores, [] { return 1.0; });
    ASSERT_NE(static_cast<float>(1.0 - 1e-7), 1.0f);
    ASSERT_FALSE(run(call).failed);
    auto scores = snapshot<float>(call.scores);
    for (float v : scores[0]) EXPECT_EQ(v, 1.0f);
}

// Each element on its own, so every placement shows the normalizer it used: pooled responses
// of 4 over a normalizer map holding distinct values, read at the centre pixel (i + 2, j + 2)
// for a 4 x 4 template at step 1 (rows 1 and 5 inside, rows 0 and 6 outside, giving 1).
TEST(Gastrel, NormalizerIsReadAtTheCentreAndIsOneOutsideTheImage) {
    const double s = 3.0;
    const int offsets[][2] = {{3, 3}, {0, 0}, {-2, -2}, {3, -2}, {-2, 1}};
    for (const auto& offset : offsets) {
        SCOPED_TRACE(testing::Message() << "offset " << offset[0] << ", " << offset[1]);
        Elements one;
        one.add(0, offset[0], offset[1], 1.0, 0.0);
        GastrelCall call = makeCall({5}, {5}, {1, 1, 4, 4, s}, one);
        testsupport::fillEach(call.pooled, [] { return 4.0; });
        float* normalizer = call.normalizers.singles(0, 0);
        for (int p = 0; p < 25; ++p) normalizer[p] = 2.0f + 0.25f * p;
        ASSERT_FALSE(run(call).failed);
        const float* scores = call.scores.singles(0, 0);
        int seen[2] = {0, 0};  // placements with the element inside and the centre outside, inside
        for (int i = -3; i <= 5; ++i) {
            for (int j = -3; j <= 5; ++j) {
                int x = i + offset[0], y = j + offset[1], cx = i + 2, cy = j + 2;
                if (x < 1 || x > 5 || y < 1 || y > 5) continue;
                bool centreInside = cx >= 1 && cx <= 5 && cy >= 1 && cy <= 5;
                float n = centreInside ? normalizer[(cx - 1) + (cy - 1) * 5] : 1.0f;
                ++seen[centreInside];
                float expected = static_cast<float>(s * std::tanh(double(4.0f / n) / s));
                EXPECT_NEAR(scores[(i + 3) + (j + 3) * 9], expected, 2e-6) << "anchor " << i << ", " << j;
            }
        }
        EXPECT_GT(seen[0] + seen[1], 0);
    }
}

// A stored normalizer of exactly 0 is used as 1 rather than dividing into Inf or NaN.
TEST(Gastrel, ZeroNormalizerIsUsedAsOne) {
    testsupport::SeededRandom random;
    Elements elements = randomElements(random, 6, 3, 4);
    GastrelCall zeros = makeCall({9, 7}, {8, 11}, {3, 2, 5, 6, 2.0}, elements);
    GastrelCall ones = makeCall({9, 7}, {8, 11}, {3, 2, 5, 6, 2.0}, elements);
    fillPooled(zeros.pooled, random);
    for (int c = 0; c < 6; ++c) {
        std::copy_n(zeros.pooled.singles(c % 2, c / 2), zeros.pooledRows[c % 2] * zeros.pooledCols[c % 2],
                    ones.pooled.singles(c % 2, c / 2));
    }
    testsupport::fillEach(zeros.normalizers, [] { return 0.0; });
    ASSERT_FALSE(run(zeros).failed);
    ASSERT_FALSE(run(ones).failed);
    EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(zeros.scores), snapshot<float>(ones.scores)));
}

// Scores are never cleared: a second call adds the same terms again, and no elements add nothing.
TEST(Gastrel, AccumulatesIntoTheScoreMaps) {
    testsupport::SeededRandom random;
    GastrelCall call = makeCall({13, 6}, {9, 10}, {4, 2, 6, 5, 2.5}, randomElements(random, 7, 4, 5));
    fillPooled(call.pooled, random);
    ASSERT_FALSE(run(call).failed);
    auto expected = scoreReference(call);
    ASSERT_FALSE(run(call).failed);
    EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.scores), expected));

    GastrelCall none = makeCall({13, 6}, {9, 10}, {4, 2, 6, 5, 2.5}, Elements{});
    testsupport::fillUniform(none.scores, random, -5.0f, 5.0f);
    auto before = snapshot<float>(none.scores);
    ASSERT_FALSE(run(none).failed);
    EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(none.scores), before));
}

// Each malformed call is refused with its id, writes nothing, and leaves the host running.
TEST(Gastrel, RefusesMalformedCallsBeforeWritingAnything) {
    using Spoil = std::function<void(std::vector<const mxArray*>&, GastrelCall&, std::vector<Array>&)>;
    auto replace = [](int position, auto make) -> Spoil {
        return [=](auto& args, auto&, auto& keep) {
            keep.push_back(make());
            args[position - 1] = keep.back().get();
        };
    };
    auto scalar = [&](int position, double value) { return replace(position, [=] { return minihost::scalar(value); }); };
    auto entries = [&](int position, std::vector<double> values) {
        return replace(position, [=] { return minihost::doubles(1, static_cast<int>(values.size()), values); });
    };
    auto replaceCell = [](MapGrid GastrelCall::*grid, int cell, auto make) -> Spoil {
        return [=](auto&, auto& call, auto&) { minihost::putCell((call.*grid).cells.get(), cell, make(call)); };
    };
    auto singles = [](int count) { return [=](GastrelCall&) { return minihost::singles(count, 1); }; };
    struct Case {
        const char* what;
        const char* id;
        Spoil spoil;
    };
    // Two images of 7 x 6 and 5 x 4 pixels, 2 orientations, step 2, a 4 x 3 template:
    // pooled maps 3 x 3 and 2 x 2, score maps 5 x 4 and 4 x 3, three elements.
    const std::vector<Case> cases = {
        {"sixteen arguments", "gastrel:tooFewArguments", [](auto& args, auto&, auto&) { args.pop_back(); }},
        {"no orientations", "gastrel:outOfRange", scalar(4, 0)},
        {"pool step 0", "gastrel:outOfRange", scalar(5, 0.4)},
        {"negative template rows", "gastrel:outOfRange", scalar(6, -1)},
        {"negative template columns", "gastrel:outOfRange", scalar(7, -0.6)},
        {"negative element count", "gastrel:outOfRange", scalar(8, -1)},
        {"orientation of orientCount", "gastrel:outOfRange", entries(9, {0, 1.5, 1})},
        {"negative orientation", "gastrel:outOfRange", entries(9, {0, -0.51, 1})},
        {"NaN orientation", "gastrel:outOfRange", entries(9, {0, nan, 1})},
        {"row offset beyond 32 bits", "gastrel:outOfRange", entries(10, {0, 2147483647.5, 1})},
        {"column offset beyond 32 bits", "gastrel:outOfRange", entries(11, {0, -2147483649.0, 1})},
        {"infinite column offset", "gastrel:outOfRange", entries(11, {0, inf, 1})},
        {"short orientations", "gastrel:tooFewValues", entries(9, {0, 1})},
        {"short weights", "gastrel:tooFewValues", entries(12, {1, 1})},
        {"single biases", "gastrel:wrongClass", replace(13, [] { return minihost::singles(1, 3); })},
        {"saturation level 0", "gastrel:outOfRange", scalar(17, 0)},
        {"score map beyond 32-bit indexing", "gastrel:tooLarge",
         [](auto& args, auto&, auto& keep) {
             keep.push_back(minihost::scalar(2e9));
             args[5] = keep.back().get();
             keep.push_back(minihost::scalar(2e9));
             args[6] = keep.back().get();
         }},
        {"pooled map too small", "gastrel:tooFewValues", replaceCell(&GastrelCall::pooled, 3, singles(3))},
        {"double pooled map", "gastrel:badCell", replaceCell(&GastrelCall::pooled, 0, [](auto&) { return minihost::doubles(9, 1); })},
        {"too few pooled cells", "gastrel:tooFewCells", replace(14, [] { return minihost::cellArray(1, 3); })},
        {"score map too small", "gastrel:tooFewValues", replaceCell(&GastrelCall::scores, 1, singles(11))},
        {"normalizer map too small", "gastrel:tooFewValues", replaceCell(&GastrelCall::normalizers, 0, singles(41))},
        {"normalizers not a cell", "gastrel:notCell", replace(16, [] { return minihost::singles(42, 1); })},
        {"score maps share data", "gastrel:sharedData", replaceCell(&GastrelCall::scores, 1, [](auto& call) { return minihost::sharedCopy(call.scores.map(0, 0)); })},
        {"pooled map shares a score map", "gastrel:sharedData", replaceCell(&GastrelCall::pooled, 1, [](auto& call) { return minihost::sharedCopy(call.scores.map(0, 0)); })},
        {"score map shares a normalizer map", "gastrel:sharedData", replaceCell(&GastrelCall::scores, 1, [](auto& call) { return minihost::sharedCopy(call.normalizers.map(0, 0)); })},
    };
    Elements three;
    three.add(0, 0, 0, 1.0, 0.5);
    three.add(1, -1, 2, 2.0, 0.25);
    three.add(1, 1, 1, -1.0, 0.0);
    testsupport::SeededRandom random;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GastrelCall call = makeCall({7, 5}, {6, 4}, {2, 2, 4, 3, 2.0}, three);
        fillPooled(call.pooled, random);
        testsupport::fillEach(call.normalizers, [] { return 2.0; });
        std::vector<const mxArray*> args = call.args();
        std::vector<Array> keep;
        c.spoil(args, call, keep);
        auto scoresBefore = snapshot<float>(call.scores);
        minihost::CallResult result = callPlugin(minihost::loadPlugin("gastrel"), args);
        EXPECT_TRUE(result.failed);
        EXPECT_FALSE(result.escaped);
        EXPECT_EQ(result.errorId, c.id) << result.errorMessage;
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.scores), scoresBefore));
    }
    GastrelCall call = makeCall({7}, {6}, {2, 2, 4, 3, 2.0}, three);
    EXPECT_EQ(callPlugin(minihost::loadPlugin("gastrel"), call.args(), 1).errorId, "gastrel:tooManyOutputs");
    Array badOrients = minihost::doubles(1, 3, {0, 1, 2});
    std::vector<const mxArray*> args = call.args();
    args[8] = badOrients.get();
    EXPECT_EQ(callPlugin(minihost::loadPlugin("gastrel"), args).errorMessage,
              "argument 9 (elementOrients), entry 3: expected a number that rounds half up to an integer from 0 "
              "to 1; got 2");
    minihost::putCell(call.scores.cells.get(), 0, minihost::singles(19, 1));
    EXPECT_EQ(callPlugin(minihost::loadPlugin("gastrel"), call.args()).errorMessage,
              "argument 15 (scoreMaps), cell 1: expected a real single array of at least 20 values; got a 19x1 "
              "single array");
}

// A score map of exactly 2147483647 values is within 32-bit indexing: it is read, and refused
// only for being shorter than that; one more row is refused as too large. Image 2147483647 x 0,
// pool step 1, a template of 0 (then 1) x 1: the score map is 2147483647 (then 2147483648) x 1.
TEST(Gastrel, AScoreMapOfTheLargestIndexableSizeIsReadNotRefusedAsTooLarge) {
    Elements one;
    one.add(0, 0, 0, 1.0, 0.5);
    struct Case {
        double templateRows;
        const char* id;
        const char* named;
    };
    const Case cases[] = {{0, "gastrel:tooFewValues", "expected a real single array of at least 2147483647 values"},
                          {1, "gastrel:tooLarge", "got a map of 2147483648 x 1 values"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "template of " << c.templateRows << " x 1");
        GastrelCall call = makeCall({7}, {6}, {1, 2, 4, 3, 2.0}, one);
        std::vector<const mxArray*> args = call.args();
        Array rows = minihost::scalar(2147483647.0), cols = minihost::scalar(0), step = minihost::scalar(1);
        Array templateRows = minihost::scalar(c.templateRows), templateCols = minihost::scalar(1);
        args[1] = rows.get();
        args[2] = cols.get();
        args[4] = step.get();
        args[5] = templateRows.get();
        args[6] = templateCols.get();
        minihost::CallResult result = callPlugin(minihost::loadPlugin("gastrel"), args);
        EXPECT_TRUE(result.failed);
        EXPECT_EQ(result.errorId, c.id) << result.errorMessage;
        EXPECT_NE(result.errorMessage.find(c.named), std::string::npos) << result.errorMessage;
    }
}

// Levels that single precision cannot hold, and a negative one: a level rounded to single, or
// the formula regrouped, changes some saturated values, which the plain loop shows bit for bit.
TEST(Gastrel, SaturatesAtLevelsSinglePrecisionCannotHold) {
    testsupport::SeededRandom random;
    for (double level : {0.1, 1.0 / 3.0, -0.7}) {
        for (int trial = 0; trial < 30; ++trial) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", trial " << trial);
            CallSetup q{random.integer(1, 4), random.integer(1, 3), random.integer(0, 9), random.integer(0, 9), level};
            GastrelCall call = makeCall({double(random.integer(4, 20))}, {double(random.integer(4, 20))}, q,
                                        randomElements(random, random.integer(1, 12), q.orientCount, 4));
            fillPooled(call.pooled, random);
            auto expected = scoreReference(call);
            ASSERT_FALSE(run(call).failed);
            EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.scores), expected));
        }
    }
}

// Zero responses saturate to a zero with the level's sign; one element of weight 1 and bias 0
// adds it to a start score of -0, so the sign shows in the score (a regrouped formula,
// 2s/(e + 1) - s, gives +0 at every level).
TEST(Gastrel, ZeroSaturationKeepsTheSignOfTheLevel) {
    for (double level : {0.1, -0.1, -1.0 / 3.0}) {
        for (float response : {0.0f, -0.0f, std::numeric_limits<float>::denorm_min()}) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", response " << response);
            Elements one;
            one.add(0, 0, 0, 1.0, 0.0);
            GastrelCall call = makeCall({1}, {1}, {1, 1, 0, 0, level}, one);
            call.pooled.singles(0, 0)[0] = response;
            call.scores.singles(0, 0)[0] = -0.0f;
            auto expected = scoreReference(call);
            ASSERT_FALSE(run(call).failed);
            EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.scores), expected));
            EXPECT_EQ(std::signbit(call.scores.singles(0, 0)[0]), level < 0);
        }
    }
}

// gastrelblock: each image's block (bounds rounded half up and clipped to its anchors; NaN
// leaves the image alone) gets the scores gastrel adds into zero maps, bit for bit, except
// where a score is exactly -1e10 (ruled out, kept); every other score keeps its bits.
TEST(GastrelBlock, RescoresEachBlockAsGastrelScoresAZeroMapAndKeepsTheRest) {
    testsupport::SeededRandom random;
    const float ruledOut = -1e10f;
    for (int trial = 0; trial < 150; ++trial) {
        std::vector<double> rows, cols;
        addRandomSizes(random, 4, 29, rows, cols);
        CallSetup q{random.integer(1, 4), random.integer(1, 3), random.integer(0, 12), random.integer(0, 12),
                    random.uniform(0.5f, 6.0f)};
        int reach = q.templateRows / q.poolStep + 3;
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        GastrelCall call = makeCall(rows, cols, q, randomElements(random, random.integer(0, 10), q.orientCount, reach));
        fillPooled(call.pooled, random);
        testsupport::fillEach(call.normalizers, [&]() -> double { return random.uniform(0.25f, 4.0f); });
        auto fresh = scoreReference(call);  // the score maps start at zero
        testsupport::fillEach(call.scores, [&]() -> double {
            int draw = random.integer(0, 9);
            if (draw == 0) return ruledOut;
            return draw == 1 ? std::numeric_limits<float>::quiet_NaN() : random.uniform(-20.0f, 20.0f);
        });
        auto start = snapshot<float>(call.scores);
        int imageCount = static_cast<int>(rows.size());
        std::vector<double> bounds[4];
        const double special[] = {std::nan(""), -HUGE_VAL, HUGE_VAL, -1e12, 1e12};
        for (std::vector<double>& side : bounds) {
            for (int image = 0; image < imageCount; ++image) {
                int draw = random.integer(0, 14);
                double bound = random.integer(-reach, reach + 15) - 0.5 * random.integer(0, 1);
                side.push_back(draw < 5 ? special[draw] : bound);
            }
        }
        auto expected = start;
        for (int image = 0; image < imageCount; ++image) {
            double firstAnchor[2] = {1.0 - q.templateRows / q.poolStep, 1.0 - q.templateCols / q.poolStep};
            double lastAnchor[2] = {double(call.pooledRows[image]), double(call.pooledCols[image])};
            double from[2], to[2];
            bool none = false;
            for (int axis = 0; axis < 2; ++axis) {
                double first = bounds[2 * axis][image], last = bounds[2 * axis + 1][image];
                none = none || std::isnan(first) || std::isnan(last);
                from[axis] = std::max(firstAnchor[axis], std::floor(first + 0.5));
                to[axis] = std::min(lastAnchor[axis], std::floor(last + 0.5));
            }
            if (none) continue;
            for (double i = from[0]; i <= to[0]; ++i) {
                for (double j = from[1]; j <= to[1]; ++j) {
                    int position = static_cast<int>(i - firstAnchor[0]) +
                                   static_cast<int>(j - firstAnchor[1]) * call.scoreRows[image];
                    float& value = expected[image][position];
                    if (value != ruledOut) value = fresh[image][position];
                }
            }
        }
        std::vector<Array> boundArrays;
        std::vector<const mxArray*> args = call.args();
        for (const std::vector<double>& side : bounds) {
            boundArrays.push_back(minihost::doubles(1, imageCount, side));
            args.push_back(boundArrays.back().get());
        }
        minihost::CallResult result = callPlugin(minihost::loadPlugin("gastrelblock"), args);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.scores), expected));
    }
}

}  // namespace
