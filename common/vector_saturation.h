// Saturation of eight single-precision values at a time, bit for bit as saturate() of
// frame.h with the C library's exp, shared by fennock (which saturates its maps in place) and
// gastrel (which saturates a batch of normalized responses of neighbouring placements).
//
// Contract. For eight values v and a level s (finite, nonzero), saturateLanes yields per lane
// either the single-precision value saturate(v[k], s) = float(s * ((2 / (exp((-2 * v[k]) / s)
// + 1)) - 1)), with exactly the bits the library's exp would give it, or marks the lane
// unproven; the caller then computes that lane with saturate() itself. Any v is accepted
// (NaN, infinities, -0, subnormals); such awkward values are simply left unproven. Unproven
// lanes are rare for values of ordinary size (about one in a million or fewer), always
// for |2v/s| > 700, NaN and infinities. Nothing is read or written outside the arguments.
//
// Callers compile their loops for several processors with SATURATION_CLONES, so that the
// helpers below, always inlined, are compiled for each processor's vector width.
//
// One library exp per value bounds a plain loop. Here eight values at a time take a vector
// exp of our own, which is not the library's but lies close to it; a lane keeps the vector
// result only when the whole interval of exp values that the library might return gives one
// and the same single-precision result. Why that is exact:
//
// 1. Our exp. For |a| <= expRangeLimit, n = nearest integer to a / ln 2 and
//    r = (a - n * ln2High) - n * ln2Low with |r| <= 0.3466 (ln2High has 32 significant bits,
//    so n * ln2High and a - n * ln2High are exact). exp(r) is the Taylor polynomial of degree
//    13, 1 + (r + r^2 * q(r)): its truncation error is below 0.3466^14 / 14! < 2^-57
//    relative, the rounding of r adds at most 2^-54 relative, and the evaluation at most
//    2^-52 (q's own rounding errors are scaled by r^2 < 0.121, so the final two additions
//    dominate). Scaling by 2^n is exact, for |n| <= 1010 keeps the result normal. So ours
//    lies within 2^-50 (relative) of the true exp, and the C library's (documented to within
//    1 ulp) within 2^-52: the two differ by less than 2^-49 relative, and expMargin = 2^-45
//    covers that sixteen times over.
// 2. Monotony. With e_lo = e * (1 - expMargin) and e_hi = e * (1 + expMargin), the library's
//    exp lies in [e_lo, e_hi] (the two products' own roundings are far below the margin).
//    Every later step, e + 1, 2 / (.), (.) - 1, s * (.) and the rounding to single precision,
//    is a correctly rounded monotone operation, so the single result is a monotone function
//    of e: when e_lo and e_hi give the same single (same bits), so does every e between
//    them, the library's among them.
// 3. An argument of exactly +-0 has exp exactly 1 in the library and in ours (r = 0, n = 0),
//    so it needs no interval. Arguments beyond the range, infinities and NaN are left
//    unproven.
#pragma once

#include <cstdint>

#include "frame.h"

// Lanes per step: several hardware vectors' worth, so that the long chains of the polynomial
// overlap one another.
#define SATURATION_LANES 8
typedef double SaturationDoubles __attribute__((vector_size(SATURATION_LANES * 8)));
typedef float SaturationFloats __attribute__((vector_size(SATURATION_LANES * 4)));
typedef int64_t SaturationMask __attribute__((vector_size(SATURATION_LANES * 8)));
typedef uint64_t SaturationBits __attribute__((vector_size(SATURATION_LANES * 8)));
const int32_t saturationLanes = SATURATION_LANES;

// A loop built on saturateLanes, compiled for AVX-512, for AVX2 and for any x86-64, the copy
// chosen at run time.
#define SATURATION_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))

// The helpers are inlined into each processor's copy of the caller, so that they are compiled
// for its vector width; vectors pass by reference for the same reason.
#define SATURATION_HELPER __attribute__((always_inline)) inline

namespace vectorsaturation {

const double expRangeLimit = 700.0;
const uint64_t expRangeLimitBits = 0x4085e00000000000;  // the bits of expRangeLimit
const uint64_t signBit = 0x8000000000000000;
const double invLn2 = 1.4426950408889634;          // 1 / ln 2
const double ln2High = 6.93147180369123816490e-01;  // ln 2 to 32 significant bits
const double ln2Low = 1.90821492927058770002e-10;   // ln 2 - ln2High
// Adding and subtracting 1.5 * 2^52 rounds a double below 2^51 to the nearest integer, which
// then sits in the low bits of the sum.
const double roundingShifter = 6755399441055744.0;
const int64_t exponentBias = 1023;
const int32_t mantissaBits = 52;
const double expMargin = 1.0 / 35184372088832.0;  // 2^-45
// 1 / k! for k = 2 ... 13, the Taylor coefficients of exp after 1 + r.
const double taylorCoefficients[] = {
    1.0 / 2, 1.0 / 6, 1.0 / 24, 1.0 / 120, 1.0 / 720, 1.0 / 5040, 1.0 / 40320, 1.0 / 362880,
    1.0 / 3628800, 1.0 / 39916800, 1.0 / 479001600, 1.0 / 6227020800};

// exp(a) for |a| <= expRangeLimit (other lanes hold meaningless values).
SATURATION_HELPER void vectorExp(const SaturationDoubles& a, SaturationDoubles& e) {
    SaturationDoubles shifted = a * invLn2 + roundingShifter;
    SaturationDoubles n = shifted - roundingShifter;
    SaturationDoubles r = (a - n * ln2High) - n * ln2Low;
    // q(r) = sum of c[k] * r^k in Estrin's form, whose short chains keep the units busy.
    const double* c = taylorCoefficients;
    SaturationDoubles r2 = r * r;
    SaturationDoubles r4 = r2 * r2;
    SaturationDoubles r8 = r4 * r4;
    SaturationDoubles low = (c[0] + c[1] * r) + (c[2] + c[3] * r) * r2;
    SaturationDoubles middle = (c[4] + c[5] * r) + (c[6] + c[7] * r) * r2;
    SaturationDoubles high = (c[8] + c[9] * r) + (c[10] + c[11] * r) * r2;
    SaturationDoubles q = (low + middle * r4) + high * r8;
    SaturationDoubles p = 1.0 + (r + r2 * q);
    SaturationBits shiftedBits, shifterBits;
    SaturationDoubles shifterVector = SaturationDoubles{} + roundingShifter;
    __builtin_memcpy(&shiftedBits, &shifted, sizeof(shiftedBits));
    __builtin_memcpy(&shifterBits, &shifterVector, sizeof(shifterBits));
    SaturationBits scaleBits = (shiftedBits - shifterBits + static_cast<uint64_t>(exponentBias)) << mantissaBits;
    SaturationDoubles scale;
    __builtin_memcpy(&scale, &scaleBits, sizeof(scale));
    e = p * scale;
}

// The single result s * ((2 / (e + 1)) - 1) of the formula for one exp value per lane.
SATURATION_HELPER void saturationFromExp(const SaturationDoubles& e, double s, SaturationFloats& saturated) {
    SaturationDoubles result = s * ((2.0 / (e + 1.0)) - 1.0);
    saturated = __builtin_convertvector(result, SaturationFloats);
}

}  // namespace vectorsaturation

// True when any lane of the mask is set.
SATURATION_HELPER bool anyLane(const SaturationMask& mask) {
    uint64_t any = 0;
    for (int32_t k = 0; k < saturationLanes; ++k) any |= static_cast<uint64_t>(mask[k]);
    return any != 0;
}

// saturate(v[k], s) in every lane k whose unproven[k] is 0; lanes with unproven[k] == -1 hold
// meaningless values and are left to the caller (see the contract above).
SATURATION_HELPER void saturateLanes(const SaturationFloats& v, double s, SaturationFloats& saturated,
                                     SaturationMask& unproven) {
    using namespace vectorsaturation;
    SaturationDoubles a = (-2.0 * __builtin_convertvector(v, SaturationDoubles)) / s;
    SaturationDoubles e;
    vectorExp(a, e);
    // |a| as bits: finite magnitudes order as their bit patterns do, and NaN lies above all.
    SaturationBits magnitudeBits;
    __builtin_memcpy(&magnitudeBits, &a, sizeof(magnitudeBits));
    magnitudeBits &= ~signBit;
    SaturationMask exactOne = magnitudeBits == 0;
    SaturationDoubles low = exactOne ? e : e * (1.0 - expMargin);
    SaturationDoubles high = exactOne ? e : e * (1.0 + expMargin);
    SaturationFloats fromLow, fromHigh;
    saturationFromExp(low, s, fromLow);
    saturationFromExp(high, s, fromHigh);
    // Widening to double keeps single values apart bit for bit (-0 from +0 included).
    SaturationDoubles lowWide = __builtin_convertvector(fromLow, SaturationDoubles);
    SaturationDoubles highWide = __builtin_convertvector(fromHigh, SaturationDoubles);
    SaturationBits lowBits, highBits;
    __builtin_memcpy(&lowBits, &lowWide, sizeof(lowBits));
    __builtin_memcpy(&highBits, &highWide, sizeof(highBits));
    SaturationMask inRange = magnitudeBits <= expRangeLimitBits;
    unproven = ~((lowBits == highBits) & inRange);
    saturated = fromLow;
}

// Every one of the n values at `values` becomes saturate(v, s), bit for bit as with the
// library's exp; vector code where the processor has it.
void saturateValues(float* values, int32_t n, double s);
