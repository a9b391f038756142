// The kernels of inhibition: the inner loops that inhibit.cpp runs over whole columns, each in
// a copy per instruction set: inhibit_baseline.cpp (plain C++, any processor),
// inhibit_sse2.cpp (SSE2, part of every x86-64 processor) and inhibit_avx2.cpp (compiled with
// a target attribute, run only where avx2Available()). Every copy of a kernel gives the bits
// its contract states, whatever the processor; inhibitKernelsFor picks the copies to run.
#pragma once

#include <cstdint>

#include "dispatch.h"
#include "shifts.h"

namespace inhibition {

// Values per vector of SSE2 and of AVX2.
constexpr int32_t sseLanes = 4;
constexpr int32_t avxLanes = 8;

// response = response * factor, in double, rounded to single, for `count` responses of a
// column and their factors (Uniform: factors[0] for all); returns how many of the products are
// NaN. Each product is formed and rounded on its own, so every vector width gives the same
// bits.
template <bool Uniform>
VECTOR_HELPER int32_t scaleColumnBody(float* responses, const double* factors, int32_t count) {
    int32_t nanCount = 0;
    double uniform = factors[0];
    for (int32_t i = 0; i < count; ++i) {
        float product = static_cast<float>(responses[i] * (Uniform ? uniform : factors[i]));
        responses[i] = product;
        nanCount += product != product;
    }
    return nanCount;
}

// The slot a trace value names, and 1 in `stray` when it is not a whole slot number from 0 to
// limit - 1 (then `slot` is 0 or the value truncated), decided without a branch.
struct NamedSlot {
    int32_t slot;
    int32_t stray;
};

VECTOR_HELPER NamedSlot namedSlotOf(float v, float limit) {
    bool inRange = (v >= 0.0f) & (v < limit);
    float inside = inRange ? v : 0.0f;
    int32_t slot = static_cast<int32_t>(inside);
    return NamedSlot{slot, !inRange | (static_cast<float>(slot) != inside)};
}

// marks[i] = -1 where the value at i of a column of slot masks has the bit of trace[i]'s slot,
// else 0, for `count` positions; returns false, having marked nothing certain, when a trace
// value is not a whole slot number below `limit` (at most 32).
VECTOR_HELPER bool markByMasksBody(const float* trace, const uint32_t* rowMasks, uint32_t colMask, int32_t* marks,
                                   int32_t count, float limit) {
    int32_t strays = 0;
    for (int32_t i = 0; i < count; ++i) {
        NamedSlot named = namedSlotOf(trace[i], limit);
        strays += named.stray;
        marks[i] = -static_cast<int32_t>(((rowMasks[i] & colMask) >> named.slot) & 1u);
    }
    return strays == 0;
}

// One slot's offer to a block of running maxima: colCount columns of runLength maxima, column
// j's at best + j * width (and slotOf + j * width), whose candidates are candidates[j *
// sourceStride + i * step]. A candidate wins only when strictly greater, so ties keep the
// earlier slot and NaN never wins.
struct SlotOffer {
    const float* candidates;
    int64_t sourceStride;
    int32_t step;
    float* best;
    int32_t* slotOf;
    int32_t width;
    int32_t runLength;
    int32_t colCount;
    int32_t slot;
};

inline void offerOne(const float* candidate, float* best, int32_t* slotOf, int32_t slot) {
    float v = *candidate;
    float b = *best;
    bool wins = v > b;
    *best = wins ? v : b;
    *slotOf = wins ? slot : *slotOf;
}

// The search of localMaxOverShifts at one pooled position through located slots: slot s reads
// slotMaps[s][slotOffsets[s] + at], at being px * poolStep + py * poolStep * mapRows.
inline LocalMax searchLocated(const float* const* slotMaps, const int64_t* slotOffsets, int32_t shiftCount,
                              int64_t at) {
    LocalMax found{noResponse, 0};
    for (int32_t s = 0; s < shiftCount; ++s) {
        float v = slotMaps[s][slotOffsets[s] + at];
        bool wins = v > found.best;
        found.best = wins ? v : found.best;
        found.slot = wins ? s : found.slot;
    }
    return found;
}

// Runs of pooled positions to search through located slots (see searchLocated), one run per
// column of an area of width rows by colCount columns whose first position is (rowFirst,
// colFirst): column j's run covers pooled rows runFirst[j] ... runLast[j] (none when
// runLast[j] < runFirst[j]). Each position of a run gets its largest candidate and that
// candidate's slot, as localMaxOverShifts finds them, at best and slotOf laid out over the
// area (column j at offset j * width); other positions are left alone. Every slot must land
// on the map at every position of a run.
struct RunSearch {
    const float* const* slotMaps;
    const int64_t* slotOffsets;
    int32_t shiftCount;
    int32_t step;  // the pool step, 1 or 2
    int32_t mapRows;
    int32_t rowFirst;
    int32_t colFirst;
    int32_t width;
    int32_t colCount;
    const int32_t* runFirst;
    const int32_t* runLast;
    float* best;
    int32_t* slotOf;
};

// The copies of the kernels that one processor runs.
struct InhibitKernels {
    // Every response of a column scaled as scaleColumnBody states (uniform: factors[0] for
    // all); returns the count of NaN products.
    int32_t (*scaleColumn)(float* responses, const double* factors, int32_t count, bool uniform);
    // markByMasksBody.
    bool (*markByMasks)(const float* trace, const uint32_t* rowMasks, uint32_t colMask, int32_t* marks,
                        int32_t count, float limit);
    // Every maximum of the offer's block replaced by its candidate where the candidate is
    // strictly greater (offerOne), its slot with it.
    void (*offerSlot)(const SlotOffer& offer);
    // The runs of a RunSearch searched; null where the instruction set has no such kernel, and
    // the caller offers slot by slot instead.
    void (*searchRuns)(const RunSearch& search);
};

// The copies of each kernel, by instruction set.
int32_t scaleColumnBaseline(float* responses, const double* factors, int32_t count, bool uniform);
bool markByMasksBaseline(const float* trace, const uint32_t* rowMasks, uint32_t colMask, int32_t* marks,
                         int32_t count, float limit);
void offerSlotBaseline(const SlotOffer& offer);
#if defined(__SSE2__)
void offerSlotSse2(const SlotOffer& offer);
int32_t scaleColumnAvx2(float* responses, const double* factors, int32_t count, bool uniform);
bool markByMasksAvx2(const float* trace, const uint32_t* rowMasks, uint32_t colMask, int32_t* marks,
                     int32_t count, float limit);
void searchRunsAvx2(const RunSearch& search);
#endif

// Each instruction set's kernels: where it has no copy of its own, that of the set below it.
inline constexpr InhibitKernels baselineKernels{scaleColumnBaseline, markByMasksBaseline, offerSlotBaseline,
                                                nullptr};
#if defined(__SSE2__)
inline constexpr InhibitKernels sse2Kernels{scaleColumnBaseline, markByMasksBaseline, offerSlotSse2, nullptr};
inline constexpr InhibitKernels avx2Kernels{scaleColumnAvx2, markByMasksAvx2, offerSlotSse2, searchRunsAvx2};
#endif

// The kernels to run: AVX2's when useAvx2 (to be set only where avx2Available()), otherwise
// SSE2's where the build targets x86-64, otherwise the baseline's.
inline const InhibitKernels& inhibitKernelsFor(bool useAvx2) {
#if defined(__SSE2__)
    return useAvx2 ? avx2Kernels : sse2Kernels;
#else
    (void)useAvx2;
    return baselineKernels;
#endif
}

}  // namespace inhibition
