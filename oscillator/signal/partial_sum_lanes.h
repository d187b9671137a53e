// partial_sum.h over the lanes of a lane type L: partialSum's arithmetic lane by lane, operation
// for operation (no reassociation, no fused multiply-add), with selects in place of branches.
// Templates with internal linkage, compiled for one unit alone (lanes/unit_target.h).
#ifndef TARN_OSCILLATOR_SIGNAL_PARTIAL_SUM_LANES_H
#define TARN_OSCILLATOR_SIGNAL_PARTIAL_SUM_LANES_H

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "kernels/sin_cos_lanes.h"
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/signal/complex_power_lanes.h"
#include "oscillator/signal/partial_sum.h"

namespace {

// The sine and cosine of a phase in half-turns as the path's per-sample sum forms them.
template <class L, bool Hq>
inline void sinCosPath(typename L::D x, typename L::D &sinOut, typename L::D &cosOut) {
    if (Hq) {
        sinCosRadianLanes<L>(x * PI_D, sinOut, cosOut);
    } else {
        sinCosPiLanes<L>(x, sinOut, cosOut);
    }
}

// The same for the carrier and spacing phases together.
template <class L, bool Hq>
inline void sinCosPathPair(typename L::D x1, typename L::D x2, typename L::D &s1, typename L::D &c1,
                           typename L::D &s2, typename L::D &c2) {
    if (Hq) {
        sinCosRadianLanes<L>(x1 * PI_D, s1, c1);
        sinCosRadianLanes<L>(x2 * PI_D, s2, c2);
    } else {
        sinCosPiLanes2<L>(x1, x2, s1, c1, s2, c2);
    }
}

// sin(K beta) and cos(K beta).
template <class L, bool Hq>
inline void sinCosPathOfMultiple(typename L::D K, typename L::D phiM, typename L::D &sK,
                                 typename L::D &cK) {
    if (Hq) {
        sinCosRadianLanes<L>((K * phiM) * PI_D, sK, cK);
    } else {
        sinCosPiOfMultipleLanes<L>(K, phiM, sK, cK);
    }
}

// What the sum takes besides the sines of the carrier and spacing phases: z, its power, the comb
// phase's sine and cosine, the ratio.
template <class L> struct RatioLanes { typename L::D zr, zi, wr, wi, R, sq, cq, A; };

// The sines and cosines of a sub-block's samples, a stage's output and the next one's input:
// carrier (c), spacing (m), K times the spacing (K) and the comb phase (q). Lanes past the
// sub-block's end hold real values too (multiples of the widest width are formed). Aligned to
// whole cache lines for the wide units; on SSE2 to doubles only, so that no legacy-SSE
// instruction takes an operand from it that must be 16-byte aligned (the 32-bit Windows stack
// is aligned to 4, and the alignment check proves no indexed operand).
template <class L> struct SineLanes {
    static constexpr size_t ALIGN = L::W >= 4 ? 64 : alignof(double);
    alignas(ALIGN) double sc[LANE_BLOCK], cc[LANE_BLOCK], sm[LANE_BLOCK], cm[LANE_BLOCK];
    alignas(ALIGN) double sK[LANE_BLOCK], cK[LANE_BLOCK], sq[LANE_BLOCK], cq[LANE_BLOCK];
};

// partialSum for W lanes away from its dominant branch, before the gains, from the lanes' sines.
template <class L, bool OneSided>
[[gnu::always_inline]] inline void closedForm(const SineLanes<L> &t, int32_t j,
                                              const RatioLanes<L> &in, typename L::D &first,
                                              typename L::D &second) {
    using D = typename L::D;
    const D sc = loadLanes<L>(t.sc + j), cc = loadLanes<L>(t.cc + j);
    const D sm = loadLanes<L>(t.sm + j), cm = loadLanes<L>(t.cm + j);
    const D sK = loadLanes<L>(t.sK + j), cK = loadLanes<L>(t.cK + j);
    const D zr = in.zr, zi = in.zi, wr = in.wr, wi = in.wi;

    const D sd = sc * cm - cc * sm;
    const D cK1 = cK * cm - sm * sK;
    const D sK1 = cK * sm + cm * sK;
    const D sThetaK = cK * sc + sK * cc;
    const D sThetaK1 = cK1 * sc + cc * sK1;

    D Nr, Ni;
    if (OneSided) {
        const D G = sThetaK1 - zr * sThetaK;
        Nr = 1.5 * ((sc - zr * sd) - wr * G - wi * zi * sThetaK);
        Ni = 1.5 * (wr * zi * sThetaK - (zi * sd) - wi * G);
    } else {
        const D T = 2.0 * (cK1 - zr * cK);
        const D U = 2.0 * cK * zi;
        Nr = sc * ((1.0 - zr * zr + zi * zi) - wr * T - wi * U);
        Ni = sc * (wr * U - wi * T - (2.0 * zr * zi));
    }
    const D Dr = zr * zr - 2.0 * cm * zr - zi * zi + 1.0;
    const D Di = 2.0 * (zr - cm) * zi;
    const D Qr = in.cq * Nr - in.sq * Ni;
    const D Qi = in.sq * Nr + in.cq * Ni;
    const D g = (in.A - 1.0) * (1.0 / ((Dr * Dr + Di * Di) * 2.0 * (in.R - 1.0)));
    first = (Qr * Dr + Qi * Di) * g;
    second = (Qi * Dr - Qr * Di) * g;
}

// The sines of the carrier and spacing phases of lanes [j, j + W), and of K times the spacing.
template <class L, bool Hq>
[[gnu::always_inline]] inline void sinesOf(typename L::D phiC, typename L::D phiM, typename L::D K,
                                           SineLanes<L> &t, int32_t j) {
    using D = typename L::D;
    D sc, cc, sm, cm, sK, cK;
    sinCosPathPair<L, Hq>(phiC, phiM, sc, cc, sm, cm);
    sinCosPathOfMultiple<L, Hq>(K, phiM, sK, cK);
    storeLanes<L>(t.sc + j, sc);
    storeLanes<L>(t.cc + j, cc);
    storeLanes<L>(t.sm + j, sm);
    storeLanes<L>(t.cm + j, cm);
    storeLanes<L>(t.sK + j, sK);
    storeLanes<L>(t.cK + j, cK);
}

// Whether the lane type keeps the lanes of x whose m lies in [lo, hi] itself (L::keep): on
// 32-bit builds GCC takes a mask of two 64-bit lanes apart, where SSE2 has CMPLEPD and ANDPD.
template <class L, class = void> struct KeepsItself : std::false_type {};
template <class L>
struct KeepsItself<L, std::void_t<decltype(L::keep(std::declval<typename L::D>(), 0.0, 0.0,
                                                   std::declval<typename L::D>()))>>
    : std::true_type {};

// audibleSample lane by lane: in-range magnitudes kept, everything else (NaN included) 0.0.
template <class L> inline typename L::D audibleLanes(typename L::D x) {
    using I = typename L::I;
    const double lo = static_cast<double>(FLT_MIN), hi = static_cast<double>(FLT_MAX);
    const typename L::D m = (typename L::D)((I)x & ~(I)splat<typename L::D>(-0.0));
    if constexpr (KeepsItself<L>::value) {
        return L::keep(m, lo, hi, x);
    } else {
        return (typename L::D)((I)x & ((m >= lo) & (m <= hi)));
    }
}

// The outputs of lanes [j, j + W), narrowed, of which the first `lanes` are stored.
// The wide units narrow each signal on its own: putting both side by side first, as the two-lane
// unit must, costs them shuffles.
template <class L>
inline void storeOutputs(typename L::D first, typename L::D second, float *out1, float *out2,
                         int32_t j, int32_t lanes) {
    float f[2 * L::W];
    if constexpr (PAIRED_BY_BUILTINS<L>) {
        const typename L::F2 both = narrowPair<L>(audibleLanes<L>(first), audibleLanes<L>(second));
        if (lanes == L::W) {
            L::storePair(both, out1 + j, out2 + j);
            return;
        }
        std::memcpy(f, &both, sizeof both);
    } else {
        const typename L::F f1 = __builtin_convertvector(audibleLanes<L>(first), typename L::F);
        const typename L::F f2 = __builtin_convertvector(audibleLanes<L>(second), typename L::F);
        if (lanes == L::W) {
            std::memcpy(out1 + j, &f1, sizeof f1);
            std::memcpy(out2 + j, &f2, sizeof f2);
            return;
        }
        std::memcpy(f, &f1, sizeof f1);
        std::memcpy(f + L::W, &f2, sizeof f2);
    }
    if (lanes == L::W) {
        std::memcpy(out1 + j, f, L::W * sizeof(float));
        std::memcpy(out2 + j, f + L::W, L::W * sizeof(float));
        return;
    }
    for (int32_t l = 0; l < lanes; ++l) {
        out1[j + l] = f[l];
        out2[j + l] = f[L::W + l];
    }
}

// z, the power of each lane's ratio and its comb's sine for lanes [j, j + W), into `in`; returns,
// as bits j.., the lanes whose power dominates or, with "hq", whose gamma is beyond the sine.
template <class L, bool Hq>
[[gnu::always_inline]] inline uint64_t ratioLanes(typename L::D A, typename L::D C,
                                                  typename L::D phiQ, typename L::D K,
                                                  RatioLanes<L> &in, int32_t j) {
    using D = typename L::D;
    using I = typename L::I;
    D sC, cC;
    sinCosPathPair<L, Hq>(C, phiQ, sC, cC, in.sq, in.cq);
    in.A = A;
    in.zr = A * cC;
    in.zi = A * sC;
    I kept;
    if (Hq) {
        I inRange;
        hqPowerLanes<L>(A, C, K, in.wr, in.wi, in.R, inRange);
        kept = inRange & withinLanes<L>(in.R, DOMINANT_POWER_LIMIT);
    } else {
        fastPowerLanes<L>(in.zr, in.zi, K, in.wr, in.wi, in.R);
        kept = withinLanes<L>(in.R, DOMINANT_POWER_LIMIT);
    }
    return laneBits<L>(~kept, j);
}

// A held run's folded weights in lanes (HeldFold), copied out of the run so that the outputs'
// stores cannot make the compiler load them again.
template <class L> struct FoldLanes {
    typename L::D pr[4], pi[4], zr, zi, zr2, zi2, flip;
    explicit FoldLanes(const HeldRun &run) {
        using D = typename L::D;
        for (int32_t k = 0; k < 4; ++k) {
            pr[k] = splat<D>(run.fold->pr[k]);
            pi[k] = splat<D>(run.fold->pi[k]);
        }
        zr = splat<D>(run.zr);
        zi = splat<D>(run.zi);
        zr2 = splat<D>(run.fold->zr2);
        zi2 = splat<D>(run.fold->zi2);
        flip = splat<D>(run.fold->flip);
    }
};

// The one-sided X from the four sines its weights multiply.
template <class L>
[[gnu::always_inline]] inline void
foldedWeights(const FoldLanes<L> &f, typename L::D s0, typename L::D s1, typename L::D s2,
              typename L::D s3, typename L::D &Xr, typename L::D &Xi) {
    Xr = mulAdd<L>(f.pr[3], s3, mulAdd<L>(f.pr[2], s2, mulAdd<L>(f.pr[1], s1, f.pr[0] * s0)));
    Xi = mulAdd<L>(f.pi[3], s3, mulAdd<L>(f.pi[2], s2, mulAdd<L>(f.pi[1], s1, f.pi[0] * s0)));
}

// The held run's closed form from its folded weights, before the level where it fades and the
// comb's turn where it rotates: X.
template <class L, bool OneSided>
[[gnu::always_inline]] inline void
foldedSum(typename L::D sc, typename L::D cc, typename L::D sm, typename L::D cm, typename L::D sK,
          typename L::D cK, const FoldLanes<L> &f, typename L::D &Xr, typename L::D &Xi) {
    using D = typename L::D;
    const D cK1 = mulAdd<L>(-sm, sK, cK * cm);
    if (OneSided) {
        const D sd = mulAdd<L>(-cc, sm, sc * cm);
        const D sK1 = mulAdd<L>(cK, sm, cm * sK);
        const D sThetaK = mulAdd<L>(cK, sc, sK * cc);
        const D sThetaK1 = mulAdd<L>(cK1, sc, cc * sK1);
        foldedWeights<L>(f, sc, sd, sThetaK1, sThetaK, Xr, Xi);
    } else {
        (void)cc;
        Xr = sc * mulAdd<L>(f.pr[2], cK, mulAdd<L>(f.pr[1], cK1, f.pr[0]));
        Xi = sc * mulAdd<L>(f.pi[2], cK, mulAdd<L>(f.pi[1], cK1, f.pi[0]));
    }
}

} // namespace

#endif
