// tarrow gives the same bits whatever number of threads shares out the images.
#include <gtest/gtest.h>

#include <cmath>

#include "thread_identity.h"

namespace {

using namespace validcalls;

// Four images of odd sizes, one of them large (301 x 257) and one without a detection (NaN
// anchor); trace maps hold every slot of the 3 x 3 shifts.
TEST(TarrowThreads, SeveralImagesOfOddSizesOneLarge) {
    const int largestPooled = 150 * 128, largestImage = 301 * 257, slotCount = 9;
    PluginCall call{"tarrow",
                    {num(5), row({37, 61, 45, 301, 33}), row({53, 29, 47, 257, 35}), num(3), num(1), num(1), num(2),
                     num(3), doubles(3, 49, 0, 1), num(10), row({0, 1, 2, 0, 1, 2, 0, 1, 2, 1}),
                     row({0, 2, 4, 6, 8, 10, 12, 1, 3, 5}), row({12, 10, 8, 6, 4, 2, 0, 11, 9, 7}),
                     singles(15, largestPooled, -1, 4), singles(15, largestPooled, 0, slotCount),
                     singles(5, largestImage), row({3, 5, 2, 40, std::nan("")}), row({4, 1, 6, 30, 2}), num(2.5)}};
    auto wholeSlots = [call] {
        BuiltCall built = build(call, 41);
        mxArray* traces = built.arrays[14].get();
        for (int cell = 0; cell < 15; ++cell) {
            float* slots = minihost::singleData(mxGetCell(traces, cell));
            for (int k = 0; k < largestPooled; ++k) slots[k] = std::floor(slots[k]);
        }
        return built;
    };
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, wholeSlots));
}

}  // namespace
