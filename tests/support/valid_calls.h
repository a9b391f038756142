// One valid call of every plug-in, described so that any number of identical copies can be
// made: shared by the tests that cover every plug-in at once (repeatability, refusals) and by
// the fuzzers, which disturb these calls.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "minihost.h"

namespace validcalls {

// One argument of a call: a scalar, a row of doubles or singles, or a cell list of `cells`
// arrays of `count` values drawn uniformly from [low, high) (all `low` when low == high).
struct ArgShape {
    enum class Kind { scalar, doubleRow, singleRow, cellList } kind;
    std::vector<double> values;
    int cells = 0;
    int count = 0;
    mxClassID valueClass = mxDOUBLE_CLASS;
    double low = 0;
    double high = 0;
};

inline ArgShape num(double value) { return ArgShape{ArgShape::Kind::scalar, {value}}; }
inline ArgShape row(const std::vector<double>& values) { return ArgShape{ArgShape::Kind::doubleRow, values}; }
inline ArgShape singleRow(int count) {
    return ArgShape{ArgShape::Kind::singleRow, std::vector<double>(count, 0.0)};
}
inline ArgShape cellsOf(int cells, int count, mxClassID valueClass, double low, double high) {
    return ArgShape{ArgShape::Kind::cellList, {}, cells, count, valueClass, low, high};
}
inline ArgShape singles(int cells, int count, double low = 0, double high = 0) {
    return cellsOf(cells, count, mxSINGLE_CLASS, low, high);
}
inline ArgShape doubles(int cells, int count, double low = 0, double high = 0) {
    return cellsOf(cells, count, mxDOUBLE_CLASS, low, high);
}

// n values from `first` up in steps of `step`: an image that is not flat.
inline std::vector<double> ramp(int n, double first, double step) {
    std::vector<double> values(n);
    for (int k = 0; k < n; ++k) values[k] = first + step * k;
    return values;
}

struct PluginCall {
    const char* plugin;
    std::vector<ArgShape> args;
    // The arguments a call may stop after, besides all of them (0: none): those past it form
    // one optional group.
    size_t optionalFrom = 0;
};

// Valid calls of every plug-in: two images of 12 x 10 pixels (6 x 5 pooled with step 2) and
// two orientations wherever the plug-in takes them; quillon learns on 16 x 14 maps; filtrum
// filters one such image with two filters of 3 x 3.
inline const std::vector<PluginCall>& everyPlugin() {
    static const std::vector<PluginCall> calls = {
        {"fennock", {num(2), row({12, 12}), row({10, 10}), num(2), num(1.5), singles(4, 120, -3, 3)}},
        {"somvert", {num(12), num(10), num(2), num(1), num(2), num(2), singles(2, 120, 0, 3), num(0.1)}},
        {"somvertwide", {num(12), num(10), num(2), num(1), num(2), num(2), doubles(2, 120, 0, 3), num(0.1)}},
        {"brelind", {num(2), row({12, 12}), row({10, 10}), num(2), num(1), singles(4, 120, 0, 3), singles(2, 120),
                     num(2), num(2), num(1), num(0.1)}},
        {"cobrint", {num(2), num(2), doubles(4, 120, -3, 3), num(1), num(12), num(10), num(0.25), num(8),
                     row(std::vector<double>(8, 0.0)), num(1.5)}},
        {"vindral", {num(2), row({12, 12}), row({10, 10}), num(2), num(1), num(1), num(2), singles(4, 120, -3, 3),
                     singles(4, 30), singles(4, 30)}},
        {"gastrel", {num(2), row({12, 12}), row({10, 10}), num(2), num(2), num(4), num(4), num(3), row({0, 1, 1}),
                     row({0, 1, 2}), row({1, 0, 2}), row({1, 2, 0.5}), row({0.1, 0.2, 0.3}), singles(4, 30, -1, 2),
                     singles(2, 56), singles(2, 120, 0.5, 2), num(1.5)}},
        {"gastrelblock", {num(2), row({12, 12}), row({10, 10}), num(2), num(2), num(4), num(4), num(3), row({0, 1, 1}),
                          row({0, 1, 2}), row({1, 0, 2}), row({1, 2, 0.5}), row({0.1, 0.2, 0.3}), singles(4, 30, -1, 2),
                          singles(2, 56), singles(2, 120, 0.5, 2), num(1.5), row({-1, 2}), row({4, 3}), row({0, NAN}),
                          row({5, 2})}},
        {"lurvane", {num(2), row({12, 12}), row({10, 10}), num(2), num(4), num(4), singles(2, 56, -1, 5), singleRow(2),
                     row({0, 0}), row({0, 0})}},
        {"lurvaneveto", {num(2), row({12, 12}), row({10, 10}), num(2), num(4), num(4), singles(2, 56, -1, 5),
                         singleRow(2), row({0, NAN}), row({1, NAN}), row({1, 0.5}), row({1, 0.5}), num(5), num(4),
                         row({3, 0}), row({-1, 2}), row({4, 3}), row({0, NAN}), row({5, 2})}},
        {"quillon", {num(2), num(1), num(1), num(0), num(2), num(2), num(2), num(16), num(14), singles(4, 224, 0, 2),
                     singles(4, 56, 0, 2), singles(4, 56), num(1), doubles(4, 25, 0, 1), doubles(2, 9, 0, 1), num(3),
                     row({0, 10, 20}), row({0, 1, 2}), row({0, 1, 4}), row({0, 0}), row({0, 0}), row({0, 0}),
                     row({0, 0}), row({0, 0}), row({0, 0}), singleRow(224), singles(2, 224)}},
        {"tarrow", {num(2), row({12, 12}), row({10, 10}), num(2), num(1), num(1), num(2), num(1), doubles(2, 9, 0, 1),
                    num(3), row({0, 1, 1}), row({0, 1, 2}), row({1, 0, 2}), singles(4, 30, -1, 2), singles(4, 30),
                    singles(2, 120), row({1, 2}), row({1, 1}), num(1.5)}},
        {"filtrum", {num(12), num(10), num(2), num(1), row(ramp(120, -1, 0.025)), doubles(2, 9, -1, 1),
                     doubles(2, 9, -1, 1), singles(2, 120)}},
        {"crossum", {num(3), num(2), num(2), row({1, 2, 3, 4, 5, 6}), row({1, 0, 2, -1, 1, 0.5}),
                     row(std::vector<double>(4))}},
        {"scalum", {num(12), num(10), num(6), num(5), row(ramp(120, 0, 0.01)), row({2, 1, 1, 2, 1}),
                    row({1, 2, 3, 5, 6, 7, 10}), row({0.5, 0.5, 1, 1, 0.25, 0.75, 1}), row({1, 1, 2, 1, 1, 1}),
                    row({1, 3, 4, 6, 8, 10, 12}), row({1, 1, 0.5, 0.5, 1, 1, 1}), row(std::vector<double>(30))}},
        {"cellum", {num(6), num(2), num(2), num(1), row(ramp(72, 0, 0.02)), doubles(2, 9, -1, 1), doubles(2, 9, -1, 1),
                    num(2), num(3), row(std::vector<double>(36))}},
        {"tarrowveto", {num(2), row({12, 12}), row({10, 10}), num(2), num(1), num(1), num(2), num(1),
                        doubles(2, 9, 0, 1), num(3), row({0, 1, 1}), row({0, 1, 2}), row({1, 0, 2}), row({1, 2, 0.5}),
                        row({0.1, 0.2, 0.3}), singles(4, 120, 0, 2), singles(4, 30, 0, 2), singles(4, 30),
                        singles(2, 120), row({1, 2}), row({1, 1}), num(1.5), num(4), num(4), doubles(4, 25, 0, 1),
                        singleRow(2), singles(2, 120, 0.5, 2)}},
        {"tarrowvetoblock", {num(2), row({12, 12}), row({10, 10}), num(2), num(1), num(1), num(2), num(1),
                             doubles(2, 9, 0, 1), num(3), row({0, 1, 1}), row({0, 1, 2}), row({1, 0, 2}),
                             row({1, 2, 0.5}), row({0.1, 0.2, 0.3}), singles(4, 120, 0, 2), singles(4, 30, 0, 2),
                             singles(4, 30), singles(2, 120), row({1, 2}), row({1, 1}), num(1.5), num(4), num(4),
                             doubles(4, 25, 0, 1), singleRow(2), singles(2, 120, 0.5, 2), singles(2, 56),
                             row({-1, 2}), row({4, NAN}), row({0, 1}), row({5, 3}), num(2), num(2), num(1), num(3),
                             num(4), singles(2, 12), singles(2, 12)},
         32},
    };
    return calls;
}

// The valid call of a plug-in, or null when the table has none.
inline const PluginCall* validCallOf(const std::string& plugin) {
    for (const PluginCall& call : everyPlugin()) {
        if (plugin == call.plugin) return &call;
    }
    return nullptr;
}

// Fresh arrays for every argument of a call; the random values depend only on `seed`.
struct BuiltCall {
    std::vector<minihost::Array> arrays;
    std::vector<const mxArray*> args() const {
        std::vector<const mxArray*> handles;
        for (const minihost::Array& array : arrays) handles.push_back(array.get());
        return handles;
    }
};

inline minihost::Array filledArray(int count, mxClassID valueClass, double low, double high, std::mt19937& engine) {
    minihost::Array array(mxCreateNumericMatrix(count, 1, valueClass, mxREAL));
    std::uniform_real_distribution<double> draw(low, high);
    for (int k = 0; k < count; ++k) {
        double value = low == high ? low : draw(engine);
        if (valueClass == mxSINGLE_CLASS) minihost::singleData(array.get())[k] = static_cast<float>(value);
        else minihost::doubleData(array.get())[k] = value;
    }
    return array;
}

// The arrays of one argument.
inline minihost::Array buildArg(const ArgShape& shape, std::mt19937& engine) {
    int length = static_cast<int>(shape.values.size());
    switch (shape.kind) {
    case ArgShape::Kind::scalar: return minihost::scalar(shape.values[0]);
    case ArgShape::Kind::doubleRow: return minihost::doubles(1, length, shape.values);
    case ArgShape::Kind::singleRow: return minihost::singles(1, length);
    case ArgShape::Kind::cellList: break;
    }
    minihost::Array cell = minihost::cellArray(1, shape.cells);
    for (int c = 0; c < shape.cells; ++c) {
        minihost::putCell(cell.get(), c, filledArray(shape.count, shape.valueClass, shape.low, shape.high, engine));
    }
    return cell;
}

inline BuiltCall build(const PluginCall& call, uint32_t seed) {
    std::mt19937 engine(seed);
    BuiltCall built;
    for (const ArgShape& shape : call.args) built.arrays.push_back(buildArg(shape, engine));
    return built;
}

// The bytes of an array's data (real part, then imaginary part; a sparse array's nzmax
// values), and of every array in its cells in order, recursively; an unset cell adds nothing.
inline void appendBytes(const mxArray* array, std::vector<std::vector<unsigned char>>& bytes) {
    if (array == nullptr) return;
    if (mxIsCell(array)) {
        for (size_t c = 0; c < mxGetNumberOfElements(array); ++c) appendBytes(mxGetCell(array, c), bytes);
        return;
    }
    size_t count = mxIsSparse(array) ? mxGetNzmax(array) : mxGetNumberOfElements(array);
    size_t length = count * mxGetElementSize(array);
    const auto* data = static_cast<const unsigned char*>(mxGetData(array));
    bytes.emplace_back(data, data + length);
    if (mxIsComplex(array)) {
        const auto* imag = static_cast<const unsigned char*>(mxGetImagData(array));
        bytes.emplace_back(imag, imag + length);
    }
}

}  // namespace validcalls
