// The AVX2 copies of the inhibition kernels (inhibit_kernels.h), compiled for AVX2 by a target
// attribute on each function, whatever flags the build passes; they run only where
// avx2Available(). Built with the SSE2 copies, on x86 only.
#include "inhibit_kernels.h"

#if defined(__SSE2__)
#include <immintrin.h>

#include <algorithm>

namespace inhibition {

namespace {

// The most AVX2 vectors of maxima a search keeps in registers.
constexpr int32_t maxRunVectors = 4;

// The search of up to avxLanes * Vectors consecutive positions of one column at once: their
// running maxima and slots stay in registers while every located slot offers its candidates
// (Step 1 or 2); the last vector ends at runLength and may overlap the one before, which yields
// the same values there. `at` is the reading offset of the first position (px * poolStep +
// py * poolStep * mapRows).
template <int32_t Vectors, int32_t Step>
AVX2_VERSION inline void searchRunAvx2(const RunSearch& search, int64_t at, int32_t runLength, float* best,
                                       int32_t* slotOf) {
    __m256 maxima[Vectors];
    __m256i slots[Vectors];
    int32_t start[Vectors];
    for (int32_t v = 0; v < Vectors; ++v) {
        maxima[v] = _mm256_set1_ps(noResponse);
        slots[v] = _mm256_setzero_si256();
        start[v] = v + 1 < Vectors ? avxLanes * v : runLength - avxLanes;
    }
    for (int32_t s = 0; s < search.shiftCount; ++s) {
        const float* candidates = search.slotMaps[s] + (search.slotOffsets[s] + at);
        __m256i slot = _mm256_set1_epi32(s);
        for (int32_t v = 0; v < Vectors; ++v) {
            __m256 c;
            if (Step == 1) {
                c = _mm256_loadu_ps(candidates + start[v]);
            } else {
                // Candidates 2i ... 2i + 14 by twos: values 0, 2, 4, 6 of the eight from 2i and 1,
                // 3, 5, 7 of the eight from 2i + 7 (so nothing past the last candidate is read),
                // in lanes that a 64-bit permutation puts in order.
                const float* from = candidates + 2 * start[v];
                __m256 pairs = _mm256_shuffle_ps(_mm256_loadu_ps(from), _mm256_loadu_ps(from + 7), _MM_SHUFFLE(3, 1, 2, 0));
                c = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(pairs), _MM_SHUFFLE(3, 1, 2, 0)));
            }
            __m256i wins = _mm256_castps_si256(_mm256_cmp_ps(c, maxima[v], _CMP_GT_OQ));
            maxima[v] = _mm256_max_ps(c, maxima[v]);
            slots[v] = _mm256_blendv_epi8(slots[v], slot, wins);
        }
    }
    for (int32_t v = 0; v < Vectors; ++v) {
        _mm256_storeu_ps(best + start[v], maxima[v]);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(slotOf + start[v]), slots[v]);
    }
}

template <int32_t Step>
AVX2_VERSION void searchRunsWithStep(const RunSearch& search) {
    for (int32_t j = 0; j < search.colCount; ++j) {
        int32_t first = search.runFirst[j];
        int32_t runLength = search.runLast[j] - first + 1;
        if (runLength <= 0) continue;
        int32_t i = (first - search.rowFirst) + j * search.width;
        int64_t at = int64_t{first} * Step + int64_t{search.colFirst + j} * Step * search.mapRows;
        if (runLength < avxLanes) {
            for (int32_t r = 0; r < runLength; ++r) {
                LocalMax found = searchLocated(search.slotMaps, search.slotOffsets, search.shiftCount,
                                               at + int64_t{r} * Step);
                search.best[i + r] = found.best;
                search.slotOf[i + r] = found.slot;
            }
            continue;
        }
        // Chunks of up to avxLanes * maxRunVectors positions; a last chunk of fewer than avxLanes
        // is moved back to end at the run's end, overlapping the chunk before.
        for (int32_t done = 0; done < runLength;) {
            int32_t chunk = std::min(avxLanes * maxRunVectors, runLength - done);
            if (chunk < avxLanes) {
                done = runLength - avxLanes;
                chunk = avxLanes;
            }
            int64_t from = at + int64_t{done} * Step;
            float* best = search.best + i + done;
            int32_t* slotOf = search.slotOf + i + done;
            switch ((chunk + avxLanes - 1) / avxLanes) {  // 1 ... maxRunVectors
                case 1: searchRunAvx2<1, Step>(search, from, chunk, best, slotOf); break;
                case 2: searchRunAvx2<2, Step>(search, from, chunk, best, slotOf); break;
                case 3: searchRunAvx2<3, Step>(search, from, chunk, best, slotOf); break;
                default: searchRunAvx2<4, Step>(search, from, chunk, best, slotOf); break;
            }
            done += chunk;
        }
    }
}

}  // namespace

// The same products four at a time: each is formed and rounded on its own, so the bits are the
// same.
AVX2_VERSION int32_t scaleColumnAvx2(float* responses, const double* factors, int32_t count, bool uniform) {
    return uniform ? scaleColumnBody<true>(responses, factors, count) : scaleColumnBody<false>(responses, factors, count);
}

// The same marks, eight positions at a time with AVX2's shifts by a count per value.
AVX2_VERSION bool markByMasksAvx2(const float* trace, const uint32_t* rowMasks, uint32_t colMask, int32_t* marks,
                                  int32_t count, float limit) {
    return markByMasksBody(trace, rowMasks, colMask, marks, count, limit);
}

AVX2_VERSION void searchRunsAvx2(const RunSearch& search) {
    if (search.step == 1) {
        searchRunsWithStep<1>(search);
    } else {
        searchRunsWithStep<2>(search);
    }
}

}  // namespace inhibition

#endif
