// quillon on a realistic learning set: 40 elements from 20 images of 128 x 128 responses at 16
// orientations (posShiftMax 3, orientShiftMax 1, poolStep 2, filterHalf 8), against its plain
// loop; and the local repair that inhibition does for one element of one image,
// against pooling that whole image again with vindral.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "grids.h"
#include "inhibit.h"
#include "minihost.h"
#include "plain_detection_loops.h"
#include "shifts.h"

using testsupport::cellTable;

namespace {

const int orientCount = 16, posShiftMax = 3, orientShiftMax = 1, poolStep = 2, filterHalf = 8, side = 128;
const int pooledSide = side / poolStep;

// Responses, their pooled and trace maps from vindral, overlap factors that wipe out the
// element's neighbourhood in its own and the two nearest orientations, and random stamps.
struct LearningSet {
    int imageCount;
    testsupport::MapGrid responses, pooled, traces, overlap, stamps;
    std::vector<std::vector<float>> responsesAtStart, pooledAtStart, tracesAtStart;

    explicit LearningSet(int images) : imageCount(images) {
        std::vector<int> sides(images, side), pooledSides(images, pooledSide);
        responses = testsupport::makeGrid(images, orientCount, sides, sides, mxSINGLE_CLASS);
        pooled = testsupport::makeGrid(images, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
        traces = testsupport::makeGrid(images, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
        std::mt19937 engine(1);
        std::normal_distribution<float> response(0.0f, 3.0f);
        testsupport::fillEach(responses, [&] { return std::fabs(response(engine)); });
        minihost::Array count = minihost::scalar(images);
        minihost::Array sizes = minihost::doubles(1, images, std::vector<double>(images, side));
        minihost::Array orients = minihost::scalar(orientCount), positionRange = minihost::scalar(posShiftMax);
        minihost::Array orientRange = minihost::scalar(orientShiftMax), step = minihost::scalar(poolStep);
        minihost::callPlugin(minihost::loadPlugin("vindral"),
                             {count.get(), sizes.get(), sizes.get(), orients.get(), positionRange.get(),
                              orientRange.get(), step.get(), responses.cells.get(), pooled.cells.get(),
                              traces.cells.get()});
        int overlapSide = 4 * filterHalf + 1, stampSide = 2 * filterHalf + 1;
        overlap = testsupport::makeGrid(orientCount, orientCount, std::vector<int>(orientCount, overlapSide),
                                        std::vector<int>(orientCount, overlapSide), mxDOUBLE_CLASS);
        for (int a = 0; a < orientCount; ++a) {
            for (int b = 0; b < orientCount; ++b) {
                int apart = std::min((a - b + orientCount) % orientCount, (b - a + orientCount) % orientCount);
                std::fill_n(overlap.doubles(a, b), overlapSide * overlapSide, apart <= 1 ? 0.0 : 1.0);
            }
        }
        stamps = testsupport::makeGrid(1, orientCount, {stampSide}, {stampSide}, mxDOUBLE_CLASS);
        std::uniform_real_distribution<double> stampValue(0.0, 1.0);
        testsupport::fillEach(stamps, [&] { return stampValue(engine); });
        responsesAtStart = testsupport::snapshot<float>(responses);
        pooledAtStart = testsupport::snapshot<float>(pooled);
        tracesAtStart = testsupport::snapshot<float>(traces);
    }

    // Puts the maps back as vindral left them, undoing every inhibition.
    void restore() const {
        testsupport::restore(responses, responsesAtStart);
        testsupport::restore(pooled, pooledAtStart);
        testsupport::restore(traces, tracesAtStart);
    }
};

enum class Variant { plain, ours };

// quillon learning 40 elements from 20 images, against its plain loop
// (plain_detection_loops.h) on the same maps; the maps are restored, untimed, before every
// iteration.
void learnTemplate(benchmark::State& state, Variant variant) {
    const int imageCount = 20, elementCount = 40;
    LearningSet set(imageCount);
    minihost::Array orients = minihost::scalar(orientCount), positionRange = minihost::scalar(posShiftMax);
    minihost::Array orientRange = minihost::scalar(orientShiftMax), unused = minihost::scalar(0);
    minihost::Array step = minihost::scalar(poolStep), count = minihost::scalar(elementCount);
    minihost::Array images = minihost::scalar(imageCount), rows = minihost::scalar(side), cols = minihost::scalar(side);
    minihost::Array half = minihost::scalar(filterHalf), tableLength = minihost::scalar(3);
    minihost::Array weights = minihost::doubles(1, 3, {0, 1, 2}), keys = minihost::doubles(1, 3, {0, 4, 8});
    minihost::Array biases = minihost::doubles(1, 3, {0, 0.5, 1});
    std::vector<minihost::Array> outputs;
    for (int k = 0; k < 5; ++k) outputs.push_back(minihost::doubles(1, elementCount));
    minihost::Array scores = minihost::doubles(1, imageCount), common = minihost::singles(side, side);
    testsupport::MapGrid sketches =
        testsupport::makeGrid(imageCount, 1, std::vector<int>(imageCount, side), std::vector<int>(imageCount, side),
                              mxSINGLE_CLASS);
    std::vector<float*> responses = cellTable<float>(set.responses), pooled = cellTable<float>(set.pooled),
                        traces = cellTable<float>(set.traces), sketchTable = cellTable<float>(sketches);
    std::vector<const double*> overlap = cellTable<const double>(set.overlap),
                               stamps = cellTable<const double>(set.stamps);
    plaindetect::LearnCall call{orientCount,
                                posShiftMax,
                                orientShiftMax,
                                poolStep,
                                elementCount,
                                imageCount,
                                side,
                                side,
                                responses.data(),
                                pooled.data(),
                                traces.data(),
                                filterHalf,
                                overlap.data(),
                                stamps.data(),
                                3,
                                minihost::doubleData(weights.get()),
                                minihost::doubleData(keys.get()),
                                minihost::doubleData(biases.get()),
                                minihost::doubleData(outputs[0].get()),
                                minihost::doubleData(outputs[1].get()),
                                minihost::doubleData(outputs[2].get()),
                                minihost::doubleData(outputs[3].get()),
                                minihost::doubleData(outputs[4].get()),
                                minihost::doubleData(scores.get()),
                                minihost::singleData(common.get()),
                                sketchTable.data()};
    minihost::MexEntry quillon = minihost::loadPlugin("quillon");
    for (auto _ : state) {
        state.PauseTiming();
        set.restore();
        state.ResumeTiming();
        if (variant == Variant::plain) {
            std::string printed = plaindetect::quillon(call);
            benchmark::DoNotOptimize(printed);
        } else {
            minihost::CallResult result = minihost::callPlugin(
                quillon, {orients.get(), positionRange.get(), orientRange.get(), unused.get(), step.get(),
                          count.get(), images.get(), rows.get(), cols.get(), set.responses.cells.get(),
                          set.pooled.cells.get(), set.traces.cells.get(), half.get(), set.overlap.cells.get(),
                          set.stamps.cells.get(), tableLength.get(), weights.get(), keys.get(), biases.get(),
                          outputs[0].get(), outputs[1].get(), outputs[2].get(), outputs[3].get(),
                          outputs[4].get(), scores.get(), common.get(), sketches.cells.get()});
            if (result.failed) state.SkipWithError(result.errorMessage.c_str());
        }
    }
    state.SetItemsProcessed(state.iterations() * elementCount);
    state.SetLabel("items = elements, 20 images");
}

// One element's inhibition of one image, at positions spread over the window; the maps are
// restored (untimed) each time the positions start over.
void inhibitOneImage(benchmark::State& state) {
    LearningSet set(1);
    std::vector<float*> responses, pooled, traces;
    std::vector<const double*> overlap;
    for (int o = 0; o < orientCount; ++o) {
        responses.push_back(set.responses.singles(0, o));
        pooled.push_back(set.pooled.singles(0, o));
        traces.push_back(set.traces.singles(0, o));
    }
    for (int c = 0; c < orientCount * orientCount; ++c) {
        overlap.push_back(minihost::doubleData(mxGetCell(set.overlap.cells.get(), c)));
    }
    ShiftTable shifts = buildShiftTables(orientCount, posShiftMax, orientShiftMax, poolStep);
    PoolWindow window = computePoolWindow(filterHalf, posShiftMax, poolStep, side, side);
    InhibitGrids grids{responses.data(), pooled.data(), traces.data(), overlap.data(), 1, orientCount,
                       filterHalf, posShiftMax, poolStep};
    ImageExtent extent{side, side, pooledSide, pooledSide, window};
    std::vector<std::vector<float>> sums(orientCount, std::vector<float>(pooledSide * pooledSide));
    std::vector<float*> summedMaps;
    for (auto& row : sums) summedMaps.push_back(row.data());
    InhibitWork work = prepareInhibition(shifts, grids, InhibitedSizes{&side, &side, 0});
    const int spread = 6;
    int n = 0;
    for (auto _ : state) {
        if (n == spread * spread) {
            state.PauseTiming();
            set.restore();
            releaseInhibition(work);  // work learns what the maps hold: start anew with them
            work = prepareInhibition(shifts, grids, InhibitedSizes{&side, &side, 0});
            n = 0;
            state.ResumeTiming();
        }
        int px = window.rowLo + (n % spread) * (window.rowHi - window.rowLo) / (spread - 1);
        int py = window.colLo + (n / spread) * (window.colHi - window.colLo) / (spread - 1);
        inhibitAround(shifts, grids, extent, 0, n % orientCount, px * poolStep, py * poolStep, summedMaps.data(),
                      work);
        ++n;
    }
    releaseInhibition(work);
    freeShiftTables(shifts, orientCount);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("items = inhibitions of one image");
}

// What inhibition saves: pooling the whole image again.
void repoolOneImage(benchmark::State& state) {
    LearningSet set(1);
    minihost::Array count = minihost::scalar(1), sizes = minihost::doubles(1, 1, {double(side)});
    minihost::Array orients = minihost::scalar(orientCount), positionRange = minihost::scalar(posShiftMax);
    minihost::Array orientRange = minihost::scalar(orientShiftMax), step = minihost::scalar(poolStep);
    minihost::MexEntry vindral = minihost::loadPlugin("vindral");
    for (auto _ : state) {
        minihost::CallResult result = minihost::callPlugin(
            vindral, {count.get(), sizes.get(), sizes.get(), orients.get(), positionRange.get(), orientRange.get(),
                      step.get(), set.responses.cells.get(), set.pooled.cells.get(), set.traces.cells.get()});
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("items = full poolings of one image");
}

}  // namespace

BENCHMARK_CAPTURE(learnTemplate, plain, Variant::plain)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK_CAPTURE(learnTemplate, ours, Variant::ours)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(inhibitOneImage)->Unit(benchmark::kMicrosecond);
BENCHMARK(repoolOneImage)->Unit(benchmark::kMicrosecond);
