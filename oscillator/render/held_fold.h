// The constants of a held run's closed form, folded once per sub-block: partialSum's N e^(i pi q)
// (A - 1) / (2 (R - 1)) written as weights of the per-sample sines (lane_passes.h's HeldFold).
// Static functions: each file compiles its own copy in its own arithmetic.
#pragma once

#include "oscillator/lanes/lane_passes.h"

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
        // 1.5 (sin theta - z sin(theta - beta) - w sin(theta + (K+1) beta) + w z sin(theta + K beta))
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
