// Pitch and partial spacing in Hz from the pin samples (1.0 on a pin = 10 V, 1 V per octave).
// The pitch is rounded to float once, so a cached pitch equals a recomputed one bit for bit.
// Static functions, one copy per file in its arithmetic (lanes/unit_target.h).
#pragma once

#include <cmath>

constexpr double LN_2 = 0.69314718055994530942;
// Spacings this close to zero keep their sign in Mode 2.
constexpr double MODE2_SPACING_FOLD_BELOW_HZ = -0.000001;
// The pitch cache as open() leaves it: "fc" -20 and a pitch of -20 Hz, the one pair in which the
// pitch is not pitchFromFc of the "fc" (an "fc" of exactly -20 then sounds at -20 Hz).
constexpr float PITCH_CACHE_AT_OPEN = -20.0f;

// 440 * 2^(10 fc - 5) Hz, evaluated as 440 exp((10 fc - 5) ln 2) in double and rounded to
// float: fc 0.5 (5 V) is exactly 440 Hz, each 0.1 one octave. Any float: above about 12.42
// the pitch is +inf, below about -15.3 it is 0 (subnormal below -12.9), NaN gives NaN.
static inline float pitchFromFc(float fc) {
    const double octaves = 10.0 * static_cast<double>(fc) - 5.0;
    return static_cast<float>(440.0 * std::exp(octaves * LN_2));
}

// Spacing of neighbouring partials in Hz: (|f0| fm1 + detune) * 10, in double. fm1 0.1 makes it
// the pitch (a harmonic series); detune adds 10 Hz per unit. Any sign; NaN in, NaN out.
static inline double spacingHz(float f0, float fm1, float detune) {
    return (std::fabs(static_cast<double>(f0)) * static_cast<double>(fm1) +
            static_cast<double>(detune)) *
           10.0;
}

// Mode 2 only (m_mode exactly 2): a spacing below -0.000001 Hz is mirrored to positive; between
// -0.000001 and 0 it keeps its sign. NaN stays NaN.
static inline double foldMode2Spacing(double delta) {
    return delta < MODE2_SPACING_FOLD_BELOW_HZ ? -delta : delta;
}
