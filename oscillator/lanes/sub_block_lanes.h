// The sub-block passes over the lanes of a lane type L: a held run's phases and sines, then its
// ratio, closed form and outputs; a moving sub-block's gathered samples. passesOf collects them.
// Templates with internal linkage, compiled for one unit alone (lanes/unit_target.h).
#ifndef TARN_OSCILLATOR_LANES_SUB_BLOCK_LANES_H
#define TARN_OSCILLATOR_LANES_SUB_BLOCK_LANES_H

#include <cstdint>
#include <cstring>

#include "kernels/sin_cos_lanes.h"
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/signal/partial_shape_lanes.h"
#include "oscillator/signal/partial_sum_lanes.h"
#include "oscillator/signal/pitch_lanes.h"

namespace {

// Phases back into [-1, 1]: the nearest multiple of 2 taken off, exactly.
template <class L> inline typename L::D wrapLanes(typename L::D x) {
    return x - 2.0 * L::roundHalfEven(x * 0.5);
}

// The sample indices j, j + 1, ... in W lanes.
template <class L> inline typename L::D laneIndices(int32_t j) {
    typename L::D v;
    for (int32_t l = 0; l < L::W; ++l) {
        v[l] = static_cast<double>(j + l);
    }
    return v;
}

// (s0, c0) = (sin a, cos a) turned by the lanes [j, j + W) of a table: sin, cos of a + pi j step.
template <class L>
[[gnu::always_inline]] inline void rotateLanes(double s0, double c0, const RotationTable &r,
                                               int32_t j, double *sinOut, double *cosOut) {
    using D = typename L::D;
    const D ts = loadLanes<L>(r.s + j), tc = loadLanes<L>(r.c + j);
    storeLanes<L>(sinOut + j, s0 * tc + c0 * ts);
    storeLanes<L>(cosOut + j, c0 * tc - s0 * ts);
}

// A held run whose ratio and comb move ("a" and the comb at audio rate) in stages over its lanes,
// each a short loop whose iterations overlap: the phases and their sines (with ByTables, sample
// 0's turned by the run's tables); then each lane's ratio, comb and power, the closed form, gains
// and outputs. Fading: each sample has its level.
template <class L, bool Hq, bool OneSided, bool Fading, bool ByTables>
inline uint64_t heldRunLanes(const HeldRun &run, float *first, float *second) {
    using D = typename L::D;
    SineLanes<L> t;
    const D K = splat<D>(run.K);
    const D first0 = laneIndices<L>(0);
    for (int32_t j = 0; j < run.count; j += L::W) {
        const D i = first0 + static_cast<double>(j);
        if (ByTables) {
            rotateLanes<L>(run.start[0], run.start[1], run.rotations[0], j, t.sc, t.cc);
            rotateLanes<L>(run.start[2], run.start[3], run.rotations[1], j, t.sm, t.cm);
            rotateLanes<L>(run.start[4], run.start[5], run.rotations[2], j, t.sK, t.cK);
        } else {
            const D phiC = wrapLanes<L>(run.carrier + i * run.carrierStep);
            const D phiM = wrapLanes<L>(run.spacing + i * run.spacingStep);
            sinesOf<L, Hq>(phiC, phiM, K, t, j);
        }
    }
    RatioLanes<L> in;
    uint64_t reported = 0;
    for (int32_t j = 0; j < run.count; j += L::W) {
        reported |= ratioLanes<L, Hq>(loadLanes<L>(run.ratios + j), loadLanes<L>(run.combSteps + j),
                                      loadLanes<L>(run.combPhases + j), K, in, j);
        const D level = Fading ? loadLanes<L>(run.levels + j) : splat<D>(run.level);
        D f, s;
        closedForm<L, OneSided>(t, j, in, f, s);
        const int32_t lanes = run.count - j < L::W ? run.count - j : L::W;
        storeOutputs<L>(f * (level * run.sign1), s * (level * run.sign2), first, second, j, lanes);
    }
    return reported & lanesUpTo(run.count);
}

// sin(a + pi j step) or cos(a + pi j step) for lanes [j, j + W) from sin a, cos a and a table.
template <class L>
[[gnu::always_inline]] inline typename L::D turnedSin(double s0, double c0, const RotationTable &r,
                                                      int32_t j) {
    using D = typename L::D;
    return mulAdd<L>(splat<D>(s0), loadLanes<L>(r.c + j), c0 * loadLanes<L>(r.s + j));
}

template <class L>
[[gnu::always_inline]] inline typename L::D turnedCos(double s0, double c0, const RotationTable &r,
                                                      int32_t j) {
    using D = typename L::D;
    return mulAdd<L>(splat<D>(-s0), loadLanes<L>(r.s + j), c0 * loadLanes<L>(r.c + j));
}

// The angle sums of a rotated run's sample 0, from its start sines: sin and cos of theta - beta,
// theta + K beta, theta + (K+1) beta and (K+1) beta, as partialSum forms them, each sample's
// then turned by its own table (HeldRotations), so that no sample forms them again.
struct TurnedStart {
    double sc, cc, sm, cm, sd, cd, sThetaK, cThetaK, sThetaK1, cThetaK1, sK1, cK1, sK, cK, sq, cq;
};

inline TurnedStart turnedStart(const double (&start)[8]) {
    TurnedStart t;
    t.sc = start[0];
    t.cc = start[1];
    t.sm = start[2];
    t.cm = start[3];
    t.sK = start[4];
    t.cK = start[5];
    t.sq = start[6];
    t.cq = start[7];
    t.sd = t.sc * t.cm - t.cc * t.sm;
    t.cd = t.cc * t.cm + t.sc * t.sm;
    t.cK1 = t.cK * t.cm - t.sm * t.sK;
    t.sK1 = t.cK * t.sm + t.cm * t.sK;
    t.sThetaK = t.cK * t.sc + t.sK * t.cc;
    t.cThetaK = t.cK * t.cc - t.sK * t.sc;
    t.sThetaK1 = t.cK1 * t.sc + t.cc * t.sK1;
    t.cThetaK1 = t.cK1 * t.cc - t.sK1 * t.sc;
    return t;
}

// A held run whose ratio and comb hold (the comb phase may turn, CombRotates): one pass over the
// lanes, each sample's sines (its angle sums turned by the run's tables where ByTables, else its
// phases' sines, the phases given where PhasesGiven), the folded closed form, gains and outputs.
template <class L, bool Hq, bool OneSided, bool CombRotates, bool Fading, bool ByTables,
          bool PhasesGiven>
inline uint64_t heldFoldedLanes(const HeldRun &run, float *first, float *second) {
    using D = typename L::D;
    const FoldLanes<L> f(run);
    const D K = splat<D>(run.K);
    const D carrier = splat<D>(run.carrier), carrierStep = splat<D>(run.carrierStep);
    const D spacing = splat<D>(run.spacing), spacingStep = splat<D>(run.spacingStep);
    const D comb = splat<D>(run.comb), combStep = splat<D>(run.combStep);
    const TurnedStart t0 = ByTables ? turnedStart(run.start) : TurnedStart{};
    const RotationTable *const tables = run.rotations;
    const double *const levels = run.levels;
    const int32_t count = run.count;
    const D first0 = laneIndices<L>(0);
    const auto group = [&](int32_t j, int32_t lanes) __attribute__((always_inline)) {
        const D i = first0 + static_cast<double>(j);
        D Xr, Xi, cm;
        if (ByTables && OneSided) {
            const D sc = turnedSin<L>(t0.sc, t0.cc, tables[ROTATION_CARRIER], j);
            const D sd = turnedSin<L>(t0.sd, t0.cd, tables[ROTATION_DIFFERENCE], j);
            const D sThetaK1 = turnedSin<L>(t0.sThetaK1, t0.cThetaK1, tables[ROTATION_TOP], j);
            const D sThetaK =
                turnedSin<L>(t0.sThetaK, t0.cThetaK, tables[ROTATION_TOP_LESS_ONE], j);
            cm = turnedCos<L>(t0.sm, t0.cm, tables[ROTATION_SPACING], j);
            foldedWeights<L>(f, sc, sd, sThetaK1, sThetaK, Xr, Xi);
        } else if (ByTables) {
            const D sc = turnedSin<L>(t0.sc, t0.cc, tables[ROTATION_CARRIER], j);
            const D cK1 = turnedCos<L>(t0.sK1, t0.cK1, tables[ROTATION_K1_SPACING], j);
            const D cK = turnedCos<L>(t0.sK, t0.cK, tables[ROTATION_K_SPACING], j);
            cm = turnedCos<L>(t0.sm, t0.cm, tables[ROTATION_SPACING], j);
            Xr = sc * mulAdd<L>(f.pr[2], cK, mulAdd<L>(f.pr[1], cK1, f.pr[0]));
            Xi = sc * mulAdd<L>(f.pi[2], cK, mulAdd<L>(f.pi[1], cK1, f.pi[0]));
        } else {
            D sc, cc, sm, sK, cK;
            const D phiC = PhasesGiven ? loadLanes<L>(run.carriers + j)
                                       : wrapLanes<L>(carrier + i * carrierStep);
            const D phiM = PhasesGiven ? loadLanes<L>(run.spacings + j)
                                       : wrapLanes<L>(spacing + i * spacingStep);
            if (Hq) {
                sinCosPathPair<L, Hq>(phiC, phiM, sc, cc, sm, cm);
                sinCosPathOfMultiple<L, Hq>(K, phiM, sK, cK);
            } else {
                sinCosPiInCycleLanes2<L>(phiC, phiM, sc, cc, sm, cm);
                sinCosPiOfMultipleInRangeLanes<L>(K, phiM, sK, cK);
            }
            foldedSum<L, OneSided>(sc, cc, sm, cm, sK, cK, f, Xr, Xi);
        }
        if (CombRotates) {
            D sq, cq;
            if (ByTables) {
                sq = turnedSin<L>(t0.sq, t0.cq, tables[ROTATION_COMB], j);
                cq = turnedCos<L>(t0.sq, t0.cq, tables[ROTATION_COMB], j);
            } else {
                sinCosPath<L, Hq>(wrapLanes<L>(comb + i * combStep), sq, cq);
            }
            const D Qr = cq * Xr - sq * Xi;
            Xi = sq * Xr + cq * Xi;
            Xr = Qr;
        }
        // D as partialSum forms it, -Di here: its one rounding near the pole is the reference's.
        const D Dr = f.zr2 - 2.0 * cm * f.zr - f.zi2 + 1.0;
        const D nDi = 2.0 * (cm - f.zr) * f.zi;
        D m = 1.0 / mulAdd<L>(Dr, Dr, nDi * nDi);
        if (Fading) {
            m = m * loadLanes<L>(levels + j);
        }
        const D out1 = mulAdd<L>(-Xi, nDi, Xr * Dr) * m;
        const D out2 = mulAdd<L>(Xr, nDi, Xi * Dr) * (m * f.flip);
        storeOutputs<L>(out1, out2, first, second, j, lanes);
    };
    int32_t j = 0;
    for (; j + L::W <= count; j += L::W) {
        group(j, L::W);
    }
    if (j < count) {
        group(j, count - j);
    }
    return 0;
}

template <class L, bool Hq, bool OneSided, bool ByTables, bool PhasesGiven = false>
uint64_t heldFoldedPassOf(const HeldRun &run, float *first, float *second) {
    const bool fading = run.levels != nullptr;
    if (run.combStep != 0.0) {
        return fading ? heldFoldedLanes<L, Hq, OneSided, true, true, ByTables, PhasesGiven>(
                            run, first, second)
                      : heldFoldedLanes<L, Hq, OneSided, true, false, ByTables, PhasesGiven>(
                            run, first, second);
    }
    return fading ? heldFoldedLanes<L, Hq, OneSided, false, true, ByTables, PhasesGiven>(run, first,
                                                                                         second)
                  : heldFoldedLanes<L, Hq, OneSided, false, false, ByTables, PhasesGiven>(
                        run, first, second);
}

template <class L, bool Hq, bool OneSided, bool ByTables>
uint64_t heldRunPassOf(const HeldRun &run, float *first, float *second) {
    const bool fading = run.levels != nullptr;
    if (run.ratios != nullptr) {
        return fading ? heldRunLanes<L, Hq, OneSided, true, ByTables>(run, first, second)
                      : heldRunLanes<L, Hq, OneSided, false, ByTables>(run, first, second);
    }
    return heldFoldedPassOf<L, Hq, OneSided, ByTables>(run, first, second);
}

// Runs turned by tables exist on the "hq" path only: the fast path's sines are its float kernel's.
// A run whose pitch moves has its ratio folded and its phases given.
template <class L, bool Hq, bool OneSided>
uint64_t heldRunPass(const HeldRun &run, float *first, float *second) {
    if (run.carriers != nullptr) {
        return heldFoldedPassOf<L, Hq, OneSided, false, true>(run, first, second);
    }
    if (Hq && run.rotations != nullptr) {
        return heldRunPassOf<L, Hq, OneSided, Hq>(run, first, second);
    }
    return heldRunPassOf<L, Hq, OneSided, false>(run, first, second);
}

// The gathered samples in two stages: their sines; then W lanes at a time each lane's ratio,
// comb and power, the closed form and the outputs.
template <class L, bool Hq, bool OneSided>
uint64_t movingPass(const LaneBlock &b, float *first, float *second) {
    using D = typename L::D;
    SineLanes<L> t;
    for (int32_t j = 0; j < b.count; j += L::W) {
        sinesOf<L, Hq>(loadLanes<L>(b.phiC + j), loadLanes<L>(b.phiM + j), loadLanes<L>(b.K + j), t,
                       j);
    }
    uint64_t reported = 0;
    for (int32_t j = 0; j < b.count; j += L::W) {
        RatioLanes<L> in;
        reported |= ratioLanes<L, Hq>(loadLanes<L>(b.A + j), loadLanes<L>(b.C + j),
                                      loadLanes<L>(b.phiQ + j), loadLanes<L>(b.K + j), in, j);
        D f, s;
        closedForm<L, OneSided>(t, j, in, f, s);
        storeOutputs<L>(f * loadLanes<L>(b.gain1 + j), s * loadLanes<L>(b.gain2 + j), first, second,
                        j, L::W);
    }
    return reported;
}

template <class L>
void sinCosBatch(const double *angle, double *sinOut, double *cosOut, int32_t n) {
    for (int32_t j = 0; j < n; j += L::W) {
        typename L::D s, c;
        sinCosRadianLanes<L>(loadLanes<L>(angle + j), s, c);
        std::memcpy(sinOut + j, &s, sizeof s);
        std::memcpy(cosOut + j, &c, sizeof c);
    }
}

// The passes of a lane type.
template <class L> constexpr LanePasses passesOf() {
    return {{{&heldRunPass<L, false, false>, &heldRunPass<L, false, true>},
             {&heldRunPass<L, true, false>, &heldRunPass<L, true, true>}},
            {{&movingPass<L, false, false>, &movingPass<L, false, true>},
             {&movingPass<L, true, false>, &movingPass<L, true, true>}},
            &ratioInputsLanes<L>,
            &pitchRunLanes<L>,
            &sinCosBatch<L>,
            &movingPinsLanes<L>};
}

} // namespace

#endif
