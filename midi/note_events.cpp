// The channel messages honoured: note on and off (velocity 0 is an off), the sustain pedal
// (CC64), all sound off (CC120), reset controllers (CC121), all notes off (CC123) and the
// pitch wheel. Each channel keeps its own keys, pedal and wheel.
#include "midi/note_events.h"

#include <algorithm>
#include <cmath>

namespace tarn::midi {

namespace {

// Pitch-wheel centre; the 14-bit value reaches 8191 above it and 8192 below, both ends +-1.
constexpr int32_t BEND_CENTRE = 8192;
constexpr uint8_t PEDAL_DOWN_FROM = 64; // CC64 values 64..127 hold the pedal down

void push(NoteActions &out, ActionKind kind, uint8_t channel, uint8_t key = 0, float gain = 0.0f,
          double bend = 0.0) {
    out.items[out.count++] = {kind, channel, key, gain, bend};
}

} // namespace

const char *droppedKindName(MessageUse use) {
    switch (use) {
    case MessageUse::ProgramChange:
        return "program change";
    case MessageUse::ControlChange:
        return "control change";
    case MessageUse::PolyPressure:
        return "polyphonic aftertouch";
    case MessageUse::ChannelPressure:
        return "channel aftertouch";
    case MessageUse::SystemExclusive:
        return "system exclusive";
    case MessageUse::System:
        return "system common or real-time";
    default:
        return "";
    }
}

void NoteEvents::reset() {
    std::fill(&m_keys[0][0], &m_keys[0][0] + CHANNEL_COUNT * KEY_COUNT, KEY_UP);
    std::fill(m_pedal_down, m_pedal_down + CHANNEL_COUNT, false);
    std::fill(m_wheel, m_wheel + CHANNEL_COUNT, 0.0f);
}

void NoteEvents::setBendRange(double semitones, NoteActions &out) {
    out.count = 0;
    const double range =
        std::isnan(semitones) ? DEFAULT_BEND_RANGE : std::clamp(semitones, 0.0, MAX_BEND_RANGE);
    if (range == m_range)
        return;
    m_range = range;
    for (uint8_t c = 0; c < CHANNEL_COUNT; ++c)
        if (m_wheel[c] != 0.0f)
            push(out, ActionKind::SetBend, c, 0, 0.0f, bendSemitones(c));
}

double NoteEvents::bendSemitones(int channel) const {
    return double(m_wheel[channel & 0x0F]) * m_range;
}

MessageUse NoteEvents::handle(const uint8_t *message, uint32_t size, NoteActions &out) {
    out.count = 0;
    if (size < 1 || message[0] < 0x80)
        return MessageUse::Malformed; // running status has no place in a complete message
    if (message[0] == 0xF0 || message[0] == 0xF7)
        return MessageUse::SystemExclusive;
    if (message[0] > 0xF0)
        return MessageUse::System;
    const uint8_t type = message[0] & 0xF0;
    const uint8_t channel = message[0] & 0x0F;
    if (!(m_channels & (1u << channel)))
        return MessageUse::OtherChannel;
    const uint32_t needed = (type == 0xC0 || type == 0xD0) ? 2 : 3;
    if (size < needed || message[1] >= 0x80 || (needed == 3 && message[2] >= 0x80))
        return MessageUse::Malformed;
    switch (type) {
    case 0x80:
        noteOff(channel, message[1], out);
        return MessageUse::Played;
    case 0x90:
        if (message[2] == 0)
            noteOff(channel, message[1], out);
        else
            noteOn(channel, message[1], message[2], out);
        return MessageUse::Played;
    case 0xA0:
        return MessageUse::PolyPressure;
    case 0xB0:
        return controlChange(channel, message[1], message[2], out);
    case 0xC0:
        return MessageUse::ProgramChange;
    case 0xD0:
        return MessageUse::ChannelPressure;
    default: { // 0xE0, the wheel
        const int32_t v = (int32_t{message[2]} << 7) | message[1];
        const int32_t reach = v >= BEND_CENTRE ? BEND_CENTRE - 1 : BEND_CENTRE;
        setWheel(channel, static_cast<float>(v - BEND_CENTRE) / static_cast<float>(reach), out);
        return MessageUse::Played;
    }
    }
}

void NoteEvents::noteOn(uint8_t channel, uint8_t key, uint8_t velocity, NoteActions &out) {
    m_keys[channel][key] = KEY_DOWN;
    push(out, ActionKind::StartNote, channel, key, static_cast<float>(velocity) / 127.0f);
}

void NoteEvents::noteOff(uint8_t channel, uint8_t key, NoteActions &out) {
    if (m_keys[channel][key] != KEY_DOWN)
        return;
    if (m_pedal_down[channel]) {
        m_keys[channel][key] = KEY_PEDAL;
        return;
    }
    m_keys[channel][key] = KEY_UP;
    push(out, ActionKind::ReleaseNote, channel, key);
}

void NoteEvents::releaseKeys(uint8_t channel, bool pedalOnly, NoteActions &out) {
    for (int key = 0; key < KEY_COUNT; ++key) {
        uint8_t &state = m_keys[channel][key];
        if (state == KEY_PEDAL || (state == KEY_DOWN && !pedalOnly)) {
            state = KEY_UP;
            push(out, ActionKind::ReleaseNote, channel, static_cast<uint8_t>(key));
        }
    }
}

MessageUse NoteEvents::controlChange(uint8_t channel, uint8_t controller, uint8_t value,
                                     NoteActions &out) {
    switch (controller) {
    case 64: // sustain pedal
        m_pedal_down[channel] = value >= PEDAL_DOWN_FROM;
        if (!m_pedal_down[channel])
            releaseKeys(channel, true, out);
        return MessageUse::Played;
    case 120: // all sound off: silent at once
        std::fill(m_keys[channel], m_keys[channel] + KEY_COUNT, KEY_UP);
        push(out, ActionKind::SilenceChannel, channel);
        return MessageUse::Played;
    case 121: // reset all controllers: pedal up, bend centred
        m_pedal_down[channel] = false;
        releaseKeys(channel, true, out);
        setWheel(channel, 0.0f, out);
        return MessageUse::Played;
    case 123: // all notes off, pedal or not
        releaseKeys(channel, false, out);
        return MessageUse::Played;
    default:
        return MessageUse::ControlChange;
    }
}

void NoteEvents::setWheel(uint8_t channel, float position, NoteActions &out) {
    m_wheel[channel] = position;
    push(out, ActionKind::SetBend, channel, 0, 0.0f, bendSemitones(channel));
}

} // namespace tarn::midi
