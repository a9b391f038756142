// Saturation of eight single-precision values at a time, bit for bit as saturate() of
// frame.h with the C library's exp, shared by fennock (which saturates its maps in place) and
// gastrel (which saturates a batch of normalized responses of neighbouring placements).
//
// Contract. For eight values v and a level s (finite, nonzero), saturateLanes yields per lane
// either the single-precision value saturate(v[k], s) = float(s * ((2 / (exp((-2 * v[k]) / s)
// + 1)) - 1)), with exactly the bits the library's exp would give it, or marks the lane
// unproven; the caller then computes that lane with saturate() itself. Any v is accepted
// (NaN, infinities, -0, subnormals). Unproven are always the lanes with |2v/s| > 700, NaN or
// an infinity, and those with a nonzero |v| below about 2^-22 |s|, whose result steps are
// finer than the margin below; of the others about one lane in a million, and a few in a
// thousand at worst. Nothing is read or written outside the arguments.
//
// Callers compile their loops for several processors with SATURATION_CLONES, so that the
// helpers below, always inlined, are compiled for each processor's vector width.
//
// One library exp per value bounds a plain loop. Here eight values at a time take a vector
// exp of our own, which is not the library's but lies close to it; a lane keeps the vector
// result only when the whole interval of values that the library's computation might reach
// gives one and the same single-precision result. Why that is exact (U = 2^-53, the unit
// roundoff of double precision):
//
// 1. The argument. The library's argument is a_L = (-2v) / s, correctly rounded (-2v is
//    exact). Ours, for 2^-1020 <= |s| <= 2^1020, is a = v * c with c = -2 * (1 / s) (1 / s
//    rounded, normal, and its doubling exact): two roundings against one, so
//    |a - a_L| <= 3.0001 U |a| (plus at most 2^-1073 where a product is subnormal). For other
//    levels ours is a_L itself.
// 2. Our exp. For |a| <= expRangeLimit, n = nearest integer to a / ln 2 and
//    r = (a - n * ln2High) - n * ln2Low with |r| <= 0.3466 (ln2High has 32 significant bits,
//    so n * ln2High and a - n * ln2High are exact). exp(r) is the Taylor polynomial of degree
//    13, 1 + (r + r^2 * q(r)): its truncation error is below 0.3466^14 / 14! < 2^-57
//    relative, the rounding of r adds at most 2^-54 relative, and the evaluation at most
//    2^-52 (q's own rounding errors are scaled by r^2 < 0.121, so the final two additions
//    dominate). Scaling by 2^n is exact, for |n| <= 1010 keeps the result normal. So ours, e,
//    lies within 2^-50 (relative) of exp(a), and the library's e_L (documented to within
//    1 ulp) within 2^-52 of exp(a_L); with step 1 (exp(a_L) / exp(a) = exp(a_L - a)),
//    e_L = e * (1 + mu) with |mu| <= 2^-49.6 + 3.0002 U |a|.
// 3. The quotient. The library goes on with q_L = 2 / (e_L + 1), ours with q = 2 / (e + 1),
//    each with two roundings of at most U: (e_L + 1) / (e + 1) differs from 1 by at most |mu|,
//    so q_L = q * (1 + rho) with |rho| <= 2^-49.1 + 2^-51.4 |a|. The margin
//    k = 2^-46 + 2^-49 |a| exceeds that, with the roundings of q * (1 -+ k) (at most 2.0001 U
//    more), by more than four times: q_lo = q * (1 - k) <= q_L <= q * (1 + k) = q_hi.
// 4. Monotony. Every later step, x - 1, s * (.) and the rounding to single precision, is a
//    correctly rounded monotone operation, so the single result is a monotone function of x
//    (a zero result takes the sign of s * (x - 1), which is monotone too): when q_lo and q_hi
//    give the same single (same bits), so does every x between them, q_L among them.
// 5. A value v of exactly +-0 has a = a_L = +-0, whose exp is exactly 1 in the library and in
//    ours (r = 0, n = 0), so it needs no margin (k = 0). Arguments beyond the range,
//    infinities and NaN are left unproven.
#pragma once

#include <cmath>
#include <cstdint>

#include "dispatch.h"
#include "frame.h"

// Lanes per step: several hardware vectors' worth, so that the long chains of the polynomial
// overlap one another.
#define SATURATION_LANES 8
typedef double SaturationDoubles __attribute__((vector_size(SATURATION_LANES * 8)));
typedef float SaturationFloats __attribute__((vector_size(SATURATION_LANES * 4)));
// A lane mask: -1 in a set lane, 0 elsewhere.
typedef int32_t SaturationMask __attribute__((vector_size(SATURATION_LANES * 4)));
typedef uint64_t SaturationBits __attribute__((vector_size(SATURATION_LANES * 8)));
const int32_t saturationLanes = SATURATION_LANES;

// A loop built on saturateLanes, compiled for AVX-512, for AVX2 and for any x86-64, the copy
// chosen at run time.
#define SATURATION_CLONES PROCESSOR_CLONES("arch=x86-64-v4", "avx2", "default")

namespace vectorsaturation {

const double expRangeLimit = 700.0;
const uint64_t signBit = 0x8000000000000000;
const double invLn2 = 1.4426950408889634;          // 1 / ln 2
const double ln2High = 6.93147180369123816490e-01;  // ln 2 to 32 significant bits
const double ln2Low = 1.90821492927058770002e-10;   // ln 2 - ln2High
// Adding and subtracting 1.5 * 2^52 rounds a double below 2^51 to the nearest integer, which
// then sits in the low bits of the sum.
const double roundingShifter = 6755399441055744.0;
const int64_t exponentBias = 1023;
const int32_t mantissaBits = 52;
// The margin k = marginBase + marginSlope * |a| of step 3.
const double marginBase = 0x1p-46;
const double marginSlope = 0x1p-49;
// Levels whose reciprocal is normal and whose reciprocal's double is finite (step 1).
const double reciprocalLevelLow = 0x1p-1020;
const double reciprocalLevelHigh = 0x1p1020;
// 1 / k! for k = 2 ... 13, the Taylor coefficients of exp after 1 + r.
const double taylorCoefficients[] = {
    1.0 / 2, 1.0 / 6, 1.0 / 24, 1.0 / 120, 1.0 / 720, 1.0 / 5040, 1.0 / 40320, 1.0 / 362880,
    1.0 / 3628800, 1.0 / 39916800, 1.0 / 479001600, 1.0 / 6227020800};

// exp(a) for |a| <= expRangeLimit (other lanes hold meaningless values).
VECTOR_HELPER void vectorExp(const SaturationDoubles& a, SaturationDoubles& e) {
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

}  // namespace vectorsaturation

// A level s with what the lanes need of it: its reciprocal's -2 multiple where that gives the
// argument within the bound of step 1.
struct SaturationLevel {
    double s;
    double minusTwoOverS;
    bool byReciprocal;
};

inline SaturationLevel saturationLevelOf(double s) {
    double magnitude = std::fabs(s);
    bool byReciprocal =
        magnitude >= vectorsaturation::reciprocalLevelLow && magnitude <= vectorsaturation::reciprocalLevelHigh;
    return SaturationLevel{s, byReciprocal ? -2.0 * (1.0 / s) : 0.0, byReciprocal};
}

// True when any lane of the mask is set.
VECTOR_HELPER bool anyLane(const SaturationMask& mask) {
    uint64_t parts[SATURATION_LANES / 2];
    __builtin_memcpy(parts, &mask, sizeof(parts));
    uint64_t any = 0;
    for (int32_t k = 0; k < SATURATION_LANES / 2; ++k) any |= parts[k];
    return any != 0;
}

// saturate(v[k], level.s) in every lane k whose unproven[k] is 0; lanes with unproven[k] == -1
// hold meaningless values and are left to the caller (see the contract above).
VECTOR_HELPER void saturateLanes(const SaturationFloats& v, const SaturationLevel& level,
                                     SaturationFloats& saturated, SaturationMask& unproven) {
    using namespace vectorsaturation;
    SaturationDoubles wide = __builtin_convertvector(v, SaturationDoubles);
    SaturationDoubles a;
    if (level.byReciprocal) {
        a = wide * level.minusTwoOverS;
    } else {
        a = (-2.0 * wide) / level.s;
    }
    SaturationDoubles e;
    vectorExp(a, e);
    SaturationBits magnitudeBits;
    __builtin_memcpy(&magnitudeBits, &a, sizeof(magnitudeBits));
    magnitudeBits &= ~signBit;
    SaturationDoubles magnitude;
    __builtin_memcpy(&magnitude, &magnitudeBits, sizeof(magnitude));
    SaturationDoubles margin = wide == 0.0 ? SaturationDoubles{} : marginBase + marginSlope * magnitude;
    SaturationDoubles q = 2.0 / (e + 1.0);
    SaturationDoubles low = q * (1.0 - margin);
    SaturationDoubles high = q * (1.0 + margin);
    // Lanes out of range (NaN among them, whose comparison is false) end with a NaN at the low
    // end and an infinity at the high end, whose bits never agree.
    SaturationDoubles none = SaturationDoubles{} + __builtin_nan("");
    SaturationDoubles beyond = SaturationDoubles{} + __builtin_inf();
    low = magnitude <= expRangeLimit ? low : none;
    high = magnitude <= expRangeLimit ? high : beyond;
    SaturationFloats fromLow = __builtin_convertvector(level.s * (low - 1.0), SaturationFloats);
    SaturationFloats fromHigh = __builtin_convertvector(level.s * (high - 1.0), SaturationFloats);
    SaturationMask lowBits, highBits;
    __builtin_memcpy(&lowBits, &fromLow, sizeof(lowBits));
    __builtin_memcpy(&highBits, &fromHigh, sizeof(highBits));
    unproven = lowBits != highBits;
    saturated = fromLow;
}

// saturate(v[k], level.s) in every lane: the vector result where saturateLanes proves it, the
// library's otherwise.
VECTOR_HELPER void saturateEveryLane(const SaturationFloats& v, const SaturationLevel& level,
                                         SaturationFloats& saturated) {
    SaturationMask unproven;
    saturateLanes(v, level, saturated, unproven);
    if (!anyLane(unproven)) return;
    for (int32_t k = 0; k < SATURATION_LANES; ++k) {
        if (unproven[k]) saturated[k] = saturate(v[k], level.s);
    }
}

// Every one of the n values at `values` becomes saturate(v, s), bit for bit as with the
// library's exp; vector code where the processor has it.
void saturateValues(float* values, int32_t n, double s);
