// The baseline copies of the inhibition kernels (inhibit_kernels.h): plain C++, which any
// processor runs and the compiler vectorizes for the instruction set the build targets.
#include "inhibit_kernels.h"

namespace inhibition {

int32_t scaleColumnBaseline(float* responses, const double* factors, int32_t count, bool uniform) {
    return uniform ? scaleColumnBody<true>(responses, factors, count) : scaleColumnBody<false>(responses, factors, count);
}

bool markByMasksBaseline(const float* trace, const uint32_t* rowMasks, uint32_t colMask, int32_t* marks,
                         int32_t count, float limit) {
    return markByMasksBody(trace, rowMasks, colMask, marks, count, limit);
}

void offerSlotBaseline(const SlotOffer& offer) {
    for (int32_t j = 0; j < offer.colCount; ++j) {
        const float* candidates = offer.candidates + j * offer.sourceStride;
        float* best = offer.best + int64_t{j} * offer.width;
        int32_t* slotOf = offer.slotOf + int64_t{j} * offer.width;
        for (int32_t i = 0; i < offer.runLength; ++i) {
            offerOne(candidates + int64_t{i} * offer.step, best + i, slotOf + i, offer.slot);
        }
    }
}

}  // namespace inhibition
