// fennock gives the same bits whatever number of threads shares out its maps.
#include <gtest/gtest.h>

#include "thread_identity.h"

namespace {

using namespace validcalls;

// Odd sizes, different for every image, so that maps end inside a vector step; every cell
// holds as many values as the largest map.
TEST(FennockThreads, SeveralImagesOfOddSizes) {
    PluginCall call{"fennock", {num(3), row({37, 61, 45}), row({53, 29, 45}), num(3), num(2.5),
                                singles(9, 45 * 45, -20, 20)}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 7)));
}

// One image whose maps are each cut into several pieces, the last one short.
TEST(FennockThreads, OneLargeImage) {
    PluginCall call{"fennock", {num(1), row({701}), row({499}), num(2), num(-1.5), singles(2, 701 * 499, -8, 8)}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 8)));
}

}  // namespace
