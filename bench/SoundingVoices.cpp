// The note is started exactly as tarn-render starts one: controls first, then "gate", then the
// "sync" rise, each a status event at sample 0; the host's block loop delivers them.
#include "bench/SoundingVoices.h"

#include "exports/module_exports.h"
#include "oscillator/signal/partial_count.h"
#include "oscillator/signal/pitch.h"
#include "oscillator/signal/rounding.h"

#include <algorithm>
#include <cmath>

VoiceSetup setupForPartials(int32_t K, int16_t hq, int16_t mode, int32_t blockSize,
                            int32_t voices) {
    VoiceSetup setup;
    setup.hq = hq;
    setup.mode = mode;
    setup.blockSize = blockSize;
    setup.voices = voices;
    setup.N = static_cast<float>(K) / 10.0f;
    return setup;
}

int32_t partialCountOf(const VoiceSetup &setup) {
    const float f0 = pitchFromFc(setup.fc);
    double delta = spacingHz(f0, setup.fm1, setup.detune);
    if (setup.mode == 2) {
        delta = foldMode2Spacing(delta);
    }
    const int32_t Nmax = nearestInt(10.0 * static_cast<double>(setup.N));
    int32_t K = -1;
    double f1 = 0.0;
    const double nyquist = static_cast<double>(setup.sampleRate) * 0.5;
    return countPartials(f0, delta, Nmax, K, nyquist, f1) ? K : -1;
}

SoundingVoices::SoundingVoices(const VoiceSetup &setup, const std::string &pluginPath)
    : m_library(pluginPath.empty() ? new PluginLibrary(&getModuleProperties, &makeModule)
                                   : new PluginLibrary(pluginPath)),
      m_host(new Host(*m_library, setup.sampleRate, setup.blockSize)),
      m_block_size(setup.blockSize) {
    for (int32_t v = 0; v < setup.voices; ++v) {
        HostedInstance *instance = m_host->addInstance();
        if (!instance) {
            break;
        }
        instance->setRecording(false);
        m_instances.push_back(instance);
    }
    const struct {
        const char *name;
        int16_t value;
    } lists[] = {{"Mode", setup.mode}, {"cyclic", 1}, {"hq", setup.hq}, {"poly", 16}};
    const struct {
        const char *name;
        float value;
    } inputs[] = {{"fc", setup.fc},
                  {"fm1", setup.fm1},
                  {"N", setup.N},
                  {"a", setup.a},
                  {"detune", setup.detune},
                  {"combfreq", setup.combfreq},
                  {"combphase", setup.combphase},
                  {"gate", 1.0f},
                  {"sync", 1.0f}};
    for (HostedInstance *instance : m_instances) {
        for (const auto &list : lists) {
            instance->setList(instance->findPin(list.name), list.value);
        }
        for (const auto &in : inputs) {
            instance->setInput(instance->findPin(in.name), 0, in.value);
        }
    }
    m_host->process(0, m_block_size);
    readEntries();
}

SoundingVoices::~SoundingVoices() {
    m_host.reset();
}

void SoundingVoices::readEntries() {
    m_entries.clear();
    for (HostedInstance *instance : m_instances) {
        if (instance->record() && instance->record()->process_entry) {
            m_entries.push_back({instance->record()->process_entry, instance->record()->object});
        }
    }
}

bool SoundingVoices::sounding() const {
    if (m_instances.empty() || m_entries.size() != m_instances.size()) {
        return false;
    }
    for (HostedInstance *instance : m_instances) {
        for (const char *name : {"outputl", "outputr"}) {
            const float *out = instance->output(instance->findPin(name));
            if (!out || std::all_of(out, out + m_block_size, [](float x) { return x == 0.0f; })) {
                return false;
            }
        }
    }
    return true;
}

float *SoundingVoices::input(int32_t voice, const char *pinName) {
    if (voice < 0 || voice >= voices()) {
        return nullptr;
    }
    HostedInstance *instance = m_instances[static_cast<size_t>(voice)];
    return instance->buffer(instance->findPin(pinName));
}
