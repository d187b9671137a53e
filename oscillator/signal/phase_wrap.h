// Wraps of phases in half-turns back toward [-1, 1] (wrapComplete: the subtracting loop's result
// in constant time) and the running sum of n wrapped steps at once (phaseAfterSteps).
// Static functions, one copy per file in its arithmetic (lanes/unit_target.h).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// One step: above 1 subtract 2, else below -1 add 2. Any double; a value beyond +-3 stays
// outside [-1, 1], NaN stays NaN.
static inline double wrapOnce(double x) {
    if (x > 1.0) {
        return x - 2.0;
    }
    if (x < -1.0) {
        return x + 2.0;
    }
    return x;
}

// Below 2^53 every step of the subtracting loop is exact (x and 2 are both multiples of the
// ulp of x - 2), so the loop's result is the exact x - 2k in (-1, 1] from above, or x + 2k in
// [-1, 1) from below, and fmod gives the same exact residue. The loop never ends on an
// infinity or on most values from 2^54 on (x - 2 rounds back to x), and takes 2^52 steps
// just below 2^53.
constexpr double WRAP_EXACT_LIMIT = 9007199254740992.0; // 2^53

// The complete wrap, equal to the loop for |x| below 2^53: x itself on [-1, 1] (-0.0 kept),
// else the result in (-1, 1] for x above 1 and in [-1, 1) for x below -1 (a whole number of
// turns gives +0.0). 0.0 for NaN, infinities and |x| from 2^53 on, where every finite value
// is an even integer and the loop, where it ends, ends at 0.0 too.
static inline double wrapComplete(double x) {
    if (x >= -1.0 && x <= 1.0) {
        return x;
    }
    if (!(std::fabs(x) < WRAP_EXACT_LIMIT)) {
        return 0.0;
    }
    const double r = std::fmod(x, 2.0); // exact, sign of x, |r| < 2
    if (r > 1.0) {
        return r - 2.0; // exact for r in (1, 2)
    }
    if (r < -1.0) {
        return r + 2.0;
    }
    return r == 0.0 ? 0.0 : r; // -0.0 from a negative even x becomes +0.0, as -2 + 2 does
}

// The last stretch a running sum took at once (phaseAfterSteps): every phase in [low, high]
// advances by exactly d per step of the step with these bits. A pure function of the step and
// the binade, so an entry is never wrong, only unused; the empty interval matches no phase.
struct PhaseStride {
    uint64_t step = 0;
    double low = 1.0, high = 0.0, d = 0.0;
};

static inline uint64_t phaseBits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// The start of the binade of a positive normal double: the power of two at or below it.
static inline double binadeStart(double a) {
    uint64_t b;
    std::memcpy(&b, &a, sizeof b);
    b &= 0x7ff0000000000000u;
    std::memcpy(&a, &b, sizeof a);
    return a;
}

// A phase after n advances by `step`, each wrapped: the per-sample loop's running sum, bit for
// bit. A step of at most 1 leaves every sum within [-2, 2], where the one-step wrap is the
// complete one. While the phase stays inside one binade, more than two ulps u from its ends,
// every advance adds the same d = RN_u(step) exactly (the exact sum is within u / 2 of phase +
// d, on a grid of spacing u), so the steps of such a stretch are taken at once; a step exactly
// halfway between two multiples of u rounds to even, alternately up and down, and is taken one
// advance at a time. Near zero, where the binades are narrower than a few steps, so is every
// advance. A stretch taken at once is kept in `memo`.
[[gnu::noinline]] static inline double phaseAfterStepsOf(double phase, double step, int32_t n,
                                                         PhaseStride &memo) {
    if (!(std::fabs(step) <= 1.0)) {
        for (int32_t i = 0; i < n; ++i) {
            phase = wrapComplete(phase + step);
        }
        return phase;
    }
    const double stride = 8.0 * std::fabs(step);
    while (n > 0) {
        phase = wrapOnce(phase + step);
        --n;
        const double a = std::fabs(phase);
        if (n < 4 || !(a >= 0x1p-1000)) {
            continue;
        }
        const double lo = binadeStart(a);
        const double u = lo * 0x1p-52;
        if (lo < stride) {
            continue;
        }
        const double low = phase > 0.0 ? lo + 2.0 * u : -2.0 * lo + 2.0 * u;
        const double high = phase > 0.0 ? 2.0 * lo - 2.0 * u : -lo - 2.0 * u;
        const double d = (phase + step) - phase;
        if (phase < low || phase > high || std::fabs(step - d) == 0.5 * u) {
            continue;
        }
        if (d == 0.0) {
            return phase; // every further advance rounds back to the phase itself
        }
        const double room = d > 0.0 ? (high - phase) / d : (low - phase) / d;
        int32_t k = room < static_cast<double>(n) ? static_cast<int32_t>(room) : n;
        double next = phase + static_cast<double>(k) * d;
        while (k > 0 && (next < low || next > high)) { // the division's rounding
            --k;
            next = phase + static_cast<double>(k) * d;
        }
        phase = next;
        n -= k;
        if (k > 0) { // d is then the one advance of every phase of the stretch
            memo = {phaseBits(step), low, high, d};
        }
    }
    return phase;
}

// phaseAfterStepsOf, where a call with the memo's step whose phase and end lie inside its
// stretch takes all its advances at once (each adds d exactly, and n of them, shorter than the
// binade, sum exactly).
static inline double phaseAfterSteps(double phase, double step, int32_t n, PhaseStride &memo) {
    if (phaseBits(step) == memo.step && phase >= memo.low && phase <= memo.high) {
        const double end = phase + static_cast<double>(n) * memo.d;
        if (end >= memo.low && end <= memo.high) {
            return end;
        }
    }
    return phaseAfterStepsOf(phase, step, n, memo);
}
