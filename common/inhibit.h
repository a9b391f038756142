// Drawing a chosen element into a sketch, and inhibiting what it explains: the responses
// around it are multiplied by overlap factors, and the pooled maxima whose source response
// was wiped out (a factor of exactly 0) are searched again over the suppressed responses.
// Shared by the learning plug-in and the recovery plug-ins, so that all draw and inhibit
// alike.
#pragma once

#include <cstdint>

#include "frame.h"
#include "shifts.h"

// Largest filterHalf h the plug-ins accept: an overlap factor array holds (4h + 1)^2 values,
// which must stay within 32-bit indexing.
constexpr int32_t filterHalfLimit = 11584;

// The inclusive rectangle rowLo ... rowHi x colLo ... colHi of pooled positions that element
// selection and re-pooling consider; empty when rowLo > rowHi or colLo > colHi.
struct PoolWindow {
    int32_t rowLo;
    int32_t rowHi;
    int32_t colLo;
    int32_t colHi;
};

inline bool isEmpty(const PoolWindow& window) {
    return window.rowLo > window.rowHi || window.colLo > window.colHi;
}

// The window of maps of mapRows x mapCols pixels, with quotients truncated toward zero:
// rowLo = (filterHalf + 1) / poolStep + 1 + posShiftMax,
// rowHi = (mapRows - filterHalf) / poolStep - 1 - posShiftMax, and likewise for columns.
// Every pixel that a window position reaches through a shift slot then has its whole stamp
// neighbourhood inside the map. Requires poolStep >= 1, 0 <= filterHalf <= filterHalfLimit,
// posShiftMax >= 0 and posShiftMax * poolStep within 32 bits.
PoolWindow computePoolWindow(int32_t filterHalf, int32_t posShiftMax, int32_t poolStep,
                             int32_t mapRows, int32_t mapCols);

// Max-stamps the (2h + 1)^2 column-major stamp of `orient`, scaled by `factor`, centred on the
// 1-based pixel (x, y) of a rows x cols sketch: every pixel of the stamp inside the map takes
// the stamp value times factor (formed in double, rounded to single) where that is strictly
// greater than what the map holds. Pixels outside the map are neither read nor written, so
// (x, y) may lie anywhere within 32 bits.
void stampElement(float* map, int32_t rows, int32_t cols, const double* const* orientStamps,
                  int32_t filterHalf, int32_t orient, int32_t x, int32_t y, double factor);

// The maps and settings of one call that inhibition works on. The three grids are cell
// pointer tables with cell image + orient * imageCount; overlapTable cell a + b * orientCount
// holds the (4h + 1)^2 factors applied to orientation b around an element of orientation a.
struct InhibitGrids {
    float* const* responseMaps;
    float* const* pooledMaps;
    float* const* traceMaps;
    const double* const* overlapTable;
    int32_t imageCount;
    int32_t orientCount;
    int32_t filterHalf;
    int32_t posShiftMax;
    int32_t poolStep;
};

// One image's full-resolution and pooled sizes, and its pool window.
struct ImageExtent {
    int32_t mapRows;
    int32_t mapCols;
    int32_t pooledRows;
    int32_t pooledCols;
    PoolWindow window;
};

// What inhibition learns of one overlap cell, what one shift slot can wipe out during one
// inhibition, and what reading ahead reads of one map (defined in inhibit_work.h).
struct FactorCell;
struct SlotReach;
struct ReadBox;

// Working memory of the inhibitions of one call, from the host: what each overlap cell holds
// (learned the first time the cell is used, so the factors must not change while the work is
// in use), which blocks of response columns are known to hold no NaN (learned as inhibition
// meets them, and kept true as it changes them), and scratch arrays for the pooled positions
// that one inhibition repairs. Made once per call with prepareInhibition, so that no inhibition
// allocates; released with releaseInhibition.
struct InhibitWork {
    int32_t orientCount;
    bool useAvx2;           // whether to run the AVX2 kernels (the processor has AVX2); the
                            // others give the same bits
    FactorCell* cells;      // orientCount^2, cell a + b * orientCount of the overlap table
    SlotReach* slots;       // shiftCount, for the orientation being repaired
    const float** slotMaps; // shiftCount: the map each slot of that orientation reads
    int64_t* slotOffsets;   // shiftCount: and where pooled position (0, 0) reads it
    uint8_t* reachesZero;   // orientCount^2: whether a slot of orientation o reads a zero of
                            // selected orientation a (at a + o * orientCount): 0 not known yet,
                            // 1 no, 2 yes
    ReadBox* readBoxes;     // orientCount, for reading ahead
    int64_t* nanFlagStart;  // per image, where the NaN flags of its maps start in nanFlags
    uint8_t* nanFlags;      // per map of an image, per column, per block of nanBlockRows rows
    bool ownsNaNFlags;      // false when the flags belong to another work of the call
    int32_t scratchRows;    // the largest repair range, in pooled rows and columns
    int32_t scratchCols;
    int32_t* wiped;         // scratchRows * scratchCols each: -1 where wiped out, else 0, and
    float* best;            // the running maxima and slots of a search
    int32_t* slotOf;
    uint32_t* rowMasks;     // scratchRows and scratchCols: slot masks of the repair range
    uint32_t* colMasks;
    int32_t* runFirst;      // scratchCols: per column of the repair range, its first and last
    int32_t* runLast;       // wiped-out row (runLast < runFirst: none)
    unsigned touched;       // a sum of values read ahead, so that the reads are made
};

// Rows of a block of a response column whose NaN-freedom inhibition keeps track of.
constexpr int32_t nanBlockRows = 32;

// The full-resolution sizes of the images of a call: image i has rows[i * stride] x
// cols[i * stride] pixels (stride 0: one size for all). An image that is never inhibited may
// be given 0 x 0.
struct InhibitedSizes {
    const int32_t* rows;
    const int32_t* cols;
    int32_t stride;
};

// Work for inhibiting, with these tables and grids, images of the given sizes. Requires the
// limits of inhibitAround.
InhibitWork prepareInhibition(const ShiftTable& shifts, const InhibitGrids& grids, const InhibitedSizes& sizes);

// prepareInhibition's work with the NaN flags left unset, to be cleared image by image with
// forgetNaNFreedom before each image is inhibited: the threads that inhibit the images then
// share the clearing, which for large images is the larger part of preparing the work.
InhibitWork prepareInhibitionUnsetFlags(const ShiftTable& shifts, const InhibitGrids& grids,
                                        const InhibitedSizes& sizes);

// Marks every NaN flag of one image's maps unknown (as prepareInhibition leaves them), so that
// inhibition reads the responses for NaN as it meets them.
void forgetNaNFreedom(InhibitWork& work, int32_t image);

// Work for one more thread of a call in which each image is inhibited with one work only:
// tables and scratch of its own, but the NaN flags of flagOwner (prepareInhibition's work for
// the same grids and sizes), whose parts for different images no two threads then touch. It
// saves taking and clearing a set of flags for every image per thread. Released with
// releaseInhibition, before flagOwner is.
InhibitWork prepareInhibitionSharingFlags(const ShiftTable& shifts, const InhibitGrids& grids,
                                          const InhibitedSizes& sizes, const InhibitWork& flagOwner);

// Reads every response of the images of the given sizes (those of prepareInhibition) for NaN
// at once, block by block in storage order, rather than as inhibition meets them: cheaper when
// inhibition will meet most of them.
void learnNaNFreedom(InhibitWork& work, const InhibitGrids& grids, const InhibitedSizes& sizes);

// Releases every block of the work.
void releaseInhibition(const InhibitWork& work);

// Inhibits image `image` around an element of orientation selOrient at pixel (x, y):
// 1. every response of every orientation b within 2h rows and columns of (x, y) and inside
//    the map is multiplied by its factor from overlapTable cell selOrient + b * orientCount
//    (product in double, rounded to single);
// 2. over the pooled positions of rows max(rowLo, (x - 2h) / poolStep - posShiftMax + 1) ...
//    min(rowHi, (x + 2h) / poolStep + posShiftMax), and likewise for columns (quotients
//    truncated toward zero), each orientation's pooled maximum whose traced source lies
//    within 2h of (x, y) and met a factor of exactly 0 is searched again with
//    localMaxOverShifts; its value and slot are rewritten, and when summedMaps is not null,
//    summedMaps[o][k] grows by (new - old), formed in double and rounded to single.
// Requires every trace value inside the window to be a slot of `shifts`, which must be built
// from the same orientCount, posShiftMax and poolStep; only this image's maps change. `work`
// comes from prepareInhibition with the same tables and grids and this image's size, and no
// response it has met may have been changed by anything but inhibition with this work.
void inhibitAround(const ShiftTable& shifts, const InhibitGrids& grids, const ImageExtent& extent,
                   int32_t image, int32_t selOrient, int32_t x, int32_t y, float* const* summedMaps,
                   InhibitWork& work);

// The same with work of its own, prepared and released within the call.
void inhibitAround(const ShiftTable& shifts, const InhibitGrids& grids, const ImageExtent& extent,
                   int32_t image, int32_t selOrient, int32_t x, int32_t y, float* const* summedMaps);

// Reads ahead, without changing any map, one value of each cache line that the same
// inhibitAround with `work` is about to read, so that lines and pages are at hand when it
// runs. Done just before other work (the inhibition of another image), it lets the processor
// fetch them all at once rather than one by one as the inhibition meets them.
void readAheadInhibition(const ShiftTable& shifts, const InhibitGrids& grids, const ImageExtent& extent,
                         int32_t image, int32_t selOrient, int32_t x, int32_t y, InhibitWork& work);

// True when a stored trace value names a slot of a table with shiftCount slots: a whole
// number from 0 to shiftCount - 1.
bool isShiftSlot(float traceValue, int32_t shiftCount);

// Whether every trace value of one map (pooledRows rows) inside a nonempty `window` is a slot
// of a table with shiftCount slots. Reads only; safe on any thread.
bool windowHoldsSlots(const float* trace, int32_t pooledRows, const PoolWindow& window, int32_t shiftCount);

// Refuses the call unless every trace value of image `image` inside `window` (all
// orientations) is a shift slot; `position` is the 0-based argument of the trace grid.
void requireSlotsInWindow(const ArgList& args, int32_t position, const float* const* traceMaps,
                          int32_t imageCount, int32_t orientCount, int32_t image,
                          int32_t pooledRows, const PoolWindow& window, int32_t shiftCount);

// Refuses the call unless the trace value at pooled position (x, y) of cell
// image + orient * imageCount is a shift slot.
void requireSlotAt(const ArgList& args, int32_t position, const float* const* traceMaps,
                   int32_t imageCount, int32_t image, int32_t orient, int32_t x, int32_t y,
                   int32_t pooledRows, int32_t shiftCount);
