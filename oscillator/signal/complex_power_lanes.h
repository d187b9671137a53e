// complex_power.h over lanes with an exponent per lane: fastPower's operations, so its bits, and
// hqPower's R. Templates with internal linkage, compiled for one unit alone
// (lanes/unit_target.h).
#ifndef TARN_OSCILLATOR_SIGNAL_COMPLEX_POWER_LANES_H
#define TARN_OSCILLATOR_SIGNAL_COMPLEX_POWER_LANES_H

#include <cstdint>

#include "kernels/sin_cos_lanes.h"
#include "oscillator/signal/complex_power.h"

namespace {

template <class D> inline D flushTinyLanes(D v) {
    return (v + EPSILON_F) - EPSILON_F;
}

// Lanes with -limit <= x <= limit; NaN is in none.
template <class L> inline typename L::I withinLanes(typename L::D x, double limit) {
    return (x <= limit) & (x >= -limit);
}

// powerExponent of each lane's count: K, an integer in [0, 2^31), is the low mantissa bits of
// K + 2^52, whose bit pattern is that of 2^52 plus K.
template <class L> inline typename L::I exponentLanes(typename L::D K) {
    using I = typename L::I;
    const typename L::D shifted = K + 0x1p52;
    return (I)shifted - ((I)splat<typename L::D>(0x1p52) - 1);
}

// The smallest and largest exponent of the lanes.
template <class L> inline void exponentRange(typename L::I n, uint64_t &lo, uint64_t &hi) {
    lo = hi = static_cast<uint64_t>(n[0]);
    for (int32_t l = 1; l < L::W; ++l) {
        const uint64_t v = static_cast<uint64_t>(n[l]);
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
}

// Square-and-multiply steps for exponents up to hi >= 1: its bit length.
inline int32_t powerSteps(uint64_t hi) {
    return 64 - __builtin_clzll(hi);
}

// fastPower's complex product r = r b, flushed or not.
template <bool Flush, class D> inline void multiplyPower(D &rr, D &ri, D br, D bi) {
    const D tr = rr * br - ri * bi;
    const D ti = rr * bi + ri * br;
    rr = Flush ? flushTinyLanes(tr) : tr;
    ri = Flush ? flushTinyLanes(ti) : ti;
}

template <class D> inline void squarePower(D &br, D &bi) {
    const D sr = br * br - bi * bi;
    bi = 2.0 * br * bi;
    br = sr;
}

// fastPower with an exponent per lane. Lanes of one exponent (a held count: nearly always)
// follow fastPower's own branches. Otherwise every lane steps to the largest exponent's bit
// length, keeping a product only where its own bit is set and flushing it where its remaining
// exponent is at most 5: the operations fastPower gives that lane, in the same order.
template <class L>
inline void fastPowerLanes(typename L::D zr, typename L::D zi, typename L::D K, typename L::D &wr,
                           typename L::D &wi, typename L::D &R) {
    using D = typename L::D;
    using I = typename L::I;
    D rr = splat<D>(1.0), ri = D{};
    D br = zr, bi = zi;
    I n = exponentLanes<L>(K);
    uint64_t lo, hi;
    exponentRange<L>(n, lo, hi);
    if (lo == hi) {
        uint64_t m = lo;
        for (; m > 5; m >>= 1) {
            if ((m & 1u) != 0) {
                multiplyPower<false>(rr, ri, br, bi);
            }
            squarePower(br, bi);
        }
        for (; m > 0; m >>= 1) {
            if ((m & 1u) != 0) {
                multiplyPower<true>(rr, ri, br, bi);
            }
            squarePower(br, bi);
        }
    } else {
        for (int32_t step = powerSteps(hi); step > 0; --step) {
            const I odd = (n & 1) != 0;
            const I last = n <= 5;
            D tr = rr, ti = ri, fr = rr, fi = ri;
            multiplyPower<false>(tr, ti, br, bi);
            multiplyPower<true>(fr, fi, br, bi);
            rr = odd ? (last ? fr : tr) : rr;
            ri = odd ? (last ? fi : ti) : ri;
            squarePower(br, bi);
            n = n >> 1;
        }
    }
    wr = rr;
    wi = ri;
    R = L::sqrt(rr * rr + ri * ri);
}

// The vector sine's bound on gamma = (K + 1) C pi, radians.
constexpr double GAMMA_LANES_LIMIT = 1.6e6;

// hqPower with an exponent per lane, R bit for bit (lanes of one exponent take its branches, the
// others step to the largest exponent's bit length); w from the vector sine of gamma, within
// 2.3e-16 of std::sin and std::cos, where `inRange` holds.
template <class L>
inline void hqPowerLanes(typename L::D A, typename L::D C, typename L::D K, typename L::D &wr,
                         typename L::D &wi, typename L::D &R, typename L::I &inRange) {
    using D = typename L::D;
    using I = typename L::I;
    D r = splat<D>(1.0);
    D b = A;
    I n = exponentLanes<L>(K);
    uint64_t lo, hi;
    exponentRange<L>(n, lo, hi);
    if (lo == hi) {
        for (uint64_t m = lo; m > 0; m >>= 1) {
            const D t = r * b;
            b = b * b;
            if ((m & 1u) != 0) {
                r = t;
            }
        }
    } else {
        for (int32_t step = powerSteps(hi); step > 0; --step) {
            const D t = r * b;
            b = b * b;
            r = (n & 1) != 0 ? t : r;
            n = n >> 1;
        }
    }
    R = flushTinyLanes(r);
    const D gamma = (C * (K + 1.0)) * PI_D;
    D s, c;
    sinCosRadianLanes<L>(gamma, s, c);
    wr = R * c;
    wi = R * s;
    inRange = (gamma < GAMMA_LANES_LIMIT) & (gamma > -GAMMA_LANES_LIMIT);
}

} // namespace

#endif
