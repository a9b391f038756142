// filtrum's results do not depend on the number of OpenMP threads: 1, 2, 3 and 8 threads give
// the same bits as the plain loop. The test shares the plug-in's OpenMP runtime, so the thread
// count it sets is the one the plug-in's parallel loop starts with.
#include <gtest/gtest.h>
#include <omp.h>

#include <vector>

#include "filtrum_call.h"
#include "minihost.h"
#include "test_support.h"

namespace {

// Restores the thread count that was in force when the scope began.
class ThreadCountScope {
public:
    ThreadCountScope() : saved_(omp_get_max_threads()) {}
    ~ThreadCountScope() { omp_set_num_threads(saved_); }

private:
    int saved_;
};

TEST(FiltrumThreads, OneTwoThreeAndEightThreadsGiveTheSameBits) {
    ThreadCountScope scope;
    testsupport::SeededRandom random;
    // A call large enough to be shared among threads (more than 2^24 products of image and
    // filter values): many strips of columns per map, odd counts of rows, columns and
    // orientations, and a last strip of odd width, so that threads split maps and strips in
    // different ways.
    const int rows = 257, cols = 203, orientCount = 5;
    testsupport::FiltrumCall call = testsupport::makeFiltrumCall(rows, cols, orientCount, 4, random);
    std::vector<std::vector<float>> expected = testsupport::plainEnergies(call);
    for (int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        omp_set_num_threads(threads);
        ASSERT_EQ(omp_get_max_threads(), threads);
        testsupport::restore(call.maps,
                             std::vector<std::vector<float>>(orientCount, std::vector<float>(rows * cols, -1.0f)));
        minihost::CallResult result = minihost::callPlugin(minihost::loadPlugin("filtrum"), call.args());
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_TRUE(testsupport::sameBitsEverywhere(testsupport::snapshot<float>(call.maps), expected));
    }
}

TEST(FiltrumThreads, MoreThreadsThanTasksLeaveNoValueUnwritten) {
    // One map of one strip, and a large filter that makes the call a threaded one (9 * 2000 *
    // 45^2 products): a single task for eight threads.
    ThreadCountScope scope;
    omp_set_num_threads(8);
    testsupport::SeededRandom random;
    const int rows = 2000, cols = 9;
    testsupport::FiltrumCall call = testsupport::makeFiltrumCall(rows, cols, 1, 22, random);
    std::vector<std::vector<float>> expected = testsupport::plainEnergies(call);
    testsupport::restore(call.maps, std::vector<std::vector<float>>(1, std::vector<float>(rows * cols, -1.0f)));
    ASSERT_FALSE(minihost::callPlugin(minihost::loadPlugin("filtrum"), call.args()).failed);
    EXPECT_TRUE(testsupport::sameBitsEverywhere(testsupport::snapshot<float>(call.maps), expected));
}

}  // namespace
