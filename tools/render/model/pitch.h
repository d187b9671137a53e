// Pitch in the forms a patch designer writes it, and the "fc" pin value that plays it.
// The module plays f = 440 * 2^(10 fc - 5) Hz: 5 V (fc 0.5) is A4, one volt is one octave.
#pragma once

#include <optional>
#include <string>

namespace tarn::render {

// MIDI note number of a note name: a letter A-G (either case), an optional '#' or 'b', and an
// octave from -1 to 9, scientific pitch ("A4" = 69, "C4" = 60, "C-1" = 0). Empty when the
// text is not a note name.
std::optional<int> midiFromNoteName(const std::string &name);

// Equal temperament, A4 = MIDI 69 = 440 Hz; fractional note numbers are allowed.
double hzFromMidi(double midi);

// Volts of the pitch input that give a pitch, and back: volts = log2(hz / 440) + 5.
double voltsFromHz(double hz);
double hzFromVolts(double volts);

// The "fc" pin value for a pitch in volts: a pin value of 1.0 stands for 10 V.
float fcFromVolts(double volts);

// What the module plays for an "fc" pin value, evaluated as the module does:
// 440 * exp((10 fc - 5) ln 2) in double, rounded to single precision.
float hzPlayedForFc(float fc);

} // namespace tarn::render
