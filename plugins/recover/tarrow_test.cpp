// tarrow through the test host: where each element is drawn (its own place for slot 0, the
// perturbed place otherwise), clipping, anchor rounding, skipped elements, the cleared sketch,
// the implementer's choices (no elements, NaN anchors), random calls against a plain loop, and
// refusals that leave the sketches untouched.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "frame.h"
#include "minihost.h"
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

// One call's arguments: the shared recovery arguments, turned into host arrays by args().
struct TarrowCall : testsupport::RecoveryCall {
    std::vector<const mxArray*> args() {
        held.clear();
        return {number(static_cast<double>(rows.size())), row(rowsGiven), row(colsGiven), number(q.orientCount),
                number(q.posShiftMax), number(q.orientShiftMax), number(q.poolStep), number(q.filterHalf),
                stamps.cells.get(), number(elementCount), row(orients), row(rowOffsets), row(colOffsets),
                pooled.cells.get(), traces.cells.get(), sketches.cells.get(), row(anchorRows), row(anchorCols),
                number(saturationLevel)};
    }
    minihost::CallResult run() { return callPlugin(minihost::loadPlugin("tarrow"), args()); }
    void setElements(const std::vector<double>& o, const std::vector<double>& dr, const std::vector<double>& dc) {
        orients = o;
        rowOffsets = dr;
        colOffsets = dc;
        elementCount = static_cast<double>(o.size());
    }
};

// The shared recovery arguments; every map and sketch has `spare` values beyond its size.
TarrowCall makeCall(const std::vector<double>& rowsGiven, const std::vector<double>& colsGiven, Params q,
                    int spare = 0) {
    TarrowCall call;
    testsupport::setUpRecoveryCall(call, rowsGiven, colsGiven, q, spare);
    return call;
}

// Max-stamps stamp `orient` scaled by `factor` around pixel (cx, cy) of a rows x cols sketch.
void drawPlainly(std::vector<float>& sketch, int rows, int cols, const TarrowCall& call, int orient, int64_t cx,
                 int64_t cy, double factor) {
    int h = call.q.filterHalf, side = 2 * h + 1;
    for (int64_t xi = cx - h; xi <= cx + h; ++xi) {
        for (int64_t yi = cy - h; yi <= cy + h; ++yi) {
            if (xi < 1 || xi > rows || yi < 1 || yi > cols) continue;
            float v = static_cast<float>(call.stamps.doubles(0, orient)[(xi - cx + h) + (yi - cy + h) * side] * factor);
            float& pixel = sketch[(xi - 1) + (yi - 1) * rows];
            if (v > pixel) pixel = v;
        }
    }
}

// The sketches as the plain loop draws them from the call's current maps.
std::vector<std::vector<float>> drawnPlainly(const TarrowCall& call) {
    const Params& q = call.q;
    auto sketches = snapshot<float>(call.sketches);
    ShiftTable shifts = buildShiftTables(q.orientCount, q.posShiftMax, q.orientShiftMax, q.poolStep);
    int elementCount = std::max(0, roundHalfUp(call.elementCount));
    for (size_t image = 0; image < call.rows.size(); ++image) {
        int rows = call.rows[image], cols = call.cols[image];
        std::fill(sketches[image].begin(), sketches[image].begin() + rows * cols, 0.0f);
        if (std::isnan(call.anchorRows[image]) || std::isnan(call.anchorCols[image])) continue;
        for (int k = 0; k < elementCount; ++k) {
            int o = static_cast<int>(std::floor(call.orients[k] + 0.5));
            int64_t x = static_cast<int64_t>(std::floor(call.anchorRows[image] + 0.5)) +
                        static_cast<int64_t>(std::floor(call.rowOffsets[k] + 0.5));
            int64_t y = static_cast<int64_t>(std::floor(call.anchorCols[image] + 0.5)) +
                        static_cast<int64_t>(std::floor(call.colOffsets[k] + 0.5));
            if (x < 1 || x > call.pooledRows[image] || y < 1 || y > call.pooledCols[image]) continue;
            int slot = static_cast<int>(std::floor(double(call.traceAt(image, o, x, y)) + 0.5));
            double factor = std::sqrt(double(saturatedAsWritten(call.pooledAt(image, o, x, y), call.saturationLevel)));
            drawPlainly(sketches[image], rows, cols, call, shifts.shiftedOrient[o][slot],
                        x * q.poolStep + shifts.rowShift[o][slot], y * q.poolStep + shifts.colShift[o][slot], factor);
        }
    }
    freeShiftTables(shifts, q.orientCount);
    return sketches;
}

// The drawn pixels of a sketch: value at every position that is not 0.
std::vector<std::pair<int, float>> drawnPixels(const float* sketch, int valueCount) {
    std::vector<std::pair<int, float>> drawn;
    for (int k = 0; k < valueCount; ++k) {
        if (sketch[k] != 0.0f) drawn.emplace_back(k, sketch[k]);
    }
    return drawn;
}

// ---------------------------------------------------------------- where elements are drawn

TEST(Tarrow, SlotZeroDrawsAtTheElementsOwnPlaceInItsOwnOrientation) {
    // 17 x 20 pixels, poolStep 3: element (orientation 2) at pooled (1 + 3, 2 + 2) = (4, 4),
    // that is pixel (12, 12); h = 1.
    TarrowCall call = makeCall({17}, {20}, {4, 1, 1, 3, 1});
    call.setElements({2}, {3}, {2});
    call.anchorRows = {1};
    call.anchorCols = {2};
    call.pooledAt(0, 2, 4, 4) = 2.0f;
    ASSERT_FALSE(call.run().failed);
    double factor = std::sqrt(double(saturatedAsWritten(2.0f, 1.5)));
    std::vector<std::pair<int, float>> expected;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            double stampValue = 1 + 2 + ((dx + 1) + (dy + 1) * 3) / 100.0;
            expected.emplace_back(cmIndex(12 + dx, 12 + dy, 17, 20), static_cast<float>(stampValue * factor));
        }
    }
    EXPECT_EQ(drawnPixels(call.sketch(0), 17 * 20), expected);
}

TEST(Tarrow, NonzeroSlotDrawsAtTheDisplacedPixelInTheShiftedOrientation) {
    const Params q{6, 2, 2, 2, 2};
    ShiftTable shifts = buildShiftTables(q.orientCount, q.posShiftMax, q.orientShiftMax, q.poolStep);
    for (int o : {0, 1, 3, 5}) {
        for (int slot = 0; slot < shifts.shiftCount; ++slot) {
            SCOPED_TRACE("orientation " + std::to_string(o) + ", slot " + std::to_string(slot));
            TarrowCall call = makeCall({30}, {28}, q);
            call.setElements({double(o)}, {7}, {6});
            call.anchorRows = {0};
            call.anchorCols = {1};
            call.pooledAt(0, o, 7, 7) = 0.75f;
            call.traceAt(0, o, 7, 7) = static_cast<float>(slot);
            ASSERT_FALSE(call.run().failed);
            auto expected = snapshot<float>(call.sketches);
            std::fill(expected[0].begin(), expected[0].end(), 0.0f);
            drawPlainly(expected[0], 30, 28, call, shifts.shiftedOrient[o][slot], 14 + shifts.rowShift[o][slot],
                        14 + shifts.colShift[o][slot], std::sqrt(double(saturatedAsWritten(0.75f, 1.5))));
            EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.sketches), expected));
            EXPECT_EQ(drawnPixels(call.sketch(0), 30 * 28).size(), 25u);
        }
    }
    freeShiftTables(shifts, q.orientCount);
}

TEST(Tarrow, StampsAreClippedAtTheBorderAndValuesBeyondTheSketchStay) {
    // poolStep 1, h = 2: an element at pooled (1, 1) covers pixels -1 ... 3 of both axes, of
    // which rows and columns 1 ... 3 lie inside; one at (6, 5), the far corner of a 6 x 5
    // image, keeps rows 4 ... 6 and columns 3 ... 5.
    TarrowCall call = makeCall({6}, {5}, {1, 0, 0, 1, 2}, 3);
    call.setElements({0, 0}, {0, 5}, {0, 4});
    call.anchorRows = {1};
    call.anchorCols = {1};
    call.pooledAt(0, 0, 1, 1) = 9.0f;
    call.pooledAt(0, 0, 6, 5) = 9.0f;
    std::fill(call.sketch(0), call.sketch(0) + 33, 7.0f);
    ASSERT_FALSE(call.run().failed);
    double factor = std::sqrt(double(saturatedAsWritten(9.0f, 1.5)));
    for (int y = 1; y <= 5; ++y) {
        for (int x = 1; x <= 6; ++x) {
            float value = call.sketch(0)[cmIndex(x, y, 6, 5)];
            if (x <= 3 && y <= 3) {
                EXPECT_EQ(value, static_cast<float>((1 + ((x + 1) + (y + 1) * 5) / 100.0) * factor)) << x << ", " << y;
            } else if (x >= 4 && y >= 3) {
                EXPECT_EQ(value, static_cast<float>((1 + ((x - 4) + (y - 3) * 5) / 100.0) * factor)) << x << ", " << y;
            } else {
                EXPECT_EQ(value, 0.0f) << x << ", " << y;
            }
        }
    }
    EXPECT_EQ(std::vector<float>(call.sketch(0) + 30, call.sketch(0) + 33), std::vector<float>(3, 7.0f));
}

TEST(Tarrow, AnchorsAndOffsetsRoundHalfUp) {
    // poolStep 2, h = 0, so each element marks exactly one pixel, 2 * its pooled position.
    struct Case {
        double anchorRow, anchorCol, rowOffset, colOffset;
        int x, y;
    };
    const std::vector<Case> cases = {
        {-0.5, 2.5, 1, 1, 1, 4},      // -0.5 -> 0, 2.5 -> 3
        {-2, -2, 3, 5, 1, 3},         // a negative anchor with positive offsets
        {1.49, 0.5, 1.5, -0.5, 3, 1}, // offsets 1.5 -> 2, -0.5 -> 0
        {-3.5, 4, 5.5, -2.51, 3, 1},  // -3.5 -> -3, 5.5 -> 6, -2.51 -> -3
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("anchor (" + std::to_string(c.anchorRow) + ", " + std::to_string(c.anchorCol) + ")");
        TarrowCall call = makeCall({9}, {10}, {2, 1, 0, 2, 0});
        call.setElements({1}, {c.rowOffset}, {c.colOffset});
        call.anchorRows = {c.anchorRow};
        call.anchorCols = {c.anchorCol};
        testsupport::fillEach(call.pooled, [] { return 1.0; });
        ASSERT_FALSE(call.run().failed);
        auto drawn = drawnPixels(call.sketch(0), 90);
        ASSERT_EQ(drawn.size(), 1u);
        EXPECT_EQ(drawn[0].first, cmIndex(2 * c.x, 2 * c.y, 9, 10));
    }
}

TEST(Tarrow, SkipsElementsOffThePooledMapAndDrawsNothingForValuesUpToZero) {
    // 4 x 5 pooled positions. Off the map: rows 0 and 5, columns 0 and 6 (their perturbed
    // pixels would lie inside); on it, values 0, -0, -3 and NaN draw nothing.
    TarrowCall call = makeCall({8}, {10}, {2, 1, 0, 2, 1}, 2);
    call.setElements({0, 0, 1, 1, 0, 0, 1, 1}, {0, 5, 2, 2, 1, 2, 3, 4}, {2, 2, 0, 6, 1, 2, 3, 4});
    call.anchorRows = {0};
    call.anchorCols = {0};
    testsupport::fillEach(call.pooled, [] { return 5.0; });
    testsupport::fillEach(call.traces, [] { return 1.0; });
    call.pooledAt(0, 0, 1, 1) = 0.0f;
    call.pooledAt(0, 0, 2, 2) = -0.0f;
    call.pooledAt(0, 1, 3, 3) = -3.0f;
    call.pooledAt(0, 1, 4, 4) = std::numeric_limits<float>::quiet_NaN();
    testsupport::fillEach(call.sketches, [] { return 4.0; });
    ASSERT_FALSE(call.run().failed);
    EXPECT_TRUE(drawnPixels(call.sketch(0), 80).empty());
    EXPECT_EQ(call.sketch(0)[80], 4.0f);
    EXPECT_EQ(call.sketch(0)[81], 4.0f);
}

TEST(Tarrow, OverlappingElementsLeaveTheirPixelWiseMaximumInAnyOrder) {
    TarrowCall call = makeCall({12}, {12}, {3, 0, 0, 2, 3});
    call.anchorRows = {2};
    call.anchorCols = {2};
    call.pooledAt(0, 0, 3, 3) = 0.4f;
    call.pooledAt(0, 1, 3, 4) = 3.0f;
    call.pooledAt(0, 2, 4, 3) = 1.0f;
    call.setElements({0, 1, 2}, {1, 1, 2}, {1, 2, 1});
    ASSERT_FALSE(call.run().failed);
    auto forward = snapshot<float>(call.sketches);
    call.setElements({2, 0, 1}, {2, 1, 1}, {1, 1, 2});
    ASSERT_FALSE(call.run().failed);
    EXPECT_EQ(snapshot<float>(call.sketches), forward);
    EXPECT_TRUE(testsupport::sameBitsEverywhere(forward, drawnPlainly(call)));
}

// ---------------------------------------------------------------- the implementer's choices

TEST(Tarrow, NaNAnchorClearsTheSketchAndDrawsNothing) {
    TarrowCall call = makeCall({10, 10, 10}, {8, 8, 8}, {2, 1, 1, 2, 1}, 1);
    call.setElements({0, 1}, {1, 2}, {2, 1});
    call.anchorRows = {nan, 1, 1};
    call.anchorCols = {1, 1, nan};
    testsupport::fillEach(call.pooled, [] { return 2.0; });
    // Trace values are not slots anywhere in the images without a detection: nothing reads them.
    for (int o = 0; o < 2; ++o) {
        for (int image : {0, 2}) std::fill(call.traces.singles(image, o), call.traces.singles(image, o) + 21, 99.5f);
    }
    testsupport::fillEach(call.sketches, [] { return 3.0; });
    ASSERT_FALSE(call.run().failed);
    EXPECT_TRUE(drawnPixels(call.sketch(0), 80).empty());
    EXPECT_FALSE(drawnPixels(call.sketch(1), 80).empty());
    EXPECT_TRUE(drawnPixels(call.sketch(2), 80).empty());
    EXPECT_EQ(call.sketch(0)[80], 3.0f);
}

TEST(Tarrow, NoElementsClearsTheSketchesOnly) {
    for (double elementCount : {0.0, -3.0, 0.49}) {
        TarrowCall call = makeCall({5, 4}, {3, 6}, {2, 1, 1, 2, 1}, 2);
        testsupport::fillEach(call.pooled, [] { return 2.0; });
        testsupport::fillEach(call.traces, [] { return -7.0; });
        testsupport::fillEach(call.sketches, [] { return 3.0; });
        call.elementCount = elementCount;  // and the element arrays are empty
        ASSERT_FALSE(call.run().failed) << elementCount;
        EXPECT_EQ(snapshot<float>(call.sketches),
                  (std::vector<std::vector<float>>{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3},
                                                   {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3}}));
    }
}

// ---------------------------------------------------------------- random calls

TEST(Tarrow, MatchesThePlainLoopBitForBit) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 80; ++trial) {
        int orientCount = random.integer(1, 8);
        Params q{orientCount, random.integer(0, 3), random.integer(0, std::min(orientCount - 1, 2)), random.integer(1, 4),
                 random.integer(0, 4)};
        std::vector<double> rowsGiven, colsGiven;
        for (int image = random.integer(0, 3); image > 0; --image) {
            rowsGiven.push_back(random.integer(0, 30) + 0.5 * random.integer(-1, 0));
            colsGiven.push_back(random.integer(0, 30) + 0.5 * random.integer(-1, 0));
        }
        SCOPED_TRACE("trial " + std::to_string(trial));
        TarrowCall call = makeCall(rowsGiven, colsGiven, q, 2);
        int elementCount = random.integer(0, 12);
        for (int k = 0; k < elementCount; ++k) {
            call.orients.push_back(random.integer(0, orientCount - 1) + 0.5 * random.integer(-1, 0));
            call.rowOffsets.push_back(random.integer(-3, 12) + 0.5 * random.integer(-1, 1));
            call.colOffsets.push_back(random.integer(-3, 12) + 0.5 * random.integer(-1, 1));
        }
        call.elementCount = elementCount;
        for (size_t image = 0; image < rowsGiven.size(); ++image) {
            call.anchorRows[image] = random.integer(0, 9) == 0 ? nan : random.integer(-4, 6) + 0.5 * random.integer(-1, 1);
            call.anchorCols[image] = random.integer(-4, 6) + 0.5 * random.integer(-1, 1);
        }
        call.saturationLevel = random.uniform(0.2f, 4.0f);
        int shiftCount = (2 * q.posShiftMax + 1) * (2 * q.orientShiftMax + 1);
        testsupport::fillEach(call.pooled, [&] {
            int draw = random.integer(0, 9);
            return draw == 0 ? 0.0 : draw == 1 ? -1.0 : random.uniform(-0.5f, 6.0f);
        });
        testsupport::fillEach(call.traces, [&] { return random.integer(0, shiftCount - 1); });
        testsupport::fillUniform(call.sketches, random, -2.0f, 2.0f);
        for (int o = 0; o < orientCount; ++o) {
            for (int k = 0; k < (2 * q.filterHalf + 1) * (2 * q.filterHalf + 1); ++k) call.stamps.doubles(0, o)[k] = random.uniform(-1.0f, 2.0f);
        }
        auto expected = drawnPlainly(call);
        auto pooledBefore = snapshot<float>(call.pooled);
        auto tracesBefore = snapshot<float>(call.traces);
        minihost::CallResult result = call.run();
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_EQ(result.blocksLeft, 4);  // the cell pointer tables; the shift tables are freed
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.sketches), expected));
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.pooled), pooledBefore));
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.traces), tracesBefore));
    }
}

TEST(Tarrow, DrawsWhatVindralTracedAndIgnoresExtraArguments) {
    // The detection chain: responses pooled by vindral, then drawn. With one strong response
    // per orientation the trace leads each element to it.
    const Params q{4, 2, 1, 2, 1};
    TarrowCall call = makeCall({24}, {20}, q);
    MapGrid responses = testsupport::makeGrid(1, 4, {24}, {20}, mxSINGLE_CLASS);
    testsupport::fillEach(responses, [] { return 0.01; });
    responses.singles(0, 1)[cmIndex(10, 12, 24, 20)] = 4.0f;  // reached from pooled (5, 6) of orientation 1 or 2
    Array count = minihost::scalar(1), rows = minihost::scalar(24), cols = minihost::scalar(20);
    Array orients = minihost::scalar(4), positionRange = minihost::scalar(2), orientRange = minihost::scalar(1),
          step = minihost::scalar(2);
    ASSERT_FALSE(callPlugin(minihost::loadPlugin("vindral"),
                            {count.get(), rows.get(), cols.get(), orients.get(), positionRange.get(), orientRange.get(),
                             step.get(), responses.cells.get(), call.pooled.cells.get(), call.traces.cells.get()})
                     .failed);
    call.setElements({2}, {2}, {3});
    call.anchorRows = {3};
    call.anchorCols = {3};
    std::vector<const mxArray*> args = call.args();
    Array extra = minihost::scalar(5);
    args.push_back(extra.get());
    ASSERT_FALSE(callPlugin(minihost::loadPlugin("tarrow"), args).failed);
    ASSERT_EQ(call.pooledAt(0, 2, 5, 6), 4.0f);
    auto drawn = drawnPixels(call.sketch(0), 24 * 20);
    ASSERT_EQ(drawn.size(), 9u);
    EXPECT_EQ(drawn[4].first, cmIndex(10, 12, 24, 20));  // the centre pixel of the 3 x 3 stamp
    EXPECT_EQ(drawn[4].second, static_cast<float>((1 + 1 + 4 / 100.0) * std::sqrt(double(saturatedAsWritten(4.0f, 1.5)))));
}

// ---------------------------------------------------------------- refusals

// Each malformed call is refused with its id and writes nothing.
TEST(Tarrow, RefusesMalformedCallsBeforeWritingAnything) {
    using Spoil = std::function<void(std::vector<const mxArray*>&, TarrowCall&, std::vector<Array>&)>;
    auto replace = [](int position, Array (*make)(double), double value) -> Spoil {
        return [=](auto& args, auto&, auto& keep) {
            keep.push_back(make(value));
            args[position - 1] = keep.back().get();
        };
    };
    auto scalarAt = [&](int position, double value) { return replace(position, minihost::scalar, value); };
    auto vary = [](std::function<void(TarrowCall&)> change) -> Spoil {
        return [=](auto& args, auto& call, auto&) {
            change(call);
            args = call.args();
        };
    };
    auto replaceCell = [](MapGrid TarrowCall::*grid, int cell, std::function<Array(TarrowCall&)> make) -> Spoil {
        return [=](auto&, auto& call, auto&) { minihost::putCell((call.*grid).cells.get(), cell, make(call)); };
    };
    auto singles = [](int count) { return [=](TarrowCall&) { return minihost::singles(count, 1); }; };
    auto replaceArray = [](int position, Array array) -> Spoil {
        auto shared = std::make_shared<Array>(std::move(array));
        return [=](auto& args, auto&, auto&) { args[position - 1] = shared->get(); };
    };
    struct Case {
        const char* what;
        const char* id;
        Spoil spoil;
    };
    // Two images, 9 x 8 (4 x 4 pooled) and 7 x 10 (3 x 5); 3 orientations, 9 slots; h = 1.
    const std::vector<Case> cases = {
        {"eighteen arguments", "tarrow:tooFewArguments", [](auto& args, auto&, auto&) { args.pop_back(); }},
        {"negative image count", "tarrow:outOfRange", scalarAt(1, -1)},
        {"too few image rows", "tarrow:tooFewValues", replaceArray(2, minihost::doubles(1, 1, {9}))},
        {"no orientations", "tarrow:outOfRange", scalarAt(4, 0)},
        {"negative position range", "tarrow:outOfRange", scalarAt(5, -1)},
        {"orientation range of orientCount", "tarrow:outOfRange", scalarAt(6, 3)},
        {"pool step 0", "tarrow:outOfRange", scalarAt(7, 0)},
        {"pool step 0.49", "tarrow:outOfRange", scalarAt(7, 0.49)},
        {"tables beyond the slot limit", "tarrow:tooLarge", scalarAt(5, 2796203)},
        {"displacement beyond 32 bits", "tarrow:tooLarge", scalarAt(7, 2147483640)},
        {"negative filter half", "tarrow:outOfRange", scalarAt(8, -1)},
        {"filter half beyond the limit", "tarrow:outOfRange", scalarAt(8, 11585)},
        {"stamps not a cell", "tarrow:notCell", replaceArray(9, minihost::doubles(9, 1))},
        {"too few stamps", "tarrow:tooFewCells", replaceArray(9, minihost::cellArray(1, 2))},
        {"stamp too small", "tarrow:tooFewValues", replaceCell(&TarrowCall::stamps, 2, [](auto&) { return minihost::doubles(8, 1); })},
        {"single stamp", "tarrow:badCell", replaceCell(&TarrowCall::stamps, 0, [](auto&) { return minihost::singles(9, 1); })},
        {"element count beyond 32 bits", "tarrow:outOfRange", scalarAt(10, 3e9)},
        {"element count not a scalar", "tarrow:notScalar", replaceArray(10, minihost::doubles(1, 2, {2, 2}))},
        {"orientation of orientCount", "tarrow:outOfRange", vary([](auto& call) { call.orients[1] = 3; })},
        {"orientation rounding to -1", "tarrow:outOfRange", vary([](auto& call) { call.orients[0] = -0.51; })},
        {"too few orientations", "tarrow:tooFewValues", vary([](auto& call) { call.orients.pop_back(); })},
        {"row offset beyond 32 bits", "tarrow:outOfRange", vary([](auto& call) { call.rowOffsets[0] = 2147483647.5; })},
        {"infinite column offset", "tarrow:outOfRange", vary([](auto& call) { call.colOffsets[1] = -INFINITY; })},
        {"single offsets", "tarrow:wrongClass", replaceArray(13, minihost::singles(1, 2, {1, 1}))},
        {"pooled map too small", "tarrow:tooFewValues", replaceCell(&TarrowCall::pooled, 3, singles(14))},
        {"double pooled map", "tarrow:badCell", replaceCell(&TarrowCall::pooled, 0, [](auto&) { return minihost::doubles(16, 1); })},
        {"trace map too small", "tarrow:tooFewValues", replaceCell(&TarrowCall::traces, 5, singles(14))},
        {"too few trace cells", "tarrow:tooFewCells", replaceArray(15, minihost::cellArray(2, 2))},
        {"sketch too small", "tarrow:tooFewValues", replaceCell(&TarrowCall::sketches, 1, singles(69))},
        {"double sketch", "tarrow:badCell", replaceCell(&TarrowCall::sketches, 0, [](auto&) { return minihost::doubles(72, 1); })},
        {"sketch sharing a pooled map", "tarrow:sharedData", [](auto&, auto& call, auto&) {
             mxArray* pooled = minihost::putCell(call.pooled.cells.get(), 4, minihost::singles(80, 1));
             minihost::putCell(call.sketches.cells.get(), 0, minihost::sharedCopy(pooled));
         }},
        {"sketches sharing data", "tarrow:sharedData", replaceCell(&TarrowCall::sketches, 1, [](auto& call) { return minihost::sharedCopy(call.sketches.map(0, 0)); })},
        {"infinite anchor", "tarrow:outOfRange", vary([](auto& call) { call.anchorRows[1] = INFINITY; })},
        {"anchor beyond 32 bits", "tarrow:outOfRange", vary([](auto& call) { call.anchorCols[0] = -2147483649.0; })},
        {"too few anchors", "tarrow:tooFewValues", vary([](auto& call) { call.anchorCols.pop_back(); })},
        {"saturation level 0", "tarrow:outOfRange", scalarAt(19, 0)},
        {"saturation level NaN", "tarrow:outOfRange", scalarAt(19, NAN)},
        {"trace value 1.5 at an element", "tarrow:outOfRange", vary([](auto& call) { call.traceAt(1, 2, 3, 4) = 1.5f; })},
        {"trace value 9 at an element", "tarrow:outOfRange", vary([](auto& call) { call.traceAt(0, 0, 3, 2) = 9.0f; })},
        {"negative trace value", "tarrow:outOfRange", vary([](auto& call) { call.traceAt(0, 2, 4, 4) = -1.0f; })},
        {"NaN trace value", "tarrow:outOfRange", vary([](auto& call) { call.traceAt(1, 0, 2, 2) = NAN; })},
    };
    testsupport::SeededRandom random;
    auto validCall = [&] {
        TarrowCall call = makeCall({9, 7}, {8, 10}, {3, 1, 1, 2, 1}, 1);
        // Image 0 places its elements at pooled (3, 2) and (4, 4), image 1 at (2, 2) and (3, 4).
        call.setElements({0, 2}, {1, 2}, {0, 2});
        call.anchorRows = {2, 1};
        call.anchorCols = {2, 2};
        testsupport::fillUniform(call.pooled, random, 0.5f, 3.0f);
        testsupport::fillEach(call.traces, [&] { return random.integer(0, 8); });
        // Off the elements' positions the traces need not be slots.
        call.traceAt(0, 0, 1, 1) = 77.0f;
        call.traceAt(1, 2, 3, 5) = -1.0f;
        testsupport::fillUniform(call.sketches, random, 10.0f, 20.0f);
        return call;
    };
    {
        TarrowCall call = validCall();
        ASSERT_FALSE(call.run().failed) << "the base call is valid";
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TarrowCall call = validCall();
        std::vector<Array> keep;
        std::vector<const mxArray*> args = call.args();
        c.spoil(args, call, keep);
        auto sketchesBefore = snapshot<float>(call.sketches);
        minihost::CallResult result = callPlugin(minihost::loadPlugin("tarrow"), args);
        EXPECT_TRUE(result.failed);
        EXPECT_FALSE(result.escaped);
        EXPECT_EQ(result.errorId, c.id) << result.errorMessage;
        EXPECT_EQ(snapshot<float>(call.sketches), sketchesBefore);
    }
    TarrowCall call = validCall();
    EXPECT_EQ(callPlugin(minihost::loadPlugin("tarrow"), call.args(), 1).errorId, "tarrow:tooManyOutputs");
    call.traceAt(1, 2, 3, 4) = 2.25f;
    EXPECT_EQ(call.run().errorMessage,
              "argument 15 (traceMaps), cell 6 (image 2, orientation 3), position (3, 4): expected a shift slot, a "
              "whole number from 0 to 8; got 2.25");
}

// A shift range out of all proportion to the pooled maps is refused before any allocation,
// and a call that draws nothing builds no tables.
TEST(Tarrow, CountsOutOfProportionToTheMapsCostNothing) {
    TarrowCall tiny = makeCall({4}, {4}, {2, 30000, 1, 1, 0});
    minihost::CallResult range = tiny.run();
    EXPECT_EQ(range.errorId, "tarrow:tooLarge") << range.errorMessage;
    EXPECT_LE(range.blocksAllocated, 1);  // at most the record of the size arrays read

    TarrowCall undetected = makeCall({6, 4}, {6, 4}, {1000, 10, 1, 2, 0});
    undetected.setElements({0, 999}, {0, 1}, {0, 1});
    undetected.anchorRows = {nan, 1};
    undetected.anchorCols = {1, nan};
    minihost::CallResult nothingDrawn = undetected.run();
    EXPECT_FALSE(nothingDrawn.failed) << nothingDrawn.errorMessage;
    EXPECT_LT(nothingDrawn.blocksAllocated, undetected.q.orientCount);
}

// Levels that single precision cannot hold, and a negative one: one 1 x 1 stamp per pooled
// position, each drawn at sqrt(saturate(r, s)), so a level rounded to single or a regrouped
// formula changes some drawn pixels.
TEST(Tarrow, SaturatesAtLevelsSinglePrecisionCannotHold) {
    testsupport::SeededRandom random;
    const int side = 20;
    for (double level : {0.1, 1.0 / 3.0, -0.7}) {
        SCOPED_TRACE(testing::Message() << "level " << level);
        TarrowCall call = makeCall({side}, {side}, {1, 0, 0, 1, 0});
        std::vector<double> orients, rowOffsets, colOffsets;
        for (int k = 0; k < side * side; ++k) {
            orients.push_back(0);
            rowOffsets.push_back(1 + k % side);
            colOffsets.push_back(1 + k / side);
        }
        call.setElements(orients, rowOffsets, colOffsets);
        call.saturationLevel = level;
        testsupport::fillEach(call.pooled, [&] { return random.uniform(1e-3f, 2.0f); });
        auto expected = drawnPlainly(call);
        ASSERT_FALSE(call.run().failed);
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.sketches), expected));
    }
}

}  // namespace
