// Helpers for driving the built plug-in's oscillator through the project's host: voices opened
// with chosen held inputs and settings, notes as the host would send them, fresh voice-table
// generations, and the host requests of interest picked out of an instance's log.
#pragma once

#include "host/Host.h"
#include "oscillator/module/pin_table.h"
#include "se_sdk2/se_protocol.h"
#include "support/ReferenceVoice.h"

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <vector>

#ifdef TARN_PLUGIN_PATH
// The plug-in under test, opened once per test program.
inline const PluginLibrary &tarnPlugin() {
    static PluginLibrary library(TARN_PLUGIN_PATH);
    return library;
}
#endif

// Held audio inputs and list settings of a voice when it opens. The defaults give a 440 Hz
// harmonic series of 6 partials (N 0.5) falling by half (a 0.05), no comb, plain placement.
struct VoiceSettings {
    float fc = 0.5f;
    float fm1 = 0.1f;
    float N = 0.5f;
    float a = 0.05f;
    float gate = 0.0f;
    float detune = 0.0f;
    float sync = 0.0f;
    float combfreq = 0.0f;
    float combphase = 0.0f;
    int16_t mode = 1;
    int16_t cyclic = 1;
    int16_t hq = 1;
    int16_t poly = 8;
    int16_t alternate = 0;
};

// makeModule, the held inputs and settings, then the sample rate, the block size (the host's
// unless given) and MOD_OPEN. Null when the plug-in refuses.
HostedInstance *openVoice(Host &host, const VoiceSettings &settings);
HostedInstance *openVoice(Host &host, const VoiceSettings &settings, float sampleRate,
                          int32_t blockSize);

// Creates and closes one instance, so that the next instance starts a new voice-table
// generation (fresh alternation state, empty recency list) whatever ran before.
void startNewGeneration(Host &host);

// Opens the gate and raises sync at buffer element `index`: two status events at that sample,
// gate first.
void startNote(HostedInstance &voice, int32_t index);

// The inputs the render loop reads at buffer element `index` of the current block.
VoiceInputs inputsAt(HostedInstance &voice, int32_t index);

// A logged request without its clock and option: what the module asked for.
struct HostCall {
    int32_t opcode, index, value;
    intptr_t ptr; // the clock of a status announcement, else 0 here
    bool operator==(const HostCall &o) const {
        return opcode == o.opcode && index == o.index && value == o.value && ptr == o.ptr;
    }
};
std::ostream &operator<<(std::ostream &out, const HostCall &call);

// The logged requests whose opcode is one of `opcodes`, in order.
std::vector<HostCall> callsWith(const HostedInstance &voice,
                                std::initializer_list<int32_t> opcodes);
// The routine changes, status announcements and sleep requests, in order.
std::vector<HostCall> transitions(const HostedInstance &voice);
// Shorthands for the expected calls.
HostCall processChanged();
HostCall announced(int32_t pin, int32_t status, uint32_t clock);
HostCall sleepRequest();

// True when x is a float the host's filters can take: finite, and zero or normal.
bool isCleanSample(float x);
