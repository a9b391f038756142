// Inhibition, tarrowveto and vindral against their plain statement-by-statement loops
// (tests/support/plain_detection_loops.h), on the same inputs in the same run: the ratio of
// the two times is what a speed change is judged by. Maps that a call changes are restored,
// untimed, before every iteration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "grids.h"
#include "inhibit.h"
#include "minihost.h"
#include "plain_detection_loops.h"
#include "thread_variants.h"
#include "shifts.h"

using testsupport::cellTable;

namespace {

const int orientCount = 16, posShiftMax = 3, orientShiftMax = 1, poolStep = 2, filterHalf = 8;
const int imageCount = 8, side = 256, pooledSide = side / poolStep, elementCount = 40;
const int stampSide = 2 * filterHalf + 1;

enum class Variant { plain, ours };

// Responses pooled by vindral, stamps, and overlap factors that wipe out the responses right
// next to an element in its own and the two nearest orientations and halve the rest of the
// reach there (wipeWholeReach: wipe the whole reach, as template learning does).
struct Scene {
    int images, rows;
    testsupport::MapGrid responses, pooled, traces, overlap, stamps;
    std::vector<std::vector<float>> responsesAtStart, pooledAtStart, tracesAtStart;

    Scene(int imageCount_, int side_, bool wipeWholeReach) : images(imageCount_), rows(side_) {
        std::vector<int> sides(images, rows), pooledSides(images, rows / poolStep);
        std::mt19937 engine(1);
        std::normal_distribution<float> response(0.0f, 3.0f);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        responses = testsupport::makeGrid(images, orientCount, sides, sides, mxSINGLE_CLASS);
        testsupport::fillEach(responses, [&] { return response(engine); });
        pooled = testsupport::makeGrid(images, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
        traces = testsupport::makeGrid(images, orientCount, pooledSides, pooledSides, mxSINGLE_CLASS);
        std::vector<double> sizes(images, rows);
        plaindetect::vindral(images, sizes.data(), sizes.data(), orientCount, posShiftMax, orientShiftMax, poolStep,
                             cellTable<float>(responses).data(), cellTable<float>(pooled).data(),
                             cellTable<float>(traces).data());
        overlap = testsupport::neighbourOverlapTable(orientCount, filterHalf, wipeWholeReach ? 2 * filterHalf : 1);
        stamps = testsupport::makeGrid(1, orientCount, {stampSide}, {stampSide}, mxDOUBLE_CLASS);
        testsupport::fillEach(stamps, [&] { return unit(engine); });
        responsesAtStart = testsupport::snapshot<float>(responses);
        pooledAtStart = testsupport::snapshot<float>(pooled);
        tracesAtStart = testsupport::snapshot<float>(traces);
    }

    void restore() const {
        testsupport::restore(responses, responsesAtStart);
        testsupport::restore(pooled, pooledAtStart);
        testsupport::restore(traces, tracesAtStart);
    }
};

// 36 inhibitions of one 128 x 128 image with running sums, at positions spread over the
// window, each orientation selected in turn: the work of template learning per element and
// image.
void inhibitImage(benchmark::State& state, Variant variant) {
    const int imageSide = 128, spread = 6;
    Scene scene(1, imageSide, true);
    std::vector<float*> responses = cellTable<float>(scene.responses), pooled = cellTable<float>(scene.pooled),
                        traces = cellTable<float>(scene.traces);
    std::vector<const double*> overlap = cellTable<const double>(scene.overlap);
    std::vector<std::vector<float>> sums(orientCount, std::vector<float>((imageSide / poolStep) * (imageSide / poolStep)));
    std::vector<float*> summed;
    for (auto& row : sums) summed.push_back(row.data());
    PoolWindow w = computePoolWindow(filterHalf, posShiftMax, poolStep, imageSide, imageSide);
    ShiftTable shifts = buildShiftTables(orientCount, posShiftMax, orientShiftMax, poolStep);
    plaindetect::Shifts plainShifts = plaindetect::buildShifts(orientCount, posShiftMax, orientShiftMax, poolStep);
    InhibitGrids grids{responses.data(), pooled.data(), traces.data(), overlap.data(), 1, orientCount, filterHalf,
                       posShiftMax, poolStep};
    ImageExtent extent{imageSide, imageSide, imageSide / poolStep, imageSide / poolStep, w};
    plaindetect::InhibitMaps maps{responses.data(), pooled.data(), traces.data(), overlap.data(), 1, orientCount,
                                  filterHalf, posShiftMax, poolStep, imageSide, imageSide, imageSide / poolStep,
                                  imageSide / poolStep, w.rowLo, w.rowHi, w.colLo, w.colHi};
    // Work learns what the maps hold, so each restoration of the maps starts new work.
    InhibitWork work = prepareInhibition(shifts, grids, InhibitedSizes{&imageSide, &imageSide, 0});
    for (auto _ : state) {
        state.PauseTiming();
        scene.restore();
        releaseInhibition(work);
        work = prepareInhibition(shifts, grids, InhibitedSizes{&imageSide, &imageSide, 0});
        state.ResumeTiming();
        for (int n = 0; n < spread * spread; ++n) {
            int x = (w.rowLo + (n % spread) * (w.rowHi - w.rowLo) / (spread - 1)) * poolStep;
            int y = (w.colLo + (n / spread) * (w.colHi - w.colLo) / (spread - 1)) * poolStep;
            if (variant == Variant::plain) {
                plaindetect::inhibitAround(plainShifts, maps, 0, n % orientCount, x, y, summed.data());
            } else {
                inhibitAround(shifts, grids, extent, 0, n % orientCount, x, y, summed.data(), work);
            }
        }
    }
    releaseInhibition(work);
    freeShiftTables(shifts, orientCount);
    state.SetItemsProcessed(state.iterations() * spread * spread);
    state.SetLabel("items = inhibitions of one image");
}

// tarrowveto with a 40-element template placed once in each of 8 images of 256 x 256.
void recoverInhibited(benchmark::State& state, Variant variant) {
    Scene scene(imageCount, side, false);
    std::mt19937 engine(2);
    std::uniform_int_distribution<int> orient(0, orientCount - 1), offset(0, 40);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> o, dr, dc, w, b;
    for (int k = 0; k < elementCount; ++k) {
        o.push_back(orient(engine));
        dr.push_back(offset(engine));
        dc.push_back(offset(engine));
        w.push_back(unit(engine));
        b.push_back(0.1);
    }
    std::vector<int> sides(imageCount, side);
    testsupport::MapGrid sketches = testsupport::makeGrid(imageCount, 1, sides, sides, mxSINGLE_CLASS);
    testsupport::MapGrid normalizers = testsupport::makeGrid(imageCount, 1, sides, sides, mxSINGLE_CLASS);
    testsupport::fillEach(normalizers, [] { return 1.0; });
    std::vector<double> sizes(imageCount, side), anchorRows(imageCount, 30), anchorCols(imageCount, 40);
    minihost::Array count = minihost::scalar(imageCount), sizeArg = minihost::doubles(1, imageCount, sizes);
    minihost::Array orients = minihost::scalar(orientCount), positionRange = minihost::scalar(posShiftMax);
    minihost::Array orientRange = minihost::scalar(orientShiftMax), step = minihost::scalar(poolStep);
    minihost::Array half = minihost::scalar(filterHalf), elements = minihost::scalar(elementCount);
    minihost::Array orientArg = minihost::doubles(1, elementCount, o), rowArg = minihost::doubles(1, elementCount, dr);
    minihost::Array colArg = minihost::doubles(1, elementCount, dc), weightArg = minihost::doubles(1, elementCount, w);
    minihost::Array biasArg = minihost::doubles(1, elementCount, b);
    minihost::Array anchorRowArg = minihost::doubles(1, imageCount, anchorRows);
    minihost::Array anchorColArg = minihost::doubles(1, imageCount, anchorCols);
    minihost::Array level = minihost::scalar(6), templateSide = minihost::scalar(80);
    minihost::Array scores = minihost::singles(1, imageCount);
    std::vector<const mxArray*> args = {
        count.get(),     sizeArg.get(),        sizeArg.get(),         orients.get(),        positionRange.get(),
        orientRange.get(), step.get(),         half.get(),            scene.stamps.cells.get(), elements.get(),
        orientArg.get(), rowArg.get(),         colArg.get(),          weightArg.get(),      biasArg.get(),
        scene.responses.cells.get(), scene.pooled.cells.get(), scene.traces.cells.get(), sketches.cells.get(),
        anchorRowArg.get(), anchorColArg.get(), level.get(),          templateSide.get(),   templateSide.get(),
        scene.overlap.cells.get(), scores.get(), normalizers.cells.get()};
    std::vector<float*> responses = cellTable<float>(scene.responses), pooled = cellTable<float>(scene.pooled),
                        traces = cellTable<float>(scene.traces), sketchTable = cellTable<float>(sketches);
    std::vector<const double*> stamps = cellTable<const double>(scene.stamps), overlap = cellTable<const double>(scene.overlap);
    std::vector<const float*> normalizerTable = cellTable<const float>(normalizers);
    plaindetect::VetoCall call{imageCount, sizes.data(), sizes.data(), orientCount, posShiftMax, orientShiftMax,
                               poolStep, filterHalf, stamps.data(), elementCount, o.data(), dr.data(), dc.data(),
                               w.data(), b.data(), responses.data(), pooled.data(), traces.data(), sketchTable.data(),
                               anchorRows.data(), anchorCols.data(), 6.0, 80, 80, overlap.data(),
                               minihost::singleData(scores.get()), normalizerTable.data()};
    minihost::MexEntry tarrowveto = minihost::loadPlugin("tarrowveto");
    for (auto _ : state) {
        state.PauseTiming();
        scene.restore();
        state.ResumeTiming();
        if (variant == Variant::plain) {
            plaindetect::tarrowveto(call);
        } else {
            minihost::CallResult result = minihost::callPlugin(tarrowveto, args);
            if (result.failed) state.SkipWithError(result.errorMessage.c_str());
        }
    }
    state.SetItemsProcessed(state.iterations() * imageCount * elementCount);
    state.SetLabel("items = template elements drawn");
}

// vindral on 8 images of 256 x 256 at 16 orientations.
void poolImages(benchmark::State& state, Variant variant) {
    testsupport::ThreadCountScope threads(variant == Variant::ours ? static_cast<int>(state.range(0)) : 1);
    Scene scene(imageCount, side, false);
    std::vector<double> sizes(imageCount, side);
    minihost::Array count = minihost::scalar(imageCount), sizeArg = minihost::doubles(1, imageCount, sizes);
    minihost::Array orients = minihost::scalar(orientCount), positionRange = minihost::scalar(posShiftMax);
    minihost::Array orientRange = minihost::scalar(orientShiftMax), step = minihost::scalar(poolStep);
    std::vector<const mxArray*> args = {count.get(), sizeArg.get(), sizeArg.get(), orients.get(), positionRange.get(),
                                        orientRange.get(), step.get(), scene.responses.cells.get(),
                                        scene.pooled.cells.get(), scene.traces.cells.get()};
    std::vector<const float*> responses = cellTable<const float>(scene.responses);
    std::vector<float*> pooled = cellTable<float>(scene.pooled), traces = cellTable<float>(scene.traces);
    minihost::MexEntry vindral = minihost::loadPlugin("vindral");
    for (auto _ : state) {
        if (variant == Variant::plain) {
            plaindetect::vindral(imageCount, sizes.data(), sizes.data(), orientCount, posShiftMax, orientShiftMax,
                                 poolStep, responses.data(), pooled.data(), traces.data());
        } else {
            minihost::CallResult result = minihost::callPlugin(vindral, args);
            if (result.failed) state.SkipWithError(result.errorMessage.c_str());
        }
    }
    state.SetItemsProcessed(state.iterations() * imageCount * orientCount * pooledSide * pooledSide);
    state.SetLabel("items = pooled values");
}

}  // namespace

BENCHMARK_CAPTURE(inhibitImage, plain, Variant::plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(inhibitImage, ours, Variant::ours)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(recoverInhibited, plain, Variant::plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(recoverInhibited, ours, Variant::ours)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(poolImages, plain, Variant::plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(poolImages, ours, Variant::ours)
    ->Unit(benchmark::kMillisecond)->Apply(onOneAndTwoThreads);
