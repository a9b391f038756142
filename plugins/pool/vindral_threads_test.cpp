// vindral gives the same bits whatever number of threads shares out the bands of columns.
#include <gtest/gtest.h>

#include "thread_identity.h"

namespace {

using namespace validcalls;

// Three images of odd sizes, one band each, pooled at step 3 (values gathered poolStep apart).
TEST(VindralThreads, SeveralImagesOfOddSizes) {
    PluginCall call{"vindral", {num(3), row({37, 61, 45}), row({53, 29, 47}), num(3), num(1), num(1), num(3),
                                singles(9, 45 * 47, -3, 3), singles(9, 15 * 17), singles(9, 15 * 17)}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 21)));
}

// One image of 600 x 401 pixels and 8 orientations: at step 2 its 200 pooled columns fall into
// 8 bands of 27 (the last one shorter), at step 1 its 401 into 8 bands of 54.
TEST(VindralThreads, OneLargeImageInManyBands) {
    for (int poolStep : {2, 1}) {
        SCOPED_TRACE(poolStep);
        const int pooledValues = (600 / poolStep) * (401 / poolStep);
        PluginCall call{"vindral", {num(1), row({600}), row({401}), num(8), num(2), num(1), num(poolStep),
                                    singles(8, 600 * 401, -3, 3), singles(8, pooledValues), singles(8, pooledValues)}};
        EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 22)));
    }
}

}  // namespace
