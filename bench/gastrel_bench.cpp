// gastrel and lurvane in detection: a 40-element template of 100 x 100 pixels scored over
// 8 images of 256 x 256 pixels pooled at step 2 (128 x 128 nodes, 16 orientations), then the
// best placement of every image found in the resulting score maps. The responses are filter
// magnitudes (gamma-distributed, as in the normalization benchmarks), pooled by vindral; the
// normalizers are brelind's window means of the same responses, with the switch on
// (scoreTemplate) or off, all ones (scoreTemplateUnnormalized). gastrel is timed against its
// plain placement-by-placement loop (tests/support/plain_detection_loops.h) on the same inputs
// in the same run: the ratio of the two times is what a speed change is judged by. Each kind of
// workload is built once per run and shared by the benchmarks; scores accumulate from one
// iteration to the next, in both variants alike.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "grids.h"
#include "minihost.h"
#include "plain_detection_loops.h"
#include "thread_variants.h"

using testsupport::cellTable;

namespace {

const int imageCount = 8, orientCount = 16, side = 256, poolStep = 2, templateSide = 100, elementCount = 40;
const int posShiftMax = 3, orientShiftMax = 1, halfWindow = 5, edgeMargin = 5;
const double relativeFloor = 0.2, saturationLevel = 6.0;
const int pooledSide = side / poolStep;
const int scoreSide = (templateSide + side) / poolStep;
const int anchorSide = pooledSide + templateSide / poolStep;

enum class Variant { plain, ours };

// The arguments of one gastrel call, and of the lurvane call on its score maps.
struct Detection {
    minihost::Array count, sizes, orients, step, templateSize, elements;
    minihost::Array elementOrients, rowOffsets, colOffsets, weights, biases, level;
    testsupport::MapGrid responses, pooled, traces, scores, normalizers;
    minihost::Array bestScores, anchorRows, anchorCols;
    std::vector<double> sizeValues, o, r, c, w, b;

    explicit Detection(bool normalized) {
        std::mt19937 engine(1);
        std::gamma_distribution<double> magnitude(2.0, 1.0);
        std::uniform_int_distribution<int> orient(0, orientCount - 1), offset(0, templateSide / poolStep - 1);
        std::uniform_real_distribution<double> weight(0.5, 2.0), bias(0.0, 0.5);
        sizeValues.assign(imageCount, side);
        count = minihost::scalar(imageCount);
        sizes = minihost::doubles(1, imageCount, sizeValues);
        orients = minihost::scalar(orientCount);
        step = minihost::scalar(poolStep);
        templateSize = minihost::scalar(templateSide);
        elements = minihost::scalar(elementCount);
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
        level = minihost::scalar(saturationLevel);
        const std::vector<int> sides(imageCount, side), pooledSides(imageCount, pooledSide),
            scoreSides(imageCount, scoreSide);
        responses = testsupport::makeGrid(imageCount, orientCount, sides, sides, mxSINGLE_CLASS);
        pooled = testsupport::makeGrid(imageCount, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
        traces = testsupport::makeGrid(imageCount, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
        scores = testsupport::makeGrid(imageCount, 1, scoreSides, scoreSides, mxSINGLE_CLASS);
        normalizers = testsupport::makeGrid(imageCount, 1, sides, sides, mxSINGLE_CLASS);
        testsupport::fillEach(responses, [&] { return magnitude(engine); });
        minihost::Array positionRange = minihost::scalar(posShiftMax), orientRange = minihost::scalar(orientShiftMax);
        minihost::CallResult pooling = minihost::callPlugin(
            minihost::loadPlugin("vindral"), {count.get(), sizes.get(), sizes.get(), orients.get(), positionRange.get(),
                                              orientRange.get(), step.get(), responses.cells.get(), pooled.cells.get(),
                                              traces.cells.get()});
        minihost::Array margin = minihost::scalar(edgeMargin), half = minihost::scalar(halfWindow);
        minihost::Array meanSwitch = minihost::scalar(normalized ? 0 : -1), floorArg = minihost::scalar(relativeFloor);
        minihost::CallResult means = minihost::callPlugin(
            minihost::loadPlugin("brelind"), {count.get(), sizes.get(), sizes.get(), orients.get(), margin.get(),
                                              responses.cells.get(), normalizers.cells.get(), half.get(), half.get(),
                                              meanSwitch.get(), floorArg.get()});
        failed = pooling.failed || means.failed;
        bestScores = minihost::singles(1, imageCount);
        anchorRows = minihost::doubles(1, imageCount);
        anchorCols = minihost::doubles(1, imageCount);
    }
    bool failed = false;
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

// The workload with normalizers (switch on) or without (all ones), built on first use.
Detection& detectionFor(bool normalized) {
    if (normalized) {
        static Detection withMeans(true);
        return withMeans;
    }
    static Detection withOnes(false);
    return withOnes;
}

void scoreWith(benchmark::State& state, Variant variant, bool normalized) {
    testsupport::ThreadCountScope threads(variant == Variant::ours ? static_cast<int>(state.range(0)) : 1);
    const Detection& detection = detectionFor(normalized);
    if (detection.failed) state.SkipWithError("vindral or brelind failed");
    std::vector<const float*> pooled = cellTable<const float>(detection.pooled);
    std::vector<float*> scores = cellTable<float>(detection.scores);
    std::vector<const float*> normalizers = cellTable<const float>(detection.normalizers);
    const Detection& d = detection;
    plaindetect::ScoreCall call{imageCount,     d.sizeValues.data(), d.sizeValues.data(), orientCount, poolStep,
                                templateSide,   templateSide,        elementCount,        d.o.data(),  d.r.data(),
                                d.c.data(),     d.w.data(),          d.b.data(),          pooled.data(), scores.data(),
                                normalizers.data(), saturationLevel};
    minihost::MexEntry gastrel = minihost::loadPlugin("gastrel");
    for (auto _ : state) {
        if (variant == Variant::plain) {
            plaindetect::gastrel(call);
        } else {
            minihost::CallResult result = minihost::callPlugin(gastrel, detection.scoreArgs());
            if (result.failed) state.SkipWithError(result.errorMessage.c_str());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * placements));
    // Each placement evaluates every element: one division, one saturation (one exp) and one
    // sum where the element lies inside the pooled map, the bias alone elsewhere.
    state.counters["evaluations"] =
        benchmark::Counter(state.iterations() * placements * elementCount, benchmark::Counter::kIsRate);
    state.SetLabel("items = placements");
}

void scoreTemplate(benchmark::State& state, Variant variant) { scoreWith(state, variant, true); }
void scoreTemplateUnnormalized(benchmark::State& state, Variant variant) { scoreWith(state, variant, false); }

void findBest(benchmark::State& state) {
    testsupport::ThreadCountScope threads(static_cast<int>(state.range(0)));
    const Detection& detection = detectionFor(true);
    minihost::MexEntry lurvane = minihost::loadPlugin("lurvane");
    minihost::CallResult scored = minihost::callPlugin(minihost::loadPlugin("gastrel"), detection.scoreArgs());
    if (detection.failed || scored.failed) state.SkipWithError("vindral, brelind or gastrel failed");
    for (auto _ : state) {
        minihost::CallResult result = minihost::callPlugin(lurvane, detection.bestArgs());
        if (result.failed) state.SkipWithError(result.errorMessage.c_str());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * placements));
    state.SetLabel("items = placements searched");
}

}  // namespace

// Repeated, so that one run reports the median time of each variant.
BENCHMARK_CAPTURE(scoreTemplate, plain, Variant::plain)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3);
BENCHMARK_CAPTURE(scoreTemplate, ours, Variant::ours)
    ->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3)->Apply(onOneAndTwoThreads);
BENCHMARK_CAPTURE(scoreTemplateUnnormalized, plain, Variant::plain)
    ->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3);
BENCHMARK_CAPTURE(scoreTemplateUnnormalized, ours, Variant::ours)
    ->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3)->Apply(onOneAndTwoThreads);
BENCHMARK(findBest)->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Apply(onOneAndTwoThreads);
