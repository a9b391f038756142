#include "inhibit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "minihost.h"
#include "test_support.h"

using testsupport::MapGrid;
using testsupport::snapshot;

namespace {

TEST(PoolWindow, KeepsEveryReachableStampInsideTheMap) {
    PoolWindow w = computePoolWindow(3, 1, 2, 100, 100);
    EXPECT_EQ(w.rowLo, 4);
    EXPECT_EQ(w.rowHi, 46);
    EXPECT_EQ(w.colLo, 4);
    EXPECT_EQ(w.colHi, 46);
    EXPECT_FALSE(isEmpty(w));
    PoolWindow narrow = computePoolWindow(3, 1, 2, 100, 11);
    EXPECT_EQ(narrow.colHi, 2);
    EXPECT_TRUE(isEmpty(narrow));
    // (2 - 5) / 2 truncates toward zero to -1, where a floor would give -2.
    EXPECT_EQ(computePoolWindow(5, 0, 2, 2, 2).rowHi, -2);
}

// A stamp of (2h + 1)^2 values 1, 2, 3, ... in column-major order.
std::vector<double> countingStamp(int h) {
    std::vector<double> stamp((2 * h + 1) * (2 * h + 1));
    for (size_t k = 0; k < stamp.size(); ++k) stamp[k] = static_cast<double>(k + 1);
    return stamp;
}

TEST(StampElement, DrawsThePointwiseMaximumClippedToTheMap) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 200; ++trial) {
        int rows = random.integer(1, 9), cols = random.integer(1, 9), h = random.integer(0, 3);
        std::vector<double> stamp((2 * h + 1) * (2 * h + 1));
        for (double& v : stamp) v = random.uniform(-2.0f, 3.0f);
        const double* stamps[] = {nullptr, stamp.data()};
        std::vector<float> map(rows * cols + 1);
        for (float& v : map) v = random.uniform(-1.0f, 2.0f);
        int x = random.integer(-h - 2, rows + h + 2), y = random.integer(-h - 2, cols + h + 2);
        double factor = random.uniform(-1.0f, 2.0f);
        std::vector<float> expected = map;
        for (int xi = 1; xi <= rows; ++xi) {
            for (int yi = 1; yi <= cols; ++yi) {
                if (std::abs(xi - x) > h || std::abs(yi - y) > h) continue;
                float v = static_cast<float>(stamp[(xi - x + h) + (yi - y + h) * (2 * h + 1)] * factor);
                float& old = expected[(xi - 1) + (yi - 1) * rows];
                old = std::max(old, v);
            }
        }
        stampElement(map.data(), rows, cols, stamps, h, 1, x, y, factor);
        ASSERT_EQ(map, expected) << "trial " << trial;
        stampElement(map.data(), rows, cols, stamps, h, 1, x, y, factor);
        ASSERT_EQ(map, expected) << "a second stamp changed the map, trial " << trial;
    }
}

TEST(StampElement, AtTheCornerDrawsOnlyTheLowerRightQuarter) {
    std::vector<double> stamp = countingStamp(1);  // 3 x 3: 1 4 7 / 2 5 8 / 3 6 9
    const double* stamps[] = {stamp.data()};
    std::vector<float> map(16, 0.0f);
    stampElement(map.data(), 4, 4, stamps, 1, 0, 1, 1, 0.5);
    EXPECT_EQ(map, std::vector<float>({2.5f, 3.0f, 0, 0, 4.0f, 4.5f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    stampElement(map.data(), 4, 4, stamps, 1, 0, 7, 2, 1.0);
    stampElement(map.data(), 4, 4, stamps, 1, 0, INT32_MIN, INT32_MAX, 1.0);
    EXPECT_EQ(map[0], 2.5f);
    EXPECT_EQ(map[15], 0.0f);
}

// A grid of images x orientations with its pooled and trace maps, pooled by vindral, and an
// overlap table of factors, as a caller of the learning and recovery plug-ins holds them.
struct Scene {
    int imageCount, orientCount, posShiftMax, orientShiftMax, poolStep, filterHalf, rows, cols;
    MapGrid responses, pooled, traces;
    std::vector<std::vector<double>> overlap;

    int pooledRows() const { return rows / poolStep; }
    int pooledCols() const { return cols / poolStep; }
    int side() const { return 4 * filterHalf + 1; }
};

Scene makeScene(int imageCount, int orientCount, int posShiftMax, int orientShiftMax, int poolStep,
                int filterHalf, int rows, int cols) {
    Scene s{imageCount, orientCount, posShiftMax, orientShiftMax, poolStep, filterHalf, rows, cols, {}, {}, {}, {}};
    std::vector<int> r(imageCount, rows), c(imageCount, cols);
    std::vector<int> pr(imageCount, s.pooledRows()), pc(imageCount, s.pooledCols());
    s.responses = testsupport::makeGrid(imageCount, orientCount, r, c, mxSINGLE_CLASS);
    s.pooled = testsupport::makeGrid(imageCount, orientCount, pr, pc, mxSINGLE_CLASS);
    s.traces = testsupport::makeGrid(imageCount, orientCount, pr, pc, mxSINGLE_CLASS);
    s.overlap.assign(orientCount * orientCount, std::vector<double>(s.side() * s.side(), 1.0));
    return s;
}

// Pools `responses` into `pooled` and `traces` with the vindral plug-in.
void poolWithVindral(const Scene& s, const MapGrid& responses, const MapGrid& pooled, const MapGrid& traces) {
    using minihost::scalar;
    minihost::Array count = scalar(s.imageCount);
    minihost::Array rows = minihost::doubles(1, s.imageCount, std::vector<double>(s.imageCount, s.rows));
    minihost::Array cols = minihost::doubles(1, s.imageCount, std::vector<double>(s.imageCount, s.cols));
    minihost::Array orients = scalar(s.orientCount), positions = scalar(s.posShiftMax);
    minihost::Array orientSteps = scalar(s.orientShiftMax), step = scalar(s.poolStep);
    minihost::CallResult result =
        minihost::callPlugin(minihost::loadPlugin("vindral"),
                             {count.get(), rows.get(), cols.get(), orients.get(), positions.get(), orientSteps.get(),
                              step.get(), responses.cells.get(), pooled.cells.get(), traces.cells.get()});
    ASSERT_FALSE(result.failed) << result.errorMessage;
}

// Runs inhibitAround on the scene's maps with the scene's own shift tables.
void inhibit(Scene& s, int image, int selOrient, int x, int y, float* const* summedMaps) {
    std::vector<float*> responses = testsupport::cellTable<float>(s.responses), pooled = testsupport::cellTable<float>(s.pooled),
                        traces = testsupport::cellTable<float>(s.traces);
    std::vector<const double*> overlap;
    for (const auto& cell : s.overlap) overlap.push_back(cell.data());
    ShiftTable shifts = buildShiftTables(s.orientCount, s.posShiftMax, s.orientShiftMax, s.poolStep);
    InhibitGrids grids{responses.data(), pooled.data(), traces.data(), overlap.data(),
                       s.imageCount,     s.orientCount, s.filterHalf,  s.posShiftMax,
                       s.poolStep};
    ImageExtent extent{s.rows, s.cols, s.pooledRows(), s.pooledCols(),
                       computePoolWindow(s.filterHalf, s.posShiftMax, s.poolStep, s.rows, s.cols)};
    inhibitAround(shifts, grids, extent, image, selOrient, x, y, summedMaps);
    freeShiftTables(shifts, s.orientCount);
}

// Sums over images of the pooled value of each orientation, kept like the learner's running
// sums: orientCount rows of pooledRows * pooledCols values, plus `offset` everywhere.
std::vector<std::vector<float>> pooledSums(const Scene& s, const MapGrid& pooled, float offset) {
    std::vector<std::vector<float>> sums(s.orientCount, std::vector<float>(s.pooledRows() * s.pooledCols(), offset));
    for (int o = 0; o < s.orientCount; ++o) {
        for (int image = 0; image < s.imageCount; ++image) {
            const float* p = pooled.singles(image, o);
            for (size_t k = 0; k < sums[o].size(); ++k) sums[o][k] += p[k];
        }
    }
    return sums;
}

// Every response inhibitAround must rescale, and every pooled position it must search again,
// written out from the definition, then checked against a full re-pooling by vindral of the
// suppressed responses. Responses are small whole numbers and factors 0, 0.5 or 1, so every
// sum is exact: the running sums, kept by differences, must then equal a fresh sum.
TEST(InhibitAround, RepoolsExactlyTheWipedOutMaximaAndKeepsTheSumsCurrent) {
    testsupport::SeededRandom random;
    int repooledInAll = 0, staleInAll = 0;
    for (int trial = 0; trial < 60; ++trial) {
        int orientCount = random.integer(1, 5);
        Scene s = makeScene(random.integer(1, 3), orientCount, random.integer(0, 2),
                            random.integer(0, std::min(orientCount - 1, 2)), random.integer(1, 3),
                            random.integer(0, 2), random.integer(8, 30), random.integer(8, 30));
        SCOPED_TRACE("trial " + std::to_string(trial));
        testsupport::fillEach(s.responses, [&] { return std::floor(random.uniform(-3.0f, 10.0f)); });
        poolWithVindral(s, s.responses, s.pooled, s.traces);
        const double factorChoices[] = {0.0, 0.5, 1.0};
        for (auto& cell : s.overlap) {
            for (double& f : cell) f = factorChoices[random.integer(0, 2)];
        }
        const float offset = 1000.0f;  // sums kept by difference keep whatever they started from
        std::vector<std::vector<float>> sums = pooledSums(s, s.pooled, offset);
        int image = random.integer(0, s.imageCount - 1), selOrient = random.integer(0, orientCount - 1);
        int x = random.integer(1, s.rows), y = random.integer(1, s.cols);
        int h = s.filterHalf, reach = 2 * h;

        auto responsesBefore = snapshot<float>(s.responses);
        auto pooledBefore = snapshot<float>(s.pooled), tracesBefore = snapshot<float>(s.traces);
        auto expectedResponses = responsesBefore;
        for (int o = 0; o < orientCount; ++o) {
            std::vector<float>& map = expectedResponses[image + o * s.imageCount];
            const std::vector<double>& factors = s.overlap[selOrient + o * orientCount];
            for (int xi = std::max(1, x - reach); xi <= std::min(s.rows, x + reach); ++xi) {
                for (int yi = std::max(1, y - reach); yi <= std::min(s.cols, y + reach); ++yi) {
                    float& v = map[(xi - 1) + (yi - 1) * s.rows];
                    v = static_cast<float>(v * factors[(xi - x + reach) + (yi - y + reach) * s.side()]);
                }
            }
        }
        // The positions to search again: inside the window and the range (quotients truncated
        // toward zero), traced to a source within reach whose factor is exactly 0.
        PoolWindow w = computePoolWindow(h, s.posShiftMax, s.poolStep, s.rows, s.cols);
        auto truncated = [&](int v) { return static_cast<int>(std::trunc(double(v) / s.poolStep)); };
        int rowFrom = std::max(w.rowLo, truncated(x - reach) - s.posShiftMax + 1);
        int rowTo = std::min(w.rowHi, truncated(x + reach) + s.posShiftMax);
        int colFrom = std::max(w.colLo, truncated(y - reach) - s.posShiftMax + 1);
        int colTo = std::min(w.colHi, truncated(y + reach) + s.posShiftMax);
        ShiftTable shifts = buildShiftTables(orientCount, s.posShiftMax, s.orientShiftMax, s.poolStep);
        std::vector<std::vector<bool>> repool(orientCount, std::vector<bool>(s.pooledRows() * s.pooledCols()));
        for (int o = 0; o < orientCount; ++o) {
            for (int px = rowFrom; px <= rowTo; ++px) {
                for (int py = colFrom; py <= colTo; ++py) {
                    int k = (px - 1) + (py - 1) * s.pooledRows();
                    int slot = static_cast<int>(tracesBefore[image + o * s.imageCount][k]);
                    int dx = px * s.poolStep + shifts.rowShift[o][slot] - x;
                    int dy = py * s.poolStep + shifts.colShift[o][slot] - y;
                    if (std::abs(dx) > reach || std::abs(dy) > reach) continue;
                    const auto& factors = s.overlap[selOrient + shifts.shiftedOrient[o][slot] * orientCount];
                    repool[o][k] = factors[(dx + reach) + (dy + reach) * s.side()] == 0.0;
                }
            }
        }
        freeShiftTables(shifts, orientCount);

        std::vector<float*> sumRows;
        for (auto& row : sums) sumRows.push_back(row.data());
        inhibit(s, image, selOrient, x, y, sumRows.data());

        ASSERT_EQ(snapshot<float>(s.responses), expectedResponses);
        MapGrid fresh = testsupport::makeGrid(s.imageCount, orientCount, std::vector<int>(s.imageCount, s.pooledRows()),
                                              std::vector<int>(s.imageCount, s.pooledCols()), mxSINGLE_CLASS);
        MapGrid freshTraces = testsupport::makeGrid(s.imageCount, orientCount,
                                                    std::vector<int>(s.imageCount, s.pooledRows()),
                                                    std::vector<int>(s.imageCount, s.pooledCols()), mxSINGLE_CLASS);
        poolWithVindral(s, s.responses, fresh, freshTraces);
        auto expectedPooled = pooledBefore, expectedTraces = tracesBefore;
        auto freshPooled = snapshot<float>(fresh), freshTrace = snapshot<float>(freshTraces);
        for (int o = 0; o < orientCount; ++o) {
            int c = image + o * s.imageCount;
            for (size_t k = 0; k < repool[o].size(); ++k) {
                if (repool[o][k]) {
                    expectedPooled[c][k] = freshPooled[c][k];
                    expectedTraces[c][k] = freshTrace[c][k];
                    ++repooledInAll;
                } else if (pooledBefore[c][k] != freshPooled[c][k]) {
                    ++staleInAll;  // scaled but not wiped out, or outside the range: kept as it was
                }
            }
        }
        ASSERT_EQ(snapshot<float>(s.pooled), expectedPooled);
        ASSERT_EQ(snapshot<float>(s.traces), expectedTraces);
        ASSERT_EQ(sums, pooledSums(s, s.pooled, offset));
    }
    EXPECT_GT(repooledInAll, 100);
    EXPECT_GT(staleInAll, 100);
}

// One orientation at angle 0 shifts along rows by -2, 0, +2 pixels (poolStep 2). A single
// strong response at pixel (10, 4) wins pooled rows 4 (slot 2, +2), 5 (slot 0) and 6 (slot 1,
// -2) of column 2. Wiping it out repools rows 5 and 6 only: the range starts at
// (10 / 2) - 1 + 1 = 5, so row 4 keeps its now stale maximum and slot.
TEST(InhibitAround, UsesTheRepoolingRangeExactlyAsWritten) {
    Scene s = makeScene(1, 1, 1, 0, 2, 0, 20, 8);
    testsupport::fillEach(s.responses, [] { return 1.0; });
    s.responses.singles(0, 0)[9 + 3 * 20] = 9.0f;
    poolWithVindral(s, s.responses, s.pooled, s.traces);
    auto at = [&](const MapGrid& grid, int px) { return grid.singles(0, 0)[(px - 1) + 1 * 10]; };
    ASSERT_EQ(std::vector<float>({at(s.pooled, 4), at(s.pooled, 5), at(s.pooled, 6)}), std::vector<float>(3, 9.0f));
    ASSERT_EQ(std::vector<float>({at(s.traces, 4), at(s.traces, 5), at(s.traces, 6)}),
              std::vector<float>({2.0f, 0.0f, 1.0f}));

    s.overlap[0][0] = 0.5;
    inhibit(s, 0, 0, 10, 4, nullptr);
    EXPECT_EQ(s.responses.singles(0, 0)[9 + 3 * 20], 4.5f);
    EXPECT_EQ(at(s.pooled, 5), 9.0f) << "a halved source keeps its maximum";
    EXPECT_EQ(at(s.traces, 5), 0.0f);

    s.overlap[0][0] = 0.0;
    inhibit(s, 0, 0, 10, 4, nullptr);
    EXPECT_EQ(s.responses.singles(0, 0)[9 + 3 * 20], 0.0f);
    EXPECT_EQ(std::vector<float>({at(s.pooled, 4), at(s.pooled, 5), at(s.pooled, 6)}),
              std::vector<float>({9.0f, 1.0f, 1.0f}));
    // Row 5 now finds 0 at its own pixel and 1 at pixel 8 (slot 1, -2); row 6 finds 1 at once.
    EXPECT_EQ(std::vector<float>({at(s.traces, 4), at(s.traces, 5), at(s.traces, 6)}),
              std::vector<float>({2.0f, 1.0f, 0.0f}));
}

// A cell of zeros alone is one repeated factor only when the zeros share their sign: +0 and -0
// are equal values but give positive responses products of their own sign. The first factor
// is +0 or -0, the others of either sign at random, in every orientation.
TEST(InhibitAround, ZerosOfBothSignsGiveEachProductItsFactorsSign) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 8; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        Scene s = makeScene(1, 2, 1, 1, 1, 2, 15, 15);
        testsupport::fillEach(s.responses, [&] { return random.uniform(0.5f, 3.0f); });
        poolWithVindral(s, s.responses, s.pooled, s.traces);
        for (int b = 0; b < 2; ++b) {
            std::vector<double>& cell = s.overlap[0 + 2 * b];
            for (double& f : cell) f = random.integer(0, 1) ? -0.0 : 0.0;
            cell[0] = trial % 2 ? -0.0 : 0.0;
        }
        const int x = 8, y = 7, reach = 4;
        inhibit(s, 0, 0, x, y, nullptr);
        for (int b = 0; b < 2; ++b) {
            const float* responses = s.responses.singles(0, b);
            for (int xi = x - reach; xi <= x + reach; ++xi) {
                for (int yi = y - reach; yi <= y + reach; ++yi) {
                    float v = responses[(xi - 1) + (yi - 1) * 15];
                    double f = s.overlap[2 * b][(xi - x + reach) + (yi - y + reach) * s.side()];
                    ASSERT_EQ(v, 0.0f);
                    ASSERT_EQ(std::signbit(v), std::signbit(f)) << "orientation " << b << ", pixel (" << xi << ", "
                                                                << yi << ")";
                }
            }
        }
    }
}

TEST(InhibitAround, WithAnEmptyWindowSuppressesButRepoolsNothing) {
    Scene s = makeScene(1, 2, 1, 1, 2, 2, 9, 9);
    ASSERT_TRUE(isEmpty(computePoolWindow(2, 1, 2, 9, 9)));
    testsupport::fillEach(s.responses, [] { return 3.0; });
    poolWithVindral(s, s.responses, s.pooled, s.traces);
    for (auto& cell : s.overlap) std::fill(cell.begin(), cell.end(), 0.0);
    auto pooledBefore = snapshot<float>(s.pooled), tracesBefore = snapshot<float>(s.traces);
    inhibit(s, 0, 1, 5, 5, nullptr);
    for (const auto& map : snapshot<float>(s.responses)) {
        EXPECT_EQ(std::count(map.begin(), map.end(), 0.0f), 81) << "every response lies within 2h = 4 of (5, 5)";
    }
    EXPECT_EQ(snapshot<float>(s.pooled), pooledBefore);
    EXPECT_EQ(snapshot<float>(s.traces), tracesBefore);
}

TEST(ShiftSlots, AreWholeNumbersBelowTheSlotCount) {
    EXPECT_TRUE(isShiftSlot(0.0f, 1));
    EXPECT_TRUE(isShiftSlot(-0.0f, 1));
    EXPECT_TRUE(isShiftSlot(20.0f, 21));
    EXPECT_FALSE(isShiftSlot(21.0f, 21));
    EXPECT_FALSE(isShiftSlot(-1.0f, 21));
    EXPECT_FALSE(isShiftSlot(2.5f, 21));
    EXPECT_FALSE(isShiftSlot(std::nanf(""), 21));
    EXPECT_FALSE(isShiftSlot(INFINITY, 21));
}

}  // namespace
