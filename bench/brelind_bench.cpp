// brelind on 4 images x 16 orientations of 256 x 256 single values, an 11 x 11 window.
#include <benchmark/benchmark.h>

#include <random>

#include "grids.h"
#include "minihost.h"

namespace {

void meanMapsOfGrid(benchmark::State& state) {
    const int imageCount = 4, orientCount = 16, halfWindow = 5, side = static_cast<int>(state.range(0));
    const std::vector<int> sides(imageCount, side);
    testsupport::MapGrid responses = testsupport::makeGrid(imageCount, orientCount, sides, sides, mxSINGLE_CLASS);
    testsupport::MapGrid means = testsupport::makeGrid(imageCount, 1, sides, sides, mxSINGLE_CLASS);
    std::mt19937 engine(1);
    std::gamma_distribution<float> response(2.0f, 1.0f);
    testsupport::fillEach(responses, [&] { return response(engine); });
    minihost::Array count = minihost::scalar(imageCount);
    minihost::Array sizes = minihost::doubles(1, imageCount, std::vector<double>(imageCount, side));
    minihost::Array orients = minihost::scalar(orientCount), margin = minihost::scalar(1);
    minihost::Array half = minihost::scalar(halfWindow), meanSwitch = minihost::scalar(0);
    minihost::Array relativeFloor = minihost::scalar(0.2);
    minihost::MexEntry brelind = minihost::loadPlugin("brelind");
    for (auto _ : state) {
        minihost::CallResult result = minihost::callPlugin(
            brelind, {count.get(), sizes.get(), sizes.get(), orients.get(), margin.get(), responses.cells.get(),
                      means.cells.get(), half.get(), half.get(), meanSwitch.get(), relativeFloor.get()});
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
    }
    state.SetItemsProcessed(state.iterations() * imageCount * orientCount * side * side);
    state.SetLabel("items = response values averaged");
}

}  // namespace

BENCHMARK(meanMapsOfGrid)->Arg(256)->Unit(benchmark::kMillisecond);
