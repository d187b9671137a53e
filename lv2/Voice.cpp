// The voice's host side: the module's requests are answered from the instrument's clock and the
// voice's buffers; routine changes need no answer because the process entry is read from the
// record at every call.
#include "lv2/Voice.h"

#include "oscillator/module/Module.h"
#include "oscillator/module/VoicePool.h"
#include "se_sdk2/SEPinProperties.h"
#include "se_sdk2/se_protocol.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tarn::lv2 {

bool Voice::create(VoicePool &pool, int16_t slot, const VoiceClock &clock,
                   float *const shared[PIN_COUNT], const int16_t lists[PIN_COUNT],
                   float sampleRate) {
    m_clock = &clock;
    Module *module = new (std::nothrow)
        Module(&Voice::answer, reinterpret_cast<intptr_t>(this), VoiceTable{&pool, slot});
    if (module == nullptr) {
        return false;
    }
    m_record = module->getRecord();
    auto dispatch = [this](int32_t opcode, int32_t index, int32_t value, void *ptr, float opt) {
        return m_record->dispatch_entry(m_record, opcode, index, value, ptr, opt);
    };
    dispatch(MOD_SET_SAMPLE_RATE, 0, 0, nullptr, sampleRate);
    dispatch(MOD_SET_BLOCK_SIZE, 0, BLOCK_FRAMES, nullptr, 0.0f);
    float *const own[PIN_COUNT] = {m_fc,    nullptr, nullptr,    nullptr,    m_gate,  nullptr,
                                   m_sync,  nullptr, nullptr,    nullptr,    nullptr, nullptr,
                                   nullptr, nullptr, m_out_left, m_out_right};
    // The sync pin stays above the note threshold: each note is its status change, at its
    // sample, and nothing else reads the pin.
    std::fill(m_sync, m_sync + BLOCK_FRAMES, 1.0f);
    for (int32_t pin = 0; pin < PIN_COUNT; ++pin) {
        SEPinProperties properties;
        std::memset(&properties, 0, sizeof properties);
        if (dispatch(MOD_GET_PIN_PROPERTIES, pin, 0, &properties, 0.0f) == 0 ||
            properties.variable_address == nullptr) {
            continue;
        }
        if (properties.datatype == DT_FSAMPLE) {
            *static_cast<float **>(properties.variable_address) =
                own[pin] != nullptr ? own[pin] : shared[pin];
        } else if (properties.datatype == DT_ENUM) {
            m_lists[pin] = static_cast<int16_t *>(properties.variable_address);
            *m_lists[pin] = lists[pin];
        }
    }
    dispatch(MOD_OPEN, 0, 0, nullptr, 0.0f);
    return true;
}

void Voice::destroy() {
    if (m_record != nullptr) {
        m_record->dispatch_entry(m_record, MOD_CLOSE, 0, 0, nullptr, 0.0f);
        m_record = nullptr;
    }
}

intptr_t SE_CALL Voice::answer(SEModuleRecord *record, int32_t opcode, int32_t, int32_t, void *,
                               float) {
    Voice *voice = reinterpret_cast<Voice *>(record->host_data);
    switch (opcode) {
    case HOST_GET_SAMPLE_CLOCK:
        return static_cast<intptr_t>(voice->m_clock->now);
    case HOST_GET_BLOCK_START:
        return static_cast<intptr_t>(voice->m_clock->blockStart);
    case HOST_GET_PIN_COUNT:
        return PIN_COUNT;
    case HOST_SLEEP:
        voice->m_asleep = true;
        return 0;
    default:
        // Pin statuses, routine changes and queries: nothing for this host to do.
        return 0;
    }
}

void Voice::deliverStatus(int32_t pin) {
    SEEvent event = {m_clock->now, EV_PIN_STATUS, STREAM_SINGLE_CHANGE, 0, pin, 0};
    m_record->event_entry(m_record->object, &event);
}

void Voice::setList(int32_t pin, int16_t value) {
    if (m_lists[pin] == nullptr || *m_lists[pin] == value) {
        return;
    }
    *m_lists[pin] = value;
    deliverStatus(pin);
}

void Voice::fillFrom(float *buffer, int32_t index, float value) {
    std::fill(buffer + index, buffer + BLOCK_FRAMES, value);
    m_inputs_moved = true;
}

void Voice::startNote(int32_t index, float fc, float peak, int64_t attack) {
    m_fc_held = fc;
    m_gate_held = 1.0f;
    fillFrom(m_fc, index, fc);
    fillFrom(m_gate, index, 1.0f);
    m_gain.start(m_state == VoiceState::Free ? 0.0f : m_gain.last(), peak, attack);
    m_state = VoiceState::Held;
    m_asleep = false;
    deliverStatus(PIN_SYNC);
}

void Voice::setPitch(int32_t index, float fc) {
    m_fc_held = fc;
    fillFrom(m_fc, index, fc);
}

void Voice::release(int64_t release) {
    m_gain.release(release);
    m_state = VoiceState::Released;
}

void Voice::cut(int32_t index) {
    m_gain.cut();
    m_gate_held = 0.0f;
    fillFrom(m_gate, index, 0.0f);
    if (m_state != VoiceState::Free) {
        m_state = VoiceState::Free;
        m_freed = m_clock->frame;
    }
}

void Voice::beginBlock() {
    if (m_inputs_moved) {
        std::fill(m_fc, m_fc + BLOCK_FRAMES, m_fc_held);
        std::fill(m_gate, m_gate + BLOCK_FRAMES, m_gate_held);
        m_inputs_moved = false;
    }
}

void Voice::render(int32_t index, int32_t count, float *left, float *right) {
    if (m_asleep || count <= 0) {
        return;
    }
    // Read at every call: the record's routine is the one the module installed last.
    m_record->process_entry(m_record->object, index, count);
    const float *outL = m_out_left + index;
    const float *outR = m_out_right + index;
    for (int32_t i = 0; i < count; ++i) {
        const float g = m_gain.next();
        left[i] += g * outL[i];
        right[i] += g * outR[i];
    }
    if (m_state == VoiceState::Released && m_gain.finished()) {
        m_gate_held = 0.0f;
        if (index + count < BLOCK_FRAMES) {
            fillFrom(m_gate, index + count, 0.0f);
        }
        m_state = VoiceState::Free;
        m_freed = m_clock->frame + static_cast<uint64_t>(count);
    }
    if (m_asleep && m_state != VoiceState::Free) {
        // Asleep with a note only when "poly" evicted it and its level fell to 0.
        m_gain.cut();
        m_state = VoiceState::Free;
        m_freed = m_clock->frame + static_cast<uint64_t>(count);
    }
}

} // namespace tarn::lv2
