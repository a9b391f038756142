// scalum against a plain loop written from its help text, on random taps (repeated and
// unordered sources, outputs without taps, weights of every sign), and its thread identity.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "minihost.h"
#include "test_support.h"
#include "thread_identity.h"

namespace {

using minihost::Array;

// One pass's taps as the caller lists them.
struct Taps {
    std::vector<double> counts, sources, weights;
};

Taps randomTaps(testsupport::SeededRandom& random, int outputs, int sourceCount) {
    Taps taps;
    for (int k = 0; k < outputs; ++k) {
        int count = random.integer(0, 4);
        taps.counts.push_back(count);
        for (int t = 0; t < count; ++t) {
            taps.sources.push_back(random.integer(1, sourceCount) + 0.25 * random.integer(-1, 1));
            taps.weights.push_back(random.uniform(-2.0f, 2.0f) + 1e-9 * random.integer(1, 9));
        }
    }
    return taps;
}

// The two passes, value by value, each sum from 0 in the listed order.
std::vector<double> plainResample(const std::vector<double>& image, int rows, int outRows, int outCols,
                                  const Taps& colTaps, const Taps& rowTaps) {
    std::vector<double> across(static_cast<size_t>(rows) * outCols), resized(static_cast<size_t>(outRows) * outCols);
    auto source = [](double s) { return static_cast<int>(std::floor(s + 0.5)) - 1; };
    for (int x = 0; x < rows; ++x) {
        size_t t = 0;
        for (int j = 0; j < outCols; ++j) {
            double sum = 0.0;
            for (int n = 0; n < colTaps.counts[j]; ++n, ++t) {
                sum += colTaps.weights[t] * image[static_cast<size_t>(source(colTaps.sources[t])) * rows + x];
            }
            across[static_cast<size_t>(j) * rows + x] = sum;
        }
    }
    for (int j = 0; j < outCols; ++j) {
        size_t t = 0;
        for (int i = 0; i < outRows; ++i) {
            double sum = 0.0;
            for (int n = 0; n < rowTaps.counts[i]; ++n, ++t) {
                sum += rowTaps.weights[t] * across[static_cast<size_t>(j) * rows + source(rowTaps.sources[t])];
            }
            resized[static_cast<size_t>(j) * outRows + i] = sum;
        }
    }
    return resized;
}

TEST(Scalum, MatchesThePlainLoopBitForBit) {
    testsupport::SeededRandom random;
    for (int trial = 0; trial < 100; ++trial) {
        int rows = random.integer(1, 37), cols = random.integer(1, 29);
        int outRows = random.integer(0, 41), outCols = random.integer(0, 33);
        SCOPED_TRACE(testing::Message() << rows << " x " << cols << " to " << outRows << " x " << outCols);
        std::vector<double> image;
        for (int k = 0; k < rows * cols; ++k) image.push_back(random.uniform(-1.0f, 1.0f));
        Taps colTaps = randomTaps(random, outCols, cols), rowTaps = randomTaps(random, outRows, rows);
        std::vector<Array> arrays;
        for (double v : {double(rows), double(cols), double(outRows), double(outCols)}) {
            arrays.push_back(minihost::scalar(v));
        }
        arrays.push_back(minihost::doubles(rows, cols, image));
        for (const Taps* taps : {&colTaps, &rowTaps}) {
            arrays.push_back(minihost::doubles(1, static_cast<int>(taps->counts.size()), taps->counts));
            arrays.push_back(minihost::doubles(1, static_cast<int>(taps->sources.size()), taps->sources));
            arrays.push_back(minihost::doubles(1, static_cast<int>(taps->weights.size()), taps->weights));
        }
        arrays.push_back(minihost::doubles(outRows, outCols, std::vector<double>(outRows * outCols, 7.0)));
        std::vector<const mxArray*> args;
        for (const Array& a : arrays) args.push_back(a.get());
        minihost::CallResult result = minihost::callPlugin(minihost::loadPlugin("scalum"), args);
        ASSERT_FALSE(result.failed) << result.errorMessage;
        std::vector<double> expected = plainResample(image, rows, outRows, outCols, colTaps, rowTaps);
        const double* got = minihost::doubleData(arrays.back().get());
        ASSERT_TRUE(expected.empty() || std::memcmp(got, expected.data(), expected.size() * sizeof(double)) == 0);
    }
}

// An image large enough to be shared among threads: 300 x 220 to 410 x 150, two or three
// taps per output.
TEST(Scalum, SameBitsForEveryThreadCount) {
    using namespace validcalls;
    std::vector<double> colCounts, colSources, colWeights, rowCounts, rowSources, rowWeights;
    for (int j = 0; j < 150; ++j) {
        colCounts.push_back(2 + j % 2);
        for (int t = 0; t < 2 + j % 2; ++t) {
            colSources.push_back(1 + (j * 219 / 149 + t) % 220);
            colWeights.push_back(0.3 + 0.1 * t);
        }
    }
    for (int i = 0; i < 410; ++i) {
        rowCounts.push_back(2);
        rowSources.push_back(1 + i * 299 / 409);
        rowSources.push_back(1 + (i * 299 / 409 + 1) % 300);
        rowWeights.push_back(0.75);
        rowWeights.push_back(0.25);
    }
    PluginCall call{"scalum",
                    {num(300), num(220), num(410), num(150), row(ramp(300 * 220, -1, 3e-5)), row(colCounts),
                     row(colSources), row(colWeights), row(rowCounts), row(rowSources), row(rowWeights),
                     row(std::vector<double>(410 * 150))}};
    EXPECT_TRUE(threadidentity::sameBitsForEveryThreadCount(call.plugin, threadidentity::builderOf(call, 14)));
}

}  // namespace
