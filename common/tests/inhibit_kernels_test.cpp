// Every copy of each inhibition kernel (inhibit_kernels.h) that this build holds and this
// processor runs, against its plain loop, bit for bit, on random columns: lengths on both
// sides of every vector width, quiet and signalling NaN, infinities, -0 and ties, stray trace
// values, and buffers that end exactly at the last value a kernel may touch.
#include "inhibit_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"

using namespace inhibition;

namespace {

struct KernelSet {
    const char* name;
    const InhibitKernels* kernels;
};

std::vector<KernelSet> kernelSetsHere() {
    std::vector<KernelSet> sets{{"baseline", &baselineKernels}};
#if defined(__SSE2__)
    sets.push_back({"SSE2", &sse2Kernels});
    if (avx2Available()) sets.push_back({"AVX2", &avx2Kernels});
#endif
    return sets;
}

// A value drawn so that NaN of both kinds, infinities, -0 and ties all occur.
float valueDrawn(testsupport::SeededRandom& random) {
    switch (random.integer(0, 9)) {
        case 0: return random.integer(0, 1) ? std::numeric_limits<float>::quiet_NaN()
                                            : std::numeric_limits<float>::signaling_NaN();
        case 1: return random.integer(0, 1) ? std::numeric_limits<float>::infinity()
                                            : -std::numeric_limits<float>::infinity();
        case 2: return -0.0f;
        case 3: case 4: return static_cast<float>(random.integer(-2, 2));
        default: return random.uniform(-4.0f, 4.0f);
    }
}

double factorDrawn(testsupport::SeededRandom& random) {
    const double special[] = {0.0, -0.0, 1.0, 0.5, std::numeric_limits<double>::quiet_NaN()};
    return random.integer(0, 1) ? special[random.integer(0, 4)] : random.uniform(-2.0f, 2.0f);
}

bool sameFloats(const std::vector<float>& a, const std::vector<float>& b) {
    for (size_t i = 0; i < a.size(); ++i) {
        if (!testsupport::sameBits(a[i], b[i])) return false;
    }
    return a.size() == b.size();
}

TEST(InhibitKernels, ScaleColumnsAsThePlainProductDoes) {
    testsupport::SeededRandom random;
    for (const KernelSet& set : kernelSetsHere()) {
        for (int trial = 0; trial < 300; ++trial) {
            SCOPED_TRACE(testing::Message() << set.name << ", trial " << trial);
            int count = random.integer(0, 41);
            bool uniform = random.integer(0, 1) == 1;
            std::vector<float> responses(count + 1);
            for (float& v : responses) v = valueDrawn(random);
            std::vector<double> factors(uniform ? 1 : std::max(count, 1));
            for (double& f : factors) f = factorDrawn(random);
            std::vector<float> expected = responses;
            int expectedNaN = 0;
            for (int i = 0; i < count; ++i) {
                expected[i] = static_cast<float>(expected[i] * factors[uniform ? 0 : i]);
                expectedNaN += std::isnan(expected[i]) ? 1 : 0;
            }
            int nanCount = set.kernels->scaleColumn(responses.data(), factors.data(), count, uniform);
            ASSERT_EQ(nanCount, expectedNaN);
            ASSERT_TRUE(sameFloats(responses, expected)) << count << " responses, uniform " << uniform;
        }
    }
}

// A trace value: mostly a slot below `limit`, now and then one that names no slot.
float traceDrawn(testsupport::SeededRandom& random, int limit) {
    if (random.integer(0, 30) > 0) return static_cast<float>(random.integer(0, limit - 1));
    const float strays[] = {static_cast<float>(limit), -1.0f, 0.5f, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity()};
    return strays[random.integer(0, 4)];
}

TEST(InhibitKernels, MarkBySlotMasksAsThePlainTestDoes) {
    testsupport::SeededRandom random;
    for (const KernelSet& set : kernelSetsHere()) {
        for (int trial = 0; trial < 300; ++trial) {
            SCOPED_TRACE(testing::Message() << set.name << ", trial " << trial);
            int count = random.integer(0, 41), limit = random.integer(1, 32);
            std::vector<float> trace(count);
            std::vector<uint32_t> rowMasks(count);
            for (int i = 0; i < count; ++i) {
                trace[i] = traceDrawn(random, limit);
                rowMasks[i] = static_cast<uint32_t>(random.engine()());
            }
            uint32_t colMask = random.integer(0, 3) == 0 ? ~0u : static_cast<uint32_t>(random.engine()());
            bool whole = true;
            std::vector<int32_t> expected(count + 1, 7);
            for (int i = 0; i < count; ++i) {
                float v = trace[i];
                bool slot = v >= 0.0f && v < limit && v == static_cast<float>(static_cast<int>(v));
                whole = whole && slot;
                if (slot) expected[i] = ((rowMasks[i] & colMask) >> static_cast<int>(v)) & 1u ? -1 : 0;
            }
            std::vector<int32_t> marks(count + 1, 7);
            bool found = set.kernels->markByMasks(trace.data(), rowMasks.data(), colMask, marks.data(), count,
                                                  static_cast<float>(limit));
            ASSERT_EQ(found, whole);
            ASSERT_EQ(marks[count], 7) << "a mark past the column";
            if (whole) {
                ASSERT_EQ(marks, expected);
            }
        }
    }
}

TEST(InhibitKernels, OfferSlotsAsOneByOne) {
    testsupport::SeededRandom random;
    for (const KernelSet& set : kernelSetsHere()) {
        for (int trial = 0; trial < 400; ++trial) {
            SCOPED_TRACE(testing::Message() << set.name << ", trial " << trial);
            int step = random.integer(1, 3), runLength = random.integer(1, 13), colCount = random.integer(1, 3);
            int width = runLength + random.integer(0, 2);
            int64_t sourceStride = int64_t{step} * runLength + random.integer(0, 3);
            // Candidates end at the last one the offer may read.
            std::vector<float> candidates((colCount - 1) * sourceStride + (runLength - 1) * step + 1);
            for (float& v : candidates) v = valueDrawn(random);
            std::vector<float> best(static_cast<size_t>(width) * colCount);
            std::vector<int32_t> slotOf(best.size());
            for (size_t k = 0; k < best.size(); ++k) {
                best[k] = random.integer(0, 3) == 0 ? noResponse : static_cast<float>(random.integer(-2, 2));
                slotOf[k] = random.integer(0, 20);
            }
            int slot = random.integer(0, 20);
            std::vector<float> expectedBest = best;
            std::vector<int32_t> expectedSlots = slotOf;
            for (int j = 0; j < colCount; ++j) {
                for (int i = 0; i < runLength; ++i) {
                    offerOne(&candidates[j * sourceStride + i * step], &expectedBest[j * width + i],
                             &expectedSlots[j * width + i], slot);
                }
            }
            set.kernels->offerSlot(SlotOffer{candidates.data(), sourceStride, step, best.data(), slotOf.data(), width,
                                             runLength, colCount, slot});
            ASSERT_TRUE(sameFloats(best, expectedBest)) << "step " << step << ", runs of " << runLength;
            ASSERT_EQ(slotOf, expectedSlots) << "step " << step << ", runs of " << runLength;
        }
    }
}

// Runs of up to 44 positions (longer than the most vectors a search holds at once, and every
// remainder), empty runs among them, with located slots whose reads end at the last value.
TEST(InhibitKernels, SearchRunsAsSlotBySlot) {
    testsupport::SeededRandom random;
    for (const KernelSet& set : kernelSetsHere()) {
        if (set.kernels->searchRuns == nullptr) continue;
        for (int trial = 0; trial < 200; ++trial) {
            SCOPED_TRACE(testing::Message() << set.name << ", trial " << trial);
            int step = random.integer(1, 2), shiftCount = random.integer(1, 12);
            int width = random.integer(1, 44), colCount = random.integer(1, 4);
            int rowFirst = random.integer(1, 5), colFirst = random.integer(1, 3);
            int mapRows = step * (rowFirst + width) + random.integer(0, 3);
            std::vector<int32_t> runFirst(colCount), runLast(colCount);
            for (int j = 0; j < colCount; ++j) {
                runFirst[j] = rowFirst + random.integer(0, width - 1);
                runLast[j] = random.integer(0, 5) == 0 ? runFirst[j] - 1 : random.integer(runFirst[j], rowFirst + width - 1);
            }
            // Slot s reads pooled position (px, py) at offset + px * step + py * step * mapRows,
            // its first position at `lead`, its last at the end of its map.
            std::vector<std::vector<float>> maps(shiftCount);
            std::vector<const float*> slotMaps(shiftCount);
            std::vector<int64_t> slotOffsets(shiftCount);
            int64_t firstAt = int64_t{rowFirst} * step + int64_t{colFirst} * step * mapRows;
            int64_t lastAt = int64_t{rowFirst + width - 1} * step + int64_t{colFirst + colCount - 1} * step * mapRows;
            for (int s = 0; s < shiftCount; ++s) {
                int lead = random.integer(0, 4);
                maps[s].resize(lastAt - firstAt + lead + 1);
                for (float& v : maps[s]) v = valueDrawn(random);
                slotMaps[s] = maps[s].data();
                slotOffsets[s] = lead - firstAt;
            }
            std::vector<float> best(static_cast<size_t>(width) * colCount);
            std::vector<int32_t> slotOf(best.size());
            for (size_t k = 0; k < best.size(); ++k) {
                best[k] = valueDrawn(random);
                slotOf[k] = -1;
            }
            std::vector<float> expectedBest = best;
            std::vector<int32_t> expectedSlots = slotOf;
            for (int j = 0; j < colCount; ++j) {
                for (int px = runFirst[j]; px <= runLast[j]; ++px) {
                    int64_t at = int64_t{px} * step + int64_t{colFirst + j} * step * mapRows;
                    float found = noResponse;
                    int32_t foundSlot = 0;
                    for (int s = 0; s < shiftCount; ++s) {
                        float v = slotMaps[s][slotOffsets[s] + at];
                        if (v > found) found = v, foundSlot = s;
                    }
                    expectedBest[(px - rowFirst) + j * width] = found;
                    expectedSlots[(px - rowFirst) + j * width] = foundSlot;
                }
            }
            set.kernels->searchRuns(RunSearch{slotMaps.data(), slotOffsets.data(), shiftCount, step, mapRows, rowFirst,
                                              colFirst, width, colCount, runFirst.data(), runLast.data(), best.data(),
                                              slotOf.data()});
            ASSERT_TRUE(sameFloats(best, expectedBest)) << "step " << step << ", " << width << " rows";
            ASSERT_EQ(slotOf, expectedSlots) << "step " << step << ", " << width << " rows";
        }
    }
}

}  // namespace
