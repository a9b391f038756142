#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "frame.h"
#include "minihost.h"
#include "shifts.h"
#include "test_support.h"

using minihost::Array;
using minihost::callPlugin;
using testsupport::MapGrid;
using testsupport::snapshot;

namespace {

struct Params {
    int orientCount, posShiftMax, orientShiftMax, poolStep;
};

struct VindralCall {
    Params params;
    std::vector<int> rows, cols, pooledRows, pooledCols;
    Array imageCount, imageRows, imageCols, orientCount, posShiftMax, orientShiftMax, poolStep;
    MapGrid responses, pooled, traces;
    std::vector<const mxArray*> args() const {
        return {imageCount.get(), imageRows.get(), imageCols.get(), orientCount.get(), posShiftMax.get(),
                orientShiftMax.get(), poolStep.get(), responses.cells.get(), pooled.cells.get(), traces.cells.get()};
    }
};

// Sizes are passed as given and rounded half up by the plug-in; every cell gets `spare`
// values beyond what the call may touch.
VindralCall makeCall(const std::vector<double>& rowsGiven, const std::vector<double>& colsGiven, Params params,
                     int spare = 0) {
    int imageCount = static_cast<int>(rowsGiven.size());
    VindralCall call;
    call.params = params;
    for (int image = 0; image < imageCount; ++image) {
        call.rows.push_back(roundHalfUp(rowsGiven[image]));
        call.cols.push_back(roundHalfUp(colsGiven[image]));
        call.pooledRows.push_back(static_cast<int>(std::floor(double(call.rows[image]) / params.poolStep)));
        call.pooledCols.push_back(static_cast<int>(std::floor(double(call.cols[image]) / params.poolStep)));
    }
    call.imageCount = minihost::scalar(imageCount);
    call.imageRows = minihost::doubles(1, imageCount, rowsGiven);
    call.imageCols = minihost::doubles(1, imageCount, colsGiven);
    call.orientCount = minihost::scalar(params.orientCount);
    call.posShiftMax = minihost::scalar(params.posShiftMax);
    call.orientShiftMax = minihost::scalar(params.orientShiftMax);
    call.poolStep = minihost::scalar(params.poolStep);
    int orients = params.orientCount;
    call.responses = testsupport::makeGrid(imageCount, orients, call.rows, call.cols, mxSINGLE_CLASS, spare);
    call.pooled = testsupport::makeGrid(imageCount, orients, call.pooledRows, call.pooledCols, mxSINGLE_CLASS, spare);
    call.traces = testsupport::makeGrid(imageCount, orients, call.pooledRows, call.pooledCols, mxSINGLE_CLASS, spare);
    return call;
}

// Whole numbers from -4 to 3, so that ties are common, sprinkled with NaN, -infinity,
// +infinity, exactly -1e10, and -0 (equal to +0, yet a different stored value).
void fillResponses(const MapGrid& grid, testsupport::SeededRandom& random) {
    const float unusual[] = {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::infinity(), noResponse, -0.0f};
    const int unusualCount = 5;
    testsupport::fillUniform(grid, random, -4.0f, 4.0f);
    for (int c = 0; c < grid.imageCount * grid.orientCount; ++c) {
        mxArray* map = mxGetCell(grid.cells.get(), c);
        float* values = minihost::singleData(map);
        for (size_t k = 0; k < mxGetNumberOfElements(map); ++k) {
            int draw = random.integer(0, 24);
            values[k] = draw < unusualCount ? unusual[draw] : std::floor(values[k]);
        }
    }
}

// The plain loop: node (i, j) outer, orientation inner, each node searched on its own with the
// shared routine. Returns every cell of the pooled and trace grids as they should be after
// the call.
std::pair<std::vector<std::vector<float>>, std::vector<std::vector<float>>> poolNodeByNode(const VindralCall& call) {
    const Params& q = call.params;
    auto pooled = snapshot<float>(call.pooled);
    auto traces = snapshot<float>(call.traces);
    int imageCount = call.responses.imageCount;
    std::vector<const float*> responseTable = testsupport::cellTable<const float>(call.responses);
    ShiftTable shifts = buildShiftTables(q.orientCount, q.posShiftMax, q.orientShiftMax, q.poolStep);
    for (int image = 0; image < imageCount; ++image) {
        int pooledRows = call.pooledRows[image], pooledCols = call.pooledCols[image];
        for (int i = 1; i <= pooledRows; ++i) {
            for (int j = 1; j <= pooledCols; ++j) {
                int p = cmIndex(i, j, pooledRows, pooledCols);
                for (int o = 0; o < q.orientCount; ++o) {
                    LocalMax found = localMaxOverShifts(shifts, responseTable.data(), imageCount, image, o,
                                                        i * q.poolStep, j * q.poolStep, call.rows[image],
                                                        call.cols[image]);
                    pooled[image + o * imageCount][p] = found.best;
                    traces[image + o * imageCount][p] = static_cast<float>(found.slot);
                }
            }
        }
    }
    freeShiftTables(shifts, q.orientCount);
    return {pooled, traces};
}

TEST(Vindral, MatchesTheNodeByNodeSearchBitForBit) {
    testsupport::SeededRandom random;
    struct Case {
        std::vector<double> rows, cols;
        Params params;
    };
    // The benchmark's parameters on odd sizes, an image smaller than the step, sizes that
    // round half up, and shifts that reach past whole images. Columns of 65 and more nodes
    // run whole blocks of vectors, single vectors and a last overlapping one; shifts of more
    // than a vector's worth of nodes make the top and bottom stretches longer than a vector;
    // a column where some shift reaches fewer nodes than a vector goes node by node; wide
    // images are pooled in several bands of columns.
    std::vector<Case> cases = {{{37, 23.5, 3, 0}, {29, 30, 40, 7}, {16, 3, 1, 2}},
                               {{9, 11}, {11, 4}, {3, 5, 2, 4}},
                               {{131, 77}, {67, 140}, {16, 3, 1, 2}},
                               {{260}, {301}, {16, 3, 1, 2}},
                               {{120}, {401}, {9, 2, 1, 3}},
                               {{101, 66}, {9, 40}, {5, 2, 2, 1}},
                               {{200}, {31}, {4, 3, 1, 3}},
                               {{95, 41}, {12, 23}, {3, 12, 1, 1}},
                               {{24, 12}, {7, 30}, {2, 5, 1, 1}}};
    for (int trial = 0; trial < 80; ++trial) {
        Case c;
        bool tall = trial >= 60;
        for (int image = random.integer(1, 3); image > 0; --image) {
            c.rows.push_back(random.integer(0, tall ? 150 : 26) - 0.5 * random.integer(0, 1));
            c.cols.push_back(random.integer(0, 26) - 0.5 * random.integer(0, 1));
        }
        int orientCount = random.integer(1, 9);
        c.params = {orientCount, random.integer(0, tall ? 12 : 4), random.integer(0, std::min(orientCount - 1, 3)),
                    random.integer(1, 4)};
        cases.push_back(c);
    }
    for (size_t n = 0; n < cases.size(); ++n) {
        const Params& q = cases[n].params;
        SCOPED_TRACE("case " + std::to_string(n) + ": orientCount " + std::to_string(q.orientCount) + ", posShiftMax " +
                     std::to_string(q.posShiftMax) + ", orientShiftMax " + std::to_string(q.orientShiftMax) +
                     ", poolStep " + std::to_string(q.poolStep));
        VindralCall call = makeCall(cases[n].rows, cases[n].cols, q, 2);
        fillResponses(call.responses, random);
        testsupport::fillUniform(call.pooled, random, 100.0f, 200.0f);
        testsupport::fillUniform(call.traces, random, 100.0f, 200.0f);
        auto expected = poolNodeByNode(call);
        auto responsesBefore = snapshot<float>(call.responses);

        minihost::CallResult result = callPlugin(minihost::loadPlugin("vindral"), call.args());
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_EQ(result.blocksLeft, 3);  // the cell pointer tables; working memory is freed
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.pooled), expected.first));
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.traces), expected.second));
        EXPECT_TRUE(testsupport::sameBitsEverywhere(snapshot<float>(call.responses), responsesBefore));
    }
}

TEST(Vindral, TraceNamesThePerturbationThatWon) {
    const Params q{8, 3, 2, 2};
    VindralCall call = makeCall({21, 14}, {17, 25}, q);
    testsupport::SeededRandom random;
    fillResponses(call.responses, random);
    ASSERT_FALSE(callPlugin(minihost::loadPlugin("vindral"), call.args()).failed);
    // A consumer turns each trace back into a perturbation with a table of the same parameters.
    ShiftTable shifts = buildShiftTables(q.orientCount, q.posShiftMax, q.orientShiftMax, q.poolStep);
    for (int image = 0; image < 2; ++image) {
        for (int o = 0; o < q.orientCount; ++o) {
            for (int i = 1; i <= call.pooledRows[image]; ++i) {
                for (int j = 1; j <= call.pooledCols[image]; ++j) {
                    int p = cmIndex(i, j, call.pooledRows[image], call.pooledCols[image]);
                    float best = call.pooled.singles(image, o)[p];
                    float trace = call.traces.singles(image, o)[p];
                    int k = static_cast<int>(trace);
                    ASSERT_TRUE(k == trace && k >= 0 && k < shifts.shiftCount) << trace;
                    for (int s = 0; s < shifts.shiftCount; ++s) {
                        int x = i * q.poolStep + shifts.rowShift[o][s], y = j * q.poolStep + shifts.colShift[o][s];
                        bool inside = x >= 1 && x <= call.rows[image] && y >= 1 && y <= call.cols[image];
                        ASSERT_TRUE(inside || s != k) << "slot " << k << " leaves the image";
                        if (!inside) continue;
                        float v = call.responses.singles(image, shifts.shiftedOrient[o][s])[cmIndex(x, y, call.rows[image], call.cols[image])];
                        if (s == k) {
                            EXPECT_TRUE(v == best || (best == noResponse && k == 0)) << v << " at slot " << k;
                        } else if (s < k) {
                            EXPECT_FALSE(v >= best) << "earlier slot " << s << " ties or beats slot " << k;
                        } else {
                            EXPECT_FALSE(v > best) << "later slot " << s << " beats slot " << k;
                        }
                    }
                }
            }
        }
    }
    freeShiftTables(shifts, q.orientCount);
}

TEST(Vindral, EachOrientationStartsFromSlotZero) {
    // Orientation 0 rises along the rows, so a shifted slot wins at every node; orientation 1
    // holds no response at all, so its nodes keep the starting slot 0, not the slots of the
    // orientation before.
    VindralCall call = makeCall({6}, {5}, {2, 1, 0, 1});
    for (int p = 0; p < 30; ++p) {
        call.responses.singles(0, 0)[p] = static_cast<float>(p % 6);
        call.responses.singles(0, 1)[p] = std::numeric_limits<float>::quiet_NaN();
    }
    ASSERT_FALSE(callPlugin(minihost::loadPlugin("vindral"), call.args()).failed);
    int shiftedWins = 0;
    for (int p = 0; p < 30; ++p) {
        shiftedWins += call.traces.singles(0, 0)[p] != 0.0f;
        EXPECT_EQ(call.traces.singles(0, 1)[p], 0.0f) << "node " << p;
        EXPECT_EQ(call.pooled.singles(0, 1)[p], noResponse) << "node " << p;
    }
    EXPECT_GT(shiftedWins, 0);
}

// Each malformed call is refused with its id, writes nothing, and leaves the host running.
TEST(Vindral, RefusesMalformedCallsBeforeWritingAnything) {
    using Spoil = std::function<void(std::vector<const mxArray*>&, VindralCall&, std::vector<Array>&)>;
    auto replace = [](int position, double value) -> Spoil {
        return [=](auto& args, auto&, auto& keep) {
            keep.push_back(minihost::scalar(value));
            args[position - 1] = keep.back().get();
        };
    };
    auto replaceCell = [](MapGrid VindralCall::*grid, int cell, auto make) -> Spoil {
        return [=](auto&, auto& call, auto&) { minihost::putCell((call.*grid).cells.get(), cell, make(call)); };
    };
    auto singles = [](int count) { return [=](VindralCall&) { return minihost::singles(count, 1); }; };
    struct Case {
        const char* what;
        const char* id;
        Spoil spoil;
    };
    // Image 0 has 7 x 6 responses and 3 x 3 nodes, image 1 has 5 x 4 and 2 x 2.
    const std::vector<Case> cases = {
        {"nine arguments", "vindral:tooFewArguments", [](auto& args, auto&, auto&) { args.pop_back(); }},
        {"pool step 0", "vindral:outOfRange", replace(7, 0)},
        {"pool step 0.49", "vindral:outOfRange", replace(7, 0.49)},
        {"no orientations", "vindral:outOfRange", replace(4, 0)},
        {"negative position range", "vindral:outOfRange", replace(5, -1)},
        {"negative orientation range", "vindral:outOfRange", replace(6, -1)},
        {"orientation range of orientCount", "vindral:outOfRange", replace(6, 3)},
        {"tables beyond the slot limit", "vindral:tooLarge", replace(5, 932068)},
        {"displacement beyond 32 bits", "vindral:tooLarge", replace(7, 1.1e9)},
        {"response map too small", "vindral:tooFewValues", replaceCell(&VindralCall::responses, 3, singles(19))},
        {"double response map", "vindral:badCell", replaceCell(&VindralCall::responses, 0, [](auto&) { return minihost::doubles(42, 1); })},
        {"pooled map too small", "vindral:tooFewValues", replaceCell(&VindralCall::pooled, 4, singles(8))},
        {"trace map too small", "vindral:tooFewValues", replaceCell(&VindralCall::traces, 5, singles(3))},
        {"pooled maps not a cell", "vindral:notCell", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::singles(9, 1)); args[8] = keep.back().get(); }},
        {"too few trace cells", "vindral:tooFewCells", [](auto& args, auto&, auto& keep) { keep.push_back(minihost::cellArray(2, 2)); args[9] = keep.back().get(); }},
        {"trace shares a pooled map", "vindral:sharedData", replaceCell(&VindralCall::traces, 2, [](auto& call) { return minihost::sharedCopy(call.pooled.map(0, 1)); })},
        {"pooled shares a response map", "vindral:sharedData", replaceCell(&VindralCall::pooled, 0, [](auto& call) { return minihost::sharedCopy(call.responses.map(0, 0)); })},
    };
    testsupport::SeededRandom random;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VindralCall call = makeCall({7, 5}, {6, 4}, {3, 2, 1, 2});
        testsupport::fillUniform(call.responses, random, -3.0f, 3.0f);
        std::vector<const mxArray*> args = call.args();
        std::vector<Array> keep;
        c.spoil(args, call, keep);
        auto pooledBefore = snapshot<float>(call.pooled);
        auto tracesBefore = snapshot<float>(call.traces);
        minihost::CallResult result = callPlugin(minihost::loadPlugin("vindral"), args);
        EXPECT_TRUE(result.failed);
        EXPECT_FALSE(result.escaped);
        EXPECT_EQ(result.errorId, c.id) << result.errorMessage;
        EXPECT_EQ(snapshot<float>(call.pooled), pooledBefore);
        EXPECT_EQ(snapshot<float>(call.traces), tracesBefore);
    }
    VindralCall call = makeCall({7}, {6}, {3, 2, 1, 2});
    EXPECT_EQ(callPlugin(minihost::loadPlugin("vindral"), call.args(), 1).errorId, "vindral:tooManyOutputs");
    minihost::putCell(call.pooled.cells.get(), 1, minihost::singles(8, 1));
    EXPECT_EQ(callPlugin(minihost::loadPlugin("vindral"), call.args()).errorMessage,
              "argument 9 (pooledMaps), cell 2 (image 1, orientation 2): expected a real single array of at least 9 "
              "values; got a 8x1 single array");

    // Valid edge calls still work: no images at all, and the largest displacement that fits.
    VindralCall none = makeCall({}, {}, {5, 1, 4, 1});
    EXPECT_FALSE(callPlugin(minihost::loadPlugin("vindral"), none.args()).failed);
    VindralCall farthest = makeCall({4}, {3}, {1, 1, 0, INT32_MAX - 4});
    EXPECT_FALSE(callPlugin(minihost::loadPlugin("vindral"), farthest.args()).failed);
    VindralCall onePast = makeCall({4}, {3}, {1, 1, 0, INT32_MAX - 3});
    EXPECT_EQ(callPlugin(minihost::loadPlugin("vindral"), onePast.args()).errorId, "vindral:tooLarge");
}

// A huge orientation count or shift range with tiny or empty maps is refused before any
// allocation, and tables are built only for images with pooled nodes.
TEST(Vindral, CountsOutOfProportionToTheMapsCostNothing) {
    // 2^22 orientations of no image, and 100 empty images with a range of 8e6 positions.
    VindralCall noImage = makeCall({}, {}, {1 << 22, 0, 0, 1});
    minihost::CallResult orients = callPlugin(minihost::loadPlugin("vindral"), noImage.args());
    EXPECT_EQ(orients.errorId, "vindral:tooLarge") << orients.errorMessage;
    EXPECT_EQ(orients.blocksAllocated, 0);
    VindralCall empty = makeCall(std::vector<double>(100, 0), std::vector<double>(100, 3), {1, 8000000, 0, 1});
    minihost::CallResult range = callPlugin(minihost::loadPlugin("vindral"), empty.args());
    EXPECT_EQ(range.errorId, "vindral:tooLarge") << range.errorMessage;
    EXPECT_LE(range.blocksAllocated, 1);  // at most the record of the size arrays read

    // Tables of more than freeShiftSlots slots are justified by as many response values.
    VindralCall justified = makeCall({300}, {300}, {1, 44999, 0, 1});
    EXPECT_FALSE(callPlugin(minihost::loadPlugin("vindral"), justified.args()).failed);
    VindralCall beyond = makeCall({300}, {300}, {1, 45000, 0, 1});
    EXPECT_EQ(callPlugin(minihost::loadPlugin("vindral"), beyond.args()).errorId, "vindral:tooLarge");

    // Images without pooled nodes (a side below the pool step) need no tables at all.
    VindralCall nodeless = makeCall({1, 0, 5}, {4, 4, 1}, {1000, 10, 1, 2});
    minihost::CallResult free = callPlugin(minihost::loadPlugin("vindral"), nodeless.args());
    EXPECT_FALSE(free.failed) << free.errorMessage;
    EXPECT_LT(free.blocksAllocated, nodeless.params.orientCount);
}

}  // namespace
