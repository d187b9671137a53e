// The notes of a Standard MIDI File (format 0 or 1, every track, tempo map, running status),
// read with libsmf and played by midi/note_events.h as the LV2 instrument plays them: velocity,
// retrigger of a sounding key, the sustain pedal, the pitch wheel, CC120, CC121 and CC123.
// Times are in seconds through the file's tempo map; a note still sounding at the end of the
// file ends there.
#pragma once

#include "midi/note_events.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarn::render {

struct MidiNote {
    double startSeconds = 0.0;
    double lengthSeconds = 0.0; // >= 0: on and off may share a tick
    int key = 60;               // MIDI note number, 0 to 127
    float gain = 0.5f;          // velocity / 127, above 0
    int channel = 1;            // 1 to 16
    int track = 1;              // from 1, in file order
    int number = 1;             // the note's number in its track, from 1
    bool silenced = false;      // ended by "all sound off" (CC120): silent at once, no release
};

// A step of a channel's pitch wheel: from `seconds` on its notes sound `semitones` away from
// their keys.
struct BendStep {
    double seconds;
    double semitones;
};

struct MidiScore {
    std::string fileName;
    std::vector<MidiNote> notes;                                    // by start time
    std::array<std::vector<BendStep>, midi::CHANNEL_COUNT> bends{}; // channel c at c - 1
    std::vector<std::string> dropped; // "dropped 12 program change events (not played)"
};

// A set of MIDI channels, bit c - 1 for channel c; ALL_CHANNELS selects every one.
constexpr uint32_t ALL_CHANNELS = midi::ALL_CHANNELS;

// The notes and bends on the selected channels, with the wheel's ends at `bendRange`
// semitones, and one line for each kind of message dropped on them. Throws PatchError naming
// the file, the byte offset or track, and what was expected, for a file that cannot be read,
// is not a Standard MIDI File of format 0 or 1, is malformed anywhere, or has no note on the
// channels.
MidiScore readMidiScore(const std::string &path, uint32_t channels, double bendRange);
// The same for a file's bytes, `path` naming it in messages.
MidiScore midiScoreOf(const std::string &bytes, const std::string &path, uint32_t channels,
                      double bendRange);

// "channel 1", "channels 1, 2 and 10" for messages.
std::string describeChannels(uint32_t channels);

} // namespace tarn::render
