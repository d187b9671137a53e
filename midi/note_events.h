// MIDI channel messages to note actions, the one reading of MIDI that the LV2 instrument and
// tarn-render --midi share. Fixed arrays only (the state of 16 x 128 keys), so that it runs
// inside an audio callback: nothing here allocates, locks or calls the system.
#pragma once

#include <cstdint>

namespace tarn::midi {

constexpr int CHANNEL_COUNT = 16;
constexpr int KEY_COUNT = 128;
// A set of MIDI channels, bit c for channel c (0..15); every channel.
constexpr uint32_t ALL_CHANNELS = 0xFFFF;
// Pitch-bend range, semitones either way at the wheel's ends.
constexpr double DEFAULT_BEND_RANGE = 2.0;
constexpr double MAX_BEND_RANGE = 24.0;

enum class ActionKind : uint8_t {
    StartNote,      // `key` starts at `gain`; a key already sounding on its channel retriggers
    ReleaseNote,    // the note of `key` starts its release
    SilenceChannel, // every note of `channel` is silent at once, without a release
    SetBend,        // the notes of `channel` sound `bendSemitones` away from their keys
};

struct NoteAction {
    ActionKind kind;
    uint8_t channel;      // 0..15
    uint8_t key;          // 0..127, for StartNote and ReleaseNote
    float gain;           // StartNote: velocity / 127, in (0, 1]
    double bendSemitones; // SetBend: wheel position times the range, -range..range
};

// One message gives at most this many actions: the pedal lifted (or the controllers reset)
// under 128 keys, and the bend centred.
constexpr int MAX_ACTIONS = KEY_COUNT + 1;

struct NoteActions {
    NoteAction items[MAX_ACTIONS];
    int count = 0; // items[0..count) are valid, in the order to apply them
};

// What a message was taken for.
enum class MessageUse : uint8_t {
    Played,          // a note, the pedal, a bend or a channel-mode message this plays
    OtherChannel,    // a channel message on a channel not selected
    Malformed,       // empty, truncated, running status, or a data byte with its top bit set
    ProgramChange,   // the rest are dropped, each kind named by droppedKindName
    ControlChange,   // a controller other than 64, 120, 121 and 123
    PolyPressure,    // polyphonic aftertouch
    ChannelPressure, // channel aftertouch
    SystemExclusive, // 0xF0 (and 0xF7, a file's continuation or escape)
    System,          // system common and real-time messages
};

// "program change", "control change", ...: the kind of a dropped message, for warnings; ""
// for Played, OtherChannel and Malformed.
const char *droppedKindName(MessageUse use);

class NoteEvents {
public:
    // Every key up, every pedal up, every bend centred; the channels and range are kept.
    void reset();
    // The channels whose messages are played from now on; the others are OtherChannel.
    void setChannels(uint32_t channels) { m_channels = channels & ALL_CHANNELS; }
    // Semitones at the wheel's ends, clamped to 0..MAX_BEND_RANGE (NaN: the default). Writes
    // a SetBend into `out` for each channel whose wheel is off centre when the range changes.
    void setBendRange(double semitones, NoteActions &out);
    // Reads the complete message `message[0..size)` (status byte first) and writes the
    // actions it gives into `out`, which it empties first.
    MessageUse handle(const uint8_t *message, uint32_t size, NoteActions &out);

    // Semitones from the key at which the notes of `channel` (0..15) sound now.
    double bendSemitones(int channel) const;

private:
    enum KeyState : uint8_t { KEY_UP, KEY_DOWN, KEY_PEDAL }; // PEDAL: key up, under the pedal

    void noteOn(uint8_t channel, uint8_t key, uint8_t velocity, NoteActions &out);
    void noteOff(uint8_t channel, uint8_t key, NoteActions &out);
    MessageUse controlChange(uint8_t channel, uint8_t controller, uint8_t value, NoteActions &out);
    void releaseKeys(uint8_t channel, bool pedalOnly, NoteActions &out);
    void setWheel(uint8_t channel, float position, NoteActions &out);

    uint8_t m_keys[CHANNEL_COUNT][KEY_COUNT] = {};
    bool m_pedal_down[CHANNEL_COUNT] = {};
    float m_wheel[CHANNEL_COUNT] = {}; // -1..1 of the range
    double m_range = DEFAULT_BEND_RANGE;
    uint32_t m_channels = ALL_CHANNELS;
};

} // namespace tarn::midi
