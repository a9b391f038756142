#include "frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"

using minihost::Array;
using testsupport::makeGrid;

namespace {

const char* const names[] = {"alpha", "beta", "gamma", "delta"};

// Runs one reading sequence over the given arguments and returns the fault it raised. The
// working memory the reading leaves behind is released, as the host does when a call ends.
template <typename Reading>
PluginError refusalOf(const std::vector<const mxArray*>& argv, Reading reading, int nlhs = 0) {
    minihost::LooseBlockScope callBlocks;
    try {
        ArgList args = beginArgs(names, nlhs, static_cast<int>(argv.size()),
                                 const_cast<const mxArray**>(argv.data()));
        reading(args);
    } catch (const PluginError& error) {
        return error;
    }
    ADD_FAILURE() << "the reading was not refused";
    return PluginError{ArgFault::internalError, ""};
}

TEST(RoundHalfUp, RoundsHalvesTowardPlusInfinity) {
    EXPECT_EQ(roundHalfUp(2.5), 3);
    EXPECT_EQ(roundHalfUp(3.5), 4);
    EXPECT_EQ(roundHalfUp(-2.5), -2);
    EXPECT_EQ(roundHalfUp(-0.5), 0);
    EXPECT_EQ(roundHalfUp(2.4999), 2);
    EXPECT_EQ(roundHalfUp(-2.6), -3);
    // 0.49999999999999994 + 0.5 rounds to 1.0 in double precision before the floor.
    EXPECT_EQ(roundHalfUp(0.49999999999999994), 1);
}

TEST(RoundHalfUp, KnowsWhichValuesFitAnInteger) {
    EXPECT_TRUE(roundsToInt32(2147483646.5 - 1.0));
    EXPECT_TRUE(roundsToInt32(-2147483648.5));
    EXPECT_FALSE(roundsToInt32(2147483647.5));
    EXPECT_FALSE(roundsToInt32(-2147483649.0));
    EXPECT_FALSE(roundsToInt32(std::nan("")));
    EXPECT_FALSE(roundsToInt32(std::numeric_limits<double>::infinity()));
}

TEST(CmIndex, IsColumnMajorAndOneBased) {
    EXPECT_EQ(cmIndex(1, 1, 7, 5), 0);
    EXPECT_EQ(cmIndex(7, 5, 7, 5), 34);
    EXPECT_EQ(cmIndex(3, 3, 7, 5) - cmIndex(3, 2, 7, 5), 7);
    EXPECT_EQ(cmIndex(4, 2, 7, 5) - cmIndex(3, 2, 7, 5), 1);
}

TEST(Saturate, ReachesItsLimitsExactly) {
    const double level = 3.0;
    EXPECT_EQ(saturate(0.0f, level), 0.0f);
    EXPECT_EQ(saturate(1e5f, level), 3.0f);    // exp underflows to 0
    EXPECT_EQ(saturate(-1e5f, level), -3.0f);  // exp overflows to infinity
    EXPECT_NEAR(saturate(3.0f, level), 3.0 * 0.7615941559557649, 1e-6);
    EXPECT_TRUE(std::isnan(saturate(std::nanf(""), level)));
}

TEST(Saturate, StaysWithinRoundingOfTanh) {
    testsupport::SeededRandom random;
    for (int k = 0; k < 2000; ++k) {
        float r = random.uniform(-20.0f, 20.0f);
        double level = random.uniform(0.1f, 10.0f);
        EXPECT_NEAR(saturationOf(r, level), level * std::tanh(r / level), 1e-14 * level) << r << " " << level;
    }
}

TEST(WorkingMemory, TablesStartZeroAndAreReleasedCompletely) {
    int before = minihost::liveBlockCount();
    float** table = allocTable2D<float>(3, 5);
    EXPECT_EQ(minihost::liveBlockCount(), before + 4);
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 5; ++k) EXPECT_EQ(table[i][k], 0.0f);
    }
    freeTable2D(table, 3, 5);
    EXPECT_EQ(minihost::liveBlockCount(), before);

    double** empty = allocTable2D<double>(0, 5);
    EXPECT_EQ(minihost::liveBlockCount(), before + 1);
    freeTable2D(empty, 0, 5);
    EXPECT_EQ(minihost::liveBlockCount(), before);
}

TEST(WorkingMemory, FailedAllocationIsRefusedNotDereferenced) {
    minihost::LooseBlockScope callBlocks;
    minihost::failAllocationAfter(2);
    try {
        allocTable2D<float>(4, 10);
        ADD_FAILURE() << "allocation failure went unnoticed";
    } catch (const PluginError& error) {
        EXPECT_EQ(error.fault, ArgFault::outOfMemory);
    }
    minihost::failAllocationAfter(-1);
    EXPECT_EQ(callBlocks.blocksLeft(), 2);  // the row pointers and the first row
}

TEST(WorkingMemory, AHostErrorOrAnImpossibleSizeIsOutOfMemoryWithTheSizeAsked) {
    minihost::LooseBlockScope callBlocks;
    minihost::failAllocationAfter(0, minihost::AllocationFailure::raisesHostError);
    try {
        allocArray<double>(1000);
        ADD_FAILURE() << "the host's error went through";
    } catch (const PluginError& error) {
        EXPECT_EQ(error.fault, ArgFault::outOfMemory);
        EXPECT_STREQ(error.message, "not enough memory for 1000 working values of 8 bytes");
    }
    minihost::failAllocationAfter(0, minihost::AllocationFailure::raisesHostError);
    try {
        allocArray<float>(1);
        ADD_FAILURE() << "the host's error went through";
    } catch (const PluginError& error) {
        EXPECT_STREQ(error.message, "not enough memory for 1 working value of 4 bytes");
    }
    // An empty block too: the host's error is refused as out of memory, not let through.
    minihost::failAllocationAfter(0, minihost::AllocationFailure::raisesHostError);
    try {
        allocArray<double>(0);
        ADD_FAILURE() << "the host's error went through for an empty block";
    } catch (const PluginError& error) {
        EXPECT_EQ(error.fault, ArgFault::outOfMemory);
        EXPECT_STREQ(error.message, "not enough memory for 0 working values of 8 bytes");
    }
    // Arrays whose values are left unset are refused alike, whether the host errs or returns
    // no block.
    minihost::failAllocationAfter(0, minihost::AllocationFailure::raisesHostError);
    try {
        allocUnsetArray<float>(5);
        ADD_FAILURE() << "the host's error went through for an unset array";
    } catch (const PluginError& error) {
        EXPECT_STREQ(error.message, "not enough memory for 5 working values of 4 bytes");
    }
    minihost::failAllocationAfter(0);
    try {
        allocUnsetArray<double>(7);
        ADD_FAILURE() << "no block went unnoticed for an unset array";
    } catch (const PluginError& error) {
        EXPECT_EQ(error.fault, ArgFault::outOfMemory);
    }
    minihost::failAllocationAfter(-1);
    int before = minihost::liveBlockCount();
    try {
        hostCalloc(SIZE_MAX / 4, 8);
        ADD_FAILURE() << "a size beyond the address space was allocated";
    } catch (const PluginError& error) {
        EXPECT_EQ(error.fault, ArgFault::outOfMemory);
    }
    EXPECT_EQ(minihost::liveBlockCount(), before);
}

TEST(WorkingMemory, LooseBlockScopeReleasesOnlyTheBlocksOfItsOwnLifetime) {
    int before = minihost::liveBlockCount();
    float* outer = allocArray<float>(3);
    {
        minihost::LooseBlockScope callBlocks;
        allocTable2D<double>(2, 4);
        float* freed = allocArray<float>(1);
        mxFree(freed);
        EXPECT_EQ(callBlocks.blocksLeft(), 3);
        EXPECT_EQ(minihost::liveBlockCount(), before + 4);
    }
    EXPECT_EQ(minihost::liveBlockCount(), before + 1);
    mxFree(outer);
    EXPECT_EQ(minihost::liveBlockCount(), before);
}

TEST(ReadingSteps, ReadStrictlyInPositionalOrder) {
    Array a = minihost::scalar(2.5);
    Array b = minihost::scalar(-0.75);
    Array c = minihost::doubles(1, 3, {1, 2, 3});
    Array d = minihost::singles(2, 2, {1, 2, 3, 4});
    Array extra = minihost::scalar(99);
    std::vector<const mxArray*> argv{a.get(), b.get(), c.get(), d.get(), extra.get()};
    ArgList args = beginArgs(names, 0, 5, argv.data());
    EXPECT_EQ(readIntArg(args), 3);
    EXPECT_EQ(readRealArg(args), -0.75);
    EXPECT_EQ(readArrayArg<double>(args, 3, Access::read), minihost::doubleData(c.get()));
    EXPECT_EQ(readArrayArg<float>(args, 4, Access::written), minihost::singleData(d.get()));
    endArgs(args);
    EXPECT_EQ(args.position, 4);
}

TEST(ReadingSteps, CellGridEntriesFollowLinearCellOrder) {
    const int imageCount = 3, orientCount = 2;
    testsupport::MapGrid grid = makeGrid(imageCount, orientCount, {2, 3, 1}, {2, 1, 4}, mxSINGLE_CLASS);
    Array count = minihost::scalar(imageCount);
    std::vector<const mxArray*> argv{count.get(), grid.cells.get()};
    const char* const gridNames[] = {"imageCount", "maps"};
    minihost::LooseBlockScope callBlocks;
    ArgList args = beginArgs(gridNames, 0, 2, argv.data());
    readIntArg(args);
    std::vector<int> neededAsked;
    float** table = readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::read,
                                        [&](int32_t image) {
                                            neededAsked.push_back(image);
                                            return int64_t{image == 1 ? 3 : 4};
                                        });
    for (int image = 0; image < imageCount; ++image) {
        for (int orient = 0; orient < orientCount; ++orient) {
            EXPECT_EQ(table[image + orient * imageCount], grid.singles(image, orient));
        }
    }
    // Resolved with the image as the outer loop: a = 0, b = 0 ... B-1, then a = 1, ...
    EXPECT_EQ(neededAsked, (std::vector<int>{0, 0, 1, 1, 2, 2}));
    mxFree(table);
}

TEST(ReadingSteps, RefuseMissingArgumentsAndRequestedOutputs) {
    Array a = minihost::scalar(1);
    PluginError missing = refusalOf({a.get(), a.get()}, [](ArgList&) {});
    EXPECT_EQ(missing.fault, ArgFault::tooFewArguments);
    EXPECT_STREQ(missing.message, "argument 3 (gamma) is missing: expected 4 arguments; got 2");

    PluginError outputs = refusalOf({a.get(), a.get(), a.get(), a.get()}, [](ArgList&) {}, 1);
    EXPECT_EQ(outputs.fault, ArgFault::tooManyOutputs);
}

TEST(ReadingSteps, RefuseScalarsThatAreNotRealScalars) {
    Array one = minihost::scalar(1);
    Array pair = minihost::doubles(1, 2, {1, 2});
    Array text = Array(mxCreateString("x"));
    Array complexValue = Array(mxCreateDoubleMatrix(1, 1, mxCOMPLEX));
    Array cell = minihost::cellArray(1, 1);
    for (const mxArray* bad : {pair.get(), text.get(), complexValue.get(), cell.get()}) {
        PluginError error = refusalOf({one.get(), bad, one.get(), one.get()}, [](ArgList& args) {
            readIntArg(args);
            readIntArg(args);
        });
        EXPECT_EQ(error.fault, ArgFault::notScalar);
        EXPECT_EQ(std::string(error.message).rfind("argument 2 (beta): expected a real numeric or logical scalar; got a ", 0), 0u)
            << error.message;
    }
    // Logical and integer scalars are numbers too.
    Array flag = Array(mxCreateLogicalScalar(true));
    Array integer = Array(mxCreateNumericMatrix(1, 1, mxINT32_CLASS, mxREAL));
    std::vector<const mxArray*> argv{flag.get(), integer.get(), one.get(), one.get()};
    ArgList args = beginArgs(names, 0, 4, argv.data());
    EXPECT_EQ(readIntArg(args), 1);
    EXPECT_EQ(readIntArg(args), 0);
}

TEST(ReadingSteps, RefuseValuesOutsideTheirRange) {
    Array negative = minihost::scalar(-1);
    Array notANumber = minihost::scalar(std::nan(""));
    Array huge = minihost::scalar(3e9);
    Array zero = minihost::scalar(0);
    auto intAtLeastZero = [](ArgList& args) { readIntArg(args, 0); };
    EXPECT_EQ(refusalOf({negative.get(), zero.get(), zero.get(), zero.get()}, intAtLeastZero).fault, ArgFault::outOfRange);
    EXPECT_EQ(refusalOf({notANumber.get(), zero.get(), zero.get(), zero.get()}, intAtLeastZero).fault, ArgFault::outOfRange);
    EXPECT_EQ(refusalOf({huge.get(), zero.get(), zero.get(), zero.get()}, intAtLeastZero).fault, ArgFault::outOfRange);
    PluginError level = refusalOf({zero.get(), zero.get(), zero.get(), zero.get()},
                                  [](ArgList& args) { readRealArg(args, RealRule::finiteNonzero); });
    EXPECT_STREQ(level.message, "argument 1 (alpha): expected a finite nonzero number; got 0");
    // -0.5 rounds half up to 0, which is allowed.
    Array minusHalf = minihost::scalar(-0.5);
    std::vector<const mxArray*> argv{minusHalf.get(), zero.get(), zero.get(), zero.get()};
    ArgList args = beginArgs(names, 0, 4, argv.data());
    EXPECT_EQ(readIntArg(args, 0), 0);
}

TEST(ReadingSteps, NameTheBoundThatAnIntegerBroke) {
    // Above the range the upper bound is named, 2147483647 where the range sets none of its
    // own; below it, or NaN, the lower bound.
    auto refusedInt = [](double value, int32_t lowest, int32_t highest) {
        Array arg = minihost::scalar(value);
        return std::string(refusalOf({arg.get(), arg.get(), arg.get(), arg.get()},
                                     [&](ArgList& args) { readIntArg(args, lowest, highest); })
                               .message);
    };
    const double inf = std::numeric_limits<double>::infinity();
    const std::string count = "argument 1 (alpha): expected a number that rounds half up to an integer ";
    EXPECT_EQ(refusedInt(1e10, 0, INT32_MAX), count + "from 0 to 2147483647; got 10000000000");
    EXPECT_EQ(refusedInt(2147483647.5, 0, INT32_MAX), count + "from 0 to 2147483647; got 2147483647.5");
    EXPECT_EQ(refusedInt(inf, 1, INT32_MAX), count + "from 1 to 2147483647; got inf");
    EXPECT_EQ(refusedInt(-1, 0, INT32_MAX), count + "of at least 0; got -1");
    EXPECT_EQ(refusedInt(-inf, 1, INT32_MAX), count + "of at least 1; got -inf");
    EXPECT_EQ(refusedInt(std::nan(""), 0, INT32_MAX), count + "of at least 0; got nan");
    EXPECT_EQ(refusedInt(5.5, 1, 5), count + "from 1 to 5; got 5.5");
    EXPECT_EQ(refusedInt(0.49, 1, 5), count + "from 1 to 5; got 0.48999999999999999");
    EXPECT_EQ(refusedInt(3e9, INT32_MIN, INT32_MAX),
              "argument 1 (alpha): expected a finite number that rounds half up to a 32-bit integer; got 3000000000");

    // Array entries alike, each naming the bound it broke.
    auto refusedEntries = [](const std::vector<double>& entries) {
        Array arg = minihost::doubles(1, static_cast<int>(entries.size()), entries);
        return std::string(refusalOf({arg.get(), arg.get(), arg.get(), arg.get()},
                                     [&](ArgList& args) { readIntArrayArg(args, 3, 0); })
                               .message);
    };
    const std::string entry = "expected a number that rounds half up to an integer ";
    EXPECT_EQ(refusedEntries({1, 3e9, -1}), "argument 1 (alpha), entry 2: " + entry + "from 0 to 2147483647; got 3000000000");
    EXPECT_EQ(refusedEntries({1, 2, -1}), "argument 1 (alpha), entry 3: " + entry + "of at least 0; got -1");
}

TEST(ReadingSteps, CountOneValueOrCellInTheSingular) {
    Array noValues = minihost::doubles(0, 0);
    Array noCells = minihost::cellArray(0, 0);
    auto readValues = [](int32_t count) {
        return [count](ArgList& args) { readArrayArg<double>(args, count, Access::read); };
    };
    auto readCells = [](int32_t count) {
        return [count](ArgList& args) {
            readCellList<float>(args, count, Access::read, [](int32_t) { return int64_t{1}; });
        };
    };
    std::vector<const mxArray*> values{noValues.get(), noValues.get(), noValues.get(), noValues.get()};
    std::vector<const mxArray*> cells{noCells.get(), noCells.get(), noCells.get(), noCells.get()};
    EXPECT_STREQ(refusalOf(values, readValues(1)).message,
                 "argument 1 (alpha): expected a real double array of at least 1 value; got a 0x0 double array");
    EXPECT_STREQ(refusalOf(values, readValues(2)).message,
                 "argument 1 (alpha): expected a real double array of at least 2 values; got a 0x0 double array");
    EXPECT_STREQ(refusalOf(cells, readCells(1)).message,
                 "argument 1 (alpha): expected a cell array of at least 1 cell; got a 0x0 cell array");
    EXPECT_STREQ(refusalOf(cells, readCells(2)).message,
                 "argument 1 (alpha): expected a cell array of at least 2 cells; got a 0x0 cell array");
}

TEST(ReadingSteps, RefuseArraysOfTheWrongClassOrLength) {
    Array single3 = minihost::singles(3, 1);
    Array double3 = minihost::doubles(1, 3);
    Array complex3 = Array(mxCreateDoubleMatrix(1, 3, mxCOMPLEX));
    auto readDoubles = [](ArgList& args) { readArrayArg<double>(args, 3, Access::read); };
    EXPECT_EQ(refusalOf({single3.get(), single3.get(), single3.get(), single3.get()}, readDoubles).fault, ArgFault::wrongClass);
    EXPECT_EQ(refusalOf({complex3.get(), single3.get(), single3.get(), single3.get()}, readDoubles).fault, ArgFault::wrongClass);
    PluginError shortArray = refusalOf({double3.get(), single3.get(), single3.get(), single3.get()},
                                       [](ArgList& args) { readArrayArg<double>(args, 4, Access::read); });
    EXPECT_EQ(shortArray.fault, ArgFault::tooFewValues);
    EXPECT_STREQ(shortArray.message, "argument 1 (alpha): expected a real double array of at least 4 values; got a 1x3 double array");
}

TEST(ReadingSteps, DescribeEveryDimensionOfARefusedArray) {
    const mwSize cubeDims[] = {1, 1, 2};
    const mwSize blockDims[] = {2, 3, 1, 4};
    Array cube(mxCreateNumericArray(3, cubeDims, mxDOUBLE_CLASS, mxREAL));
    Array block(mxCreateNumericArray(4, blockDims, mxSINGLE_CLASS, mxREAL));
    Array one = minihost::scalar(1);
    PluginError notScalar = refusalOf({cube.get(), one.get(), one.get(), one.get()},
                                      [](ArgList& args) { readIntArg(args); });
    EXPECT_EQ(notScalar.fault, ArgFault::notScalar);
    EXPECT_STREQ(notScalar.message,
                 "argument 1 (alpha): expected a real numeric or logical scalar; got a 1x1x2 double array");
    PluginError wrongClass = refusalOf({block.get(), one.get(), one.get(), one.get()},
                                       [](ArgList& args) { readArrayArg<double>(args, 1, Access::read); });
    EXPECT_STREQ(wrongClass.message,
                 "argument 1 (alpha): expected a real double array of at least 1 value; got a 2x3x1x4 single array");
}

TEST(ReadingSteps, RefuseCellArgumentsCellByCell) {
    testsupport::MapGrid grid = makeGrid(2, 2, {2, 3}, {2, 3}, mxSINGLE_CLASS);
    Array plain = minihost::singles(2, 2);
    auto readGrid = [](ArgList& args) {
        readCellGrid<float>(args, 2, 2, mapGridAxes, Access::read,
                            [](int32_t image) { return int64_t{image == 0 ? 4 : 9}; });
    };
    EXPECT_EQ(refusalOf({plain.get(), plain.get(), plain.get(), plain.get()}, readGrid).fault, ArgFault::notCell);

    Array small = minihost::cellArray(1, 3);
    EXPECT_EQ(refusalOf({small.get(), plain.get(), plain.get(), plain.get()}, readGrid).fault, ArgFault::tooFewCells);

    minihost::putCell(grid.cells.get(), 3, minihost::doubles(9, 1));
    PluginError wrongCell = refusalOf({grid.cells.get(), plain.get(), plain.get(), plain.get()}, readGrid);
    EXPECT_EQ(wrongCell.fault, ArgFault::badCell);
    EXPECT_STREQ(wrongCell.message,
                 "argument 1 (alpha), cell 4 (image 2, orientation 2): expected a real single array of at least 9 "
                 "values; got a 9x1 double array");

    minihost::putCell(grid.cells.get(), 3, minihost::singles(8, 1));
    EXPECT_EQ(refusalOf({grid.cells.get(), plain.get(), plain.get(), plain.get()}, readGrid).fault, ArgFault::tooFewValues);

    mxSetCell(grid.cells.get(), 3, nullptr);
    EXPECT_EQ(refusalOf({grid.cells.get(), plain.get(), plain.get(), plain.get()}, readGrid).fault, ArgFault::badCell);
}

TEST(ReadingSteps, CountImagesAndOrientationsFromOneLikeTheCells) {
    // Cell 4 of a grid of 3 images is maps{1, 2} in Octave.
    testsupport::MapGrid grid = makeGrid(3, 2, {2, 2, 2}, {2, 2, 2}, mxSINGLE_CLASS);
    minihost::putCell(grid.cells.get(), 3, minihost::singles(3, 1));
    Array plain = minihost::singles(2, 2);
    PluginError shortCell = refusalOf({grid.cells.get(), plain.get(), plain.get(), plain.get()}, [](ArgList& args) {
        readCellGrid<float>(args, 3, 2, mapGridAxes, Access::read, [](int32_t) { return int64_t{4}; });
    });
    EXPECT_STREQ(shortCell.message,
                 "argument 1 (alpha), cell 4 (image 1, orientation 2): expected a real single array of at least 4 "
                 "values; got a 3x1 single array");

    PluginError value = refusalOf({plain.get(), plain.get(), plain.get(), plain.get()}, [](ArgList& args) {
        refuseGridValue(args, 1, 3, 2, 1, 4, 5, "a shift slot", 0.5);
    });
    EXPECT_EQ(value.fault, ArgFault::outOfRange);
    EXPECT_STREQ(value.message,
                 "argument 2 (beta), cell 6 (image 3, orientation 2), position (4, 5): expected a shift slot; got 0.5");
}

TEST(ReadingSteps, RefuseImageSizesThatAreNegativeOrTooLarge) {
    const char* const sizeNames[] = {"imageRows", "imageCols"};
    auto readSizes = [&](const mxArray* rows, const mxArray* cols) -> PluginError {
        std::vector<const mxArray*> argv{rows, cols};
        minihost::LooseBlockScope callBlocks;
        try {
            ArgList args = beginArgs(sizeNames, 0, 2, argv.data());
            readImageSizes(args, 2);
        } catch (const PluginError& error) {
            return error;
        }
        return PluginError{ArgFault::internalError, "accepted"};
    };
    Array fine = minihost::doubles(1, 2, {3, 4.4});
    Array negative = minihost::doubles(1, 2, {3, -1});
    Array wide = minihost::doubles(1, 2, {3, 1e9});
    Array shortArray = minihost::doubles(1, 1, {3});
    EXPECT_STREQ(readSizes(fine.get(), fine.get()).message, "accepted");
    PluginError negativeSize = readSizes(fine.get(), negative.get());
    EXPECT_EQ(negativeSize.fault, ArgFault::outOfRange);
    EXPECT_STREQ(negativeSize.message, "argument 2 (imageCols), entry 2: expected a size that rounds half up to an integer of at least 0; got -1");
    Array beyond = minihost::doubles(1, 2, {3, 1e10});
    PluginError beyondSize = readSizes(beyond.get(), fine.get());
    EXPECT_EQ(beyondSize.fault, ArgFault::outOfRange);
    EXPECT_STREQ(beyondSize.message,
                 "argument 1 (imageRows), entry 2: expected a size that rounds half up to an integer from 0 to "
                 "2147483647; got 10000000000");
    EXPECT_EQ(readSizes(wide.get(), wide.get()).fault, ArgFault::tooLarge);
    EXPECT_EQ(readSizes(shortArray.get(), fine.get()).fault, ArgFault::tooFewValues);

    // Exactly 2147483647 values per map are indexable; one value more is not.
    Array mostRows = minihost::doubles(1, 2, {3, 2147483647});
    Array oneCol = minihost::doubles(1, 2, {4, 1});
    EXPECT_STREQ(readSizes(mostRows.get(), oneCol.get()).message, "accepted");
    Array halfRows = minihost::doubles(1, 2, {3, 1073741824});
    Array twoCols = minihost::doubles(1, 2, {4, 2});
    EXPECT_EQ(readSizes(halfRows.get(), twoCols.get()).fault, ArgFault::tooLarge);

    // The refusal names the argument whose entry is out of proportion.
    Array tall = minihost::doubles(1, 2, {3, 1e9});
    Array narrow = minihost::doubles(1, 2, {4, 3});
    EXPECT_STREQ(readSizes(tall.get(), narrow.get()).message,
                 "argument 1 (imageRows), entry 2: expected maps of at most 2147483647 values (32-bit indexing); "
                 "got maps of 1000000000 x 3 values");
    EXPECT_STREQ(readSizes(narrow.get(), tall.get()).message,
                 "argument 2 (imageCols), entry 2: expected maps of at most 2147483647 values (32-bit indexing); "
                 "got maps of 3 x 1000000000 values");
}

TEST(ReadingSteps, MapSizesAreCheckedWhereverTheyAreRead) {
    Array fourAndHalf = minihost::scalar(4.5);
    Array seven = minihost::scalar(7);
    Array wide = minihost::scalar(1e5);
    Array negative = minihost::scalar(-1);
    std::vector<const mxArray*> argv{seven.get(), seven.get(), fourAndHalf.get(), seven.get()};
    ArgList args = beginArgs(names, 0, 4, argv.data());
    MapSize ahead = peekMapSize(args, 2);
    EXPECT_EQ(args.position, 0);
    EXPECT_EQ(ahead.rows, 5);
    EXPECT_EQ(ahead.cols, 7);
    readIntArg(args);
    readIntArg(args);
    MapSize read = readMapSize(args);
    EXPECT_EQ(read.rows, 5);
    EXPECT_EQ(args.position, 4);

    PluginError large = refusalOf({seven.get(), seven.get(), wide.get(), wide.get()},
                                  [](ArgList& later) { peekMapSize(later, 2); });
    EXPECT_EQ(large.fault, ArgFault::tooLarge);
    EXPECT_STREQ(large.message, "argument 4 (delta): expected maps of at most 2147483647 values (32-bit indexing); "
                                "got maps of 100000 x 100000 values");
    EXPECT_EQ(refusalOf({negative.get(), seven.get(), seven.get(), seven.get()}, readMapSize).fault, ArgFault::outOfRange);
    // The refusal names the argument whose count is out of proportion.
    Array huge = minihost::scalar(1e9);
    EXPECT_STREQ(refusalOf({huge.get(), seven.get(), seven.get(), seven.get()}, readMapSize).message,
                 "argument 1 (alpha): expected maps of at most 2147483647 values (32-bit indexing); "
                 "got maps of 1000000000 x 7 values");
    EXPECT_STREQ(refusalOf({seven.get(), huge.get(), seven.get(), seven.get()}, readMapSize).message,
                 "argument 2 (beta): expected maps of at most 2147483647 values (32-bit indexing); "
                 "got maps of 7 x 1000000000 values");
    Array infinite = minihost::scalar(std::numeric_limits<double>::infinity());
    PluginError notFinite = refusalOf({infinite.get(), seven.get(), seven.get(), seven.get()},
                                      [](ArgList& later) { readRealArg(later, RealRule::finite); });
    EXPECT_STREQ(notFinite.message, "argument 1 (alpha): expected a finite number; got inf");
}

TEST(ReadingSteps, RefuseWrittenArraysThatShareData) {
    Array original = minihost::singles(4, 1);
    Array copy = minihost::sharedCopy(original.get());
    Array other = minihost::singles(4, 1);
    auto readTwo = [](Access first, Access second) {
        return [=](ArgList& args) {
            readArrayArg<float>(args, 4, first);
            readArrayArg<float>(args, 4, second);
            readIntArg(args);
            readIntArg(args);
            endArgs(args);
        };
    };
    Array one = minihost::scalar(1);
    std::vector<const mxArray*> shared{original.get(), copy.get(), one.get(), one.get()};
    EXPECT_EQ(refusalOf(shared, readTwo(Access::read, Access::written)).fault, ArgFault::sharedData);
    EXPECT_EQ(refusalOf(shared, readTwo(Access::written, Access::read)).fault, ArgFault::sharedData);
    PluginError both = refusalOf(shared, readTwo(Access::written, Access::written));
    EXPECT_EQ(both.fault, ArgFault::sharedData);
    EXPECT_NE(std::string(both.message).find("shared with argument"), std::string::npos) << both.message;

    // Two readers of the same data, or a writer beside separate data, are fine.
    for (const auto& argv : {shared, std::vector<const mxArray*>{original.get(), other.get(), one.get(), one.get()}}) {
        ArgList args = beginArgs(names, 0, 4, argv.data());
        bool separate = argv[1] == other.get();
        readArrayArg<float>(args, 4, separate ? Access::written : Access::read);
        readArrayArg<float>(args, 4, Access::read);
        readIntArg(args);
        readIntArg(args);
        EXPECT_NO_THROW(endArgs(args));
    }
}

TEST(ReadingSteps, EndArgsCatchesAPluginThatSkipsANamedPosition) {
    Array one = minihost::scalar(1);
    PluginError error = refusalOf({one.get(), one.get(), one.get(), one.get()}, [](ArgList& args) {
        readIntArg(args);
        endArgs(args);
    });
    EXPECT_EQ(error.fault, ArgFault::internalError);
}

}  // namespace
