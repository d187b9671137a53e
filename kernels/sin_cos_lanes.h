// The lane passes' sines and cosines in W-lane vectors: the four-lane kernel's float
// polynomial (fast path), its unrounded double twin for K times the spacing phase, and the
// precise path's double sine of radians. A fragment of partial_sum_lanes_body.h, included
// inside its namespace after the width's types, loadLanes, splatLanes and roundHalfEven.
#ifndef TARN_SIN_COS_LANES
#define TARN_SIN_COS_LANES

// x in every lane of a float vector (VF, or VF2 of twice the lanes).
template <class V> inline V splatLanesF(float x) {
    return x - V{};
}

// The four-lane kernel's signedSinPiReduced4, every step rounded to float.
template <class V> inline V signedSinPiReducedF(V r, V sigma) {
    const V u = PI_F * r;
    const V s = u * u;
    V p = splatLanesF<V>(SIN_C15);
    p = p * s + SIN_C13;
    p = p * s + SIN_C11;
    p = p * s + SIN_C9;
    p = p * s + SIN_C7;
    p = p * s + SIN_C5;
    p = p * s + SIN_C3;
    return sigma * (u * (p * s + 1.0f));
}

// sinCosPi4 lane by lane on phases already rounded to float: offsets and signs selected by the
// same comparisons.
template <class V> inline void sinCosPiOfFloats(V x, V &sinOut, V &cosOut) {
    const auto below = x < -0.5f;
    const auto above = 0.5f <= x;
    const V offsetS = below   ? splatLanesF<V>(1.0f)
                      : above ? splatLanesF<V>(-1.0f)
                              : splatLanesF<V>(-0.0f);
    const V sigmaS = (below | above) ? splatLanesF<V>(-1.0f) : splatLanesF<V>(1.0f);
    const auto nonNegative = 0.0f <= x;
    const V offsetC = nonNegative ? splatLanesF<V>(-0.5f) : splatLanesF<V>(0.5f);
    const V sigmaC = nonNegative ? splatLanesF<V>(-1.0f) : splatLanesF<V>(1.0f);
    sinOut = signedSinPiReducedF(x + offsetS, sigmaS);
    cosOut = signedSinPiReducedF(x + offsetC, sigmaC);
}

// sinCosPi4 lane by lane: the phase rounded to float, results widened exactly.
inline void sinCosPiLanesF(VD phase, VD &sinOut, VD &cosOut) {
    VF s, c;
    sinCosPiOfFloats(__builtin_convertvector(phase, VF), s, c);
    sinOut = __builtin_convertvector(s, VD);
    cosOut = __builtin_convertvector(c, VD);
}

// The lanes I... of a and b side by side (indices past W name b's), by shuffles: storing the
// halves and loading the whole would defeat store-to-load forwarding.
template <class Out, class In, size_t... I>
inline Out shuffleLanes(In a, In b, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, b, I...);
}

template <size_t Offset, size_t... I> constexpr auto offsetLanes(std::index_sequence<I...>) {
    return std::index_sequence<(Offset + I)...>{};
}

// The same for two phases in one float vector of twice the lanes: the same operations lane by
// lane, so the same bits, in half as many polynomial evaluations.
inline void sinCosPiLanesF2(VD phase1, VD phase2, VD &sin1, VD &cos1, VD &sin2, VD &cos2) {
    constexpr auto both = std::make_index_sequence<2 * W>{};
    constexpr auto low = std::make_index_sequence<W>{};
    constexpr auto high = offsetLanes<W>(std::make_index_sequence<W>{});
    const VF2 x = shuffleLanes<VF2>(__builtin_convertvector(phase1, VF),
                                    __builtin_convertvector(phase2, VF), both);
    VF2 s, c;
    sinCosPiOfFloats(x, s, c);
    sin1 = __builtin_convertvector(shuffleLanes<VF>(s, s, low), VD);
    sin2 = __builtin_convertvector(shuffleLanes<VF>(s, s, high), VD);
    cos1 = __builtin_convertvector(shuffleLanes<VF>(c, c, low), VD);
    cos2 = __builtin_convertvector(shuffleLanes<VF>(c, c, high), VD);
}

// signedSinPiReduced and sinCosPiUnrounded in double lanes.
inline VD signedSinPiReducedD(VD r, VD sigma) {
    const VD u = static_cast<double>(PI_F) * r;
    const VD s = u * u;
    VD p = splatLanes(static_cast<double>(SIN_C15));
    p = p * s + static_cast<double>(SIN_C13);
    p = p * s + static_cast<double>(SIN_C11);
    p = p * s + static_cast<double>(SIN_C9);
    p = p * s + static_cast<double>(SIN_C7);
    p = p * s + static_cast<double>(SIN_C5);
    p = p * s + static_cast<double>(SIN_C3);
    return sigma * (u * (p * s + 1.0));
}

inline void sinCosPiUnroundedLanes(VD x, VD &sinOut, VD &cosOut) {
    const VI below = x < -0.5;
    const VI above = x >= 0.5;
    const VD y = below ? x + 1.0 : above ? x - 1.0 : x;
    const VD sigmaS = (below | above) ? splatLanes(-1.0) : splatLanes(1.0);
    const VI nonNegative = x >= 0.0;
    const VD z = nonNegative ? x - 0.5 : x + 0.5;
    const VD sigmaC = nonNegative ? splatLanes(-1.0) : splatLanes(1.0);
    sinOut = signedSinPiReducedD(y, sigmaS);
    cosOut = signedSinPiReducedD(z, sigmaC);
}

// sinCosPiOfMultiple: nearestInt by round-half-even where it is in range, INT32_MIN beyond
// (and for NaN); + 0.0 turns the -0.0 a rounding can give into the +0.0 of an int's double.
inline void sinCosPiOfMultipleLanes(VD K, VD phiM, VD &sK, VD &cK) {
    const VD y = K * phiM * 0.5;
    const VD v = y - 0.5;
    const VI inRange = (v >= -2147483648.5) & (v < 2147483647.5);
    const VD n = inRange ? roundHalfEven(v) + 0.0 : splatLanes(-2147483648.0);
    const VD t = 2.0 * (y - n);
    const VD x = t > 1.0 ? t - 2.0 : t < -1.0 ? t + 2.0 : t;
    sinCosPiUnroundedLanes(x, sK, cK);
}

// pi/2 in three parts of 33, 33 and 53 bits: n P1 and n P2 are exact for |n| < 2^20.
constexpr double HALF_PI_1 = 0x1.921fb544p+0;
constexpr double HALF_PI_2 = 0x1.0b4611a6p-34;
constexpr double HALF_PI_3 = 0x1.3198a2e037073p-69;
constexpr double TWO_OVER_PI = 0x1.45f306dc9c883p-1;
// 1.5 * 2^52: adding it rounds to an integer whose low bits land in the low mantissa bits.
constexpr double ROUNDING_SHIFT = 0x1.8p52;

// sin and cos of angles a in radians, |a| < 1.6e6: a = n pi/2 + r exactly up to 1e-16
// absolutely, |r| <= pi/4 under round-to-nearest (a little more otherwise, still accurate),
// then the Taylor series of sin r to r^17 and of cos r to r^18, whose truncation is below
// 1e-19 on [-pi/4, pi/4]. Within 2.3e-16 of std::sin and std::cos on the dense grid and
// random points of the tests.
inline void sinCosRadianLanes(VD a, VD &sinOut, VD &cosOut) {
    const VD shifted = a * TWO_OVER_PI + ROUNDING_SHIFT;
    const VD n = shifted - ROUNDING_SHIFT;
    const VI quadrant = (VI)shifted & 3;
    const VD r = ((a - n * HALF_PI_1) - n * HALF_PI_2) - n * HALF_PI_3;
    const VD r2 = r * r;
    VD ps = splatLanes(0x1.952c77030ad4ap-49);
    ps = ps * r2 - 0x1.ae7f3e733b81fp-41;
    ps = ps * r2 + 0x1.6124613a86d09p-33;
    ps = ps * r2 - 0x1.ae64567f544e4p-26;
    ps = ps * r2 + 0x1.71de3a556c734p-19;
    ps = ps * r2 - 0x1.a01a01a01a01ap-13;
    ps = ps * r2 + 0x1.1111111111111p-7;
    ps = ps * r2 - 0x1.5555555555555p-3;
    const VD sinR = r + r * (r2 * ps);
    VD pc = splatLanes(-0x1.6827863b97d97p-53);
    pc = pc * r2 + 0x1.ae7f3e733b81fp-45;
    pc = pc * r2 - 0x1.93974a8c07c9dp-37;
    pc = pc * r2 + 0x1.1eed8eff8d898p-29;
    pc = pc * r2 - 0x1.27e4fb7789f5cp-22;
    pc = pc * r2 + 0x1.a01a01a01a01ap-16;
    pc = pc * r2 - 0x1.6c16c16c16c17p-10;
    pc = pc * r2 + 0x1.5555555555555p-5;
    pc = pc * r2 - 0.5;
    const VD cosR = 1.0 + r2 * pc;
    const VI odd = (quadrant & 1) != 0;
    const VD s = odd ? cosR : sinR;
    const VD c = odd ? sinR : cosR;
    sinOut = (quadrant & 2) != 0 ? -s : s;
    cosOut = ((quadrant + 1) & 2) != 0 ? -c : c;
}

// The sine and cosine of a phase in half-turns as the path's per-sample sum forms them, and
// those of K times the spacing phase.
template <bool Precise> inline void sinCosPath(VD x, VD &sinOut, VD &cosOut) {
    if (Precise) {
        sinCosRadianLanes(x * PI_D, sinOut, cosOut);
    } else {
        sinCosPiLanesF(x, sinOut, cosOut);
    }
}

template <bool Precise> inline void sinCosPathOfMultiple(VD K, VD phiM, VD &sK, VD &cK) {
    if (Precise) {
        sinCosRadianLanes((K * phiM) * PI_D, sK, cK);
    } else {
        sinCosPiOfMultipleLanes(K, phiM, sK, cK);
    }
}

#endif
