// One voice of the instrument: an oscillator Module seated in the instance's own voice table,
// the block buffers of the pins it owns (pitch, gate, sync, the two outputs), the host's side of
// the module's requests, and the envelope and velocity applied after it. The module is reached
// only through its record, as a host reaches it; nothing here allocates after create().
#pragma once

#include "envelope/note_gain.h"
#include "oscillator/module/pin_table.h"
#include "se_sdk2/SEModuleRecord.h"

#include <cstdint>

struct VoicePool;

namespace tarn::lv2 {

// Samples per module block: run() renders at most this many before starting a new block.
constexpr int32_t BLOCK_FRAMES = 256;

// The sample clock the voices' requests are answered from; one per instrument.
struct VoiceClock {
    uint32_t now = 0;        // clock of the sample being rendered or of the event delivered
    uint32_t blockStart = 0; // clock of buffer element 0
    uint64_t frame = 0;      // samples since activation at `now`; never wraps
};

enum class VoiceState : uint8_t {
    Free,     // no note: the envelope is finished or the module asleep
    Held,     // key down, or up under the sustain pedal
    Released, // envelope releasing
};

class Voice {
public:
    Voice() = default;
    Voice(const Voice &) = delete;
    Voice &operator=(const Voice &) = delete;
    ~Voice() { destroy(); }

    // Makes the module on slot `slot` of `pool`, sets the sample rate and block size, binds the
    // pins (the inputs this voice does not own to `shared[pin]`, BLOCK_FRAMES samples each),
    // writes the list values `lists[pin]` and opens it. False when memory runs out. Called from
    // instantiate only; `pool` and `clock` outlive the voice.
    bool create(VoicePool &pool, int16_t slot, const VoiceClock &clock,
                float *const shared[PIN_COUNT], const int16_t lists[PIN_COUNT], float sampleRate);
    // MOD_CLOSE; the module frees itself.
    void destroy();

    // Writes a list pin's value into its bound member and tells the module at the clock's now.
    void setList(int32_t pin, int16_t value);
    // From buffer element `index` on: the pitch pin `fc`, the gate open, a note started (a
    // status change of "sync" at that sample) and the envelope rising from the present gain to
    // `peak` over `attack` samples.
    void startNote(int32_t index, float fc, float peak, int64_t attack);
    // The pitch pin from element `index` on (a bend), for a voice with a note.
    void setPitch(int32_t index, float fc);
    // The envelope releases from the next rendered sample over `release` samples.
    void release(int64_t release);
    // Silent from element `index` on: gain 0, gate closed, voice free.
    void cut(int32_t index);
    // Refills the owned inputs with their held values; called at every block start.
    void beginBlock();
    // Renders elements index..index+count-1 unless the module sleeps, and adds them times the
    // envelope into left[0..count) and right[0..count). A finished release closes the gate.
    void render(int32_t index, int32_t count, float *left, float *right);

    bool sounding() const { return m_state != VoiceState::Free; }
    float gain() const { return m_gain.last(); }

    VoiceState m_state = VoiceState::Free;
    uint8_t m_key = 0;      // MIDI key of the note
    uint8_t m_channel = 0;  // MIDI channel of the note, 0..15
    uint64_t m_started = 0; // order of its note's start among the instrument's notes
    uint64_t m_freed = 0;   // VoiceClock::frame at which it became free
    bool m_asleep = true;   // the module asked to sleep (or never had a note)

private:
    static intptr_t SE_CALL answer(SEModuleRecord *record, int32_t opcode, int32_t index,
                                   int32_t value, void *ptr, float opt);
    void deliverStatus(int32_t pin);
    void fillFrom(float *buffer, int32_t index, float value);

    SEModuleRecord *m_record = nullptr;
    const VoiceClock *m_clock = nullptr;
    int16_t *m_lists[PIN_COUNT] = {};
    tarn::NoteGain m_gain;
    float m_fc_held = 0.0f, m_gate_held = 0.0f;
    bool m_inputs_moved = false; // an owned input changed inside this block
    float m_fc[BLOCK_FRAMES] = {};
    float m_gate[BLOCK_FRAMES] = {};
    float m_sync[BLOCK_FRAMES] = {};
    float m_out_left[BLOCK_FRAMES] = {};
    float m_out_right[BLOCK_FRAMES] = {};
};

} // namespace tarn::lv2
