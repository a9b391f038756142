#include "minihost.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <stdexcept>
#include <unordered_map>

#if defined(__SANITIZE_ADDRESS__)
#define MINIHOST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MINIHOST_ASAN 1
#endif
#endif
#ifdef MINIHOST_ASAN
#include <sanitizer/asan_interface.h>
#endif

struct mxArray_tag {
    mxClassID classId = mxUNKNOWN_CLASS;
    bool complex = false;
    bool sparse = false;
    size_t dataBytes = 0;        // bytes of `real` (and of `imag`) between the guard zones
    size_t rows = 0;
    size_t cols = 0;             // the product of every dimension after the first
    std::vector<mwSize> dims;    // every dimension, at least two
    void* real = nullptr;
    void* imag = nullptr;
    bool ownsData = true;  // false for a copy that shares another array's data
    std::vector<mxArray*> cells;
};

namespace {

// Raised by mexErrMsgIdAndTxt; unwinds through the plug-in to callPlugin, as the real host does.
struct HostError {
    std::string id;
    std::string message;
};

struct Block {
    bool inCall;
    long long serial;  // allocation order, counted over the whole process
};

std::unordered_map<void*, Block> liveBlocks;
long long allocationSerial = 0;
bool callRunning = false;
int callAllocations = 0;
int allocationsBeforeFailure = -1;
minihost::AllocationFailure allocationFailure = minihost::AllocationFailure::returnsNull;
std::string printedText;

// Guard zones: every block of array data the host creates has guardBytes bytes of a canary
// pattern right before its first value and right after its last one. A plug-in that writes
// outside an array changes them, and guardsIntact() tells. Under AddressSanitizer the zones
// are also poisoned, so that any access to them, read or write, is reported where it happens.
const size_t guardBytes = 64;

unsigned char guardByte(size_t k) { return static_cast<unsigned char>(0xA5u ^ (k * 0x3Bu)); }

// Poisons the two guard zones of a block (poisoned) or lifts their poison; nothing without
// AddressSanitizer.
void setGuardsPoisoned(unsigned char* base, size_t dataBytes, bool poisoned) {
#ifdef MINIHOST_ASAN
    for (unsigned char* zone : {base, base + guardBytes + dataBytes}) {
        if (poisoned) {
            ASAN_POISON_MEMORY_REGION(zone, guardBytes);
        } else {
            ASAN_UNPOISON_MEMORY_REGION(zone, guardBytes);
        }
    }
#else
    (void)base;
    (void)dataBytes;
    (void)poisoned;
#endif
}

// Zero-filled data of dataBytes bytes between two guard zones; returns the data's start.
void* allocateGuarded(size_t dataBytes) {
    auto* base = static_cast<unsigned char*>(std::calloc(dataBytes + 2 * guardBytes, 1));
    if (base == nullptr) throw std::bad_alloc();
    for (size_t k = 0; k < guardBytes; ++k) {
        base[k] = guardByte(k);
        base[guardBytes + dataBytes + k] = guardByte(guardBytes + k);
    }
    setGuardsPoisoned(base, dataBytes, true);
    return base + guardBytes;
}

void freeGuarded(void* data, size_t dataBytes) {
    if (data == nullptr) return;
    unsigned char* base = static_cast<unsigned char*>(data) - guardBytes;
    setGuardsPoisoned(base, dataBytes, false);
    std::free(base);
}

bool guardIntact(const void* data, size_t dataBytes) {
    if (data == nullptr) return true;
    unsigned char* base = const_cast<unsigned char*>(static_cast<const unsigned char*>(data)) - guardBytes;
    setGuardsPoisoned(base, dataBytes, false);
    bool intact = true;
    for (size_t k = 0; k < guardBytes; ++k) {
        intact = intact && base[k] == guardByte(k) && base[guardBytes + dataBytes + k] == guardByte(guardBytes + k);
    }
    setGuardsPoisoned(base, dataBytes, true);
    return intact;
}

size_t elementSize(mxClassID classId) {
    switch (classId) {
    case mxDOUBLE_CLASS: return sizeof(double);
    case mxSINGLE_CLASS: return sizeof(float);
    case mxINT32_CLASS: return sizeof(int);
    case mxLOGICAL_CLASS: return sizeof(bool);
    case mxCHAR_CLASS: return sizeof(char16_t);
    default: return 0;
    }
}

mxArray* newArray(mxClassID classId, const std::vector<mwSize>& dims, mxComplexity complexity) {
    mxArray* array = new mxArray_tag;
    array->classId = classId;
    array->dims = dims;
    array->rows = dims[0];
    array->cols = 1;
    for (size_t d = 1; d < dims.size(); ++d) array->cols *= dims[d];
    size_t rows = array->rows;
    size_t cols = array->cols;
    if (classId == mxCELL_CLASS) {
        array->cells.assign(rows * cols, nullptr);
        return array;
    }
    // Guard zones around the data also keep empty arrays distinct, like every host allocation.
    array->dataBytes = rows * cols * elementSize(classId);
    array->real = allocateGuarded(array->dataBytes);
    if (complexity == mxCOMPLEX) {
        array->complex = true;
        array->imag = allocateGuarded(array->dataBytes);
    }
    return array;
}

mxArray* newMatrix(mxClassID classId, size_t rows, size_t cols, mxComplexity complexity) {
    return newArray(classId, {rows, cols}, complexity);
}

// A block allocated outside any call, as the serial-th allocation or later.
bool isLooseSince(const Block& block, long long serial) {
    return !block.inCall && block.serial >= serial;
}

void releaseCallBlocks(minihost::CallResult& result) {
    for (auto it = liveBlocks.begin(); it != liveBlocks.end();) {
        if (it->second.inCall) {
            ++result.blocksLeft;
            std::free(it->first);
            it = liveBlocks.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

extern "C" {

double mxGetScalar(const mxArray* array) {
    if (array->rows * array->cols == 0 || array->real == nullptr) return 0.0;
    switch (array->classId) {
    case mxDOUBLE_CLASS: return *static_cast<const double*>(array->real);
    case mxSINGLE_CLASS: return *static_cast<const float*>(array->real);
    case mxINT32_CLASS: return *static_cast<const int*>(array->real);
    case mxLOGICAL_CLASS: return *static_cast<const bool*>(array->real) ? 1.0 : 0.0;
    case mxCHAR_CLASS: return *static_cast<const char16_t*>(array->real);
    default: return 0.0;
    }
}

double* mxGetPr(const mxArray* array) { return static_cast<double*>(array->real); }

void* mxGetData(const mxArray* array) { return array->real; }

void* mxGetImagData(const mxArray* array) { return array->imag; }

size_t mxGetElementSize(const mxArray* array) {
    return array->classId == mxCELL_CLASS ? sizeof(mxArray*) : elementSize(array->classId);
}

mwSize mxGetNzmax(const mxArray* array) {
    if (!array->sparse) return array->rows * array->cols;
    return array->dataBytes / sizeof(double);
}

mxArray* mxGetCell(const mxArray* array, mwIndex index) { return array->cells.at(index); }

namespace {

// Every byte of a block from mxMalloc starts as this (0xFF unless a test sets another), so that
// a value read before it is written shows (as NaN in floating point) instead of passing as a
// zero.
unsigned char unsetByte = minihost::defaultUnsetByte;

// A host block of count values of size bytes (one byte at least), zero-filled as calloc fills
// it or holding unsetByte, counted and made to fail as failAllocationAfter says.
void* hostBlock(size_t count, size_t size, bool zeroFilled) {
    if (allocationsBeforeFailure == 0) {
        allocationsBeforeFailure = -1;
        if (allocationFailure == minihost::AllocationFailure::raisesHostError) {
            mexErrMsgIdAndTxt("host:outOfMemory", "failed to allocate %zu bytes", count * size);
        }
        return nullptr;
    }
    if (allocationsBeforeFailure > 0) --allocationsBeforeFailure;
    bool empty = count == 0 || size == 0;
    void* block = nullptr;
    if (zeroFilled) {
        block = std::calloc(empty ? 1 : count, empty ? 1 : size);
    } else {
        size_t bytes = empty ? 1 : count * size;
        block = std::malloc(bytes);
        if (block != nullptr) std::memset(block, unsetByte, bytes);
    }
    liveBlocks[block] = Block{callRunning, allocationSerial++};
    if (callRunning) ++callAllocations;
    return block;
}

}  // namespace

void* mxCalloc(size_t count, size_t size) { return hostBlock(count, size, true); }

void* mxMalloc(size_t bytes) { return hostBlock(bytes, 1, false); }

void mxFree(void* block) {
    if (block == nullptr) return;
    if (liveBlocks.erase(block) != 1) {
        std::fprintf(stderr, "minihost: mxFree of a block that is not live\n");
        std::abort();
    }
    std::free(block);
}

int mexPrintf(const char* format, ...) {
    va_list values;
    va_start(values, format);
    va_list again;
    va_copy(again, values);
    int length = std::vsnprintf(nullptr, 0, format, values);
    va_end(values);
    std::string text(length > 0 ? length : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    printedText += text;
    return length;
}

void mexErrMsgIdAndTxt(const char* id, const char* format, ...) {
    va_list values;
    va_start(values, format);
    char message[4096];
    std::vsnprintf(message, sizeof message, format, values);
    va_end(values);
    throw HostError{id, message};
}

bool mxIsCell(const mxArray* array) { return array->classId == mxCELL_CLASS; }
bool mxIsDouble(const mxArray* array) { return array->classId == mxDOUBLE_CLASS; }
bool mxIsSingle(const mxArray* array) { return array->classId == mxSINGLE_CLASS; }
bool mxIsNumeric(const mxArray* array) {
    return array->classId == mxDOUBLE_CLASS || array->classId == mxSINGLE_CLASS ||
           array->classId == mxINT32_CLASS;
}
bool mxIsLogical(const mxArray* array) { return array->classId == mxLOGICAL_CLASS; }
bool mxIsComplex(const mxArray* array) { return array->complex; }
bool mxIsSparse(const mxArray* array) { return array->sparse; }
size_t mxGetNumberOfElements(const mxArray* array) { return array->rows * array->cols; }
size_t mxGetM(const mxArray* array) { return array->rows; }
size_t mxGetN(const mxArray* array) { return array->cols; }
mwSize mxGetNumberOfDimensions(const mxArray* array) { return array->dims.size(); }
const mwSize* mxGetDimensions(const mxArray* array) { return array->dims.data(); }

const char* mxGetClassName(const mxArray* array) {
    switch (array->classId) {
    case mxCELL_CLASS: return "cell";
    case mxLOGICAL_CLASS: return "logical";
    case mxCHAR_CLASS: return "char";
    case mxDOUBLE_CLASS: return "double";
    case mxSINGLE_CLASS: return "single";
    case mxINT32_CLASS: return "int32";
    default: return "unknown";
    }
}

mxArray* mxCreateDoubleMatrix(mwSize rows, mwSize cols, mxComplexity complexity) {
    return newMatrix(mxDOUBLE_CLASS, rows, cols, complexity);
}

mxArray* mxCreateNumericMatrix(mwSize rows, mwSize cols, mxClassID classId,
                               mxComplexity complexity) {
    return newMatrix(classId, rows, cols, complexity);
}

mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classId,
                              mxComplexity complexity) {
    std::vector<mwSize> given(dims, dims + ndim);
    while (given.size() < 2) given.push_back(1);
    return newArray(classId, given, complexity);
}

mxArray* mxCreateDoubleScalar(double value) {
    mxArray* array = newMatrix(mxDOUBLE_CLASS, 1, 1, mxREAL);
    *static_cast<double*>(array->real) = value;
    return array;
}

mxArray* mxCreateLogicalScalar(bool value) {
    mxArray* array = newMatrix(mxLOGICAL_CLASS, 1, 1, mxREAL);
    *static_cast<bool*>(array->real) = value;
    return array;
}

mxArray* mxCreateString(const char* text) {
    size_t length = std::strlen(text);
    mxArray* array = newMatrix(mxCHAR_CLASS, length == 0 ? 0 : 1, length, mxREAL);
    for (size_t k = 0; k < length; ++k) static_cast<char16_t*>(array->real)[k] = text[k];
    return array;
}

mxArray* mxCreateSparse(mwSize rows, mwSize cols, mwSize nzmax, mxComplexity complexity) {
    // Compressed columns, as the real hosts store them: the data holds only nzmax values (at
    // least one), so a plug-in that took it for a full rows x cols array would read past it.
    mxArray* array = newMatrix(mxDOUBLE_CLASS, rows, cols, mxREAL);
    freeGuarded(array->real, array->dataBytes);
    array->sparse = true;
    array->dataBytes = (nzmax == 0 ? 1 : nzmax) * sizeof(double);
    array->real = allocateGuarded(array->dataBytes);
    if (complexity == mxCOMPLEX) {
        array->complex = true;
        array->imag = allocateGuarded(array->dataBytes);
    }
    return array;
}

mxArray* mxCreateCellMatrix(mwSize rows, mwSize cols) {
    return newMatrix(mxCELL_CLASS, rows, cols, mxREAL);
}

void mxSetCell(mxArray* cell, mwIndex index, mxArray* value) {
    mxDestroyArray(cell->cells.at(index));
    cell->cells.at(index) = value;
}

void mxDestroyArray(mxArray* array) {
    if (array == nullptr) return;
    for (mxArray* inner : array->cells) mxDestroyArray(inner);
    if (array->ownsData) {
        freeGuarded(array->real, array->dataBytes);
        freeGuarded(array->imag, array->dataBytes);
    }
    delete array;
}

}  // extern "C"

namespace minihost {

MexEntry loadPlugin(const std::string& name) {
    static std::map<std::string, MexEntry> loaded;
    auto found = loaded.find(name);
    if (found != loaded.end()) return found->second;
    std::string path = std::string(MINIHOST_PLUGIN_DIR) + "/" + name + ".so";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) throw std::runtime_error("cannot load " + path + ": " + dlerror());
    void* symbol = dlsym(library, "mexFunction");
    if (symbol == nullptr) throw std::runtime_error(path + " exports no mexFunction");
    MexEntry entry = reinterpret_cast<MexEntry>(symbol);
    loaded[name] = entry;
    return entry;
}

CallResult callPlugin(MexEntry entry, const std::vector<const mxArray*>& args, int nlhs) {
    CallResult result;
    mxArray* outputs[8] = {};
    callRunning = true;
    callAllocations = 0;
    printedText.clear();
    try {
        entry(nlhs, outputs, static_cast<int>(args.size()),
              const_cast<const mxArray**>(args.data()));
    } catch (const HostError& error) {
        result.failed = true;
        result.errorId = error.id;
        result.errorMessage = error.message;
    } catch (...) {
        result.escaped = true;
    }
    callRunning = false;
    for (const mxArray* arg : args) result.guardsDamaged = result.guardsDamaged || !guardsIntact(arg);
    result.printed = printedText;
    result.blocksAllocated = callAllocations;
    releaseCallBlocks(result);
    return result;
}

bool guardsIntact(const mxArray* array) {
    if (array == nullptr) return true;
    for (const mxArray* inner : array->cells) {
        if (!guardsIntact(inner)) return false;
    }
    return guardIntact(array->real, array->dataBytes) && guardIntact(array->imag, array->dataBytes);
}

void setUnsetByte(unsigned char byte) { unsetByte = byte; }

void failAllocationAfter(int count, AllocationFailure how) {
    allocationsBeforeFailure = count;
    allocationFailure = how;
}

int liveBlockCount() { return static_cast<int>(liveBlocks.size()); }

LooseBlockScope::LooseBlockScope() : firstSerial_(allocationSerial) {}

LooseBlockScope::~LooseBlockScope() {
    for (auto it = liveBlocks.begin(); it != liveBlocks.end();) {
        if (isLooseSince(it->second, firstSerial_)) {
            std::free(it->first);
            it = liveBlocks.erase(it);
        } else {
            ++it;
        }
    }
}

int LooseBlockScope::blocksLeft() const {
    int count = 0;
    for (const auto& entry : liveBlocks) count += isLooseSince(entry.second, firstSerial_) ? 1 : 0;
    return count;
}

Array scalar(double value) { return Array(mxCreateDoubleScalar(value)); }

static void requireFit(size_t valueCount, int rows, int cols) {
    if (valueCount > static_cast<size_t>(rows) * static_cast<size_t>(cols))
        throw std::invalid_argument("minihost: more values than the array holds");
}

Array doubles(int rows, int cols, const std::vector<double>& values) {
    requireFit(values.size(), rows, cols);
    Array array(mxCreateDoubleMatrix(rows, cols, mxREAL));
    std::copy(values.begin(), values.end(), doubleData(array.get()));
    return array;
}

Array singles(int rows, int cols, const std::vector<float>& values) {
    requireFit(values.size(), rows, cols);
    Array array(mxCreateNumericMatrix(rows, cols, mxSINGLE_CLASS, mxREAL));
    std::copy(values.begin(), values.end(), singleData(array.get()));
    return array;
}

Array cellArray(int rows, int cols) { return Array(mxCreateCellMatrix(rows, cols)); }

Array sharedCopy(const mxArray* original) {
    if (original->classId == mxCELL_CLASS) throw std::invalid_argument("minihost: cells are not shared");
    Array copy(new mxArray_tag(*original));
    copy->ownsData = false;
    return copy;
}

mxArray* putCell(mxArray* cell, int index, Array value) {
    mxArray* stored = value.release();
    mxSetCell(cell, index, stored);
    return stored;
}

float* singleData(const mxArray* array) { return static_cast<float*>(mxGetData(array)); }

double* doubleData(const mxArray* array) { return mxGetPr(array); }

}  // namespace minihost
