// w = z^(K+1), z = A e^(i pi C), by squaring: A's real power ("hq") or z's complex power (fast),
// values below about 1e-41 flushed to zero, K + 1 unsigned so K = INT32_MAX is safe. Static
// functions, one copy per file in its arithmetic (lanes/unit_target.h).
#pragma once

#include <cmath>
#include <cstdint>

// The double nearest to pi, for the "hq" path's angles.
constexpr double PI_D = 3.141592653589793;

// 1e-25 as a single-precision value: (v + EPSILON_F) - EPSILON_F rounds away every part of v
// below about 2^-54 of it (1e-41) and flushes smaller values to zero.
constexpr double EPSILON_F = static_cast<double>(1e-25f);

static inline double flushTiny(double v) {
    return (v + EPSILON_F) - EPSILON_F;
}

// K + 1 for a count K >= 0 (at most 2^31, no overflow). A negative K, outside the contract,
// wraps to a large exponent without undefined behaviour.
static inline uint32_t powerExponent(int32_t K) {
    return static_cast<uint32_t>(K) + 1u;
}

struct PowerOfRatio {
    double wr, wi; // z^(K+1)
    double R;      // normalisation magnitude: A^(K+1) ("hq", signed) or |z^(K+1)| (fast)
};

// "hq": R = A^(K+1) by squaring, flushed; w = R (cos g, sin g), g = (C (K+1)) pi, the
// angle evaluated without reduction.
static inline PowerOfRatio hqPower(double A, double C, int32_t K) {
    double r = 1.0;
    double b = A;
    for (uint32_t n = powerExponent(K); n > 0; n >>= 1) {
        const double t = r * b;
        b = b * b;
        if ((n & 1u) != 0) {
            r = t;
        }
    }
    const double R = flushTiny(r);
    const double gamma = (C * (static_cast<double>(K) + 1.0)) * PI_D;
    return {R * std::cos(gamma), R * std::sin(gamma), R};
}

// Fast path: z^(K+1) by complex squaring, R = |w|. The low five exponent bits run last and
// flush r after every product, so tiny powers end as exact zeros rather than as subnormals.
static inline PowerOfRatio fastPower(double zr, double zi, int32_t K) {
    double rr = 1.0, ri = 0.0;
    double br = zr, bi = zi;
    uint32_t n = powerExponent(K);
    for (; n > 5; n >>= 1) {
        if ((n & 1u) != 0) {
            const double tr = rr * br - ri * bi;
            ri = rr * bi + ri * br;
            rr = tr;
        }
        const double sr = br * br - bi * bi;
        bi = 2.0 * br * bi;
        br = sr;
    }
    for (; n > 0; n >>= 1) {
        if ((n & 1u) != 0) {
            const double tr = rr * br - ri * bi;
            ri = flushTiny(rr * bi + ri * br);
            rr = flushTiny(tr);
        }
        const double sr = br * br - bi * bi;
        bi = 2.0 * br * bi;
        br = sr;
    }
    return {rr, ri, std::sqrt(rr * rr + ri * ri)};
}

// Beyond |R| = 2^400 the partial sum's part of N without w is below 2^-400 of the part with w
// for any A from a float pin (|A| < 3.5e39), and the direct evaluation would soon overflow in
// w, D^2 (R - 1) or R itself (A = 1.5 with K above about 1750 already does), giving NaN or 0.
constexpr double DOMINANT_POWER_LIMIT = 0x1p400;
