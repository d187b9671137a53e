// Stages 4 and 5, the closed-form sum of K + 1 (one-sided) or 2K + 1 (two-sided) partials
// weighted z^k, z = A e^(i pi C), at a cost independent of K but for the power; phases in
// half-turns. Static functions, one copy per file in its arithmetic (lanes/unit_target.h).
#pragma once

#include <cmath>
#include <cstdint>

#include "kernels/sin_cos_pi.h"
#include "kernels/sin_cos_pi4.h"
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/signal/complex_power.h"
#include "oscillator/signal/phase_wrap.h"
#include "oscillator/signal/rounding.h"

// Where the sines come from: std::sin/std::cos in double ("hq" on), or the polynomial kernels,
// four-lane or four scalar calls.
enum class SinePath { Hq, FastScalar, FastSse };

// The two signals of one sample, before level and sign: the real and the imaginary part.
struct PartialSumOut {
    double first;
    double second;
};

// Sines and cosines of the carrier (c), spacing (m), comb step (C), comb phase (q) and K times
// the spacing phase (K).
struct PartialSumTrig {
    double sc, cc, sm, cm, sC, cC, sq, cq, sK, cK;
};

// sin(K beta) and cos(K beta) on the fast path: whole turns (multiples of 2 half-turns) are
// taken off K phiM, leaving a phase in [-1, 1] that keeps its double precision, so the
// polynomial stays in range however large K is. NaN, or a phase beyond 2^32 half-turns, gives
// an arbitrary but defined value.
static inline void sinCosPiOfMultiple(int32_t K, double phiM, double &sK, double &cK) {
    const double y = static_cast<double>(K) * phiM * 0.5;
    const double x = wrapOnce(2.0 * (y - static_cast<double>(nearestInt(y - 0.5))));
    sinCosPiUnrounded(x, sK, cK);
}

template <SinePath Path>
static inline PartialSumTrig partialSumTrig(double phiC, double phiM, double C, double phiQ,
                                            int32_t K) {
    PartialSumTrig t;
    if constexpr (Path == SinePath::Hq) {
        t.sc = std::sin(phiC * PI_D);
        t.cc = std::cos(phiC * PI_D);
        t.sm = std::sin(phiM * PI_D);
        t.cm = std::cos(phiM * PI_D);
        t.sC = std::sin(C * PI_D);
        t.cC = std::cos(C * PI_D);
        t.sq = std::sin(phiQ * PI_D);
        t.cq = std::cos(phiQ * PI_D);
        const double angleK = (static_cast<double>(K) * phiM) * PI_D;
        t.sK = std::sin(angleK);
        t.cK = std::cos(angleK);
    } else {
        if constexpr (Path == SinePath::FastSse) {
            sinCosPi4(phiC, t.sc, t.cc, phiM, t.sm, t.cm, C, t.sC, t.cC, phiQ, t.sq, t.cq);
        } else {
            sinCosPi(static_cast<float>(phiC), t.sc, t.cc);
            sinCosPi(static_cast<float>(phiM), t.sm, t.cm);
            sinCosPi(static_cast<float>(C), t.sC, t.cC);
            sinCosPi(static_cast<float>(phiQ), t.sq, t.cq);
        }
        sinCosPiOfMultiple(K, phiM, t.sK, t.cK);
    }
    return t;
}

// One sample of the sum. phiC, phiM: carrier and spacing phases before this sample's advance;
// phiQ: comb phase after its update; C: comb step (half-turns per partial); A: amplitude ratio,
// never within 0.0001 of 1; K >= 0: partial count; oneSided: Mode 1. The fast paths expect
// phases in [-1, 1]; the "hq" path takes any. For A > 0, Mode 1 gives
// first = 0.75 sum A^k cos(pi (kC + phiQ)) sin(theta + k beta) / sum A^k over k = 0..K, and
// second the same with sin(pi (kC + phiQ)); Mode 2 gives sin(theta) sum A^|k| cos(k beta)
// e^(i pi (|k| C + phiQ)) over k = -K..K, divided by 2 sum A^k. The fast path normalises with
// |A|^(K+1), which differs from A^(K+1) for a negative A and even K. Finite for any A from a
// float pin and any K. Always inlined: with two callers GCC 12 emits it out of line at -O2,
// and the per-sample loop then pays a call and a bool per sample (65 -> 85 ns at K = 1000).
template <SinePath Path>
[[gnu::always_inline]] static inline PartialSumOut
partialSum(double phiC, double phiM, double phiQ, double C, double A, int32_t K, bool oneSided) {
    const PartialSumTrig t = partialSumTrig<Path>(phiC, phiM, C, phiQ, K);
    const double zr = A * t.cC;
    const double zi = A * t.sC;
    const PowerOfRatio p = Path == SinePath::Hq ? hqPower(A, C, K) : fastPower(zr, zi, K);
    // Where R dominates, N = a - w b over R - 1 is replaced by its limit -(w / R) b: w by its
    // direction, a dropped, R - 1 by 1. Elsewhere keep = 1.0 leaves every rounding as it is.
    const bool dominant = !(std::fabs(p.R) <= DOMINANT_POWER_LIMIT);
    double wr = p.wr, wi = p.wi, R = p.R, keep = 1.0;
    if (dominant) {
        const double gamma = (C * (static_cast<double>(K) + 1.0)) * PI_D;
        // On the fast path R = |w| drops the sign that a negative A gives an odd power.
        const double sign = (Path != SinePath::Hq && A < 0.0 && K % 2 == 0) ? -1.0 : 1.0;
        wr = sign * std::cos(gamma);
        wi = sign * std::sin(gamma);
        R = 2.0;
        keep = 0.0;
    }

    // Angle sums from the values above, not evaluated afresh.
    const double sd = t.sc * t.cm - t.cc * t.sm;      // sin(theta - beta)
    const double cK1 = t.cK * t.cm - t.sm * t.sK;     // cos((K+1) beta)
    const double sK1 = t.cK * t.sm + t.cm * t.sK;     // sin((K+1) beta)
    const double sThetaK = t.cK * t.sc + t.sK * t.cc; // sin(theta + K beta)
    const double sThetaK1 = cK1 * t.sc + t.cc * sK1;  // sin(theta + (K+1) beta)

    double Nr, Ni;
    if (oneSided) {
        // N = 1.5 (sin theta - z sin(theta - beta) - w (sin(theta + (K+1) beta)
        //     - z sin(theta + K beta)))
        const double G = sThetaK1 - zr * sThetaK;
        Nr = 1.5 * (keep * (t.sc - zr * sd) - wr * G - wi * zi * sThetaK);
        Ni = 1.5 * (wr * zi * sThetaK - keep * (zi * sd) - wi * G);
    } else {
        // N = sin theta (1 - z^2 - 2 w (cos((K+1) beta) - z cos(K beta)))
        const double T = 2.0 * (cK1 - zr * t.cK);
        const double U = 2.0 * t.cK * zi;
        Nr = t.sc * (keep * (1.0 - zr * zr + zi * zi) - wr * T - wi * U);
        Ni = t.sc * (wr * U - wi * T - keep * (2.0 * zr * zi));
    }
    // D = 1 - 2 z cos beta + z^2
    const double Dr = zr * zr - 2.0 * t.cm * zr - zi * zi + 1.0;
    const double Di = 2.0 * (zr - t.cm) * zi;
    // Q = N e^(i pi phiQ)
    const double Qr = t.cq * Nr - t.sq * Ni;
    const double Qi = t.sq * Nr + t.cq * Ni;
    const double g = (A - 1.0) * (1.0 / ((Dr * Dr + Di * Di) * 2.0 * (R - 1.0)));
    return {(Qr * Dr + Qi * Di) * g, (Qi * Dr - Qr * Di) * g};
}

// The weights of a held run (HeldFold, lanes/lane_passes.h), folded once: partialSum rearranged.
struct HeldComplex {
    double r, i;
};

static inline HeldComplex heldProduct(HeldComplex a, HeldComplex b) {
    return {a.r * b.r - a.i * b.i, a.r * b.i + a.i * b.r};
}

// z and w = z^(K+1) with the normalisation magnitude R, the ratio A, the comb phase's cos and
// sin (1 and 0 where it turns per sample) and the first signal's gain; flip = sign2 / sign1.
static inline HeldFold foldHeld(double zr, double zi, double wr, double wi, double R, double A,
                                double cq, double sq, double gain1, double flip, bool oneSided) {
    const HeldComplex z = {zr, zi}, w = {wr, wi};
    const double c = (A - 1.0) / (2.0 * (R - 1.0)) * gain1;
    HeldComplex p[4];
    if (oneSided) {
        // 1.5 (sin theta - z sin(theta - beta) - w sin(theta + (K+1) beta) + w z sin(theta + K
        // beta))
        const HeldComplex b = {1.5 * c * cq, 1.5 * c * sq};
        const HeldComplex bz = heldProduct(b, z), bw = heldProduct(b, w);
        p[0] = b;
        p[1] = {-bz.r, -bz.i};
        p[2] = {-bw.r, -bw.i};
        p[3] = heldProduct(bw, z);
    } else {
        // sin theta (1 - z^2 - 2 w cos((K+1) beta) + 2 w z cos(K beta))
        const HeldComplex b = {c * cq, c * sq};
        const HeldComplex z2 = heldProduct(z, z), bw = heldProduct(b, w);
        p[0] = heldProduct(b, {1.0 - z2.r, -z2.i});
        p[1] = {-2.0 * bw.r, -2.0 * bw.i};
        const HeldComplex bwz = heldProduct(bw, z);
        p[2] = {2.0 * bwz.r, 2.0 * bwz.i};
        p[3] = {0.0, 0.0};
    }
    HeldFold f;
    for (int k = 0; k < 4; ++k) {
        f.pr[k] = p[k].r;
        f.pi[k] = p[k].i;
    }
    f.zr2 = zr * zr;
    f.zi2 = zi * zi;
    f.flip = flip;
    return f;
}
