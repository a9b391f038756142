// filtrum on the demo's workload: the Solvay photo's five search scales (1029 x 1422 down to
// 588 x 813 pixels), 8 orientations of 9 x 9 complex Gabor filters as filter_bank makes them,
// one call per scale. Timed with one thread and with one per processor (wall-clock time, since
// the threads share the work), against the alternative it was chosen over, the same energies
// by FFT in single precision (FFTW) as filter_responses used to compute them in Octave, and
// on the smallest scale against its plain loop (one thread each, CPU time).
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "grids.h"
#include "minihost.h"
#include "plain_loops.h"

namespace {

const int orientCount = 8;
const int filterHalf = 4;
const int filterSide = 2 * filterHalf + 1;
const double wavelength = 5.0;
const double sigmaAcross = wavelength / 2;
const double sigmaAlong = 0.8 * wavelength;
// The photo's size at the five face sizes searched, 36 to 63 pixels, for a 40-pixel template.
const int scaleRows[] = {1029, 895, 778, 676, 588};
const int scaleCols[] = {1422, 1237, 1075, 935, 813};
const int scaleCount = 5;
// The FFT path must give filtrum's energies within this fraction of each map's largest.
const double agreement = 1e-5;

struct Bank {
    std::vector<std::vector<double>> re, im;
};

// filter_bank's filters: a Gaussian envelope (sigma wavelength/2 across the edge, 0.8 times
// wavelength along it) times a complex wave across, the even part's mean removed, unit energy.
Bank gaborBank() {
    Bank bank;
    for (int o = 0; o < orientCount; ++o) {
        double t = M_PI * o / orientCount;
        std::vector<double> even(filterSide * filterSide), odd(even.size()), envelope(even.size());
        double evenSum = 0, envelopeSum = 0;
        for (int c = 0; c < filterSide; ++c) {
            for (int r = 0; r < filterSide; ++r) {
                double across = (r - filterHalf) * std::cos(t) + (c - filterHalf) * std::sin(t);
                double along = -(r - filterHalf) * std::sin(t) + (c - filterHalf) * std::cos(t);
                int k = r + c * filterSide;
                envelope[k] = std::exp(-across * across / (2 * sigmaAcross * sigmaAcross) -
                                       along * along / (2 * sigmaAlong * sigmaAlong));
                even[k] = envelope[k] * std::cos(2 * M_PI * across / wavelength);
                odd[k] = envelope[k] * std::sin(2 * M_PI * across / wavelength);
                evenSum += even[k];
                envelopeSum += envelope[k];
            }
        }
        double energy = 0;
        for (size_t k = 0; k < even.size(); ++k) {
            even[k] -= envelope[k] * (evenSum / envelopeSum);
            energy += even[k] * even[k] + odd[k] * odd[k];
        }
        for (size_t k = 0; k < even.size(); ++k) {
            even[k] /= std::sqrt(energy);
            odd[k] /= std::sqrt(energy);
        }
        bank.re.push_back(even);
        bank.im.push_back(odd);
    }
    return bank;
}

// One scale's arguments: a photo-like image (values in [0, 1]), the bank, and fresh maps.
struct Scale {
    int rows, cols;
    minihost::Array rowArg, colArg, orientArg, halfArg, image;
    testsupport::MapGrid filterReal, filterImag, maps;
    std::vector<const mxArray*> args() const {
        return {rowArg.get(), colArg.get(), orientArg.get(), halfArg.get(), image.get(),
                filterReal.cells.get(), filterImag.cells.get(), maps.cells.get()};
    }
};

Scale makeScale(int rows, int cols, const Bank& bank, std::mt19937& engine) {
    Scale scale{rows, cols, minihost::scalar(rows), minihost::scalar(cols), minihost::scalar(orientCount),
                minihost::scalar(filterHalf), minihost::doubles(rows, cols),
                testsupport::makeGrid(1, orientCount, {filterSide}, {filterSide}, mxDOUBLE_CLASS),
                testsupport::makeGrid(1, orientCount, {filterSide}, {filterSide}, mxDOUBLE_CLASS),
                testsupport::makeGrid(1, orientCount, {rows}, {cols}, mxSINGLE_CLASS)};
    std::uniform_real_distribution<double> grey(0.0, 1.0);
    double* pixels = minihost::doubleData(scale.image.get());
    for (int k = 0; k < rows * cols; ++k) pixels[k] = grey(engine);
    for (int o = 0; o < orientCount; ++o) {
        std::copy(bank.re[o].begin(), bank.re[o].end(), scale.filterReal.doubles(0, o));
        std::copy(bank.im[o].begin(), bank.im[o].end(), scale.filterImag.doubles(0, o));
    }
    return scale;
}

std::vector<Scale> demoScales() {
    Bank bank = gaborBank();
    std::mt19937 engine(1);
    std::vector<Scale> scales;
    for (int k = 0; k < scaleCount; ++k) scales.push_back(makeScale(scaleRows[k], scaleCols[k], bank, engine));
    return scales;
}

// ---------------------------------------------------------------- the FFT alternative

// The smallest length of at least `minimum` with no prime factor above 5.
int fastLength(int minimum) {
    for (int n = minimum;; ++n) {
        int rest = n;
        for (int p : {2, 3, 5}) {
            while (rest % p == 0) rest /= p;
        }
        if (rest == 1) return n;
    }
}

// What one scale's FFT filtering keeps between calls: the plans and buffers of its transform
// size, and the two thin DFT matrices that give a filter's spectrum (rowDft fftRows x side,
// colDft side x fftCols, interleaved real and imaginary parts, column-major).
struct FftScale {
    int fftRows = 0, fftCols = 0;
    fftwf_complex* spectrum = nullptr;
    std::vector<fftwf_complex*> work;       // one transform buffer per thread
    std::vector<std::vector<float>> sums;   // per thread: sum over a of filter * rowDft
    std::vector<float> rowDft, colDft;
    fftwf_plan forward = nullptr, inverse = nullptr;
};

// Plans are made once per size, on this thread: FFTW's planner is not thread-safe. FFTW_ESTIMATE
// chooses them without timing trial runs, so the same size always gets the same plan (and the
// same bits); timed planning (FFTW_MEASURE) took seconds per size here for transforms about a
// fifth faster.
FftScale planScale(int rows, int cols, int threads) {
    FftScale fft;
    fft.fftRows = fastLength(rows + 4 * filterHalf);
    fft.fftCols = fastLength(cols + 4 * filterHalf);
    size_t points = static_cast<size_t>(fft.fftRows) * fft.fftCols;
    fft.spectrum = fftwf_alloc_complex(points);
    for (int t = 0; t < threads; ++t) {
        fft.work.push_back(fftwf_alloc_complex(points));
        fft.sums.emplace_back(2 * fft.fftRows * filterSide);
    }
    fft.forward = fftwf_plan_dft_2d(fft.fftCols, fft.fftRows, fft.spectrum, fft.spectrum, FFTW_FORWARD, FFTW_ESTIMATE);
    fft.inverse = fftwf_plan_dft_2d(fft.fftCols, fft.fftRows, fft.work[0], fft.work[0], FFTW_BACKWARD, FFTW_ESTIMATE);
    fft.rowDft.resize(2 * fft.fftRows * filterSide);
    fft.colDft.resize(2 * filterSide * fft.fftCols);
    for (int a = 0; a < filterSide; ++a) {
        for (int k = 0; k < fft.fftRows; ++k) {
            double angle = -2 * M_PI * static_cast<double>(static_cast<long long>(k) * a % fft.fftRows) / fft.fftRows;
            fft.rowDft[2 * (k + a * fft.fftRows)] = static_cast<float>(std::cos(angle));
            fft.rowDft[2 * (k + a * fft.fftRows) + 1] = static_cast<float>(std::sin(angle));
        }
        for (int k = 0; k < fft.fftCols; ++k) {
            double angle = -2 * M_PI * static_cast<double>(static_cast<long long>(k) * a % fft.fftCols) / fft.fftCols;
            fft.colDft[2 * (a + k * filterSide)] = static_cast<float>(std::cos(angle));
            fft.colDft[2 * (a + k * filterSide) + 1] = static_cast<float>(std::sin(angle));
        }
    }
    return fft;
}

void releaseScale(FftScale& fft) {
    fftwf_destroy_plan(fft.forward);
    fftwf_destroy_plan(fft.inverse);
    fftwf_free(fft.spectrum);
    for (fftwf_complex* buffer : fft.work) fftwf_free(buffer);
}

// The spectrum of filter o zero-padded to the transform size, times the image's spectrum, into
// `product`: G = rowDft * filter * colDft, formed column by column of the transform.
void filteredSpectrum(const Scale& scale, FftScale& fft, int o, std::vector<float>& sums, float* product) {
    const double* re = scale.filterReal.doubles(0, o);
    const double* im = scale.filterImag.doubles(0, o);
    int n = fft.fftRows;
    for (int b = 0; b < filterSide; ++b) {
        float* column = sums.data() + 2 * n * b;
        std::fill(column, column + 2 * n, 0.0f);
        for (int a = 0; a < filterSide; ++a) {
            float fr = static_cast<float>(re[a + b * filterSide]), fi = static_cast<float>(im[a + b * filterSide]);
            const float* w = fft.rowDft.data() + 2 * n * a;
            for (int k = 0; k < n; ++k) {
                column[2 * k] += fr * w[2 * k] - fi * w[2 * k + 1];
                column[2 * k + 1] += fr * w[2 * k + 1] + fi * w[2 * k];
            }
        }
    }
    const float* spectrum = reinterpret_cast<const float*>(fft.spectrum);
    for (int k2 = 0; k2 < fft.fftCols; ++k2) {
        float* out = product + 2 * static_cast<size_t>(n) * k2;
        std::fill(out, out + 2 * n, 0.0f);
        for (int b = 0; b < filterSide; ++b) {
            float cr = fft.colDft[2 * (b + k2 * filterSide)], ci = fft.colDft[2 * (b + k2 * filterSide) + 1];
            const float* column = sums.data() + 2 * n * b;
            for (int k = 0; k < n; ++k) {
                out[2 * k] += column[2 * k] * cr - column[2 * k + 1] * ci;
                out[2 * k + 1] += column[2 * k] * ci + column[2 * k + 1] * cr;
            }
        }
        const float* x = spectrum + 2 * static_cast<size_t>(n) * k2;
        for (int k = 0; k < n; ++k) {
            float gr = out[2 * k], gi = out[2 * k + 1];
            out[2 * k] = gr * x[2 * k] - gi * x[2 * k + 1];
            out[2 * k + 1] = gr * x[2 * k + 1] + gi * x[2 * k];
        }
    }
}

// One scale's energies by FFT into its maps.
void fftEnergies(const Scale& scale, FftScale& fft) {
    int paddedRows = scale.rows + 2 * filterHalf, paddedCols = scale.cols + 2 * filterHalf;
    const double* pixels = minihost::doubleData(scale.image.get());
    std::fill(reinterpret_cast<float*>(fft.spectrum),
              reinterpret_cast<float*>(fft.spectrum) + 2 * static_cast<size_t>(fft.fftRows) * fft.fftCols, 0.0f);
    for (int q = 0; q < paddedCols; ++q) {
        int y = std::min(std::max(q - filterHalf, 0), scale.cols - 1);
        for (int p = 0; p < paddedRows; ++p) {
            int x = std::min(std::max(p - filterHalf, 0), scale.rows - 1);
            fft.spectrum[p + static_cast<size_t>(q) * fft.fftRows][0] = static_cast<float>(pixels[x + y * scale.rows]);
        }
    }
    fftwf_execute(fft.forward);
    float normalization = 1.0f / (static_cast<float>(fft.fftRows) * static_cast<float>(fft.fftCols));
#pragma omp parallel for schedule(dynamic)
    for (int o = 0; o < orientCount; ++o) {
        int thread = omp_get_thread_num();
        fftwf_complex* buffer = fft.work[thread];
        filteredSpectrum(scale, fft, o, fft.sums[thread], reinterpret_cast<float*>(buffer));
        fftwf_execute_dft(fft.inverse, buffer, buffer);
        float* map = scale.maps.singles(0, o);
        for (int y = 0; y < scale.cols; ++y) {
            for (int x = 0; x < scale.rows; ++x) {
                const fftwf_complex& z = buffer[(2 * filterHalf + x) + static_cast<size_t>(2 * filterHalf + y) * fft.fftRows];
                float re = z[0] * normalization, im = z[1] * normalization;
                map[x + y * scale.rows] = re * re + im * im;
            }
        }
    }
}

// The largest difference between the maps and `expected`, as a fraction of each map's largest.
double largestRelativeDifference(const Scale& scale, const std::vector<std::vector<float>>& expected) {
    double worst = 0;
    for (int o = 0; o < orientCount; ++o) {
        const float* map = scale.maps.singles(0, o);
        double largest = *std::max_element(expected[o].begin(), expected[o].end());
        for (int k = 0; k < scale.rows * scale.cols; ++k) {
            worst = std::max(worst, std::fabs(static_cast<double>(map[k]) - expected[o][k]) / largest);
        }
    }
    return worst;
}

// ---------------------------------------------------------------- the benchmarks

// 1 thread, and one per processor when there are several.
void threadCounts(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgName("threads")->Arg(1);
    if (omp_get_num_procs() > 1) benchmark->Arg(omp_get_num_procs());
}

void reportEnergies(benchmark::State& state, const std::vector<Scale>& scales) {
    int64_t pixels = 0;
    for (const Scale& scale : scales) pixels += static_cast<int64_t>(scale.rows) * scale.cols;
    state.SetItemsProcessed(state.iterations() * pixels * orientCount);
    state.SetLabel("items = energies written");
}

void filtrumDemoScales(benchmark::State& state) {
    std::vector<Scale> scales = demoScales();
    minihost::MexEntry entry = minihost::loadPlugin("filtrum");
    int saved = omp_get_max_threads();
    omp_set_num_threads(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        for (const Scale& scale : scales) {
            minihost::CallResult result = minihost::callPlugin(entry, scale.args());
            if (result.failed) state.SkipWithError(result.errorMessage.c_str());
        }
    }
    omp_set_num_threads(saved);
    reportEnergies(state, scales);
}

void fftDemoScales(benchmark::State& state) {
    int threads = static_cast<int>(state.range(0));
    std::vector<Scale> scales = demoScales();
    std::vector<FftScale> plans;
    for (const Scale& scale : scales) plans.push_back(planScale(scale.rows, scale.cols, threads));
    int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    // The alternative must compute what filtrum computes before its time counts.
    minihost::MexEntry entry = minihost::loadPlugin("filtrum");
    double worst = 0;
    for (int k = 0; k < scaleCount; ++k) {
        minihost::callPlugin(entry, scales[k].args());
        std::vector<std::vector<float>> expected = testsupport::snapshot<float>(scales[k].maps);
        fftEnergies(scales[k], plans[k]);
        worst = std::max(worst, largestRelativeDifference(scales[k], expected));
    }
    if (worst > agreement) {
        char message[120];
        std::snprintf(message, sizeof message, "the FFT energies differ from filtrum's by %.3g of a map's largest", worst);
        state.SkipWithError(message);
    }
    for (auto _ : state) {
        for (int k = 0; k < scaleCount; ++k) fftEnergies(scales[k], plans[k]);
    }
    omp_set_num_threads(saved);
    for (FftScale& plan : plans) releaseScale(plan);
    reportEnergies(state, scales);
}

enum class Variant { plain, ours };

void filtrumSmallestScale(benchmark::State& state, Variant variant) {
    Bank bank = gaborBank();
    std::mt19937 engine(1);
    std::vector<Scale> scales;
    scales.push_back(makeScale(scaleRows[scaleCount - 1], scaleCols[scaleCount - 1], bank, engine));
    const Scale& scale = scales[0];
    std::vector<float*> maps = testsupport::cellTable<float>(scale.maps);
    std::vector<const double*> re = testsupport::cellTable<const double>(scale.filterReal);
    std::vector<const double*> im = testsupport::cellTable<const double>(scale.filterImag);
    minihost::MexEntry entry = minihost::loadPlugin("filtrum");
    int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    for (auto _ : state) {
        if (variant == Variant::plain) {
            plain::filtrum(scale.rows, scale.cols, minihost::doubleData(scale.image.get()), orientCount, filterHalf,
                           re.data(), im.data(), maps.data());
        } else {
            minihost::CallResult result = minihost::callPlugin(entry, scale.args());
            if (result.failed) state.SkipWithError(result.errorMessage.c_str());
        }
    }
    omp_set_num_threads(saved);
    reportEnergies(state, scales);
}

}  // namespace

BENCHMARK(filtrumDemoScales)->Apply(threadCounts)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fftDemoScales)->Apply(threadCounts)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filtrumSmallestScale, plain, Variant::plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filtrumSmallestScale, ours, Variant::ours)->Unit(benchmark::kMillisecond);
