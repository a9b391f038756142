#include "threads.h"

#include <gtest/gtest.h>

#include <vector>

#include "minihost.h"
#include "thread_count.h"

using testsupport::ThreadCountScope;

namespace {

TEST(ThreadCount, FollowsTheOpenMpCountAndNeverExceedsTheItems) {
    ThreadCountScope threads(3);
    EXPECT_EQ(threadCountFor(100), 3);
    EXPECT_EQ(threadCountFor(3), 3);
    EXPECT_EQ(threadCountFor(2), 2);
    EXPECT_EQ(threadCountFor(1), 1);
    // A loop without items still runs on one thread.
    EXPECT_EQ(threadCountFor(0), 1);
    EXPECT_EQ(threadCountFor(-5), 1);
}

TEST(ThreadCount, NumbersTheThreadsOfATeam) {
    EXPECT_EQ(threadNumber(), 0);
    EXPECT_EQ(teamSize(), 1);
    const int teamLimit = 4;
    std::vector<int> seen(teamLimit, 0);
    int size = 0;
#pragma omp parallel num_threads(teamLimit)
    {
        ++seen[threadNumber()];
#pragma omp single
        size = teamSize();
    }
    ASSERT_GE(size, 1);
    ASSERT_LE(size, teamLimit);
    for (int t = 0; t < teamLimit; ++t) EXPECT_EQ(seen[t], t < size ? 1 : 0) << "thread " << t;
}

TEST(ShareOf, SplitsARangeIntoContiguousSharesInOrder) {
    for (int64_t count : {0, 1, 7, 8, 1000003}) {
        for (int32_t parts : {1, 2, 3, 8}) {
            int64_t next = 0;
            for (int32_t p = 0; p < parts; ++p) {
                ItemRange share = shareOf(count, p, parts);
                EXPECT_EQ(share.first, next) << count << " items, share " << p << " of " << parts;
                EXPECT_GE(share.end - share.first, count / parts);
                EXPECT_LE(share.end - share.first, count / parts + 1);
                next = share.end;
            }
            EXPECT_EQ(next, count);
        }
    }
}

TEST(CutIntoPieces, CoversEveryPartOfEveryItemOnceInOrder) {
    minihost::LooseBlockScope callBlocks;
    const std::vector<int32_t> parts = {5, 0, 12, 4, 1};
    const int32_t pieceSize = 4;
    PieceList list = cutIntoPieces(static_cast<int32_t>(parts.size()), pieceSize,
                                   [&](int32_t item) { return parts[item]; });
    const std::vector<WorkPiece> expected = {{0, 0, 4}, {0, 4, 5}, {2, 0, 4}, {2, 4, 8},
                                             {2, 8, 12}, {3, 0, 4}, {4, 0, 1}};
    ASSERT_EQ(list.count, static_cast<int64_t>(expected.size()));
    for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(list.pieces[k].item, expected[k].item) << "piece " << k;
        EXPECT_EQ(list.pieces[k].first, expected[k].first) << "piece " << k;
        EXPECT_EQ(list.pieces[k].end, expected[k].end) << "piece " << k;
    }
    mxFree(list.pieces);
}

}  // namespace
