// fennock: saturates a grid of single-precision response maps in place, every value v becoming
// s * tanh(v / s) for one level s.

#include "frame.h"

namespace {

// ---------------------------------------------------------------- saturation in vectors
//
// One library exp per value bounds the plain loop. Here eight values at a time take a
// vector exp of our own, which is not the library's but lies close to it; a lane keeps the
// vector result only when the whole interval of exp values that the library might return
// gives one and the same single-precision result, and is otherwise recomputed with the
// library's exp. Why that is exact:
//
// 1. Our exp. For |a| <= expRangeLimit, n = nearest integer to a / ln 2 and
//    r = (a - n * ln2High) - n * ln2Low with |r| <= 0.3466 (ln2High has 32 significant bits,
//    so n * ln2High and a - n * ln2High are exact). exp(r) is the Taylor polynomial of degree
//    13, 1 + (r + r^2 * q(r)): its truncation error is below 0.3466^14 / 14! < 2^-57
//    relative, the rounding of r adds at most 2^-54 relative, and the evaluation at most
//    2^-52 (q's own rounding errors are scaled by r^2 < 0.121, so the final two additions
//    dominate). Scaling by 2^n
//    is exact, for |n| <= 1010 keeps the result normal. So ours lies within 2^-50 (relative)
//    of the true exp, and the C library's (documented to within 1 ulp) within 2^-52: the two
//    differ by less than 2^-49 relative, and expMargin = 2^-45 covers that sixteen times over.
// 2. Monotony. With e_lo = e * (1 - expMargin) and e_hi = e * (1 + expMargin), the library's
//    exp lies in [e_lo, e_hi] (the two products' own roundings are far below the margin).
//    Every later step, e + 1, 2 / (.), (.) - 1, s * (.) and the rounding to single precision,
//    is a correctly rounded monotone operation, so the single result is a monotone function
//    of e: when e_lo and e_hi give the same single (same bits), so does every e between
//    them, the library's among them.
// 3. An argument of exactly +-0 has exp exactly 1 in the library and in ours (r = 0, n = 0),
//    so it needs no interval. Arguments beyond the range, infinities and NaN go to the
//    library.

// Lanes per step: several hardware vectors' worth, so that the long chains of the polynomial
// overlap one another.
#define LANES 8
typedef double Doubles __attribute__((vector_size(LANES * 8)));
typedef float Floats __attribute__((vector_size(LANES * 4)));
typedef int64_t Int64s __attribute__((vector_size(LANES * 8)));
typedef uint64_t Bits64s __attribute__((vector_size(LANES * 8)));
const int32_t laneCount = LANES;

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

// The helpers below are inlined into each processor's copy of saturateValues, so that they
// are compiled for its vector width; vectors pass by reference for the same reason.
#define VECTOR_HELPER __attribute__((always_inline)) inline

// exp(a) for |a| <= expRangeLimit (other lanes hold meaningless values).
VECTOR_HELPER void vectorExp(const Doubles& a, Doubles& e) {
    Doubles shifted = a * invLn2 + roundingShifter;
    Doubles n = shifted - roundingShifter;
    Doubles r = (a - n * ln2High) - n * ln2Low;
    // q(r) = sum of c[k] * r^k in Estrin's form, whose short chains keep the units busy.
    const double* c = taylorCoefficients;
    Doubles r2 = r * r;
    Doubles r4 = r2 * r2;
    Doubles r8 = r4 * r4;
    Doubles low = (c[0] + c[1] * r) + (c[2] + c[3] * r) * r2;
    Doubles middle = (c[4] + c[5] * r) + (c[6] + c[7] * r) * r2;
    Doubles high = (c[8] + c[9] * r) + (c[10] + c[11] * r) * r2;
    Doubles q = (low + middle * r4) + high * r8;
    Doubles p = 1.0 + (r + r2 * q);
    Bits64s shiftedBits, shifterBits;
    Doubles shifterVector = Doubles{} + roundingShifter;
    __builtin_memcpy(&shiftedBits, &shifted, sizeof(shiftedBits));
    __builtin_memcpy(&shifterBits, &shifterVector, sizeof(shifterBits));
    Bits64s scaleBits = (shiftedBits - shifterBits + static_cast<uint64_t>(exponentBias)) << mantissaBits;
    Doubles scale;
    __builtin_memcpy(&scale, &scaleBits, sizeof(scale));
    e = p * scale;
}

// The single result s * ((2 / (e + 1)) - 1) of the formula for one exp value per lane.
VECTOR_HELPER void saturationFromExp(const Doubles& e, double s, Floats& saturated) {
    Doubles result = s * ((2.0 / (e + 1.0)) - 1.0);
    saturated = __builtin_convertvector(result, Floats);
}

// Saturates eight values at `values` in place; returns a mask of the lanes it could not
// prove and left for the library (-1 per such lane).
VECTOR_HELPER void saturateLanes(float* values, double s, Int64s& unproven) {
    Floats v;
    __builtin_memcpy(&v, values, sizeof(v));
    Doubles a = (-2.0 * __builtin_convertvector(v, Doubles)) / s;
    Doubles e;
    vectorExp(a, e);
    // |a| as bits: finite magnitudes order as their bit patterns do, and NaN lies above all.
    Bits64s magnitudeBits;
    __builtin_memcpy(&magnitudeBits, &a, sizeof(magnitudeBits));
    magnitudeBits &= ~signBit;
    Int64s exactOne = magnitudeBits == 0;
    Doubles low = exactOne ? e : e * (1.0 - expMargin);
    Doubles high = exactOne ? e : e * (1.0 + expMargin);
    Floats fromLow, fromHigh;
    saturationFromExp(low, s, fromLow);
    saturationFromExp(high, s, fromHigh);
    // Widening to double keeps single values apart bit for bit (-0 from +0 included).
    Doubles lowWide = __builtin_convertvector(fromLow, Doubles);
    Doubles highWide = __builtin_convertvector(fromHigh, Doubles);
    Bits64s lowBits, highBits;
    __builtin_memcpy(&lowBits, &lowWide, sizeof(lowBits));
    __builtin_memcpy(&highBits, &highWide, sizeof(highBits));
    Int64s inRange = magnitudeBits <= expRangeLimitBits;
    unproven = ~((lowBits == highBits) & inRange);
    uint64_t anyUnproven = 0;
    for (int32_t k = 0; k < laneCount; ++k) anyUnproven |= static_cast<uint64_t>(unproven[k]);
    if (anyUnproven == 0) {
        __builtin_memcpy(values, &fromLow, sizeof(fromLow));
        return;
    }
    for (int32_t k = 0; k < laneCount; ++k) values[k] = unproven[k] ? values[k] : fromLow[k];
}

// Every value becomes saturate(v, s), bit for bit as with the library's exp; vector code
// where the processor has it.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void saturateValues(float* values, int32_t n,
                                                                               double s) {
    int32_t p = 0;
    for (; p + laneCount <= n; p += laneCount) {
        Int64s unproven;
        saturateLanes(values + p, s, unproven);
        for (int32_t k = 0; k < laneCount; ++k) {
            if (unproven[k]) values[p + k] = saturate(values[p + k], s);
        }
    }
    for (; p < n; ++p) values[p] = saturate(values[p], s);
}

// Saturates the first rows * cols values of every orientation map of one image. Each value is
// transformed on its own, so the maps are walked in storage order.
void saturateImage(float* const* responseMaps, int32_t imageCount, int32_t orientCount,
                   int32_t image, int32_t rows, int32_t cols, double saturationLevel) {
    int32_t valueCount = rows * cols;
    for (int32_t orient = 0; orient < orientCount; ++orient) {
        saturateValues(responseMaps[image + orient * imageCount], valueCount, saturationLevel);
    }
}

const char* const argNames[] = {"imageCount",      "imageRows",   "imageCols", "orientCount",
                                "saturationLevel", "responseMaps"};

void fennock(int nlhs, int nrhs, const mxArray* prhs[]) {
    ArgList args = beginArgs(argNames, nlhs, nrhs, prhs);
    int32_t imageCount = readIntArg(args, 0);
    ImageSizes sizes = readImageSizes(args, imageCount);
    int32_t orientCount = readIntArg(args, 0);
    double saturationLevel = readRealArg(args, RealRule::finiteNonzero);
    float** responseMaps =
        readCellGrid<float>(args, imageCount, orientCount, mapGridAxes, Access::written,
                            [&](int32_t image) { return imageValueCount(sizes, image); });
    endArgs(args);

    for (int32_t image = 0; image < imageCount; ++image) {
        saturateImage(responseMaps, imageCount, orientCount, image, roundHalfUp(sizes.rows[image]),
                      roundHalfUp(sizes.cols[image]), saturationLevel);
    }
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)plhs;
    runPlugin("fennock", fennock, nlhs, nrhs, prhs);
}
