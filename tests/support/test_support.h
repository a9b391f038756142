// Helpers shared by the unit tests: a seeded random source whose seed shows in every failure
// message, and grids filled from it.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "grids.h"
#include "minihost.h"

namespace testsupport {

// A random engine seeded from TEST_SEED when set, otherwise from a fixed default; the seed is
// attached to every assertion of the scope that holds it.
class SeededRandom {
public:
    SeededRandom() : seed_(chooseSeed()), engine_(seed_), trace_(__FILE__, __LINE__, "seed " + std::to_string(seed_)) {}
    std::mt19937& engine() { return engine_; }
    float uniform(float low, float high) { return std::uniform_real_distribution<float>(low, high)(engine_); }
    int integer(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }

private:
    static uint32_t chooseSeed() {
        const char* fromEnvironment = std::getenv("TEST_SEED");
        return fromEnvironment != nullptr ? static_cast<uint32_t>(std::stoul(fromEnvironment)) : 20261208u;
    }
    uint32_t seed_;
    std::mt19937 engine_;
    testing::ScopedTrace trace_;
};

// s * tanh(r / s) as the plug-ins define it, written out: a = (-2r)/s, e = exp(a),
// s*((2/(e + 1)) - 1), in double, rounded once to single precision.
inline float saturatedAsWritten(float r, double s) {
    double a = (-2.0 * static_cast<double>(r)) / s;
    double e = std::exp(a);
    return static_cast<float>(s * ((2.0 / (e + 1.0)) - 1.0));
}

// Fills every value of every cell (spare values included) uniformly from [low, high).
inline void fillUniform(const MapGrid& grid, SeededRandom& random, float low, float high) {
    fillEach(grid, [&] { return random.uniform(low, high); });
}

// Every value of every cell, bit for bit (a NaN equals only the same NaN pattern); on failure
// names the first cell and value that differ.
inline testing::AssertionResult sameBitsEverywhere(const std::vector<std::vector<float>>& actual,
                                                   const std::vector<std::vector<float>>& expected) {
    if (actual.size() != expected.size()) {
        return testing::AssertionFailure() << actual.size() << " cells instead of " << expected.size();
    }
    for (size_t c = 0; c < expected.size(); ++c) {
        if (actual[c].size() != expected[c].size()) {
            return testing::AssertionFailure() << "cell " << c << " holds " << actual[c].size() << " values instead of "
                                               << expected[c].size();
        }
        for (size_t k = 0; k < expected[c].size(); ++k) {
            if (!sameBits(actual[c][k], expected[c][k])) {
                return testing::AssertionFailure() << "cell " << c << " value " << k << ": " << actual[c][k]
                                                   << " instead of " << expected[c][k];
            }
        }
    }
    return testing::AssertionSuccess();
}

}  // namespace testsupport
