// gastrel gives the same bits whatever number of threads shares out the anchor columns.
#include <gtest/gtest.h>

#include <cmath>

#include "thread_identity.h"

namespace {

using namespace validcalls;

// Three images of odd sizes (pooled 30 x 26, 18 x 41 and 22 x 22 at step 2) with 34, 49 and 30
// anchor columns, cut into pieces of a few columns; elements inside and outside the template,
// some of them off the pooled maps. Score maps start from nonzero values (they are added to).
TEST(GastrelThreads, SeveralImagesOfOddSizes) {
    PluginCall call{"gastrel",
                    {num(3), row({61, 37, 45}), row({53, 83, 45}), num(3), num(2), num(20), num(16), num(7),
                     row({0, 1, 2, 1, 0, 2, 1}), row({0, 3, 9, -2, 5, 12, 4}), row({1, 7, 2, 4, -3, 6, 9}),
                     row({1.5, 0.7, 2, 1, 0.3, 1.2, 0.9}), row({0.1, 0.2, 0.3, 0.05, 0.4, 0.2, 0.1}),
                     singles(9, 30 * 26, 0, 4), singles(3, 28 * 49, -1, 1), singles(3, 61 * 53, 0.5, 2), num(3)}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 11)));
}

// One image of 300 x 420 pixels: 170 anchor rows by 230 anchor columns.
TEST(GastrelThreads, OneLargeImage) {
    PluginCall call{"gastrel",
                    {num(1), row({300}), row({420}), num(4), num(2), num(40), num(40), num(12),
                     row({0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3}), row({0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 3, 7}),
                     row({19, 17, 15, 13, 11, 9, 7, 5, 3, 1, 10, 0}),
                     row({1, 2, 0.5, 1.5, 1, 0.8, 1.2, 2, 0.6, 1, 1.1, 0.9}),
                     row({0.1, 0.2, 0.1, 0.3, 0.2, 0.1, 0.1, 0.2, 0.3, 0.1, 0.2, 0.1}), singles(4, 150 * 210, 0, 4),
                     singles(1, 170 * 230), singles(1, 300 * 420, 0.5, 2), num(2.5)}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 12)));
}

// gastrelblock: blocks of one image near its top edge, of one reaching past every edge, and
// none (NaN) in the third.
TEST(GastrelThreads, BlocksOfSeveralImages) {
    PluginCall call{"gastrelblock",
                    {num(3), row({61, 37, 45}), row({53, 83, 45}), num(3), num(2), num(20), num(16), num(7),
                     row({0, 1, 2, 1, 0, 2, 1}), row({0, 3, 9, -2, 5, 12, 4}), row({1, 7, 2, 4, -3, 6, 9}),
                     row({1.5, 0.7, 2, 1, 0.3, 1.2, 0.9}), row({0.1, 0.2, 0.3, 0.05, 0.4, 0.2, 0.1}),
                     singles(9, 30 * 26, 0, 4), singles(3, 28 * 49, -1, 1), singles(3, 61 * 53, 0.5, 2), num(3),
                     row({-9, -1e9, NAN}), row({12, 1e9, 4}), row({3.5, -INFINITY, 2}), row({30, INFINITY, 9})}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 13)));
}

}  // namespace
