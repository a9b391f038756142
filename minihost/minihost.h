// The test host: loads plug-ins built against this repository's mex.h and calls them the way
// Octave does, so kernels can be unit-tested and benchmarked without Octave. Every mxCalloc
// block is tracked; blocks a plug-in leaves behind are released when its call returns, and the
// call reports how many there were. Host errors and printed text are captured per call.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mex.h"

namespace minihost {

using MexEntry = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// Every array the host creates carries guard bytes around its data (see guardsIntact); under
// AddressSanitizer they are poisoned too. A sparse array (mxCreateSparse) holds only its nzmax
// values, as the real hosts store it.

// Loads the plug-in of that name from the build's host-plug-in folder and returns its
// mexFunction; throws std::runtime_error when the library or its entry point is missing.
MexEntry loadPlugin(const std::string& name);

struct CallResult {
    bool failed = false;          // the plug-in raised a host error
    std::string errorId;
    std::string errorMessage;
    bool escaped = false;         // some other exception left mexFunction: Octave would abort
    std::string printed;          // everything the call sent to mexPrintf
    int blocksAllocated = 0;      // mxCalloc blocks handed out during the call
    int blocksLeft = 0;           // of those, the blocks the plug-in did not free itself
    bool guardsDamaged = false;   // a guard byte of some argument (cells included) changed
};

// Calls a plug-in with positional arguments, as the host does for `plugin(args{:})` with
// nlhs requested outputs.
CallResult callPlugin(MexEntry entry, const std::vector<const mxArray*>& args, int nlhs = 0);

// True when the guard bytes before and after the data of `array` (real and imaginary parts,
// and of every array in its cells, recursively) still hold their canary pattern. Every array
// the host creates has such guards, so a write just outside an array shows here; callPlugin
// checks the guards of every argument after the call (CallResult::guardsDamaged). A null
// array (an unset cell) is intact.
bool guardsIntact(const mxArray* array);

// How a failing mxCalloc or mxMalloc fails: by returning NULL, or by raising a host error as
// Octave's and MATLAB's do (id "host:outOfMemory").
enum class AllocationFailure { returnsNull, raisesHostError };

// Makes the allocation after `count` more successful ones fail (0: the very next one); a
// negative count turns failures off. Lets tests drive out-of-memory paths.
void failAllocationAfter(int count, AllocationFailure how = AllocationFailure::returnsNull);

// The byte every block from mxMalloc starts filled with: by default 0xFF, which reads as NaN;
// a test may set another, such as a value that a stale flag would hold, to show that a plug-in
// sets what it reads.
const unsigned char defaultUnsetByte = 0xFF;
void setUnsetByte(unsigned char byte);

// Number of mxCalloc blocks currently not freed, inside or outside a call.
int liveBlockCount();

// Plays the part of a host call for frame helpers that a test calls directly (reading steps,
// working memory): when the scope ends, it releases every mxCalloc block allocated outside a
// call since the scope began and still live, as the host releases a call's blocks when the
// call returns. An inner scope releases only the blocks of its own lifetime.
class LooseBlockScope {
public:
    LooseBlockScope();
    ~LooseBlockScope();
    LooseBlockScope(const LooseBlockScope&) = delete;
    LooseBlockScope& operator=(const LooseBlockScope&) = delete;

    // Blocks allocated outside a call since the scope began that are still live.
    int blocksLeft() const;

private:
    long long firstSerial_;
};

struct ArrayDeleter {
    void operator()(mxArray* array) const { mxDestroyArray(array); }
};
using Array = std::unique_ptr<mxArray, ArrayDeleter>;

Array scalar(double value);
Array doubles(int rows, int cols, const std::vector<double>& values = {});
Array singles(int rows, int cols, const std::vector<float>& values = {});
Array cellArray(int rows, int cols);

// A second array holding the very data of `original` (which must outlive it), as a host's
// lazy copy does: writes through either show in both.
Array sharedCopy(const mxArray* original);

// Moves `value` into cell `index` of `cell` and returns the stored array.
mxArray* putCell(mxArray* cell, int index, Array value);

float* singleData(const mxArray* array);
double* doubleData(const mxArray* array);

}  // namespace minihost
