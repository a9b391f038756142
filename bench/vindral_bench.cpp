// vindral on a realistic grid: 8 images x 16 orientations of 256 x 256 responses, posShiftMax 3,
// orientShiftMax 1, poolStep 2 (21 shift slots per pooled value).
#include <benchmark/benchmark.h>

#include <random>

#include "grids.h"
#include "minihost.h"
#include "thread_variants.h"

namespace {

void poolGrid(benchmark::State& state) {
    const int imageCount = 8, orientCount = 16, posShiftMax = 3, orientShiftMax = 1, poolStep = 2;
    const int side = static_cast<int>(state.range(0));
    testsupport::ThreadCountScope threads(static_cast<int>(state.range(1)));
    const int pooledSide = side / poolStep;
    const int shiftCount = (2 * posShiftMax + 1) * (2 * orientShiftMax + 1);
    const std::vector<int> sides(imageCount, side), pooledSides(imageCount, pooledSide);
    testsupport::MapGrid responses = testsupport::makeGrid(imageCount, orientCount, sides, sides, mxSINGLE_CLASS);
    testsupport::MapGrid pooled = testsupport::makeGrid(imageCount, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
    testsupport::MapGrid traces = testsupport::makeGrid(imageCount, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
    std::mt19937 engine(1);
    std::normal_distribution<float> response(0.0f, 3.0f);
    testsupport::fillEach(responses, [&] { return response(engine); });
    minihost::Array count = minihost::scalar(imageCount);
    minihost::Array sizes = minihost::doubles(1, imageCount, std::vector<double>(imageCount, side));
    minihost::Array orients = minihost::scalar(orientCount);
    minihost::Array positionRange = minihost::scalar(posShiftMax);
    minihost::Array orientRange = minihost::scalar(orientShiftMax);
    minihost::Array step = minihost::scalar(poolStep);
    minihost::MexEntry vindral = minihost::loadPlugin("vindral");
    for (auto _ : state) {
        minihost::CallResult result = minihost::callPlugin(
            vindral, {count.get(), sizes.get(), sizes.get(), orients.get(), positionRange.get(), orientRange.get(),
                      step.get(), responses.cells.get(), pooled.cells.get(), traces.cells.get()});
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
    }
    const double pooledValues = double(imageCount) * orientCount * pooledSide * pooledSide;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pooledValues));
    // Each pooled value stands for shiftCount bound tests and lookups of the node-by-node search.
    state.counters["lookups"] =
        benchmark::Counter(state.iterations() * pooledValues * shiftCount, benchmark::Counter::kIsRate);
    state.SetLabel("items = pooled values");
}

}  // namespace

BENCHMARK(poolGrid)->Apply([](benchmark::internal::Benchmark* b) { sideOnOneAndTwoThreads(b, 256); })
    ->Unit(benchmark::kMillisecond);
