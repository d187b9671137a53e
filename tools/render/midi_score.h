// The notes of a Standard MIDI File (format 0 or 1, every track, tempo map, running status),
// read with libsmf. Times are in seconds through the file's tempo map. A note-on with
// velocity 0 ends a note as a note-off does; a note-on for a key already sounding on its
// channel ends that note there; a note still sounding at the end of the file ends there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarn::render {

struct MidiNote {
    double startSeconds = 0.0;
    double lengthSeconds = 0.0; // >= 0: on and off may share a tick
    int key = 60;               // MIDI note number, 0 to 127
    int velocity = 64;          // 1 to 127
    int channel = 1;            // 1 to 16
    int track = 1;              // from 1, in file order
    int number = 1;             // the note's number in its track, from 1
};

// A set of MIDI channels, bit c - 1 for channel c; ALL_CHANNELS selects every one.
constexpr uint32_t ALL_CHANNELS = 0xFFFF;

// The notes on the selected channels, by start time. Throws PatchError naming the file, the
// byte offset or track, and what was expected, for a file that cannot be read, is not a
// Standard MIDI File of format 0 or 1, is malformed anywhere, or has no note on the channels.
std::vector<MidiNote> readMidiNotes(const std::string &path, uint32_t channels);

// "channel 1", "channels 1, 2 and 10" for messages.
std::string describeChannels(uint32_t channels);

} // namespace tarn::render
