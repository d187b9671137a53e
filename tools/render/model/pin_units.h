// The designer's units of the control inputs and the pin values that give them. The module
// scales every control pin by 10 (one unit = 10 V), so every conversion here is linear and a
// linear ramp in designer units is a linear ramp of the pin.
#pragma once

namespace tarn::render {

// Partial spacing as a ratio of the pitch: the module spaces partials by |f0| * 10 * fm1,
// so a ratio of 1 is the harmonic series.
inline float fm1PinFromRatio(double ratio) {
    return static_cast<float>(ratio / 10.0);
}

// Partial spacing offset in Hz: the module adds 10 * detune Hz to the spacing.
inline float detunePinFromHz(double hz) {
    return static_cast<float>(hz / 10.0);
}

// Partial count limit: the module takes nearest(10 * N) at each block start.
inline float nPinFromCount(double count) {
    return static_cast<float>(count / 10.0);
}

// Amplitude ratio between neighbouring partials: A = 10 * a.
inline float aPinFromRatio(double ratio) {
    return static_cast<float>(ratio / 10.0);
}

// Comb step in half-turns per partial: C = 10 * combfreq.
inline float combfreqPinFromHalfTurns(double halfTurns) {
    return static_cast<float>(halfTurns / 10.0);
}

// Comb phase. With "cyclic" off the module takes 10 * combphase as the phase in half-turns;
// with it on the phase rotates at 40 * combphase Hz.
inline float combphasePinFromHalfTurns(double halfTurns) {
    return static_cast<float>(halfTurns / 10.0);
}
inline float combphasePinFromHz(double hz) {
    return static_cast<float>(hz / 40.0);
}

} // namespace tarn::render
