// Empty work costs no working memory, however large the counts that name it.
#include <gtest/gtest.h>

#include "minihost.h"
#include "test_support.h"

namespace {

TEST(BrelindMemory, ManyRowsOfNoColumnsAllocateNoRows) {
    minihost::Array one = minihost::scalar(1), rows = minihost::scalar(1e8), noCols = minihost::scalar(0);
    minihost::Array responses = minihost::cellArray(1, 1), means = minihost::cellArray(1, 1);
    minihost::putCell(responses.get(), 0, minihost::singles(0, 0));
    minihost::putCell(means.get(), 0, minihost::singles(0, 0));
    minihost::Array zero = minihost::scalar(0);
    minihost::CallResult result = minihost::callPlugin(
        minihost::loadPlugin("brelind"), {one.get(), rows.get(), noCols.get(), one.get(), one.get(), responses.get(),
                                          means.get(), zero.get(), zero.get(), zero.get(), zero.get()});
    ASSERT_FALSE(result.failed) << result.errorMessage;
    EXPECT_LE(result.blocksAllocated, 4);
}

TEST(BrelindMemory, OrientationsOfNoImageAllocateNothing) {
    minihost::Array zero = minihost::scalar(0), none = minihost::doubles(1, 0), orients = minihost::scalar(268435456);
    minihost::Array one = minihost::scalar(1), noCells = minihost::cellArray(0, 0);
    minihost::CallResult result = minihost::callPlugin(
        minihost::loadPlugin("brelind"), {zero.get(), none.get(), none.get(), orients.get(), one.get(), noCells.get(),
                                          noCells.get(), zero.get(), zero.get(), zero.get(), zero.get()});
    ASSERT_FALSE(result.failed) << result.errorMessage;
    EXPECT_LE(result.blocksAllocated, 2);
}

TEST(SomvertMemory, ManyRowsOfNoColumnsAllocateNoRows) {
    minihost::Array rows = minihost::scalar(1e7), zero = minihost::scalar(0), one = minihost::scalar(1);
    minihost::Array maps = minihost::cellArray(1, 1), half = minihost::scalar(0.5);
    minihost::putCell(maps.get(), 0, minihost::singles(0, 0));
    minihost::CallResult result = minihost::callPlugin(
        minihost::loadPlugin("somvert"),
        {rows.get(), zero.get(), one.get(), one.get(), zero.get(), zero.get(), maps.get(), half.get()});
    ASSERT_FALSE(result.failed) << result.errorMessage;
    EXPECT_LE(result.blocksAllocated, 2);
}

}  // namespace
