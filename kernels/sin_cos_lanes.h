// Sines and cosines over the lanes of a lane type L: the four-lane kernel's float polynomial (the
// fast path), its unrounded double twin (K times the spacing phase) and the "hq" double sine.
// Internal linkage: include it after a unit's target (oscillator/lanes/unit_target.h).
#ifndef TARN_KERNELS_SIN_COS_LANES_H
#define TARN_KERNELS_SIN_COS_LANES_H

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "kernels/lanes.h"
#include "kernels/sin_cos_pi.h"

namespace {

template <class L> inline typename L::D loadLanes(const double *p) {
    typename L::D v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class L> inline void storeLanes(double *p, typename L::D v) {
    std::memcpy(p, &v, sizeof v);
}

// Whether the lane type gathers a mask's lanes into bits itself (L::maskBits: MOVMSKPD, VPMOVQ2M).
template <class L, class = void> struct GathersBitsItself : std::false_type {};
template <class L>
struct GathersBitsItself<L, std::void_t<decltype(L::maskBits(std::declval<typename L::I>()))>>
    : std::true_type {};

// Lanes [j, j + W) of a mask (each lane all ones or all zeros) as bits j.. of a word.
template <class L> inline uint64_t laneBits(typename L::I mask, int32_t j) {
    if constexpr (GathersBitsItself<L>::value) {
        return static_cast<uint64_t>(L::maskBits(mask)) << j;
    } else {
        uint64_t out = 0;
        for (int32_t l = 0; l < L::W; ++l) {
            out |= static_cast<uint64_t>(mask[l] & 1) << (j + l);
        }
        return out;
    }
}

// x in every lane; x - (+0.0) keeps the sign of a zero x.
template <class V, class T> inline V splat(T x) {
    return x - V{};
}

// Whether the lane type has a fused multiply-add (L::mulAdd); a b + c rounded once where it has,
// twice where not. The float kernel's twins, the reductions and the steps that must round as
// the per-sample loop does never take it.
template <class L, class = void> struct FusesItself : std::false_type {};
template <class L>
struct FusesItself<
    L, std::void_t<decltype(L::mulAdd(std::declval<typename L::D>(), std::declval<typename L::D>(),
                                      std::declval<typename L::D>()))>> : std::true_type {};

template <class L>
[[gnu::always_inline]] inline typename L::D mulAdd(typename L::D a, typename L::D b,
                                                   typename L::D c) {
    if constexpr (FusesItself<L>::value) {
        return L::mulAdd(a, b, c);
    } else {
        return a * b + c;
    }
}

// The reduction of sinCosPiUnrounded and of the four-lane kernel, lane by lane: sin(pi x) and
// cos(pi x), each a shift into [-0.5, 0.5] and one polynomial. T is the arithmetic of V's lanes.
template <class T, class V> inline void sinCosPiReduced(V x, V &sinOut, V &cosOut) {
    const auto below = x < static_cast<T>(-0.5);
    const auto above = static_cast<T>(0.5) <= x;
    const V offsetS = below   ? splat<V>(static_cast<T>(1))
                      : above ? splat<V>(static_cast<T>(-1))
                              : splat<V>(static_cast<T>(-0.0));
    const V sigmaS = (below | above) ? splat<V>(static_cast<T>(-1)) : splat<V>(static_cast<T>(1));
    // -0.0 >= 0 holds: a negative zero takes the cosine's x >= 0 shift, as in the kernels.
    const auto nonNegative = static_cast<T>(0) <= x;
    const V offsetC = nonNegative ? splat<V>(static_cast<T>(-0.5)) : splat<V>(static_cast<T>(0.5));
    const V sigmaC = nonNegative ? splat<V>(static_cast<T>(-1)) : splat<V>(static_cast<T>(1));
    sinOut = signedSinPiPolynomial<T>(x + offsetS, sigmaS);
    cosOut = signedSinPiPolynomial<T>(x + offsetC, sigmaC);
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

// GCC has no vector of two floats of its own and takes every lane of one apart; with two double
// lanes the conversions go through SSE2's own instructions on four floats instead.
template <class L>
constexpr bool PAIRED_BY_BUILTINS =
#if defined(__clang__)
    false;
#else
    L::W == 2;
#endif

// Two double vectors rounded to floats, side by side in one vector of 2W floats.
template <class L> inline typename L::F2 narrowPair(typename L::D a, typename L::D b) {
    if constexpr (PAIRED_BY_BUILTINS<L>) {
        return __builtin_shufflevector(__builtin_ia32_cvtpd2ps(a), __builtin_ia32_cvtpd2ps(b), 0, 1,
                                       4, 5);
    } else {
        return shuffleLanes<typename L::F2>(__builtin_convertvector(a, typename L::F),
                                            __builtin_convertvector(b, typename L::F),
                                            std::make_index_sequence<2 * L::W>{});
    }
}

// Whether the lane type widens floats itself (L::widenLow and L::widenHigh): GCC takes the
// halves of eight floats through memory, where AVX has one instruction for each.
template <class L, class = void> struct WidensItself : std::false_type {};
template <class L>
struct WidensItself<L, std::void_t<decltype(L::widenLow(std::declval<typename L::F2>()))>>
    : std::true_type {};

// The low and the high W floats of 2W, widened exactly.
template <class L> inline typename L::D widenLow(typename L::F2 f) {
    if constexpr (WidensItself<L>::value) {
        return L::widenLow(f);
    } else if constexpr (PAIRED_BY_BUILTINS<L>) {
        return __builtin_ia32_cvtps2pd(f);
    } else {
        return __builtin_convertvector(
            shuffleLanes<typename L::F>(f, f, std::make_index_sequence<L::W>{}), typename L::D);
    }
}

template <class L> inline typename L::D widenHigh(typename L::F2 f) {
    if constexpr (WidensItself<L>::value) {
        return L::widenHigh(f);
    } else if constexpr (PAIRED_BY_BUILTINS<L>) {
        return __builtin_ia32_cvtps2pd(__builtin_shufflevector(f, f, 2, 3, 2, 3));
    } else {
        return __builtin_convertvector(
            shuffleLanes<typename L::F>(f, f, offsetLanes<L::W>(std::make_index_sequence<L::W>{})),
            typename L::D);
    }
}

// Whether the lane type widens W floats itself (L::widen: VCVTPS2PD from memory), where GCC's
// generic conversion takes the halves apart.
template <class L, class = void> struct WidensFloatsItself : std::false_type {};
template <class L>
struct WidensFloatsItself<L, std::void_t<decltype(L::widen(std::declval<typename L::F>()))>>
    : std::true_type {};

// W floats widened exactly (not for PAIRED_BY_BUILTINS units, whose W floats are no vector).
template <class L> inline typename L::D widenFloats(typename L::F f) {
    if constexpr (WidensFloatsItself<L>::value) {
        return L::widen(f);
    } else {
        return __builtin_convertvector(f, typename L::D);
    }
}

// Each lane rounded to float and widened back: the float each lane would store.
template <class L> inline typename L::D narrowWiden(typename L::D x) {
    if constexpr (PAIRED_BY_BUILTINS<L>) {
        return __builtin_ia32_cvtps2pd(__builtin_ia32_cvtpd2ps(x));
    }
    return widenFloats<L>(__builtin_convertvector(x, typename L::F));
}

// The bits of a float or double vector's elements: B the integer vector of the same lanes.
template <class V> struct LaneBits {
    using T = std::remove_reference_t<decltype(V{}[0])>;
    using U = std::conditional_t<sizeof(T) == 4, int32_t, int64_t>;
    typedef U B __attribute__((vector_size(sizeof(V))));
};

// sinCosPiReduced's results for x in [-1, 1], with the signs folded into the arguments (the
// polynomial is odd): the sine of copysign(min(|x|, 1 - |x|), x) and of 0.5 - |x|, each
// difference exact or rounded as the reduction's own. Bit for bit but for the sign of a zero
// sine (x = 1 gives +0.0 for -0.0), which no output can show: a zero times anything, or added
// to anything nonzero, is not told apart by its sign, and audibleSample writes +0.0 for both.
template <class T, class V>
[[gnu::always_inline]] inline void sinCosPiInCycle(V x, V &sinOut, V &cosOut) {
    using B = typename LaneBits<V>::B;
    const B signBit = (B)splat<V>(static_cast<T>(-0.0));
    const B sign = (B)x & signBit;
    const V a = (V)((B)x & ~signBit);
    const V b = static_cast<T>(1) - a;
    const V m = a < b ? a : b;
    sinOut = sinPiPolynomial<T>((V)((B)m | sign));
    cosOut = sinPiPolynomial<T>(static_cast<T>(0.5) - a);
}

// sinCosPi4 lane by lane on two phases: each rounded to float, both in one float vector of
// twice the lanes, reduced as sinCosPiReduced does (InCycle: as sinCosPiInCycle does, for
// phases in [-1, 1]), the results widened exactly.
template <class L, bool InCycle>
[[gnu::always_inline]] inline void sinCosPiPairLanes(typename L::D phase1, typename L::D phase2,
                                                     typename L::D &sin1, typename L::D &cos1,
                                                     typename L::D &sin2, typename L::D &cos2) {
    typename L::F2 s, c;
    if constexpr (InCycle) {
        sinCosPiInCycle<float>(narrowPair<L>(phase1, phase2), s, c);
    } else {
        sinCosPiReduced<float>(narrowPair<L>(phase1, phase2), s, c);
    }
    sin1 = widenLow<L>(s);
    sin2 = widenHigh<L>(s);
    cos1 = widenLow<L>(c);
    cos2 = widenHigh<L>(c);
}

template <class L>
inline void sinCosPiLanes2(typename L::D phase1, typename L::D phase2, typename L::D &sin1,
                           typename L::D &cos1, typename L::D &sin2, typename L::D &cos2) {
    sinCosPiPairLanes<L, false>(phase1, phase2, sin1, cos1, sin2, cos2);
}

// The same for one phase.
template <class L>
inline void sinCosPiLanes(typename L::D phase, typename L::D &sinOut, typename L::D &cosOut) {
    if constexpr (PAIRED_BY_BUILTINS<L>) {
        typename L::D unusedSin, unusedCos;
        sinCosPiLanes2<L>(phase, phase, sinOut, cosOut, unusedSin, unusedCos);
    } else {
        typename L::F s, c;
        sinCosPiReduced<float>(__builtin_convertvector(phase, typename L::F), s, c);
        sinOut = __builtin_convertvector(s, typename L::D);
        cosOut = __builtin_convertvector(c, typename L::D);
    }
}

// wrapOnce lane by lane: above 1 subtract 2, else below -1 add 2.
template <class L> inline typename L::D wrapOnceLanes(typename L::D x) {
    return x > 1.0 ? x - 2.0 : x < -1.0 ? x + 2.0 : x;
}

// sinCosPiOfMultiple lane by lane: whole turns taken off K phiM by nearestInt's rounding (half to
// even) where it is in range, INT32_MIN beyond it and for NaN; + 0.0 turns the -0.0 a rounding
// can give into the +0.0 of an int's double.
template <class L>
inline void sinCosPiOfMultipleLanes(typename L::D K, typename L::D phiM, typename L::D &sK,
                                    typename L::D &cK) {
    using D = typename L::D;
    const D y = K * phiM * 0.5;
    const D v = y - 0.5;
    const typename L::I inRange = (v >= -2147483648.5) & (v < 2147483647.5);
    const D n = inRange ? L::roundHalfEven(v) + 0.0 : splat<D>(-2147483648.0);
    sinCosPiReduced<double>(wrapOnceLanes<L>(2.0 * (y - n)), sK, cK);
}

// sinCosPiLanes2 for phases in [-1, 1], by sinCosPiInCycle.
template <class L>
[[gnu::always_inline]] inline void sinCosPiInCycleLanes2(typename L::D phase1, typename L::D phase2,
                                                         typename L::D &sin1, typename L::D &cos1,
                                                         typename L::D &sin2, typename L::D &cos2) {
    sinCosPiPairLanes<L, true>(phase1, phase2, sin1, cos1, sin2, cos2);
}

// sinCosPiOfMultipleLanes where |K phiM| < 2^31 (a count K and a phase in [-1, 1]), so that the
// rounding is always in range: 2 (y - n) lies in [0, 2], one subtraction wraps it.
template <class L>
[[gnu::always_inline]] inline void
sinCosPiOfMultipleInRangeLanes(typename L::D K, typename L::D phiM, typename L::D &sK,
                               typename L::D &cK) {
    using D = typename L::D;
    const D y = K * phiM * 0.5;
    const D n = L::roundHalfEven(y - 0.5) + 0.0;
    const D x = 2.0 * (y - n);
    sinCosPiInCycle<double>(x > 1.0 ? x - 2.0 : x, sK, cK);
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
// 1e-19 on [-pi/4, pi/4], in fused multiply-adds where the unit has them. Within 2.3e-16 of
// std::sin and std::cos on the dense grid and random points of the tests.
template <class L>
[[gnu::always_inline]] inline void sinCosRadianLanes(typename L::D a, typename L::D &sinOut,
                                                     typename L::D &cosOut) {
    using D = typename L::D;
    using I = typename L::I;
    const D shifted = a * TWO_OVER_PI + ROUNDING_SHIFT;
    const D n = shifted - ROUNDING_SHIFT;
    const I quadrant = (I)shifted;
    const D r =
        mulAdd<L>(-n, splat<D>(HALF_PI_3),
                  mulAdd<L>(-n, splat<D>(HALF_PI_2), mulAdd<L>(-n, splat<D>(HALF_PI_1), a)));
    const D r2 = r * r;
    D ps = mulAdd<L>(splat<D>(0x1.952c77030ad4ap-49), r2, splat<D>(-0x1.ae7f3e733b81fp-41));
    ps = mulAdd<L>(ps, r2, splat<D>(0x1.6124613a86d09p-33));
    ps = mulAdd<L>(ps, r2, splat<D>(-0x1.ae64567f544e4p-26));
    ps = mulAdd<L>(ps, r2, splat<D>(0x1.71de3a556c734p-19));
    ps = mulAdd<L>(ps, r2, splat<D>(-0x1.a01a01a01a01ap-13));
    ps = mulAdd<L>(ps, r2, splat<D>(0x1.1111111111111p-7));
    ps = mulAdd<L>(ps, r2, splat<D>(-0x1.5555555555555p-3));
    const D sinR = mulAdd<L>(r, r2 * ps, r);
    D pc = mulAdd<L>(splat<D>(-0x1.6827863b97d97p-53), r2, splat<D>(0x1.ae7f3e733b81fp-45));
    pc = mulAdd<L>(pc, r2, splat<D>(-0x1.93974a8c07c9dp-37));
    pc = mulAdd<L>(pc, r2, splat<D>(0x1.1eed8eff8d898p-29));
    pc = mulAdd<L>(pc, r2, splat<D>(-0x1.27e4fb7789f5cp-22));
    pc = mulAdd<L>(pc, r2, splat<D>(0x1.a01a01a01a01ap-16));
    pc = mulAdd<L>(pc, r2, splat<D>(-0x1.6c16c16c16c17p-10));
    pc = mulAdd<L>(pc, r2, splat<D>(0x1.5555555555555p-5));
    pc = mulAdd<L>(pc, r2, splat<D>(-0.5));
    const D cosR = mulAdd<L>(r2, pc, splat<D>(1.0));
    // Quadrants 1 and 3 swap the two; 2 and 3 negate the sine, 1 and 2 the cosine (bit 1 of the
    // quadrant, and of the quadrant + 1), by the sign bit.
    const I odd = (quadrant & 1) == 1;
    const I signBit = (I)splat<D>(-0.0);
    const D s = odd ? cosR : sinR;
    const D c = odd ? sinR : cosR;
    sinOut = (D)((I)s ^ (((quadrant & 2) == 2) & signBit));
    cosOut = (D)((I)c ^ ((((quadrant + 1) & 2) == 2) & signBit));
}

} // namespace

#endif
