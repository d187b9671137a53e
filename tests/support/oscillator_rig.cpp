// The oscillator rig: opening voices with settings, notes, generations and request filters.
#include "support/oscillator_rig.h"

#include <algorithm>
#include <cmath>

HostedInstance *openVoice(Host &host, const VoiceSettings &settings) {
    return openVoice(host, settings, host.sampleRate(), host.blockSize());
}

HostedInstance *openVoice(Host &host, const VoiceSettings &s, float sampleRate, int32_t blockSize) {
    HostedInstance *voice = host.makeInstance();
    if (!voice) {
        return nullptr;
    }
    const std::pair<int32_t, float> inputs[] = {
        {PIN_FC, s.fc},     {PIN_FM1, s.fm1},           {PIN_N, s.N},
        {PIN_A, s.a},       {PIN_GATE, s.gate},         {PIN_DETUNE, s.detune},
        {PIN_SYNC, s.sync}, {PIN_COMBFREQ, s.combfreq}, {PIN_COMBPHASE, s.combphase}};
    for (const auto &input : inputs) {
        voice->setInput(input.first, host.position(), input.second);
    }
    const std::pair<int32_t, int16_t> lists[] = {{PIN_MODE, s.mode},
                                                 {PIN_CYCLIC, s.cyclic},
                                                 {PIN_HQ, s.hq},
                                                 {PIN_POLY, s.poly},
                                                 {PIN_ALTERNATE, s.alternate}};
    for (const auto &list : lists) {
        voice->setList(list.first, list.second);
    }
    voice->setSampleRate(sampleRate);
    voice->setBlockSize(blockSize);
    voice->open();
    return voice;
}

void startNewGeneration(Host &host) {
    if (HostedInstance *breaker = host.makeInstance()) {
        breaker->close();
    }
}

void startNote(HostedInstance &voice, int32_t index) {
    voice.setInput(PIN_GATE, index, 1.0f);
    voice.setInput(PIN_SYNC, index, 1.0f);
}

VoiceInputs inputsAt(HostedInstance &voice, int32_t index) {
    auto at = [&voice, index](int32_t pin) { return voice.buffer(pin)[index]; };
    return {at(PIN_FC),     at(PIN_FM1),      at(PIN_A),        at(PIN_GATE),
            at(PIN_DETUNE), at(PIN_COMBFREQ), at(PIN_COMBPHASE)};
}

std::ostream &operator<<(std::ostream &out, const HostCall &call) {
    return out << "{opcode " << call.opcode << ", index " << call.index << ", value " << call.value
               << ", ptr " << call.ptr << "}";
}

std::vector<HostCall> callsWith(const HostedInstance &voice,
                                std::initializer_list<int32_t> opcodes) {
    std::vector<HostCall> picked;
    for (const HostRequest &r : voice.requests()) {
        if (std::find(opcodes.begin(), opcodes.end(), r.opcode) != opcodes.end()) {
            picked.push_back({r.opcode, r.index, r.value, r.ptr});
        }
    }
    return picked;
}

std::vector<HostCall> transitions(const HostedInstance &voice) {
    return callsWith(voice, {HOST_PROCESS_CHANGED, HOST_SET_PIN_STATUS, HOST_SLEEP});
}

HostCall processChanged() {
    return {HOST_PROCESS_CHANGED, 0, 0, 0};
}

HostCall announced(int32_t pin, int32_t status, uint32_t clock) {
    return {HOST_SET_PIN_STATUS, pin, status, static_cast<intptr_t>(clock)};
}

HostCall sleepRequest() {
    return {HOST_SLEEP, 0, 0, 0};
}

bool isCleanSample(float x) {
    return std::isfinite(x) && (x == 0.0f || std::isnormal(x));
}
