// The instrument's control ports: one row each, in port order after the MIDI input and the two
// audio outputs. The plug-in's Turtle description is written from this table at build time, so
// the ranges the host shows and the ones run() clamps to are one fact.
#pragma once

#include <cstdint>

namespace tarn::lv2 {

constexpr uint32_t PORT_MIDI_IN = 0;
constexpr uint32_t PORT_OUTPUTL = 1;
constexpr uint32_t PORT_OUTPUTR = 2;
constexpr uint32_t FIRST_CONTROL_PORT = 3;

// Control indices (port = FIRST_CONTROL_PORT + index).
enum Control : uint32_t {
    CTL_SPACING,    // partial spacing as a ratio of the pitch ("fm1" x 10)
    CTL_DETUNE,     // Hz added to the spacing ("detune" x 10)
    CTL_PARTIALS,   // partial limit ("N" x 10)
    CTL_RATIO,      // amplitude ratio of neighbouring partials ("a" x 10)
    CTL_COMB_STEP,  // half-turns per partial ("combfreq" x 10)
    CTL_COMB_PHASE, // half-turns, with cyclic off ("combphase" x 10)
    CTL_COMB_RATE,  // Hz of comb rotation, with cyclic on ("combphase" x 40)
    CTL_MODE,       // "Mode": 1 one-sided, 2 two-sided
    CTL_CYCLIC,     // "cyclic" off 0 / on 1 (the pin's 1 / 2)
    CTL_HQ,         // "hq" off 0 / on 1
    CTL_POLY,       // "poly": voices sounding at once, 1..16
    CTL_ALTERNATE,  // "alternate": 0..5
    CTL_ATTACK,     // envelope attack, ms
    CTL_RELEASE,    // envelope release, ms
    CTL_BEND_RANGE, // pitch-bend range, semitones either way
    CTL_CHANNEL,    // MIDI channel taken, 1..16, or 0 for all
    CTL_LEVEL,      // output level, dB
    CONTROL_COUNT
};

constexpr uint32_t PORT_COUNT = FIRST_CONTROL_PORT + CONTROL_COUNT;

// How the host should present a control.
enum class ControlKind { Continuous, Integer, Enumeration, Toggle };

struct ScalePoint {
    const char *label;
    float value;
};

struct ControlRow {
    const char *symbol; // LV2 port symbol; never changes
    const char *name;
    ControlKind kind;
    float minimum, maximum, fallback; // range, and the default (also NaN's stand-in)
    const char *unit; // Turtle object of units:unit ("units:hz", or "tarn:partials")
    bool ramped;      // moved linearly across a run() instead of stepping at its start
    const ScalePoint *points;
    uint32_t pointCount;
    bool logarithmic = false; // shown on a log scale; only for a range of positive values
};

extern const ControlRow CONTROLS[CONTROL_COUNT];

// The value of a control port as run() uses it: clamped to the row's range, NaN replaced by the
// default, rounded to the nearest whole number for all but continuous controls.
float controlValue(const ControlRow &row, float portValue);

} // namespace tarn::lv2
