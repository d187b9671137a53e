// The LV2 instance: its own voice table and alternation, a fixed set of voices, the MIDI actions
// of note_events applied to them, and the block loop, which renders up to each event's frame so
// that every event is sample-accurate.
// Everything is allocated in create(); run() never allocates, locks or calls the system.
#pragma once

#include "lv2/Voice.h"
#include "lv2/controls.h"
#include "midi/note_events.h"
#include "oscillator/module/VoicePool.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <cstdint>

namespace tarn::lv2 {

// Voices of one instance: the whole voice table.
constexpr int32_t VOICE_COUNT = VOICE_SLOTS;

class Instrument {
public:
    // A new instance at `sampleRate` Hz; null without urid:map among `features`, for a rate that
    // is not finite and positive, or when memory runs out. Instantiation thread.
    static Instrument *create(double sampleRate, const LV2_Feature *const *features);
    Instrument(const Instrument &) = delete;
    Instrument &operator=(const Instrument &) = delete;

    // Port `port` (0..PORT_COUNT-1) reads or writes `data` from now on; other ports are ignored.
    void connect(uint32_t port, void *data);
    // Silences every voice and forgets the keys, pedals, bends and the control ramps.
    void activate();
    // Renders `frames` samples into both outputs, taking the MIDI events at their frames and
    // the controls ramped (or stepped) across the call. Audio thread; real-time safe.
    void run(uint32_t frames);

private:
    Instrument(float sampleRate, LV2_URID midiEvent);
    bool createVoices();

    void readControls(uint32_t frames);
    void applyLists();
    void fillRamps(uint32_t from, int32_t count, uint32_t frames);
    void applyLevel(uint32_t from, int32_t count, uint32_t frames);
    void renderSegment(int32_t index, int32_t count, uint32_t runFrame);
    void midiMessage(const uint8_t *message, uint32_t size, int32_t index);
    void applyActions(int32_t index);
    void noteOn(uint8_t channel, uint8_t key, float gain, int32_t index);
    Voice &voiceFor(uint8_t channel, uint8_t key);
    float fcOf(uint8_t channel, uint8_t key) const;
    int64_t samplesOf(float ms) const;

    float m_sample_rate;
    LV2_URID m_midi_event;
    VoicePool m_pool;
    VoiceClock m_clock;
    uint64_t m_block_frame = 0; // samples since activation at the block's start
    Voice m_voices[VOICE_COUNT];

    const LV2_Atom_Sequence *m_midi = nullptr;
    float *m_left = nullptr;
    float *m_right = nullptr;
    const float *m_ports[CONTROL_COUNT] = {};

    float m_control[CONTROL_COUNT] = {}; // this run's clamped values
    float m_ramp_from[PIN_COUNT] = {};   // pin values of the ramped inputs at the last run's end
    float m_ramp_to[PIN_COUNT] = {};     // and at this run's end
    float m_level_from = 1.0f;           // output gain (linear) at the last run's end
    float m_level_to = 1.0f;             // and at this run's end
    bool m_ramps_start = true;           // the first run after activation jumps to its values
    int16_t m_lists[PIN_COUNT] = {};     // list values the voices have
    float *m_shared[PIN_COUNT] = {};     // the ramped inputs' buffers, by pin; null for others
    float m_shared_buffers[6][BLOCK_FRAMES] = {};

    tarn::midi::NoteEvents m_events;   // keys, pedals and wheels, per channel
    tarn::midi::NoteActions m_actions; // what the last message asked for
    uint64_t m_notes = 0;              // notes started since activation
};

} // namespace tarn::lv2
