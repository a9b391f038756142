// Every plug-in, called on fresh copies of the same arguments, leaves bit-identical arguments
// and prints the same text; and what an earlier call with other arguments left behind (in the
// plug-in or in the host) changes nothing.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "minihost.h"

using minihost::Array;

namespace {

// One argument of a call, described so that any number of identical copies can be made:
// a scalar, a row of doubles or singles, or a cell list of `cells` arrays of `count` values
// drawn uniformly from [low, high) (all `low` when low == high).
struct ArgSpec {
    enum class Kind { scalar, doubleRow, singleRow, cellList } kind;
    std::vector<double> values;
    int cells = 0;
    int count = 0;
    mxClassID valueClass = mxDOUBLE_CLASS;
    double low = 0;
    double high = 0;
};

ArgSpec num(double value) { return ArgSpec{ArgSpec::Kind::scalar, {value}}; }
ArgSpec row(const std::vector<double>& values) { return ArgSpec{ArgSpec::Kind::doubleRow, values}; }
ArgSpec singleRow(int count) { return ArgSpec{ArgSpec::Kind::singleRow, std::vector<double>(count, 0.0)}; }
ArgSpec cellsOf(int cells, int count, mxClassID valueClass, double low, double high) {
    return ArgSpec{ArgSpec::Kind::cellList, {}, cells, count, valueClass, low, high};
}
ArgSpec singles(int cells, int count, double low = 0, double high = 0) {
    return cellsOf(cells, count, mxSINGLE_CLASS, low, high);
}
ArgSpec doubles(int cells, int count, double low = 0, double high = 0) {
    return cellsOf(cells, count, mxDOUBLE_CLASS, low, high);
}

struct PluginCall {
    const char* plugin;
    std::vector<ArgSpec> args;
};

// Valid calls of every plug-in: two images of 12 x 10 pixels (6 x 5 pooled with step 2) and
// two orientations wherever the plug-in takes them; quillon learns on 16 x 14 maps.
const std::vector<PluginCall>& everyPlugin() {
    static const std::vector<PluginCall> calls = {
        {"fennock", {num(2), row({12, 12}), row({10, 10}), num(2), num(1.5), singles(4, 120, -3, 3)}},
        {"somvert", {num(12), num(10), num(2), num(1), num(2), num(2), singles(2, 120, 0, 3), num(0.1)}},
        {"somvertwide", {num(12), num(10), num(2), num(1), num(2), num(2), doubles(2, 120, 0, 3), num(0.1)}},
        {"brelind", {num(2), row({12, 12}), row({10, 10}), num(2), num(1), singles(4, 120, 0, 3), singles(2, 120),
                     num(2), num(2), num(1), num(0.1)}},
        {"cobrint", {num(2), num(2), doubles(4, 120, -3, 3), num(1), num(12), num(10), num(0.25), num(8),
                     row(std::vector<double>(8, 0.0)), num(1.5)}},
        {"vindral", {num(2), row({12, 12}), row({10, 10}), num(2), num(1), num(1), num(2), singles(4, 120, -3, 3),
                     singles(4, 30), singles(4, 30)}},
        {"gastrel", {num(2), row({12, 12}), row({10, 10}), num(2), num(2), num(4), num(4), num(3), row({0, 1, 1}),
                     row({0, 1, 2}), row({1, 0, 2}), row({1, 2, 0.5}), row({0.1, 0.2, 0.3}), singles(4, 30, -1, 2),
                     singles(2, 56), singles(2, 120, 0.5, 2), num(1.5)}},
        {"lurvane", {num(2), row({12, 12}), row({10, 10}), num(2), num(4), num(4), singles(2, 56, -1, 5), singleRow(2),
                     row({0, 0}), row({0, 0})}},
        {"quillon", {num(2), num(1), num(1), num(0), num(2), num(2), num(2), num(16), num(14), singles(4, 224, 0, 2),
                     singles(4, 56, 0, 2), singles(4, 56), num(1), doubles(4, 25, 0, 1), doubles(2, 9, 0, 1), num(3),
                     row({0, 10, 20}), row({0, 1, 2}), row({0, 1, 4}), row({0, 0}), row({0, 0}), row({0, 0}),
                     row({0, 0}), row({0, 0}), row({0, 0}), singleRow(224), singles(2, 224)}},
        {"tarrow", {num(2), row({12, 12}), row({10, 10}), num(2), num(1), num(1), num(2), num(1), doubles(2, 9, 0, 1),
                    num(3), row({0, 1, 1}), row({0, 1, 2}), row({1, 0, 2}), singles(4, 30, -1, 2), singles(4, 30),
                    singles(2, 120), row({1, 2}), row({1, 1}), num(1.5)}},
        {"tarrowveto", {num(2), row({12, 12}), row({10, 10}), num(2), num(1), num(1), num(2), num(1),
                        doubles(2, 9, 0, 1), num(3), row({0, 1, 1}), row({0, 1, 2}), row({1, 0, 2}), row({1, 2, 0.5}),
                        row({0.1, 0.2, 0.3}), singles(4, 120, 0, 2), singles(4, 30, 0, 2), singles(4, 30),
                        singles(2, 120), row({1, 2}), row({1, 1}), num(1.5), num(4), num(4), doubles(4, 25, 0, 1),
                        singleRow(2), singles(2, 120, 0.5, 2)}},
    };
    return calls;
}

// Fresh arrays for every argument of a call; the random values depend only on `seed`.
struct BuiltCall {
    std::vector<Array> arrays;
    std::vector<const mxArray*> args() const {
        std::vector<const mxArray*> handles;
        for (const Array& array : arrays) handles.push_back(array.get());
        return handles;
    }
};

Array filledArray(int count, mxClassID valueClass, double low, double high, std::mt19937& engine) {
    Array array(mxCreateNumericMatrix(count, 1, valueClass, mxREAL));
    std::uniform_real_distribution<double> draw(low, high);
    for (int k = 0; k < count; ++k) {
        double value = low == high ? low : draw(engine);
        if (valueClass == mxSINGLE_CLASS) minihost::singleData(array.get())[k] = static_cast<float>(value);
        else minihost::doubleData(array.get())[k] = value;
    }
    return array;
}

BuiltCall build(const PluginCall& call, uint32_t seed) {
    std::mt19937 engine(seed);
    BuiltCall built;
    for (const ArgSpec& spec : call.args) {
        int length = static_cast<int>(spec.values.size());
        switch (spec.kind) {
        case ArgSpec::Kind::scalar: built.arrays.push_back(minihost::scalar(spec.values[0])); break;
        case ArgSpec::Kind::doubleRow: built.arrays.push_back(minihost::doubles(1, length, spec.values)); break;
        case ArgSpec::Kind::singleRow: built.arrays.push_back(minihost::singles(1, length)); break;
        case ArgSpec::Kind::cellList:
            built.arrays.push_back(minihost::cellArray(1, spec.cells));
            for (int c = 0; c < spec.cells; ++c) {
                minihost::putCell(built.arrays.back().get(), c,
                                  filledArray(spec.count, spec.valueClass, spec.low, spec.high, engine));
            }
            break;
        }
    }
    return built;
}

// The bytes of every array of a call after it ran, cells in order, and the printed text.
struct Outcome {
    std::vector<std::vector<unsigned char>> bytes;
    std::string printed;
    bool failed;
    std::string errorMessage;
};

void appendBytes(const mxArray* array, std::vector<std::vector<unsigned char>>& bytes) {
    if (mxIsCell(array)) {
        for (size_t c = 0; c < mxGetNumberOfElements(array); ++c) appendBytes(mxGetCell(array, c), bytes);
        return;
    }
    size_t valueSize = mxIsSingle(array) ? sizeof(float) : sizeof(double);
    const auto* data = static_cast<const unsigned char*>(mxGetData(array));
    bytes.emplace_back(data, data + mxGetNumberOfElements(array) * valueSize);
}

Outcome run(const PluginCall& call, uint32_t seed) {
    BuiltCall built = build(call, seed);
    minihost::CallResult result = minihost::callPlugin(minihost::loadPlugin(call.plugin), built.args());
    Outcome outcome{{}, result.printed, result.failed, result.errorMessage};
    for (const Array& array : built.arrays) appendBytes(array.get(), outcome.bytes);
    return outcome;
}

// Fresh copies of one call's arguments are changed by the call, and bit for bit alike.
testing::AssertionResult sameOutcome(const Outcome& first, const Outcome& second) {
    if (first.failed || second.failed) {
        return testing::AssertionFailure() << "a call was refused: " << first.errorMessage << second.errorMessage;
    }
    if (first.printed != second.printed) return testing::AssertionFailure() << "the printed text differs";
    for (size_t a = 0; a < first.bytes.size(); ++a) {
        if (first.bytes[a] != second.bytes[a]) return testing::AssertionFailure() << "array " << a << " differs";
    }
    return testing::AssertionSuccess();
}

const uint32_t referenceSeed = 20261208u;
const uint32_t otherSeed = 4242u;

TEST(Repeatability, TheSameCallOnFreshCopiesGivesTheSameBits) {
    for (const PluginCall& call : everyPlugin()) {
        SCOPED_TRACE(call.plugin);
        Outcome first = run(call, referenceSeed);
        EXPECT_TRUE(sameOutcome(first, run(call, referenceSeed)));
    }
}

TEST(Repeatability, TheCallsWriteSomething) {
    // Guards the comparison above against calls that leave every argument as it was.
    for (const PluginCall& call : everyPlugin()) {
        SCOPED_TRACE(call.plugin);
        BuiltCall untouched = build(call, referenceSeed);
        Outcome before{{}, "", false, ""};
        for (const Array& array : untouched.arrays) appendBytes(array.get(), before.bytes);
        Outcome after = run(call, referenceSeed);
        ASSERT_FALSE(after.failed) << after.errorMessage;
        EXPECT_NE(before.bytes, after.bytes);
    }
}

TEST(Repeatability, EarlierCallsWithOtherArgumentsLeaveNothingBehind) {
    const std::vector<PluginCall>& calls = everyPlugin();
    std::vector<Outcome> references;
    for (const PluginCall& call : calls) references.push_back(run(call, referenceSeed));
    for (size_t k = 0; k < calls.size(); ++k) {
        SCOPED_TRACE(calls[k].plugin);
        // The same plug-in on other data, then every plug-in on other data, each time before
        // the call again.
        EXPECT_FALSE(run(calls[k], otherSeed).failed);
        EXPECT_TRUE(sameOutcome(references[k], run(calls[k], referenceSeed)));
        for (const PluginCall& other : calls) run(other, otherSeed + 1);
        EXPECT_TRUE(sameOutcome(references[k], run(calls[k], referenceSeed)));
    }
}

}  // namespace
