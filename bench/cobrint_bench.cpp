// cobrint on 8 images x 16 orientations of 128 x 128 double values, 64 bins.
#include <benchmark/benchmark.h>

#include <random>

#include "grids.h"
#include "minihost.h"

namespace {

void densityOfGrid(benchmark::State& state) {
    const int imageCount = 8, orientCount = 16, binCount = 64, side = static_cast<int>(state.range(0));
    testsupport::MapGrid maps = testsupport::makeGrid(imageCount, orientCount, std::vector<int>(imageCount, side),
                                                      std::vector<int>(imageCount, side), mxDOUBLE_CLASS);
    std::mt19937 engine(1);
    std::normal_distribution<double> response(0.0, 3.0);
    testsupport::fillEach(maps, [&] { return response(engine); });
    minihost::Array images = minihost::scalar(imageCount), orients = minihost::scalar(orientCount);
    minihost::Array border = minihost::scalar(4), size = minihost::scalar(side);
    minihost::Array binWidth = minihost::scalar(0.1), bins = minihost::scalar(binCount);
    minihost::Array histogram = minihost::doubles(1, binCount);
    // A level far above the responses keeps them from settling at +-level over the iterations.
    minihost::Array level = minihost::scalar(1e4);
    minihost::MexEntry cobrint = minihost::loadPlugin("cobrint");
    for (auto _ : state) {
        minihost::CallResult result = minihost::callPlugin(
            cobrint, {images.get(), orients.get(), maps.cells.get(), border.get(), size.get(), size.get(),
                      binWidth.get(), bins.get(), histogram.get(), level.get()});
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
    }
    state.SetItemsProcessed(state.iterations() * imageCount * orientCount * side * side);
    state.SetLabel("items = saturated values");
}

}  // namespace

BENCHMARK(densityOfGrid)->Arg(128)->Unit(benchmark::kMillisecond);
