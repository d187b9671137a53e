// The held ratio's cache: z and its power, the comb phase's sines and the folded closed form,
// each formed anew only where what it depends on changed; SSE2 doubles on 32-bit builds
// (lanes/unit_target.h), as the lanes that read them.
#include "oscillator/render/held_ratio.h"
#include "oscillator/lanes/unit_target.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

TARN_SSE2_DOUBLES_BEGIN

#include "kernels/sin_cos_pi4.h"
#include "oscillator/signal/complex_power.h"
#include "oscillator/signal/partial_sum.h"

namespace {

// The sine and cosine of a phase in half-turns as the path's per-sample sum forms them.
void sinCosOnPath(bool hq, double x, double &s, double &c) {
    if (hq) {
        s = std::sin(x * PI_D);
        c = std::cos(x * PI_D);
    } else {
        double unused[6];
        sinCosPi4(x, s, c, x, unused[0], unused[1], x, unused[2], unused[3], x, unused[4],
                  unused[5]);
    }
}

} // namespace

void formRatio(HeldRatio &r, bool hq, double A, double C, int32_t K) {
    if (K == r.K && r.hq == hq && bitsOf(A) == r.A && bitsOf(C) == r.C) {
        return;
    }
    r.A = bitsOf(A);
    r.C = bitsOf(C);
    r.K = K;
    r.hq = hq;
    r.foldValid = false;
    double sC, cC;
    sinCosOnPath(hq, C, sC, cC);
    r.zr = A * cC;
    r.zi = A * sC;
    const PowerOfRatio w = hq ? hqPower(A, C, K) : fastPower(r.zr, r.zi, K);
    r.wr = w.wr;
    r.wi = w.wi;
    r.R = w.R;
}

const HeldFold &foldRatio(HeldRatio &r, const HeldRun &run, bool oneSided) {
    const bool combTurns = run.combStep != 0.0;
    const double gain1 = run.levels != nullptr ? run.sign1 : run.level * run.sign1;
    double cq = 1.0, sq = 0.0;
    if (!combTurns) {
        if (!(bitsOf(run.comb) == r.Q && r.hqQ == r.hq)) {
            r.Q = bitsOf(run.comb);
            r.hqQ = r.hq;
            r.foldValid = false;
            sinCosOnPath(r.hq, run.comb, r.sq, r.cq);
        }
        sq = r.sq;
        cq = r.cq;
    }
    if (!(r.foldValid && bitsOf(gain1) == r.foldGain && run.sign2 == r.foldSign2 &&
          oneSided == r.foldOneSided && combTurns == r.foldCombTurns)) {
        r.fold = foldHeld(r.zr, r.zi, r.wr, r.wi, r.R, run.A, cq, sq, gain1, run.sign1 * run.sign2,
                          oneSided);
        r.foldValid = true;
        r.foldGain = bitsOf(gain1);
        r.foldSign2 = run.sign2;
        r.foldOneSided = oneSided;
        r.foldCombTurns = combTurns;
    }
    return r.fold;
}

TARN_SSE2_DOUBLES_END
