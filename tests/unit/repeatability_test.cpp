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
#include "valid_calls.h"

using minihost::Array;

namespace {

using validcalls::BuiltCall;
using validcalls::PluginCall;
using validcalls::appendBytes;
using validcalls::build;
using validcalls::everyPlugin;

// The bytes of every array of a call after it ran, cells in order, and the printed text.
struct Outcome {
    std::vector<std::vector<unsigned char>> bytes;
    std::string printed;
    bool failed;
    std::string errorMessage;
};

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
