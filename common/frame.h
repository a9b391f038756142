// What every plug-in shares around its kernel: rounding, column-major indexing, saturation,
// zero-filled working memory from the host, and the reading of positional arguments.
//
// Arguments are read strictly in positional order, one reading step per position. Each step
// checks what it reads (class, shape, value range, length) and refuses a bad argument by
// throwing PluginError before the kernel has written anything; runPlugin turns that into a
// host error with an id "<plugin>:<reason>" and a message naming the argument.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "mex.h"

// ---------------------------------------------------------------- numeric helpers

// floor(v + 0.5) as a 32-bit integer: halves round toward +infinity (2.5 -> 3, -2.5 -> -2).
// Defined only where roundsToInt32(v) holds.
inline int32_t roundHalfUp(double v) {
    return static_cast<int32_t>(std::floor(v + 0.5));
}

// True when v is finite and roundHalfUp(v) fits a 32-bit signed integer.
bool roundsToInt32(double v);

// 0-based offset of the 1-based position (x, y) in a column-major map of `rows` rows.
// No bounds check; cols takes no part.
inline int32_t cmIndex(int32_t x, int32_t y, int32_t rows, int32_t cols) {
    (void)cols;
    return x + (y - 1) * rows - 1;
}

// s * (2 / (1 + exp(-2r/s)) - 1), which is s * tanh(r/s), in double precision and in exactly
// this order: a = (-2 * r) / s, e = exp(a), s * ((2 / (e + 1)) - 1).
inline double saturationOf(double r, double s) {
    double a = (-2.0 * r) / s;
    double e = std::exp(a);
    return s * ((2.0 / (e + 1.0)) - 1.0);
}

// saturationOf for a single-precision response, rounded once to single precision.
inline float saturate(float r, double s) {
    return static_cast<float>(saturationOf(r, s));
}

// ---------------------------------------------------------------- refusals

// Why a call is refused; the reason is the second half of the error id.
enum class ArgFault {
    tooManyOutputs,
    tooFewArguments,
    notScalar,
    outOfRange,
    wrongClass,
    notCell,
    tooFewCells,
    badCell,
    tooFewValues,
    tooLarge,
    sharedData,
    noCandidate,
    outOfMemory,
    internalError
};

// The id reason of a fault, for example "tooFewCells".
const char* faultReason(ArgFault fault);

// Thrown by the frame; carries no pointers, so it can be copied while the stack unwinds.
struct PluginError {
    ArgFault fault;
    char message[640];
};

[[noreturn]] void refuseCall(ArgFault fault, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Runs body(nlhs, nrhs, prhs) and turns whatever it throws into
// mexErrMsgIdAndTxt("<pluginName>:<reason>", message). The host error is raised only after
// every frame of the body is gone, since it may unwind without running destructors.
using PluginBody = void (*)(int nlhs, int nrhs, const mxArray* prhs[]);
void runPlugin(const char* pluginName, PluginBody body, int nlhs, int nrhs, const mxArray* prhs[]);

// ---------------------------------------------------------------- working memory

// mxCalloc(count, size) that raises outOfMemory instead of returning no block.
void* hostCalloc(size_t count, size_t size);

// The same block from mxMalloc, its values unset: for working arrays written whole before
// they are read, so that no thread spends a pass zeroing them first.
void* hostMalloc(size_t count, size_t size);

// Zero-filled array of n elements from the host allocator.
template <typename T>
T* allocArray(int32_t n) {
    return static_cast<T*>(hostCalloc(static_cast<size_t>(n), sizeof(T)));
}

// Array of n elements from the host allocator, values unset (see hostMalloc).
template <typename T>
T* allocUnsetArray(int32_t n) {
    return static_cast<T*>(hostMalloc(static_cast<size_t>(n), sizeof(T)));
}

// rowCount row pointers, each to a zero-filled row of n elements. Release with freeTable2D.
template <typename T>
T** allocTable2D(int32_t rowCount, int32_t n) {
    T** table = static_cast<T**>(hostCalloc(static_cast<size_t>(rowCount), sizeof(T*)));
    for (int32_t i = 0; i < rowCount; ++i) table[i] = allocArray<T>(n);
    return table;
}

// Releases every row of a table from allocTable2D, then the row-pointer array; n takes no part.
template <typename T>
void freeTable2D(T** table, int32_t rowCount, int32_t n) {
    (void)n;
    for (int32_t i = 0; i < rowCount; ++i) mxFree(table[i]);
    mxFree(table);
}

// ---------------------------------------------------------------- argument reading

enum class Access { read, written };

enum class RealRule { anyValue, finite, finiteNonzero, finitePositive };

// Names of the two indices of a cell grid, for messages ("image", "orientation"). Messages
// count both from 1, like the cells themselves.
struct GridAxes {
    const char* first;
    const char* second;
};
extern const GridAxes mapGridAxes;

// The data of one array argument or cell that the call reads or writes.
struct DataRegion {
    uintptr_t start;
    uintptr_t end;
    int32_t position;
    int32_t cell;  // 0-based cell index, -1 for a plain array argument
    Access access;
};

// The positional arguments of one call, with the plug-in's name for each position.
struct ArgList {
    const char* const* names;
    int32_t nameCount;
    const mxArray* const* handles;
    int32_t position;
    DataRegion* regions;
    int32_t regionCount;
    int32_t regionCapacity;
};

// Starts reading: refuses requested outputs (results are written into the arguments, nothing
// is returned) and fewer arguments than names. Arguments beyond the names are ignored.
ArgList beginArgs(const char* const* names, int32_t nameCount, int nlhs, int nrhs,
                  const mxArray* const* prhs);

// beginArgs for a plug-in's table of argument names.
template <size_t nameCount>
ArgList beginArgs(const char* const (&names)[nameCount], int nlhs, int nrhs,
                  const mxArray* const* prhs) {
    return beginArgs(names, static_cast<int32_t>(nameCount), nlhs, nrhs, prhs);
}

// Ends reading: every named position must have been read, and no array the call writes may
// share data with another array argument (the writes would land in both).
void endArgs(ArgList& args);

// A real numeric or logical scalar, rounded half up; the result must lie in lowest ... highest.
// A refusal names the bound the value broke: the upper one when it lies above the range.
int32_t readIntArg(ArgList& args, int32_t lowest = INT32_MIN, int32_t highest = INT32_MAX);

// A real numeric or logical scalar as a double, not rounded, obeying `rule`.
double readRealArg(ArgList& args, RealRule rule = RealRule::anyValue);

// A real double array of at least `count` entries, each of which rounds half up to an
// integer in lowest ... highest; the entries are rounded where they are used.
const double* readIntArrayArg(ArgList& args, int32_t count, int32_t lowest = INT32_MIN,
                              int32_t highest = INT32_MAX);

// Refuses entry `entry` (0-based) of the array argument at the 0-based `position`, after it
// was read: "argument 9 (elementOrients), entry 3: expected <expected>; got <value>".
[[noreturn]] void refuseEntry(const ArgList& args, int32_t position, int32_t entry,
                              const char* expected, double value);

// Refuses the value at 1-based position (x, y) of the map in cell image + orient * imageCount
// (0-based image and orient) of the map-grid argument at the 0-based `position`, after it was
// read: "argument 10 (traceMaps), cell 4 (image 1, orientation 2), position (3, 5): ...".
[[noreturn]] void refuseGridValue(const ArgList& args, int32_t position, int32_t imageCount,
                                  int32_t image, int32_t orient, int32_t x, int32_t y,
                                  const char* expected, double value);

// Per-image map sizes, as the caller passed them; entry i is rounded half up when used.
struct ImageSizes {
    const double* rows;
    const double* cols;
};

// Reads the row-count array and then the column-count array (two positions). Each needs
// imageCount entries that round half up to counts from 0 to 2147483647, and every image's
// rows * cols must stay within 32-bit indexing.
ImageSizes readImageSizes(ArgList& args, int32_t imageCount);

// Number of values in image i's maps: rows * cols after rounding.
int64_t imageValueCount(const ImageSizes& sizes, int32_t image);

// The largest rounded row or column count of images 0 ... imageCount-1 (0 for no image).
int32_t largestSideOf(const ImageSizes& sizes, int32_t imageCount);

// The size shared by every map of a call.
struct MapSize {
    int32_t rows;
    int32_t cols;
};

// Reads the row count and then the column count (two positions): counts of at least 0 whose
// product stays within 32-bit indexing.
MapSize readMapSize(ArgList& args);

// readMapSize of the two positions from the 0-based `position` on, without moving the reading
// position: for a cell argument whose map size is given only after it.
MapSize peekMapSize(const ArgList& args, int32_t position);

// Internal steps of the templates below.
namespace frame {
enum class ValueClass { singleValues, doubleValues };
template <typename T>
constexpr ValueClass valueClassOf();
template <>
constexpr ValueClass valueClassOf<float>() { return ValueClass::singleValues; }
template <>
constexpr ValueClass valueClassOf<double>() { return ValueClass::doubleValues; }

struct CellRef {
    int32_t index;  // 0-based linear cell index; -1 for a plain array argument
    const GridAxes* axes;
    int32_t first;
    int32_t second;
};

const mxArray* takeArg(ArgList& args);
void* checkedArrayData(ArgList& args, int32_t position, const mxArray* array, ValueClass valueClass,
                       int64_t valuesNeeded, const CellRef& cell, Access access);
const mxArray* checkedCellArg(ArgList& args, int32_t position, const mxArray* array,
                              int64_t cellsNeeded);
const mxArray* cellOf(const mxArray* cellArray, int32_t index);
void** allocPointerTable(int32_t count);
}  // namespace frame

// Data pointer of a full real array of T (single or double) with at least valuesNeeded values.
template <typename T>
T* readArrayArg(ArgList& args, int64_t valuesNeeded, Access access) {
    int32_t position = args.position;
    const mxArray* array = frame::takeArg(args);
    return static_cast<T*>(frame::checkedArrayData(args, position, array,
                                                   frame::valueClassOf<T>(), valuesNeeded,
                                                   frame::CellRef{-1, nullptr, 0, 0}, access));
}

// cellPointerTable of the first n cells of a cell argument: entry k is the data of cell k, a
// full real array of T holding at least valuesNeeded(k) values.
template <typename T, typename ValuesNeeded>
T** readCellList(ArgList& args, int32_t n, Access access, ValuesNeeded valuesNeeded) {
    int32_t position = args.position;
    const mxArray* cells = frame::checkedCellArg(args, position, frame::takeArg(args), n);
    T** table = reinterpret_cast<T**>(frame::allocPointerTable(n));
    for (int32_t k = 0; k < n; ++k) {
        table[k] = static_cast<T*>(frame::checkedArrayData(
            args, position, frame::cellOf(cells, k), frame::valueClassOf<T>(), valuesNeeded(k),
            frame::CellRef{k, nullptr, 0, 0}, access));
    }
    return table;
}

// For an output the caller may decline with an empty cell array ({}): when the argument at
// the reading position is a cell array without cells, moves past it and returns true;
// otherwise returns false and leaves the position where it is.
bool takeEmptyCell(ArgList& args);

// cellPointerTable of an A x B cell grid: entry a + b*A is the data of that cell, a full real
// array of T holding at least valuesNeeded(a) values. Cells are resolved with a outer and b
// inner.
template <typename T, typename ValuesNeeded>
T** readCellGrid(ArgList& args, int32_t countA, int32_t countB, const GridAxes& axes,
                 Access access, ValuesNeeded valuesNeeded) {
    int32_t position = args.position;
    int64_t cellCount = static_cast<int64_t>(countA) * countB;
    const mxArray* cells = frame::checkedCellArg(args, position, frame::takeArg(args), cellCount);
    T** table = reinterpret_cast<T**>(frame::allocPointerTable(static_cast<int32_t>(cellCount)));
    // A grid without cells resolves nothing, however large its other count.
    if (cellCount == 0) return table;
    for (int32_t a = 0; a < countA; ++a) {
        for (int32_t b = 0; b < countB; ++b) {
            int32_t c = a + b * countA;
            table[c] = static_cast<T*>(frame::checkedArrayData(
                args, position, frame::cellOf(cells, c), frame::valueClassOf<T>(),
                valuesNeeded(a), frame::CellRef{c, &axes, a, b}, access));
        }
    }
    return table;
}
