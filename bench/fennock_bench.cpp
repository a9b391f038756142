// fennock on a realistic grid: 8 images x 16 orientations of 256 x 256 single values.
#include <benchmark/benchmark.h>

#include <random>

#include "grids.h"
#include "minihost.h"

namespace {

void saturateGrid(benchmark::State& state) {
    const int imageCount = 8, orientCount = 16, side = static_cast<int>(state.range(0));
    testsupport::MapGrid grid = testsupport::makeGrid(imageCount, orientCount, std::vector<int>(imageCount, side),
                                                      std::vector<int>(imageCount, side), mxSINGLE_CLASS);
    std::mt19937 engine(1);
    std::normal_distribution<float> response(0.0f, 3.0f);
    testsupport::fillEach(grid, [&] { return response(engine); });
    minihost::Array count = minihost::scalar(imageCount);
    minihost::Array sizes = minihost::doubles(1, imageCount, std::vector<double>(imageCount, side));
    minihost::Array orients = minihost::scalar(orientCount);
    // A level far above the responses keeps them from settling at +-level over the iterations.
    minihost::Array level = minihost::scalar(1e4);
    minihost::MexEntry fennock = minihost::loadPlugin("fennock");
    for (auto _ : state) {
        minihost::CallResult result =
            minihost::callPlugin(fennock, {count.get(), sizes.get(), sizes.get(), orients.get(), level.get(), grid.cells.get()});
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
    }
    state.SetItemsProcessed(state.iterations() * imageCount * orientCount * side * side);
    state.SetLabel("items = saturated values");
}

}  // namespace

BENCHMARK(saturateGrid)->Arg(256)->Unit(benchmark::kMillisecond);
