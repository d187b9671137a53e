// The scalar kernel's polynomial on SSE's four float lanes, SSE enabled after the target pragma
// only (the include rule: oscillator/lanes/unit_target.h).
#include "kernels/sin_cos_pi4.h"

#include <xmmintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse")
#endif

#include "kernels/sin_cos_pi.h"

#define TARN_SSE __attribute__((target("sse")))

namespace {

TARN_SSE inline __m128 splat(float v) {
    return _mm_set1_ps(v);
}
TARN_SSE inline __m128 add(__m128 a, __m128 b) {
    return _mm_add_ps(a, b);
}
TARN_SSE inline __m128 bitOr(__m128 a, __m128 b) {
    return _mm_or_ps(a, b);
}
TARN_SSE inline __m128 bitAnd(__m128 a, __m128 b) {
    return _mm_and_ps(a, b);
}
// ~mask & v
TARN_SSE inline __m128 bitAndNot(__m128 mask, __m128 v) {
    return _mm_andnot_ps(mask, v);
}
TARN_SSE inline __m128 lessThan(__m128 a, __m128 b) {
    return _mm_cmplt_ps(a, b);
}
TARN_SSE inline __m128 lessOrEqual(__m128 a, __m128 b) {
    return _mm_cmple_ps(a, b);
}

// The scalar kernel's polynomial on four lanes, in float.
TARN_SSE inline __m128 signedSinPiReduced4(__m128 r, __m128 sigma) {
    return signedSinPiPolynomial<float>(r, sigma);
}

} // namespace

TARN_SSE void sinCosPi4(double x0, double &sinOut0, double &cosOut0, double x1, double &sinOut1,
                        double &cosOut1, double x2, double &sinOut2, double &cosOut2, double x3,
                        double &sinOut3, double &cosOut3) {
    // Rounding to float happens here, in scalar code, so no SSE2 conversion is needed.
    const __m128 x = _mm_setr_ps(static_cast<float>(x0), static_cast<float>(x1),
                                 static_cast<float>(x2), static_cast<float>(x3));
    const __m128 signBit = splat(-0.0f);
    const __m128 one = splat(1.0f);

    // Sine: x < -0.5 adds 1, x >= 0.5 adds -1, the middle adds -0.0, which leaves every x
    // (a negative zero included) as it is. Both shifted cases negate.
    const __m128 below = lessThan(x, splat(-0.5f));
    const __m128 above = lessOrEqual(splat(0.5f), x);
    const __m128 shifted = bitOr(below, above);
    const __m128 offsetS = bitOr(bitAnd(shifted, one), bitAndNot(below, signBit));
    const __m128 sigmaS = bitOr(one, bitAnd(shifted, signBit));
    const __m128 sinX = signedSinPiReduced4(add(x, offsetS), sigmaS);

    // Cosine: x >= 0 (a negative zero included) adds -0.5 and negates, else adds 0.5.
    const __m128 nonNegative = lessOrEqual(_mm_setzero_ps(), x);
    const __m128 offsetC = bitOr(splat(0.5f), bitAnd(nonNegative, signBit));
    const __m128 sigmaC = bitOr(one, bitAnd(nonNegative, signBit));
    const __m128 cosX = signedSinPiReduced4(add(x, offsetC), sigmaC);

    float s[4];
    float c[4];
    _mm_storeu_ps(s, sinX);
    _mm_storeu_ps(c, cosX);
    sinOut0 = s[0];
    sinOut1 = s[1];
    sinOut2 = s[2];
    sinOut3 = s[3];
    cosOut0 = c[0];
    cosOut1 = c[1];
    cosOut2 = c[2];
    cosOut3 = c[3];
}

#undef TARN_SSE

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
