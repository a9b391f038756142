// tarrowveto through the test host: with nothing inhibited it draws what tarrow draws and adds
// the plain score terms; a wiped-out source sends the next element to its next-best match and
// leaves the pooled maps as a fresh pooling of the inhibited responses; scores accumulate in
// single precision, the normalizer is read at the template's centre; the implementer's
// choices (no elements, NaN anchors, a zero normalizer); random calls against the shared
// routines run in the documented order; and refusals that write nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "frame.h"
#include "inhibit.h"
#include "inhibit_work.h"
#include "minihost.h"
#include "placement.h"
#include "shifts.h"
#include "recovery_call.h"
#include "test_support.h"

using minihost::Array;
using minihost::callPlugin;
using testsupport::MapGrid;
using testsupport::snapshot;
using testsupport::saturatedAsWritten;

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();

using Params = testsupport::RecoveryParams;

// One call's arguments: the shared recovery arguments and what scoring and inhibition add,
// turned into host arrays by args(); the grids and imageScores are built once by makeCall.
struct VetoCall : testsupport::RecoveryCall {
    std::vector<double> weights, biases;
    double templateRows = 0, templateCols = 0;
    MapGrid responses, overlap, normalizers;
    Array scores;

    std::vector<const mxArray*> args() {
        held.clear();
        return {number(static_cast<double>(rows.size())), row(rowsGiven), row(colsGiven), number(q.orientCount),
                number(q.posShiftMax), number(q.orientShiftMax), number(q.poolStep), number(q.filterHalf),
                stamps.cells.get(), number(elementCount), row(orients), row(rowOffsets), row(colOffsets), row(weights),
                row(biases), responses.cells.get(), pooled.cells.get(), traces.cells.get(), sketches.cells.get(),
                row(anchorRows), row(anchorCols), number(saturationLevel), number(templateRows), number(templateCols),
                overlap.cells.get(), scores.get(), normalizers.cells.get()};
    }
    minihost::CallResult run() { return callPlugin(minihost::loadPlugin("tarrowveto"), args()); }
    float* score() const { return minihost::singleData(scores.get()); }
    float& responseAt(int image, int orient, int x, int y) const {
        return responses.singles(image, orient)[cmIndex(x, y, rows[image], cols[image])];
    }
    void setElements(const std::vector<double>& o, const std::vector<double>& dr, const std::vector<double>& dc,
                     const std::vector<double>& w, const std::vector<double>& b) {
        orients = o;
        rowOffsets = dr;
        colOffsets = dc;
        weights = w;
        biases = b;
        elementCount = static_cast<double>(o.size());
    }
    // Pools the responses into the pooled and trace maps with vindral.
    void pool() {
        std::vector<const mxArray*> all = args();
        std::vector<const mxArray*> vindralArgs(all.begin(), all.begin() + 7);
        vindralArgs.insert(vindralArgs.end(), {responses.cells.get(), pooled.cells.get(), traces.cells.get()});
        minihost::CallResult result = callPlugin(minihost::loadPlugin("vindral"), vindralArgs);
        ASSERT_FALSE(result.failed) << result.errorMessage;
    }
};

// The shared recovery arguments; every overlap factor is 1 and every normalizer value 1;
// responses are 0 until set. Maps and sketches have `spare` extra values.
VetoCall makeCall(const std::vector<double>& rowsGiven, const std::vector<double>& colsGiven, Params q, int spare = 0) {
    VetoCall call;
    testsupport::setUpRecoveryCall(call, rowsGiven, colsGiven, q, spare);
    int imageCount = static_cast<int>(rowsGiven.size());
    int reachSide = 4 * q.filterHalf + 1;
    int orients = q.orientCount;
    call.responses = testsupport::makeGrid(imageCount, orients, call.rows, call.cols, mxSINGLE_CLASS, spare);
    call.overlap = testsupport::makeGrid(orients, orients, std::vector<int>(orients, reachSide),
                                         std::vector<int>(orients, reachSide), mxDOUBLE_CLASS);
    testsupport::fillEach(call.overlap, [] { return 1.0; });
    call.normalizers = testsupport::makeGrid(imageCount, 1, call.rows, call.cols, mxSINGLE_CLASS, spare);
    testsupport::fillEach(call.normalizers, [] { return 1.0; });
    call.scores = minihost::singles(1, imageCount + spare);
    return call;
}

// The score after adding w * t - b to a single-precision score.
float plusTerm(float score, double w, float t, double b) {
    return static_cast<float>(score + (w * static_cast<double>(t) - b));
}

std::vector<float> scoreValues(const VetoCall& call) {
    return std::vector<float>(call.score(), call.score() + mxGetNumberOfElements(call.scores.get()));
}

// A copy of a grid with data of its own.
MapGrid cloneGrid(const MapGrid& grid) {
    MapGrid copy{minihost::cellArray(grid.imageCount, grid.orientCount), grid.imageCount, grid.orientCount};
    for (int c = 0; c < grid.imageCount * grid.orientCount; ++c) {
        mxArray* original = mxGetCell(grid.cells.get(), c);
        Array cell(mxCreateNumericMatrix(mxGetM(original), mxGetN(original), mxIsSingle(original) ? mxSINGLE_CLASS : mxDOUBLE_CLASS, mxREAL));
        size_t bytes = mxGetNumberOfElements(original) * (mxIsSingle(original) ? sizeof(float) : sizeof(double));
        std::memcpy(mxGetData(cell.get()), mxGetData(original), bytes);
        minihost::putCell(copy.cells.get(), c, std::move(cell));
    }
    return copy;
}

struct Outcome {
    std::vector<std::vector<float>> responses, pooled, traces, sketches;
    std::vector<float> scores;
};

Outcome outcomeOf(const VetoCall& call) {
    return {snapshot<float>(call.responses), snapshot<float>(call.pooled), snapshot<float>(call.traces),
            snapshot<float>(call.sketches), scoreValues(call)};
}

// The call as the shared routines carry it out, step by step in the documented order, on copies
// of the call's maps.
Outcome recoverStepByStep(const VetoCall& call) {
    const Params& q = call.q;
    int imageCount = static_cast<int>(call.rows.size());
    MapGrid responses = cloneGrid(call.responses), pooled = cloneGrid(call.pooled), traces = cloneGrid(call.traces),
            sketches = cloneGrid(call.sketches);
    std::vector<float> scores = scoreValues(call);
    std::vector<float*> responseTable = testsupport::cellTable<float>(responses), pooledTable = testsupport::cellTable<float>(pooled),
                        traceTable = testsupport::cellTable<float>(traces), sketchTable = testsupport::cellTable<float>(sketches);
    std::vector<double*> overlapTable = testsupport::cellTable<double>(call.overlap), stampTable = testsupport::cellTable<double>(call.stamps);
    ShiftTable shifts = buildShiftTables(q.orientCount, q.posShiftMax, q.orientShiftMax, q.poolStep);
    InhibitGrids grids{responseTable.data(), pooledTable.data(), traceTable.data(), overlapTable.data(), imageCount,
                       q.orientCount, q.filterHalf, q.posShiftMax, q.poolStep};
    int centerRowOffset = static_cast<int>(std::floor((roundHalfUp(call.templateRows) / 2.0) / q.poolStep));
    int centerColOffset = static_cast<int>(std::floor((roundHalfUp(call.templateCols) / 2.0) / q.poolStep));
    int elementCount = std::max(0, roundHalfUp(call.elementCount));
    for (int image = 0; image < imageCount; ++image) {
        int rows = call.rows[image], cols = call.cols[image];
        float* sketch = sketchTable[image];
        std::fill(sketch, sketch + rows * cols, 0.0f);
        if (std::isnan(call.anchorRows[image]) || std::isnan(call.anchorCols[image])) continue;
        ImageExtent extent{rows, cols, call.pooledRows[image], call.pooledCols[image],
                           computePoolWindow(q.filterHalf, q.posShiftMax, q.poolStep, rows, cols)};
        int64_t ar = roundHalfUp(call.anchorRows[image]), ac = roundHalfUp(call.anchorCols[image]);
        float n = normalizerAt(call.normalizers.singles(image, 0), rows, cols, (ar + centerRowOffset) * q.poolStep,
                               (ac + centerColOffset) * q.poolStep);
        for (int k = 0; k < elementCount; ++k) {
            int o = roundHalfUp(call.orients[k]);
            int64_t x = ar + roundHalfUp(call.rowOffsets[k]), y = ac + roundHalfUp(call.colOffsets[k]);
            if (x < 1 || x > extent.pooledRows || y < 1 || y > extent.pooledCols) continue;
            int p = cmIndex(x, y, extent.pooledRows, extent.pooledCols), c = image + o * imageCount;
            int slot = roundHalfUp(traceTable[c][p]);
            int os = shifts.shiftedOrient[o][slot];
            int xs = x * q.poolStep + shifts.rowShift[o][slot], ys = y * q.poolStep + shifts.colShift[o][slot];
            float r = pooledTable[c][p];
            if (!(r > 0)) continue;
            float t = saturatedAsWritten(static_cast<float>(double(r) / n), call.saturationLevel);
            stampElement(sketch, rows, cols, stampTable.data(), q.filterHalf, os, xs, ys, std::sqrt(double(t)));
            inhibitAround(shifts, grids, extent, image, os, xs, ys, nullptr);
            scores[image] = plusTerm(scores[image], call.weights[k], t, call.biases[k]);
        }
    }
    freeShiftTables(shifts, q.orientCount);
    return {snapshot<float>(responses), snapshot<float>(pooled), snapshot<float>(traces), snapshot<float>(sketches),
            scores};
}

void expectSameOutcome(const Outcome& actual, const Outcome& expected) {
    EXPECT_TRUE(testsupport::sameBitsEverywhere(actual.responses, expected.responses)) << "responses";
    EXPECT_TRUE(testsupport::sameBitsEverywhere(actual.pooled, expected.pooled)) << "pooled maps";
    EXPECT_TRUE(testsupport::sameBitsEverywhere(actual.traces, expected.traces)) << "trace maps";
    EXPECT_TRUE(testsupport::sameBitsEverywhere(actual.sketches, expected.sketches)) << "sketches";
    EXPECT_TRUE(testsupport::sameBitsEverywhere({actual.scores}, {expected.scores})) << "scores";
}

// Random template of `count` elements, offsets mostly landing on maps of up to 15 pooled rows.
void randomElements(VetoCall& call, int count, testsupport::SeededRandom& random) {
    std::vector<double> o, dr, dc, w, b;
    for (int k = 0; k < count; ++k) {
        o.push_back(random.integer(0, call.q.orientCount - 1));
        dr.push_back(random.integer(-2, 14) + 0.5 * random.integer(-1, 1));
        dc.push_back(random.integer(-2, 14) + 0.5 * random.integer(-1, 1));
        w.push_back(random.uniform(-1.0f, 3.0f));
        b.push_back(random.uniform(-0.5f, 0.5f));
    }
    call.setElements(o, dr, dc, w, b);
}

// ---------------------------------------------------------------- without inhibition

TEST(Tarrowveto, AllOnesOverlapDrawsWhatTarrowDrawsAndAddsThePlainTerms) {
    testsupport::SeededRandom random;
    const Params q{6, 2, 1, 2, 2};
    VetoCall call = makeCall({33, 26}, {28, 31}, q, 1);
    testsupport::fillUniform(call.responses, random, -1.0f, 3.0f);
    call.pool();
    randomElements(call, 25, random);
    call.anchorRows = {1, -1.5};
    call.anchorCols = {-0.5, 2};
    call.score()[0] = 0.25f;
    call.score()[1] = -1.0f;
    Outcome before = outcomeOf(call);

    // tarrow on the same maps, into sketches of its own.
    MapGrid tarrowSketches = cloneGrid(call.sketches);
    std::vector<const mxArray*> all = call.args();
    std::vector<const mxArray*> tarrowArgs(all.begin(), all.begin() + 13);
    tarrowArgs.insert(tarrowArgs.end(), {call.pooled.cells.get(), call.traces.cells.get(), tarrowSketches.cells.get(),
                                         all[19], all[20], all[21]});
    ASSERT_FALSE(callPlugin(minihost::loadPlugin("tarrow"), tarrowArgs).failed);

    minihost::CallResult result = call.run();
    ASSERT_FALSE(result.failed) << result.errorMessage;
    EXPECT_EQ(result.blocksLeft, 7);  // the cell pointer tables; the shift tables are freed
    EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.sketches), snapshot<float>(tarrowSketches)));
    EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.responses), before.responses));
    EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.pooled), before.pooled));
    EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.traces), before.traces));
    std::vector<float> expected = before.scores;
    int terms = 0;
    for (int image = 0; image < 2; ++image) {
        int ar = roundHalfUp(call.anchorRows[image]), ac = roundHalfUp(call.anchorCols[image]);
        for (int k = 0; k < 25; ++k) {
            int x = ar + roundHalfUp(call.rowOffsets[k]), y = ac + roundHalfUp(call.colOffsets[k]);
            if (x < 1 || x > call.pooledRows[image] || y < 1 || y > call.pooledCols[image]) continue;
            float r = call.pooledAt(image, static_cast<int>(call.orients[k]), x, y);
            if (!(r > 0)) continue;
            expected[image] = plusTerm(expected[image], call.weights[k], saturatedAsWritten(r, 1.5), call.biases[k]);
            ++terms;
        }
    }
    EXPECT_GT(terms, 10);
    EXPECT_EQ(scoreValues(call), expected);
}

TEST(Tarrowveto, ScoresAccumulateInSinglePrecisionAfterEveryElement) {
    // Start at 5; four drawn elements add 3e-7 each (w = 0, b = -3e-7). In single precision
    // each addition moves 5 up by one unit in the last place (4.77e-7); summed in double first
    // the four would add 2.5 units only.
    VetoCall call = makeCall({12, 12}, {12, 12}, {1, 0, 0, 1, 0}, 1);
    testsupport::fillEach(call.pooled, [] { return 1.0; });
    call.setElements({0, 0, 0, 0}, {1, 2, 3, 4}, {1, 2, 3, 4}, {0, 0, 0, 0}, {-3e-7, -3e-7, -3e-7, -3e-7});
    call.anchorRows = {0, 0};
    call.anchorCols = {0, nan};
    call.score()[0] = 5.0f;
    call.score()[1] = 5.0f;
    call.score()[2] = 5.0f;
    ASSERT_FALSE(call.run().failed);
    float expected = 5.0f;
    for (int k = 0; k < 4; ++k) expected = plusTerm(expected, 0, 0.0f, -3e-7);
    ASSERT_NE(expected, static_cast<float>(5.0 + 4 * 3e-7));
    EXPECT_EQ(scoreValues(call), (std::vector<float>{expected, 5.0f, 5.0f}));
}

TEST(Tarrowveto, NormalizerIsReadOnceAtTheTemplatesCentre) {
    // poolStep 2, template 9 x 13: the centre lies floor(4.5/2) = 2 rows and floor(6.5/2) = 3
    // columns from the anchor. Anchor (3, 4) puts it at pooled (5, 7), pixel (10, 14).
    struct Case {
        const char* what;
        double anchorRow;
        float centreValue;
        float n;
    };
    const std::vector<Case> cases = {{"inside", 3, 2.5f, 2.5f},
                                     {"zero, used as 1", 3, 0.0f, 1.0f},
                                     {"centre below the image", 9, 2.5f, 1.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VetoCall call = makeCall({20}, {30}, {1, 0, 0, 2, 1});
        call.templateRows = 9;
        call.templateCols = 13;
        testsupport::fillEach(call.normalizers, [] { return 7.0; });
        call.normalizers.singles(0, 0)[cmIndex(10, 14, 20, 30)] = c.centreValue;
        call.anchorRows = {c.anchorRow};
        call.anchorCols = {4};
        call.setElements({0, 0}, {-2, 0}, {0, 0}, {2, 0.5}, {0.25, 1});
        call.pooledAt(0, 0, c.anchorRow - 2, 4) = 3.0f;
        call.pooledAt(0, 0, c.anchorRow, 4) = 0.7f;
        ASSERT_FALSE(call.run().failed);
        float first = saturatedAsWritten(static_cast<float>(3.0 / c.n), 1.5), second = saturatedAsWritten(static_cast<float>(0.7f / double(c.n)), 1.5);
        EXPECT_EQ(call.score()[0], plusTerm(plusTerm(0.0f, 2, first, 0.25), 0.5, second, 1));
        // The draw uses the normalized value too.
        EXPECT_EQ(call.sketch(0)[cmIndex(2 * c.anchorRow - 4, 8, 20, 30)], static_cast<float>(call.stamps.doubles(0, 0)[4] * std::sqrt(double(first))));
    }
}

// ---------------------------------------------------------------- inhibition between elements

TEST(Tarrowveto, AWipedOutSourceSendsTheNextElementToItsNextBestMatch) {
    // One orientation, posShiftMax 1, poolStep 2, h = 1: slots 0, 1, 2 read pixel rows
    // 2x, 2x - 2, 2x + 2. Element 0 at pooled (6, 6) traces slot 2, pixel (14, 12); element 1
    // at (7, 6) traces slot 0, the same pixel. The overlap factor at the element's own pixel
    // is 0 and 1 elsewhere, so element 0 wipes out that response and the pooled value of
    // element 1 is searched again: it moves to pixel (16, 12) (value 3) when that is positive,
    // and element 1 is skipped when all that is left is negative.
    for (bool nextIsPositive : {true, false}) {
        SCOPED_TRACE(nextIsPositive ? "next-best match positive" : "next-best match negative");
        testsupport::SeededRandom random;
        VetoCall call = makeCall({30}, {30}, {1, 1, 0, 2, 1});
        testsupport::fillUniform(call.responses, random, 0.0f, 0.5f);
        call.responseAt(0, 0, 14, 12) = 5.0f;
        call.responseAt(0, 0, 16, 12) = nextIsPositive ? 3.0f : -1.0f;
        call.responseAt(0, 0, 12, 12) = nextIsPositive ? 1.0f : -2.0f;
        call.overlap.doubles(0, 0)[cmIndex(3, 3, 5, 5)] = 0.0;
        call.pool();
        ASSERT_EQ(call.traceAt(0, 0, 6, 6), 2.0f);
        ASSERT_EQ(call.traceAt(0, 0, 7, 6), 0.0f);
        call.setElements({0, 0}, {3, 4}, {3, 3}, {1, 2}, {0.5, 0.25});
        call.anchorRows = {3};
        call.anchorCols = {3};
        call.score()[0] = 0.0f;
        auto responsesBefore = snapshot<float>(call.responses);
        ASSERT_FALSE(call.run().failed);

        float t0 = saturatedAsWritten(5.0f, 1.5), t1 = saturatedAsWritten(3.0f, 1.5);
        float expectedScore = plusTerm(0.0f, 1, t0, 0.5);
        if (nextIsPositive) expectedScore = plusTerm(expectedScore, 2, t1, 0.25);
        EXPECT_EQ(call.score()[0], expectedScore);
        std::vector<float> sketch(900, 0.0f);
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                float stampValue = static_cast<float>((1 + ((dx + 1) + (dy + 1) * 3) / 100.0) * std::sqrt(double(t0)));
                sketch[cmIndex(14 + dx, 12 + dy, 30, 30)] = stampValue;
            }
        }
        for (int dy = -1; dy <= 1 && nextIsPositive; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                float stampValue = static_cast<float>((1 + ((dx + 1) + (dy + 1) * 3) / 100.0) * std::sqrt(double(t1)));
                float& pixel = sketch[cmIndex(16 + dx, 12 + dy, 30, 30)];
                pixel = std::max(pixel, stampValue);
            }
        }
        EXPECT_EQ(snapshot<float>(call.sketches)[0], sketch);
        // Only the drawn elements' own responses are gone.
        responsesBefore[0][cmIndex(14, 12, 30, 30)] = 0.0f;
        if (nextIsPositive) responsesBefore[0][cmIndex(16, 12, 30, 30)] = 0.0f;
        EXPECT_EQ(snapshot<float>(call.responses), responsesBefore);
        // The repaired pooled maps are what a fresh pooling of the inhibited responses gives.
        auto pooledAfter = snapshot<float>(call.pooled);
        auto tracesAfter = snapshot<float>(call.traces);
        call.pool();
        EXPECT_TRUE(testsupport::sameBitsEverywhere(pooledAfter, snapshot<float>(call.pooled)));
        EXPECT_TRUE(testsupport::sameBitsEverywhere(tracesAfter, snapshot<float>(call.traces)));
        EXPECT_EQ(pooledAfter[0][cmIndex(7, 6, 15, 15)], nextIsPositive ? 1.0f : call.responseAt(0, 0, 14, 12));
    }
}

// ---------------------------------------------------------------- the implementer's choices

TEST(Tarrowveto, NaNAnchorOrNoElementsOnlyClearTheSketch) {
    testsupport::SeededRandom random;
    for (bool noElements : {false, true}) {
        SCOPED_TRACE(noElements ? "no elements" : "NaN anchors");
        VetoCall call = makeCall({16, 14}, {12, 18}, {2, 1, 1, 2, 1}, 2);
        testsupport::fillUniform(call.responses, random, 0.0f, 2.0f);
        call.pool();
        testsupport::fillEach(call.sketches, [] { return 3.0; });
        call.score()[0] = 1.0f;
        if (noElements) {
            call.elementCount = 0;  // element arrays empty
            call.anchorRows = {2, 1};
        } else {
            randomElements(call, 6, random);
            call.anchorRows = {nan, 1};
            call.anchorCols = {1, nan};
            for (int o = 0; o < 2; ++o) call.traceAt(0, o, 4, 3) = 55.0f;  // never read
        }
        Outcome before = outcomeOf(call);
        ASSERT_FALSE(call.run().failed);
        Outcome after = outcomeOf(call);
        expectSameOutcome({before.responses, before.pooled, before.traces,
                           {std::vector<float>(16 * 12, 0.0f), std::vector<float>(14 * 18, 0.0f)},
                           before.scores},
                          {after.responses, after.pooled, after.traces,
                           {std::vector<float>(after.sketches[0].begin(), after.sketches[0].end() - 2),
                            std::vector<float>(after.sketches[1].begin(), after.sketches[1].end() - 2)},
                           after.scores});
        EXPECT_EQ(after.sketches[0].back(), 3.0f);
    }
}

// Trace values are checked only where the call may read them: within reach of its elements.
// One element at pooled (5, 5) of a 40 x 40 pooled map; with filterHalf 1, posShiftMax 1 and
// poolStep 2 the reach is (2 + 2)/2 + 1 + 2 = 5 positions, so rows and columns 3 ... 10 of the
// window are read. A stray value at (30, 30) is never read: the call runs as with a slot
// there; one at (10, 10), the edge of the reach, is refused.
TEST(Tarrowveto, ChecksTraceValuesOnlyWithinReachOfItsElements) {
    auto callWithStray = [](int x, int y, float value) {
        testsupport::SeededRandom random;  // the same responses for every call
        VetoCall call = makeCall({80}, {80}, {2, 1, 1, 2, 1});
        testsupport::fillUniform(call.responses, random, 0.0f, 2.0f);
        call.pool();
        call.setElements({1}, {3}, {3}, {1}, {0});
        call.anchorRows = {2};
        call.anchorCols = {2};
        if (value >= 0.0f) call.traceAt(0, 1, x, y) = value;
        return call;
    };
    VetoCall stray = callWithStray(30, 30, 77.0f);
    VetoCall clean = callWithStray(30, 30, 0.0f);
    minihost::CallResult strayResult = stray.run();
    ASSERT_FALSE(strayResult.failed) << strayResult.errorMessage;
    ASSERT_FALSE(clean.run().failed);
    Outcome strayOutcome = outcomeOf(stray);
    strayOutcome.traces[1][cmIndex(30, 30, 40, 40)] = 0.0f;
    expectSameOutcome(strayOutcome, outcomeOf(clean));
    EXPECT_EQ(callWithStray(10, 10, 77.0f).run().errorId, "tarrowveto:outOfRange");
    EXPECT_FALSE(callWithStray(11, 3, 77.0f).run().failed);
}

// ---------------------------------------------------------------- random calls

// A random call: up to three images of odd sizes, whole-number responses with now and then NaN
// (a signalling one changes bits under a factor of 1, so one work must keep track of it across
// images of different sizes), an infinity or -0, pooled by vindral; overlap factors mostly 1 or
// 0.5, often exactly 0, half the cells all 1 (which change only NaN responses); a random
// template, anchors (sometimes NaN), normalizers, sketches and scores.
VetoCall randomCall(testsupport::SeededRandom& random) {
    int orientCount = random.integer(1, 6);
    Params q{orientCount, random.integer(0, 2), random.integer(0, std::min(orientCount - 1, 2)), random.integer(1, 3),
             random.integer(0, 3)};
    std::vector<double> rowsGiven, colsGiven;
    for (int image = random.integer(0, 3); image > 0; --image) {
        rowsGiven.push_back(random.integer(0, 34) - 0.5 * random.integer(0, 1));
        colsGiven.push_back(random.integer(0, 34) - 0.5 * random.integer(0, 1));
    }
    VetoCall call = makeCall(rowsGiven, colsGiven, q, 2);
    const float special[] = {nan, std::numeric_limits<float>::signaling_NaN(), std::numeric_limits<float>::infinity(),
                             -0.0f};
    testsupport::fillEach(call.responses, [&] {
        int draw = random.integer(0, 59);
        return draw < 4 ? special[draw] : std::floor(random.uniform(-2.0f, 5.0f));
    });
    call.pool();
    testsupport::fillEach(call.overlap, [&] {
        int draw = random.integer(0, 3);
        return draw == 0 ? 0.0 : draw == 1 ? 0.5 : 1.0;
    });
    int side = 4 * q.filterHalf + 1;
    for (int a = 0; a < orientCount; ++a) {
        for (int b = 0; b < orientCount; ++b) {
            if (random.integer(0, 1) == 0) std::fill_n(call.overlap.doubles(a, b), side * side, 1.0);
        }
    }
    testsupport::fillUniform(call.normalizers, random, 0.5f, 2.0f);
    randomElements(call, random.integer(0, 14), random);
    for (size_t image = 0; image < rowsGiven.size(); ++image) {
        call.anchorRows[image] = random.integer(0, 7) == 0 ? nan : random.integer(-3, 5) + 0.5 * random.integer(-1, 1);
        call.anchorCols[image] = random.integer(-3, 5);
    }
    call.templateRows = random.integer(0, 20);
    call.templateCols = random.integer(0, 20);
    call.saturationLevel = random.uniform(0.3f, 3.0f);
    testsupport::fillEach(call.sketches, [&] { return random.uniform(-1.0f, 1.0f); });
    for (size_t k = 0; k < mxGetNumberOfElements(call.scores.get()); ++k) call.score()[k] = random.uniform(-2.0f, 2.0f);
    return call;
}

// Makes the host's unset blocks hold `byte` for as long as it lives.
struct UnsetBytes {
    explicit UnsetBytes(unsigned char byte) { minihost::setUnsetByte(byte); }
    ~UnsetBytes() { minihost::setUnsetByte(minihost::defaultUnsetByte); }
};

TEST(Tarrowveto, MatchesTheSharedRoutinesRunInOrderBitForBit) {
    testsupport::SeededRandom random;
    // Working memory the host hands over unset holds, here, the flag of a block of responses
    // known to be free of NaN: the plug-in must clear it before inhibition trusts it, or a
    // signalling NaN under overlap factors of 1 would stay unquieted.
    UnsetBytes staleFlags(inhibition::nanFree);
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        VetoCall call = randomCall(random);
        Outcome expected = recoverStepByStep(call);
        minihost::CallResult result = call.run();
        ASSERT_FALSE(result.failed) << result.errorMessage;
        expectSameOutcome(outcomeOf(call), expected);
    }
}

// What tarrowvetoblock adds to a call: score maps (random, some placements ruled out at -1e10)
// and per image the bounds of the block scored again (sometimes NaN, infinite or beyond the
// anchors, half-integers rounded half up).
struct RescoreArgs {
    MapGrid scoreMaps;
    std::vector<double> firstRows, lastRows, firstCols, lastCols;
};

RescoreArgs randomRescore(const VetoCall& call, testsupport::SeededRandom& random) {
    RescoreArgs more;
    int poolStep = call.q.poolStep;
    std::vector<int> scoreRows, scoreCols;
    for (size_t image = 0; image < call.rows.size(); ++image) {
        scoreRows.push_back((roundHalfUp(call.templateRows) + call.rows[image]) / poolStep);
        scoreCols.push_back((roundHalfUp(call.templateCols) + call.cols[image]) / poolStep);
        auto bound = [&](int centre) {
            int draw = random.integer(0, 9);
            return draw == 0 ? nan : draw == 1 ? -INFINITY : centre + 0.5 * random.integer(-6, 6);
        };
        double rowCentre = std::isnan(call.anchorRows[image]) ? 2 : call.anchorRows[image];
        more.firstRows.push_back(bound(rowCentre - 3));
        more.lastRows.push_back(random.integer(0, 9) == 0 ? INFINITY : rowCentre + 0.5 * random.integer(0, 10));
        more.firstCols.push_back(bound(call.anchorCols[image] - 3));
        more.lastCols.push_back(call.anchorCols[image] + 0.5 * random.integer(-2, 10));
    }
    more.scoreMaps = testsupport::makeGrid(static_cast<int>(call.rows.size()), 1, scoreRows, scoreCols, mxSINGLE_CLASS);
    testsupport::fillEach(more.scoreMaps,
                          [&] { return random.integer(0, 5) == 0 ? -1e10 : double(random.uniform(-3.0f, 3.0f)); });
    return more;
}

// A crop of a call's image: its 1-based image, first pooled row and column and its size, and
// orientCount crop maps of each kind (with spare values, which must stay untouched).
struct CropArgs {
    int image = 0, firstRow = 0, firstCol = 0, rows = 0, cols = 0;
    MapGrid pooled, traces;
    std::vector<const mxArray*> args(VetoCall& call) const {
        return {call.number(image), call.number(firstRow), call.number(firstCol), call.number(rows),
                call.number(cols), pooled.cells.get(), traces.cells.get()};
    }
};

// A random crop of any image with pooled maps, within them; none (image 0) when no image has.
CropArgs randomCrop(const VetoCall& call, testsupport::SeededRandom& random) {
    CropArgs crop;
    std::vector<int> withMaps;
    for (size_t image = 0; image < call.rows.size(); ++image) {
        if (call.pooledRows[image] > 0 && call.pooledCols[image] > 0) withMaps.push_back(static_cast<int>(image));
    }
    if (withMaps.empty()) return crop;
    int image = withMaps[random.integer(0, static_cast<int>(withMaps.size()) - 1)];
    crop.image = image + 1;
    crop.firstRow = random.integer(1, call.pooledRows[image]);
    crop.firstCol = random.integer(1, call.pooledCols[image]);
    crop.rows = random.integer(1, call.pooledRows[image] - crop.firstRow + 1);
    crop.cols = random.integer(1, call.pooledCols[image] - crop.firstCol + 1);
    std::vector<int> rows(1, crop.rows), cols(1, crop.cols);
    crop.pooled = testsupport::makeGrid(1, call.q.orientCount, rows, cols, mxSINGLE_CLASS, 2);
    crop.traces = testsupport::makeGrid(1, call.q.orientCount, rows, cols, mxSINGLE_CLASS, 2);
    testsupport::fillEach(crop.pooled, [] { return -7.0; });
    testsupport::fillEach(crop.traces, [] { return -7.0; });
    return crop;
}

// A random tarrowvetoblock call: randomCall's call, then the blocks it scores again, both drawn
// from `random`.
struct BlockCall {
    VetoCall call;
    RescoreArgs more;
};

BlockCall randomBlockCall(testsupport::SeededRandom& random) {
    VetoCall call = randomCall(random);
    RescoreArgs more = randomRescore(call, random);
    return BlockCall{std::move(call), std::move(more)};
}

// A tarrowvetoblock call's arguments: the call's, then its rescoring's, then the crop's if any.
std::vector<const mxArray*> blockCallArgs(VetoCall& call, const RescoreArgs& more, const CropArgs* crop = nullptr) {
    std::vector<const mxArray*> args = call.args();
    args.insert(args.end(), {more.scoreMaps.cells.get(), call.row(more.firstRows), call.row(more.lastRows),
                             call.row(more.firstCols), call.row(more.lastCols)});
    if (crop != nullptr) {
        std::vector<const mxArray*> cropArgs = crop->args(call);
        args.insert(args.end(), cropArgs.begin(), cropArgs.end());
    }
    return args;
}

// tarrowvetoblock does bit for bit what tarrowveto followed by gastrelblock do, on every thread
// count the test runs with: the same call built twice from the same draws, one carried out
// by the two plug-ins in turn, the other by tarrowvetoblock.
TEST(TarrowvetoBlock, IsTarrowvetoThenGastrelblock) {
    testsupport::SeededRandom twoSteps, oneStep;
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        BlockCall first = randomBlockCall(twoSteps), second = randomBlockCall(oneStep);
        VetoCall& veto = first.call;
        const RescoreArgs& rescore = first.more;
        ASSERT_FALSE(veto.run().failed);
        std::vector<const mxArray*> all = veto.args();
        std::vector<const mxArray*> block = {all[0], all[1], all[2], all[3], all[6], all[22], all[23], all[9],
                                             all[10], all[11], all[12], all[13], all[14], all[16],
                                             rescore.scoreMaps.cells.get(), all[26], all[21],
                                             veto.row(rescore.firstRows), veto.row(rescore.lastRows),
                                             veto.row(rescore.firstCols), veto.row(rescore.lastCols)};
        minihost::CallResult rescored = callPlugin(minihost::loadPlugin("gastrelblock"), block);
        ASSERT_FALSE(rescored.failed) << rescored.errorMessage;
        minihost::CallResult result =
            callPlugin(minihost::loadPlugin("tarrowvetoblock"), blockCallArgs(second.call, second.more));
        ASSERT_FALSE(result.failed) << result.errorMessage;
        expectSameOutcome(outcomeOf(second.call), outcomeOf(veto));
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(second.more.scoreMaps),
                                                    snapshot<float>(rescore.scoreMaps)))
            << "score maps";
    }
}

// Given a crop, tarrowvetoblock copies that block of the image's pooled and trace maps as they
// were before the call, whether or not the image is inhibited, writes nothing past it, and
// otherwise does bit for bit what it does without one.
TEST(TarrowvetoBlock, CopiesTheCropBeforeInhibiting) {
    testsupport::SeededRandom plainDraws, cropDraws, placing;
    int cropped = 0;
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        BlockCall plain = randomBlockCall(plainDraws), withCrop = randomBlockCall(cropDraws);
        VetoCall& call = withCrop.call;
        const RescoreArgs& more = withCrop.more;
        CropArgs crop = randomCrop(call, placing);
        if (crop.image == 0) continue;
        ++cropped;
        MapGrid pooledBefore = cloneGrid(call.pooled), tracesBefore = cloneGrid(call.traces);
        ASSERT_FALSE(callPlugin(minihost::loadPlugin("tarrowvetoblock"), blockCallArgs(plain.call, plain.more)).failed);
        minihost::CallResult result =
            callPlugin(minihost::loadPlugin("tarrowvetoblock"), blockCallArgs(call, more, &crop));
        ASSERT_FALSE(result.failed) << result.errorMessage;
        expectSameOutcome(outcomeOf(call), outcomeOf(plain.call));
        EXPECT_TRUE(
            testsupport::sameBitsEverywhere(snapshot<float>(more.scoreMaps), snapshot<float>(plain.more.scoreMaps)))
            << "score maps";
        int image = crop.image - 1, mapRows = call.pooledRows[image];
        for (int o = 0; o < call.q.orientCount; ++o) {
            for (int k = 0; k < crop.rows * crop.cols + 2; ++k) {
                bool inCrop = k < crop.rows * crop.cols;
                int from = (crop.firstRow - 1 + k % crop.rows) + (crop.firstCol - 1 + k / crop.rows) * mapRows;
                float pooled = inCrop ? pooledBefore.singles(image, o)[from] : -7.0f;
                float trace = inCrop ? tracesBefore.singles(image, o)[from] : -7.0f;
                std::string where = "orientation " + std::to_string(o) + ", value " + std::to_string(k);
                ASSERT_TRUE(testsupport::sameBits(crop.pooled.singles(0, o)[k], pooled)) << where;
                ASSERT_TRUE(testsupport::sameBits(crop.traces.singles(0, o)[k], trace)) << where;
            }
        }
    }
    EXPECT_GT(cropped, 30);
}

// A crop that names no image, lies off its image's pooled maps, is given in part, lacks values or
// shares data with a map is refused by its argument, with nothing written.
TEST(TarrowvetoBlock, RefusesABadCropBeforeWritingAnything) {
    struct Case {
        const char* what;
        const char* id;
        const char* messageStart;
        std::function<void(CropArgs&, std::vector<const mxArray*>&, VetoCall&)> spoil;
    };
    auto number = [](int position, double value) {
        return [=](CropArgs&, std::vector<const mxArray*>& args, VetoCall& call) {
            args[position - 1] = call.number(value);
        };
    };
    // Image 2 is 17 x 22 pixels, 8 x 11 pooled; the valid crop is its rows 3 ... 6, columns 2 ... 10.
    const std::vector<Case> cases = {
        {"thirty-three arguments", "tarrowvetoblock:tooFewArguments", "argument 34 (cropFirstRow) is missing",
         [](CropArgs&, auto& args, auto&) { args.resize(33); }},
        {"image 3 of 2", "tarrowvetoblock:outOfRange", "argument 33 (cropImage)", number(33, 3)},
        {"first row past the map", "tarrowvetoblock:outOfRange", "argument 34 (cropFirstRow)", number(34, 9)},
        {"first column 0", "tarrowvetoblock:outOfRange", "argument 35 (cropFirstCol)", number(35, 0)},
        {"rows past the map", "tarrowvetoblock:outOfRange", "argument 36 (cropRows)", number(36, 7)},
        {"no columns", "tarrowvetoblock:outOfRange", "argument 37 (cropCols)", number(37, 0)},
        {"too few trace crops", "tarrowvetoblock:tooFewCells", "argument 39 (traceCrops)",
         [](CropArgs&, auto& args, auto& call) { args[38] = call.keep(minihost::cellArray(1, 2)); }},
        {"pooled crop too small", "tarrowvetoblock:tooFewValues", "argument 38 (pooledCrops)",
         [](CropArgs& crop, auto&, auto&) { minihost::putCell(crop.pooled.cells.get(), 2, minihost::singles(35, 1)); }},
        {"trace crop sharing a pooled map", "tarrowvetoblock:sharedData", "",
         [](CropArgs& crop, auto&, auto& call) {
             minihost::putCell(crop.traces.cells.get(), 1, minihost::sharedCopy(call.pooled.map(0, 1)));
         }},
    };
    // The call with the valid crop, its arguments in `args`.
    struct CropCall {
        VetoCall call = makeCall({20, 17}, {18, 22}, Params{3, 1, 1, 2, 1});
        RescoreArgs more;
        CropArgs crop;
        std::vector<const mxArray*> args;
        CropCall() {
            testsupport::SeededRandom random;
            testsupport::fillEach(call.responses, [&] { return random.uniform(0.0f, 2.0f); });
            call.pool();
            call.setElements({1, 0, 2}, {2, -1, 6}, {1, -2, 7}, {1, 1, 1}, {0, 0, 0});
            call.anchorRows = {2, 2};
            call.anchorCols = {3, 3};
            call.templateRows = 12;
            call.templateCols = 12;
            more = randomRescore(call, random);
            crop.image = 2;
            crop.firstRow = 3;
            crop.firstCol = 2;
            crop.rows = 4;
            crop.cols = 9;
            crop.pooled = testsupport::makeGrid(1, 3, {4}, {9}, mxSINGLE_CLASS);
            crop.traces = testsupport::makeGrid(1, 3, {4}, {9}, mxSINGLE_CLASS);
            args = blockCallArgs(call, more, &crop);
        }
    };
    {
        CropCall valid;
        minihost::CallResult result = callPlugin(minihost::loadPlugin("tarrowvetoblock"), valid.args);
        ASSERT_FALSE(result.failed) << "the base call is valid: " << result.errorMessage;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CropCall spoilt;
        c.spoil(spoilt.crop, spoilt.args, spoilt.call);
        Outcome before = outcomeOf(spoilt.call);
        std::vector<std::vector<float>> cropsBefore = snapshot<float>(spoilt.crop.pooled),
                                        scoresBefore = snapshot<float>(spoilt.more.scoreMaps);
        minihost::CallResult result = callPlugin(minihost::loadPlugin("tarrowvetoblock"), spoilt.args);
        EXPECT_TRUE(result.failed);
        EXPECT_EQ(result.errorId, c.id) << result.errorMessage;
        EXPECT_EQ(result.errorMessage.rfind(c.messageStart, 0), 0u) << result.errorMessage;
        expectSameOutcome(outcomeOf(spoilt.call), before);
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(spoilt.crop.pooled), cropsBefore));
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(spoilt.more.scoreMaps), scoresBefore));
    }
}

// ---------------------------------------------------------------- refusals

TEST(Tarrowveto, RefusesMalformedCallsBeforeWritingAnything) {
    using Spoil = std::function<void(std::vector<const mxArray*>&, VetoCall&)>;
    auto scalarAt = [](int position, double value) -> Spoil {
        auto kept = std::make_shared<Array>(minihost::scalar(value));
        return [=](auto& args, auto&) { args[position - 1] = kept->get(); };
    };
    auto replaceArray = [](int position, Array array) -> Spoil {
        auto kept = std::make_shared<Array>(std::move(array));
        return [=](auto& args, auto&) { args[position - 1] = kept->get(); };
    };
    auto vary = [](std::function<void(VetoCall&)> change) -> Spoil {
        return [=](auto& args, auto& call) {
            change(call);
            args = call.args();
        };
    };
    auto replaceCell = [](MapGrid VetoCall::*grid, int cell, std::function<Array(VetoCall&)> make) -> Spoil {
        return [=](auto&, auto& call) { minihost::putCell((call.*grid).cells.get(), cell, make(call)); };
    };
    auto singles = [](int count) { return [=](VetoCall&) { return minihost::singles(count, 1); }; };
    struct Case {
        const char* what;
        const char* id;
        Spoil spoil;
    };
    // Two images, 20 x 18 (10 x 9 pooled) and 17 x 22 (8 x 11); 3 orientations, 9 slots;
    // h = 1, so the pool windows are rows 3 ... 7 and columns 3 ... 6 of image 0, rows 3 ... 6
    // and columns 3 ... 8 of image 1.
    const std::vector<Case> cases = {
        {"twenty-six arguments", "tarrowveto:tooFewArguments", [](auto& args, auto&) { args.pop_back(); }},
        {"orientation range of orientCount", "tarrowveto:outOfRange", scalarAt(6, 3)},
        {"pool step 0", "tarrowveto:outOfRange", scalarAt(7, 0)},
        {"negative position range", "tarrowveto:outOfRange", scalarAt(5, -1)},
        {"displacement beyond 32 bits", "tarrowveto:tooLarge", scalarAt(7, 2147483640)},
        {"filter half beyond the limit", "tarrowveto:outOfRange", scalarAt(8, 11585)},
        {"stamp too small", "tarrowveto:tooFewValues", replaceCell(&VetoCall::stamps, 1, [](auto&) { return minihost::doubles(8, 1); })},
        {"orientation of orientCount", "tarrowveto:outOfRange", vary([](auto& call) { call.orients[2] = 3; })},
        {"offset beyond 32 bits", "tarrowveto:outOfRange", vary([](auto& call) { call.colOffsets[0] = 3e9; })},
        {"too few weights", "tarrowveto:tooFewValues", vary([](auto& call) { call.weights.pop_back(); })},
        {"too few biases", "tarrowveto:tooFewValues", vary([](auto& call) { call.biases.pop_back(); })},
        {"single weights", "tarrowveto:wrongClass", replaceArray(14, minihost::singles(1, 3))},
        {"response map too small", "tarrowveto:tooFewValues", replaceCell(&VetoCall::responses, 5, singles(373))},
        {"double response map", "tarrowveto:badCell", replaceCell(&VetoCall::responses, 0, [](auto&) { return minihost::doubles(360, 1); })},
        {"pooled map too small", "tarrowveto:tooFewValues", replaceCell(&VetoCall::pooled, 5, singles(87))},
        {"trace map too small", "tarrowveto:tooFewValues", replaceCell(&VetoCall::traces, 0, singles(89))},
        {"sketch too small", "tarrowveto:tooFewValues", replaceCell(&VetoCall::sketches, 1, singles(373))},
        {"pooled map sharing a trace map", "tarrowveto:sharedData", replaceCell(&VetoCall::pooled, 2, [](auto& call) { return minihost::sharedCopy(call.traces.map(0, 1)); })},
        {"sketch sharing a response map", "tarrowveto:sharedData", replaceCell(&VetoCall::sketches, 0, [](auto& call) { return minihost::sharedCopy(call.responses.map(0, 2)); })},
        {"normalizer sharing a response map", "tarrowveto:sharedData", replaceCell(&VetoCall::normalizers, 1, [](auto& call) { return minihost::sharedCopy(call.responses.map(1, 0)); })},
        {"scores sharing a normalizer map", "tarrowveto:sharedData", [](auto& args, auto& call) { args[25] = call.normalizers.map(0, 0); }},
        {"infinite anchor", "tarrowveto:outOfRange", vary([](auto& call) { call.anchorCols[1] = -INFINITY; })},
        {"saturation level 0", "tarrowveto:outOfRange", scalarAt(22, 0)},
        {"negative template rows", "tarrowveto:outOfRange", scalarAt(23, -1)},
        {"too few overlap cells", "tarrowveto:tooFewCells", replaceArray(25, minihost::cellArray(2, 4))},
        {"overlap cell too small", "tarrowveto:tooFewValues", replaceCell(&VetoCall::overlap, 8, [](auto&) { return minihost::doubles(24, 1); })},
        {"single overlap cell", "tarrowveto:badCell", replaceCell(&VetoCall::overlap, 3, [](auto&) { return minihost::singles(25, 1); })},
        {"double scores", "tarrowveto:wrongClass", replaceArray(26, minihost::doubles(1, 2))},
        {"too few scores", "tarrowveto:tooFewValues", replaceArray(26, minihost::singles(1, 1))},
        {"normalizer too small", "tarrowveto:tooFewValues", replaceCell(&VetoCall::normalizers, 1, singles(373))},
        {"normalizers not a cell", "tarrowveto:notCell", replaceArray(27, minihost::singles(360, 1))},
        {"trace 1.5 at an element", "tarrowveto:outOfRange", vary([](auto& call) { call.traceAt(0, 1, 4, 4) = 1.5f; })},
        {"trace 9 at an element off the window", "tarrowveto:outOfRange", vary([](auto& call) { call.traceAt(1, 2, 8, 10) = 9.0f; })},
        {"trace NaN in the window", "tarrowveto:outOfRange", vary([](auto& call) { call.traceAt(1, 0, 6, 8) = NAN; })},
        {"negative trace in the window", "tarrowveto:outOfRange", vary([](auto& call) { call.traceAt(0, 2, 3, 3) = -1.0f; })},
    };
    testsupport::SeededRandom random;
    auto validCall = [&] {
        VetoCall call = makeCall({20, 17}, {18, 22}, {3, 1, 1, 2, 1}, 1);
        testsupport::fillUniform(call.responses, random, 0.0f, 2.0f);
        call.pool();
        // Elements at pooled (4, 4) orientation 1, (1, 1) orientation 0 and (8, 10) orientation
        // 2 from anchor (2, 3) in both images; (8, 10) lies off image 0's pooled map.
        call.setElements({1, 0, 2}, {2, -1, 6}, {1, -2, 7}, {1, 1, 1}, {0, 0, 0});
        call.anchorRows = {2, 2};
        call.anchorCols = {3, 3};
        // Off the elements and the windows the traces need not be slots.
        call.traceAt(0, 0, 10, 9) = 77.0f;
        call.traceAt(1, 1, 1, 11) = -3.0f;
        return call;
    };
    {
        VetoCall call = validCall();
        minihost::CallResult result = call.run();
        ASSERT_FALSE(result.failed) << "the base call is valid: " << result.errorMessage;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VetoCall call = validCall();
        std::vector<const mxArray*> args = call.args();
        c.spoil(args, call);
        Outcome before = outcomeOf(call);
        minihost::CallResult result = callPlugin(minihost::loadPlugin("tarrowveto"), args);
        EXPECT_TRUE(result.failed);
        EXPECT_FALSE(result.escaped);
        EXPECT_EQ(result.errorId, c.id) << result.errorMessage;
        expectSameOutcome(outcomeOf(call), before);
    }
    VetoCall call = validCall();
    EXPECT_EQ(callPlugin(minihost::loadPlugin("tarrowveto"), call.args(), 1).errorId, "tarrowveto:tooManyOutputs");
    call.traceAt(1, 0, 5, 4) = 0.5f;
    EXPECT_EQ(call.run().errorMessage,
              "argument 18 (traceMaps), cell 2 (image 2, orientation 1), position (5, 4): expected a shift slot, a "
              "whole number from 0 to 8; got 0.5");
    // The maps are checked on the threads, but the refusal names the first image's stray value
    // even when a later image's map comes first in the grid.
    call.traceAt(0, 2, 3, 3) = 0.25f;
    EXPECT_EQ(call.run().errorMessage,
              "argument 18 (traceMaps), cell 5 (image 1, orientation 3), position (3, 3): expected a shift slot, a "
              "whole number from 0 to 8; got 0.25");
}

// A shift range out of all proportion to the response maps is refused before any
// allocation, and a call that draws nothing builds no tables.
TEST(Tarrowveto, CountsOutOfProportionToTheMapsCostNothing) {
    VetoCall tiny = makeCall({4}, {4}, {2, 30000, 1, 1, 0});
    minihost::CallResult range = tiny.run();
    EXPECT_EQ(range.errorId, "tarrowveto:tooLarge") << range.errorMessage;
    EXPECT_LE(range.blocksAllocated, 1);  // at most the record of the size arrays read

    VetoCall noElements = makeCall({6, 4}, {6, 4}, {40, 10, 1, 2, 0});
    noElements.anchorRows = {1, 1};
    noElements.anchorCols = {1, 1};
    minihost::CallResult nothingDrawn = noElements.run();
    EXPECT_FALSE(nothingDrawn.failed) << nothingDrawn.errorMessage;
    EXPECT_LT(nothingDrawn.blocksAllocated, noElements.q.orientCount);
}

// Levels that single precision cannot hold, and a negative one, in the random calls above: a
// level rounded to single or a regrouped formula changes some scores, sketches or maps.
TEST(Tarrowveto, SaturatesAtLevelsSinglePrecisionCannotHold) {
    testsupport::SeededRandom random;
    for (double level : {0.1, 1.0 / 3.0, -0.7}) {
        for (int trial = 0; trial < 15; ++trial) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", trial " << trial);
            int orientCount = random.integer(1, 4);
            Params q{orientCount, random.integer(0, 2), random.integer(0, std::min(orientCount - 1, 2)),
                     random.integer(1, 3), random.integer(0, 2)};
            VetoCall call = makeCall({double(random.integer(10, 30))}, {double(random.integer(10, 30))}, q);
            testsupport::fillEach(call.responses, [&] { return random.uniform(-1.0f, 4.0f); });
            call.pool();
            testsupport::fillEach(call.overlap, [&] { return random.integer(0, 1) == 0 ? 0.5 : 1.0; });
            testsupport::fillUniform(call.normalizers, random, 0.5f, 2.0f);
            randomElements(call, random.integer(1, 10), random);
            call.anchorRows[0] = random.integer(-1, 4);
            call.anchorCols[0] = random.integer(-1, 4);
            call.templateRows = random.integer(0, 12);
            call.templateCols = random.integer(0, 12);
            call.saturationLevel = level;
            Outcome expected = recoverStepByStep(call);
            ASSERT_FALSE(call.run().failed);
            expectSameOutcome(outcomeOf(call), expected);
        }
    }
}

// The smallest positive responses saturate to a zero with the level's sign; elements of
// weight 1 and bias 0 add it to a start score of -0, so the sign shows in the score (a
// regrouped formula, 2s/(e + 1) - s, gives +0 at every level).
TEST(Tarrowveto, ZeroSaturationKeepsTheSignOfTheLevel) {
    for (double level : {0.1, -0.1, -1.0 / 3.0}) {
        SCOPED_TRACE(testing::Message() << "level " << level);
        VetoCall call = makeCall({20}, {20}, {2, 1, 1, 2, 1});
        testsupport::fillEach(call.responses, [] { return std::numeric_limits<float>::denorm_min(); });
        call.pool();
        call.setElements({0, 1, 0}, {2, 4, 6}, {3, 5, 2}, {1, 1, 1}, {0, 0, 0});
        call.anchorRows[0] = 1;
        call.anchorCols[0] = 1;
        call.saturationLevel = level;
        call.score()[0] = -0.0f;
        Outcome expected = recoverStepByStep(call);
        ASSERT_FALSE(call.run().failed);
        expectSameOutcome(outcomeOf(call), expected);
        EXPECT_EQ(std::signbit(call.score()[0]), level < 0);
    }
}

}  // namespace
