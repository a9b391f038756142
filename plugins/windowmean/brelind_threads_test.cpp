// brelind gives the same bits whatever number of threads shares out its images, or the rows
// and columns of one image's window means.
#include <gtest/gtest.h>

#include "thread_identity.h"

namespace {

using namespace validcalls;

// Five images of odd sizes, one of them without a window: the threads take whole images.
TEST(BrelindThreads, SeveralImagesOfOddSizes) {
    PluginCall call{"brelind", {num(5), row({37, 61, 45, 9, 130}), row({53, 29, 47, 11, 71}), num(3), num(2),
                                singles(15, 130 * 71, 0, 3), singles(5, 130 * 71), num(3), num(4), num(0),
                                num(0.1)}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 61)));
}

// One image of 333 x 207 values: the threads share its blocks and ranges of columns.
TEST(BrelindThreads, OneLargeImage) {
    PluginCall call{"brelind", {num(1), row({333}), row({207}), num(4), num(0), singles(4, 333 * 207, 0, 3),
                                singles(1, 333 * 207), num(6), num(2), num(0), num(0.2)}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 62)));
}

// Two large images: whole images for two threads, the columns of each image for three or more.
TEST(BrelindThreads, TwoLargeImages) {
    PluginCall call{"brelind", {num(2), row({400, 257}), row({150, 301}), num(2), num(4), singles(4, 257 * 301, 0, 3),
                                singles(2, 257 * 301), num(5), num(5), num(0), num(0.1)}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 63)));
}

}  // namespace
