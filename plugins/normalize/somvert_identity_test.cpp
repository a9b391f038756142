// somvert and somvertwide against the plain loops, bit for bit: random maps of odd sizes,
// margins of 0, windows that barely fit or do not, zero means, NaN, infinities, -0 and
// negative floors.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "minihost.h"
#include "plain_loops.h"
#include "test_support.h"
#include "thread_count.h"

namespace {

// One call's sizes and window.
struct NormalizeCase {
    int rows, cols, orientCount, edgeMargin, halfWindowX, halfWindowY;
    double relativeFloor;
};

const NormalizeCase cases[] = {
    {37, 29, 5, 2, 3, 2, 0.2},    // odd sizes, the last block of columns partly filled
    {23, 41, 3, 0, 4, 1, 0.5},    // margin 0: windows reach before the first row and column
    {64, 70, 16, 5, 5, 5, 0.2},   // the benchmark's window on a smaller map
    {11, 9, 2, 1, 4, 3, 0.3},     // exactly one interior position
    {10, 9, 2, 1, 4, 3, 0.3},     // no interior row: the maps stay as they are
    {19, 50, 4, 1, 0, 0, -0.7},   // one-position window, negative floor
    {1, 13, 2, 0, 0, 2, 0.1},     // one row, margin 0
    {30, 17, 15, 0, 0, 8, 1.5},   // margin 0, window one column short of the map; 8 + 4 + 2 + 1 maps
};

// How the maps are filled.
enum class Fill { random, silentColumns, specials };

template <typename T>
std::vector<std::vector<T>> drawMaps(const NormalizeCase& c, Fill fill, testsupport::SeededRandom& random) {
    const T specials[] = {std::numeric_limits<T>::quiet_NaN(), std::numeric_limits<T>::infinity(),
                          -std::numeric_limits<T>::infinity(), T(-0.0), T(0)};
    std::vector<std::vector<T>> maps(c.orientCount, std::vector<T>(c.rows * c.cols));
    for (std::vector<T>& map : maps) {
        for (int p = 0; p < c.rows * c.cols; ++p) {
            map[p] = static_cast<T>(random.uniform(-1.0f, 10.0f));
            // Silent first columns give windows a mean of exactly 0 (-0 and 0 alike).
            if (fill == Fill::silentColumns && p / c.rows < c.cols / 2) map[p] = p % 3 == 0 ? T(-0.0) : T(0);
            if (fill == Fill::specials && random.integer(0, 99) < 2) map[p] = specials[random.integer(0, 4)];
        }
    }
    return maps;
}

template <typename T>
testing::AssertionResult sameBitsEverywhere(const std::vector<std::vector<T>>& actual,
                                            const std::vector<std::vector<T>>& expected) {
    for (size_t o = 0; o < expected.size(); ++o) {
        for (size_t k = 0; k < expected[o].size(); ++k) {
            if (!testsupport::sameBits(actual[o][k], expected[o][k])) {
                return testing::AssertionFailure() << "orientation " << o << " value " << k << ": " << actual[o][k]
                                                   << " instead of " << expected[o][k];
            }
        }
    }
    return testing::AssertionSuccess();
}

// Runs the plug-in and the plain loop on copies of the same maps.
template <typename T>
testing::AssertionResult matchesPlain(const char* plugin, mxClassID classId, const NormalizeCase& c,
                                      const std::vector<std::vector<T>>& values) {
    testsupport::MapGrid grid = testsupport::makeGrid(1, c.orientCount, {c.rows}, {c.cols}, classId);
    std::vector<std::vector<T>> expected = values;
    std::vector<T*> maps;
    for (int o = 0; o < c.orientCount; ++o) {
        std::copy(values[o].begin(), values[o].end(), static_cast<T*>(mxGetData(grid.map(0, o))));
        maps.push_back(expected[o].data());
    }
    plain::somvert<T>(c.rows, c.cols, c.orientCount, c.edgeMargin, c.halfWindowX, c.halfWindowY, maps.data(),
                      c.relativeFloor);
    minihost::Array r = minihost::scalar(c.rows), cl = minihost::scalar(c.cols), n = minihost::scalar(c.orientCount);
    minihost::Array margin = minihost::scalar(c.edgeMargin), hx = minihost::scalar(c.halfWindowX);
    minihost::Array hy = minihost::scalar(c.halfWindowY), floor = minihost::scalar(c.relativeFloor);
    minihost::CallResult result = minihost::callPlugin(
        minihost::loadPlugin(plugin),
        {r.get(), cl.get(), n.get(), margin.get(), hx.get(), hy.get(), grid.cells.get(), floor.get()});
    if (result.failed) return testing::AssertionFailure() << result.errorMessage;
    return sameBitsEverywhere(testsupport::snapshot<T>(grid), expected)
           << " (" << plugin << ", " << c.rows << " x " << c.cols << ", margin " << c.edgeMargin << ", half window "
           << c.halfWindowX << " x " << c.halfWindowY << ")";
}

template <typename T>
void expectEveryCaseMatches(const char* plugin, mxClassID classId) {
    testsupport::SeededRandom random;
    for (const NormalizeCase& c : cases) {
        for (Fill fill : {Fill::random, Fill::silentColumns, Fill::specials}) {
            EXPECT_TRUE(matchesPlain<T>(plugin, classId, c, drawMaps<T>(c, fill, random)));
        }
    }
}

TEST(SomvertIdentity, EveryCaseMatchesThePlainLoops) { expectEveryCaseMatches<float>("somvert", mxSINGLE_CLASS); }

TEST(SomvertIdentity, WideEveryCaseMatchesThePlainLoops) {
    expectEveryCaseMatches<double>("somvertwide", mxDOUBLE_CLASS);
}

// Maps large enough for four threads, on four threads: the orientation sums formed block of
// columns by block on the threads and summed up in place, and the threads' ranges of columns of
// the means and of the division, match the plain loops.
TEST(SomvertIdentity, MapsSharedByFourThreadsMatchThePlainLoops) {
    testsupport::ThreadCountScope threads(4);
    testsupport::SeededRandom random;
    const NormalizeCase largeCases[] = {{301, 223, 5, 0, 4, 7, 0.2}, {263, 257, 9, 2, 9, 1, 0.4}};
    for (const NormalizeCase& c : largeCases) {
        for (Fill fill : {Fill::random, Fill::silentColumns, Fill::specials}) {
            EXPECT_TRUE(matchesPlain<float>("somvert", mxSINGLE_CLASS, c, drawMaps<float>(c, fill, random)));
            EXPECT_TRUE(matchesPlain<double>("somvertwide", mxDOUBLE_CLASS, c, drawMaps<double>(c, fill, random)));
        }
    }
}

// Values of very different sizes make the running sums round at almost every step, so any
// change in the order of the roundings shows.
TEST(SomvertIdentity, RunningSumsThatRoundAtEveryStepMatchThePlainLoops) {
    testsupport::SeededRandom random;
    NormalizeCase c{45, 83, 4, 1, 2, 6, 0.05};
    std::vector<std::vector<float>> values(c.orientCount, std::vector<float>(c.rows * c.cols));
    for (std::vector<float>& map : values) {
        for (float& v : map) v = random.uniform(0.0f, 1.0f) * std::pow(10.0f, static_cast<float>(random.integer(-3, 7)));
    }
    EXPECT_TRUE(matchesPlain<float>("somvert", mxSINGLE_CLASS, c, values));
    std::vector<std::vector<double>> wide(values.size());
    for (size_t o = 0; o < values.size(); ++o) {
        for (float v : values[o]) wide[o].push_back(static_cast<double>(v) / 3.0);
    }
    EXPECT_TRUE(matchesPlain<double>("somvertwide", mxDOUBLE_CLASS, c, wide));
}

}  // namespace
