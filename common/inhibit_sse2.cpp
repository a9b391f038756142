// The SSE2 copies of the inhibition kernels (inhibit_kernels.h). SSE2 is part of every x86-64
// processor, so these need no target attribute; elsewhere the file is empty.
#include "inhibit_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace inhibition {

namespace {

// Four running maxima and their slots.
struct Offer4 {
    __m128 best;
    __m128i slotOf;
};

// The offer of candidates i ... i + 3 (step 1) or 2i, 2i + 2, 2i + 4, 2i + 6 (step 2) to
// maxima i ... i + 3. _mm_max_ps(v, b) is v > b ? v : b, exactly the rule of offerOne.
inline Offer4 offer4(const float* candidates, int32_t step, const float* best, const int32_t* slotOf, int32_t i,
                     __m128i slot) {
    __m128 v = step == 1 ? _mm_loadu_ps(candidates + i)
                         // Values 0 and 2 of the four from 2i, values 1 and 3 of the four from
                         // 2i + 3 (so nothing past the last candidate is read).
                         : _mm_shuffle_ps(_mm_loadu_ps(candidates + 2 * i), _mm_loadu_ps(candidates + 2 * i + 3),
                                          _MM_SHUFFLE(3, 1, 2, 0));
    __m128 b = _mm_loadu_ps(best + i);
    __m128i wins = _mm_castps_si128(_mm_cmpgt_ps(v, b));
    __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(slotOf + i));
    return Offer4{_mm_max_ps(v, b), _mm_or_si128(_mm_and_si128(wins, slot), _mm_andnot_si128(wins, old))};
}

inline void store4(const Offer4& offer, float* best, int32_t* slotOf, int32_t i) {
    _mm_storeu_ps(best + i, offer.best);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(slotOf + i), offer.slotOf);
}

}  // namespace

// The offer four maxima at a time, for steps 1 and 2 and runs of at least one vector (others
// are offered one by one). A run that is not a whole number of vectors ends on a vector that
// overlaps the one before: both are formed from the maxima as they stood before this slot (the
// last one is loaded and formed first, and stored last), so the values where they overlap are
// the same.
void offerSlotSse2(const SlotOffer& offer) {
    if ((offer.step != 1 && offer.step != 2) || offer.runLength < sseLanes) {
        offerSlotBaseline(offer);
        return;
    }
    __m128i slot = _mm_set1_epi32(offer.slot);
    int32_t last = offer.runLength - sseLanes;
    for (int32_t j = 0; j < offer.colCount; ++j) {
        const float* candidates = offer.candidates + j * offer.sourceStride;
        float* best = offer.best + int64_t{j} * offer.width;
        int32_t* slotOf = offer.slotOf + int64_t{j} * offer.width;
        Offer4 ending = offer4(candidates, offer.step, best, slotOf, last, slot);
        for (int32_t i = 0; i < last; i += sseLanes) {
            store4(offer4(candidates, offer.step, best, slotOf, i, slot), best, slotOf, i);
        }
        store4(ending, best, slotOf, last);
    }
}

}  // namespace inhibition

#endif
