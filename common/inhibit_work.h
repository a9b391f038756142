// The inner parts of inhibition shared by its rules (inhibit.cpp) and its read-ahead
// (inhibit_readahead.cpp): the ranges of pixels and pooled positions one inhibition works on,
// what the work learns of each overlap cell and of NaN in the responses, and where a shift
// slot can have wiped out a maximum. Plug-ins include inhibit.h only.
#pragma once

#include <algorithm>
#include <cstdint>

#include "inhibit.h"

// How the factors of one overlap cell scale responses, and where it holds factors of exactly
// 0 (either sign), as offsets (dx, dy) from the element in -2h ... 2h.
enum class FactorKind : uint8_t {
    general,   // factors differ
    uniform,   // every factor has the bit pattern of `value`
    identity,  // every factor is exactly 1.0: only a NaN response can change (a signalling NaN
               // is quieted by the product)
};

struct FactorCell {
    bool known;
    FactorKind kind;
    bool solid;  // every factor of the zero box is 0
    double value;
    int32_t dxLo, dxHi, dyLo, dyHi;  // bounding box of the zeros; empty when dxLo > dxHi
};

// During the repair of one orientation: the pooled positions (px, py) from which slot s traces
// back into the zero box of its source's overlap cell, px - rowLo from 0 to rowSpan and
// py - colLo from 0 to colSpan (compared without sign, so that a slot that reaches nothing,
// with rowLo = 2^31, holds no position), and where the factor of such a position lies:
// factors[first + (px - rowLo) * rowStride + (py - colLo) * colStride]. A solid box needs no
// factor: its factors point at a single 0 with strides 0.
struct SlotReach {
    uint32_t rowLo, rowSpan, colLo, colSpan;
    const double* factors;
    int64_t first, rowStride, colStride;
};

// Pixels of one orientation's map that an inhibition about to run will read (empty when
// rowFirst > rowLast).
struct ReadBox {
    int64_t rowFirst, rowLast, colFirst, colLast;
};

namespace inhibition {

// The inclusive range first ... last of 1 ... size that lies within `reach` of `centre`;
// empty when first > last. Formed in 64 bits, so any 32-bit centre is safe.
struct Span {
    int32_t first;
    int32_t last;
};

inline Span spanInside(int32_t centre, int32_t reach, int32_t size) {
    int64_t first = std::max<int64_t>(1, int64_t{centre} - reach);
    int64_t last = std::min<int64_t>(size, int64_t{centre} + reach);
    if (first > last) return Span{1, 0};
    return Span{static_cast<int32_t>(first), static_cast<int32_t>(last)};
}

// Pooled positions whose shift neighbourhood can reach pixels centre - reach ... centre +
// reach, clipped to lo ... hi: from (centre - reach) / poolStep - posShiftMax + 1 to
// (centre + reach) / poolStep + posShiftMax, quotients truncated toward zero.
inline Span repoolSpan(int32_t centre, int32_t reach, int32_t poolStep, int32_t posShiftMax, int32_t lo,
                       int32_t hi) {
    int64_t first = (int64_t{centre} - reach) / poolStep - posShiftMax + 1;
    int64_t last = (int64_t{centre} + reach) / poolStep + posShiftMax;
    first = std::max<int64_t>(first, lo);
    last = std::min<int64_t>(last, hi);
    if (first > last) return Span{1, 0};
    return Span{static_cast<int32_t>(first), static_cast<int32_t>(last)};
}

inline bool isEmpty(const Span& span) { return span.first > span.last; }

inline int32_t lengthOf(const Span& span) { return span.last - span.first + 1; }

// An inclusive rectangle of pooled positions; empty when either span is.
struct Rect {
    Span rows;
    Span cols;
};

// What the work knows of overlap cell selOrient + b * orientCount: whether all its factors have
// the same bits (and whether those are 1.0), and the box of its zeros; the cell is read the
// first time it is asked for.
const FactorCell& cellOf(InhibitWork& work, const InhibitGrids& grids, int32_t selOrient, int32_t b);

// What the work knows of a block of response rows: nothing yet, that it holds no NaN, or that
// it may hold one.
enum : uint8_t { nanUnknown = 0, nanFree = 1, nanHeld = 2 };

inline int32_t nanBlocksOf(int32_t rows) {
    return static_cast<int32_t>((int64_t{rows} + nanBlockRows - 1) / nanBlockRows);
}

// The NaN flags of the map of image `image` and orientation b: column yi, block j (rows
// j * nanBlockRows + 1 ... (j + 1) * nanBlockRows) at (yi - 1) * nanBlocksOf(mapRows) + j.
inline uint8_t* nanFlagsOf(const InhibitWork& work, const ImageExtent& extent, int32_t image, int32_t b) {
    return work.nanFlags + work.nanFlagStart[image] + int64_t{b} * extent.mapCols * nanBlocksOf(extent.mapRows);
}

// One inhibition's element and the re-pooling range rows x cols it repairs.
struct RepoolSite {
    const ShiftTable& shifts;
    const InhibitGrids& grids;
    const ImageExtent& extent;
    int32_t image;
    int32_t selOrient;
    int32_t x;
    int32_t y;
    Span rows;
    Span cols;
};

// Sets, for each slot of orientation o, the positions of the range from which it traces back
// into a zero of its source's overlap cell: slot s reaches pixel p * poolStep + shift, whose
// offset from the element lies in lo ... hi for p from ceil((centre + lo - shift) / poolStep)
// to floor((centre + hi - shift) / poolStep). Returns the rectangle that holds them all; no
// other position can have been wiped out.
Rect reachOfSlots(const RepoolSite& site, InhibitWork& work, int32_t o);

}  // namespace inhibition
