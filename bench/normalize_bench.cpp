// somvertwide on one image: 16 orientations of 256 x 256, an 11 x 11 window (somvert is timed
// against its plain loop in plain_vs_ours_bench.cpp).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "grids.h"
#include "minihost.h"
#include "thread_variants.h"

namespace {

const int orientCount = 16;
const int halfWindow = 5;

template <typename T>
void normalizeImage(benchmark::State& state, const char* plugin, mxClassID classId) {
    const int side = static_cast<int>(state.range(0));
    testsupport::ThreadCountScope threads(static_cast<int>(state.range(1)));
    testsupport::MapGrid maps = testsupport::makeGrid(1, orientCount, {side}, {side}, classId);
    std::mt19937 engine(1);
    std::gamma_distribution<float> response(2.0f, 1.0f);
    std::vector<std::vector<T>> responses(orientCount, std::vector<T>(side * side));
    for (std::vector<T>& map : responses) {
        for (T& value : map) value = response(engine);
    }
    minihost::Array size = minihost::scalar(side), orients = minihost::scalar(orientCount);
    minihost::Array margin = minihost::scalar(1), half = minihost::scalar(halfWindow);
    minihost::Array relativeFloor = minihost::scalar(0.2);
    minihost::MexEntry entry = minihost::loadPlugin(plugin);
    for (auto _ : state) {
        // Fresh responses each time: normalizing the same maps over and over drifts them
        // towards zeros and subnormal values, which no real image has.
        state.PauseTiming();
        for (int o = 0; o < orientCount; ++o) {
            std::copy(responses[o].begin(), responses[o].end(), static_cast<T*>(mxGetData(maps.map(0, o))));
        }
        state.ResumeTiming();
        minihost::CallResult result = minihost::callPlugin(
            entry, {size.get(), size.get(), orients.get(), margin.get(), half.get(), half.get(), maps.cells.get(),
                    relativeFloor.get()});
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
    }
    state.SetItemsProcessed(state.iterations() * orientCount * side * side);
    state.SetLabel("items = normalized values");
}

void somvertwideImage(benchmark::State& state) { normalizeImage<double>(state, "somvertwide", mxDOUBLE_CLASS); }

}  // namespace

BENCHMARK(somvertwideImage)->Apply([](benchmark::internal::Benchmark* b) { sideOnOneAndTwoThreads(b, 256); })
    ->Unit(benchmark::kMillisecond);
