#include "frame.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

const GridAxes mapGridAxes = {"image", "orientation"};

namespace {

const int32_t firstRegionCapacity = 16;

// Short descriptions for messages; fixed buffers, so nothing is left to free on unwinding.
struct Text {
    char chars[256];
};

__attribute__((format(printf, 1, 2))) Text textf(const char* format, ...) {
    Text text;
    va_list values;
    va_start(values, format);
    std::vsnprintf(text.chars, sizeof text.chars, format, values);
    va_end(values);
    return text;
}

const char* valueClassName(frame::ValueClass valueClass) {
    return valueClass == frame::ValueClass::singleValues ? "single" : "double";
}

// Every dimension of an array, "3x4" or "1x1x2" (cut short if it outgrows the text).
Text dimensionsOf(const mxArray* array) {
    Text text;
    text.chars[0] = '\0';
    size_t used = 0;
    mwSize count = mxGetNumberOfDimensions(array);
    const mwSize* dims = mxGetDimensions(array);
    for (mwSize d = 0; d < count && used < sizeof text.chars; ++d) {
        int written = std::snprintf(text.chars + used, sizeof text.chars - used, d == 0 ? "%zu" : "x%zu",
                                    static_cast<size_t>(dims[d]));
        if (written < 0) break;
        used += static_cast<size_t>(written);
    }
    return text;
}

// "a 3x4 double array", "a 1x1x2 complex single array", "an empty cell", ...
Text describe(const mxArray* array) {
    if (array == nullptr) return textf("an empty cell");
    const char* kind = mxIsSparse(array) ? "sparse " : mxIsComplex(array) ? "complex " : "";
    return textf("a %s %s%s array", dimensionsOf(array).chars, kind, mxGetClassName(array));
}

// Cells, and the two indices of a grid cell, are counted from 1, as maps{image, orientation}
// indexes them in Octave: cell 4 of a 3 x 2 grid is "cell 4 (image 1, orientation 2)".
Text describeCell(const frame::CellRef& cell) {
    if (cell.index < 0) return textf("%s", "");
    if (cell.axes == nullptr) return textf(", cell %d", cell.index + 1);
    return textf(", cell %d (%s %d, %s %d)", cell.index + 1, cell.axes->first, cell.first + 1,
                 cell.axes->second, cell.second + 1);
}

// "" for a count of 1, "s" for any other, to end a plural noun.
const char* pluralEnding(int64_t count) {
    return count == 1 ? "" : "s";
}

[[noreturn]] void refuseArg(const ArgList& args, int32_t position, ArgFault fault,
                            const char* cellText, const char* expected, const char* given) {
    refuseCall(fault, "argument %d (%s)%s: expected %s; got %s", position + 1,
               args.names[position], cellText, expected, given);
}

const mxArray* checkedScalar(ArgList& args, int32_t position) {
    const mxArray* array = frame::takeArg(args);
    bool realScalar = (mxIsNumeric(array) || mxIsLogical(array)) && !mxIsComplex(array) &&
                      mxGetNumberOfElements(array) == 1;
    if (!realScalar) {
        refuseArg(args, position, ArgFault::notScalar, "", "a real numeric or logical scalar",
                  describe(array).chars);
    }
    return array;
}

// True when v rounds half up past `highest`, +infinity included; never for NaN.
bool roundsAbove(double v, int32_t highest) {
    return std::floor(v + 0.5) > static_cast<double>(highest);
}

// What a refused integer (`kind` is "a number" or "a size") had to be, naming the bound that
// `value` broke: the upper bound when it lies above the range, even above 2147483647, and
// otherwise (below the range, NaN) the lower bound alone when the range has no upper bound of
// its own.
Text describeIntRange(const char* kind, int32_t lowest, int32_t highest, double value) {
    if (highest == INT32_MAX && lowest == INT32_MIN) {
        return textf("a finite number that rounds half up to a 32-bit integer");
    }
    if (highest == INT32_MAX && !roundsAbove(value, highest)) {
        return textf("%s that rounds half up to an integer of at least %d", kind, lowest);
    }
    return textf("%s that rounds half up to an integer from %d to %d", kind, lowest, highest);
}

bool roundsIntoRange(double v, int32_t lowest, int32_t highest) {
    return roundsToInt32(v) && roundHalfUp(v) >= lowest && roundHalfUp(v) <= highest;
}

const char* describeRealRule(RealRule rule) {
    switch (rule) {
    case RealRule::finite: return "a finite number";
    case RealRule::finiteNonzero: return "a finite nonzero number";
    case RealRule::finitePositive: return "a finite number greater than 0";
    case RealRule::anyValue: break;
    }
    return "a number";
}

bool obeys(double value, RealRule rule) {
    switch (rule) {
    case RealRule::finite: return std::isfinite(value);
    case RealRule::finiteNonzero: return std::isfinite(value) && value != 0.0;
    case RealRule::finitePositive: return std::isfinite(value) && value > 0.0;
    case RealRule::anyValue: break;
    }
    return true;
}

void recordRegion(ArgList& args, const DataRegion& region) {
    if (args.regionCount == args.regionCapacity) {
        int32_t capacity = std::max(firstRegionCapacity, 2 * args.regionCapacity);
        auto* grown = static_cast<DataRegion*>(hostCalloc(capacity, sizeof(DataRegion)));
        if (args.regionCount > 0) {
            std::memcpy(grown, args.regions, args.regionCount * sizeof(DataRegion));
        }
        mxFree(args.regions);
        args.regions = grown;
        args.regionCapacity = capacity;
    }
    args.regions[args.regionCount++] = region;
}

// Refuses a map size whose rows * cols values 32-bit offsets cannot reach. The refusal names
// the argument of the larger count (rowsPosition when rows > cols, colsPosition otherwise),
// the one out of all proportion.
void requireIndexable(const ArgList& args, int32_t rowsPosition, int32_t colsPosition, const char* entryText,
                      int32_t rows, int32_t cols) {
    if (static_cast<int64_t>(rows) * cols > INT32_MAX) {
        refuseArg(args, rows > cols ? rowsPosition : colsPosition, ArgFault::tooLarge, entryText,
                  "maps of at most 2147483647 values (32-bit indexing)",
                  textf("maps of %d x %d values", rows, cols).chars);
    }
}

Text describeRegion(const ArgList& args, const DataRegion& region) {
    if (region.cell < 0) return textf("argument %d (%s)", region.position + 1, args.names[region.position]);
    return textf("argument %d (%s), cell %d", region.position + 1, args.names[region.position],
                 region.cell + 1);
}

[[noreturn]] void refuseSharedData(const ArgList& args, const DataRegion& writer,
                                   const DataRegion& other) {
    Text cellText = writer.cell < 0 ? textf("%s", "") : textf(", cell %d", writer.cell + 1);
    Text given = textf("one whose data is shared with %s", describeRegion(args, other).chars);
    refuseArg(args, writer.position, ArgFault::sharedData, cellText.chars,
              "an array of its own, since the call writes it (Octave and MATLAB share the data "
              "of copied arrays; create each output array separately)",
              given.chars);
}

}  // namespace

bool roundsToInt32(double v) {
    if (!std::isfinite(v)) return false;
    double rounded = std::floor(v + 0.5);
    return rounded >= static_cast<double>(INT32_MIN) && rounded <= static_cast<double>(INT32_MAX);
}

const char* faultReason(ArgFault fault) {
    switch (fault) {
    case ArgFault::tooManyOutputs: return "tooManyOutputs";
    case ArgFault::tooFewArguments: return "tooFewArguments";
    case ArgFault::notScalar: return "notScalar";
    case ArgFault::outOfRange: return "outOfRange";
    case ArgFault::wrongClass: return "wrongClass";
    case ArgFault::notCell: return "notCell";
    case ArgFault::tooFewCells: return "tooFewCells";
    case ArgFault::badCell: return "badCell";
    case ArgFault::tooFewValues: return "tooFewValues";
    case ArgFault::tooLarge: return "tooLarge";
    case ArgFault::sharedData: return "sharedData";
    case ArgFault::noCandidate: return "noCandidate";
    case ArgFault::outOfMemory: return "outOfMemory";
    case ArgFault::internalError: return "internalError";
    }
    return "internalError";
}

void refuseCall(ArgFault fault, const char* format, ...) {
    PluginError error;
    error.fault = fault;
    va_list values;
    va_start(values, format);
    std::vsnprintf(error.message, sizeof error.message, format, values);
    va_end(values);
    throw error;
}

void runPlugin(const char* pluginName, PluginBody body, int nlhs, int nrhs, const mxArray* prhs[]) {
    // Static, so that nothing here needs destroying when the host error unwinds this frame.
    static char id[96];
    static PluginError failure;
    bool failed = true;
    try {
        body(nlhs, nrhs, prhs);
        failed = false;
    } catch (const PluginError& error) {
        failure = error;
    } catch (const std::bad_alloc&) {
        failure.fault = ArgFault::outOfMemory;
        std::snprintf(failure.message, sizeof failure.message, "not enough memory");
    } catch (...) {
        failure.fault = ArgFault::internalError;
        std::snprintf(failure.message, sizeof failure.message, "unexpected internal failure");
    }
    if (!failed) return;
    std::snprintf(id, sizeof id, "%s:%s", pluginName, faultReason(failure.fault));
    mexErrMsgIdAndTxt(id, "%s", failure.message);
}

namespace {

[[noreturn]] void refuseWorkingMemory(size_t count, size_t size) {
    refuseCall(ArgFault::outOfMemory, "not enough memory for %zu working value%s of %zu bytes", count,
               pluralEnding(static_cast<int64_t>(count)), size);
}

}  // namespace

namespace {

// count values of size bytes from the host allocator, zero-filled (mxCalloc) or not (mxMalloc).
void* hostBlock(size_t count, size_t size, bool zeroFilled) {
    // An empty block may come back as no block at all; only a host error is a failure then.
    bool empty = count == 0 || size == 0;
    if (!empty && count > SIZE_MAX / size) refuseWorkingMemory(count, size);
    // Octave's and MATLAB's allocators raise the host's own error when memory runs out instead
    // of returning no block, so the caller would see the host's id. The C library answers the
    // same question by returning no block: ask it first (the probe is released at once; large
    // blocks are only mapped, not touched), and read any failure of the host's call the same way.
    if (!empty) {
        void* probe = std::malloc(count * size);
        if (probe == nullptr) refuseWorkingMemory(count, size);
        std::free(probe);
    }
    void* block = nullptr;
    try {
        block = zeroFilled ? mxCalloc(count, size) : mxMalloc(count * size);
    } catch (...) {
        refuseWorkingMemory(count, size);
    }
    if (block == nullptr && !empty) refuseWorkingMemory(count, size);
    return block;
}

}  // namespace

void* hostCalloc(size_t count, size_t size) { return hostBlock(count, size, true); }

void* hostMalloc(size_t count, size_t size) { return hostBlock(count, size, false); }

ArgList beginArgs(const char* const* names, int32_t nameCount, int nlhs, int nrhs,
                  const mxArray* const* prhs) {
    if (nlhs > 0) {
        refuseCall(ArgFault::tooManyOutputs,
                   "the call returns nothing: its results are written into its arguments in "
                   "place; got %d requested output%s",
                   nlhs, pluralEnding(nlhs));
    }
    if (nrhs < nameCount) {
        refuseCall(ArgFault::tooFewArguments, "argument %d (%s) is missing: expected %d arguments; got %d",
                   nrhs + 1, names[nrhs], nameCount, nrhs);
    }
    return ArgList{names, nameCount, prhs, 0, nullptr, 0, 0};
}

void endArgs(ArgList& args) {
    if (args.position != args.nameCount) {
        refuseCall(ArgFault::internalError, "read %d of its %d arguments", args.position,
                   args.nameCount);
    }
    DataRegion* regions = args.regions;
    std::sort(regions, regions + args.regionCount,
              [](const DataRegion& a, const DataRegion& b) { return a.start < b.start; });
    // Sweep in address order, remembering the region reaching furthest so far, and the written
    // region reaching furthest: any later region starting before one of those ends overlaps it.
    int32_t furthest = -1;
    int32_t furthestWritten = -1;
    for (int32_t k = 0; k < args.regionCount; ++k) {
        const DataRegion& region = regions[k];
        if (region.access == Access::written && furthest >= 0 &&
            regions[furthest].end > region.start) {
            refuseSharedData(args, region, regions[furthest]);
        }
        if (region.access == Access::read && furthestWritten >= 0 &&
            regions[furthestWritten].end > region.start) {
            refuseSharedData(args, regions[furthestWritten], region);
        }
        if (furthest < 0 || region.end > regions[furthest].end) furthest = k;
        if (region.access == Access::written &&
            (furthestWritten < 0 || region.end > regions[furthestWritten].end)) {
            furthestWritten = k;
        }
    }
    mxFree(args.regions);
    args.regions = nullptr;
    args.regionCount = 0;
    args.regionCapacity = 0;
}

int32_t readIntArg(ArgList& args, int32_t lowest, int32_t highest) {
    int32_t position = args.position;
    double value = mxGetScalar(checkedScalar(args, position));
    if (!roundsIntoRange(value, lowest, highest)) {
        refuseArg(args, position, ArgFault::outOfRange, "",
                  describeIntRange("a number", lowest, highest, value).chars, textf("%.17g", value).chars);
    }
    return roundHalfUp(value);
}

double readRealArg(ArgList& args, RealRule rule) {
    int32_t position = args.position;
    double value = mxGetScalar(checkedScalar(args, position));
    if (!obeys(value, rule)) {
        refuseArg(args, position, ArgFault::outOfRange, "", describeRealRule(rule),
                  textf("%.17g", value).chars);
    }
    return value;
}

const double* readIntArrayArg(ArgList& args, int32_t count, int32_t lowest, int32_t highest) {
    int32_t position = args.position;
    const double* entries = readArrayArg<double>(args, count, Access::read);
    for (int32_t k = 0; k < count; ++k) {
        if (!roundsIntoRange(entries[k], lowest, highest)) {
            refuseEntry(args, position, k, describeIntRange("a number", lowest, highest, entries[k]).chars,
                        entries[k]);
        }
    }
    return entries;
}

void refuseEntry(const ArgList& args, int32_t position, int32_t entry, const char* expected,
                 double value) {
    refuseArg(args, position, ArgFault::outOfRange, textf(", entry %d", entry + 1).chars, expected,
              textf("%.17g", value).chars);
}

void refuseGridValue(const ArgList& args, int32_t position, int32_t imageCount, int32_t image,
                     int32_t orient, int32_t x, int32_t y, const char* expected, double value) {
    frame::CellRef cell{image + orient * imageCount, &mapGridAxes, image, orient};
    Text where = textf("%s, position (%d, %d)", describeCell(cell).chars, x, y);
    refuseArg(args, position, ArgFault::outOfRange, where.chars, expected,
              textf("%.17g", value).chars);
}

ImageSizes readImageSizes(ArgList& args, int32_t imageCount) {
    const double* sizeArrays[2];
    for (const double*& entries : sizeArrays) {
        int32_t position = args.position;
        entries = readArrayArg<double>(args, imageCount, Access::read);
        for (int32_t i = 0; i < imageCount; ++i) {
            if (!roundsIntoRange(entries[i], 0, INT32_MAX)) {
                refuseEntry(args, position, i, describeIntRange("a size", 0, INT32_MAX, entries[i]).chars,
                            entries[i]);
            }
        }
    }
    ImageSizes sizes{sizeArrays[0], sizeArrays[1]};
    for (int32_t i = 0; i < imageCount; ++i) {
        requireIndexable(args, args.position - 2, args.position - 1, textf(", entry %d", i + 1).chars,
                         roundHalfUp(sizes.rows[i]), roundHalfUp(sizes.cols[i]));
    }
    return sizes;
}

int64_t imageValueCount(const ImageSizes& sizes, int32_t image) {
    return static_cast<int64_t>(roundHalfUp(sizes.rows[image])) * roundHalfUp(sizes.cols[image]);
}

int32_t largestSideOf(const ImageSizes& sizes, int32_t imageCount) {
    int32_t largest = 0;
    for (int32_t image = 0; image < imageCount; ++image) {
        largest = std::max({largest, roundHalfUp(sizes.rows[image]), roundHalfUp(sizes.cols[image])});
    }
    return largest;
}

MapSize readMapSize(ArgList& args) {
    int32_t rows = readIntArg(args, 0);
    int32_t cols = readIntArg(args, 0);
    requireIndexable(args, args.position - 2, args.position - 1, "", rows, cols);
    return MapSize{rows, cols};
}

MapSize peekMapSize(const ArgList& args, int32_t position) {
    // Only scalars are read, so the copy records no data region.
    ArgList ahead = args;
    ahead.position = position;
    return readMapSize(ahead);
}

bool takeEmptyCell(ArgList& args) {
    if (args.position >= args.nameCount) return false;
    const mxArray* array = args.handles[args.position];
    if (!mxIsCell(array) || mxGetNumberOfElements(array) != 0) return false;
    ++args.position;
    return true;
}

namespace frame {

const mxArray* takeArg(ArgList& args) {
    if (args.position >= args.nameCount) {
        refuseCall(ArgFault::internalError, "read more arguments than its %d named ones", args.nameCount);
    }
    return args.handles[args.position++];
}

void* checkedArrayData(ArgList& args, int32_t position, const mxArray* array, ValueClass valueClass,
                       int64_t valuesNeeded, const CellRef& cell, Access access) {
    bool rightClass = array != nullptr && !mxIsComplex(array) && !mxIsSparse(array) &&
                      (valueClass == ValueClass::singleValues ? mxIsSingle(array)
                                                              : mxIsDouble(array));
    bool longEnough = rightClass && static_cast<int64_t>(mxGetNumberOfElements(array)) >= valuesNeeded;
    if (!longEnough) {
        ArgFault fault = !rightClass ? (cell.index < 0 ? ArgFault::wrongClass : ArgFault::badCell)
                                     : ArgFault::tooFewValues;
        refuseArg(args, position, fault, describeCell(cell).chars,
                  textf("a real %s array of at least %lld value%s", valueClassName(valueClass),
                        static_cast<long long>(valuesNeeded), pluralEnding(valuesNeeded)).chars,
                  describe(array).chars);
    }
    void* data = mxGetData(array);
    if (valuesNeeded > 0) {
        size_t valueSize = valueClass == ValueClass::singleValues ? sizeof(float) : sizeof(double);
        auto start = reinterpret_cast<uintptr_t>(data);
        recordRegion(args, DataRegion{start, start + static_cast<uintptr_t>(valuesNeeded) * valueSize,
                                      position, cell.index, access});
    }
    return data;
}

const mxArray* checkedCellArg(ArgList& args, int32_t position, const mxArray* array,
                              int64_t cellsNeeded) {
    Text expected = textf("a cell array of at least %lld cell%s", static_cast<long long>(cellsNeeded),
                          pluralEnding(cellsNeeded));
    if (!mxIsCell(array)) {
        refuseArg(args, position, ArgFault::notCell, "", expected.chars, describe(array).chars);
    }
    if (cellsNeeded > INT32_MAX) {
        refuseArg(args, position, ArgFault::tooLarge, "", "at most 2147483647 cells",
                  textf("a count of %lld cells", static_cast<long long>(cellsNeeded)).chars);
    }
    if (static_cast<int64_t>(mxGetNumberOfElements(array)) < cellsNeeded) {
        refuseArg(args, position, ArgFault::tooFewCells, "", expected.chars, describe(array).chars);
    }
    return array;
}

const mxArray* cellOf(const mxArray* cellArray, int32_t index) {
    return mxGetCell(cellArray, static_cast<mwIndex>(index));
}

void** allocPointerTable(int32_t count) {
    return static_cast<void**>(hostCalloc(static_cast<size_t>(count), sizeof(void*)));
}

}  // namespace frame
