// The shape of the partial series from the pin samples: the amplitude ratio A of neighbouring
// partials and the comb step and phase, all per sample, in double. Comb values are half-turns.
// Static functions, one copy per file in its arithmetic (lanes/unit_target.h).
#pragma once

#include <cmath>

#include "oscillator/signal/phase_wrap.h"

// The partial sum divides by A^(K+1) - 1; ratios this close to 1 are moved off it.
constexpr double RATIO_GUARD = 0.0001;
constexpr double RATIO_NEAR_ONE = 1.0001;
// A rotating comb turns at 40 Hz per unit of "combphase" (4 Hz per volt).
constexpr double COMB_ROTATION_HZ = 40.0;

// A = 10 a, except that |A - 1| below 0.0001 gives 1.0001. Any float; NaN stays NaN.
static inline double amplitudeRatio(float a) {
    const double A = 10.0 * static_cast<double>(a);
    return std::fabs(A - 1.0) < RATIO_GUARD ? RATIO_NEAR_ONE : A;
}

// Comb step C = 10 combfreq, wrapped by one step: within [-1, 1] for |10 combfreq| up to 3.
static inline double combStep(float combfreq) {
    return wrapOnce(10.0 * static_cast<double>(combfreq));
}

// Comb phase with "cyclic" off: 10 combphase, wrapped by one step.
static inline double combPhaseFollowing(float combphase) {
    return wrapOnce(10.0 * static_cast<double>(combphase));
}

// Comb phase with "cyclic" on: advanced from `phase` by combphase * 40 Hz (twoOverSr is the
// phase step per Hz, 2 / sample rate), then wrapped. The phase is state carried from sample to
// sample, so it is wrapped completely: where one step is enough (an advance of at most 2) the
// result is the one-step wrap's, and a huge "combphase" (2.2e8 and up) cannot leave it outside
// [-1, 1] for the rest of the note.
static inline double combPhaseRotating(double phase, float combphase, double twoOverSr) {
    return wrapComplete(phase + twoOverSr * static_cast<double>(combphase) * COMB_ROTATION_HZ);
}

// The turn combPhaseRotating adds per sample while "combphase" holds, wrapped: a held run's comb
// step.
static inline double combTurnPerSample(float combphase, double twoOverSr) {
    return wrapComplete(twoOverSr * static_cast<double>(combphase) * COMB_ROTATION_HZ);
}
