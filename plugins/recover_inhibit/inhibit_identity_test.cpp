// inhibitAround against its plain loop (plain_detection_loops.h), bit for bit, on random
// scenes: odd map sizes, every shift range and pool step, responses with ties, quiet and
// signalling NaN, infinities, -0 and the noResponse start value, overlap cells of exactly 0,
// 0.5, 1, -0, NaN and random factors in patches of any size, elements at and beyond the
// borders, empty pool windows, with and without running sums, several inhibitions in a row
// with one prepared work (whose NaN bookkeeping must follow NaN made by earlier ones), trace
// values that only round to their slots, reading ahead between inhibitions, and the kernels
// for processors without AVX2 as well as with it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "inhibit.h"
#include "plain_detection_loops.h"
#include "shifts.h"
#include "test_support.h"

namespace {

using Maps = std::vector<std::vector<float>>;

// A response drawn so that ties, special values and range edges all occur.
float responseDrawn(testsupport::SeededRandom& random) {
    switch (random.integer(0, 11)) {
        case 0: return random.integer(0, 1) ? std::numeric_limits<float>::quiet_NaN()
                                            : std::numeric_limits<float>::signaling_NaN();
        case 1: return std::numeric_limits<float>::infinity();
        case 2: return -std::numeric_limits<float>::infinity();
        case 3: return -0.0f;
        case 4: return noResponse;
        case 5: return std::numeric_limits<float>::max();
        case 6: case 7: return static_cast<float>(random.integer(0, 3));
        default: return random.uniform(-4.0f, 4.0f);
    }
}

double factorDrawn(testsupport::SeededRandom& random) {
    switch (random.integer(0, 6)) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return 0.5;
        case 3: return 1.0;
        case 4: return random.integer(0, 40) == 0 ? std::numeric_limits<double>::quiet_NaN() : 2.0;
        default: return random.uniform(-1.0f, 1.0f);
    }
}

// One cell of overlap factors: uniform 0, 0.5 or 1, or a background with a patch of another
// kind (zeros in a small square is the common case).
std::vector<double> overlapCell(testsupport::SeededRandom& random, int side) {
    const double uniformValues[] = {0.0, 0.5, 1.0};
    int kind = random.integer(0, 5);
    if (kind < 3) return std::vector<double>(side * side, uniformValues[kind]);
    std::vector<double> cell(side * side, kind == 3 ? 1.0 : 0.5);
    int rowLo = random.integer(0, side - 1), rowHi = random.integer(rowLo, side - 1);
    int colLo = random.integer(0, side - 1), colHi = random.integer(colLo, side - 1);
    for (int c = colLo; c <= colHi; ++c) {
        for (int r = rowLo; r <= rowHi; ++r) cell[r + c * side] = kind == 5 ? factorDrawn(random) : 0.0;
    }
    return cell;
}

template <typename T>
std::vector<T*> pointersTo(std::vector<std::vector<T>>& maps) {
    std::vector<T*> table;
    for (auto& map : maps) table.push_back(map.data());
    return table;
}

bool sameBits(const Maps& a, const Maps& b) {
    for (size_t c = 0; c < a.size(); ++c) {
        if (a[c].size() != b[c].size() || std::memcmp(a[c].data(), b[c].data(), a[c].size() * sizeof(float)) != 0) {
            return false;
        }
    }
    return a.size() == b.size();
}

struct Scene {
    int imageCount, orientCount, posShiftMax, orientShiftMax, poolStep, filterHalf, rows, cols;
    int pooledRows() const { return rows / poolStep; }
    int pooledCols() const { return cols / poolStep; }
};

Scene sceneDrawn(testsupport::SeededRandom& random) {
    Scene s;
    s.imageCount = random.integer(1, 2);
    s.orientCount = random.integer(1, 6);
    s.posShiftMax = random.integer(0, 3);
    s.orientShiftMax = random.integer(0, std::min(2, s.orientCount - 1));
    s.poolStep = random.integer(1, 3);
    s.filterHalf = random.integer(0, 4);
    s.rows = random.integer(3, 47);
    s.cols = random.integer(3, 47);
    return s;
}

// Runs the same inhibitions through inhibitAround and through the plain loop, from the same
// responses pooled by the plain pooling loop, and compares every map and sum afterwards.
void checkScene(testsupport::SeededRandom& random, const Scene& s, int inhibitions) {
    int cells = s.imageCount * s.orientCount, pooledValues = s.pooledRows() * s.pooledCols();
    Maps responses(cells, std::vector<float>(s.rows * s.cols)), pooled(cells, std::vector<float>(pooledValues)),
        traces(cells, std::vector<float>(pooledValues));
    for (auto& map : responses) {
        for (float& v : map) v = responseDrawn(random);
    }
    std::vector<double> rowSizes(s.imageCount, s.rows), colSizes(s.imageCount, s.cols);
    std::vector<const float*> responseTable;
    for (auto& map : responses) responseTable.push_back(map.data());
    std::vector<float*> pooledTable = pointersTo(pooled), traceTable = pointersTo(traces);
    plaindetect::vindral(s.imageCount, rowSizes.data(), colSizes.data(), s.orientCount, s.posShiftMax,
                         s.orientShiftMax, s.poolStep, responseTable.data(), pooledTable.data(), traceTable.data());
    int side = 4 * s.filterHalf + 1;
    std::vector<std::vector<double>> overlap;
    for (int c = 0; c < s.orientCount * s.orientCount; ++c) overlap.push_back(overlapCell(random, side));
    std::vector<const double*> overlapTable;
    for (auto& cell : overlap) overlapTable.push_back(cell.data());
    // Now and then trace values inside the window that are not whole but round half up to
    // their slot, as inhibition reads them.
    if (random.integer(0, 4) == 0) {
        const float nudges[] = {-0.5f, -0.25f, 0.25f, 0.49f};
        for (auto& map : traces) {
            for (float& v : map) {
                if (random.integer(0, 3) == 0) v += nudges[random.integer(0, 3)];
            }
        }
    }
    bool withSums = random.integer(0, 1) == 1;
    Maps sums(s.orientCount, std::vector<float>(pooledValues));
    for (auto& row : sums) {
        for (float& v : row) v = random.uniform(-8.0f, 8.0f);
    }
    Maps plainResponses = responses, plainPooled = pooled, plainTraces = traces, plainSums = sums;

    PoolWindow w = computePoolWindow(s.filterHalf, s.posShiftMax, s.poolStep, s.rows, s.cols);
    std::vector<float*> responsesFast = pointersTo(responses), sumsFast = pointersTo(sums);
    InhibitGrids grids{responsesFast.data(), pooledTable.data(), traceTable.data(), overlapTable.data(),
                       s.imageCount,         s.orientCount,      s.filterHalf,      s.posShiftMax,
                       s.poolStep};
    ImageExtent extent{s.rows, s.cols, s.pooledRows(), s.pooledCols(), w};
    std::vector<float*> responsesPlain = pointersTo(plainResponses), pooledPlain = pointersTo(plainPooled),
                        tracesPlain = pointersTo(plainTraces), sumsPlain = pointersTo(plainSums);
    plaindetect::InhibitMaps maps{responsesPlain.data(), pooledPlain.data(), tracesPlain.data(), overlapTable.data(),
                                  s.imageCount, s.orientCount, s.filterHalf, s.posShiftMax, s.poolStep, s.rows,
                                  s.cols, s.pooledRows(), s.pooledCols(), w.rowLo, w.rowHi, w.colLo, w.colHi};
    ShiftTable shifts = buildShiftTables(s.orientCount, s.posShiftMax, s.orientShiftMax, s.poolStep);
    plaindetect::Shifts plainShifts = plaindetect::buildShifts(s.orientCount, s.posShiftMax, s.orientShiftMax,
                                                               s.poolStep);
    // One work serves the scene's inhibitions, as it serves a plug-in call's; now and then an
    // inhibition brings work of its own.
    InhibitWork work = prepareInhibition(shifts, grids, InhibitedSizes{&s.rows, &s.cols, 0});
    if (random.integer(0, 2) == 0) work.useAvx2 = false;
    if (random.integer(0, 1) == 0) learnNaNFreedom(work, grids, InhibitedSizes{&s.rows, &s.cols, 0});
    int beyond = 2 * s.filterHalf + 2;
    for (int n = 0; n < inhibitions; ++n) {
        int image = random.integer(0, s.imageCount - 1), selOrient = random.integer(0, s.orientCount - 1);
        int x = random.integer(1 - beyond, s.rows + beyond), y = random.integer(1 - beyond, s.cols + beyond);
        float* const* fastSums = withSums ? sumsFast.data() : nullptr;
        if (random.integer(0, 2) == 0) {
            // Reading ahead for some inhibition, perhaps this one, changes nothing.
            int aheadImage = random.integer(0, s.imageCount - 1);
            readAheadInhibition(shifts, grids, extent, aheadImage, random.integer(0, s.orientCount - 1),
                                random.integer(1 - beyond, s.rows + beyond), random.integer(1 - beyond, s.cols + beyond),
                                work);
            readAheadInhibition(shifts, grids, extent, image, selOrient, x, y, work);
        }
        if (random.integer(0, 3) == 0) {
            inhibitAround(shifts, grids, extent, image, selOrient, x, y, fastSums);
        } else {
            inhibitAround(shifts, grids, extent, image, selOrient, x, y, fastSums, work);
        }
        plaindetect::inhibitAround(plainShifts, maps, image, selOrient, x, y, withSums ? sumsPlain.data() : nullptr);
    }
    releaseInhibition(work);
    freeShiftTables(shifts, s.orientCount);
    EXPECT_TRUE(sameBits(responses, plainResponses)) << "responses";
    EXPECT_TRUE(sameBits(pooled, plainPooled)) << "pooled maps";
    EXPECT_TRUE(sameBits(traces, plainTraces)) << "trace maps";
    EXPECT_TRUE(sameBits(sums, plainSums)) << "running sums";
}

TEST(InhibitAroundIdentity, MatchesThePlainLoopOnRandomScenes) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 400; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        checkScene(random, sceneDrawn(random), random.integer(1, 6));
        if (HasFailure()) return;
    }
}

// The realistic case: 16 orientations, filterHalf 8, posShiftMax 3, whole cells of zeros or
// zeros in a small centre square, many inhibitions of one image.
TEST(InhibitAroundIdentity, MatchesThePlainLoopOnLargeScenes) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 6; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        Scene s{1, 16, 3, 1, 2, 8, 64 + trial, 61 + 2 * trial};
        checkScene(random, s, 20);
        if (HasFailure()) return;
    }
    // Pool steps 1 and 3 (the sweep's other kernels), more slots than a slot mask holds, and
    // maps of several blocks of rows.
    const Scene others[] = {{2, 8, 2, 1, 1, 5, 75, 40}, {1, 12, 3, 2, 1, 6, 53, 57}, {1, 8, 3, 1, 3, 7, 99, 70}};
    for (const Scene& s : others) {
        checkScene(random, s, 20);
        if (HasFailure()) return;
    }
}

}  // namespace
