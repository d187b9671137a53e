// Stages 1 and 2 of one sample, inputs to pitch, spacing, ratio, comb and partial count, and the
// phase advance after its sum; the loop's state and constants. Static functions, one copy per
// file in its arithmetic (lanes/unit_target.h).
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "oscillator/render/block_io.h"
#include "oscillator/signal/partial_count.h"
#include "oscillator/signal/partial_shape.h"
#include "oscillator/signal/phase_wrap.h"
#include "oscillator/signal/pitch.h"

// The state the loop carries from sample to sample, in locals for the block.
struct LoopState {
    double level, carrier, spacing, comb; // level 0..1, phases in half-turns
    float pitch, pitchFc;                 // cached pitch (Hz) and the "fc" it came from
    int32_t K;                            // cached partial count, -1 at every block start
};

// Values fixed for one block: the rate's, the pins' and the settings', each decoded once where
// the block starts.
struct LoopConstants {
    double twoOverSr, nyquist, decayStep; // phase step per Hz, Hz, level step per sample
    int32_t Nmax;                         // partial limit
    double sign1, sign2;                  // the factors of the two signals, +1 or -1
    bool oneSided;                        // "Mode" 1: the one-sided sum, else the two-sided one
    bool foldSpacing;                     // "Mode" exactly 2: a negative spacing turned positive
    bool combRotates; // "cyclic" on: the comb phase rotates; off, it follows "combphase"
    bool hq;          // "hq": precise sines, else the fast kernels
};

// What the sum of a sounding sample takes, and what its phase advance needs.
struct SoundingSample {
    double phiC, phiM, phiQ, C, A; // carrier, spacing and comb phases, comb step, ratio
    int32_t K;                     // partial count, >= 0
    double f1, delta;              // carrier frequency and spacing, Hz
};

// The sample written to a host buffer: a normal float, or 0.0. NaN, infinities (a gain that
// ran away, a product that overflowed) and subnormals (which slow every filter downstream)
// never leave the module. The range test comes first, so the narrowing is always defined.
static inline float audibleSample(double x) {
    const double m = std::fabs(x);
    return (m >= static_cast<double>(FLT_MIN) && m <= static_cast<double>(FLT_MAX))
               ? static_cast<float>(x)
               : 0.0f;
}

// fmax(level - decayStep, 0.0) without the library call: NaN and every value up to +0.0 give
// +0.0, as fmax does here (the level is never -0.0, so the one choice fmax leaves open, between
// -0.0 and +0.0, never arises).
static inline double levelAfterStep(double level, double decayStep) {
    const double l = level - decayStep;
    return l > 0.0 ? l : 0.0;
}

// The level after n steps of levelAfterStep; each step's level into `levels` where given. The
// steps are the per-sample loop's own, so a fading voice falls silent at the same sample.
static inline double levelAfterSteps(double level, double decayStep, int32_t n,
                                     double *levels = nullptr) {
    if (decayStep == 0.0 && level > 0.0) {
        return level;
    }
    for (int32_t i = 0; i < n; ++i) {
        level = levelAfterStep(level, decayStep);
        if (levels != nullptr) {
            levels[i] = level;
        }
    }
    return level;
}

// Sample i up to the sum. Returns false for a sample that writes 0.0 to both outputs: gate 0
// (all three phases restart), or nothing to sound (a non-finite input, no partial in the
// band: carrier and spacing restart, the comb phase stays). Otherwise fills `out`. Always
// inlined, so that the loop keeps the state in registers.
[[gnu::always_inline]] static inline bool stepToSynthesis(LoopState &st, const LoopConstants &lc,
                                                          const BlockIo &io, int32_t i,
                                                          SoundingSample &out) {
    st.level = levelAfterStep(st.level, lc.decayStep);
    if (io.gate[i] == 0.0f) {
        st.carrier = st.spacing = st.comb = 0.0;
        return false;
    }
    // A gate of NaN or infinity is no level at all: silent, like any non-finite input.
    if (!std::isfinite(io.gate[i])) {
        st.carrier = st.spacing = 0.0;
        return false;
    }
    if (io.fc[i] != st.pitchFc) {
        const float f = pitchFromFc(io.fc[i]);
        // A non-finite "fc", or one beyond about 12.4 (no finite pitch): silent, cache kept.
        if (!std::isfinite(io.fc[i]) || !std::isfinite(f)) {
            st.carrier = st.spacing = 0.0;
            return false;
        }
        st.pitch = f;
        st.pitchFc = io.fc[i];
    }
    double delta = spacingHz(st.pitch, io.fm1[i], io.detune[i]);
    if (lc.foldSpacing) {
        delta = foldMode2Spacing(delta);
    }
    double f1 = 0.0;
    if (!countPartials(st.pitch, delta, lc.Nmax, st.K, lc.nyquist, f1)) {
        st.carrier = st.spacing = 0.0;
        return false;
    }
    const double A = amplitudeRatio(io.a[i]);
    const double C = combStep(io.combfreq[i]);
    // A non-finite "combphase" has no phase to follow or rotate by: silent, comb kept.
    if (!std::isfinite(io.combphase[i])) {
        st.carrier = st.spacing = 0.0;
        return false;
    }
    st.comb = lc.combRotates ? combPhaseRotating(st.comb, io.combphase[i], lc.twoOverSr)
                             : combPhaseFollowing(io.combphase[i]);
    out = {st.carrier, st.spacing, st.comb, C, A, st.K, f1, delta};
    return true;
}

// After the sum. Wrapped completely: equal to one step wherever one step is enough, and bounded
// for any step. A sounding carrier lies within the band (a step of at most 1), but a spacing
// may be far beyond the sample rate where a kept count of 0 leaves the carrier alone.
static inline void advancePhases(LoopState &st, const SoundingSample &s, double twoOverSr) {
    st.carrier = wrapComplete(st.carrier + s.f1 * twoOverSr);
    st.spacing = wrapComplete(st.spacing + s.delta * twoOverSr);
}
