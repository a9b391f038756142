// scalum: resamples a double image separably with the taps the caller gives, as the products
// image * Sc' and Sr * (image * Sc') with sparse resampling matrices Sc (outCols x cols) and
// Sr (outRows x rows) form it, term for term. Output column j of the first pass is the sum, over
// the taps of column j in the order listed, of weight * image column source; output row i of
// the second pass likewise sums rows of the first pass. Every sum starts at 0 and is formed in
// double in that order, whatever the number of threads, so the result is bit for bit that of
// the sparse products (which add a column's stored entries in order of their row).

#include <algorithm>
#include <cstdint>

#include "frame.h"
#include "threads.h"

namespace {

// Tap products (rows * taps of the first pass plus outCols * taps of the second) below which one
// thread does the whole call: waking the others would cost more than they save.
const double minThreadedProducts = 1048576.0;

// One pass's taps: output k has taps starts[k] ... starts[k + 1] - 1, each reading the 0-based
// source sources[t] with weight weights[t].
struct TapList {
    int64_t* starts;
    int32_t* sources;
    const double* weights;
};

// The first tap of each output and one past the last: the running sums of the counts.
int64_t* tapStarts(const double* counts, int32_t outputCount) {
    auto* starts = static_cast<int64_t*>(hostCalloc(static_cast<size_t>(outputCount) + 1, sizeof(int64_t)));
    for (int32_t k = 0; k < outputCount; ++k) starts[k + 1] = starts[k] + roundHalfUp(counts[k]);
    return starts;
}

// Reads one pass's taps (three positions): counts for outputCount outputs, then as many sources
// (each from 1 to sourceCount) and weights as the counts add up to.
TapList readTaps(ArgList& args, int32_t outputCount, int32_t sourceCount) {
    TapList taps;
    const double* counts = readIntArrayArg(args, outputCount, 0, INT32_MAX);
    taps.starts = tapStarts(counts, outputCount);
    int64_t total = taps.starts[outputCount];
    if (total > INT32_MAX) {
        refuseCall(ArgFault::tooLarge,
                   "argument %d (%s): expected counts adding up to at most 2147483647 taps; got %lld",
                   args.position, args.names[args.position - 1], static_cast<long long>(total));
    }
    int32_t tapCount = static_cast<int32_t>(total);
    const double* sources = readIntArrayArg(args, tapCount, 1, sourceCount);
    taps.weights = readArrayArg<double>(args, total, Access::read);
    taps.sources = allocArray<int32_t>(tapCount);
    for (int32_t t = 0; t < tapCount; ++t) taps.sources[t] = roundHalfUp(sources[t]) - 1;
    return taps;
}

// The first pass: across(:, j) = sum over the taps of output column j of weight * image(:, source),
// from 0, one column per thread at a time (each column is cleared by the thread that sums it).
void resampleColumns(const double* image, int32_t rows, const TapList& taps, int32_t outCols, double* across,
                     bool threaded) {
#pragma omp parallel for schedule(dynamic, 16) if (threaded)
    for (int32_t j = 0; j < outCols; ++j) {
        double* column = across + int64_t{j} * rows;
        std::fill(column, column + rows, 0.0);
        for (int64_t t = taps.starts[j]; t < taps.starts[j + 1]; ++t) {
            const double* source = image + int64_t{taps.sources[t]} * rows;
            double weight = taps.weights[t];
            for (int32_t x = 0; x < rows; ++x) column[x] += weight * source[x];
        }
    }
}

// The second pass: resized(i, j) = sum over the taps of output row i of weight * across(source, j).
void resampleRows(const double* across, int32_t rows, const TapList& taps, int32_t outRows, int32_t outCols,
                  double* resized, bool threaded) {
#pragma omp parallel for schedule(dynamic, 16) if (threaded)
    for (int32_t j = 0; j < outCols; ++j) {
        const double* column = across + int64_t{j} * rows;
        double* out = resized + int64_t{j} * outRows;
        for (int32_t i = 0; i < outRows; ++i) {
            double sum = 0.0;
            for (int64_t t = taps.starts[i]; t < taps.starts[i + 1]; ++t) {
                sum += taps.weights[t] * column[taps.sources[t]];
            }
            out[i] = sum;
        }
    }
}

const char* const argNames[] = {"imageRows",  "imageCols",  "outRows",   "outCols",   "image",
                                "colCounts",  "colSources", "colWeights", "rowCounts", "rowSources",
                                "rowWeights", "resized"};

void scalum(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    MapSize in = readMapSize(args);
    MapSize out = readMapSize(args);
    if (int64_t{in.rows} * out.cols > INT32_MAX) {
        refuseCall(ArgFault::tooLarge,
                   "argument 4 (outCols): expected imageRows * outCols, the values of the image resampled "
                   "along its rows, to be at most 2147483647 (32-bit indexing); got %d x %d",
                   in.rows, out.cols);
    }
    const double* image = readArrayArg<double>(args, int64_t{in.rows} * in.cols, Access::read);
    TapList colTaps = readTaps(args, out.cols, in.cols);
    TapList rowTaps = readTaps(args, out.rows, in.rows);
    double* resized = readArrayArg<double>(args, int64_t{out.rows} * out.cols, Access::written);
    endArgs(args);

    double products = static_cast<double>(in.rows) * static_cast<double>(colTaps.starts[out.cols]) +
                      static_cast<double>(out.cols) * static_cast<double>(rowTaps.starts[out.rows]);
    bool threaded = products >= minThreadedProducts;
    double* across = allocUnsetArray<double>(in.rows * out.cols);
    resampleColumns(image, in.rows, colTaps, out.cols, across, threaded);
    resampleRows(across, in.rows, rowTaps, out.rows, out.cols, resized, threaded);
    mxFree(across);
    mxFree(rowTaps.sources);
    mxFree(rowTaps.starts);
    mxFree(colTaps.sources);
    mxFree(colTaps.starts);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("scalum", scalum, nlhs, nrhs, prhs);
}
