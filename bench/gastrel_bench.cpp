// gastrel and lurvane in detection: a 40-element template of 100 x 100 pixels scored over
// 8 images of 256 x 256 pixels pooled at step 2 (128 x 128 nodes, 16 orientations), then the
// best placement of every image found in the resulting score maps.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "grids.h"
#include "minihost.h"

namespace {

const int imageCount = 8, orientCount = 16, side = 256, poolStep = 2, templateSide = 100, elementCount = 40;
const int pooledSide = side / poolStep;
const int scoreSide = (templateSide + side) / poolStep;
const int anchorSide = pooledSide + templateSide / poolStep;

// The arguments of one gastrel call, and of the lurvane call on its score maps.
struct Detection {
    minihost::Array count, sizes, orients, step, templateSize, elements;
    minihost::Array elementOrients, rowOffsets, colOffsets, weights, biases, level;
    testsupport::MapGrid pooled, scores, normalizers;
    minihost::Array bestScores, anchorRows, anchorCols;

    Detection() {
        std::mt19937 engine(1);
        std::normal_distribution<float> response(0.0f, 3.0f);
        std::uniform_int_distribution<int> orient(0, orientCount - 1), offset(0, templateSide / poolStep - 1);
        std::uniform_real_distribution<double> weight(0.5, 2.0), bias(0.0, 0.5), mean(0.5, 4.0);
        count = minihost::scalar(imageCount);
        sizes = minihost::doubles(1, imageCount, std::vector<double>(imageCount, side));
        orients = minihost::scalar(orientCount);
        step = minihost::scalar(poolStep);
        templateSize = minihost::scalar(templateSide);
        elements = minihost::scalar(elementCount);
        std::vector<double> o, r, c, w, b;
        for (int k = 0; k < elementCount; ++k) {
            o.push_back(orient(engine));
            r.push_back(offset(engine));
            c.push_back(offset(engine));
            w.push_back(weight(engine));
            b.push_back(bias(engine));
        }
        elementOrients = minihost::doubles(1, elementCount, o);
        rowOffsets = minihost::doubles(1, elementCount, r);
        colOffsets = minihost::doubles(1, elementCount, c);
        weights = minihost::doubles(1, elementCount, w);
        biases = minihost::doubles(1, elementCount, b);
        level = minihost::scalar(6.0);
        const std::vector<int> sides(imageCount, side), pooledSides(imageCount, pooledSide),
            scoreSides(imageCount, scoreSide);
        pooled = testsupport::makeGrid(imageCount, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
        scores = testsupport::makeGrid(imageCount, 1, scoreSides, scoreSides, mxSINGLE_CLASS);
        normalizers = testsupport::makeGrid(imageCount, 1, sides, sides, mxSINGLE_CLASS);
        testsupport::fillEach(pooled, [&] { return response(engine); });
        testsupport::fillEach(normalizers, [&] { return mean(engine); });
        bestScores = minihost::singles(1, imageCount);
        anchorRows = minihost::doubles(1, imageCount);
        anchorCols = minihost::doubles(1, imageCount);
    }
    std::vector<const mxArray*> scoreArgs() const {
        return {count.get(),      sizes.get(),          sizes.get(),       orients.get(),      step.get(),
                templateSize.get(), templateSize.get(), elements.get(),    elementOrients.get(), rowOffsets.get(),
                colOffsets.get(), weights.get(),        biases.get(),      pooled.cells.get(), scores.cells.get(),
                normalizers.cells.get(), level.get()};
    }
    std::vector<const mxArray*> bestArgs() const {
        return {count.get(),        sizes.get(),        sizes.get(),         step.get(),         templateSize.get(),
                templateSize.get(), scores.cells.get(), bestScores.get(), anchorRows.get(), anchorCols.get()};
    }
};

const double placements = double(imageCount) * anchorSide * anchorSide;

void scoreTemplate(benchmark::State& state) {
    Detection detection;
    minihost::MexEntry gastrel = minihost::loadPlugin("gastrel");
    for (auto _ : state) {
        minihost::CallResult result = minihost::callPlugin(gastrel, detection.scoreArgs());
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * placements));
    // Each placement evaluates every element: one division, one saturation (one exp) and one sum.
    state.counters["evaluations"] =
        benchmark::Counter(state.iterations() * placements * elementCount, benchmark::Counter::kIsRate);
    state.SetLabel("items = placements");
}

void findBest(benchmark::State& state) {
    Detection detection;
    minihost::MexEntry lurvane = minihost::loadPlugin("lurvane");
    minihost::CallResult scored = minihost::callPlugin(minihost::loadPlugin("gastrel"), detection.scoreArgs());
    if (scored.failed) state.SkipWithError(scored.errorMessage.c_str());
    for (auto _ : state) {
        minihost::CallResult result = minihost::callPlugin(lurvane, detection.bestArgs());
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * placements));
    state.SetLabel("items = placements searched");
}

}  // namespace

BENCHMARK(scoreTemplate)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(findBest)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
