// tarrowveto and tarrowvetoblock give the same bits whatever number of threads shares out the
// images: each image is inhibited with work of its thread's own, and the work a thread learned
// on one image must not change what it does on the next; tarrowvetoblock's threads also score
// the blocks of images that other threads inhibit.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "thread_identity.h"

namespace {

using namespace validcalls;

// Five images of odd sizes, one of them large (301 x 257) and one without a detection (NaN
// anchor); random overlap factors, so that inhibition wipes out and re-pools; trace maps hold
// every slot of the 3 x 3 shifts. For tarrowvetoblock, the blocks around the anchors and one
// image's block beyond its anchors, and a crop of the large image around its anchor.
PluginCall fiveImages(const char* plugin) {
    const int largestPooled = 150 * 128, largestImage = 301 * 257, slotCount = 9;
    PluginCall call{plugin,
                    {num(5), row({37, 61, 45, 301, 33}), row({53, 29, 47, 257, 35}), num(3), num(1), num(1), num(2),
                     num(2), doubles(3, 25, 0, 1), num(10), row({0, 1, 2, 0, 1, 2, 0, 1, 2, 1}),
                     row({0, 2, 4, 6, 8, 1, 3, 5, 7, 2}), row({8, 6, 4, 2, 0, 7, 5, 3, 1, 4}),
                     row({1, 0.5, 2, 1.5, 0.25, 1, 3, 0.75, 1, 2}), row({0.1, 0, 0.2, 0.1, 0, 0.3, 0.1, 0, 0.2, 0.1}),
                     singles(15, largestImage, 0, 2), singles(15, largestPooled, 0, 2),
                     singles(15, largestPooled, 0, slotCount), singles(5, largestImage),
                     row({3, 5, 2, 40, std::nan("")}), row({4, 1, 6, 30, 2}), num(1.5), num(18), num(18),
                     doubles(9, 81, 0, 1), singleRow(5), singles(5, largestImage, 0.5, 2)}};
    if (std::string(plugin) == "tarrowvetoblock") {
        const int largestScores = 159 * 137;
        call.args.insert(call.args.end(), {singles(5, largestScores, -2, 2), row({-5, 0, -3, 20, 0}),
                                           row({12, 9, 9, 60, 9}), row({-4, -6, 0, 10, 0}),
                                           row({12, 8, 14, 50, 9}), num(4), num(35), num(25), num(30), num(28),
                                           singles(3, 30 * 28), singles(3, 30 * 28)});
    }
    return call;
}

void expectSameBitsForEveryThreadCount(const PluginCall& call) {
    const int largestPooled = 150 * 128;
    auto wholeSlots = [call] {
        BuiltCall built = build(call, 43);
        mxArray* traces = built.arrays[17].get();
        for (int cell = 0; cell < 15; ++cell) {
            float* slots = minihost::singleData(mxGetCell(traces, cell));
            for (int k = 0; k < largestPooled; ++k) slots[k] = std::floor(slots[k]);
        }
        return built;
    };
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, wholeSlots));
}

TEST(TarrowvetoThreads, SeveralImagesOfOddSizesOneLarge) { expectSameBitsForEveryThreadCount(fiveImages("tarrowveto")); }

TEST(TarrowvetoThreads, BlocksRescoredAsImagesAreInhibited) {
    expectSameBitsForEveryThreadCount(fiveImages("tarrowvetoblock"));
}

}  // namespace
