// filtrum's kernel: the energies of one image's responses to a bank of complex filters, by
// direct convolution in single precision. It makes no host call, so that any thread may run
// it, and its vector code is written once for every vector width: the plug-in compiles it
// for each instruction set it dispatches to, and the tests run every width the processor has.
//
// Every sum is formed in one order, whatever the width and the thread: for output (x, y) the
// padded image's (2h+1) x (2h+1) neighbourhood is walked column by column from the left, each
// column from the top, adding value times flipped tap to the real and to the imaginary sum;
// the energy is re*re + im*im. Vector lanes only decide which outputs are computed together.
#pragma once

#include <algorithm>
#include <cstdint>

#include "dispatch.h"

namespace filterenergy {

// Vectors of sixteen single-precision lanes for AVX-512, eight for AVX2, four (one SSE2
// register) for any x86-64: each width fills registers of its own instruction set, and a
// step's sums (see energyBlock) then stay in registers.
struct Lanes16 {
    typedef float Floats __attribute__((vector_size(64)));
    static constexpr int32_t count = 16;
};
struct Lanes8 {
    typedef float Floats __attribute__((vector_size(32)));
    static constexpr int32_t count = 8;
};
struct Lanes4 {
    typedef float Floats __attribute__((vector_size(16)));
    static constexpr int32_t count = 4;
};

// Vectors per column in one step, and output columns per step: each loaded vector of image
// values serves every column of the step, and the step's eight sums are independent chains
// that fit the sixteen registers of AVX2 and SSE2 beside the loaded values.
constexpr int32_t vectorsPerColumn = 2;
constexpr int32_t blockCols = 2;

// The image rounded to single precision with h rows and h columns of its edge values
// repeated on every side: (rows + 2h) x (cols + 2h), column-major. Output (x, y) (0-based)
// reads padded rows x ... x + 2h of padded columns y ... y + 2h.
struct PaddedImage {
    const float* values;
    int32_t rows;
};

// One filter in single precision, flipped: tap (a, b) multiplies padded value (x + a, y + b)
// of output (x, y), so taps are walked in storage order.
struct Taps {
    const float* re;
    const float* im;
    int32_t side;
};

// i clamped to 0 ... n-1.
inline int32_t clampIndex(int32_t i, int32_t n) {
    return i < 0 ? 0 : i >= n ? n - 1 : i;
}

// Writes padded columns qFirst ... qEnd - 1 of the single-precision copy of the rows x cols
// image (see PaddedImage): each padded column is its image column's values, the first and last
// repeated filterHalf times above and below. The padded image's (rows + 2h) * (cols + 2h)
// values must stay within 32-bit indexing.
inline void padColumns(const double* image, int32_t rows, int32_t cols, int32_t filterHalf, float* padded,
                       int32_t qFirst, int32_t qEnd) {
    int32_t paddedRows = rows + 2 * filterHalf;
    for (int32_t q = qFirst; q < qEnd; ++q) {
        const double* column = image + clampIndex(q - filterHalf, cols) * rows;
        float* out = padded + q * paddedRows;
        std::fill(out, out + filterHalf, static_cast<float>(column[0]));
        for (int32_t p = 0; p < rows; ++p) out[filterHalf + p] = static_cast<float>(column[p]);
        std::fill(out + filterHalf + rows, out + paddedRows, static_cast<float>(column[rows - 1]));
    }
}

// Writes the whole padded copy of the image (see padColumns).
inline void padImage(const double* image, int32_t rows, int32_t cols, int32_t filterHalf, float* padded) {
    padColumns(image, rows, cols, filterHalf, padded, 0, cols + 2 * filterHalf);
}

// Writes a filter's side x side values, rounded to single precision, in flipped order.
inline void flipFilter(const double* filter, int32_t side, float* taps) {
    int32_t last = side * side - 1;
    for (int32_t k = 0; k <= last; ++k) taps[k] = static_cast<float>(filter[last - k]);
}

// The energy at output (x, y) (0-based), one value at a time.
inline float energyAt(const PaddedImage& padded, const Taps& taps, int32_t x, int32_t y) {
    float re = 0.0f;
    float im = 0.0f;
    for (int32_t b = 0; b < taps.side; ++b) {
        const float* column = padded.values + (y + b) * padded.rows + x;
        const float* tapsRe = taps.re + b * taps.side;
        const float* tapsIm = taps.im + b * taps.side;
        for (int32_t a = 0; a < taps.side; ++a) {
            re = re + column[a] * tapsRe[a];
            im = im + column[a] * tapsIm[a];
        }
    }
    return re * re + im * im;
}

// The energies of vectorsPerColumn vectors of outputs from row x in each of columnCount
// columns from y, written into the rows-row map. Padded column y + c serves output column
// y + j through tap column b = c - j, so every output still takes its taps column by column,
// each from the top.
template <typename L, int32_t columnCount>
VECTOR_HELPER void energyBlock(const PaddedImage& padded, const Taps& taps, int32_t x, int32_t y, float* map,
                               int32_t rows) {
    typedef typename L::Floats Floats;
    Floats re[columnCount][vectorsPerColumn] = {};
    Floats im[columnCount][vectorsPerColumn] = {};
    int32_t side = taps.side;
    for (int32_t c = 0; c < side + columnCount - 1; ++c) {
        const float* column = padded.values + (y + c) * padded.rows + x;
        for (int32_t a = 0; a < side; ++a) {
            Floats values[vectorsPerColumn];
            for (int32_t v = 0; v < vectorsPerColumn; ++v) {
                __builtin_memcpy(&values[v], column + a + v * L::count, sizeof(Floats));
            }
            for (int32_t j = 0; j < columnCount; ++j) {
                int32_t b = c - j;
                if (b < 0 || b >= side) continue;
                float tapRe = taps.re[a + b * side];
                float tapIm = taps.im[a + b * side];
                for (int32_t v = 0; v < vectorsPerColumn; ++v) {
                    re[j][v] = re[j][v] + values[v] * tapRe;
                    im[j][v] = im[j][v] + values[v] * tapIm;
                }
            }
        }
    }
    for (int32_t j = 0; j < columnCount; ++j) {
        for (int32_t v = 0; v < vectorsPerColumn; ++v) {
            Floats energy = re[j][v] * re[j][v] + im[j][v] * im[j][v];
            __builtin_memcpy(map + (y + j) * rows + x + v * L::count, &energy, sizeof(Floats));
        }
    }
}

// Every row of columnCount columns from y. Maps shorter than a block are done one value at a
// time; otherwise the last block is moved up to end on the last row, recomputing a few rows
// with the very same bits.
template <typename L, int32_t columnCount>
VECTOR_HELPER void energyColumns(const PaddedImage& padded, const Taps& taps, int32_t y, float* map, int32_t rows) {
    constexpr int32_t blockRows = L::count * vectorsPerColumn;
    if (rows < blockRows) {
        for (int32_t j = 0; j < columnCount; ++j) {
            for (int32_t x = 0; x < rows; ++x) map[(y + j) * rows + x] = energyAt(padded, taps, x, y + j);
        }
        return;
    }
    int32_t blockCount = rows / blockRows + (rows % blockRows != 0 ? 1 : 0);
    for (int32_t k = 0; k < blockCount; ++k) {
        int32_t x = k < rows / blockRows ? k * blockRows : rows - blockRows;
        energyBlock<L, columnCount>(padded, taps, x, y, map, rows);
    }
}

// The energies of columns yStart ... yEnd-1 of one map of `rows` rows, in pairs of columns,
// the last one alone when their count is odd.
template <typename L>
VECTOR_HELPER void energyStrip(const PaddedImage& padded, const Taps& taps, int32_t yStart, int32_t yEnd, float* map,
                               int32_t rows) {
    int32_t y = yStart;
    for (; yEnd - y >= blockCols; y += blockCols) energyColumns<L, blockCols>(padded, taps, y, map, rows);
    if (y < yEnd) energyColumns<L, 1>(padded, taps, y, map, rows);
}

}  // namespace filterenergy
