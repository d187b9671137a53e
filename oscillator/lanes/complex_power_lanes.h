// complex_power.h's powers in W-lane vectors with an exponent per lane, for the lane passes:
// fastPower's operations lane by lane, so its bits, and precisePower's R. A fragment of
// partial_sum_lanes_body.h, included inside its namespace after the width's types, splatLanes,
// sqrtLanes and sinCosRadianLanes.
#ifndef TARN_COMPLEX_POWER_LANES
#define TARN_COMPLEX_POWER_LANES

// flushTiny in every lane.
inline VD flushTinyLanes(VD v) {
    return (v + EPSILON_F) - EPSILON_F;
}

// Lanes with -limit <= x <= limit; NaN is in none.
inline VI withinLanes(VD x, double limit) {
    return (x <= limit) & (x >= -limit);
}

// powerExponent of each lane's count: K, an integer in [0, 2^31), is the low mantissa bits of
// K + 2^52, whose bit pattern is that of 2^52 plus K.
inline VI exponentLanes(VD K) {
    const VD shifted = K + 0x1p52;
    return (VI)shifted - ((VI)splatLanes(0x1p52) - 1);
}

// The smallest and largest exponent of the lanes.
inline void exponentRange(VI n, uint64_t &lo, uint64_t &hi) {
    lo = hi = static_cast<uint64_t>(n[0]);
    for (int32_t l = 1; l < W; ++l) {
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
template <bool Flush> inline void multiplyPower(VD &rr, VD &ri, VD br, VD bi) {
    const VD tr = rr * br - ri * bi;
    const VD ti = rr * bi + ri * br;
    rr = Flush ? flushTinyLanes(tr) : tr;
    ri = Flush ? flushTinyLanes(ti) : ti;
}

inline void squarePower(VD &br, VD &bi) {
    const VD sr = br * br - bi * bi;
    bi = 2.0 * br * bi;
    br = sr;
}

// fastPower with an exponent per lane. Lanes of one exponent (a held count: nearly always)
// follow fastPower's own branches. Otherwise every lane steps to the largest exponent's bit
// length, keeping a product only where its own bit is set and flushing it where its remaining
// exponent is at most 5: the operations fastPower gives that lane, in the same order.
inline void fastPowerLanes(VD zr, VD zi, VD K, VD &wr, VD &wi, VD &R) {
    VD rr = splatLanes(1.0), ri = VD{};
    VD br = zr, bi = zi;
    VI n = exponentLanes(K);
    uint64_t lo, hi;
    exponentRange(n, lo, hi);
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
            const VI odd = (n & 1) != 0;
            const VI last = n <= 5;
            VD tr = rr, ti = ri, fr = rr, fi = ri;
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
    R = sqrtLanes(rr * rr + ri * ri);
}

// The precise sine's bound on gamma = (K + 1) C pi, radians.
constexpr double GAMMA_LANES_LIMIT = 1.6e6;

// precisePower with an exponent per lane, R bit for bit (lanes of one exponent take its
// branches, the others step to the largest exponent's bit length); w from the vector sine of
// gamma, within 2.3e-16 of std::sin and std::cos, where `inRange` holds.
inline void precisePowerLanes(VD A, VD C, VD K, VD &wr, VD &wi, VD &R, VI &inRange) {
    VD r = splatLanes(1.0);
    VD b = A;
    VI n = exponentLanes(K);
    uint64_t lo, hi;
    exponentRange(n, lo, hi);
    if (lo == hi) {
        for (uint64_t m = lo; m > 0; m >>= 1) {
            const VD t = r * b;
            b = b * b;
            if ((m & 1u) != 0) {
                r = t;
            }
        }
    } else {
        for (int32_t step = powerSteps(hi); step > 0; --step) {
            const VD t = r * b;
            b = b * b;
            r = (n & 1) != 0 ? t : r;
            n = n >> 1;
        }
    }
    R = flushTinyLanes(r);
    const VD gamma = (C * (K + 1.0)) * PI_D;
    VD s, c;
    sinCosRadianLanes(gamma, s, c);
    wr = R * c;
    wi = R * s;
    inRange = (gamma < GAMMA_LANES_LIMIT) & (gamma > -GAMMA_LANES_LIMIT);
}

#endif
