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

// The held run in stages over its lanes, each a short loop whose iterations overlap: the phases
// and their sines (with Rotated, sample 0's turned by the run's tables); then the ratio (formed
// once where it holds), the closed form, gains and outputs. Rotating: a held comb phase moves
// ("cyclic" on), its sine taken per lane. Fading: each sample has its level. Moving: each sample
// has its ratio and comb.
template <class L, bool Hq, bool OneSided, bool Rotating, bool Fading, bool Moving, bool Rotated>
inline uint64_t heldRunLanes(const HeldRun &run, float *first, float *second) {
    using D = typename L::D;
    SineLanes<L> t;
    const D K = splat<D>(run.K);
    const D first0 = laneIndices<L>(0);
    for (int32_t j = 0; j < run.count; j += L::W) {
        const D i = first0 + static_cast<double>(j);
        if (Rotated) {
            rotateLanes<L>(run.start[0], run.start[1], run.rotations[0], j, t.sc, t.cc);
            rotateLanes<L>(run.start[2], run.start[3], run.rotations[1], j, t.sm, t.cm);
            rotateLanes<L>(run.start[4], run.start[5], run.rotations[2], j, t.sK, t.cK);
        } else {
            const D phiC = wrapLanes<L>(run.carrier + i * run.carrierStep);
            const D phiM = wrapLanes<L>(run.spacing + i * run.spacingStep);
            sinesOf<L, Hq>(phiC, phiM, K, t, j);
        }
        if (Rotating && !Moving && Rotated) {
            rotateLanes<L>(run.start[6], run.start[7], run.rotations[3], j, t.sq, t.cq);
        } else if (Rotating && !Moving) {
            D sq, cq;
            sinCosPath<L, Hq>(wrapLanes<L>(run.comb + i * run.combStep), sq, cq);
            storeLanes<L>(t.sq + j, sq);
            storeLanes<L>(t.cq + j, cq);
        }
    }
    RatioLanes<L> in;
    if (!Moving) {
        in.zr = splat<D>(run.zr);
        in.zi = splat<D>(run.zi);
        in.wr = splat<D>(run.wr);
        in.wi = splat<D>(run.wi);
        in.R = splat<D>(run.R);
        in.A = splat<D>(run.A);
        if (!Rotating) {
            sinCosPath<L, Hq>(splat<D>(run.comb), in.sq, in.cq);
        }
    }
    uint64_t reported = 0;
    for (int32_t j = 0; j < run.count; j += L::W) {
        if (Moving) {
            reported |=
                ratioLanes<L, Hq>(loadLanes<L>(run.ratios + j), loadLanes<L>(run.combSteps + j),
                                  loadLanes<L>(run.combPhases + j), K, in, j);
        } else if (Rotating) {
            in.sq = loadLanes<L>(t.sq + j);
            in.cq = loadLanes<L>(t.cq + j);
        }
        const D level = Fading ? loadLanes<L>(run.levels + j) : splat<D>(run.level);
        D f, s;
        closedForm<L, OneSided>(t, j, in, f, s);
        const int32_t lanes = run.count - j < L::W ? run.count - j : L::W;
        storeOutputs<L>(f * (level * run.sign1), s * (level * run.sign2), first, second, j, lanes);
    }
    return reported & lanesUpTo(run.count);
}

template <class L, bool Hq, bool OneSided, bool Rotated>
uint64_t heldRunPassOf(const HeldRun &run, float *first, float *second) {
    const bool fading = run.levels != nullptr;
    if (run.ratios != nullptr) {
        return fading
                   ? heldRunLanes<L, Hq, OneSided, false, true, true, Rotated>(run, first, second)
                   : heldRunLanes<L, Hq, OneSided, false, false, true, Rotated>(run, first, second);
    }
    if (run.combStep != 0.0) {
        return fading
                   ? heldRunLanes<L, Hq, OneSided, true, true, false, Rotated>(run, first, second)
                   : heldRunLanes<L, Hq, OneSided, true, false, false, Rotated>(run, first, second);
    }
    return fading ? heldRunLanes<L, Hq, OneSided, false, true, false, Rotated>(run, first, second)
                  : heldRunLanes<L, Hq, OneSided, false, false, false, Rotated>(run, first, second);
}

// Rotated runs exist on the "hq" path only: the fast path's sines are its float kernel's.
template <class L, bool Hq, bool OneSided>
uint64_t heldRunPass(const HeldRun &run, float *first, float *second) {
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
            &sinCosBatch<L>};
}

} // namespace

#endif
