// A lean LV2 host over liblilv for the instrument's tests and benchmark: loads the bundle,
// instantiates the plug-in with urid:map, connects every port by symbol (controls at their
// defaults), and runs blocks with MIDI forged into an atom sequence at given frames.
#pragma once

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class Lv2Rig {
public:
    // Loads the bundle at TARN_LV2_BUNDLE and instantiates it at `sampleRate` Hz.
    explicit Lv2Rig(double sampleRate = 48000.0);
    ~Lv2Rig();
    Lv2Rig(const Lv2Rig &) = delete;
    Lv2Rig &operator=(const Lv2Rig &) = delete;

    bool ok() const { return m_instance != nullptr; }
    double sampleRate() const { return m_rate; }
    // The value the control port `symbol` reads at the next run; aborts the test if unknown.
    float &control(const char *symbol);
    // Default, minimum and maximum of the port as the bundle declares them.
    void range(const char *symbol, float &def, float &min, float &max) const;
    // The URIs of the plug-in's presets, and loading one as a host does: lilv reads its port
    // values and they take effect at the next run. Aborts the test for an unknown preset.
    std::vector<std::string> presets() const;
    void loadPreset(const std::string &uri);
    LilvWorld *world() const { return m_world; }
    const LilvPlugin *plugin() const { return m_plugin; }

    // Queues a MIDI message at `frame` of the next run (frames in queue order).
    void midi(uint32_t frame, std::initializer_list<uint8_t> bytes);
    // Queues any atom event.
    void event(uint32_t frame, LV2_URID type, const void *body, uint32_t size);
    LV2_URID map(const char *uri);
    // The next run's sequence declares `bytes` fewer than it holds, cutting its last event.
    void cutSequenceEnd(uint32_t bytes) { m_cut_bytes = bytes; }

    // Runs `frames` samples (at most MAX_FRAMES) with the queued events, appended to left and
    // right.
    void run(uint32_t frames);
    // Runs `total` samples in blocks of `block`, the queued events in the first.
    void runFor(uint32_t total, uint32_t block = 256);
    // Runs without keeping the output (for benchmarks and allocation checks).
    void runDiscarding(uint32_t frames);

    // Called with true just before the plug-in's run() and with false just after it.
    void (*aroundRun)(bool entering) = nullptr;

    static constexpr uint32_t MAX_FRAMES = 8192;
    std::vector<float> left, right;

private:
    uint32_t portIndex(const char *symbol) const;

    double m_rate;
    LilvWorld *m_world = nullptr;
    const LilvPlugin *m_plugin = nullptr;
    LilvInstance *m_instance = nullptr;
    std::vector<std::string> m_uris;
    LV2_URID_Map m_map{};
    LV2_Feature m_map_feature{};
    std::vector<float> m_controls; // by port index
    std::vector<float> m_out_l, m_out_r;
    std::vector<uint64_t> m_sequence; // 8-byte aligned atom buffer
    std::vector<uint8_t> m_pending;   // queued events: frame, type, size, body
    uint32_t m_cut_bytes = 0;
};

// Magnitude-spectrum helpers over a rendered channel.
// Frequency of the strongest spectral peak within `lowHz`..`highHz`, refined between bins.
double peakHz(const std::vector<float> &x, size_t start, double sampleRate, double lowHz,
              double highHz);
// Level in dB of the strongest bin within `hz` +- `widthHz`.
double levelDbNear(const std::vector<float> &x, size_t start, double sampleRate, double hz,
                   double widthHz);
