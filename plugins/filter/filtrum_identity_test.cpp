// filtrum's results depend neither on the number of OpenMP threads nor on the vector width:
// 1, 2, 3 and 8 threads, and the kernel's copy for each instruction set the processor has,
// give the same bits as the plain loop. The test shares the plug-in's OpenMP runtime, so the
// thread count it sets is the one the plug-in's parallel loop starts with.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "filter_energy.h"
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


// The kernel's strip for each vector width, compiled as the plug-in compiles it.
using StripFunction = void (*)(const filterenergy::PaddedImage&, const filterenergy::Taps&, int32_t, int32_t, float*,
                               int32_t);

AVX512_VERSION void stripOf16Lanes(const filterenergy::PaddedImage& padded, const filterenergy::Taps& taps,
                                   int32_t yStart, int32_t yEnd, float* map, int32_t rows) {
    filterenergy::energyStrip<filterenergy::Lanes16>(padded, taps, yStart, yEnd, map, rows);
}

AVX2_VERSION void stripOf8Lanes(const filterenergy::PaddedImage& padded, const filterenergy::Taps& taps,
                                int32_t yStart, int32_t yEnd, float* map, int32_t rows) {
    filterenergy::energyStrip<filterenergy::Lanes8>(padded, taps, yStart, yEnd, map, rows);
}

void stripOf4Lanes(const filterenergy::PaddedImage& padded, const filterenergy::Taps& taps, int32_t yStart,
                   int32_t yEnd, float* map, int32_t rows) {
    filterenergy::energyStrip<filterenergy::Lanes4>(padded, taps, yStart, yEnd, map, rows);
}

struct Width {
    const char* name;
    bool available;
    StripFunction strip;
};

std::vector<Width> widths() {
    return {{"16 lanes (AVX-512)", __builtin_cpu_supports("avx512f") != 0, stripOf16Lanes},
            {"8 lanes (AVX2)", __builtin_cpu_supports("avx2") != 0, stripOf8Lanes},
            {"4 lanes (any x86-64)", true, stripOf4Lanes}};
}

// Every map of the call through one width's strips of stripWidth columns.
std::vector<std::vector<float>> energiesByStrips(const testsupport::FiltrumCall& call, StripFunction strip,
                                                 int stripWidth) {
    int h = call.filterHalf, side = 2 * h + 1;
    std::vector<float> padded((call.rows + 2 * h) * (call.cols + 2 * h));
    filterenergy::padImage(call.imageValues(), call.rows, call.cols, h, padded.data());
    std::vector<std::vector<float>> maps;
    for (int o = 0; o < call.orientCount; ++o) {
        std::vector<float> re(side * side), im(side * side);
        filterenergy::flipFilter(call.filterReal.doubles(0, o), side, re.data());
        filterenergy::flipFilter(call.filterImag.doubles(0, o), side, im.data());
        std::vector<float> map(call.rows * call.cols, -1.0f);
        for (int y = 0; y < call.cols; y += stripWidth) {
            strip(filterenergy::PaddedImage{padded.data(), call.rows + 2 * h}, filterenergy::Taps{re.data(), im.data(), side},
                  y, std::min(y + stripWidth, call.cols), map.data(), call.rows);
        }
        maps.push_back(map);
    }
    return maps;
}

TEST(FiltrumWidths, EveryVectorWidthTheProcessorHasGivesThePlainLoopsBits) {
    // Row counts around every width's block of two vectors (8, 16 and 32 rows), odd column
    // counts, strips of one, three and all columns.
    testsupport::SeededRandom random;
    const int rowCounts[] = {1, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 64, 65};
    const int colCounts[] = {1, 2, 5};
    for (const Width& width : widths()) {
        if (!width.available) {
            std::printf("skipped %s: the processor lacks it\n", width.name);
            continue;
        }
        for (int rows : rowCounts) {
            for (int cols : colCounts) {
                for (int h : {0, 1, 3}) {
                    SCOPED_TRACE(testing::Message() << width.name << ", " << rows << " x " << cols << ", filterHalf " << h);
                    testsupport::FiltrumCall call = testsupport::makeFiltrumCall(rows, cols, 2, h, random);
                    std::vector<std::vector<float>> expected = testsupport::plainEnergies(call);
                    for (int stripWidth : {1, 3, cols}) {
                        ASSERT_TRUE(testsupport::sameBitsEverywhere(energiesByStrips(call, width.strip, stripWidth), expected))
                            << "strips of " << stripWidth << " columns";
                    }
                }
            }
        }
    }
}

}  // namespace
