// cobrint gives the same bits whatever number of threads shares out its maps: each thread
// counts into its own bins, and whole-number counts add up exactly in any order.
#include <gtest/gtest.h>

#include <vector>

#include "thread_identity.h"

namespace {

using namespace validcalls;

// 7 images x 3 orientations of 37 x 53 values, into a histogram that starts from zeros and into
// one that starts from fractions (each count then added one by one).
TEST(CobrintThreads, ManyMapsOfAnOddSize) {
    for (double start : {0.0, 0.375}) {
        SCOPED_TRACE(start);
        PluginCall call{"cobrint", {num(7), num(3), doubles(21, 37 * 53, -4, 4), num(2), num(37), num(53), num(0.2),
                                    num(16), row(std::vector<double>(16, start)), num(1.5)}};
        EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 71)));
    }
}

// One image of three large maps: fewer maps than some thread counts.
TEST(CobrintThreads, OneLargeImage) {
    PluginCall call{"cobrint", {num(1), num(3), doubles(3, 501 * 433, -6, 6), num(4), num(501), num(433), num(0.05),
                                num(64), row(std::vector<double>(64, 0.0)), num(2.5)}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 72)));
}

}  // namespace
