// The shared vector saturation (vector_saturation.h) against saturate() of frame.h, lane by
// lane: every lane it keeps has saturate's bits, at levels on both sides of the range where it
// takes the argument through the level's reciprocal; and for values of ordinary size it leaves
// almost no lane to the library, which is what makes it fast.
#include "vector_saturation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "test_support.h"

namespace {

struct LaneTally {
    long kept = 0;
    long unproven = 0;
    long wrong = 0;
};

// Runs saturateLanes over the values (a multiple of eight) and checks every kept lane.
SATURATION_CLONES void tallyLanes(const float* values, int32_t n, double s, LaneTally* tally) {
    SaturationLevel level = saturationLevelOf(s);
    for (int32_t p = 0; p + saturationLanes <= n; p += saturationLanes) {
        SaturationFloats v, saturated;
        SaturationMask unproven;
        __builtin_memcpy(&v, values + p, sizeof(v));
        saturateLanes(v, level, saturated, unproven);
        for (int32_t k = 0; k < saturationLanes; ++k) {
            if (unproven[k]) {
                ++tally->unproven;
                continue;
            }
            ++tally->kept;
            if (!testsupport::sameBits(float(saturated[k]), saturate(values[p + k], s))) ++tally->wrong;
        }
    }
}

std::vector<float> patternSweep(uint32_t stride) {
    std::vector<float> values;
    for (uint64_t bits = 0; bits < (uint64_t(1) << 32); bits += stride) {
        uint32_t pattern = static_cast<uint32_t>(bits);
        float v;
        std::memcpy(&v, &pattern, sizeof(v));
        values.push_back(v);
    }
    values.resize(values.size() / 8 * 8);
    return values;
}

// Every 1009th bit pattern under levels inside the reciprocal range, at its edges (2^-1020,
// 2^1020) and beyond them (subnormal, near the double limit), where only zeros can be kept.
TEST(VectorSaturation, KeptLanesHaveTheBitsOfSaturate) {
    std::vector<float> sweep = patternSweep(1009);
    const double levels[] = {6.0,     -2.5,     0.1,      1.0 / 3.0, 1e-30,  3e38,  0x1p-1020, -0x1p-1020,
                             0x1p1020, 0x1.0000000000001p1020, 0x1.fffffffffffffp-1021, 1e-310, -1.7e308};
    for (double level : levels) {
        LaneTally tally;
        tallyLanes(sweep.data(), static_cast<int32_t>(sweep.size()), level, &tally);
        EXPECT_EQ(tally.wrong, 0) << "level " << level;
        EXPECT_GT(tally.kept, 0) << "level " << level;  // zeros are kept at every level
    }
}

// Values whose saturated result lies so close to a single-precision rounding boundary that our
// exp, without the margin, rounds them the other way than the library's exp does (found by
// a search over every value from 2^-21 to 340 times the level): each in every lane position
// among ordinary values, each kept lane checked.
TEST(VectorSaturation, ResultsAtARoundingBoundaryKeepTheLibrarysBits) {
    struct Case {
        float v;
        double level;
    };
    const Case cases[] = {{-0x1.e96a7p-6f, 6.0}, {-0x1.fa860cp-9f, 0.1}, {-0x1.231456p-12f, -0.7}};
    for (const Case& c : cases) {
        for (int32_t lane = 0; lane < saturationLanes; ++lane) {
            std::vector<float> values(saturationLanes, static_cast<float>(c.level));
            values[lane] = c.v;
            LaneTally tally;
            tallyLanes(values.data(), saturationLanes, c.level, &tally);
            EXPECT_EQ(tally.wrong, 0) << "value " << c.v << " at level " << c.level << " in lane " << lane;
        }
    }
}

// Values of the size that responses have (up to four levels, and gamma-distributed
// magnitudes): fewer than one lane in ten thousand is left to the library.
TEST(VectorSaturation, LeavesAlmostNoLaneOfOrdinaryValuesToTheLibrary) {
    testsupport::SeededRandom random;
    std::gamma_distribution<double> magnitude(2.0, 1.0);
    for (double level : {6.0, 0.1, 1.0 / 3.0, -2.5, 1e4}) {
        std::vector<float> values(1 << 20);
        for (size_t k = 0; k < values.size(); ++k) {
            values[k] = k % 2 == 0 ? random.uniform(-4.0f, 4.0f) * static_cast<float>(std::fabs(level))
                                   : static_cast<float>(magnitude(random.engine()) * std::fabs(level) / 3);
        }
        LaneTally tally;
        tallyLanes(values.data(), static_cast<int32_t>(values.size()), level, &tally);
        EXPECT_EQ(tally.wrong, 0) << "level " << level;
        EXPECT_LT(tally.unproven, static_cast<long>(values.size() / 10000)) << "level " << level;
    }
}

// saturateValues, the in-place loop over a whole array, with a tail shorter than eight.
TEST(VectorSaturation, SaturateValuesMatchesSaturateWithTails) {
    testsupport::SeededRandom random;
    const float inf = std::numeric_limits<float>::infinity();
    for (int32_t n : {0, 1, 7, 8, 9, 23, 1000}) {
        for (double level : {6.0, -0.7, 1e-310}) {
            std::vector<float> values(n);
            for (float& v : values) v = random.uniform(-30.0f, 30.0f);
            if (n > 3) {
                values[0] = std::numeric_limits<float>::quiet_NaN();
                values[1] = -inf;
                values[2] = -0.0f;
            }
            std::vector<float> expected(values);
            for (float& v : expected) v = saturate(v, level);
            saturateValues(values.data(), n, level);
            for (int32_t k = 0; k < n; ++k) {
                EXPECT_TRUE(testsupport::sameBits(values[k], expected[k])) << "n " << n << ", level " << level << ", value " << k;
            }
        }
    }
}

}  // namespace
