// Plain loops of the detection kernels: the shift search, stamping, inhibition, pooling,
// template scoring, template learning and recovery with inhibition, each written out statement
// by statement with its loops, their
// order and its rounding, and nothing made faster. The benchmarks time them against the shared
// routines and the plug-ins; the unit tests hold those to them bit for bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plaindetect {

inline int32_t roundHalfUp(double v) { return static_cast<int32_t>(std::floor(v + 0.5)); }

inline int32_t cmIndex(int32_t x, int32_t y, int32_t rows) { return x + (y - 1) * rows - 1; }

const float noResponse = -1e10f;

// Per orientation and slot: row and column displacement and the orientation read.
struct Shifts {
    int32_t shiftCount;
    std::vector<std::vector<int32_t>> rowShift, colShift, shiftedOrient;
};

inline int32_t signedStep(int32_t index) { return index % 2 == 1 ? -((index + 1) / 2) : index / 2; }

inline Shifts buildShifts(int32_t orientCount, int32_t posShiftMax, int32_t orientShiftMax, int32_t poolStep) {
    Shifts t;
    t.shiftCount = (2 * posShiftMax + 1) * (2 * orientShiftMax + 1);
    t.rowShift.assign(orientCount, std::vector<int32_t>(t.shiftCount));
    t.colShift = t.rowShift;
    t.shiftedOrient = t.rowShift;
    for (int32_t o = 0; o < orientCount; ++o) {
        double theta = (3.1415926 * o) / orientCount;
        for (int32_t p = 0; p <= 2 * posShiftMax; ++p) {
            int32_t m = signedStep(p) * poolStep;
            for (int32_t q = 0; q <= 2 * orientShiftMax; ++q) {
                int32_t s = p * (2 * orientShiftMax + 1) + q;
                t.rowShift[o][s] = roundHalfUp(m * std::cos(theta));
                t.colShift[o][s] = roundHalfUp(m * std::sin(theta));
                int32_t u = o + signedStep(q);
                if (u < 0) {
                    u = u + orientCount;
                } else if (u >= orientCount) {
                    u = u - orientCount;
                }
                t.shiftedOrient[o][s] = u;
            }
        }
    }
    return t;
}

struct Found {
    float best;
    int32_t slot;
};

inline Found localMaxOverShifts(const Shifts& t, const float* const* responseMaps, int32_t imageCount, int32_t image,
                                int32_t orient, int32_t x, int32_t y, int32_t rows, int32_t cols) {
    Found f{noResponse, 0};
    for (int32_t s = 0; s < t.shiftCount; ++s) {
        int32_t xs = x + t.rowShift[orient][s];
        int32_t ys = y + t.colShift[orient][s];
        int32_t os = t.shiftedOrient[orient][s];
        if (xs < 1 || xs > rows || ys < 1 || ys > cols) continue;
        float v = responseMaps[image + os * imageCount][cmIndex(xs, ys, rows)];
        if (v > f.best) {
            f.best = v;
            f.slot = s;
        }
    }
    return f;
}

inline void stampElement(float* map, int32_t rows, int32_t cols, const double* const* stamps, int32_t h,
                         int32_t orient, int32_t x, int32_t y, double factor) {
    for (int32_t xi = x - h; xi <= x + h; ++xi) {
        for (int32_t yi = y - h; yi <= y + h; ++yi) {
            if (xi < 1 || xi > rows || yi < 1 || yi > cols) continue;
            float v = static_cast<float>(stamps[orient][cmIndex(xi - x + h + 1, yi - y + h + 1, 2 * h + 1)] * factor);
            if (v > map[cmIndex(xi, yi, rows)]) map[cmIndex(xi, yi, rows)] = v;
        }
    }
}

// The maps and settings that inhibition works on, with one image's sizes and pool window.
struct InhibitMaps {
    float* const* responseMaps;
    float* const* pooledMaps;
    float* const* traceMaps;
    const double* const* overlapTable;
    int32_t imageCount, orientCount, filterHalf, posShiftMax, poolStep;
    int32_t mapRows, mapCols, pooledRows, pooledCols;
    int32_t rowLo, rowHi, colLo, colHi;
};

inline void inhibitAround(const Shifts& t, const InhibitMaps& g, int32_t image, int32_t selOrient, int32_t x,
                          int32_t y, float* const* summedMaps) {
    int32_t h = g.filterHalf;
    int32_t side = 4 * h + 1;
    for (int32_t o = 0; o < g.orientCount; ++o) {
        float* R = g.responseMaps[image + o * g.imageCount];
        const double* F = g.overlapTable[selOrient + o * g.orientCount];
        for (int32_t xi = std::max(1, x - 2 * h); xi <= std::min(g.mapRows, x + 2 * h); ++xi) {
            for (int32_t yi = std::max(1, y - 2 * h); yi <= std::min(g.mapCols, y + 2 * h); ++yi) {
                int32_t k = cmIndex(xi, yi, g.mapRows);
                R[k] = static_cast<float>(R[k] * F[cmIndex(xi - x + 2 * h + 1, yi - y + 2 * h + 1, side)]);
            }
        }
    }
    int32_t rowFrom = std::max(g.rowLo, ((x - 2 * h) / g.poolStep) - g.posShiftMax + 1);
    int32_t rowTo = std::min(g.rowHi, ((x + 2 * h) / g.poolStep) + g.posShiftMax);
    int32_t colFrom = std::max(g.colLo, ((y - 2 * h) / g.poolStep) - g.posShiftMax + 1);
    int32_t colTo = std::min(g.colHi, ((y + 2 * h) / g.poolStep) + g.posShiftMax);
    for (int32_t o = 0; o < g.orientCount; ++o) {
        int32_t c = image + o * g.imageCount;
        for (int32_t px = rowFrom; px <= rowTo; ++px) {
            for (int32_t py = colFrom; py <= colTo; ++py) {
                int32_t k = cmIndex(px, py, g.pooledRows);
                float old = g.pooledMaps[c][k];
                int32_t s = roundHalfUp(g.traceMaps[c][k]);
                int32_t os = t.shiftedOrient[o][s];
                int32_t xs = px * g.poolStep + t.rowShift[o][s];
                int32_t ys = py * g.poolStep + t.colShift[o][s];
                int32_t dx = xs - x, dy = ys - y;
                if (dx < -2 * h || dx > 2 * h || dy < -2 * h || dy > 2 * h) continue;
                double f = g.overlapTable[selOrient + os * g.orientCount][cmIndex(dx + 2 * h + 1, dy + 2 * h + 1, side)];
                if (f != 0.0) continue;
                Found found = localMaxOverShifts(t, g.responseMaps, g.imageCount, image, o, px * g.poolStep,
                                                 py * g.poolStep, g.mapRows, g.mapCols);
                g.traceMaps[c][k] = static_cast<float>(found.slot);
                g.pooledMaps[c][k] = found.best;
                if (summedMaps != nullptr) {
                    summedMaps[o][k] = static_cast<float>(summedMaps[o][k] + (static_cast<double>(found.best) - old));
                }
            }
        }
    }
}

// vindral's kernel, node by node: every image, pooled row, pooled column and orientation.
inline void vindral(int32_t imageCount, const double* imageRows, const double* imageCols, int32_t orientCount,
                    int32_t posShiftMax, int32_t orientShiftMax, int32_t poolStep, const float* const* responseMaps,
                    float* const* pooledMaps, float* const* traceMaps) {
    Shifts t = buildShifts(orientCount, posShiftMax, orientShiftMax, poolStep);
    for (int32_t image = 0; image < imageCount; ++image) {
        int32_t rows = roundHalfUp(imageRows[image]);
        int32_t cols = roundHalfUp(imageCols[image]);
        int32_t pooledRows = static_cast<int32_t>(std::floor(static_cast<double>(rows) / poolStep));
        int32_t pooledCols = static_cast<int32_t>(std::floor(static_cast<double>(cols) / poolStep));
        for (int32_t i = 1; i <= pooledRows; ++i) {
            for (int32_t j = 1; j <= pooledCols; ++j) {
                int32_t p = cmIndex(i, j, pooledRows);
                for (int32_t o = 0; o < orientCount; ++o) {
                    Found f = localMaxOverShifts(t, responseMaps, imageCount, image, o, i * poolStep, j * poolStep,
                                                 rows, cols);
                    pooledMaps[image + o * imageCount][p] = f.best;
                    traceMaps[image + o * imageCount][p] = static_cast<float>(f.slot);
                }
            }
        }
    }
}

// gastrel's arguments, in its order of meaning; pooledMaps by image + orient * imageCount,
// scoreMaps and normalizerMaps by image.
struct ScoreCall {
    int32_t imageCount;
    const double* imageRows;
    const double* imageCols;
    int32_t orientCount, poolStep, templateRows, templateCols, elementCount;
    const double *elementOrients, *elementRowOffsets, *elementColOffsets, *elementWeights, *elementBiases;
    const float* const* pooledMaps;
    float* const* scoreMaps;
    const float* const* normalizerMaps;
    double saturationLevel;
};

// gastrel's kernel, placement by placement (anchor rows outer, anchor columns inner) and, in
// each placement, element by element in order, rounding the score to single after every
// element. Positions are formed in 64 bits, so that huge offsets and template sides stay
// defined. A normalizer of 0 reads as 1, the plug-in's choice.
inline void gastrel(const ScoreCall& a) {
    int32_t p = a.poolStep;
    int64_t templateRowsPooled = static_cast<int64_t>(std::floor(static_cast<double>(a.templateRows) / p));
    int64_t templateColsPooled = static_cast<int64_t>(std::floor(static_cast<double>(a.templateCols) / p));
    int64_t centerRowOffset = static_cast<int64_t>(std::floor((a.templateRows / 2.0) / p));
    int64_t centerColOffset = static_cast<int64_t>(std::floor((a.templateCols / 2.0) / p));
    std::vector<int32_t> orient(a.elementCount), rowOffset(a.elementCount), colOffset(a.elementCount);
    for (int32_t k = 0; k < a.elementCount; ++k) {
        orient[k] = roundHalfUp(a.elementOrients[k]);
        rowOffset[k] = roundHalfUp(a.elementRowOffsets[k]);
        colOffset[k] = roundHalfUp(a.elementColOffsets[k]);
    }
    double s = a.saturationLevel;
    for (int32_t image = 0; image < a.imageCount; ++image) {
        int64_t rows = roundHalfUp(a.imageRows[image]);
        int64_t cols = roundHalfUp(a.imageCols[image]);
        int64_t pooledRows = static_cast<int64_t>(std::floor(static_cast<double>(rows) / p));
        int64_t pooledCols = static_cast<int64_t>(std::floor(static_cast<double>(cols) / p));
        int64_t scoreRows = static_cast<int64_t>(std::floor((static_cast<double>(a.templateRows) + rows) / p));
        float* score = a.scoreMaps[image];
        const float* normalizer = a.normalizerMaps[image];
        for (int64_t i = 1 - templateRowsPooled; i <= pooledRows; ++i) {
            for (int64_t j = 1 - templateColsPooled; j <= pooledCols; ++j) {
                int64_t q = (i + templateRowsPooled - 1) + (j + templateColsPooled - 1) * scoreRows;
                int64_t cx = (i + centerRowOffset) * p;
                int64_t cy = (j + centerColOffset) * p;
                float n = 1.0f;
                if (cx >= 1 && cx <= rows && cy >= 1 && cy <= cols) n = normalizer[(cx - 1) + (cy - 1) * rows];
                if (n == 0.0f) n = 1.0f;
                for (int32_t k = 0; k < a.elementCount; ++k) {
                    int64_t x = i + rowOffset[k];
                    int64_t y = j + colOffset[k];
                    if (x >= 1 && x <= pooledRows && y >= 1 && y <= pooledCols) {
                        float r = a.pooledMaps[image + orient[k] * a.imageCount][(x - 1) + (y - 1) * pooledRows];
                        float v = static_cast<float>(static_cast<double>(r) / n);
                        double e = std::exp((-2.0 * v) / s);
                        float t = static_cast<float>(s * ((2.0 / (e + 1.0)) - 1.0));
                        score[q] = static_cast<float>(score[q] + (a.elementWeights[k] * t - a.elementBiases[k]));
                    } else {
                        score[q] = static_cast<float>(score[q] - a.elementBiases[k]);
                    }
                }
            }
        }
    }
}

// tarrowveto's arguments, in its order of meaning; anchors must be finite (a detection in
// every image). A normalizer of 0 reads as 1, the plug-in's choice.
struct VetoCall {
    int32_t imageCount;
    const double* imageRows;
    const double* imageCols;
    int32_t orientCount, posShiftMax, orientShiftMax, poolStep, filterHalf;
    const double* const* orientStamps;
    int32_t elementCount;
    const double *elementOrients, *elementRowOffsets, *elementColOffsets, *elementWeights, *elementBiases;
    float* const* responseMaps;
    float* const* pooledMaps;
    float* const* traceMaps;
    float* const* imageSketches;
    const double *anchorRows, *anchorCols;
    double saturationLevel;
    int32_t templateRows, templateCols;
    const double* const* overlapTable;
    float* imageScores;
    const float* const* normalizerMaps;
};

inline void tarrowveto(const VetoCall& a) {
    Shifts t = buildShifts(a.orientCount, a.posShiftMax, a.orientShiftMax, a.poolStep);
    int32_t centerRowOffset = static_cast<int32_t>(std::floor((a.templateRows / 2.0) / a.poolStep));
    int32_t centerColOffset = static_cast<int32_t>(std::floor((a.templateCols / 2.0) / a.poolStep));
    for (int32_t image = 0; image < a.imageCount; ++image) {
        int32_t rows = roundHalfUp(a.imageRows[image]);
        int32_t cols = roundHalfUp(a.imageCols[image]);
        int32_t h = a.filterHalf;
        int32_t lo = ((h + 1) / a.poolStep) + 1 + a.posShiftMax;
        InhibitMaps g{a.responseMaps, a.pooledMaps, a.traceMaps, a.overlapTable, a.imageCount, a.orientCount, h,
                      a.posShiftMax, a.poolStep, rows, cols, 0, 0, lo, ((rows - h) / a.poolStep) - 1 - a.posShiftMax,
                      lo, ((cols - h) / a.poolStep) - 1 - a.posShiftMax};
        for (int32_t x = 1; x <= rows; ++x) {
            for (int32_t y = 1; y <= cols; ++y) a.imageSketches[image][cmIndex(x, y, rows)] = 0.0f;
        }
        g.pooledRows = static_cast<int32_t>(std::floor(static_cast<double>(rows) / a.poolStep));
        g.pooledCols = static_cast<int32_t>(std::floor(static_cast<double>(cols) / a.poolStep));
        int32_t ar = roundHalfUp(a.anchorRows[image]);
        int32_t ac = roundHalfUp(a.anchorCols[image]);
        int32_t cx = (ar + centerRowOffset) * a.poolStep;
        int32_t cy = (ac + centerColOffset) * a.poolStep;
        float n = 1.0f;
        if (cx >= 1 && cx <= rows && cy >= 1 && cy <= cols) n = a.normalizerMaps[image][cmIndex(cx, cy, rows)];
        if (n == 0.0f) n = 1.0f;
        for (int32_t k = 0; k < a.elementCount; ++k) {
            int32_t o = roundHalfUp(a.elementOrients[k]);
            int32_t dr = roundHalfUp(a.elementRowOffsets[k]);
            int32_t dc = roundHalfUp(a.elementColOffsets[k]);
            double w = a.elementWeights[k];
            double b = a.elementBiases[k];
            int32_t x = ar + dr;
            if (x < 1 || x > g.pooledRows) continue;
            int32_t y = ac + dc;
            if (y < 1 || y > g.pooledCols) continue;
            int32_t p = cmIndex(x, y, g.pooledRows);
            int32_t c = image + o * a.imageCount;
            int32_t slot = roundHalfUp(a.traceMaps[c][p]);
            int32_t os = t.shiftedOrient[o][slot];
            int32_t xs = x * a.poolStep + t.rowShift[o][slot];
            int32_t ys = y * a.poolStep + t.colShift[o][slot];
            float r = a.pooledMaps[c][p];
            if (!(r > 0.0f)) continue;
            float v = static_cast<float>(static_cast<double>(r) / n);
            double e = std::exp((-2.0 * v) / a.saturationLevel);
            float tv = static_cast<float>(a.saturationLevel * ((2.0 / (e + 1.0)) - 1.0));
            stampElement(a.imageSketches[image], rows, cols, a.orientStamps, h, os, xs, ys,
                         std::sqrt(static_cast<double>(tv)));
            inhibitAround(t, g, image, os, xs, ys, nullptr);
            a.imageScores[image] = static_cast<float>(a.imageScores[image] + (w * tv - b));
        }
    }
}

// quillon's arguments, in its order (the unused argument 4 left out). The pool window must
// hold a pooled sum above -1e10 for the first element, and the lookup keys must ascend: the
// plug-in refuses other calls.
struct LearnCall {
    int32_t orientCount, posShiftMax, orientShiftMax, poolStep, elementCount, imageCount, mapRows, mapCols;
    float* const* responseMaps;
    float* const* pooledMaps;
    float* const* traceMaps;
    int32_t filterHalf;
    const double* const* overlapTable;
    const double* const* orientStamps;
    int32_t tableLength;
    const double *weightTable, *meanResponseTable, *biasTable;
    double *elementOrients, *elementX, *elementY, *elementWeights, *elementBiases;
    double* imageScores;
    float* commonSketch;
    float* const* imageSketches;
};

// quillon's kernel, step by step; returns what it prints, one line per element. A mean below
// the first key copies the first entry, the plug-in's choice.
inline std::string quillon(const LearnCall& a) {
    std::string printed;
    int32_t pooledRows = static_cast<int32_t>(std::floor(static_cast<double>(a.mapRows) / a.poolStep));
    int32_t pooledCols = static_cast<int32_t>(std::floor(static_cast<double>(a.mapCols) / a.poolStep));
    Shifts t = buildShifts(a.orientCount, a.posShiftMax, a.orientShiftMax, a.poolStep);
    int32_t h = a.filterHalf;
    int32_t rowLo = ((h + 1) / a.poolStep) + 1 + a.posShiftMax;
    int32_t rowHi = ((a.mapRows - h) / a.poolStep) - 1 - a.posShiftMax;
    int32_t colLo = ((h + 1) / a.poolStep) + 1 + a.posShiftMax;
    int32_t colHi = ((a.mapCols - h) / a.poolStep) - 1 - a.posShiftMax;
    InhibitMaps g{a.responseMaps, a.pooledMaps, a.traceMaps, a.overlapTable, a.imageCount, a.orientCount, h,
                  a.posShiftMax, a.poolStep, a.mapRows, a.mapCols, pooledRows, pooledCols, rowLo, rowHi,
                  colLo, colHi};
    std::vector<std::vector<float>> summed(a.orientCount, std::vector<float>(pooledRows * pooledCols, 0.0f));
    std::vector<float*> summedMaps;
    for (auto& row : summed) summedMaps.push_back(row.data());
    for (int32_t px = rowLo; px <= rowHi; ++px) {
        for (int32_t py = colLo; py <= colHi; ++py) {
            int32_t k = cmIndex(px, py, pooledRows);
            for (int32_t o = 0; o < a.orientCount; ++o) {
                summedMaps[o][k] = 0.0f;
                for (int32_t image = 0; image < a.imageCount; ++image) {
                    summedMaps[o][k] = static_cast<float>(static_cast<double>(summedMaps[o][k]) +
                                                          a.pooledMaps[image + o * a.imageCount][k]);
                }
            }
        }
    }
    int32_t orient = 0, row = 0, col = 0;
    int32_t e = 0;
    do {
        float best = noResponse;
        for (int32_t px = rowLo; px <= rowHi; ++px) {
            for (int32_t py = colLo; py <= colHi; ++py) {
                for (int32_t o = 0; o < a.orientCount; ++o) {
                    float v = summedMaps[o][cmIndex(px, py, pooledRows)];
                    if (v > best) {
                        best = v;
                        orient = o;
                        row = px;
                        col = py;
                    }
                }
            }
        }
        a.elementOrients[e] = orient;
        a.elementX[e] = row;
        a.elementY[e] = col;
        float meanResponse = static_cast<float>(static_cast<double>(best) / static_cast<float>(a.imageCount));
        const double* K = a.meanResponseTable;
        const double* W = a.weightTable;
        const double* B = a.biasTable;
        int32_t L = a.tableLength;
        int32_t j = L - 1;
        while (j >= 0 && meanResponse < K[j]) j = j - 1;
        if (j < 0) {
            a.elementWeights[e] = W[0];
            a.elementBiases[e] = B[0];
        } else if (j == L - 1) {
            a.elementWeights[e] = W[L - 1];
            a.elementBiases[e] = B[L - 1];
        } else {
            float u = static_cast<float>((meanResponse - K[j]) / (K[j + 1] - K[j]));
            a.elementWeights[e] = W[j] + (W[j + 1] - W[j]) * u;
            a.elementBiases[e] = B[j] + (B[j + 1] - B[j]) * u;
        }
        stampElement(a.commonSketch, a.mapRows, a.mapCols, a.orientStamps, h, orient, row * a.poolStep,
                     col * a.poolStep, std::sqrt(static_cast<double>(meanResponse)));
        int32_t k = cmIndex(row, col, pooledRows);
        for (int32_t image = 0; image < a.imageCount; ++image) {
            int32_t c = image + orient * a.imageCount;
            float r = a.pooledMaps[c][k];
            a.imageScores[image] = a.imageScores[image] + (a.elementWeights[e] * r - a.elementBiases[e]);
            int32_t s = roundHalfUp(a.traceMaps[c][k]);
            int32_t os = t.shiftedOrient[orient][s];
            int32_t xs = row * a.poolStep + t.rowShift[orient][s];
            int32_t ys = col * a.poolStep + t.colShift[orient][s];
            if (r > 0.0f) {
                stampElement(a.imageSketches[image], a.mapRows, a.mapCols, a.orientStamps, h, os, xs, ys,
                             std::sqrt(static_cast<double>(r)));
                inhibitAround(t, g, image, os, xs, ys, summedMaps.data());
            }
        }
        char line[160];
        std::snprintf(line, sizeof line, "%d:  (orient = %d   x = %d   y = %d) --> %f\n", e, orient, row, col,
                      a.elementWeights[e]);
        printed += line;
        e = e + 1;
    } while (e < a.elementCount);
    return printed;
}

}  // namespace plaindetect
