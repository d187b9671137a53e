// Note names and the pitch conversions of the "fc" pin.
#include "tools/render/model/pitch.h"

#include <cmath>

namespace tarn::render {

namespace {
// Semitones above C of the letters A to G.
constexpr int LETTER_SEMITONES[7] = {9, 11, 0, 2, 4, 5, 7};
constexpr double LN2 = 0.69314718055994530942;
} // namespace

std::optional<int> midiFromNoteName(const std::string &name) {
    size_t i = 0;
    if (name.empty())
        return std::nullopt;
    char letter = name[i++];
    if (letter >= 'a' && letter <= 'g')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'G')
        return std::nullopt;
    int semitone = LETTER_SEMITONES[letter - 'A'];
    if (i < name.size() && (name[i] == '#' || name[i] == 'b')) {
        semitone += name[i] == '#' ? 1 : -1;
        ++i;
    }
    std::string octaveText = name.substr(i);
    int octave = 0;
    if (octaveText == "-1")
        octave = -1;
    else if (octaveText.size() == 1 && octaveText[0] >= '0' && octaveText[0] <= '9')
        octave = octaveText[0] - '0';
    else
        return std::nullopt;
    // "Cb-1" would lie below MIDI 0 and "G#9" above 127: outside the MIDI range.
    int midi = (octave + 1) * 12 + semitone;
    if (midi < 0 || midi > 127)
        return std::nullopt;
    return midi;
}

double hzFromMidi(double midi) {
    return 440.0 * std::exp2((midi - 69.0) / 12.0);
}

double voltsFromHz(double hz) {
    return std::log2(hz / 440.0) + 5.0;
}

double hzFromVolts(double volts) {
    return 440.0 * std::exp2(volts - 5.0);
}

float fcFromVolts(double volts) {
    return static_cast<float>(volts / 10.0);
}

float hzPlayedForFc(float fc) {
    return static_cast<float>(440.0 * std::exp((10.0 * static_cast<double>(fc) - 5.0) * LN2));
}

} // namespace tarn::render
