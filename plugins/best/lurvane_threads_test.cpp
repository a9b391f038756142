// lurvane and lurvaneveto give the same bits whatever number of threads shares out the anchor
// columns they search.
#include <gtest/gtest.h>

#include <cmath>

#include "thread_identity.h"

namespace {

using namespace validcalls;

// Three images of odd sizes (82, 98 and 154 anchor rows by 42, 66 and 30 columns at step 1),
// score maps of coarse values so that the highest scores tie, and one image without a placement.
TEST(LurvaneThreads, SeveralImagesOfOddSizes) {
    PluginCall call{"lurvane", {num(4), row({75, 91, 147, 9}), row({33, 57, 21, 11}), num(1), num(7), num(9),
                                singles(4, 154 * 42, -3, 3), singleRow(4), row({0, 0, 0, 0}), row({0, 0, 0, 0})}};
    auto coarse = [call] {
        BuiltCall built = build(call, 31);
        // Whole numbers tie; the last image holds nothing above -1e10.
        mxArray* maps = built.arrays[6].get();
        for (int image = 0; image < 4; ++image) {
            float* scores = minihost::singleData(mxGetCell(maps, image));
            for (int k = 0; k < 154 * 42; ++k) scores[k] = image == 3 ? -1e10f : std::trunc(scores[k]);
        }
        return built;
    };
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, coarse));
}

// One image of 215 x 265 anchors at step 2 (a 30 x 30 template on 400 x 500 pixels).
TEST(LurvaneThreads, OneLargeImage) {
    PluginCall call{"lurvane", {num(1), row({400}), row({500}), num(2), num(30), num(30), singles(1, 215 * 265, -9, 9),
                                singleRow(1), row({0}), row({0})}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 32)));
}

// lurvaneveto on two large images whose bests (anchor (100, 100), box centre (215, 215)) are
// ruled out, so that both maps are searched again in pieces; a rescored block beside them.
TEST(LurvaneThreads, VetoSearchesRuledOutImagesAgain) {
    PluginCall call{"lurvaneveto",
                    {num(2), row({400, 330}), row({500, 410}), num(2), num(30), num(30), singles(2, 215 * 265, -9, 9),
                     singleRow(2), row({100, 100}), row({100, 100}), row({1, 0.8}), row({1, 0.8}), num(215), num(215),
                     row({40, 40}), row({10, 10}), row({30, 30}), row({150, 150}), row({170, 170})}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 33)));
}

}  // namespace
