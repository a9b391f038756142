// A refused call writes nothing. For every plug-in of the valid-call table and every argument
// position, malformed variants of the valid call (wrong class, complex, sparse, one value too
// few, a cell where an array belongs and the reverse, one cell too few, NaN, infinite,
// negative and huge values, data shared with another argument, ...) are each either refused
// with the plug-in's id, leaving every array of the caller bit for bit as it was, outputs
// included, or accepted (some variants are valid). Never may a call let an exception escape,
// write outside an array (the host's guard bytes) or keep host memory.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "minihost.h"
#include "valid_calls.h"

using minihost::Array;
using validcalls::ArgShape;
using validcalls::BuiltCall;
using validcalls::PluginCall;

namespace {

const uint32_t seed = 20261208u;
const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

// The values of a real double or single array (its first `count` values), as doubles.
std::vector<double> valuesOf(const mxArray* array) {
    std::vector<double> values(mxGetNumberOfElements(array));
    for (size_t k = 0; k < values.size(); ++k) {
        values[k] = mxIsSingle(array) ? minihost::singleData(array)[k] : minihost::doubleData(array)[k];
    }
    return values;
}

// A rows x cols array of the class holding `values` (converted), complex with imaginary part 1
// when asked.
Array numeric(mxClassID classId, size_t rows, size_t cols, const std::vector<double>& values, bool complex = false) {
    Array array(mxCreateNumericMatrix(rows, cols, classId, complex ? mxCOMPLEX : mxREAL));
    size_t count = std::min(values.size(), rows * cols);
    for (size_t k = 0; k < count; ++k) {
        double v = values[k];
        switch (classId) {
        case mxDOUBLE_CLASS: static_cast<double*>(mxGetData(array.get()))[k] = v; break;
        case mxSINGLE_CLASS: static_cast<float*>(mxGetData(array.get()))[k] = static_cast<float>(v); break;
        case mxINT32_CLASS:
            static_cast<int32_t*>(mxGetData(array.get()))[k] =
                std::isfinite(v) && std::fabs(v) < 2e9 ? static_cast<int32_t>(v) : 0;
            break;
        default: break;
        }
        if (complex && classId == mxDOUBLE_CLASS) static_cast<double*>(mxGetImagData(array.get()))[k] = 1.0;
        if (complex && classId == mxSINGLE_CLASS) static_cast<float*>(mxGetImagData(array.get()))[k] = 1.0f;
    }
    return array;
}

// A sparse rows x cols double array whose stored values are `values` (at least one slot).
Array sparse(size_t rows, size_t cols, const std::vector<double>& values) {
    Array array(mxCreateSparse(rows, cols, values.size(), mxREAL));
    for (size_t k = 0; k < values.size(); ++k) minihost::doubleData(array.get())[k] = values[k];
    return array;
}

// A 1 x 1 cell holding `inner`.
Array wrapped(Array inner) {
    Array cell = minihost::cellArray(1, 1);
    minihost::putCell(cell.get(), 0, std::move(inner));
    return cell;
}

// A copy of a real double or single array of the same shape and class, with `count` values
// (fewer or more than the original), the original's first values kept.
Array resized(const mxArray* array, size_t count) {
    std::vector<double> values = valuesOf(array);
    values.resize(count, 0.0);
    return numeric(mxIsSingle(array) ? mxSINGLE_CLASS : mxDOUBLE_CLASS, count, count == 0 ? 0 : 1, values);
}

// One malformed variant: a name, and a change of the freshly built call at one position.
struct Variant {
    std::string name;
    std::function<void(BuiltCall&, size_t)> apply;
};

mxArray* cellAt(const BuiltCall& built, size_t position, size_t index) {
    return mxGetCell(built.arrays[position].get(), index);
}

// Replaces cell `index` of the cell argument at `position`.
void setCell(BuiltCall& built, size_t position, size_t index, Array value) {
    mxSetCell(built.arrays[position].get(), index, value.release());
}

// The first and the last of n indices (one index when n is 1, none when n is 0).
std::vector<size_t> firstAndLast(size_t n) {
    if (n == 0) return {};
    if (n == 1) return {0};
    return {0, n - 1};
}

void addScalarVariants(std::vector<Variant>& variants, double value) {
    variants.push_back({"char", [](BuiltCall& b, size_t p) { b.arrays[p] = Array(mxCreateString("a")); }});
    variants.push_back({"int32", [value](BuiltCall& b, size_t p) { b.arrays[p] = numeric(mxINT32_CLASS, 1, 1, {value}); }});
    variants.push_back({"single", [value](BuiltCall& b, size_t p) { b.arrays[p] = numeric(mxSINGLE_CLASS, 1, 1, {value}); }});
    variants.push_back({"logical", [value](BuiltCall& b, size_t p) {
                            b.arrays[p] = Array(mxCreateLogicalScalar(value != 0));
                        }});
    variants.push_back({"complex", [value](BuiltCall& b, size_t p) {
                            b.arrays[p] = numeric(mxDOUBLE_CLASS, 1, 1, {value}, true);
                        }});
    variants.push_back({"sparse", [value](BuiltCall& b, size_t p) { b.arrays[p] = sparse(1, 1, {value}); }});
    variants.push_back({"empty", [](BuiltCall& b, size_t p) { b.arrays[p] = minihost::doubles(0, 0); }});
    variants.push_back({"two values", [value](BuiltCall& b, size_t p) {
                            b.arrays[p] = minihost::doubles(1, 2, {value, value});
                        }});
    variants.push_back({"cell", [value](BuiltCall& b, size_t p) { b.arrays[p] = wrapped(minihost::scalar(value)); }});
    const double oddValues[] = {nan,  inf,           -inf,          -1,         -0.5,        0,
                                0.49, value + 0.5,   value - 1,     value + 1,  1e9,         1e300,
                                -1e300, 2147483647.0, 2147483647.5, 2147483648.0, -2147483648.5, -2147483649.0};
    for (double odd : oddValues) {
        variants.push_back({"value " + std::to_string(odd),
                            [odd](BuiltCall& b, size_t p) { b.arrays[p] = minihost::scalar(odd); }});
    }
}

void addRowVariants(std::vector<Variant>& variants, const ArgShape& shape) {
    mxClassID own = shape.kind == ArgShape::Kind::singleRow ? mxSINGLE_CLASS : mxDOUBLE_CLASS;
    mxClassID other = own == mxSINGLE_CLASS ? mxDOUBLE_CLASS : mxSINGLE_CLASS;
    size_t n = shape.values.size();
    std::vector<double> values = shape.values;
    variants.push_back({"char", [](BuiltCall& b, size_t p) { b.arrays[p] = Array(mxCreateString("ab")); }});
    variants.push_back({"other class", [=](BuiltCall& b, size_t p) { b.arrays[p] = numeric(other, 1, n, values); }});
    variants.push_back({"int32", [=](BuiltCall& b, size_t p) { b.arrays[p] = numeric(mxINT32_CLASS, 1, n, values); }});
    variants.push_back({"complex", [=](BuiltCall& b, size_t p) { b.arrays[p] = numeric(own, 1, n, values, true); }});
    if (own == mxDOUBLE_CLASS && n > 0) {
        variants.push_back({"sparse", [=](BuiltCall& b, size_t p) { b.arrays[p] = sparse(1, n, values); }});
        variants.push_back({"sparse with one stored value", [=](BuiltCall& b, size_t p) {
                                b.arrays[p] = sparse(1, n, {values[0]});
                            }});
    }
    if (n > 0) {
        variants.push_back({"one value too few", [=](BuiltCall& b, size_t p) {
                                b.arrays[p] = numeric(own, 1, n - 1, values);
                            }});
    }
    variants.push_back({"empty", [=](BuiltCall& b, size_t p) { b.arrays[p] = numeric(own, 0, 0, {}); }});
    variants.push_back({"cell", [=](BuiltCall& b, size_t p) { b.arrays[p] = wrapped(numeric(own, 1, n, values)); }});
    variants.push_back({"column", [=](BuiltCall& b, size_t p) { b.arrays[p] = numeric(own, n, 1, values); }});
    const double oddValues[] = {nan, inf, -inf, -1, 0.5, 1e300, 2147483648.0, -2147483649.0};
    for (double odd : oddValues) {
        for (size_t entry : firstAndLast(n)) {
            variants.push_back({"entry " + std::to_string(entry + 1) + " " + std::to_string(odd),
                                [=](BuiltCall& b, size_t p) {
                                    std::vector<double> changed = values;
                                    changed[entry] = odd;
                                    b.arrays[p] = numeric(own, 1, n, changed);
                                }});
        }
    }
}

void addCellVariants(std::vector<Variant>& variants, const ArgShape& shape) {
    int cells = shape.cells;
    int count = shape.count;
    mxClassID own = shape.valueClass;
    mxClassID other = own == mxSINGLE_CLASS ? mxDOUBLE_CLASS : mxSINGLE_CLASS;
    variants.push_back({"char", [](BuiltCall& b, size_t p) { b.arrays[p] = Array(mxCreateString("abc")); }});
    variants.push_back({"array of every value", [=](BuiltCall& b, size_t p) {
                            std::vector<double> values;
                            for (int c = 0; c < cells; ++c) {
                                std::vector<double> cellValues = valuesOf(cellAt(b, p, c));
                                values.insert(values.end(), cellValues.begin(), cellValues.end());
                            }
                            b.arrays[p] = numeric(own, values.size(), 1, values);
                        }});
    variants.push_back({"first cell's array", [=](BuiltCall& b, size_t p) {
                            if (cells == 0) return;
                            b.arrays[p] = numeric(own, count, 1, valuesOf(cellAt(b, p, 0)));
                        }});
    if (cells > 0) {
        variants.push_back({"one cell too few", [=](BuiltCall& b, size_t p) {
                                Array fewer = minihost::cellArray(1, cells - 1);
                                for (int c = 0; c < cells - 1; ++c) {
                                    minihost::putCell(fewer.get(), c, numeric(own, count, 1, valuesOf(cellAt(b, p, c))));
                                }
                                b.arrays[p] = std::move(fewer);
                            }});
        variants.push_back({"no cells", [](BuiltCall& b, size_t p) { b.arrays[p] = minihost::cellArray(0, 0); }});
        variants.push_back({"column of cells", [=](BuiltCall& b, size_t p) {
                                Array column = minihost::cellArray(cells, 1);
                                for (int c = 0; c < cells; ++c) {
                                    minihost::putCell(column.get(), c, numeric(own, count, 1, valuesOf(cellAt(b, p, c))));
                                }
                                b.arrays[p] = std::move(column);
                            }});
    }
    for (size_t c : firstAndLast(cells)) {
        std::string at = "cell " + std::to_string(c + 1) + " ";
        variants.push_back({at + "unset", [=](BuiltCall& b, size_t p) { mxSetCell(b.arrays[p].get(), c, nullptr); }});
        variants.push_back({at + "other class", [=](BuiltCall& b, size_t p) {
                                setCell(b, p, c, numeric(other, count, 1, valuesOf(cellAt(b, p, c))));
                            }});
        variants.push_back({at + "int32", [=](BuiltCall& b, size_t p) {
                                setCell(b, p, c, numeric(mxINT32_CLASS, count, 1, valuesOf(cellAt(b, p, c))));
                            }});
        variants.push_back({at + "char", [=](BuiltCall& b, size_t p) { setCell(b, p, c, Array(mxCreateString("x"))); }});
        variants.push_back({at + "complex", [=](BuiltCall& b, size_t p) {
                                setCell(b, p, c, numeric(own, count, 1, valuesOf(cellAt(b, p, c)), true));
                            }});
        if (own == mxDOUBLE_CLASS) {
            variants.push_back({at + "sparse", [=](BuiltCall& b, size_t p) {
                                    setCell(b, p, c, sparse(count, 1, valuesOf(cellAt(b, p, c))));
                                }});
            variants.push_back({at + "sparse with one stored value", [=](BuiltCall& b, size_t p) {
                                    setCell(b, p, c, sparse(count, 1, {1.0}));
                                }});
        }
        if (count > 0) {
            variants.push_back({at + "one value too few", [=](BuiltCall& b, size_t p) {
                                    setCell(b, p, c, resized(cellAt(b, p, c), count - 1));
                                }});
        }
        variants.push_back({at + "empty", [=](BuiltCall& b, size_t p) { setCell(b, p, c, numeric(own, 0, 0, {})); }});
        variants.push_back({at + "nested cell", [=](BuiltCall& b, size_t p) {
                                setCell(b, p, c, wrapped(numeric(own, count, 1, valuesOf(cellAt(b, p, c)))));
                            }});
        variants.push_back({at + "one value more", [=](BuiltCall& b, size_t p) {
                                setCell(b, p, c, resized(cellAt(b, p, c), count + 1));
                            }});
        if (count == 0) continue;
        const double oddValues[] = {nan, inf, -inf, -1, 0.5, 1e30, 2147483648.0};
        for (double odd : oddValues) {
            for (size_t k : firstAndLast(count)) {
                variants.push_back({at + "value " + std::to_string(k + 1) + " " + std::to_string(odd),
                                    [=](BuiltCall& b, size_t p) {
                                        std::vector<double> values = valuesOf(cellAt(b, p, c));
                                        values[k] = odd;
                                        setCell(b, p, c, numeric(own, count, 1, values));
                                    }});
            }
        }
    }
}

// Data of a non-scalar argument for sharing: the argument itself, or its first cell.
const mxArray* shareableData(const BuiltCall& built, const ArgShape& shape, size_t position) {
    if (shape.kind == ArgShape::Kind::scalar) return nullptr;
    if (shape.kind == ArgShape::Kind::cellList) return shape.cells > 0 ? cellAt(built, position, 0) : nullptr;
    return built.arrays[position].get();
}

// Makes the argument at `position` (or its first cell) share the data of `source`'s.
void shareData(BuiltCall& built, const ArgShape& shape, size_t position, const ArgShape& sourceSpec, size_t source) {
    const mxArray* data = shareableData(built, sourceSpec, source);
    if (shape.kind == ArgShape::Kind::cellList) {
        setCell(built, position, 0, minihost::sharedCopy(data));
    } else {
        built.arrays[position] = minihost::sharedCopy(data);
    }
}

std::vector<Variant> variantsOf(const ArgShape& shape) {
    std::vector<Variant> variants;
    switch (shape.kind) {
    case ArgShape::Kind::scalar: addScalarVariants(variants, shape.values[0]); break;
    case ArgShape::Kind::doubleRow:
    case ArgShape::Kind::singleRow: addRowVariants(variants, shape); break;
    case ArgShape::Kind::cellList: addCellVariants(variants, shape); break;
    }
    return variants;
}

struct Tally {
    int refused = 0;
    int accepted = 0;
    std::string lastId;  // the id of the last refusal
};

// Calls the plug-in on a call changed by `change`, and checks the refusal contract.
void checkCall(const PluginCall& call, const std::string& label, const std::function<void(BuiltCall&)>& change,
               Tally& tally, int nlhs = 0, size_t argumentCount = SIZE_MAX) {
    SCOPED_TRACE(label);
    BuiltCall built = validcalls::build(call, seed);
    change(built);
    std::vector<const mxArray*> args = built.args();
    if (argumentCount < args.size()) args.resize(argumentCount);
    std::vector<std::vector<unsigned char>> before;
    for (const Array& array : built.arrays) validcalls::appendBytes(array.get(), before);
    int liveBefore = minihost::liveBlockCount();

    minihost::CallResult result = minihost::callPlugin(minihost::loadPlugin(call.plugin), args, nlhs);

    ASSERT_FALSE(result.escaped) << "an exception other than a host error left mexFunction";
    EXPECT_FALSE(result.guardsDamaged) << "the call wrote outside an array";
    EXPECT_EQ(minihost::liveBlockCount(), liveBefore);
    if (!result.failed) {
        ++tally.accepted;
        return;
    }
    ++tally.refused;
    tally.lastId = result.errorId;
    EXPECT_EQ(result.errorId.rfind(std::string(call.plugin) + ":", 0), 0u) << result.errorId;
    std::vector<std::vector<unsigned char>> after;
    for (const Array& array : built.arrays) validcalls::appendBytes(array.get(), after);
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < before.size(); ++k) {
        EXPECT_EQ(after[k], before[k]) << "refused (" << result.errorId << ": " << result.errorMessage
                                       << "), yet data block " << k << " of the caller's arrays changed";
    }
}

class Refusal : public testing::TestWithParam<std::string> {
protected:
    const PluginCall& call() const { return *validcalls::validCallOf(GetParam()); }
};

TEST_P(Refusal, MalformedArgumentsAreRefusedBeforeAnythingIsWritten) {
    const PluginCall& valid = call();
    Tally tally;
    for (size_t position = 0; position < valid.args.size(); ++position) {
        for (const Variant& variant : variantsOf(valid.args[position])) {
            checkCall(valid, "argument " + std::to_string(position + 1) + ": " + variant.name,
                      [&](BuiltCall& b) { variant.apply(b, position); }, tally);
        }
    }
    EXPECT_GT(tally.refused, 0);
}

TEST_P(Refusal, ACharAtAnyPositionIsRefused) {
    // Every position is read and checked: nothing in the table accepts text.
    const PluginCall& valid = call();
    for (size_t position = 0; position < valid.args.size(); ++position) {
        Tally tally;
        checkCall(valid, "argument " + std::to_string(position + 1) + " as text",
                  [&](BuiltCall& b) { b.arrays[position] = Array(mxCreateString("text")); }, tally);
        EXPECT_EQ(tally.refused, 1) << "argument " << position + 1;
    }
}

TEST_P(Refusal, DataSharedBetweenTwoArgumentsIsRefusedOrHarmless) {
    const PluginCall& valid = call();
    Tally tally;
    for (size_t position = 0; position < valid.args.size(); ++position) {
        if (valid.args[position].kind == ArgShape::Kind::cellList && valid.args[position].cells >= 2) {
            checkCall(valid, "argument " + std::to_string(position + 1) + ", cell 2 sharing the data of cell 1",
                      [&](BuiltCall& b) { setCell(b, position, 1, minihost::sharedCopy(cellAt(b, position, 0))); },
                      tally);
        }
        for (size_t source = 0; source < valid.args.size(); ++source) {
            if (source == position) continue;
            const ArgShape& shape = valid.args[position];
            const ArgShape& sourceSpec = valid.args[source];
            BuiltCall probe = validcalls::build(valid, seed);
            if (shareableData(probe, shape, position) == nullptr || shareableData(probe, sourceSpec, source) == nullptr) {
                continue;
            }
            checkCall(valid,
                      "argument " + std::to_string(position + 1) + " sharing the data of argument " +
                          std::to_string(source + 1),
                      [&](BuiltCall& b) { shareData(b, shape, position, sourceSpec, source); }, tally);
        }
    }
    EXPECT_GT(tally.refused, 0);
}

TEST_P(Refusal, MissingArgumentsAndRequestedOutputsAreRefused) {
    const PluginCall& valid = call();
    for (size_t count = 0; count < valid.args.size(); ++count) {
        Tally tally;
        checkCall(valid, std::to_string(count) + " arguments", [](BuiltCall&) {}, tally, 0, count);
        bool complete = valid.optionalFrom > 0 && count == valid.optionalFrom;
        EXPECT_EQ(tally.refused, complete ? 0 : 1) << count << " arguments";
    }
    for (int nlhs : {1, 2}) {
        Tally tally;
        checkCall(valid, std::to_string(nlhs) + " outputs", [](BuiltCall&) {}, tally, nlhs);
        EXPECT_EQ(tally.refused, 1) << nlhs << " outputs";
    }
}

TEST_P(Refusal, ASparseArrayAtAnyDoubleArrayPositionIsRefused) {
    // A sparse double stores only some of its values, so it is never read as a full array: a
    // row or a map in a cell, even one storing every value, is refused. (A sparse scalar is
    // read through the host's own scalar conversion, which knows its storage.)
    const PluginCall& valid = call();
    for (size_t position = 0; position < valid.args.size(); ++position) {
        const ArgShape& shape = valid.args[position];
        bool cellOfDoubles = shape.kind == ArgShape::Kind::cellList && shape.valueClass == mxDOUBLE_CLASS && shape.cells > 0;
        bool doubleArray = shape.kind == ArgShape::Kind::doubleRow && !shape.values.empty();
        if (!cellOfDoubles && !doubleArray) continue;
        Tally tally;
        checkCall(valid, "argument " + std::to_string(position + 1) + " sparse",
                  [&](BuiltCall& b) {
                      if (cellOfDoubles) {
                          setCell(b, position, 0, sparse(shape.count, 1, valuesOf(cellAt(b, position, 0))));
                      } else {
                          std::vector<double> values = valuesOf(b.arrays[position].get());
                          b.arrays[position] = sparse(1, values.size(), values);
                      }
                  },
                  tally);
        EXPECT_EQ(tally.refused, 1) << "argument " << position + 1;
    }
}

TEST_P(Refusal, RunningOutOfMemoryAnywhereIsOutOfMemoryAndWritesNothing) {
    // Whether the host's allocator returns no block or raises its own error (as Octave's and
    // MATLAB's do), a failure of any working allocation reaches the caller as the plug-in's
    // outOfMemory, before anything is written.
    const PluginCall& valid = call();
    BuiltCall counting = validcalls::build(valid, seed);
    minihost::CallResult counted = minihost::callPlugin(minihost::loadPlugin(valid.plugin), counting.args());
    ASSERT_FALSE(counted.failed) << counted.errorMessage;
    for (auto how : {minihost::AllocationFailure::returnsNull, minihost::AllocationFailure::raisesHostError}) {
        for (int k = 0; k < counted.blocksAllocated; ++k) {
            Tally tally;
            checkCall(valid, "allocation " + std::to_string(k + 1) + " failing",
                      [&](BuiltCall&) { minihost::failAllocationAfter(k, how); }, tally);
            minihost::failAllocationAfter(-1);
            EXPECT_EQ(tally.lastId, std::string(valid.plugin) + ":outOfMemory") << "allocation " << k + 1;
        }
    }
}

TEST_P(Refusal, TheValidCallIsAcceptedAndKeepsItsGuards) {
    Tally tally;
    checkCall(call(), "the valid call", [](BuiltCall&) {}, tally);
    EXPECT_EQ(tally.accepted, 1);
}

// The guard bytes that these checks rely on: a write just before or just after an array's data
// shows, in the array and in a cell holding it. Under AddressSanitizer the guards are poisoned,
// so such a write would be reported at once instead; there the test is skipped.
#if defined(__SANITIZE_ADDRESS__)
#define HOST_GUARDS_POISONED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOST_GUARDS_POISONED 1
#endif
#endif

TEST(HostGuards, AWriteJustOutsideAnArrayShows) {
#ifdef HOST_GUARDS_POISONED
    GTEST_SKIP() << "guard bytes are poisoned under AddressSanitizer";
#else
    for (int offset : {-1, 3, 4, 40}) {
        SCOPED_TRACE(offset);
        Array cell = minihost::cellArray(1, 2);
        mxArray* inner = minihost::putCell(cell.get(), 1, minihost::singles(3, 1, {1, 2, 3}));
        EXPECT_TRUE(minihost::guardsIntact(cell.get()));
        unsigned char* data = static_cast<unsigned char*>(mxGetData(inner));
        // A float's last byte past the data (offset 3: the first byte after the third value).
        unsigned char* byte = offset < 0 ? data - 1 : data + 3 * sizeof(float) + (offset - 3);
        *byte ^= 0xFF;
        EXPECT_FALSE(minihost::guardsIntact(inner));
        EXPECT_FALSE(minihost::guardsIntact(cell.get()));
        *byte ^= 0xFF;
        EXPECT_TRUE(minihost::guardsIntact(cell.get()));
    }
    Array empty = minihost::doubles(0, 0);
    *static_cast<unsigned char*>(mxGetData(empty.get())) ^= 1;
    EXPECT_FALSE(minihost::guardsIntact(empty.get()));
    *static_cast<unsigned char*>(mxGetData(empty.get())) ^= 1;
    EXPECT_TRUE(minihost::guardsIntact(empty.get()));
#endif
}

TEST(HostGuards, ASparseArrayHoldsOnlyItsStoredValues) {
    Array array(mxCreateSparse(1000, 1000, 3, mxREAL));
    EXPECT_TRUE(mxIsSparse(array.get()));
    EXPECT_EQ(mxGetNumberOfElements(array.get()), 1000000u);
    EXPECT_EQ(mxGetNzmax(array.get()), 3u);
    std::vector<std::vector<unsigned char>> bytes;
    validcalls::appendBytes(array.get(), bytes);
    ASSERT_EQ(bytes.size(), 1u);
    EXPECT_EQ(bytes[0].size(), 3 * sizeof(double));
    EXPECT_TRUE(minihost::guardsIntact(array.get()));
}

std::vector<std::string> tabledPlugins() {
    std::vector<std::string> names;
    for (const PluginCall& call : validcalls::everyPlugin()) names.push_back(call.plugin);
    return names;
}

INSTANTIATE_TEST_SUITE_P(EveryPlugin, Refusal, testing::ValuesIn(tabledPlugins()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
