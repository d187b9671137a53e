// Scalar sine and cosine of half-turn phases: a degree-15 odd polynomial of single-precision
// constants after one shift into [-0.5, 0.5], in double (or x87) arithmetic. Static functions,
// one copy per file in its own arithmetic (the rule: oscillator/lanes/unit_target.h).
#pragma once

// pi rounded to single precision, 0x40490FDB.
constexpr float PI_F = 0x1.921fb6p+1f;
// (-1)^k / (2k+1)! for k = 1..7, each the nearest single-precision value (hex, so exact).
constexpr float SIN_C3 = -0x1.555556p-3f;   // -0.16666667
constexpr float SIN_C5 = 0x1.111112p-7f;    //  0.0083333338
constexpr float SIN_C7 = -0x1.a01a02p-13f;  // -0.00019841270
constexpr float SIN_C9 = 0x1.71de3ap-19f;   //  2.7557319e-6
constexpr float SIN_C11 = -0x1.ae6456p-26f; // -2.5052108e-8
constexpr float SIN_C13 = 0x1.612462p-33f;  //  1.6059044e-10
constexpr float SIN_C15 = -0x1.ae7f3ep-41f; // -7.6471636e-13

// sin(pi r) for r in [-0.5, 0.5]: u = PI_F r, s = u^2, Horner in s from c15 down, then
// u (p s + 1). Nothing is added or clamped afterwards. T is the arithmetic (float or double)
// and V a T or a vector of T: the scalar kernel, the four-lane kernel and the lane passes all
// evaluate this one polynomial. It is odd in every rounding, so sigma sin(pi r) = sin(pi sigma r)
// bit for bit for sigma +1 or -1.
template <class T, class V> [[gnu::always_inline]] static inline V sinPiPolynomial(V r) {
    const V u = static_cast<T>(PI_F) * r;
    const V s = u * u;
    V p = static_cast<T>(SIN_C15) * s + static_cast<T>(SIN_C13);
    p = p * s + static_cast<T>(SIN_C11);
    p = p * s + static_cast<T>(SIN_C9);
    p = p * s + static_cast<T>(SIN_C7);
    p = p * s + static_cast<T>(SIN_C5);
    p = p * s + static_cast<T>(SIN_C3);
    return u * (p * s + static_cast<T>(1));
}

// sigma * sin(pi r), sigma +1 or -1.
template <class T, class V> static inline V signedSinPiPolynomial(V r, V sigma) {
    return sigma * sinPiPolynomial<T>(r);
}

static inline double signedSinPiReduced(double r, double sigma) {
    return signedSinPiPolynomial<double>(r, sigma);
}

// sin(pi x) into sinOut, then cos(pi x) into cosOut, the phase x used as it is (not rounded to
// float). Within 2e-8 on [-1, 1]; the sine stays accurate on [-1.5, 1.5), beyond that (and the
// cosine beyond [-1, 1]) the polynomial leaves its range and the error grows fast. NaN gives NaN.
static inline void sinCosPiUnrounded(double x, double &sinOut, double &cosOut) {
    double y = x;
    double sigmaS = 1.0;
    if (x < -0.5) {
        y = x + 1.0;
        sigmaS = -1.0;
    } else if (x >= 0.5) {
        y = x - 1.0;
        sigmaS = -1.0;
    }
    // -0.0 >= 0 holds: a negative zero takes the x >= 0 branch, as in the four-lane kernel.
    const double z = x >= 0.0 ? x - 0.5 : x + 0.5;
    const double sigmaC = x >= 0.0 ? -1.0 : 1.0;
    sinOut = signedSinPiReduced(y, sigmaS);
    cosOut = signedSinPiReduced(z, sigmaC);
}

// The scalar kernel: sin(pi x) into sinOut, then cos(pi x) into cosOut, for a single-precision
// phase in half-turns. Within 2e-8 of the true values on [-1, 1] (measured maximum 1.52e-8
// over 4e6 phases). Pure; any thread; leaves the FP control settings alone.
static inline void sinCosPi(float x, double &sinOut, double &cosOut) {
    sinCosPiUnrounded(static_cast<double>(x), sinOut, cosOut);
}
