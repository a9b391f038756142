// somvert and somvertwide give the same bits whatever number of threads shares out the blocks of
// columns of the orientation sums, the columns of the means and the columns of the division.
#include <gtest/gtest.h>

#include <string>

#include "thread_identity.h"

namespace {

using namespace validcalls;

// A map of 401 x 333 values (enough for 8 threads, 21 blocks of columns) whose windows reach
// the first row and column (edgeMargin 0), and one of 257 x 211 (3 threads at most) with a
// margin and a wide window.
TEST(SomvertThreads, LargeMapsOfOddSizes) {
    for (const char* plugin : {"somvert", "somvertwide"}) {
        SCOPED_TRACE(plugin);
        mxClassID valueClass = std::string(plugin) == "somvert" ? mxSINGLE_CLASS : mxDOUBLE_CLASS;
        PluginCall firstMap{plugin, {num(401), num(333), num(5), num(0), num(4), num(7),
                                     cellsOf(5, 401 * 333, valueClass, 0, 3), num(0.1)}};
        EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(plugin, threadidentity::builderOf(firstMap, 51)));
        PluginCall secondMap{plugin, {num(257), num(211), num(9), num(3), num(11), num(5),
                                      cellsOf(9, 257 * 211, valueClass, 0, 2), num(0.3)}};
        EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(plugin, threadidentity::builderOf(secondMap, 52)));
    }
}

}  // namespace
