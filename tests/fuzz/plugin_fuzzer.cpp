// The libFuzzer target of one plug-in, named by the compile definition FUZZ_PLUGIN: the same
// source serves every plug-in found under plugins/. The input decides the call: about half of
// the inputs disturb the plug-in's valid call from tests/support/valid_calls.h (one to three
// changes: a value, a map's contents, a length, a class, complex or sparse data, an unset or
// nested cell, shared data, too few or too many arguments, requested outputs), the others build
// arguments of every kind from scratch. Every call must either run or be refused with an id
// "<plugin>:..."; a refused call must leave every array of the caller bit for bit as it was;
// no call may let another exception escape, write outside the arrays (the host's guard bytes,
// poisoned under AddressSanitizer) or keep host memory. ASan, UBSan and LeakSanitizer report
// the rest, and libFuzzer any hang (-timeout).

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "minihost.h"
#include "valid_calls.h"

#ifdef _OPENMP
#include <omp.h>
#endif

#ifndef FUZZ_PLUGIN
#error "FUZZ_PLUGIN must name the plug-in to fuzz"
#endif

namespace {

const char* const pluginName = FUZZ_PLUGIN;

// Size limits that keep every call fast: values of one generated array (at most 1024 for one
// made from scratch), cells of one cell array, arguments of a call.
const size_t maxValues = 4096;
const size_t maxCells = 16;
const size_t maxArgs = 32;

// Reads the input from the front; past its end every read gives 0.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return used_ < size_ ? data_[used_++] : 0; }
    // 0 ... n-1 (n >= 1), from one byte, or two when n exceeds 256.
    uint32_t below(uint32_t n) {
        uint32_t raw = byte();
        if (n > 256) raw = raw << 8 | byte();
        return raw % n;
    }
    uint64_t bits64() {
        uint64_t raw = 0;
        for (int k = 0; k < 8; ++k) raw = raw << 8 | byte();
        return raw;
    }

    // A number for a scalar or an entry: mostly small integers, often the edges that argument
    // checks must catch (NaN, infinities, halves, 32-bit and 2^53 edges, huge and tiny values),
    // sometimes any bit pattern.
    double number() {
        static const double specials[] = {
            std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity(), -0.0, 0.5, 1.5, 2.5, -0.5, -1.5, 0.49999999999999994,
            1e300, -1e300, 1e10, 2147483647.0, 2147483647.5, 2147483646.5, 2147483648.0, -2147483648.0,
            -2147483648.5, -2147483649.0, 4294967296.0, 9007199254740992.0, 3.4028234663852886e38, 1e-310,
            65535, 65536, 46341, 1e5, 1e6, 1e7, 1e8, 1e9, 268435456, 0.25, -1e-300, 11584, 11585, 1e-45};
        uint8_t kind = byte();
        if (kind < 112) return static_cast<double>(kind % 24) - 2.0;
        if (kind < 224) return specials[kind % (sizeof specials / sizeof specials[0])];
        if (kind < 240) return static_cast<double>(static_cast<int8_t>(byte())) + byte() / 256.0;
        double value;
        uint64_t raw = bits64();
        std::memcpy(&value, &raw, sizeof value);
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

// An argument before it becomes arrays, so that it can be changed freely first.
struct Node {
    enum class Kind { numeric, cell, unset, text, logical } kind = Kind::numeric;
    mxClassID classId = mxDOUBLE_CLASS;  // numeric: double, single or int32
    bool complex = false;
    bool sparse = false;                 // numeric doubles: `values` are the stored values
    std::vector<size_t> dims{1, 1};
    std::vector<double> values;
    std::vector<Node> cells;

    size_t elementCount() const {
        size_t count = 1;
        for (size_t d : dims) count *= d;
        return count;
    }
};

Node scalarNode(double value) {
    Node node;
    node.values = {value};
    return node;
}

Node numericNode(mxClassID classId, std::vector<double> values, bool column) {
    Node node;
    node.classId = classId;
    node.dims = column ? std::vector<size_t>{values.size(), 1} : std::vector<size_t>{1, values.size()};
    node.values = std::move(values);
    return node;
}

Node cellNode(std::vector<Node> cells) {
    Node node;
    node.kind = Node::Kind::cell;
    node.dims = {1, cells.size()};
    node.cells = std::move(cells);
    return node;
}

// The arguments of one call and what the host is asked for.
struct Call {
    std::vector<Node> args;
    int nlhs = 0;
    // Sharing: argument `target` (its cell targetCell, or itself for -1) becomes a copy that
    // shares the data of argument `source` (its cell sourceCell, or itself).
    struct Share {
        size_t target;
        int targetCell;
        size_t source;
        int sourceCell;
    };
    std::vector<Share> shares;
};

// ---------------------------------------------------------------- values

// Values for an array of n: zeros, one number, a ramp, uniform draws, or a few given values
// then zeros.
std::vector<double> fillValues(Input& in, size_t n) {
    std::vector<double> values(n, 0.0);
    switch (in.below(6)) {
    case 0: break;
    case 1: {
        double value = in.number();
        for (double& v : values) v = value;
        break;
    }
    case 2: {
        double start = in.number();
        double step = in.number();
        for (size_t k = 0; k < n; ++k) values[k] = start + step * static_cast<double>(k);
        break;
    }
    case 3:
    case 4: {
        std::mt19937 engine(in.byte());
        double low = in.below(2) == 0 ? -3.0 : 0.0;
        double high = 1.0 + in.below(8);
        std::uniform_real_distribution<double> draw(low, high);
        for (double& v : values) v = draw(engine);
        break;
    }
    default:
        for (size_t k = 0; k < n && k < 8; ++k) values[k] = in.number();
        break;
    }
    return values;
}

size_t lengthFrom(Input& in) {
    // Mostly short, sometimes a few thousand values.
    switch (in.below(4)) {
    case 0: return in.below(4);
    case 1:
    case 2: return in.below(160);
    default: return in.below(1025);
    }
}

Node randomNode(Input& in, int depth);

Node randomCellList(Input& in, int depth) {
    size_t cellCount = in.below(maxCells + 1);
    mxClassID classId = in.below(3) == 0 ? mxDOUBLE_CLASS : mxSINGLE_CLASS;
    size_t length = lengthFrom(in);
    std::vector<Node> cells;
    for (size_t c = 0; c < cellCount; ++c) {
        uint8_t odd = in.below(16);
        if (odd == 0) cells.push_back(randomNode(in, depth + 1));
        else cells.push_back(numericNode(classId, fillValues(in, length), true));
    }
    Node node = cellNode(std::move(cells));
    if (in.below(4) == 0 && cellCount > 0 && cellCount % 2 == 0) node.dims = {2, cellCount / 2};
    return node;
}

Node randomNode(Input& in, int depth) {
    switch (in.below(14)) {
    case 0:
    case 1:
    case 2: return scalarNode(in.number());
    case 3: return numericNode(mxDOUBLE_CLASS, fillValues(in, lengthFrom(in)), in.below(2) == 0);
    case 4: return numericNode(mxSINGLE_CLASS, fillValues(in, lengthFrom(in)), in.below(2) == 0);
    case 5:
    case 6: return randomCellList(in, depth);
    case 7: return numericNode(mxINT32_CLASS, fillValues(in, in.below(4)), false);
    case 8: {
        Node node = scalarNode(in.number());
        node.kind = Node::Kind::logical;
        return node;
    }
    case 9: {
        Node node;
        node.kind = Node::Kind::text;
        node.dims = {1, 3};
        return node;
    }
    case 10: {
        Node node = numericNode(mxDOUBLE_CLASS, {}, false);
        node.dims = {in.below(2) * in.below(9), in.below(2) * in.below(9)};
        if (node.elementCount() != 0) node.dims[0] = 0;
        return node;
    }
    case 11: {
        if (depth >= 2) return scalarNode(in.number());
        return cellNode({randomNode(in, depth + 1)});
    }
    case 12: {
        Node node = randomNode(in, depth + 1);
        if (node.kind == Node::Kind::numeric) {
            if (in.below(2) == 0) node.complex = true;
            else node.sparse = node.classId == mxDOUBLE_CLASS;
        }
        return node;
    }
    default: {
        // A three-dimensional array.
        size_t a = 1 + in.below(6), b = 1 + in.below(6), c = 1 + in.below(6);
        Node node = numericNode(in.below(2) == 0 ? mxDOUBLE_CLASS : mxSINGLE_CLASS, fillValues(in, a * b * c), false);
        node.dims = {a, b, c};
        return node;
    }
    }
}

// ---------------------------------------------------------------- the valid call, disturbed

Node nodeOf(const validcalls::ArgShape& shape, std::mt19937& engine) {
    using Kind = validcalls::ArgShape::Kind;
    switch (shape.kind) {
    case Kind::scalar: return scalarNode(shape.values[0]);
    case Kind::doubleRow: return numericNode(mxDOUBLE_CLASS, shape.values, false);
    case Kind::singleRow: return numericNode(mxSINGLE_CLASS, shape.values, false);
    case Kind::cellList: break;
    }
    std::vector<Node> cells;
    std::uniform_real_distribution<double> draw(shape.low, shape.high);
    for (int c = 0; c < shape.cells; ++c) {
        std::vector<double> values(shape.count);
        for (double& v : values) {
            double drawn = shape.low == shape.high ? shape.low : draw(engine);
            v = shape.valueClass == mxSINGLE_CLASS ? static_cast<float>(drawn) : drawn;
        }
        cells.push_back(numericNode(shape.valueClass, std::move(values), true));
    }
    return cellNode(std::move(cells));
}

// The numeric node that a change of values or length works on: the argument itself, or one
// of its cells (chosen by the input) when it is a cell array.
Node* pickData(Input& in, Node& arg) {
    if (arg.kind != Node::Kind::cell) return &arg;
    if (arg.cells.empty()) return nullptr;
    return &arg.cells[in.below(static_cast<uint32_t>(arg.cells.size()))];
}

void resize(Node& node, size_t count) {
    node.values.resize(count, 0.0);
    if (node.dims.size() != 2 || (node.dims[0] != 1 && node.dims[1] != 1)) node.dims = {count, 1};
    else if (node.dims[0] == 1) node.dims[1] = count;
    else node.dims[0] = count;
}

void disturb(Input& in, Call& call) {
    if (call.args.empty()) return;
    size_t position = in.below(static_cast<uint32_t>(call.args.size()));
    Node& arg = call.args[position];
    switch (in.below(13)) {
    case 0: arg = randomNode(in, 0); break;
    case 1:
    case 2: {
        // One value, of the argument or of one of its cells.
        Node* data = pickData(in, arg);
        if (data == nullptr || data->values.empty()) break;
        data->values[in.below(static_cast<uint32_t>(data->values.size()))] = in.number();
        break;
    }
    case 3: {
        // A run of values: NaN or negative patches in a map, traces that are no slots, ...
        Node* data = pickData(in, arg);
        if (data == nullptr || data->values.empty()) break;
        size_t start = in.below(static_cast<uint32_t>(data->values.size()));
        std::vector<double> run = fillValues(in, 1 + in.below(64));
        for (size_t k = 0; k < run.size() && start + k < data->values.size(); ++k) data->values[start + k] = run[k];
        break;
    }
    case 4: {
        // A length: one value fewer or more, none, or twice as many.
        if (arg.kind == Node::Kind::cell && in.below(2) == 0) {
            size_t count = arg.cells.size();
            switch (in.below(3)) {
            case 0: if (count > 0) arg.cells.pop_back(); break;
            case 1: arg.cells.clear(); break;
            default: arg.cells.push_back(arg.cells.empty() ? scalarNode(1) : arg.cells.back()); break;
            }
            arg.dims = {1, arg.cells.size()};
            break;
        }
        Node* data = pickData(in, arg);
        if (data == nullptr || data->kind != Node::Kind::numeric || data->sparse) break;
        size_t count = data->values.size();
        switch (in.below(4)) {
        case 0: resize(*data, count > 0 ? count - 1 : 0); break;
        case 1: resize(*data, count + 1); break;
        case 2: resize(*data, 0); break;
        default: resize(*data, std::min(2 * count, maxValues)); break;
        }
        break;
    }
    case 5: {
        // A class: single for double and back, int32, logical, text, or an array where a cell
        // belongs.
        if (arg.kind == Node::Kind::cell && in.below(3) == 0) {
            std::vector<double> values;
            for (const Node& cell : arg.cells) values.insert(values.end(), cell.values.begin(), cell.values.end());
            if (values.size() > maxValues) values.resize(maxValues);
            arg = numericNode(mxSINGLE_CLASS, std::move(values), true);
            break;
        }
        Node* data = pickData(in, arg);
        if (data == nullptr || data->kind != Node::Kind::numeric) break;
        switch (in.below(4)) {
        case 0: data->classId = data->classId == mxSINGLE_CLASS ? mxDOUBLE_CLASS : mxSINGLE_CLASS; break;
        case 1: data->classId = mxINT32_CLASS; break;
        case 2: data->kind = data->values.size() == 1 ? Node::Kind::logical : Node::Kind::text; break;
        default: *data = cellNode({*data}); break;  // a cell where an array belongs
        }
        data->sparse = data->sparse && data->classId == mxDOUBLE_CLASS;
        break;
    }
    case 6: {
        Node* data = pickData(in, arg);
        if (data == nullptr || data->kind != Node::Kind::numeric) break;
        if (in.below(2) == 0) data->complex = !data->complex;
        else if (data->classId == mxDOUBLE_CLASS) data->sparse = !data->sparse;
        break;
    }
    case 7: {
        // An unset (null) cell, or a cell nested in a cell.
        if (arg.kind != Node::Kind::cell || arg.cells.empty()) break;
        Node& cell = arg.cells[in.below(static_cast<uint32_t>(arg.cells.size()))];
        if (in.below(2) == 0) cell.kind = Node::Kind::unset;
        else cell = cellNode({cell});
        break;
    }
    case 8: {
        // Shared data: this argument (or one of its cells) becomes a copy of another's data.
        size_t source = in.below(static_cast<uint32_t>(call.args.size()));
        int targetCell = arg.kind == Node::Kind::cell && !arg.cells.empty()
                             ? static_cast<int>(in.below(static_cast<uint32_t>(arg.cells.size())))
                             : -1;
        const Node& from = call.args[source];
        int sourceCell = from.kind == Node::Kind::cell && !from.cells.empty()
                             ? static_cast<int>(in.below(static_cast<uint32_t>(from.cells.size())))
                             : -1;
        call.shares.push_back(Call::Share{position, targetCell, source, sourceCell});
        break;
    }
    case 9: {
        // Too few arguments, or more than named.
        if (in.below(2) == 0) call.args.resize(in.below(static_cast<uint32_t>(call.args.size())));
        else {
            size_t extra = 1 + in.below(3);
            for (size_t k = 0; k < extra && call.args.size() < maxArgs; ++k) call.args.push_back(randomNode(in, 0));
        }
        break;
    }
    case 10: call.nlhs = 1 + static_cast<int>(in.below(3)); break;
    case 11: {
        // A scalar nudged: counts and sizes one off, doubled, halved or zero.
        if (arg.kind != Node::Kind::numeric || arg.values.size() != 1) break;
        double& v = arg.values[0];
        switch (in.below(5)) {
        case 0: v += 1; break;
        case 1: v -= 1; break;
        case 2: v *= 2; break;
        case 3: v = std::floor(v / 2); break;
        default: v = 0; break;
        }
        break;
    }
    default: {
        // A shape: a row for a column and back, a matrix, or cells in a column.
        Node* data = arg.kind == Node::Kind::cell && in.below(2) == 0 ? &arg : pickData(in, arg);
        if (data == nullptr) break;
        size_t count = data->kind == Node::Kind::cell ? data->cells.size() : data->values.size();
        if (data->kind == Node::Kind::numeric && data->sparse) break;
        switch (in.below(3)) {
        case 0: data->dims = {count, 1}; break;
        case 1: data->dims = {1, count}; break;
        default:
            if (count % 2 == 0) data->dims = {2, count / 2};
            break;
        }
        break;
    }
    }
}

// ---------------------------------------------------------------- arrays

double clampToSingle(double v) {
    if (std::isnan(v)) return v;
    const double largest = std::numeric_limits<float>::max();
    return v > largest ? std::numeric_limits<double>::infinity()
                       : v < -largest ? -std::numeric_limits<double>::infinity() : v;
}

int32_t toInt32(double v) {
    if (!std::isfinite(v)) return 0;
    return v >= 2147483647.0 ? INT32_MAX : v <= -2147483648.0 ? INT32_MIN : static_cast<int32_t>(v);
}

void writeValues(void* data, mxClassID classId, const std::vector<double>& values, size_t count) {
    for (size_t k = 0; k < count; ++k) {
        double v = k < values.size() ? values[k] : 0.0;
        switch (classId) {
        case mxSINGLE_CLASS: static_cast<float*>(data)[k] = static_cast<float>(clampToSingle(v)); break;
        case mxINT32_CLASS: static_cast<int32_t*>(data)[k] = toInt32(v); break;
        default: static_cast<double*>(data)[k] = v; break;
        }
    }
}

mxArray* materialize(const Node& node) {
    switch (node.kind) {
    case Node::Kind::unset: return nullptr;
    case Node::Kind::text: return mxCreateString("abc");
    case Node::Kind::logical: return mxCreateLogicalScalar(!node.values.empty() && node.values[0] != 0);
    case Node::Kind::cell: {
        size_t rows = node.dims[0];
        size_t cols = node.cells.size() / (rows == 0 ? 1 : rows);
        if (rows * cols != node.cells.size()) {
            rows = 1;
            cols = node.cells.size();
        }
        mxArray* cell = mxCreateCellMatrix(rows, cols);
        for (size_t c = 0; c < node.cells.size(); ++c) mxSetCell(cell, c, materialize(node.cells[c]));
        return cell;
    }
    case Node::Kind::numeric: break;
    }
    mxComplexity complexity = node.complex ? mxCOMPLEX : mxREAL;
    if (node.sparse) {
        size_t rows = node.dims[0];
        size_t cols = node.elementCount() / (rows == 0 ? 1 : rows);
        mxArray* array = mxCreateSparse(rows, cols, node.values.size(), complexity);
        writeValues(mxGetData(array), mxDOUBLE_CLASS, node.values, node.values.size());
        return array;
    }
    mxArray* array = mxCreateNumericArray(node.dims.size(), node.dims.data(), node.classId, complexity);
    size_t count = mxGetNumberOfElements(array);
    writeValues(mxGetData(array), node.classId, node.values, count);
    if (node.complex) {
        std::vector<double> imaginary(count, 1.0);
        writeValues(mxGetImagData(array), node.classId, imaginary, count);
    }
    return array;
}

// The numeric array of argument `position`, or of its cell `cell`; null when that is none.
mxArray* dataArray(const std::vector<minihost::Array>& arrays, size_t position, int cell) {
    if (position >= arrays.size()) return nullptr;
    mxArray* array = arrays[position].get();
    if (cell >= 0) {
        if (!mxIsCell(array) || static_cast<size_t>(cell) >= mxGetNumberOfElements(array)) return nullptr;
        array = mxGetCell(array, cell);
    }
    return array != nullptr && !mxIsCell(array) ? array : nullptr;
}

// Applies the sharing changes in order. A change is skipped where it would destroy the data of
// an earlier shared copy, or make an argument a copy of its own cell's data.
void applyShares(const Call& call, std::vector<minihost::Array>& arrays) {
    std::vector<std::pair<size_t, int>> sources;
    auto isSource = [&](size_t position, int cell) {
        for (const auto& used : sources) {
            if (used.first == position && (cell < 0 || used.second == cell)) return true;
        }
        return false;
    };
    for (const Call::Share& share : call.shares) {
        mxArray* source = dataArray(arrays, share.source, share.sourceCell);
        if (source == nullptr || share.target >= arrays.size()) continue;
        if (share.source == share.target && (share.sourceCell == share.targetCell || share.targetCell < 0)) continue;
        if (isSource(share.target, share.targetCell)) continue;
        if (share.targetCell < 0) {
            arrays[share.target] = minihost::sharedCopy(source);
        } else if (mxIsCell(arrays[share.target].get()) &&
                   static_cast<size_t>(share.targetCell) < mxGetNumberOfElements(arrays[share.target].get())) {
            mxSetCell(arrays[share.target].get(), share.targetCell, minihost::sharedCopy(source).release());
        } else {
            continue;
        }
        sources.emplace_back(share.source, share.sourceCell);
    }
}

// ---------------------------------------------------------------- the call and its checks

[[noreturn]] void fault(const char* what, const minihost::CallResult& result) {
    std::fprintf(stderr, "\n%s: %s\n  error id '%s', message '%s'\n", pluginName, what, result.errorId.c_str(),
                 result.errorMessage.c_str());
    std::abort();
}

Call decode(Input& in) {
    Call call;
    const validcalls::PluginCall* valid = validcalls::validCallOf(pluginName);
    bool nearValid = valid != nullptr && in.byte() % 2 == 0;
    if (nearValid) {
        std::mt19937 engine(20261208u + in.byte());
        for (const validcalls::ArgShape& shape : valid->args) call.args.push_back(nodeOf(shape, engine));
        static const int changeCounts[] = {0, 1, 1, 1, 1, 1, 2, 3};
        int changes = changeCounts[in.byte() % 8];
        for (int k = 0; k < changes; ++k) disturb(in, call);
        return call;
    }
    size_t count = in.below(maxArgs + 1);
    for (size_t k = 0; k < count; ++k) call.args.push_back(randomNode(in, 0));
    if (in.below(16) == 0) call.nlhs = 1;
    return call;
}

// A short description of an argument, for FUZZ_DESCRIBE=1 (reproducing a failing input).
std::string describe(const Node& node) {
    char text[160];
    switch (node.kind) {
    case Node::Kind::unset: return "unset";
    case Node::Kind::text: return "'abc'";
    case Node::Kind::logical: return node.values[0] != 0 ? "true" : "false";
    case Node::Kind::cell: {
        std::string cells = "{";
        for (size_t c = 0; c < node.cells.size(); ++c) cells += (c > 0 ? ", " : "") + describe(node.cells[c]);
        return cells + "}";
    }
    case Node::Kind::numeric: break;
    }
    std::string dims;
    for (size_t d = 0; d < node.dims.size(); ++d) dims += (d > 0 ? "x" : "") + std::to_string(node.dims[d]);
    const char* className = node.classId == mxSINGLE_CLASS ? "single" : node.classId == mxINT32_CLASS ? "int32" : "double";
    std::snprintf(text, sizeof text, "%s%s%s %s [", node.complex ? "complex " : "", node.sparse ? "sparse " : "",
                  className, dims.c_str());
    std::string values = text;
    for (size_t k = 0; k < node.values.size() && k < 6; ++k) {
        std::snprintf(text, sizeof text, "%s%.17g", k > 0 ? " " : "", node.values[k]);
        values += text;
    }
    return values + (node.values.size() > 6 ? " ...]" : "]");
}

void describeCall(const Call& call) {
    std::fprintf(stderr, "%s call with %zu arguments, %d outputs:\n", pluginName, call.args.size(), call.nlhs);
    for (size_t k = 0; k < call.args.size(); ++k) {
        std::fprintf(stderr, "  %zu: %s\n", k + 1, describe(call.args[k]).c_str());
    }
    for (const Call::Share& share : call.shares) {
        std::fprintf(stderr, "  argument %zu (cell %d) shares the data of argument %zu (cell %d)\n", share.target + 1,
                     share.targetCell + 1, share.source + 1, share.sourceCell + 1);
    }
}

minihost::MexEntry entry = nullptr;
bool describeCalls = false;

// Ends the OpenMP threads that the plug-ins' calls left waiting, so that the leak check at exit,
// which cannot inspect the threads of clang's OpenMP runtime, finds none (registered after the
// sanitizer's own exit handler, it runs before it).
void endPluginThreads() {
#ifdef _OPENMP
    omp_pause_resource_all(omp_pause_hard);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    entry = minihost::loadPlugin(pluginName);
    describeCalls = std::getenv("FUZZ_DESCRIBE") != nullptr;
    std::atexit(endPluginThreads);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    Call call = decode(in);
    if (describeCalls) describeCall(call);
    std::vector<minihost::Array> arrays;
    for (const Node& node : call.args) arrays.emplace_back(materialize(node));
    applyShares(call, arrays);
    std::vector<const mxArray*> args;
    for (const minihost::Array& array : arrays) args.push_back(array.get());

    std::vector<std::vector<unsigned char>> before;
    for (const mxArray* array : args) validcalls::appendBytes(array, before);
    int liveBefore = minihost::liveBlockCount();

    minihost::CallResult result = minihost::callPlugin(entry, args, call.nlhs);

    if (result.escaped) fault("an exception other than a host error left mexFunction", result);
    if (result.guardsDamaged) fault("the call wrote outside an array (guard bytes changed)", result);
    if (minihost::liveBlockCount() != liveBefore) fault("host memory was left allocated", result);
    if (result.failed) {
        if (result.errorId.rfind(std::string(pluginName) + ":", 0) != 0) fault("refused without the plug-in's id", result);
        std::vector<std::vector<unsigned char>> after;
        for (const mxArray* array : args) validcalls::appendBytes(array, after);
        if (after != before) fault("a refused call changed the caller's arrays", result);
    }
    return 0;
}
