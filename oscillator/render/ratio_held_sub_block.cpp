// A sub-block whose pitch moves while "a", the comb and the gate hold (a vibrato, an FM): each
// sample's pitch, steps and count in the lanes, its phases the per-sample loop's running sums,
// then the held ratio's folded closed form in the lane pass.
#include "kernels/cpu_features.h"
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/lanes/unit_target.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

TARN_SSE2_DOUBLES_BEGIN

#include "oscillator/render/sub_blocks.h"
#include "oscillator/signal/complex_power.h"

namespace {

// Whether a step needs more than one step of the wrap: one of at most 2 leaves the phase + step
// within 3, where one step of it gives wrapComplete's result. A carrier's step is at most 1 (it
// sounds at or below Nyquist); a spacing's can be any, beyond the sample rate with a count of 0.
bool isLargeStep(double step) {
    return !(std::fabs(step) <= 2.0);
}

// The steps of samples 1.. of the sub-block from the lanes, those the lanes leave per sample as
// the per-sample loop takes them. False where one of them does not sound with the count K and
// the carrier f0 (the count would change, the carrier move, or the sample fall silent).
bool pitchSteps(const SubBlockContext &c, int32_t begin, int32_t n, int32_t K, PitchRunOut &out) {
    const LoopConstants &lc = c.lc;
    const BlockIo &io = c.io;
    uint64_t unsure = c.passes.pitchRun({io.fc + begin, io.fm1 + begin, io.detune + begin, n, K,
                                         lc.Nmax, lc.nyquist, lc.twoOverSr, lc.foldSpacing},
                                        out) &
                      ~uint64_t{1};
    for (; unsure != 0; unsure &= unsure - 1) {
        const int32_t j = __builtin_ctzll(unsure);
        const int32_t i = begin + j;
        const float f0 = pitchFromFc(io.fc[i]);
        if (!std::isfinite(io.fc[i]) || !std::isfinite(f0)) {
            return false;
        }
        double delta = spacingHz(f0, io.fm1[i], io.detune[i]);
        if (lc.foldSpacing) {
            delta = foldMode2Spacing(delta);
        }
        int32_t count = K;
        double f1 = 0.0;
        if (!countPartials(f0, delta, lc.Nmax, count, lc.nyquist, f1) || count != K ||
            !(f1 == static_cast<double>(f0))) {
            return false;
        }
        out.pitch[j] = static_cast<double>(f0);
        out.carrierStep[j] = f1 * lc.twoOverSr;
        out.spacingStep[j] = delta * lc.twoOverSr;
        out.largeSteps =
            out.largeSteps || isLargeStep(out.carrierStep[j]) || isLargeStep(out.spacingStep[j]);
    }
    return true;
}

// Each sample's phases, the running sums of advancePhases, and the phases after the last.
template <bool LargeSteps>
void runningPhasesOf(const PitchRunOut &steps, int32_t n, double &carrier, double &spacing,
                     double *carriers, double *spacings) {
    double c = carrier, m = spacing;
    for (int32_t j = 0; j < n; ++j) {
        carriers[j] = c;
        spacings[j] = m;
        c = LargeSteps ? wrapComplete(c + steps.carrierStep[j])
                       : wrapOnce(c + steps.carrierStep[j]);
        m = LargeSteps ? wrapComplete(m + steps.spacingStep[j])
                       : wrapOnce(m + steps.spacingStep[j]);
    }
    for (int32_t j = n; j % 8 != 0; ++j) {
        carriers[j] = carriers[n - 1];
        spacings[j] = spacings[n - 1];
    }
    carrier = c;
    spacing = m;
}

// The sub-block in the lanes where they can take it; false, with the state as it was, where not:
// a gate, comb phase or sample that does not sound, a count that changes, a power or (with "hq")
// an angle beyond the lanes, or the pitch cache as open() leaves it.
template <bool Hq> bool renderOnPath(const SubBlockContext &c, int32_t begin, int32_t end) {
    LoopState &st = c.st;
    const LoopConstants &lc = c.lc;
    const BlockIo &io = c.io;
    const int32_t n = end - begin;
    const LoopState before = st;
    SoundingSample s;
    if (before.pitchFc == PITCH_CACHE_AT_OPEN || !stepToSynthesis(st, lc, io, begin, s) ||
        (Hq && !(static_cast<double>(s.K) <= HQ_LANES_PHASE_LIMIT))) {
        st = before;
        return false;
    }
    PitchRunOut steps;
    HeldRatio &ratio = c.ratio;
    formRatio(ratio, Hq, s.A, s.C, s.K);
    const double L = HQ_LANES_PHASE_LIMIT;
    if (!pitchSteps(c, begin, n, s.K, steps) || !(std::fabs(ratio.R) <= DOMINANT_POWER_LIMIT) ||
        (Hq && !(std::fabs(s.C) <= L && std::fabs(s.phiQ) <= L))) {
        st = before;
        return false;
    }
    steps.pitch[0] = static_cast<double>(st.pitch);
    steps.carrierStep[0] = s.f1 * lc.twoOverSr;
    steps.spacingStep[0] = s.delta * lc.twoOverSr;
    steps.largeSteps =
        steps.largeSteps || isLargeStep(steps.carrierStep[0]) || isLargeStep(steps.spacingStep[0]);

    HeldRun run;
    static_cast<HeldPower &>(run) = ratio;
    alignas(64) double carriers[LANE_BLOCK], spacings[LANE_BLOCK], levels[LANE_BLOCK];
    if (steps.largeSteps) {
        runningPhasesOf<true>(steps, n, st.carrier, st.spacing, carriers, spacings);
    } else {
        runningPhasesOf<false>(steps, n, st.carrier, st.spacing, carriers, spacings);
    }
    run.carriers = carriers;
    run.spacings = spacings;
    run.carrier = run.carrierStep = run.spacing = run.spacingStep = 0.0;
    st.level = runLevels(run, before.level, lc.decayStep, n, levels);
    run.comb = s.phiQ;
    run.combStep = lc.combRotates ? combTurnPerSample(io.combphase[begin], lc.twoOverSr) : 0.0;
    run.sign1 = lc.sign1;
    run.sign2 = lc.sign2;
    run.A = s.A;
    run.K = static_cast<double>(s.K);
    run.ratios = run.combSteps = run.combPhases = nullptr;
    run.rotations = nullptr;
    run.count = n;
    run.fold = &foldRatio(ratio, run, lc.oneSided);
    c.passes.held[Hq ? 1 : 0][lc.oneSided ? 1 : 0](run, io.first + begin, io.second + begin);

    st.pitch = static_cast<float>(steps.pitch[n - 1]);
    st.pitchFc = io.fc[end - 1];
    if (lc.combRotates) {
        st.comb = wrapComplete(run.comb + static_cast<double>(n - 1) * run.combStep);
    }
    return true;
}

} // namespace

void renderRatioHeldSubBlock(const SubBlockContext &c, int32_t begin, int32_t end) {
    const bool rendered =
        c.lc.hq ? renderOnPath<true>(c, begin, end) : renderOnPath<false>(c, begin, end);
    if (!rendered) {
        renderMovingSubBlock(c, begin, end);
    }
}

TARN_SSE2_DOUBLES_END
