// filtrum against its plain loop (bit for bit), against sums in double precision (within the
// stated tolerance), on hand-checked filters, and on malformed calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "filtrum_call.h"
#include "minihost.h"
#include "test_support.h"

using minihost::Array;
using minihost::callPlugin;
using testsupport::FiltrumCall;
using testsupport::makeFiltrumCall;

namespace {

// The tolerance against exact sums, relative to the largest energy of the map.
const double relativeTolerance = 1e-5;
// Values past rows * cols in each map, and what they hold: the call must leave them alone.
const int spareValues = 5;
const float spareValue = -7.0f;

minihost::CallResult callFiltrum(const FiltrumCall& call) {
    return callPlugin(minihost::loadPlugin("filtrum"), call.args());
}

void fillSpare(const FiltrumCall& call) {
    for (int o = 0; o < call.orientCount; ++o) {
        std::fill_n(call.maps.singles(0, o) + call.rows * call.cols, spareValues, spareValue);
    }
}

// The energies of one map summed in double precision from the unrounded image and filter.
std::vector<double> exactEnergies(const FiltrumCall& call, int orient) {
    int h = call.filterHalf;
    int side = 2 * h + 1;
    const double* re = call.filterReal.doubles(0, orient);
    const double* im = call.filterImag.doubles(0, orient);
    std::vector<double> energies(call.rows * call.cols);
    for (int y = 0; y < call.cols; ++y) {
        for (int x = 0; x < call.rows; ++x) {
            double sumRe = 0, sumIm = 0;
            for (int i = 0; i < side; ++i) {
                for (int j = 0; j < side; ++j) {
                    int sx = std::min(std::max(x + h - i, 0), call.rows - 1);
                    int sy = std::min(std::max(y + h - j, 0), call.cols - 1);
                    double v = call.imageValues()[sx + sy * call.rows];
                    sumRe += v * re[i + j * side];
                    sumIm += v * im[i + j * side];
                }
            }
            energies[x + y * call.rows] = sumRe * sumRe + sumIm * sumIm;
        }
    }
    return energies;
}

struct Shape {
    int rows, cols, orientCount, filterHalf;
};

// Sizes around the vector block (32 rows), the pair of columns and the strip (16 columns),
// single rows and columns, and filters wider than the image.
const Shape oddShapes[] = {{1, 1, 2, 0},   {1, 1, 1, 3},   {1, 37, 2, 1},  {37, 1, 2, 2},  {31, 33, 3, 1},
                           {32, 32, 2, 4}, {33, 17, 3, 2}, {65, 3, 1, 4},  {2, 64, 2, 3},  {95, 47, 3, 4},
                           {64, 16, 2, 1}, {66, 15, 2, 0}, {34, 18, 1, 7}, {5, 5, 2, 6}};

TEST(Filtrum, MatchesThePlainLoopBitForBitAtOddSizes) {
    testsupport::SeededRandom random;
    for (const Shape& shape : oddShapes) {
        SCOPED_TRACE(testing::Message() << shape.rows << " x " << shape.cols << ", " << shape.orientCount
                                        << " orientations, filterHalf " << shape.filterHalf);
        FiltrumCall call = makeFiltrumCall(shape.rows, shape.cols, shape.orientCount, shape.filterHalf, random,
                                           spareValues);
        fillSpare(call);
        std::vector<double> image(call.imageValues(), call.imageValues() + shape.rows * shape.cols);
        auto filtersBefore = testsupport::snapshot<double>(call.filterReal);
        std::vector<std::vector<float>> expected = testsupport::plainEnergies(call);

        minihost::CallResult result = callFiltrum(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_TRUE(testsupport::sameBitsEverywhere(testsupport::snapshot<float>(call.maps), expected));
        EXPECT_EQ(std::vector<double>(call.imageValues(), call.imageValues() + shape.rows * shape.cols), image);
        EXPECT_EQ(testsupport::snapshot<double>(call.filterReal), filtersBefore);
        for (int o = 0; o < shape.orientCount; ++o) {
            EXPECT_EQ(call.maps.singles(0, o)[shape.rows * shape.cols + spareValues - 1], spareValue);
        }
    }
}

TEST(Filtrum, StaysWithinTheToleranceOfSumsInDoublePrecision) {
    testsupport::SeededRandom random;
    for (const Shape& shape : {Shape{41, 29, 3, 4}, Shape{70, 35, 2, 7}, Shape{3, 50, 2, 2}}) {
        SCOPED_TRACE(testing::Message() << shape.rows << " x " << shape.cols << ", filterHalf " << shape.filterHalf);
        FiltrumCall call = makeFiltrumCall(shape.rows, shape.cols, shape.orientCount, shape.filterHalf, random);
        ASSERT_FALSE(callFiltrum(call).failed);
        for (int o = 0; o < shape.orientCount; ++o) {
            std::vector<double> exact = exactEnergies(call, o);
            double largest = *std::max_element(exact.begin(), exact.end());
            ASSERT_GT(largest, 0.0);
            for (size_t k = 0; k < exact.size(); ++k) {
                ASSERT_NEAR(call.maps.singles(0, o)[k], exact[k], relativeTolerance * largest)
                    << "orientation " << o + 1 << ", value " << k + 1;
            }
        }
    }
}

TEST(Filtrum, OneTapFiltersShiftTheImageWithItsEdgesRepeated) {
    // filterHalf 1. A real tap of 1 at filter position (1, 1) gives image(x + 1, y + 1), an
    // imaginary tap of 2 at (3, 2) gives 2 * image(x - 1, y): the filter is applied flipped, as
    // a convolution; positions outside take the nearest edge value. Small whole numbers, so
    // every sum is exact.
    testsupport::SeededRandom random;
    const int rows = 4, cols = 5;
    FiltrumCall call = makeFiltrumCall(rows, cols, 1, 1, random);
    for (int k = 0; k < rows * cols; ++k) call.imageValues()[k] = k + 1;
    std::fill_n(call.filterReal.doubles(0, 0), 9, 0.0);
    std::fill_n(call.filterImag.doubles(0, 0), 9, 0.0);
    call.filterReal.doubles(0, 0)[0] = 1.0;
    call.filterImag.doubles(0, 0)[2 + 1 * 3] = 2.0;
    ASSERT_FALSE(callFiltrum(call).failed);
    auto at = [&](int x, int y) {
        x = std::min(std::max(x, 1), rows);
        y = std::min(std::max(y, 1), cols);
        return call.imageValues()[(x - 1) + (y - 1) * rows];
    };
    for (int y = 1; y <= cols; ++y) {
        for (int x = 1; x <= rows; ++x) {
            double re = at(x + 1, y + 1);
            double im = 2 * at(x - 1, y);
            EXPECT_EQ(call.maps.singles(0, 0)[(x - 1) + (y - 1) * rows], static_cast<float>(re * re + im * im))
                << "at (" << x << ", " << y << ")";
        }
    }
}

TEST(Filtrum, ANonFiniteValueReachesOnlyTheEnergiesWhoseNeighbourhoodHoldsIt) {
    testsupport::SeededRandom random;
    const int rows = 40, cols = 37, h = 2;
    for (double odd : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        FiltrumCall call = makeFiltrumCall(rows, cols, 2, h, random);
        const int oddRow = 20, oddCol = 9;  // 0-based
        call.imageValues()[oddRow + oddCol * rows] = odd;
        ASSERT_FALSE(callFiltrum(call).failed);
        for (int o = 0; o < 2; ++o) {
            for (int y = 0; y < cols; ++y) {
                for (int x = 0; x < rows; ++x) {
                    bool reached = std::abs(x - oddRow) <= h && std::abs(y - oddCol) <= h;
                    EXPECT_EQ(std::isfinite(call.maps.singles(0, o)[x + y * rows]), !reached)
                        << odd << ", orientation " << o + 1 << " at (" << x + 1 << ", " << y + 1 << ")";
                }
            }
        }
    }
}

TEST(Filtrum, EmptyImagesAndNoOrientationsWriteNothingAndNeedNoWorkingMemory) {
    testsupport::SeededRandom random;
    for (const Shape& shape : {Shape{0, 7, 2, 1}, Shape{7, 0, 2, 1}, Shape{0, 0, 1, 3}}) {
        FiltrumCall call = makeFiltrumCall(shape.rows, shape.cols, shape.orientCount, shape.filterHalf, random,
                                           spareValues);
        fillSpare(call);
        minihost::CallResult result = callFiltrum(call);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_EQ(result.blocksAllocated, 4);  // the cell pointer tables and the table of data regions
        for (int o = 0; o < shape.orientCount; ++o) {
            EXPECT_EQ(std::vector<float>(spareValues, spareValue), testsupport::snapshot<float>(call.maps)[o]);
        }
    }
    FiltrumCall none = makeFiltrumCall(6, 6, 0, 1, random);
    EXPECT_FALSE(callFiltrum(none).failed);
}

TEST(Filtrum, FreesItsWorkingMemoryAndIgnoresArgumentsBeyondTheEighth) {
    testsupport::SeededRandom random;
    FiltrumCall call = makeFiltrumCall(9, 8, 3, 2, random);
    std::vector<std::vector<float>> expected = testsupport::plainEnergies(call);
    Array extra = minihost::cellArray(0, 0);
    std::vector<const mxArray*> args = call.args();
    args.push_back(extra.get());
    minihost::CallResult result = callPlugin(minihost::loadPlugin("filtrum"), args);
    ASSERT_FALSE(result.failed) << result.errorMessage;
    EXPECT_EQ(result.blocksLeft, 3);  // the cell pointer tables; working memory is freed
    EXPECT_TRUE(testsupport::sameBitsEverywhere(testsupport::snapshot<float>(call.maps), expected));
}

// Each malformed call is refused with its id and a message naming the argument, writes
// nothing, and leaves the host running.
TEST(Filtrum, RefusesMalformedCallsBeforeWritingAnything) {
    struct Case {
        const char* what;
        const char* id;
        const char* message;
        std::function<void(std::vector<const mxArray*>&, FiltrumCall&, std::vector<Array>&)> spoil;
    };
    auto replace = [](std::vector<const mxArray*>& args, std::vector<Array>& keep, int position, Array value) {
        keep.push_back(std::move(value));
        args[position] = keep.back().get();
    };
    const std::vector<Case> cases = {
        {"seven arguments", "filtrum:tooFewArguments", "argument 8 (responseMaps) is missing",
         [](auto& args, auto&, auto&) { args.pop_back(); }},
        {"negative rows", "filtrum:outOfRange", "argument 1 (mapRows)",
         [&](auto& args, auto&, auto& keep) { replace(args, keep, 0, minihost::scalar(-1)); }},
        {"filterHalf past its bound", "filtrum:outOfRange",
         "argument 4 (filterHalf): expected a number that rounds half up to an integer from 0 to 23169; got 23170",
         [&](auto& args, auto&, auto& keep) { replace(args, keep, 3, minihost::scalar(23170)); }},
        {"padded image past 32-bit indexing", "filtrum:tooLarge",
         "argument 4 (filterHalf): expected a half width h for which the image padded by h on every side, "
         "(mapRows + 2h) x (mapCols + 2h), holds at most 2147483647 values (32-bit indexing); got 1, a padded "
         "image of 46342 x 46342 values",
         [&](auto& args, auto&, auto& keep) {
             replace(args, keep, 0, minihost::scalar(46340));
             replace(args, keep, 1, minihost::scalar(46340));
         }},
        {"single image", "filtrum:wrongClass", "argument 5 (image)",
         [&](auto& args, auto&, auto& keep) { replace(args, keep, 4, minihost::singles(6, 5)); }},
        {"image one value short", "filtrum:tooFewValues", "argument 5 (image): expected a real double array of at least 30 values",
         [&](auto& args, auto&, auto& keep) { replace(args, keep, 4, minihost::doubles(29, 1)); }},
        {"filter one tap short", "filtrum:tooFewValues",
         "argument 7 (filterImag), cell 2: expected a real double array of at least 9 values; got a 8x1 double array",
         [](auto&, auto& call, auto&) { minihost::putCell(call.filterImag.cells.get(), 1, minihost::doubles(8, 1)); }},
        {"too few filters", "filtrum:tooFewCells", "argument 6 (filterReal)",
         [&](auto& args, auto&, auto& keep) {
             Array one = minihost::cellArray(1, 1);
             minihost::putCell(one.get(), 0, minihost::doubles(3, 3));
             replace(args, keep, 5, std::move(one));
         }},
        {"double maps", "filtrum:badCell", "argument 8 (responseMaps), cell 1",
         [](auto&, auto& call, auto&) { minihost::putCell(call.maps.cells.get(), 0, minihost::doubles(6, 5)); }},
        {"maps sharing one array", "filtrum:sharedData", "argument 8 (responseMaps), cell 2",
         [](auto&, auto& call, auto&) {
             minihost::putCell(call.maps.cells.get(), 1, minihost::sharedCopy(call.maps.map(0, 0)));
         }},
        {"an output requested", "filtrum:tooManyOutputs", "returns nothing", [](auto&, auto&, auto&) {}},
    };
    testsupport::SeededRandom random;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FiltrumCall call = makeFiltrumCall(6, 5, 2, 1, random);
        std::vector<const mxArray*> args = call.args();
        std::vector<Array> keep;
        c.spoil(args, call, keep);
        auto before = testsupport::snapshot<float>(call.maps);
        int nlhs = std::string(c.id) == "filtrum:tooManyOutputs" ? 1 : 0;
        minihost::CallResult result = callPlugin(minihost::loadPlugin("filtrum"), args, nlhs);
        EXPECT_TRUE(result.failed);
        EXPECT_FALSE(result.escaped);
        EXPECT_EQ(result.errorId, c.id);
        EXPECT_NE(result.errorMessage.find(c.message), std::string::npos) << result.errorMessage;
        EXPECT_EQ(testsupport::snapshot<float>(call.maps), before);
    }
    FiltrumCall valid = makeFiltrumCall(6, 5, 2, 1, random);
    EXPECT_FALSE(callFiltrum(valid).failed);
}

}  // namespace
