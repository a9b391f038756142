// Plain loops of fennock, somvert/somvertwide, brelind, cobrint and filtrum: each computation written
// out statement by statement, with its loops, their order and its rounding, and nothing made
// faster. The benchmarks time them against the plug-ins; the unit tests hold the plug-ins'
// results to them bit for bit. For the cases the plug-ins settle themselves (edgeMargin 0, a
// divisor of 0, negative bins, an empty tally), they take the plug-ins' documented choice.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace plain {

inline int32_t roundHalfUp(double v) { return static_cast<int32_t>(std::floor(v + 0.5)); }

inline int32_t cmIndex(int32_t x, int32_t y, int32_t rows, int32_t cols) {
    (void)cols;
    return x + (y - 1) * rows - 1;
}

// fennock's kernel over an imageCount x orientCount grid of single maps (cell table in
// linear cell order).
inline void fennock(int32_t imageCount, const double* imageRows, const double* imageCols,
                    int32_t orientCount, double s, float* const* table) {
    for (int32_t image = 0; image < imageCount; ++image) {
        int32_t rows = roundHalfUp(imageRows[image]);
        int32_t cols = roundHalfUp(imageCols[image]);
        for (int32_t x = 1; x <= rows; ++x) {
            for (int32_t y = 1; y <= cols; ++y) {
                int32_t p = cmIndex(x, y, rows, cols);
                for (int32_t orient = 0; orient < orientCount; ++orient) {
                    float* map = table[image + orient * imageCount];
                    double v = map[p];
                    double a = (-2.0 * v) / s;
                    double e = std::exp(a);
                    map[p] = static_cast<float>(s * ((2.0 / (e + 1.0)) - 1.0));
                }
            }
        }
    }
}

template <typename T>
using Table = std::vector<std::vector<T>>;

// Running sum at (x, y), zero before the first row or column (edgeMargin 0).
template <typename T>
double runningAt(const Table<T>& R, int32_t x, int32_t y) {
    return x < 0 || y < 0 ? 0.0 : static_cast<double>(R[x][y]);
}

// computeWindowMeans: map o is maps[o * mapStride]; returns false (nothing written) for an
// empty interior.
template <typename T>
bool computeWindowMeans(const T* const* maps, int32_t mapStride, int32_t orientCount, int32_t rows,
                        int32_t cols, int32_t edgeMargin, int32_t hx, int32_t hy, Table<T>& dest,
                        T& maxMean) {
    Table<T> orientSum(rows, std::vector<T>(cols));
    for (int32_t x = 0; x < rows; ++x) {
        for (int32_t y = 0; y < cols; ++y) {
            orientSum[x][y] = 0;
            for (int32_t o = 0; o < orientCount; ++o) orientSum[x][y] += maps[o * mapStride][x + y * rows];
        }
    }
    Table<T> R(rows, std::vector<T>(cols));
    if (rows > 0 && cols > 0) {
        R[0][0] = orientSum[0][0];
        for (int32_t x = 1; x < rows; ++x) R[x][0] = R[x - 1][0] + orientSum[x][0];
        for (int32_t y = 1; y < cols; ++y) R[0][y] = R[0][y - 1] + orientSum[0][y];
        for (int32_t x = 1; x < rows; ++x) {
            for (int32_t y = 1; y < cols; ++y) {
                R[x][y] = static_cast<T>(((static_cast<double>(R[x][y - 1]) + R[x - 1][y]) - R[x - 1][y - 1]) +
                                         orientSum[x][y]);
            }
        }
    }
    int64_t r0 = static_cast<int64_t>(edgeMargin) + hx, r1 = rows - r0;
    int64_t c0 = static_cast<int64_t>(edgeMargin) + hy, c1 = cols - c0;
    maxMean = static_cast<T>(-1e10);
    if (r0 >= r1 || c0 >= c1) return false;
    for (int32_t x = static_cast<int32_t>(r0); x < r1; ++x) {
        for (int32_t y = static_cast<int32_t>(c0); y < c1; ++y) {
            double s = ((runningAt(R, x + hx, y + hy) - runningAt(R, x - hx - 1, y + hy)) -
                        runningAt(R, x + hx, y - hy - 1)) +
                       runningAt(R, x - hx - 1, y - hy - 1);
            T mean = static_cast<T>(s / (2.0 * hx + 1.0) / (2.0 * hy + 1.0) / orientCount);
            dest[x][y] = mean;
            if (mean > maxMean) maxMean = mean;
        }
    }
    for (int32_t x = 0; x < rows; ++x) {
        for (int32_t y = 0; y < cols; ++y) {
            int32_t sx = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(x, r0), r1 - 1));
            int32_t sy = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(y, c0), c1 - 1));
            dest[x][y] = dest[sx][sy];
        }
    }
    return true;
}

// The divisor: the mean when t < mean, else t stored in T; a divisor of exactly 0 becomes 1.
template <typename T>
T divisorOf(T mean, double t) {
    T d = t < mean ? mean : static_cast<T>(t);
    return d == 0 ? T(1) : d;
}

// somvert (T float) and somvertwide (T double) on one image's maps.
template <typename T>
void somvert(int32_t rows, int32_t cols, int32_t orientCount, int32_t edgeMargin, int32_t hx, int32_t hy,
             T* const* maps, double relativeFloor) {
    Table<T> meanTable(rows, std::vector<T>(cols));
    T maxMean;
    if (!computeWindowMeans<T>(maps, 1, orientCount, rows, cols, edgeMargin, hx, hy, meanTable, maxMean)) return;
    for (int32_t x = 0; x < rows; ++x) {
        for (int32_t y = 0; y < cols; ++y) {
            double t = maxMean * relativeFloor;
            T d = divisorOf(meanTable[x][y], t);
            for (int32_t o = 0; o < orientCount; ++o) maps[o][x + y * rows] = maps[o][x + y * rows] / d;
        }
    }
}

// brelind over a grid of single maps.
inline void brelind(int32_t imageCount, const double* imageRows, const double* imageCols, int32_t orientCount,
                    int32_t edgeMargin, const float* const* responseMaps, float* const* meanMaps, int32_t hx,
                    int32_t hy, double meanSwitch, double relativeFloor) {
    for (int32_t image = 0; image < imageCount; ++image) {
        int32_t rows = roundHalfUp(imageRows[image]);
        int32_t cols = roundHalfUp(imageCols[image]);
        float* out = meanMaps[image];
        Table<float> dest(rows, std::vector<float>(cols));
        float maxMean;
        if (meanSwitch < 0 || !computeWindowMeans<float>(responseMaps + image, imageCount, orientCount, rows, cols,
                                                         edgeMargin, hx, hy, dest, maxMean)) {
            for (int32_t x = 0; x < rows; ++x) {
                for (int32_t y = 0; y < cols; ++y) out[x + y * rows] = 1.0f;
            }
            continue;
        }
        double t = relativeFloor * maxMean;
        for (int32_t x = 0; x < rows; ++x) {
            for (int32_t y = 0; y < cols; ++y) out[x + y * rows] = divisorOf(dest[x][y], t);
        }
    }
}

// cobrint's bin of a value; values below 0 join bin 0.
inline int32_t binOf(double v, double width, int32_t count) {
    double f = std::floor(v / width);
    if (f < 0.0) return 0;
    if (count - 1 > f) return static_cast<int32_t>(f);
    return count - 1;
}

// cobrint over a grid of double maps of one size; an empty tally leaves the histogram as is.
inline void cobrint(int32_t imageCount, int32_t orientCount, double* const* table, int32_t borderWidth,
                    int32_t mapRows, int32_t mapCols, double binWidth, int32_t binCount, double* histogram,
                    double s) {
    for (int32_t x = 1; x <= mapRows; ++x) {
        for (int32_t y = 1; y <= mapCols; ++y) {
            int32_t p = cmIndex(x, y, mapRows, mapCols);
            for (int32_t orient = 0; orient < orientCount; ++orient) {
                for (int32_t image = 0; image < imageCount; ++image) {
                    double* map = table[image + orient * imageCount];
                    double e = std::exp((-2.0 * map[p]) / s);
                    map[p] = s * (2.0 / (e + 1.0) - 1.0);
                }
            }
        }
    }
    int64_t count = 0;
    for (int32_t x = borderWidth + 1; x <= mapRows - borderWidth - 1; ++x) {
        for (int32_t y = borderWidth + 1; y <= mapCols - borderWidth - 1; ++y) {
            int32_t p = cmIndex(x, y, mapRows, mapCols);
            for (int32_t orient = 0; orient < orientCount; ++orient) {
                for (int32_t image = 0; image < imageCount; ++image) {
                    histogram[binOf(table[image + orient * imageCount][p], binWidth, binCount)] += 1.0;
                    ++count;
                }
            }
        }
    }
    if (count == 0) return;
    for (int32_t b = 0; b < binCount; ++b) histogram[b] = histogram[b] / (binWidth * static_cast<double>(count));
}

// i clamped to 1 ... n: the nearest position inside a map of n rows or columns.
inline int32_t clampPosition(int32_t i, int32_t n) { return std::min(std::max(i, 1), n); }

// filtrum on one rows x cols image: for every map and position, the real and imaginary sums
// over the neighbourhood, column by column from the left and each column from the top, of the
// image value (edges replicated) times the flipped filter value, both rounded to single
// precision, then re*re + im*im.
inline void filtrum(int32_t rows, int32_t cols, const double* image, int32_t orientCount, int32_t h,
                    const double* const* filterReal, const double* const* filterImag, float* const* maps) {
    int32_t side = 2 * h + 1;
    for (int32_t orient = 0; orient < orientCount; ++orient) {
        for (int32_t y = 1; y <= cols; ++y) {
            for (int32_t x = 1; x <= rows; ++x) {
                float re = 0.0f;
                float im = 0.0f;
                for (int32_t dy = -h; dy <= h; ++dy) {
                    for (int32_t dx = -h; dx <= h; ++dx) {
                        int32_t p = cmIndex(clampPosition(x + dx, rows), clampPosition(y + dy, cols), rows, cols);
                        int32_t tap = cmIndex(h + 1 - dx, h + 1 - dy, side, side);
                        float v = static_cast<float>(image[p]);
                        re = re + v * static_cast<float>(filterReal[orient][tap]);
                        im = im + v * static_cast<float>(filterImag[orient][tap]);
                    }
                }
                maps[orient][cmIndex(x, y, rows, cols)] = re * re + im * im;
            }
        }
    }
}

}  // namespace plain
