// The control table. The defaults play a plain harmonic tone at the note's pitch: spacing 1
// (partials at whole multiples of the pitch), 20 partials falling by 0.8, no comb step and a
// comb phase of 0.25 half-turns, which gives both outputs the same spectrum.
#include "lv2/controls.h"

#include <cmath>

namespace tarn::lv2 {

namespace {

constexpr ScalePoint MODE_POINTS[] = {{"1-Sided", 1}, {"2-Sided", 2}};
constexpr ScalePoint OFF_ON_POINTS[] = {{"off", 0}, {"on", 1}};
constexpr ScalePoint POLY_POINTS[] = {
    {"1", 1}, {"2", 2},   {"3", 3},   {"4", 4},   {"5", 5},   {"6", 6},   {"7", 7},   {"8", 8},
    {"9", 9}, {"10", 10}, {"11", 11}, {"12", 12}, {"13", 13}, {"14", 14}, {"15", 15}, {"16", 16}};
constexpr ScalePoint ALTERNATE_POINTS[] = {{"L+R", 0},     {"L+R alt", 1}, {"M+S", 2},
                                           {"M+S alt", 3}, {"S+M", 4},     {"S+M alt", 5}};
constexpr ScalePoint CHANNEL_POINTS[] = {{"all", 0}};

// 16 voices at velocity 127 on 16 different keys peak at most at the sum of the 16 loudest
// single notes, 7.16 at the defaults (keys 112-127, whose few partials sum highest): -18 dB
// puts that at 0.90 of full scale. A 16-note chord over the middle keys peaks at 2.30, 0.29 here.
constexpr float DEFAULT_LEVEL_DB = -18.0f;

template <uint32_t N> constexpr uint32_t countOf(const ScalePoint (&)[N]) {
    return N;
}

using K = ControlKind;

} // namespace

const ControlRow CONTROLS[CONTROL_COUNT] = {
    {"spacing", "Spacing ratio", K::Continuous, -10, 10, 1, "units:coef", true, nullptr, 0},
    {"detune", "Detune", K::Continuous, -1000, 1000, 0, "units:hz", true, nullptr, 0},
    {"partials", "Partial limit", K::Integer, 0, 1000, 20, "tarn:partials", true, nullptr, 0},
    {"ratio", "Amplitude ratio", K::Continuous, -4, 4, 0.8f, "units:coef", true, nullptr, 0},
    {"comb_step", "Comb step", K::Continuous, -3, 3, 0, "tarn:halfTurns", true, nullptr, 0},
    {"comb_phase", "Comb phase", K::Continuous, -3, 3, 0.25f, "tarn:halfTurns", true, nullptr, 0},
    {"comb_rate", "Comb rate", K::Continuous, -1000, 1000, 0, "units:hz", true, nullptr, 0},
    {"mode", "Mode", K::Enumeration, 1, 2, 1, nullptr, false, MODE_POINTS, countOf(MODE_POINTS)},
    {"cyclic", "Cyclic comb", K::Toggle, 0, 1, 0, nullptr, false, OFF_ON_POINTS,
     countOf(OFF_ON_POINTS)},
    {"hq", "High quality", K::Toggle, 0, 1, 1, nullptr, false, OFF_ON_POINTS,
     countOf(OFF_ON_POINTS)},
    {"poly", "Voices", K::Integer, 1, 16, 16, nullptr, false, POLY_POINTS, countOf(POLY_POINTS)},
    {"alternate", "Alternate outputs", K::Enumeration, 0, 5, 0, nullptr, false, ALTERNATE_POINTS,
     countOf(ALTERNATE_POINTS)},
    {"attack", "Attack", K::Continuous, 0.1f, 10000, 5, "units:ms", false, nullptr, 0, true},
    {"release", "Release", K::Continuous, 0.1f, 10000, 50, "units:ms", false, nullptr, 0, true},
    {"bend_range", "Pitch-bend range", K::Continuous, 0, 24, 2, "units:semitone12TET", false,
     nullptr, 0},
    {"channel", "MIDI channel", K::Integer, 0, 16, 0, nullptr, false, CHANNEL_POINTS,
     countOf(CHANNEL_POINTS)},
    {"level", "Level", K::Continuous, -60, 12, DEFAULT_LEVEL_DB, "units:db", true, nullptr, 0},
};

float controlValue(const ControlRow &row, float portValue) {
    if (std::isnan(portValue)) {
        return row.fallback;
    }
    const float v = std::fmin(std::fmax(portValue, row.minimum), row.maximum);
    return row.kind == ControlKind::Continuous ? v : std::nearbyint(v);
}

} // namespace tarn::lv2
