// A held sub-block: its first sample's steps, then its phases and level formed from their
// starts and steps in the lane pass, and the state at its end formed the same way.
#include "kernels/cpu_features.h"
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/lanes/unit_target.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

TARN_SSE2_DOUBLES_BEGIN

#include "oscillator/render/per_sample.h"
#include "oscillator/render/sub_blocks.h"
#include "oscillator/signal/complex_power.h"
#include "oscillator/signal/partial_sum.h"

namespace {

// The plan key of a held sub-block (HeldRatio::plan): what its first sample's steps read, as
// bits. The first sample's pins, the pitch cache and the count on entry, the partial limit, the
// Nyquist frequency and the settings the steps decide by.
void heldPlanKey(const SubBlockContext &c, int32_t begin, uint64_t (&key)[HELD_PLAN_WORDS]) {
    const BlockIo &io = c.io;
    const auto bits = [](float x) {
        uint32_t b;
        std::memcpy(&b, &x, sizeof b);
        return static_cast<uint64_t>(b);
    };
    key[0] = bits(io.fc[begin]) | bits(io.fm1[begin]) << 32;
    key[1] = bits(io.gate[begin]) | bits(io.detune[begin]) << 32;
    key[2] = bits(io.a[begin]) | bits(io.combfreq[begin]) << 32;
    key[3] = bits(io.combphase[begin]) | bits(c.st.pitchFc) << 32;
    key[4] = bits(c.st.pitch) | static_cast<uint64_t>(static_cast<uint32_t>(c.st.K)) << 32;
    key[5] = static_cast<uint64_t>(static_cast<uint32_t>(c.lc.Nmax)) |
             static_cast<uint64_t>(c.lc.foldSpacing) << 32 |
             static_cast<uint64_t>(c.lc.combRotates) << 33;
    key[6] = bitsOf(c.lc.nyquist);
}

// Each sample's ratio, comb step and comb phase of a sub-block whose pitch holds, as the steps
// form them, padded to a multiple of 8: the ratio and comb step in the lanes, and the comb phase
// there too with "cyclic" off, its running sum here with it on. False where one is beyond the
// "hq" lanes' range.
template <bool Hq>
bool ratiosOf(const LoopConstants &lc, const BlockIo &io, int32_t begin, int32_t end,
              double firstComb, const LanePasses &passes, double *A, double *C, double *Q,
              double &lastComb) {
    const int32_t n = end - begin;
    passes.ratioInputs(io.a + begin, io.combfreq + begin, io.combphase + begin, n, A, C,
                       lc.combRotates ? nullptr : Q);
    Q[0] = firstComb;
    for (int32_t j = 1; lc.combRotates && j < n; ++j) {
        Q[j] = combPhaseRotating(Q[j - 1], io.combphase[begin + j], lc.twoOverSr);
    }
    lastComb = Q[n - 1];
    for (int32_t j = n; j % 8 != 0; ++j) {
        A[j] = A[n - 1];
        C[j] = C[n - 1];
        Q[j] = Q[n - 1];
    }
    if (Hq) {
        const double L = HQ_LANES_PHASE_LIMIT;
        for (int32_t j = 0; j < n; ++j) {
            if (!(std::fabs(C[j]) <= L && std::fabs(Q[j]) <= L)) {
                return false;
            }
        }
    }
    return true;
}

// Sample 0's sines of a rotated run, as the lanes form them for start + 0 step.
void startSines(HeldRun &run, double carrier, double spacing, SinCosLanes sinCos) {
    alignas(64) double angle[8] = {carrier * PI_D, spacing * PI_D, (run.K * spacing) * PI_D,
                                   run.comb * PI_D};
    alignas(64) double sines[8], cosines[8];
    sinCos(angle, sines, cosines, 4); // the widest unit's one group of 8 takes these 4 too
    for (int32_t p = 0; p < 4; ++p) {
        run.start[2 * p] = sines[p];
        run.start[2 * p + 1] = cosines[p];
    }
}

// Whether the last held sub-block's run serves this one: its plan is this one's (checked by the
// caller), and so are its length, its held level (a held run's level is the one it started
// from) and the settings the run reads.
bool steadyRunHolds(const HeldRatio &r, const LoopConstants &lc, int32_t n, double level) {
    const HeldRun &run = r.steady;
    return r.steadyValid && run.count == n && lc.decayStep == 0.0 &&
           bitsOf(level) == bitsOf(run.level) && bitsOf(lc.sign1) == bitsOf(run.sign1) &&
           bitsOf(lc.sign2) == bitsOf(run.sign2) && bitsOf(lc.twoOverSr) == r.steadyTwoOverSr &&
           lc.oneSided == r.steadyOneSided && lc.hq == r.steadyHq;
}

void keepSteadyRun(HeldRatio &r, const LoopConstants &lc, const HeldRun &run) {
    r.steady = run;
    r.steadyValid = true;
    r.steadyTwoOverSr = bitsOf(lc.twoOverSr);
    r.steadyOneSided = lc.oneSided;
    r.steadyHq = lc.hq;
}

// A held sub-block that repeats the last one's run (steadyRunHolds): the planned steps' state,
// the run with this sub-block's phases (and their sines where it rotates), and the phases after.
template <bool Hq> void renderSteadyRun(const SubBlockContext &c, int32_t begin, int32_t end) {
    LoopState &st = c.st;
    const LoopConstants &lc = c.lc;
    HeldRatio &ratio = c.ratio;
    const int32_t n = end - begin;
    st.pitch = ratio.plannedPitch;
    st.pitchFc = ratio.plannedPitchFc;
    st.K = ratio.plannedK;
    if (lc.combRotates) {
        st.comb = combPhaseRotating(st.comb, c.io.combphase[begin], lc.twoOverSr);
    }
    HeldRun &run = ratio.steady;
    run.carrier = st.carrier;
    run.spacing = st.spacing;
    run.comb = st.comb;
    run.fold = &ratio.fold;
    if (run.rotations != nullptr) {
        run.rotations = c.rotations.tables;
        startSines(run, st.carrier, st.spacing, c.passes.sinCos);
    }
    c.passes.held[Hq ? 1 : 0][lc.oneSided ? 1 : 0](run, c.io.first + begin, c.io.second + begin);
    // The planned steps, unwrapped, as the running sums take them.
    st.carrier =
        phaseAfterSteps(st.carrier, ratio.planned.f1 * lc.twoOverSr, n, ratio.carrierStride);
    st.spacing =
        phaseAfterSteps(st.spacing, ratio.planned.delta * lc.twoOverSr, n, ratio.spacingStride);
    if (lc.combRotates) {
        st.comb = wrapComplete(run.comb + (static_cast<double>(n) - 1.0) * run.combStep);
    }
}

// A sub-block whose pitch, spacing and gate hold (every input, or all but "a" and the comb). Its
// first sample's steps give every sample's branches, pitch, spacing and count, or the silence of
// all; where every input holds, its ratio, comb and power too. Its phases and level move by their
// steps, formed in the lanes from the state at the start; the state at the end is formed the
// same way.
template <bool Hq>
void renderHeldOnPath(const SubBlockContext &c, int32_t begin, int32_t end, bool ratioMoves) {
    LoopState &st = c.st;
    const LoopConstants &lc = c.lc;
    const BlockIo &io = c.io;
    const LanePasses &passes = c.passes;
    HeldRatio &ratio = c.ratio;
    constexpr SinePath PATH = Hq ? SinePath::Hq : SinePath::FastSse;
    const int32_t n = end - begin;
    const LoopState before = st;
    SoundingSample s;
    uint64_t key[HELD_PLAN_WORDS];
    if (!ratioMoves) {
        heldPlanKey(c, begin, key);
    }
    const bool planned =
        !ratioMoves && ratio.planValid && std::memcmp(key, ratio.plan, sizeof key) == 0;
    if (planned && steadyRunHolds(ratio, lc, n, st.level)) {
        renderSteadyRun<Hq>(c, begin, end);
        return;
    }
    ratio.steadyValid = false;
    if (planned) { // the steps of the last held sub-block
        st.level = levelAfterStep(st.level, lc.decayStep);
        st.pitch = ratio.plannedPitch;
        st.pitchFc = ratio.plannedPitchFc;
        st.K = ratio.plannedK;
        s = ratio.planned;
        if (lc.combRotates) {
            s.phiQ = combPhaseRotating(st.comb, io.combphase[begin], lc.twoOverSr);
        }
        st.comb = s.phiQ;
        s.phiC = st.carrier;
        s.phiM = st.spacing;
    } else if (!stepToSynthesis(st, lc, io, begin, s)) {
        std::memset(io.first + begin, 0, static_cast<size_t>(n) * sizeof(float));
        std::memset(io.second + begin, 0, static_cast<size_t>(n) * sizeof(float));
        st.level = levelAfterSteps(before.level, lc.decayStep, n);
        return;
    } else if (!ratioMoves) {
        std::memcpy(ratio.plan, key, sizeof key);
        ratio.planValid = true;
        ratio.planned = s;
        if (!lc.combRotates) {
            ratio.planned.phiQ = st.comb;
        }
        ratio.plannedPitch = st.pitch;
        ratio.plannedPitchFc = st.pitchFc;
        ratio.plannedK = st.K;
    }
    const double L = HQ_LANES_PHASE_LIMIT;
    alignas(64) double ratios[LANE_BLOCK], combSteps[LANE_BLOCK], combPhases[LANE_BLOCK];
    double lastComb = s.phiQ;
    bool inLanes = !Hq || static_cast<double>(s.K) <= L;
    if (ratioMoves) {
        inLanes = inLanes && ratiosOf<Hq>(lc, io, begin, end, s.phiQ, passes, ratios, combSteps,
                                          combPhases, lastComb);
    } else {
        formRatio(ratio, Hq, s.A, s.C, s.K);
        inLanes = inLanes && std::fabs(ratio.R) <= DOMINANT_POWER_LIMIT &&
                  (!Hq || (std::fabs(s.C) <= L && std::fabs(s.phiQ) <= L));
    }
    if (!inLanes) {
        st = before;
        renderPerSample<PATH>(st, lc, io, begin, end);
        return;
    }
    // The lanes form sample i's phases as start + i step (or, rotated, their sines), within a
    // few ulps of the running sums. After the run the comb phase is formed the same way, drifting
    // from its running sum by about 1e-17 half-turns per sample. The carrier and spacing phases
    // are the running sums themselves, bit for bit: the start + n step form drifted by 1.3e-10
    // half-turns over 10^7 samples, and the K-th partial turns K times as fast.
    const double spacingStep = s.delta * lc.twoOverSr;
    HeldRun run;
    run.carrier = before.carrier;
    run.carrierStep = wrapComplete(s.f1 * lc.twoOverSr);
    run.spacing = before.spacing;
    run.spacingStep = wrapComplete(spacingStep);
    run.comb = s.phiQ;
    run.combStep =
        !lc.combRotates || ratioMoves ? 0.0 : combTurnPerSample(io.combphase[begin], lc.twoOverSr);
    alignas(64) double levels[LANE_BLOCK];
    st.level = runLevels(run, before.level, lc.decayStep, n, levels);
    const bool fading = run.levels != nullptr;
    run.sign1 = lc.sign1;
    run.sign2 = lc.sign2;
    run.A = s.A;
    run.K = static_cast<double>(s.K);
    static_cast<HeldPower &>(run) = ratio;
    run.ratios = ratioMoves ? ratios : nullptr;
    run.combSteps = ratioMoves ? combSteps : nullptr;
    run.combPhases = ratioMoves ? combPhases : nullptr;
    run.count = n;
    run.rotations = nullptr;
    run.carriers = run.spacings = nullptr;
    const double carrierStep = s.f1 * lc.twoOverSr;
    bool rotate = Hq;
    for (int32_t j = 0; rotate && ratioMoves && j < n; ++j) {
        rotate = rotationHolds(ratios[j], 0.0);
    }
    rotate = rotate && (ratioMoves || rotationHolds(s.A, ratio.zi));
    if (rotate &&
        rotationsFor(c.rotations, carrierStep, spacingStep, run.combStep, s.K, passes.sinCos)) {
        run.rotations = c.rotations.tables;
        startSines(run, before.carrier, before.spacing, passes.sinCos);
    }
    if (!ratioMoves) {
        run.fold = &foldRatio(ratio, run, lc.oneSided);
    }
    float *const first = io.first + begin, *const second = io.second + begin;
    uint64_t again = passes.held[Hq ? 1 : 0][lc.oneSided ? 1 : 0](run, first, second);
    if (planned && !fading && again == 0) { // a plan that held twice: a note, likely to hold on
        keepSteadyRun(ratio, lc, run);
    }
    // Samples whose power dominates, or whose angle the "hq" sine cannot take, per sample. Only
    // a moving ratio's pass reports any (a held ratio's folded pass takes every sample, its
    // power and angles checked above), so the ratio arrays read here are set.
    for (; again != 0; again &= again - 1) {
        const int32_t j = __builtin_ctzll(again);
        const SoundingSample t = {wrapComplete(run.carrier + j * run.carrierStep),
                                  wrapComplete(run.spacing + j * run.spacingStep),
                                  combPhases[j],
                                  combSteps[j],
                                  ratios[j],
                                  s.K,
                                  0.0,
                                  0.0};
        const double level = fading ? levels[j] : run.level;
        perSampleSum<PATH>(t, lc.oneSided, level * lc.sign1, level * lc.sign2, first[j], second[j]);
    }

    const double steps = static_cast<double>(n);
    st.carrier = phaseAfterSteps(before.carrier, carrierStep, n, ratio.carrierStride);
    st.spacing = phaseAfterSteps(before.spacing, spacingStep, n, ratio.spacingStride);
    if (ratioMoves) {
        st.comb = lastComb;
    } else if (lc.combRotates) {
        st.comb = wrapComplete(run.comb + (steps - 1.0) * run.combStep);
    }
}

} // namespace

void renderHeldSubBlock(const SubBlockContext &c, int32_t begin, int32_t end, bool ratioMoves) {
    if (c.lc.hq) {
        renderHeldOnPath<true>(c, begin, end, ratioMoves);
    } else {
        renderHeldOnPath<false>(c, begin, end, ratioMoves);
    }
}

TARN_SSE2_DOUBLES_END
