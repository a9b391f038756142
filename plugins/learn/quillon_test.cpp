#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "frame.h"
#include "inhibit.h"
#include "minihost.h"
#include "plain_detection_loops.h"
#include "shifts.h"
#include "test_support.h"

using minihost::Array;
using minihost::callPlugin;
using testsupport::MapGrid;
using testsupport::snapshot;

namespace {

const float nan = std::numeric_limits<float>::quiet_NaN();

struct Params {
    int orientCount, posShiftMax, orientShiftMax, poolStep, filterHalf, imageCount, mapRows, mapCols, elementCount;
};

struct Tables {
    std::vector<double> weights, keys, biases;
};

// All 27 arguments of a call, each array its own.
struct QuillonCall {
    Params p;
    int pooledRows = 0, pooledCols = 0;
    Array orientCount, posShiftMax, orientShiftMax, unused, poolStep, elementCount, imageCount, mapRows, mapCols;
    MapGrid responses, pooled, traces;
    Array filterHalf;
    MapGrid overlap, stamps;
    Array tableLength, weights, keys, biases;
    Array elementOrients, elementX, elementY, elementWeights, elementBiases, imageScores, commonSketch;
    MapGrid sketches;
    std::vector<const mxArray*> args() const {
        return {orientCount.get(),    posShiftMax.get(),   orientShiftMax.get(), unused.get(),
                poolStep.get(),       elementCount.get(),  imageCount.get(),     mapRows.get(),
                mapCols.get(),        responses.cells.get(), pooled.cells.get(), traces.cells.get(),
                filterHalf.get(),     overlap.cells.get(), stamps.cells.get(),   tableLength.get(),
                weights.get(),        keys.get(),          biases.get(),         elementOrients.get(),
                elementX.get(),       elementY.get(),      elementWeights.get(), elementBiases.get(),
                imageScores.get(),    commonSketch.get(),  sketches.cells.get()};
    }
    std::vector<Array> outputs() const;
};

// Zero maps and sketches, overlap factors all 1 (nothing suppressed), stamps all 1, and the
// tables K = (0, 1, 2), W = (0, 10, 20), B = (0, 1, 4).
QuillonCall makeCall(const Params& p, int elementSlots = 0) {
    QuillonCall call;
    call.p = p;
    call.pooledRows = p.mapRows / p.poolStep;
    call.pooledCols = p.mapCols / p.poolStep;
    call.orientCount = minihost::scalar(p.orientCount);
    call.posShiftMax = minihost::scalar(p.posShiftMax);
    call.orientShiftMax = minihost::scalar(p.orientShiftMax);
    call.unused = minihost::scalar(-123.25);
    call.poolStep = minihost::scalar(p.poolStep);
    call.elementCount = minihost::scalar(p.elementCount);
    call.imageCount = minihost::scalar(p.imageCount);
    call.mapRows = minihost::scalar(p.mapRows);
    call.mapCols = minihost::scalar(p.mapCols);
    int images = p.imageCount, orients = p.orientCount;
    std::vector<int> mapRows(images, p.mapRows), mapCols(images, p.mapCols);
    std::vector<int> pooledRows(images, call.pooledRows), pooledCols(images, call.pooledCols);
    call.responses = testsupport::makeGrid(images, orients, mapRows, mapCols, mxSINGLE_CLASS);
    call.pooled = testsupport::makeGrid(images, orients, pooledRows, pooledCols, mxSINGLE_CLASS);
    call.traces = testsupport::makeGrid(images, orients, pooledRows, pooledCols, mxSINGLE_CLASS);
    call.filterHalf = minihost::scalar(p.filterHalf);
    int overlapSide = 4 * p.filterHalf + 1, stampSide = 2 * p.filterHalf + 1;
    call.overlap = testsupport::makeGrid(orients, orients, std::vector<int>(orients, overlapSide),
                                         std::vector<int>(orients, overlapSide), mxDOUBLE_CLASS);
    testsupport::fillEach(call.overlap, [] { return 1.0; });
    call.stamps = testsupport::makeGrid(1, orients, {stampSide}, {stampSide}, mxDOUBLE_CLASS);
    testsupport::fillEach(call.stamps, [] { return 1.0; });
    call.tableLength = minihost::scalar(3);
    call.weights = minihost::doubles(1, 3, {0, 10, 20});
    call.keys = minihost::doubles(1, 3, {0, 1, 2});
    call.biases = minihost::doubles(1, 3, {0, 1, 4});
    int slots = elementSlots > 0 ? elementSlots : std::max(p.elementCount, 1);
    for (Array* output : {&call.elementOrients, &call.elementX, &call.elementY, &call.elementWeights,
                          &call.elementBiases}) {
        *output = minihost::doubles(1, slots, std::vector<double>(slots, -7.0));
    }
    call.imageScores = minihost::doubles(1, images, std::vector<double>(images, 0.5));
    call.commonSketch = minihost::singles(p.mapRows, p.mapCols);
    call.sketches = testsupport::makeGrid(images, 1, mapRows, mapCols, mxSINGLE_CLASS);
    return call;
}

void setTables(QuillonCall& call, const Tables& t) {
    int length = static_cast<int>(t.keys.size());
    call.tableLength = minihost::scalar(length);
    call.weights = minihost::doubles(1, length, t.weights);
    call.keys = minihost::doubles(1, length, t.keys);
    call.biases = minihost::doubles(1, length, t.biases);
}

std::vector<double> valuesOf(const mxArray* array) {
    const double* data = minihost::doubleData(array);
    return std::vector<double>(data, data + mxGetNumberOfElements(array));
}

std::vector<float> singlesOf(const mxArray* array) {
    const float* data = minihost::singleData(array);
    return std::vector<float>(data, data + mxGetNumberOfElements(array));
}

// Everything a call may change, plus what it printed.
struct State {
    std::vector<std::vector<float>> responses, pooled, traces, sketches;
    std::vector<std::vector<double>> elements;  // orients, rows, columns, weights, biases
    std::vector<double> scores;
    std::vector<float> commonSketch;
    std::string printed;
};

State capture(const QuillonCall& call) {
    State s;
    s.responses = snapshot<float>(call.responses);
    s.pooled = snapshot<float>(call.pooled);
    s.traces = snapshot<float>(call.traces);
    s.sketches = snapshot<float>(call.sketches);
    for (const Array* output : {&call.elementOrients, &call.elementX, &call.elementY, &call.elementWeights,
                                &call.elementBiases}) {
        s.elements.push_back(valuesOf(output->get()));
    }
    s.scores = valuesOf(call.imageScores.get());
    s.commonSketch = singlesOf(call.commonSketch.get());
    return s;
}

template <typename T>
testing::AssertionResult sameBits(const char* what, const std::vector<std::vector<T>>& actual,
                                  const std::vector<std::vector<T>>& expected) {
    for (size_t c = 0; c < expected.size(); ++c) {
        for (size_t k = 0; k < expected[c].size(); ++k) {
            if (!testsupport::sameBits(actual[c][k], expected[c][k])) {
                return testing::AssertionFailure() << what << ", cell " << c << ", value " << k << ": "
                                                   << actual[c][k] << " instead of " << expected[c][k];
            }
        }
    }
    return testing::AssertionSuccess();
}

// Bit-for-bit equality of two states, naming the first difference.
testing::AssertionResult sameState(const State& actual, const State& expected) {
    for (auto result : {sameBits("responseMaps", actual.responses, expected.responses),
                        sameBits("pooledMaps", actual.pooled, expected.pooled),
                        sameBits("traceMaps", actual.traces, expected.traces),
                        sameBits("imageSketches", actual.sketches, expected.sketches),
                        sameBits("element outputs", actual.elements, expected.elements),
                        sameBits("imageScores", std::vector<std::vector<double>>{actual.scores},
                                 std::vector<std::vector<double>>{expected.scores}),
                        sameBits("commonSketch", std::vector<std::vector<float>>{actual.commonSketch},
                                 std::vector<std::vector<float>>{expected.commonSketch})}) {
        if (!result) return result;
    }
    if (actual.printed != expected.printed) {
        return testing::AssertionFailure() << "printed\n" << actual.printed << "instead of\n" << expected.printed;
    }
    return testing::AssertionSuccess();
}

// Puts a state's maps back into a call of the same geometry.
void load(const QuillonCall& call, const State& s) {
    for (int c = 0; c < call.p.imageCount * call.p.orientCount; ++c) {
        std::copy(s.responses[c].begin(), s.responses[c].end(), minihost::singleData(mxGetCell(call.responses.cells.get(), c)));
        std::copy(s.pooled[c].begin(), s.pooled[c].end(), minihost::singleData(mxGetCell(call.pooled.cells.get(), c)));
        std::copy(s.traces[c].begin(), s.traces[c].end(), minihost::singleData(mxGetCell(call.traces.cells.get(), c)));
    }
}

minihost::CallResult runQuillon(const QuillonCall& call) {
    return callPlugin(minihost::loadPlugin("quillon"), call.args());
}

// Pools the call's responses with vindral into its pooled and trace maps.
void poolWithVindral(QuillonCall& call) {
    const Params& p = call.p;
    Array count = minihost::scalar(p.imageCount);
    Array rows = minihost::doubles(1, p.imageCount, std::vector<double>(p.imageCount, p.mapRows));
    Array cols = minihost::doubles(1, p.imageCount, std::vector<double>(p.imageCount, p.mapCols));
    minihost::CallResult result =
        callPlugin(minihost::loadPlugin("vindral"),
                   {count.get(), rows.get(), cols.get(), call.orientCount.get(), call.posShiftMax.get(),
                    call.orientShiftMax.get(), call.poolStep.get(), call.responses.cells.get(), call.pooled.cells.get(),
                    call.traces.cells.get()});
    ASSERT_FALSE(result.failed) << result.errorMessage;
}

std::string elementLine(int e, int orient, int row, int col, double weight) {
    char line[128];
    std::snprintf(line, sizeof line, "%d:  (orient = %d   x = %d   y = %d) --> %f\n", e, orient, row, col, weight);
    return line;
}

// ---------------------------------------------------------------- the plain reference learner

// The plain loop of the learner (plaindetect::quillon, with its own shift search,
// stamping and inhibition) run on copies of the call's arrays.
State learnPlainly(const QuillonCall& call) {
    const Params& p = call.p;
    State s = capture(call);
    int images = p.imageCount, orients = p.orientCount;
    std::vector<float*> responses, pooled, traces, sketches;
    for (int c = 0; c < images * orients; ++c) {
        responses.push_back(s.responses[c].data());
        pooled.push_back(s.pooled[c].data());
        traces.push_back(s.traces[c].data());
    }
    for (int image = 0; image < images; ++image) sketches.push_back(s.sketches[image].data());
    std::vector<const double*> overlap, stamps;
    for (int c = 0; c < orients * orients; ++c) overlap.push_back(minihost::doubleData(mxGetCell(call.overlap.cells.get(), c)));
    for (int o = 0; o < orients; ++o) stamps.push_back(call.stamps.doubles(0, o));
    plaindetect::LearnCall plain{orients,
                                 p.posShiftMax,
                                 p.orientShiftMax,
                                 p.poolStep,
                                 p.elementCount,
                                 images,
                                 p.mapRows,
                                 p.mapCols,
                                 responses.data(),
                                 pooled.data(),
                                 traces.data(),
                                 p.filterHalf,
                                 overlap.data(),
                                 stamps.data(),
                                 static_cast<int32_t>(mxGetNumberOfElements(call.keys.get())),
                                 minihost::doubleData(call.weights.get()),
                                 minihost::doubleData(call.keys.get()),
                                 minihost::doubleData(call.biases.get()),
                                 s.elements[0].data(),
                                 s.elements[1].data(),
                                 s.elements[2].data(),
                                 s.elements[3].data(),
                                 s.elements[4].data(),
                                 s.scores.data(),
                                 s.commonSketch.data(),
                                 sketches.data()};
    s.printed = plaindetect::quillon(plain);
    return s;
}

// ---------------------------------------------------------------- learning

TEST(Quillon, MatchesThePlainLearnerBitForBitOnRandomCalls) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 40; ++trial) {
        Params p;
        PoolWindow w;
        do {
            p.orientCount = random.integer(1, 6);
            p.posShiftMax = random.integer(0, 2);
            p.orientShiftMax = random.integer(0, std::min(p.orientCount - 1, 2));
            p.poolStep = random.integer(1, 3);
            p.filterHalf = random.integer(0, 3);
            p.imageCount = random.integer(1, 4);
            p.mapRows = random.integer(9, 31);
            p.mapCols = random.integer(9, 31);
            p.elementCount = random.integer(-1, 9);
            w = computePoolWindow(p.filterHalf, p.posShiftMax, p.poolStep, p.mapRows, p.mapCols);
        } while (isEmpty(w));
        SCOPED_TRACE("trial " + std::to_string(trial) + ": " + std::to_string(p.imageCount) + " images of " +
                     std::to_string(p.mapRows) + " x " + std::to_string(p.mapCols) + ", " +
                     std::to_string(p.orientCount) + " orientations, shifts " + std::to_string(p.posShiftMax) +
                     "/" + std::to_string(p.orientShiftMax) + ", step " + std::to_string(p.poolStep) + ", h " +
                     std::to_string(p.filterHalf) + ", " + std::to_string(p.elementCount) + " elements");
        QuillonCall call = makeCall(p);
        // Mostly positive responses, some negative, a few NaN (quiet or signalling, which a
        // factor of 1 quiets); factors 0 half the time.
        testsupport::fillEach(call.responses, [&] {
            int draw = random.integer(0, 49);
            return draw == 0 ? nan
                   : draw == 1 ? std::numeric_limits<float>::signaling_NaN()
                   : draw < 8  ? -random.uniform(0, 2)
                               : random.uniform(0, 5);
        });
        poolWithVindral(call);
        testsupport::fillEach(call.overlap, [&] { return random.integer(0, 1) ? 0.0 : random.uniform(0, 1.2f); });
        testsupport::fillEach(call.stamps, [&] { return random.uniform(-0.5f, 1.5f); });
        testsupport::fillEach(call.sketches, [&] { return random.uniform(0, 1); });
        std::fill_n(minihost::singleData(call.commonSketch.get()), p.mapRows * p.mapCols, 0.25f);
        for (int image = 0; image < p.imageCount; ++image) {
            minihost::doubleData(call.imageScores.get())[image] = random.uniform(-3, 3) / 3.0;
        }
        // Ascending keys with equal neighbours now and then, spanning below and above the means.
        Tables t;
        double key = random.uniform(-1, 1.5f);
        for (int j = random.integer(1, 6); j > 0; --j) {
            t.keys.push_back(key);
            key += random.integer(0, 3) == 0 ? 0.0 : random.uniform(0.1f, 1.5f);
            // Divided by 3 and 7 so that weights and biases use every bit of a double.
            t.weights.push_back(random.uniform(-2, 5) / 3.0);
            t.biases.push_back(random.uniform(-1, 3) / 7.0);
        }
        setTables(call, t);

        State expected = learnPlainly(call);
        minihost::CallResult result = runQuillon(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_EQ(result.blocksLeft, 6);  // the six cell pointer tables; working tables are freed
        State actual = capture(call);
        actual.printed = result.printed;
        EXPECT_TRUE(sameState(actual, expected));
    }
}

// The benchmark's shape at a smaller size: 16 orientations, filterHalf 8, posShiftMax 3,
// orientShiftMax 1, poolStep 2 and overlap cells that wipe out the whole reach of the same and
// the neighbouring orientations, so that inhibition repairs large areas; odd map sizes, some NaN
// and infinite responses.
TEST(Quillon, MatchesThePlainLearnerBitForBitAtTheBenchmarksShape) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 3; ++trial) {
        Params p{16, 3, 1, 2, 8, 3, 60 + 3 * trial, 57 + 2 * trial, 12};
        SCOPED_TRACE("trial " + std::to_string(trial));
        QuillonCall call = makeCall(p);
        testsupport::fillEach(call.responses, [&] {
            int draw = random.integer(0, 199);
            return draw == 0 ? nan : draw == 1 ? std::numeric_limits<float>::infinity() : random.uniform(0, 5);
        });
        poolWithVindral(call);
        int side = 4 * p.filterHalf + 1;
        for (int a = 0; a < 16; ++a) {
            for (int b = 0; b < 16; ++b) {
                int apart = std::min((a - b + 16) % 16, (b - a + 16) % 16);
                double* factors = minihost::doubleData(mxGetCell(call.overlap.cells.get(), a + 16 * b));
                std::fill(factors, factors + side * side, apart <= 1 ? 0.0 : trial == 2 && apart == 2 ? 0.5 : 1.0);
            }
        }
        testsupport::fillEach(call.stamps, [&] { return random.uniform(0, 1); });
        Tables t{{0, 1, 2}, {0, 4, 8}, {0, 0.5, 1}};
        setTables(call, t);
        State expected = learnPlainly(call);
        minihost::CallResult result = runQuillon(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        State actual = capture(call);
        actual.printed = result.printed;
        EXPECT_TRUE(sameState(actual, expected));
    }
}

// A single image of whole-number responses: every sum is exact, so each element's mean is the
// best pooled value in the window as it stands, and learning one element per call from the
// maps the previous call left behind is the same as learning them all in one call.
TEST(Quillon, SingleImageLearnsItsBestPooledValueEachTime) {
    testsupport::SeededRandom random;
    const Params p{3, 1, 1, 2, 2, 1, 24, 22, 1};
    const int elementCount = 6;
    QuillonCall call = makeCall(p);
    testsupport::fillEach(call.responses, [&] { return random.integer(-3, 8); });
    poolWithVindral(call);
    testsupport::fillEach(call.overlap, [&] { return random.integer(0, 2) == 0 ? 1.0 : 0.0; });
    // Keys and weights -8 ... 8, biases twice the keys: weight = mean, bias = 2 mean.
    Tables t;
    for (int v = -8; v <= 8; ++v) t.keys.push_back(v), t.weights.push_back(v), t.biases.push_back(2 * v);
    setTables(call, t);
    State start = capture(call);

    PoolWindow w = computePoolWindow(p.filterHalf, p.posShiftMax, p.poolStep, p.mapRows, p.mapCols);
    std::string printed;
    for (int e = 0; e < elementCount; ++e) {
        SCOPED_TRACE("element " + std::to_string(e));
        float best = noResponse;
        int orient = -1, row = -1, col = -1;
        for (int px = w.rowLo; px <= w.rowHi; ++px) {
            for (int py = w.colLo; py <= w.colHi; ++py) {
                for (int o = 0; o < p.orientCount; ++o) {
                    float v = call.pooled.singles(0, o)[(px - 1) + (py - 1) * call.pooledRows];
                    if (v > best) best = v, orient = o, row = px, col = py;
                }
            }
        }
        double scoreBefore = minihost::doubleData(call.imageScores.get())[0];
        minihost::CallResult result = runQuillon(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        State s = capture(call);
        EXPECT_EQ(s.elements[0][0], orient);
        EXPECT_EQ(s.elements[1][0], row);
        EXPECT_EQ(s.elements[2][0], col);
        EXPECT_EQ(s.elements[3][0], best);
        EXPECT_EQ(s.elements[4][0], 2.0 * best);
        EXPECT_EQ(s.scores[0], scoreBefore + (double(best) * best - 2.0 * best));
        EXPECT_EQ(result.printed, elementLine(0, orient, row, col, best));
        printed += elementLine(e, orient, row, col, best);
    }
    State stepByStep = capture(call);

    QuillonCall whole = makeCall(Params{3, 1, 1, 2, 2, 1, 24, 22, elementCount});
    load(whole, start);
    for (int c = 0; c < 9; ++c) {
        const double* factors = minihost::doubleData(mxGetCell(call.overlap.cells.get(), c));
        std::copy(factors, factors + 81, minihost::doubleData(mxGetCell(whole.overlap.cells.get(), c)));
    }
    setTables(whole, t);
    minihost::CallResult result = runQuillon(whole);
    ASSERT_FALSE(result.failed) << result.errorMessage;
    EXPECT_EQ(result.printed, printed);
    State once = capture(whole);
    EXPECT_TRUE(sameBits("responseMaps", once.responses, stepByStep.responses));
    EXPECT_TRUE(sameBits("pooledMaps", once.pooled, stepByStep.pooled));
    EXPECT_TRUE(sameBits("traceMaps", once.traces, stepByStep.traces));
    EXPECT_EQ(once.scores, stepByStep.scores);
}

// One image, no shifts, poolStep 1, h 1, 12 x 12 maps: the window is rows and columns 3 ... 10.
Params smallParams(int orientCount = 4, int imageCount = 1) {
    return Params{orientCount, 0, 0, 1, 1, imageCount, 12, 12, 1};
}

void setPooled(const QuillonCall& call, int image, int orient, int row, int col, float value) {
    call.pooled.singles(image, orient)[(row - 1) + (col - 1) * call.pooledRows] = value;
}

TEST(Quillon, TiesGoToTheSmallestRowThenColumnThenOrientation) {
    struct Candidate {
        int row, col, orient;
    };
    // In the order they must win; larger values outside the window and NaN never win.
    std::vector<Candidate> ranked = {{5, 9, 0}, {5, 9, 3}, {6, 5, 2}, {6, 5, 3}, {6, 7, 1}, {7, 4, 0}, {10, 10, 3}};
    for (size_t taken = 0; taken < ranked.size(); ++taken) {
        SCOPED_TRACE("after " + std::to_string(taken) + " winners are removed");
        QuillonCall call = makeCall(smallParams());
        for (size_t n = taken; n < ranked.size(); ++n) setPooled(call, 0, ranked[n].orient, ranked[n].row, ranked[n].col, 5);
        setPooled(call, 0, 0, 3, 3, nan);
        setPooled(call, 0, 0, 2, 5, 9);
        setPooled(call, 0, 1, 11, 5, 9);
        setPooled(call, 0, 2, 5, 2, 9);
        setPooled(call, 0, 3, 5, 11, 9);
        minihost::CallResult result = runQuillon(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        State s = capture(call);
        EXPECT_EQ(s.elements[1][0], ranked[taken].row);
        EXPECT_EQ(s.elements[2][0], ranked[taken].col);
        EXPECT_EQ(s.elements[0][0], ranked[taken].orient);
    }
    // Everything equal: the window's first position and orientation.
    QuillonCall flat = makeCall(smallParams());
    testsupport::fillEach(flat.pooled, [] { return 1.0; });
    ASSERT_FALSE(runQuillon(flat).failed);
    EXPECT_EQ(capture(flat).elements, (std::vector<std::vector<double>>{{0}, {3}, {3}, {10}, {1}}));
}

// 0 and -0 are equal sums: the first of them in the scan's order wins, with its own value.
TEST(Quillon, ZeroAndMinusZeroTieInScanOrder) {
    for (bool minusFirst : {true, false}) {
        SCOPED_TRACE(minusFirst ? "-0 first" : "0 first");
        QuillonCall call = makeCall(smallParams());
        testsupport::fillEach(call.pooled, [] { return -1.0; });
        setPooled(call, 0, 2, 4, 9, minusFirst ? -0.0f : 0.0f);
        setPooled(call, 0, 1, 4, 9, nan);
        setPooled(call, 0, 3, 4, 9, minusFirst ? 0.0f : -0.0f);
        setPooled(call, 0, 0, 6, 3, 0.0f);
        minihost::CallResult result = runQuillon(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        State s = capture(call);
        EXPECT_EQ(s.elements[0][0], 2);
        EXPECT_EQ(s.elements[1][0], 4);
        EXPECT_EQ(s.elements[2][0], 9);
        EXPECT_EQ(result.printed, elementLine(0, 2, 4, 9, 0));
    }
}

// The largest sum is found four sums at a time, each lane keeping its maximum unless a sum is
// strictly greater: a NaN sum four rows below the largest, in the same lane of the same column
// and orientation, must leave that lane's maximum alone. Every window height of 8 to 13 rows,
// every place of the pair inside the whole vectors, both orders of NaN and largest.
TEST(Quillon, ANaNSumInTheLaneOfTheLargestLeavesItLargest) {
    const int lanes = 4;
    for (int mapRows = 12; mapRows <= 17; ++mapRows) {
        Params p{3, 0, 0, 1, 1, 1, mapRows, 12, 1};
        int rowLo = 3, height = mapRows - 4, wholeVectors = height / lanes * lanes;
        for (int offset = 0; offset + lanes < wholeVectors; ++offset) {
            for (bool nanBelow : {true, false}) {
                SCOPED_TRACE(testing::Message() << "window of " << height << " rows, largest at offset " << offset
                                                << (nanBelow ? ", NaN four rows below" : ", NaN four rows above"));
                int largestRow = rowLo + offset + (nanBelow ? 0 : lanes);
                int nanRow = rowLo + offset + (nanBelow ? lanes : 0);
                QuillonCall call = makeCall(p);
                testsupport::fillEach(call.pooled, [] { return 0.25; });
                setPooled(call, 0, 1, largestRow, 6, 1.5f);
                setPooled(call, 0, 1, nanRow, 6, nan);
                minihost::CallResult result = runQuillon(call);
                ASSERT_FALSE(result.failed) << result.errorMessage;
                EXPECT_EQ(capture(call).elements, (std::vector<std::vector<double>>{{1}, {double(largestRow)}, {6}, {15}, {2.5}}));
            }
        }
    }
}

TEST(Quillon, LooksWeightAndBiasUpInTheTables) {
    struct Case {
        Tables tables;
        std::vector<float> pooledValues;  // one per image, at the only candidate above -5
        double weight, bias;
    };
    const Tables example{{0, 10, 20}, {0, 1, 2}, {0, 1, 4}};
    const Tables withEqualKeys{{0, 10, 99, 20}, {0, 1, 1, 2}, {0, 1, 7, 4}};
    const std::vector<Case> cases = {
        {example, {1.5f}, 15, 2.5},       // j = 1, t = 0.5
        {example, {2}, 20, 4},            // the last key copies the last entry
        {example, {3}, 20, 4},            // above it too, without extrapolation
        {example, {0}, 0, 0},             // the first key itself
        {example, {1}, 10, 1},            // an inner key
        {example, {-1}, 0, 0},            // below the first key: the first entry, not -10 and -1
        {example, {1, 2}, 15, 2.5},       // the mean of two images: 3 / 2
        {withEqualKeys, {1}, 99, 7},      // the search stops at the upper of two equal keys
        {withEqualKeys, {1.5f}, 59.5, 5.5},
        {Tables{{4}, {3}, {-2}}, {-1}, 4, -2},  // a single entry below and above its key
        {Tables{{4}, {3}, {-2}}, {7}, 4, -2},
    };
    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        SCOPED_TRACE("case " + std::to_string(n));
        int images = static_cast<int>(c.pooledValues.size());
        QuillonCall call = makeCall(smallParams(4, images));
        testsupport::fillEach(call.pooled, [] { return -5.0; });
        for (int image = 0; image < images; ++image) setPooled(call, image, 1, 4, 6, c.pooledValues[image]);
        setTables(call, c.tables);
        minihost::CallResult result = runQuillon(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        State s = capture(call);
        EXPECT_EQ(s.elements[3][0], c.weight);
        EXPECT_EQ(s.elements[4][0], c.bias);
        for (int image = 0; image < images; ++image) {
            EXPECT_EQ(s.scores[image], 0.5 + (c.weight * c.pooledValues[image] - c.bias));
        }
        EXPECT_EQ(result.printed, elementLine(0, 1, 4, 6, c.weight));
    }
}

TEST(Quillon, PrintsOneExactLinePerElement) {
    QuillonCall call = makeCall(Params{16, 0, 0, 1, 1, 1, 30, 30, 2});
    setPooled(call, 0, 12, 17, 23, 1.25f);
    setPooled(call, 0, 3, 3, 4, 0.5f);
    testsupport::fillEach(call.overlap, [] { return 0.0; });
    minihost::CallResult result = runQuillon(call);
    ASSERT_FALSE(result.failed) << result.errorMessage;
    EXPECT_EQ(result.printed, "0:  (orient = 12   x = 17   y = 23) --> 12.500000\n"
                              "1:  (orient = 3   x = 3   y = 4) --> 5.000000\n");
}

// Image 0 has the element at 4, image 1 at 0 and image 2 at -2: every score changes, but only
// image 0 is drawn and inhibited, at the place its trace names.
TEST(Quillon, OnlyImagesWithAPositiveResponseAreDrawnAndInhibited) {
    Params p{4, 1, 1, 1, 1, 3, 12, 12, 1};
    QuillonCall call = makeCall(p);
    testsupport::SeededRandom random;
    testsupport::fillUniform(call.responses, random, 1, 2);
    testsupport::fillEach(call.pooled, [] { return -10.0; });
    testsupport::fillEach(call.overlap, [] { return 0.0; });
    setTables(call, Tables{{3}, {0}, {0.5}});
    const int orient = 2, row = 5, col = 6, slot = 4;
    const std::vector<float> values = {4, 0, -2};
    for (int image = 0; image < 3; ++image) {
        setPooled(call, image, orient, row, col, values[image]);
        call.traces.singles(image, orient)[(row - 1) + (col - 1) * call.pooledRows] = static_cast<float>(slot);
    }
    State before = capture(call);
    minihost::CallResult result = runQuillon(call);
    ASSERT_FALSE(result.failed) << result.errorMessage;
    State after = capture(call);
    EXPECT_EQ(after.scores, (std::vector<double>{0.5 + 11.5, 0.5 - 0.5, 0.5 - 6.5}));
    for (int image = 1; image < 3; ++image) {
        for (int o = 0; o < 4; ++o) {
            int c = image + o * 3;
            EXPECT_EQ(after.responses[c], before.responses[c]);
            EXPECT_EQ(after.pooled[c], before.pooled[c]);
            EXPECT_EQ(after.traces[c], before.traces[c]);
        }
        EXPECT_EQ(after.sketches[image], before.sketches[image]);
    }
    ShiftTable shifts = buildShiftTables(4, 1, 1, 1);
    int os = shifts.shiftedOrient[orient][slot];
    int xs = row + shifts.rowShift[orient][slot], ys = col + shifts.colShift[orient][slot];
    freeShiftTables(shifts, 4);
    for (int x = 1; x <= 12; ++x) {
        for (int y = 1; y <= 12; ++y) {
            int k = (x - 1) + (y - 1) * 12;
            bool stamped = std::abs(x - xs) <= 1 && std::abs(y - ys) <= 1;
            EXPECT_EQ(after.sketches[0][k], stamped ? 2.0f : 0.0f) << x << ", " << y;
            EXPECT_EQ(after.commonSketch[k], std::abs(x - row) <= 1 && std::abs(y - col) <= 1
                                                 ? static_cast<float>(std::sqrt(double(2.0f / 3.0f)))
                                                 : 0.0f);
            bool suppressed = std::abs(x - xs) <= 2 && std::abs(y - ys) <= 2;
            for (int o = 0; o < 4; ++o) {
                EXPECT_EQ(after.responses[o * 3][k], suppressed ? 0.0f : before.responses[o * 3][k]);
            }
        }
    }
    EXPECT_NE(os, orient);  // the stamp's orientation is where the trace led; all stamps are 1 here
}

// Overlap factors of 1 change only NaN responses: a signalling NaN within reach of an element
// comes back quieted, one out of reach stays as it was. Inhibition skips blocks of rows known
// to hold no NaN, learned up front block by block, so the NaN lie in the last row of a block
// (rows 32 and 64), and one in the first (row 33).
TEST(Quillon, OverlapFactorsOfOneQuietSignallingNaNWithinReach) {
    Params p{2, 0, 0, 1, 8, 1, 70, 60, 1};
    QuillonCall call = makeCall(p);
    setPooled(call, 0, 0, 48, 20, 3.0f);  // the element: pixel (48, 20), reach 16 pixels
    const float signalling = std::numeric_limits<float>::signaling_NaN();
    struct Pixel {
        int orient, row, col;
        bool reached;
    };
    const std::vector<Pixel> planted = {{0, 32, 20, true}, {1, 64, 36, true}, {1, 33, 4, true},
                                        {0, 32, 37, false}, {1, 64, 3, false}, {0, 31, 20, false}};
    for (const Pixel& at : planted) call.responses.singles(0, at.orient)[(at.row - 1) + (at.col - 1) * 70] = signalling;
    State expected = learnPlainly(call);
    minihost::CallResult result = runQuillon(call);
    ASSERT_FALSE(result.failed) << result.errorMessage;
    State actual = capture(call);
    EXPECT_TRUE(sameBits("responseMaps", actual.responses, expected.responses));
    for (const Pixel& at : planted) {
        SCOPED_TRACE(testing::Message() << "orientation " << at.orient << ", pixel (" << at.row << ", " << at.col << ")");
        float v = actual.responses[at.orient][(at.row - 1) + (at.col - 1) * 70];
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        const uint32_t quietBit = 0x00400000;
        EXPECT_TRUE(std::isnan(v));
        EXPECT_EQ((bits & quietBit) != 0, at.reached);
    }
}

// When an element's own response is not wiped out (its factor is 0.5), its pooled value stays,
// so it is chosen, recorded, printed and applied again.
TEST(Quillon, AnElementThatSurvivesInhibitionIsLearnedAgain) {
    Params p{3, 1, 1, 2, 2, 2, 26, 24, 3};
    QuillonCall call = makeCall(p);
    testsupport::SeededRandom random;
    testsupport::fillUniform(call.responses, random, 0.5f, 4);
    poolWithVindral(call);
    testsupport::fillEach(call.overlap, [] { return 0.0; });
    const int side = 4 * p.filterHalf + 1, centre = (side * side) / 2;
    for (int a = 0; a < 3; ++a) minihost::doubleData(mxGetCell(call.overlap.cells.get(), a + 3 * a))[centre] = 0.5;
    setTables(call, Tables{{1, 2}, {0, 100}, {0.25, 0.5}});
    State before = capture(call);
    minihost::CallResult result = runQuillon(call);
    ASSERT_FALSE(result.failed) << result.errorMessage;
    State after = capture(call);
    for (int f = 0; f < 5; ++f) {
        EXPECT_EQ(after.elements[f][1], after.elements[f][0]);
        EXPECT_EQ(after.elements[f][2], after.elements[f][0]);
    }
    std::string line = elementLine(0, int(after.elements[0][0]), int(after.elements[1][0]), int(after.elements[2][0]),
                                   after.elements[3][0]);
    EXPECT_EQ(result.printed, line + "1" + line.substr(1) + "2" + line.substr(1));
    int k = int(after.elements[1][0]) - 1 + (int(after.elements[2][0]) - 1) * 13;
    for (int image = 0; image < 2; ++image) {
        float r = before.pooled[image + 2 * int(after.elements[0][0])][k];
        double gain = after.elements[3][0] * r - after.elements[4][0];
        EXPECT_EQ(after.scores[image], ((0.5 + gain) + gain) + gain);
    }
}

TEST(Quillon, AnElementCountOfZeroOrLessStillLearnsOne) {
    for (int elementCount : {0, -4}) {
        SCOPED_TRACE("elementCount " + std::to_string(elementCount));
        QuillonCall call = makeCall(Params{2, 0, 0, 1, 1, 1, 12, 12, elementCount});
        setPooled(call, 0, 1, 7, 8, 1.5f);
        minihost::CallResult result = runQuillon(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_EQ(result.printed, elementLine(0, 1, 7, 8, 15));
        EXPECT_EQ(capture(call).elements, (std::vector<std::vector<double>>{{1}, {7}, {8}, {15}, {2.5}}));
    }
}

// ---------------------------------------------------------------- no candidate

void expectRefusedUnchanged(const QuillonCall& call, const std::vector<const mxArray*>& args, const std::string& id,
                            int nlhs = 0) {
    State before = capture(call);
    minihost::CallResult result = callPlugin(minihost::loadPlugin("quillon"), args, nlhs);
    EXPECT_TRUE(result.failed);
    EXPECT_FALSE(result.escaped);
    EXPECT_EQ(result.errorId, id) << result.errorMessage;
    EXPECT_EQ(result.printed, "");
    EXPECT_TRUE(sameState(capture(call), before));
}

TEST(Quillon, RefusesWhenNoElementCanBeChosen) {
    // Maps of 5 x 5 with h 2 and one shift step leave no pooled position in the window.
    QuillonCall small = makeCall(Params{2, 1, 0, 1, 2, 1, 5, 5, 1});
    testsupport::fillEach(small.pooled, [] { return 1.0; });
    expectRefusedUnchanged(small, small.args(), "quillon:noCandidate");
    EXPECT_NE(runQuillon(small).errorMessage.find("too small for filterHalf 2, posShiftMax 1 and poolStep 1"),
              std::string::npos);

    // Inside the window every sum is NaN, -infinity or exactly -1e10; outside it they are large.
    QuillonCall none = makeCall(smallParams(3, 2));
    const float hopeless[] = {nan, -std::numeric_limits<float>::infinity(), noResponse};
    int draw = 0;
    testsupport::fillEach(none.pooled, [&] { return hopeless[draw++ % 3]; });
    setPooled(none, 0, 1, 3, 3, -5e9f);  // -5e9 + (-5e9) is exactly -1e10
    setPooled(none, 1, 1, 3, 3, -5e9f);
    for (int image = 0; image < 2; ++image) {
        setPooled(none, image, 0, 2, 4, 8);
        setPooled(none, image, 2, 11, 4, 8);
    }
    expectRefusedUnchanged(none, none.args(), "quillon:noCandidate");
}

// A later selection that finds nothing keeps the previous element and applies it again.
TEST(Quillon, ALaterElementWithoutCandidateRepeatsThePreviousOne) {
    QuillonCall call = makeCall(Params{2, 0, 0, 1, 1, 1, 12, 12, 2});
    testsupport::fillEach(call.pooled, [] { return noResponse; });
    testsupport::fillEach(call.responses, [] { return nan; });
    setPooled(call, 0, 1, 6, 7, 4);
    for (int a = 0; a < 2; ++a) minihost::doubleData(mxGetCell(call.overlap.cells.get(), a + 2 * a))[12] = 0.0;
    minihost::CallResult result = runQuillon(call);
    ASSERT_FALSE(result.failed) << result.errorMessage;
    // Inhibition wiped the only candidate back to -1e10, so the second element is the first
    // again, with mean -1e10 (below every key) and no stamp.
    EXPECT_EQ(result.printed, elementLine(0, 1, 6, 7, 20) + elementLine(1, 1, 6, 7, 0));
    State s = capture(call);
    EXPECT_EQ(s.pooled[1][5 + 6 * 12], noResponse);
    EXPECT_EQ(s.scores[0], (0.5 + (20.0 * 4 - 4)) + (0.0 * double(noResponse) - 0));
}

// ---------------------------------------------------------------- other refusals

TEST(Quillon, RefusesMalformedCallsBeforeWritingAnything) {
    using Spoil = std::function<void(std::vector<const mxArray*>&, QuillonCall&, std::vector<Array>&)>;
    auto put = [](int position, auto make) -> Spoil {
        return [=](auto& args, auto& call, auto& keep) {
            keep.push_back(make(call));
            args[position - 1] = keep.back().get();
        };
    };
    auto number = [&](int position, double value) { return put(position, [=](auto&) { return minihost::scalar(value); }); };
    auto doubles = [](int count) { return [=](auto&) { return minihost::doubles(1, count); }; };
    auto singles = [](int count) { return [=](auto&) { return minihost::singles(1, count); }; };
    auto cell = [](MapGrid QuillonCall::*grid, int index, auto make) -> Spoil {
        return [=](auto&, auto& call, auto&) { minihost::putCell((call.*grid).cells.get(), index, make(call)); };
    };
    auto traceAt = [](int image, int orient, int row, int col, float value) -> Spoil {
        return [=](auto&, auto& call, auto&) {
            call.traces.singles(image, orient)[(row - 1) + (col - 1) * call.pooledRows] = value;
        };
    };
    auto shared = [](auto source) { return [=](auto& call) { return minihost::sharedCopy(source(call)); }; };
    struct Case {
        const char* what;
        const char* id;
        Spoil spoil;
    };
    // 2 images, 3 orientations, shifts 1/1 (9 slots), step 2, h 1, 16 x 14 maps (8 x 7
    // pooled), 2 elements; the window is pooled rows 3 ... 5 and columns 3 ... 4.
    const std::vector<Case> cases = {
        {"26 arguments", "quillon:tooFewArguments", [](auto& args, auto&, auto&) { args.pop_back(); }},
        {"no orientations", "quillon:outOfRange", number(1, 0)},
        {"negative position range", "quillon:outOfRange", number(2, -1)},
        {"negative orientation range", "quillon:outOfRange", number(3, -1)},
        {"orientation range of orientCount", "quillon:outOfRange", number(3, 3)},
        {"unused argument not a scalar", "quillon:notScalar", put(4, doubles(2))},
        {"pool step 0", "quillon:outOfRange", number(5, 0.49)},
        {"element count not a scalar", "quillon:notScalar", put(6, doubles(0))},
        {"no images", "quillon:outOfRange", number(7, 0)},
        {"negative map rows", "quillon:outOfRange", number(8, -1)},
        {"maps beyond 32-bit indexing", "quillon:tooLarge", number(9, 2e9)},
        {"shift tables beyond the slot limit", "quillon:tooLarge", number(2, 3e6)},
        {"displacement beyond 32 bits", "quillon:tooLarge",
         [](auto& args, auto&, auto& keep) {
             keep.push_back(minihost::scalar(2));
             args[1] = keep.back().get();
             keep.push_back(minihost::scalar(1.1e9));
             args[4] = keep.back().get();
         }},
        {"response maps not a cell", "quillon:notCell", put(10, singles(224))},
        {"too few response cells", "quillon:tooFewCells", put(10, [](auto&) { return minihost::cellArray(2, 2); })},
        {"double response map", "quillon:badCell", cell(&QuillonCall::responses, 5, [](auto&) { return minihost::doubles(224, 1); })},
        {"short response map", "quillon:tooFewValues", cell(&QuillonCall::responses, 1, singles(223))},
        {"short pooled map", "quillon:tooFewValues", cell(&QuillonCall::pooled, 4, singles(55))},
        {"short trace map", "quillon:tooFewValues", cell(&QuillonCall::traces, 0, singles(55))},
        {"negative filterHalf", "quillon:outOfRange", number(13, -1)},
        {"filterHalf beyond its limit", "quillon:outOfRange", number(13, filterHalfLimit + 1)},
        {"single overlap factors", "quillon:badCell", cell(&QuillonCall::overlap, 8, [](auto&) { return minihost::singles(25, 1); })},
        {"short overlap factors", "quillon:tooFewValues", cell(&QuillonCall::overlap, 3, doubles(24))},
        {"too few overlap cells", "quillon:tooFewCells", put(14, [](auto&) { return minihost::cellArray(2, 4); })},
        {"short stamp", "quillon:tooFewValues", cell(&QuillonCall::stamps, 2, doubles(8))},
        {"single stamp", "quillon:badCell", cell(&QuillonCall::stamps, 0, singles(9))},
        {"empty tables", "quillon:outOfRange", number(16, 0)},
        {"short weight table", "quillon:tooFewValues", number(16, 4)},
        {"single weight table", "quillon:wrongClass", put(17, singles(3))},
        {"keys out of order", "quillon:outOfRange", put(18, [](auto&) { return minihost::doubles(1, 3, {0, 2, 1}); })},
        {"NaN key", "quillon:outOfRange", put(18, [](auto&) { return minihost::doubles(1, 3, {0, NAN, 2}); })},
        {"infinite key", "quillon:outOfRange", put(18, [](auto&) { return minihost::doubles(1, 3, {0, 1, INFINITY}); })},
        {"short bias table", "quillon:tooFewValues", put(19, doubles(2))},
        {"single element orientations", "quillon:wrongClass", put(20, singles(2))},
        {"short element rows", "quillon:tooFewValues", put(21, doubles(1))},
        {"short element columns", "quillon:tooFewValues", put(22, doubles(1))},
        {"short element weights", "quillon:tooFewValues", put(23, doubles(1))},
        {"no element biases", "quillon:tooFewValues", put(24, doubles(0))},
        {"one slot for 0 elements is the least", "quillon:tooFewValues",
         [](auto& args, auto&, auto& keep) {
             keep.push_back(minihost::scalar(0));
             args[5] = keep.back().get();
             keep.push_back(minihost::doubles(1, 0));
             args[19] = keep.back().get();
         }},
        {"short image scores", "quillon:tooFewValues", put(25, doubles(1))},
        {"single image scores", "quillon:wrongClass", put(25, singles(2))},
        {"double common sketch", "quillon:wrongClass", put(26, doubles(224))},
        {"short common sketch", "quillon:tooFewValues", put(26, singles(223))},
        {"image sketches not a cell", "quillon:notCell", put(27, singles(224))},
        {"one image sketch", "quillon:tooFewCells", put(27, [](auto&) { return minihost::cellArray(1, 1); })},
        {"double image sketch", "quillon:badCell", cell(&QuillonCall::sketches, 1, [](auto&) { return minihost::doubles(224, 1); })},
        {"trace of a half slot in the window", "quillon:outOfRange", traceAt(1, 2, 5, 4, 0.5f)},
        {"trace beyond the slots in the window", "quillon:outOfRange", traceAt(0, 0, 3, 3, 9)},
        {"negative trace in the window", "quillon:outOfRange", traceAt(1, 1, 4, 3, -1)},
        {"NaN trace in the window", "quillon:outOfRange", traceAt(0, 1, 5, 3, nan)},
        {"image sketch shares the common sketch", "quillon:sharedData",
         cell(&QuillonCall::sketches, 0, shared([](auto& call) { return call.commonSketch.get(); }))},
        {"element rows share element columns", "quillon:sharedData",
         put(21, shared([](auto& call) { return call.elementY.get(); }))},
        {"image scores share the weight table", "quillon:sharedData",
         put(25, shared([](auto& call) { return call.weights.get(); }))},
        {"pooled map shares a response map", "quillon:sharedData",
         cell(&QuillonCall::pooled, 2, shared([](auto& call) { return call.responses.map(0, 0); }))},
        {"trace maps share one array", "quillon:sharedData",
         cell(&QuillonCall::traces, 3, shared([](auto& call) { return call.traces.map(0, 0); }))},
        {"response maps share one array", "quillon:sharedData",
         cell(&QuillonCall::responses, 1, shared([](auto& call) { return call.responses.map(0, 2); }))},
    };
    testsupport::SeededRandom random;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QuillonCall call = makeCall(Params{3, 1, 1, 2, 1, 2, 16, 14, 2});
        testsupport::fillUniform(call.responses, random, 0, 3);
        poolWithVindral(call);
        std::vector<const mxArray*> args = call.args();
        std::vector<Array> keep;
        c.spoil(args, call, keep);
        expectRefusedUnchanged(call, args, c.id);
    }

    QuillonCall call = makeCall(Params{3, 1, 1, 2, 1, 2, 16, 14, 2});
    testsupport::fillUniform(call.responses, random, 0, 3);
    poolWithVindral(call);
    expectRefusedUnchanged(call, call.args(), "quillon:tooManyOutputs", 1);
    minihost::CallResult keyRefusal = [&] {
        Array keys = minihost::doubles(1, 3, {0, 2, 1});
        std::vector<const mxArray*> args = call.args();
        args[17] = keys.get();
        return callPlugin(minihost::loadPlugin("quillon"), args);
    }();
    EXPECT_EQ(keyRefusal.errorMessage,
              "argument 18 (meanResponseTable), entry 3: expected mean responses in ascending order, none below the "
              "entry before; got 1");
    // Trace values outside the window are never read, so anything there is accepted; the
    // argument at position 4 may hold any value, NaN included.
    call.traces.singles(1, 2)[0] = 0.5f;
    call.traces.singles(0, 0)[7 + 6 * 8] = nan;
    call.unused = minihost::scalar(NAN);
    minihost::CallResult accepted = runQuillon(call);
    EXPECT_FALSE(accepted.failed) << accepted.errorMessage;
}

// A shift range out of all proportion to the maps is refused before any allocation.
TEST(Quillon, RefusesShiftTablesThatOutweighTheMaps) {
    // 2 images of 3 orientations of 16 x 14 values: 1344 values against 3 * 60001 * 3 slots.
    QuillonCall call = makeCall({3, 30000, 1, 2, 1, 2, 16, 14, 2});
    minihost::CallResult result = callPlugin(minihost::loadPlugin("quillon"), call.args());
    EXPECT_EQ(result.errorId, "quillon:tooLarge") << result.errorMessage;
    EXPECT_EQ(result.blocksAllocated, 0);
}

}  // namespace
