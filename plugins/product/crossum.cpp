// crossum: the product left' * right of two double matrices with innerCount rows each, every
// entry the sum over the rows, in row order from 0, of left(l, i) * right(l, j), formed in
// double: the order in which the reference BLAS forms it, whatever the processor and however
// many threads share the entries. A learner's curvature matrix (design' * weighted design) takes
// most of its time; here eight entries of a column are summed side by side in vector lanes,
// each lane in row order, for eight columns at once, a tile of rows at a time.

#include <algorithm>
#include <cstdint>

#include "dispatch.h"
#include "frame.h"
#include "threads.h"

namespace {

// Entries of a product column summed side by side, and product columns sharing each pass
// over the rows.
constexpr int32_t laneCount = 8;
typedef double LaneVector __attribute__((vector_size(laneCount * sizeof(double))));
constexpr int32_t columnsPerBlock = 8;
// Products of a call (innerCount * leftCols * rightCols) below which one thread forms them
// all: waking the others would cost more than they save.
constexpr double minThreadedProducts = 4194304.0;

// Rows of the matrices taken at a time by every block of entries, so that the rows' values
// of both matrices stay in the cache while all blocks use them.
constexpr int32_t rowsPerTile = 64;

// Adds, to the running sums of entries (i0 ... i0 + 7, j0 ... j0 + columnsPerBlock - 1), the
// products of rows first ... end - 1 in row order: leftT holds left transposed, a row of
// leftStride values per row l of left (padded with zeros past leftCols); rightColumns[jj] is
// the column j0 + jj of right; sums[jj][lane] holds the running sums.
PROCESSOR_CLONES("arch=x86-64-v4", "avx2", "default")
void blockSums(const double* leftT, int64_t leftStride, const double* const* rightColumns, int32_t first,
               int32_t end, double (*sums)[laneCount]) {
    LaneVector acc[columnsPerBlock];
    for (int32_t jj = 0; jj < columnsPerBlock; ++jj) __builtin_memcpy(&acc[jj], sums[jj], sizeof(LaneVector));
    for (int32_t l = first; l < end; ++l) {
        LaneVector a;
        __builtin_memcpy(&a, leftT + l * leftStride, sizeof(a));
        for (int32_t jj = 0; jj < columnsPerBlock; ++jj) acc[jj] += a * rightColumns[jj][l];
    }
    for (int32_t jj = 0; jj < columnsPerBlock; ++jj) __builtin_memcpy(sums[jj], &acc[jj], sizeof(LaneVector));
}

// The product's sizes and arrays.
struct Product {
    int32_t innerCount;
    int32_t leftCols;
    int32_t rightCols;
    const double* left;
    const double* right;
    double* out;
};

// Every block of entries, shared among the threads, a tile of rows at a time; each entry's
// running sum starts at 0 and meets the rows in order, tile after tile, whichever thread
// takes its block.
void formProduct(const Product& p) {
    if (p.leftCols == 0 || p.rightCols == 0) return;
    int64_t leftBlocks = (int64_t{p.leftCols} + laneCount - 1) / laneCount;
    int64_t rightBlocks = (int64_t{p.rightCols} + columnsPerBlock - 1) / columnsPerBlock;
    int64_t stride = leftBlocks * laneCount;
    auto* leftT = static_cast<double*>(
        hostCalloc(static_cast<size_t>(stride) * static_cast<size_t>(std::max(p.innerCount, 1)), sizeof(double)));
    for (int32_t i = 0; i < p.leftCols; ++i) {
        for (int32_t l = 0; l < p.innerCount; ++l) leftT[l * stride + i] = p.left[int64_t{i} * p.innerCount + l];
    }
    int64_t blockCount = leftBlocks * rightBlocks;
    using BlockSums = double[columnsPerBlock][laneCount];
    auto* sums = static_cast<BlockSums*>(hostCalloc(static_cast<size_t>(blockCount), sizeof(BlockSums)));
    bool threaded = static_cast<double>(p.innerCount) * p.leftCols * p.rightCols >= minThreadedProducts;
    for (int32_t first = 0; first < p.innerCount; first += rowsPerTile) {
        int32_t end = p.innerCount - first > rowsPerTile ? first + rowsPerTile : p.innerCount;
#pragma omp parallel for schedule(dynamic) if (threaded)
        for (int64_t block = 0; block < blockCount; ++block) {
            int64_t i0 = (block % leftBlocks) * laneCount;
            int64_t j0 = (block / leftBlocks) * columnsPerBlock;
            const double* columns[columnsPerBlock];
            for (int32_t jj = 0; jj < columnsPerBlock; ++jj) {
                columns[jj] = p.right + std::min<int64_t>(j0 + jj, p.rightCols - 1) * p.innerCount;
            }
            blockSums(leftT + i0, stride, columns, first, end, sums[block]);
        }
    }
    for (int64_t block = 0; block < blockCount; ++block) {
        int64_t i0 = (block % leftBlocks) * laneCount;
        int64_t j0 = (block / leftBlocks) * columnsPerBlock;
        for (int32_t jj = 0; jj < columnsPerBlock && j0 + jj < p.rightCols; ++jj) {
            for (int32_t lane = 0; lane < laneCount && i0 + lane < p.leftCols; ++lane) {
                p.out[(j0 + jj) * p.leftCols + i0 + lane] = sums[block][jj][lane];
            }
        }
    }
    mxFree(sums);
    mxFree(leftT);
}

const char* const argNames[] = {"innerCount", "leftCols", "rightCols", "left", "right", "product"};

void crossum(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    Product p;
    p.innerCount = readIntArg(args, 0);
    p.leftCols = readIntArg(args, 0);
    p.rightCols = readIntArg(args, 0);
    p.left = readArrayArg<double>(args, int64_t{p.innerCount} * p.leftCols, Access::read);
    p.right = readArrayArg<double>(args, int64_t{p.innerCount} * p.rightCols, Access::read);
    p.out = readArrayArg<double>(args, int64_t{p.leftCols} * p.rightCols, Access::written);
    endArgs(args);
    formProduct(p);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("crossum", crossum, nlhs, nrhs, prhs);
}
