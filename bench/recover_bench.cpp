// tarrow and tarrowveto on a realistic detection: 8 images x 16 orientations of 256 x 256
// responses pooled by vindral (posShiftMax 3, orientShiftMax 1, poolStep 2), stamps of half
// width 8, and a 40-element template placed once in every image. Items are elements drawn.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "grids.h"
#include "minihost.h"
#include "thread_variants.h"

namespace {

const int imageCount = 8, orientCount = 16, posShiftMax = 3, orientShiftMax = 1, poolStep = 2, filterHalf = 8;
const int side = 256, pooledSide = side / poolStep, elementCount = 40;

// Every argument of both plug-ins, with the response, pooled and trace maps as vindral left them.
struct Detection {
    testsupport::MapGrid responses, pooled, traces, sketches, stamps, overlap, normalizers;
    minihost::Array count, sizes, orients, positionRange, orientRange, step, half, elements, elementOrients,
        rowOffsets, colOffsets, weights, biases, anchorRows, anchorCols, level, templateSide, scores;

    Detection() {
        const std::vector<int> sides(imageCount, side), pooledSides(imageCount, pooledSide);
        const int stampSide = 2 * filterHalf + 1;
        std::mt19937 engine(1);
        std::normal_distribution<float> response(0.0f, 3.0f);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        responses = testsupport::makeGrid(imageCount, orientCount, sides, sides, mxSINGLE_CLASS);
        testsupport::fillEach(responses, [&] { return response(engine); });
        pooled = testsupport::makeGrid(imageCount, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
        traces = testsupport::makeGrid(imageCount, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
        sketches = testsupport::makeGrid(imageCount, 1, sides, sides, mxSINGLE_CLASS);
        normalizers = testsupport::makeGrid(imageCount, 1, sides, sides, mxSINGLE_CLASS);
        testsupport::fillEach(normalizers, [] { return 1.0; });
        stamps = testsupport::makeGrid(1, orientCount, {stampSide}, {stampSide}, mxDOUBLE_CLASS);
        testsupport::fillEach(stamps, [&] { return unit(engine); });
        // Neighbouring orientations wipe out the responses right next to an element and halve
        // the rest of the reach; other orientations are left alone.
        overlap = testsupport::neighbourOverlapTable(orientCount, filterHalf, 1);
        std::vector<double> o, dr, dc, w, b;
        std::uniform_int_distribution<int> orient(0, orientCount - 1), offset(0, 40);
        for (int k = 0; k < elementCount; ++k) {
            o.push_back(orient(engine));
            dr.push_back(offset(engine));
            dc.push_back(offset(engine));
            w.push_back(unit(engine));
            b.push_back(0.1);
        }
        count = minihost::scalar(imageCount);
        sizes = minihost::doubles(1, imageCount, std::vector<double>(imageCount, side));
        orients = minihost::scalar(orientCount);
        positionRange = minihost::scalar(posShiftMax);
        orientRange = minihost::scalar(orientShiftMax);
        step = minihost::scalar(poolStep);
        half = minihost::scalar(filterHalf);
        elements = minihost::scalar(elementCount);
        elementOrients = minihost::doubles(1, elementCount, o);
        rowOffsets = minihost::doubles(1, elementCount, dr);
        colOffsets = minihost::doubles(1, elementCount, dc);
        weights = minihost::doubles(1, elementCount, w);
        biases = minihost::doubles(1, elementCount, b);
        anchorRows = minihost::doubles(1, imageCount, std::vector<double>(imageCount, 30));
        anchorCols = minihost::doubles(1, imageCount, std::vector<double>(imageCount, 40));
        level = minihost::scalar(6);
        templateSide = minihost::scalar(80);
        scores = minihost::singles(1, imageCount);
        minihost::callPlugin(minihost::loadPlugin("vindral"),
                             {count.get(), sizes.get(), sizes.get(), orients.get(), positionRange.get(),
                              orientRange.get(), step.get(), responses.cells.get(), pooled.cells.get(),
                              traces.cells.get()});
    }

    std::vector<const mxArray*> tarrowArgs() const {
        return {count.get(), sizes.get(), sizes.get(), orients.get(), positionRange.get(), orientRange.get(),
                step.get(), half.get(), stamps.cells.get(), elements.get(), elementOrients.get(), rowOffsets.get(),
                colOffsets.get(), pooled.cells.get(), traces.cells.get(), sketches.cells.get(), anchorRows.get(),
                anchorCols.get(), level.get()};
    }

    std::vector<const mxArray*> vetoArgs() const {
        return {count.get(), sizes.get(), sizes.get(), orients.get(), positionRange.get(), orientRange.get(),
                step.get(), half.get(), stamps.cells.get(), elements.get(), elementOrients.get(), rowOffsets.get(),
                colOffsets.get(), weights.get(), biases.get(), responses.cells.get(), pooled.cells.get(),
                traces.cells.get(), sketches.cells.get(), anchorRows.get(), anchorCols.get(), level.get(),
                templateSide.get(), templateSide.get(), overlap.cells.get(), scores.get(), normalizers.cells.get()};
    }
};

void reportElements(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * imageCount * elementCount);
    state.SetLabel("items = template elements drawn");
}

void recoverTemplate(benchmark::State& state) {
    testsupport::ThreadCountScope threads(static_cast<int>(state.range(0)));
    Detection detection;
    minihost::MexEntry tarrow = minihost::loadPlugin("tarrow");
    std::vector<const mxArray*> args = detection.tarrowArgs();
    for (auto _ : state) {
        minihost::CallResult result = minihost::callPlugin(tarrow, args);
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
    }
    reportElements(state);
}

// Each call inhibits the maps in place, so they are restored, untimed, before the next.
void recoverTemplateInhibited(benchmark::State& state) {
    Detection detection;
    auto responses = testsupport::snapshot<float>(detection.responses);
    auto pooled = testsupport::snapshot<float>(detection.pooled);
    auto traces = testsupport::snapshot<float>(detection.traces);
    minihost::MexEntry tarrowveto = minihost::loadPlugin("tarrowveto");
    std::vector<const mxArray*> args = detection.vetoArgs();
    for (auto _ : state) {
        minihost::CallResult result = minihost::callPlugin(tarrowveto, args);
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
        state.PauseTiming();
        testsupport::restore(detection.responses, responses);
        testsupport::restore(detection.pooled, pooled);
        testsupport::restore(detection.traces, traces);
        state.ResumeTiming();
    }
    reportElements(state);
}

}  // namespace

BENCHMARK(recoverTemplate)->Unit(benchmark::kMicrosecond)->MinTime(0.2)->Apply(onOneAndTwoThreads);
BENCHMARK(recoverTemplateInhibited)->Unit(benchmark::kMicrosecond)->MinTime(0.2);
