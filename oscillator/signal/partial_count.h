// Stage 2, the partial count: the largest K <= Nmax whose partials f0 + k delta all stay at or
// below Nyquist, kept from sample to sample while it fits, on the mirrored carrier P and spacing
// S >= 0. Static functions, one copy per file in its arithmetic (lanes/unit_target.h).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "oscillator/signal/rounding.h"

// Spacings at or below this (Hz) put every partial at the pitch.
constexpr double ZERO_SPACING_HZ = 0.0001;

// nearestInt for counts that are only ever lowered to: a value above int32 saturates to
// INT32_MAX instead of giving INT32_MIN, so a huge band (a high sample rate over a tiny
// spacing) keeps K = Nmax rather than silencing the sample.
static inline int32_t nearestCount(double x) {
    if (x >= 2147483647.0) {
        return std::numeric_limits<int32_t>::max();
    }
    return nearestInt(x);
}

// One sample's partial count. f0: pitch (Hz, from a float); delta: spacing (Hz); Nmax: the
// block's partial limit; K: the cached count, -1 at a block start, updated here; nyquist: half
// the sample rate (Hz). Returns true when the sample sounds: then K >= 0 and f1 is the carrier
// frequency to advance by (f0, or f0 moved toward zero by whole spacings when the carrier lies
// beyond Nyquist on the far side). Returns false for a silent sample: K is left negative (or
// at Nmax for a pitch above Nyquist with zero spacing) and f1 is not written. Any input gives
// a defined answer; a non-finite pitch or spacing, or a NaN Nyquist, makes the sample silent.
static inline bool countPartials(double f0, double delta, int32_t Nmax, int32_t &K, double nyquist,
                                 double &f1) {
    const bool mirrored = delta < 0.0;
    const double P = mirrored ? -f0 : f0;
    const double S = mirrored ? -delta : delta;

    // Keep the cached count while its top partial fits and one more would not (or the limit is
    // reached). K + 1 is formed in double, so K = INT32_MAX is safe. The last test keeps the
    // carrier itself in the band: with the partials running back through zero (P < 0) the top
    // partial can fit while a pitch that has risen past Nyquist would alias.
    const double Kd = static_cast<double>(K);
    if (std::fabs(P + Kd * S) <= nyquist &&
        (K >= Nmax || std::fabs(P + (Kd + 1.0) * S) >= nyquist) && K >= 0 && -P <= nyquist) {
        f1 = f0;
        return true;
    }

    // Pins are not limited: an infinite or NaN pitch or spacing sounds nothing rather than a
    // carrier with partials at infinity.
    if (!std::isfinite(P) || !std::isfinite(S)) {
        K = -1;
        return false;
    }
    K = Nmax;
    double carrier = f0;
    int32_t M = 0;
    if (S <= ZERO_SPACING_HZ) {
        if (!(std::fabs(f0) <= nyquist)) {
            return false;
        }
        M = K;
    } else if (P >= 0.0 || -P <= nyquist) {
        M = nearestCount((nyquist - P) / S - 0.5);
    } else {
        // The carrier lies beyond Nyquist with the partials running back toward zero: skip the
        // J partials above the band and sound from the first one inside it.
        const int32_t J = nearestInt((-P - nyquist) / S + 0.5);
        if (J == NEAREST_INT_OUT_OF_RANGE) {
            // More skipped partials than any Nmax allows: nothing is left to sound.
            K = -1;
            return false;
        }
        const double shift = static_cast<double>(J) * S;
        carrier = f0 >= 0.0 ? f0 - shift : f0 + shift;
        const int64_t left = static_cast<int64_t>(Nmax) - J;
        if (left < 0) {
            K = left < std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::min()
                                                           : static_cast<int32_t>(left);
            return false;
        }
        K = static_cast<int32_t>(left);
        M = nearestCount((nyquist - std::fabs(carrier)) / S - 0.5);
    }
    if (M < K) {
        K = M;
    }
    // A carrier beyond Nyquist leaves no room, so M is negative, but a spacing some 2^53 times
    // the overshoot rounds the room to -0.5 and M to 0: a lone carrier outside the band.
    if (K < 0 || !(std::fabs(carrier) <= nyquist)) {
        K = K < 0 ? K : -1;
        return false;
    }
    f1 = carrier;
    return true;
}
