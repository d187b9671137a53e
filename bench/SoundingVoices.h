// Oscillator voices that sound, driven the way a host drives them: made through makeModule,
// opened through the dispatcher, pins bound by the project's host, a note started with "gate"
// and "sync"; then process() calls each record's process entry directly, once per block.
#pragma once

#include "host/Host.h"
#include "host/PluginLibrary.h"

#include <cstdint>
#include <memory>
#include <vector>

// Pin values of the note every voice plays (1.0 = 10 V), and the host's settings.
struct VoiceSetup {
    float sampleRate = 44100.0f; // Hz
    int32_t blockSize = 64;      // samples per process call
    int32_t voices = 1;          // instances, all sounding ("poly" 16 at most)
    int16_t hq = 0;              // "hq": 0 off, 1 on
    int16_t mode = 1;            // "Mode": 1 one-sided, 2 two-sided
    float fc = 0.1f;             // 27.5 Hz
    float fm1 = 0.0f;            // spacing from "detune" alone
    float N = 1.0f;              // partial limit / 10
    float a = 0.09f;             // amplitude ratio / 10
    float detune = 0.2f;         // 2 Hz spacing: 11011 partials fit below 22050 Hz
    float combfreq = 0.01f;      // comb step 0.1 half-turns, so both outputs carry signal
    float combphase = 0.0f;      // comb phase ("cyclic" off)
};

// A setup whose partial count is exactly K at 44.1 kHz and above: pitch 27.5 Hz, spacing 2 Hz,
// "N" = K / 10.
VoiceSetup setupForPartials(int32_t K, int16_t hq, int16_t mode, int32_t blockSize, int32_t voices);

// The partial count the render loop arrives at for the setup's first sample, from the module's
// own pitch, spacing and count rules; negative for a silent note.
int32_t partialCountOf(const VoiceSetup &setup);

class SoundingVoices {
public:
    // Builds the voices, starts the note and renders one block through the host so that the
    // note's events are delivered. Check sounding() before timing anything. The plug-in is the
    // one linked in, or the shared object at `pluginPath` when that is not empty.
    explicit SoundingVoices(const VoiceSetup &setup, const std::string &pluginPath = "");
    ~SoundingVoices();
    SoundingVoices(const SoundingVoices &) = delete;
    SoundingVoices &operator=(const SoundingVoices &) = delete;

    // Every voice wrote a nonzero sample to both outputs in the last block it rendered.
    bool sounding() const;
    // The host's block buffer of an audio input of one voice, by pin name; null for an unknown
    // name. Raw writes stay for every later process() call.
    float *input(int32_t voice, const char *pinName);
    // One block on every voice: each record's process entry with (object, 0, block size).
    void process() {
        for (const Entry &e : m_entries) {
            e.process(e.object, 0, m_block_size);
        }
    }
    int32_t blockSize() const { return m_block_size; }
    int32_t voices() const { return static_cast<int32_t>(m_entries.size()); }

private:
    struct Entry {
        SEProcessEntry process;
        void *object;
    };
    void readEntries();

    std::unique_ptr<PluginLibrary> m_library;
    std::unique_ptr<Host> m_host;
    std::vector<HostedInstance *> m_instances;
    std::vector<Entry> m_entries;
    int32_t m_block_size;
};
