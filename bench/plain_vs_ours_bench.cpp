// Each of fennock, somvert, brelind and cobrint against its plain statement-by-statement loop
// (tests/support/plain_loops.h), on the same inputs in the same run: the ratio of the two
// times, the plug-in on one thread, is what a speed change is judged by; the plug-in runs on
// two threads as well. Every iteration starts from the same fresh inputs, restored while the
// timer is paused.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "grids.h"
#include "minihost.h"
#include "plain_loops.h"
#include "thread_variants.h"

namespace {

const int imageCount = 8;
const int orientCount = 16;
const int side = 256;
const int halfWindow = 5;
const int edgeMargin = 5;
const double relativeFloor = 0.2;
// A level of the order of the responses, so that saturation bends them noticeably.
const double saturationLevel = 6.0;
const int borderWidth = 4;
const int binCount = 64;
const double binWidth = 0.1;

enum class Variant { plain, ours };

// A grid of responses with a copy of its initial values, restored before every iteration.
struct FreshGrid {
    testsupport::MapGrid grid;
    std::vector<std::vector<char>> initial;

    FreshGrid(mxClassID classId, bool gammaResponses)
        : grid(testsupport::makeGrid(imageCount, orientCount, std::vector<int>(imageCount, side),
                                     std::vector<int>(imageCount, side), classId)) {
        std::mt19937 engine(1);
        std::gamma_distribution<double> gamma(2.0, 1.0);
        std::normal_distribution<double> normal(0.0, 3.0);
        testsupport::fillEach(grid, [&] { return gammaResponses ? gamma(engine) : normal(engine); });
        for (int c = 0; c < imageCount * orientCount; ++c) {
            mxArray* map = mxGetCell(grid.cells.get(), c);
            const char* data = static_cast<const char*>(mxGetData(map));
            initial.emplace_back(data, data + mxGetNumberOfElements(map) * (mxIsSingle(map) ? sizeof(float) : sizeof(double)));
        }
    }
    void restore() const {
        for (int c = 0; c < imageCount * orientCount; ++c) {
            std::copy(initial[c].begin(), initial[c].end(), static_cast<char*>(mxGetData(mxGetCell(grid.cells.get(), c))));
        }
    }
    template <typename T>
    std::vector<T*> table() const {
        return testsupport::cellTable<T>(grid);
    }
};

// The plug-in's thread count (the benchmark's argument); the plain loop, which has none, runs
// on the calling thread.
int threadsOf(const benchmark::State& state, Variant variant) {
    return variant == Variant::ours ? static_cast<int>(state.range(0)) : 1;
}

void reportValues(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * imageCount * orientCount * side * side);
}

void fennockGrid(benchmark::State& state, Variant variant) {
    testsupport::ThreadCountScope threads(threadsOf(state, variant));
    FreshGrid fresh(mxSINGLE_CLASS, false);
    std::vector<float*> table = fresh.table<float>();
    std::vector<double> sizes(imageCount, side);
    minihost::Array count = minihost::scalar(imageCount), sizeArray = minihost::doubles(1, imageCount, sizes);
    minihost::Array orients = minihost::scalar(orientCount), level = minihost::scalar(saturationLevel);
    minihost::MexEntry entry = minihost::loadPlugin("fennock");
    for (auto _ : state) {
        state.PauseTiming();
        fresh.restore();
        state.ResumeTiming();
        if (variant == Variant::plain) {
            plain::fennock(imageCount, sizes.data(), sizes.data(), orientCount, saturationLevel, table.data());
        } else {
            minihost::CallResult result = minihost::callPlugin(
                entry, {count.get(), sizeArray.get(), sizeArray.get(), orients.get(), level.get(), fresh.grid.cells.get()});
            if (result.failed) state.SkipWithError(result.errorMessage.c_str());
        }
    }
    reportValues(state);
}

// somvert once per image: 8 calls of 16 orientations each.
void somvertImages(benchmark::State& state, Variant variant) {
    testsupport::ThreadCountScope threads(threadsOf(state, variant));
    FreshGrid fresh(mxSINGLE_CLASS, true);
    std::vector<float*> table = fresh.table<float>();
    std::vector<minihost::Array> imageCells;
    for (int image = 0; image < imageCount; ++image) {
        imageCells.push_back(minihost::cellArray(1, orientCount));
        for (int o = 0; o < orientCount; ++o) {
            minihost::putCell(imageCells.back().get(), o, minihost::Array(mxCreateNumericMatrix(side * side, 1, mxSINGLE_CLASS, mxREAL)));
        }
    }
    minihost::Array size = minihost::scalar(side), orients = minihost::scalar(orientCount);
    minihost::Array margin = minihost::scalar(edgeMargin), half = minihost::scalar(halfWindow);
    minihost::Array floorArg = minihost::scalar(relativeFloor);
    minihost::MexEntry entry = minihost::loadPlugin("somvert");
    for (auto _ : state) {
        state.PauseTiming();
        fresh.restore();
        for (int image = 0; image < imageCount; ++image) {
            for (int o = 0; o < orientCount; ++o) {
                std::copy(table[image + o * imageCount], table[image + o * imageCount] + side * side,
                          static_cast<float*>(mxGetData(mxGetCell(imageCells[image].get(), o))));
            }
        }
        state.ResumeTiming();
        for (int image = 0; image < imageCount; ++image) {
            if (variant == Variant::plain) {
                std::vector<float*> maps;
                for (int o = 0; o < orientCount; ++o) maps.push_back(table[image + o * imageCount]);
                plain::somvert<float>(side, side, orientCount, edgeMargin, halfWindow, halfWindow, maps.data(),
                                      relativeFloor);
            } else {
                minihost::CallResult result = minihost::callPlugin(
                    entry, {size.get(), size.get(), orients.get(), margin.get(), half.get(), half.get(),
                            imageCells[image].get(), floorArg.get()});
                if (result.failed) state.SkipWithError(result.errorMessage.c_str());
            }
        }
    }
    reportValues(state);
}

void brelindGrid(benchmark::State& state, Variant variant) {
    testsupport::ThreadCountScope threads(threadsOf(state, variant));
    FreshGrid fresh(mxSINGLE_CLASS, true);
    std::vector<float*> table = fresh.table<float>();
    std::vector<int> sides(imageCount, side);
    testsupport::MapGrid means = testsupport::makeGrid(imageCount, 1, sides, sides, mxSINGLE_CLASS);
    std::vector<float*> meanTable;
    for (int image = 0; image < imageCount; ++image) meanTable.push_back(means.singles(image, 0));
    std::vector<double> sizes(imageCount, side);
    minihost::Array count = minihost::scalar(imageCount), sizeArray = minihost::doubles(1, imageCount, sizes);
    minihost::Array orients = minihost::scalar(orientCount), margin = minihost::scalar(edgeMargin);
    minihost::Array half = minihost::scalar(halfWindow), meanSwitch = minihost::scalar(0);
    minihost::Array floorArg = minihost::scalar(relativeFloor);
    minihost::MexEntry entry = minihost::loadPlugin("brelind");
    for (auto _ : state) {
        if (variant == Variant::plain) {
            plain::brelind(imageCount, sizes.data(), sizes.data(), orientCount, edgeMargin, table.data(),
                           meanTable.data(), halfWindow, halfWindow, 0, relativeFloor);
        } else {
            minihost::CallResult result = minihost::callPlugin(
                entry, {count.get(), sizeArray.get(), sizeArray.get(), orients.get(), margin.get(), fresh.grid.cells.get(),
                        means.cells.get(), half.get(), half.get(), meanSwitch.get(), floorArg.get()});
            if (result.failed) state.SkipWithError(result.errorMessage.c_str());
        }
    }
    reportValues(state);
}

void cobrintGrid(benchmark::State& state, Variant variant) {
    testsupport::ThreadCountScope threads(threadsOf(state, variant));
    FreshGrid fresh(mxDOUBLE_CLASS, false);
    std::vector<double*> table = fresh.table<double>();
    minihost::Array images = minihost::scalar(imageCount), orients = minihost::scalar(orientCount);
    minihost::Array border = minihost::scalar(borderWidth), size = minihost::scalar(side);
    minihost::Array width = minihost::scalar(binWidth), bins = minihost::scalar(binCount);
    minihost::Array histogram = minihost::doubles(1, binCount), level = minihost::scalar(saturationLevel);
    double* histogramData = minihost::doubleData(histogram.get());
    minihost::MexEntry entry = minihost::loadPlugin("cobrint");
    for (auto _ : state) {
        state.PauseTiming();
        fresh.restore();
        std::fill(histogramData, histogramData + binCount, 0.0);
        state.ResumeTiming();
        if (variant == Variant::plain) {
            plain::cobrint(imageCount, orientCount, table.data(), borderWidth, side, side, binWidth, binCount,
                           histogramData, saturationLevel);
        } else {
            minihost::CallResult result = minihost::callPlugin(
                entry, {images.get(), orients.get(), fresh.grid.cells.get(), border.get(), size.get(), size.get(),
                        width.get(), bins.get(), histogram.get(), level.get()});
            if (result.failed) state.SkipWithError(result.errorMessage.c_str());
        }
    }
    reportValues(state);
}

}  // namespace

BENCHMARK_CAPTURE(fennockGrid, plain, Variant::plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fennockGrid, ours, Variant::ours)
    ->Unit(benchmark::kMillisecond)->Apply(onOneAndTwoThreads);
BENCHMARK_CAPTURE(somvertImages, plain, Variant::plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(somvertImages, ours, Variant::ours)
    ->Unit(benchmark::kMillisecond)->Apply(onOneAndTwoThreads);
BENCHMARK_CAPTURE(brelindGrid, plain, Variant::plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(brelindGrid, ours, Variant::ours)
    ->Unit(benchmark::kMillisecond)->Apply(onOneAndTwoThreads);
BENCHMARK_CAPTURE(cobrintGrid, plain, Variant::plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(cobrintGrid, ours, Variant::ours)
    ->Unit(benchmark::kMillisecond)->Apply(onOneAndTwoThreads);
