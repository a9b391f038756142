// Runs one plug-in call under several OpenMP thread counts, each time on fresh copies of the
// same arguments, and holds every argument afterwards to the run on one thread, byte for byte:
// the threads split a call's work, and no bit of the results may depend on how.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "minihost.h"
#include "thread_count.h"
#include "valid_calls.h"

namespace threadidentity {

// One thread, the test machine's two cores, a count that leaves a remainder when work is split,
// and more threads than cores (and than the items of some calls).
const int threadCounts[] = {1, 2, 3, 8};

// Every argument's bytes after a call (cells in order), and how the call ended.
struct Outcome {
    std::vector<std::vector<unsigned char>> bytes;
    minihost::CallResult result;
};

inline std::vector<std::vector<unsigned char>> bytesOf(const validcalls::BuiltCall& call) {
    std::vector<std::vector<unsigned char>> bytes;
    for (const minihost::Array& array : call.arrays) validcalls::appendBytes(array.get(), bytes);
    return bytes;
}

// makeCall() builds fresh arguments (a validcalls::BuiltCall), the same each time.
template <typename MakeCall>
Outcome runWithThreads(const char* plugin, MakeCall makeCall, int threadCount) {
    validcalls::BuiltCall call = makeCall();
    testsupport::ThreadCountScope threads(threadCount);
    minihost::CallResult result = minihost::callPlugin(minihost::loadPlugin(plugin), call.args());
    return Outcome{bytesOf(call), result};
}

// The first byte where two outcomes differ, named by array (arrays and cells in argument
// order) and offset; success when none does.
inline testing::AssertionResult sameBytes(const Outcome& actual, const Outcome& expected) {
    if (actual.bytes.size() != expected.bytes.size()) return testing::AssertionFailure() << "array counts differ";
    for (size_t a = 0; a < expected.bytes.size(); ++a) {
        const std::vector<unsigned char>& got = actual.bytes[a];
        const std::vector<unsigned char>& want = expected.bytes[a];
        if (got.size() != want.size()) return testing::AssertionFailure() << "array " << a << " changed size";
        if (want.empty() || std::memcmp(got.data(), want.data(), want.size()) == 0) continue;
        size_t offset = 0;
        while (got[offset] == want[offset]) ++offset;
        return testing::AssertionFailure() << "array " << a << " differs first at byte " << offset;
    }
    return testing::AssertionSuccess();
}

// Runs the call with one thread and then with every count of threadCounts; fails when a call
// is refused or prints otherwise, when the one-thread call leaves its arguments as they were (the
// comparison would prove nothing), or when any byte of any argument differs from the
// one-thread run.
template <typename MakeCall>
testing::AssertionResult sameBitsForEveryThreadCount(const char* plugin, MakeCall makeCall) {
    Outcome reference = runWithThreads(plugin, makeCall, threadCounts[0]);
    if (reference.result.failed) return testing::AssertionFailure() << "refused: " << reference.result.errorMessage;
    if (reference.bytes == bytesOf(makeCall())) return testing::AssertionFailure() << "the call wrote nothing";
    for (int threadCount : threadCounts) {
        Outcome outcome = runWithThreads(plugin, makeCall, threadCount);
        if (outcome.result.failed || outcome.result.escaped) {
            return testing::AssertionFailure() << threadCount << " threads: refused: " << outcome.result.errorMessage;
        }
        if (outcome.result.printed != reference.result.printed) {
            return testing::AssertionFailure() << threadCount << " threads: the printed text differs";
        }
        testing::AssertionResult same = sameBytes(outcome, reference);
        if (!same) return testing::AssertionFailure() << threadCount << " threads: " << same.message();
    }
    return testing::AssertionSuccess();
}

// makeCall for a call description (maps of several sizes may share one cell count: the
// plug-ins read only the values each map needs): fresh arrays with the same values each time.
inline auto builderOf(const validcalls::PluginCall& call, uint32_t seed) {
    return [call, seed] { return validcalls::build(call, seed); };
}

}  // namespace threadidentity
