// pitch.h and the partial count's keep test over the lanes of a lane type L, for sub-blocks whose
// pitch moves: each sample's pitch by a vector exponential, rounded to float as pitchFromFc rounds
// it wherever that rounding is certain. Templates with internal linkage (lanes/unit_target.h).
#ifndef TARN_OSCILLATOR_SIGNAL_PITCH_LANES_H
#define TARN_OSCILLATOR_SIGNAL_PITCH_LANES_H

#include <cstdint>

#include "kernels/sin_cos_lanes.h"
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/signal/partial_shape_lanes.h"
#include "oscillator/signal/pitch.h"

namespace {

constexpr double LOG2_E = 0x1.71547652b82fep0;
// ln 2 in two parts (fdlibm's): n LN_2_HIGH is exact for |n| < 2^20.
constexpr double LN_2_HIGH = 0x1.62e42feep-1;
constexpr double LN_2_LOW = 0x1.a39ef35793c76p-33;
// The exponent's range in the lanes: e^80 440 and e^-80 440 are normal floats.
constexpr double EXP_LANES_LIMIT = 80.0;
// Relative distance from a float rounding boundary below which the lanes leave a pitch to
// pitchFromFc: 2^-46, over 50 times expLanes' error plus std::exp's.
constexpr double PITCH_ROUNDING_MARGIN = 0x1p-46;

// e^x for |x| <= EXP_LANES_LIMIT: x = n ln 2 + r with |r| <= 0.3466, e^r by its Taylor series to
// r^13 (truncation below 5e-18), scaled by 2^n through the exponent bits. Within 1 ulp of
// e^x (0.87 against expl over 8 million arguments).
template <class L> inline typename L::D expLanes(typename L::D x) {
    using D = typename L::D;
    using I = typename L::I;
    const D shifted = x * LOG2_E + ROUNDING_SHIFT;
    const D n = shifted - ROUNDING_SHIFT;
    const D r = (x - n * LN_2_HIGH) - n * LN_2_LOW;
    D p = mulAdd<L>(splat<D>(1.0 / 6227020800.0), r, splat<D>(1.0 / 479001600.0));
    p = mulAdd<L>(p, r, splat<D>(1.0 / 39916800.0));
    p = mulAdd<L>(p, r, splat<D>(1.0 / 3628800.0));
    p = mulAdd<L>(p, r, splat<D>(1.0 / 362880.0));
    p = mulAdd<L>(p, r, splat<D>(1.0 / 40320.0));
    p = mulAdd<L>(p, r, splat<D>(1.0 / 5040.0));
    p = mulAdd<L>(p, r, splat<D>(1.0 / 720.0));
    p = mulAdd<L>(p, r, splat<D>(1.0 / 120.0));
    p = mulAdd<L>(p, r, splat<D>(1.0 / 24.0));
    p = mulAdd<L>(p, r, splat<D>(1.0 / 6.0));
    p = mulAdd<L>(p, r, splat<D>(0.5));
    p = mulAdd<L>(p, r, splat<D>(1.0));
    p = mulAdd<L>(p, r, splat<D>(1.0));
    const I scale = ((I)shifted - (I)splat<D>(ROUNDING_SHIFT)) << 52;
    return (D)((I)p + scale);
}

// pitchFromFc lane by lane. `certain` is true in the lanes whose float is pitchFromFc's for sure:
// fc within the exponent's range, and the double product 440 e^x (of either exponential) at
// least PITCH_ROUNDING_MARGIN away from a rounding boundary between two floats. The other lanes
// hold a defined but meaningless value.
template <class L> inline typename L::D pitchLanes(typename L::D fc, typename L::I &certain) {
    using D = typename L::D;
    using I = typename L::I;
    const D x = (10.0 * fc - 5.0) * LN_2;
    const D hz = 440.0 * expLanes<L>(x);
    const D low = narrowWiden<L>(hz * (1.0 - PITCH_ROUNDING_MARGIN));
    const D high = narrowWiden<L>(hz * (1.0 + PITCH_ROUNDING_MARGIN));
    const D magnitude = (D)((I)x & ~(I)splat<D>(-0.0));
    certain = (magnitude <= EXP_LANES_LIMIT) & (low == high);
    return low;
}

// countPartials' keep test lane by lane for a pitch f0 >= 0 and the count K >= 0: true where the
// cached K keeps. With f0 >= 0 the mirrored carrier's tests reduce to the spacing's sign: P + K S
// is -(f0 + K delta) exactly where the spacing is negative, and -P <= Nyquist asks f0 <= Nyquist
// there, which a top partial within the band implies where it is not.
template <class L>
inline typename L::I countKeepsLanes(typename L::D f0, typename L::D delta, int32_t K, int32_t Nmax,
                                     double nyquist) {
    using D = typename L::D;
    using I = typename L::I;
    const I magnitudeBits = ~(I)splat<D>(-0.0);
    const D Kd = splat<D>(static_cast<double>(K));
    const D top = (D)((I)(f0 + Kd * delta) & magnitudeBits);
    const I fits = (top <= nyquist) & (f0 <= nyquist);
    if (K >= Nmax) {
        return fits;
    }
    const D above = (D)((I)(f0 + (Kd + 1.0) * delta) & magnitudeBits);
    return fits & (above >= nyquist);
}

// PitchRunPass over lanes: W samples at a time, the lanes past the count computed on the pins'
// last sample.
template <class L> uint64_t pitchRunLanes(const PitchRunIn &in, PitchRunOut &out) {
    using D = typename L::D;
    using I = typename L::I;
    const float *const fcs = in.fc, *const fm1s = in.fm1, *const detunes = in.detune;
    const int32_t count = in.count, K = in.K, Nmax = in.Nmax;
    const double nyquist = in.nyquist, twoOverSr = in.twoOverSr;
    const bool foldSpacing = in.foldSpacing;
    uint64_t unsure = 0;
    I large = {};
    const I magnitudeBits = ~(I)splat<D>(-0.0);
    for (int32_t j = 0; j < count; j += L::W) {
        D fc, fm1, detune;
        if (j + L::W <= count) {
            fc = loadFloatLanes<L>(fcs + j);
            fm1 = loadFloatLanes<L>(fm1s + j);
            detune = loadFloatLanes<L>(detunes + j);
        } else {
            for (int32_t l = 0; l < L::W; ++l) {
                const int32_t k = j + l < count ? j + l : count - 1;
                fc[l] = static_cast<double>(fcs[k]);
                fm1[l] = static_cast<double>(fm1s[k]);
                detune[l] = static_cast<double>(detunes[k]);
            }
        }
        I certain;
        const D f0 = pitchLanes<L>(fc, certain);
        D delta = (f0 * fm1 + detune) * 10.0; // f0 >= 0: spacingHz's |f0| is f0
        if (foldSpacing) {
            delta = delta < MODE2_SPACING_FOLD_BELOW_HZ ? -delta : delta;
        }
        const I keeps = countKeepsLanes<L>(f0, delta, K, Nmax, nyquist);
        storeLanes<L>(out.pitch + j, f0);
        const D carrierStep = f0 * twoOverSr, spacingStep = delta * twoOverSr;
        storeLanes<L>(out.carrierStep + j, carrierStep);
        storeLanes<L>(out.spacingStep + j, spacingStep);
        const I small = ((D)((I)carrierStep & magnitudeBits) <= 2.0) &
                        ((D)((I)spacingStep & magnitudeBits) <= 2.0);
        large |= ~small & certain & keeps;
        unsure |= laneBits<L>(~(certain & keeps), j);
    }
    out.largeSteps = laneBits<L>(large, 0) != 0;
    return unsure & lanesUpTo(count);
}

} // namespace

#endif
