// cellum against the plain filtering loop of each window alone and its amplitudes summed
// cell by cell in the documented order, on window sides whose cells leave a remainder, and its
// thread identity.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "filtrum_call.h"
#include "minihost.h"
#include "test_support.h"
#include "thread_identity.h"

namespace {

using minihost::Array;

TEST(Cellum, SumsTheAmplitudesOfEachWindowFilteredAloneCellByCell) {
    testsupport::SeededRandom random;
    struct Case {
        int side, count, orientCount, filterHalf, cellSize, cellsPerSide;
    };
    for (Case c : {Case{13, 3, 2, 2, 4, 3}, Case{17, 5, 4, 3, 3, 4}, Case{6, 1, 1, 0, 2, 3}, Case{9, 2, 3, 4, 5, 1}}) {
        SCOPED_TRACE(testing::Message() << c.count << " windows of " << c.side << ", h " << c.filterHalf << ", "
                                        << c.cellsPerSide << " cells of " << c.cellSize);
        int cells = c.cellsPerSide * c.cellsPerSide;
        int first = (c.side - c.cellSize * c.cellsPerSide) / 2;
        std::vector<double> windows, expected(cells * c.orientCount * c.count);
        testsupport::FiltrumCall alone;
        for (int w = 0; w < c.count; ++w) {
            // Each window filtered alone by the plain loop, with the same filters for all.
            testsupport::FiltrumCall call = testsupport::makeFiltrumCall(c.side, c.side, c.orientCount, c.filterHalf,
                                                                         random);
            if (w == 0) alone = std::move(call);
            else {
                for (int k = 0; k < c.side * c.side; ++k) alone.imageValues()[k] = call.imageValues()[k];
            }
            windows.insert(windows.end(), alone.imageValues(), alone.imageValues() + c.side * c.side);
            std::vector<std::vector<float>> maps = testsupport::plainEnergies(alone);
            for (int o = 0; o < c.orientCount; ++o) {
                for (int cc = 0; cc < c.cellsPerSide; ++cc) {
                    for (int cr = 0; cr < c.cellsPerSide; ++cr) {
                        double cellSum = 0.0;
                        for (int y = 0; y < c.cellSize; ++y) {
                            double columnSum = 0.0;
                            for (int x = 0; x < c.cellSize; ++x) {
                                int row = first + cr * c.cellSize + x, col = first + cc * c.cellSize + y;
                                columnSum += std::sqrt(static_cast<double>(maps[o][col * c.side + row]));
                            }
                            cellSum += columnSum;
                        }
                        expected[(w * c.orientCount + o) * cells + cr + cc * c.cellsPerSide] = cellSum;
                    }
                }
            }
        }
        std::vector<Array> scalars;
        for (double v : {double(c.side), double(c.count), double(c.orientCount), double(c.filterHalf)}) {
            scalars.push_back(minihost::scalar(v));
        }
        Array windowArray = minihost::doubles(1, static_cast<int>(windows.size()), windows);
        Array cellSize = minihost::scalar(c.cellSize), cellsPerSide = minihost::scalar(c.cellsPerSide);
        Array amplitudes = minihost::doubles(1, static_cast<int>(expected.size()));
        std::vector<const mxArray*> args = {scalars[0].get(), scalars[1].get(), scalars[2].get(), scalars[3].get(),
                                            windowArray.get(), alone.filterReal.cells.get(),
                                            alone.filterImag.cells.get(), cellSize.get(), cellsPerSide.get(),
                                            amplitudes.get()};
        minihost::CallResult result = minihost::callPlugin(minihost::loadPlugin("cellum"), args);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        EXPECT_EQ(0, std::memcmp(minihost::doubleData(amplitudes.get()), expected.data(),
                                 expected.size() * sizeof(double)));
    }
}

// Enough windows to share among threads: 23 windows of 40 x 40, 8 filters of 9 x 9.
TEST(Cellum, SameBitsForEveryThreadCount) {
    using namespace validcalls;
    PluginCall call{"cellum", {num(40), num(23), num(8), num(4), row(ramp(40 * 40 * 23, 0, 2.7e-5)),
                               doubles(8, 81, -1, 1), doubles(8, 81, -1, 1), num(8), num(5),
                               row(std::vector<double>(25 * 8 * 23))}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 16)));
}

}  // namespace
