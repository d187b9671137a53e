// The instrument's block loop and MIDI handling. A run is cut into module blocks of at most
// BLOCK_FRAMES samples, and each block into segments at the frames of its events.
#include "lv2/Instrument.h"

#include "tools/render/model/pin_units.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace tarn::lv2 {

namespace {

// The inputs that every voice reads from the instrument's ramps, by pin.
constexpr int32_t RAMPED_PINS[6] = {PIN_FM1, PIN_N, PIN_A, PIN_DETUNE, PIN_COMBFREQ, PIN_COMBPHASE};

// True when the event's header and body lie before `end` (compared as addresses, so that no
// pointer is formed beyond the sequence).
bool fitsBefore(const LV2_Atom_Event *ev, const LV2_Atom_Event *end) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(ev);
    const uintptr_t limit = reinterpret_cast<uintptr_t>(end);
    return at <= limit && limit - at >= sizeof(LV2_Atom_Event) &&
           limit - at - sizeof(LV2_Atom_Event) >= ev->body.size;
}

int16_t listValue(float v) {
    return static_cast<int16_t>(v); // controlValue rounded it, within -32768..32767
}

} // namespace

Instrument *Instrument::create(double sampleRate, const LV2_Feature *const *features) {
    const LV2_URID_Map *map = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0) {
            map = static_cast<const LV2_URID_Map *>(features[i]->data);
        }
    }
    if (map == nullptr || !std::isfinite(sampleRate) || !(sampleRate > 0.0) || sampleRate > 1.0e7) {
        return nullptr;
    }
    const LV2_URID midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
    Instrument *instrument =
        new (std::nothrow) Instrument(static_cast<float>(sampleRate), midiEvent);
    if (instrument != nullptr && !instrument->createVoices()) {
        delete instrument;
        return nullptr;
    }
    return instrument;
}

Instrument::Instrument(float sampleRate, LV2_URID midiEvent)
    : m_sample_rate(sampleRate), m_midi_event(midiEvent), m_pool(sampleRate) {
    for (uint32_t i = 0; i < CONTROL_COUNT; ++i) {
        m_control[i] = CONTROLS[i].fallback;
    }
    for (int32_t p = 0; p < 6; ++p) {
        m_shared[RAMPED_PINS[p]] = m_shared_buffers[p];
    }
}

bool Instrument::createVoices() {
    readControls(0);
    m_lists[PIN_MODE] = listValue(m_control[CTL_MODE]);
    m_lists[PIN_CYCLIC] = static_cast<int16_t>(1 + listValue(m_control[CTL_CYCLIC]));
    m_lists[PIN_HQ] = listValue(m_control[CTL_HQ]);
    m_lists[PIN_POLY] = listValue(m_control[CTL_POLY]);
    m_lists[PIN_ALTERNATE] = listValue(m_control[CTL_ALTERNATE]);
    for (int16_t slot = 0; slot < VOICE_COUNT; ++slot) {
        if (!m_voices[slot].create(m_pool, slot, m_clock, m_shared, m_lists, m_sample_rate)) {
            return false;
        }
    }
    return true;
}

void Instrument::connect(uint32_t port, void *data) {
    if (port == PORT_MIDI_IN) {
        m_midi = static_cast<const LV2_Atom_Sequence *>(data);
    } else if (port == PORT_OUTPUTL) {
        m_left = static_cast<float *>(data);
    } else if (port == PORT_OUTPUTR) {
        m_right = static_cast<float *>(data);
    } else if (port >= FIRST_CONTROL_PORT && port < PORT_COUNT) {
        m_ports[port - FIRST_CONTROL_PORT] = static_cast<const float *>(data);
    }
}

void Instrument::activate() {
    m_clock.now = m_clock.blockStart;
    for (Voice &voice : m_voices) {
        voice.cut(0);
    }
    m_events.reset();
    m_ramps_start = true;
}

void Instrument::readControls(uint32_t frames) {
    for (uint32_t i = 0; i < CONTROL_COUNT; ++i) {
        m_control[i] =
            m_ports[i] != nullptr ? controlValue(CONTROLS[i], *m_ports[i]) : CONTROLS[i].fallback;
    }
    using namespace tarn::render;
    m_ramp_to[PIN_FM1] = fm1PinFromRatio(m_control[CTL_SPACING]);
    m_ramp_to[PIN_DETUNE] = detunePinFromHz(m_control[CTL_DETUNE]);
    m_ramp_to[PIN_N] = nPinFromCount(m_control[CTL_PARTIALS]);
    m_ramp_to[PIN_A] = aPinFromRatio(m_control[CTL_RATIO]);
    m_ramp_to[PIN_COMBFREQ] = combfreqPinFromHalfTurns(m_control[CTL_COMB_STEP]);
    m_ramp_to[PIN_COMBPHASE] = m_control[CTL_CYCLIC] != 0.0f
                                   ? combphasePinFromHz(m_control[CTL_COMB_RATE])
                                   : combphasePinFromHalfTurns(m_control[CTL_COMB_PHASE]);
    m_level_to = std::pow(10.0f, m_control[CTL_LEVEL] / 20.0f);
    if (m_ramps_start || frames == 0) {
        std::copy(m_ramp_to, m_ramp_to + PIN_COUNT, m_ramp_from);
        m_level_from = m_level_to;
        m_ramps_start = false;
    }
    // The control is an integer from 0 (every channel) to 16 (controlValue rounds and clamps).
    const int32_t channel = static_cast<int32_t>(m_control[CTL_CHANNEL]);
    m_events.setChannels(channel >= 1 ? 1u << (channel - 1) : tarn::midi::ALL_CHANNELS);
    m_events.setBendRange(m_control[CTL_BEND_RANGE], m_actions);
    if (m_actions.count > 0) {
        m_clock.now = m_clock.blockStart;
        applyActions(0);
    }
}

void Instrument::applyLists() {
    const int16_t wanted[][2] = {
        {PIN_MODE, listValue(m_control[CTL_MODE])},
        {PIN_CYCLIC, static_cast<int16_t>(1 + listValue(m_control[CTL_CYCLIC]))},
        {PIN_HQ, listValue(m_control[CTL_HQ])},
        {PIN_POLY, listValue(m_control[CTL_POLY])},
        {PIN_ALTERNATE, listValue(m_control[CTL_ALTERNATE])},
    };
    for (const auto &pinValue : wanted) {
        if (m_lists[pinValue[0]] != pinValue[1]) {
            m_lists[pinValue[0]] = pinValue[1];
            for (Voice &voice : m_voices) {
                voice.setList(pinValue[0], pinValue[1]);
            }
        }
    }
}

void Instrument::fillRamps(uint32_t from, int32_t count, uint32_t frames) {
    for (int32_t p = 0; p < 6; ++p) {
        const int32_t pin = RAMPED_PINS[p];
        const float a = m_ramp_from[pin], b = m_ramp_to[pin];
        float *buffer = m_shared_buffers[p];
        if (a == b) {
            std::fill(buffer, buffer + count, b);
            continue;
        }
        // Linear from the last run's value to this one's, reached at the run's last frame.
        const float step = (b - a) / static_cast<float>(frames);
        for (int32_t i = 0; i < count; ++i) {
            buffer[i] = a + step * static_cast<float>(from + static_cast<uint32_t>(i) + 1);
        }
    }
}

void Instrument::applyLevel(uint32_t from, int32_t count, uint32_t frames) {
    const float a = m_level_from, b = m_level_to;
    float *left = m_left + from;
    float *right = m_right + from;
    if (a == b) {
        for (int32_t i = 0; i < count; ++i) {
            left[i] *= b;
            right[i] *= b;
        }
        return;
    }
    // The ramps' shape: linear from the last run's gain, reached at the run's last frame, so a
    // level moved from -60 to +12 dB in one 256-sample run rises by at most 0.016 per sample.
    const float step = (b - a) / static_cast<float>(frames);
    for (int32_t i = 0; i < count; ++i) {
        const float g = a + step * static_cast<float>(from + static_cast<uint32_t>(i) + 1);
        left[i] *= g;
        right[i] *= g;
    }
}

void Instrument::run(uint32_t frames) {
    readControls(frames);
    if (m_left == nullptr || m_right == nullptr || frames == 0) {
        return;
    }
    const LV2_Atom_Event *ev = nullptr;
    const LV2_Atom_Event *end = nullptr;
    if (m_midi != nullptr && m_midi->atom.size >= sizeof(LV2_Atom_Sequence_Body)) {
        ev = lv2_atom_sequence_begin(&m_midi->body);
        end = reinterpret_cast<const LV2_Atom_Event *>(
            reinterpret_cast<const uint8_t *>(&m_midi->body) + m_midi->atom.size);
    }
    uint32_t done = 0;
    while (done < frames) {
        const int32_t chunk = static_cast<int32_t>(std::min<uint32_t>(BLOCK_FRAMES, frames - done));
        m_clock.now = m_clock.blockStart;
        std::fill(m_left + done, m_left + done + chunk, 0.0f);
        std::fill(m_right + done, m_right + done + chunk, 0.0f);
        for (Voice &voice : m_voices) {
            voice.beginBlock();
        }
        fillRamps(done, chunk, frames);
        if (done == 0) {
            applyLists();
        }
        int32_t pos = 0;
        // An event whose header or body would reach past the sequence's end ends it.
        while (ev != nullptr && fitsBefore(ev, end)) {
            // Frames out of order or beyond the run are taken at the nearest frame allowed.
            const int64_t f = std::clamp<int64_t>(ev->time.frames, done + pos, frames - 1);
            if (f >= static_cast<int64_t>(done) + chunk) {
                break;
            }
            const int32_t index = static_cast<int32_t>(f - done);
            renderSegment(pos, index - pos, done + static_cast<uint32_t>(pos));
            pos = index;
            m_clock.now = m_clock.blockStart + static_cast<uint32_t>(pos);
            m_clock.frame = m_block_frame + static_cast<uint64_t>(pos);
            if (ev->body.type == m_midi_event) {
                midiMessage(reinterpret_cast<const uint8_t *>(ev + 1), ev->body.size, pos);
            }
            ev = lv2_atom_sequence_next(ev);
        }
        renderSegment(pos, chunk - pos, done + static_cast<uint32_t>(pos));
        applyLevel(done, chunk, frames);
        done += static_cast<uint32_t>(chunk);
        m_block_frame += static_cast<uint64_t>(chunk);
        m_clock.blockStart += static_cast<uint32_t>(chunk);
    }
    m_clock.now = m_clock.blockStart;
    m_clock.frame = m_block_frame;
    std::copy(m_ramp_to, m_ramp_to + PIN_COUNT, m_ramp_from);
    m_level_from = m_level_to;
}

void Instrument::renderSegment(int32_t index, int32_t count, uint32_t runFrame) {
    if (count <= 0) {
        return;
    }
    m_clock.now = m_clock.blockStart + static_cast<uint32_t>(index);
    m_clock.frame = m_block_frame + static_cast<uint64_t>(index);
    for (Voice &voice : m_voices) {
        voice.render(index, count, m_left + runFrame, m_right + runFrame);
    }
}

void Instrument::midiMessage(const uint8_t *message, uint32_t size, int32_t index) {
    m_events.handle(message, size, m_actions); // what is not played gives no action
    applyActions(index);
}

void Instrument::applyActions(int32_t index) {
    using tarn::midi::ActionKind;
    for (int32_t a = 0; a < m_actions.count; ++a) {
        const tarn::midi::NoteAction &action = m_actions.items[a];
        if (action.kind == ActionKind::StartNote) {
            noteOn(action.channel, action.key, action.gain, index);
            continue;
        }
        for (Voice &voice : m_voices) {
            if (voice.m_channel != action.channel) {
                continue;
            }
            switch (action.kind) {
            case ActionKind::ReleaseNote:
                if (voice.m_state == VoiceState::Held && voice.m_key == action.key) {
                    voice.release(samplesOf(m_control[CTL_RELEASE]));
                }
                break;
            case ActionKind::SilenceChannel:
                voice.cut(index);
                break;
            default: // SetBend
                if (voice.sounding()) {
                    voice.setPitch(index, fcOf(voice.m_channel, voice.m_key));
                }
                break;
            }
        }
    }
}

Voice &Instrument::voiceFor(uint8_t channel, uint8_t key) {
    Voice *freeLongest = nullptr;
    Voice *oldest = &m_voices[0];
    for (Voice &voice : m_voices) {
        if (voice.m_state == VoiceState::Held && voice.m_key == key && voice.m_channel == channel) {
            return voice; // the same key again retriggers its voice
        }
        if (!voice.sounding() && (freeLongest == nullptr || voice.m_freed < freeLongest->m_freed)) {
            freeLongest = &voice;
        }
        if (voice.m_started < oldest->m_started) {
            oldest = &voice;
        }
    }
    return freeLongest != nullptr ? *freeLongest : *oldest;
}

void Instrument::noteOn(uint8_t channel, uint8_t key, float gain, int32_t index) {
    Voice &voice = voiceFor(channel, key);

    voice.m_key = key;
    voice.m_channel = channel;
    voice.m_started = ++m_notes;
    voice.startNote(index, fcOf(channel, key), gain, samplesOf(m_control[CTL_ATTACK]));
}

float Instrument::fcOf(uint8_t channel, uint8_t key) const {
    // Equal temperament, A4 = key 69 = 440 Hz = 5 V, one volt per octave, 1.0 on "fc" = 10 V.
    const double semitones = static_cast<double>(key) - 69.0 + m_events.bendSemitones(channel);
    return static_cast<float>((semitones / 12.0 + 5.0) / 10.0);
}

int64_t Instrument::samplesOf(float ms) const {
    return static_cast<int64_t>(std::llround(double(ms) * double(m_sample_rate) / 1000.0));
}

} // namespace tarn::lv2
