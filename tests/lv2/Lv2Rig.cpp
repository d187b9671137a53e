// The rig: one lilv world per instance, a urid map over a list of strings, and the atom forge.
#include "lv2/Lv2Rig.h"

#include "tools/render/spectrum.h"

#include <lv2/atom/forge.h>
#include <lv2/midi/midi.h>
#include <lv2/presets/presets.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

constexpr size_t FFT_SIZE = 32768;
constexpr size_t SEQUENCE_BYTES = 65536;

LV2_URID mapUri(LV2_URID_Map_Handle handle, const char *uri) {
    auto *uris = static_cast<std::vector<std::string> *>(handle);
    for (size_t i = 0; i < uris->size(); ++i)
        if ((*uris)[i] == uri)
            return static_cast<LV2_URID>(i + 1);
    uris->push_back(uri);
    return static_cast<LV2_URID>(uris->size());
}

} // namespace

Lv2Rig::Lv2Rig(double sampleRate) : m_rate(sampleRate) {
    m_uris.reserve(256);
    m_map = {&m_uris, &mapUri};
    m_map_feature = {LV2_URID__map, &m_map};
    m_world = lilv_world_new();
    LilvNode *bundle = lilv_new_file_uri(m_world, nullptr, TARN_LV2_BUNDLE "/");
    lilv_world_load_bundle(m_world, bundle);
    lilv_node_free(bundle);
    LilvNode *uri = lilv_new_uri(m_world, "urn:tarn:lv2:oscillator");
    m_plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(m_world), uri);
    lilv_node_free(uri);
    if (m_plugin == nullptr)
        return;
    const LV2_Feature *features[] = {&m_map_feature, nullptr};
    m_instance = lilv_plugin_instantiate(m_plugin, sampleRate, features);
    if (m_instance == nullptr)
        return;
    const uint32_t ports = lilv_plugin_get_num_ports(m_plugin);
    m_controls.assign(ports, 0.0f);
    std::vector<float> defaults(ports);
    lilv_plugin_get_port_ranges_float(m_plugin, nullptr, nullptr, defaults.data());
    m_out_l.assign(MAX_FRAMES, 0.0f);
    m_out_r.assign(MAX_FRAMES, 0.0f);
    m_sequence.assign(SEQUENCE_BYTES / 8, 0);
    for (uint32_t p = 0; p < ports; ++p) {
        const char *symbol = lilv_node_as_string(
            lilv_port_get_symbol(m_plugin, lilv_plugin_get_port_by_index(m_plugin, p)));
        if (std::strcmp(symbol, "midi_in") == 0) {
            lilv_instance_connect_port(m_instance, p, m_sequence.data());
        } else if (std::strcmp(symbol, "outputl") == 0) {
            lilv_instance_connect_port(m_instance, p, m_out_l.data());
        } else if (std::strcmp(symbol, "outputr") == 0) {
            lilv_instance_connect_port(m_instance, p, m_out_r.data());
        } else {
            m_controls[p] = defaults[p];
            lilv_instance_connect_port(m_instance, p, &m_controls[p]);
        }
    }
    lilv_instance_activate(m_instance);
}

Lv2Rig::~Lv2Rig() {
    if (m_instance != nullptr) {
        lilv_instance_deactivate(m_instance);
        lilv_instance_free(m_instance);
    }
    lilv_world_free(m_world);
}

uint32_t Lv2Rig::portIndex(const char *symbol) const {
    LilvNode *node = lilv_new_string(m_world, symbol);
    const LilvPort *port = lilv_plugin_get_port_by_symbol(m_plugin, node);
    lilv_node_free(node);
    if (port == nullptr) {
        std::cerr << "no port " << symbol << "\n";
        std::abort();
    }
    return lilv_port_get_index(m_plugin, port);
}

float &Lv2Rig::control(const char *symbol) {
    return m_controls[portIndex(symbol)];
}

void Lv2Rig::range(const char *symbol, float &def, float &min, float &max) const {
    LilvNode *d = nullptr, *lo = nullptr, *hi = nullptr;
    lilv_port_get_range(m_plugin, lilv_plugin_get_port_by_index(m_plugin, portIndex(symbol)), &d,
                        &lo, &hi);
    def = lilv_node_as_float(d);
    min = lilv_node_as_float(lo);
    max = lilv_node_as_float(hi);
    lilv_node_free(d);
    lilv_node_free(lo);
    lilv_node_free(hi);
}

std::vector<std::string> Lv2Rig::presets() const {
    std::vector<std::string> uris;
    LilvNode *presetClass = lilv_new_uri(m_world, LV2_PRESETS__Preset);
    LilvNodes *related = lilv_plugin_get_related(m_plugin, presetClass);
    LILV_FOREACH(nodes, i, related)
    uris.emplace_back(lilv_node_as_uri(lilv_nodes_get(related, i)));
    lilv_nodes_free(related);
    lilv_node_free(presetClass);
    std::sort(uris.begin(), uris.end());
    return uris;
}

namespace {

struct PresetTarget {
    Lv2Rig *rig;
    LV2_URID floatType, doubleType, intType;
};

void setPortValue(const char *symbol, void *data, const void *value, uint32_t size, uint32_t type) {
    auto *target = static_cast<PresetTarget *>(data);
    float v = 0.0f;
    if (type == target->floatType && size == sizeof(float))
        std::memcpy(&v, value, sizeof v);
    else if (type == target->doubleType && size == sizeof(double))
        v = static_cast<float>(*static_cast<const double *>(value));
    else if (type == target->intType && size == sizeof(int32_t))
        v = static_cast<float>(*static_cast<const int32_t *>(value));
    else {
        std::cerr << "preset value of " << symbol << " has an unknown type\n";
        std::abort();
    }
    target->rig->control(symbol) = v;
}

} // namespace

void Lv2Rig::loadPreset(const std::string &uri) {
    LilvNode *node = lilv_new_uri(m_world, uri.c_str());
    lilv_world_load_resource(m_world, node);
    LilvState *state = lilv_state_new_from_world(m_world, &m_map, node);
    lilv_node_free(node);
    if (state == nullptr) {
        std::cerr << "no preset " << uri << "\n";
        std::abort();
    }
    PresetTarget target{this, map(LV2_ATOM__Float), map(LV2_ATOM__Double), map(LV2_ATOM__Int)};
    lilv_state_restore(state, m_instance, &setPortValue, &target, 0, nullptr);
    lilv_state_free(state);
}

LV2_URID Lv2Rig::map(const char *uri) {
    return mapUri(&m_uris, uri);
}

void Lv2Rig::event(uint32_t frame, LV2_URID type, const void *body, uint32_t size) {
    const uint32_t header[3] = {frame, type, size};
    const auto *h = reinterpret_cast<const uint8_t *>(header);
    m_pending.insert(m_pending.end(), h, h + sizeof header);
    const auto *b = static_cast<const uint8_t *>(body);
    m_pending.insert(m_pending.end(), b, b + size);
}

void Lv2Rig::midi(uint32_t frame, std::initializer_list<uint8_t> bytes) {
    const std::vector<uint8_t> body(bytes);
    event(frame, map(LV2_MIDI__MidiEvent), body.data(), static_cast<uint32_t>(body.size()));
}

void Lv2Rig::runDiscarding(uint32_t frames) {
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &m_map);
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t *>(m_sequence.data()),
                              SEQUENCE_BYTES);
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_sequence_head(&forge, &frame, 0);
    for (size_t at = 0; at < m_pending.size();) {
        uint32_t header[3];
        std::memcpy(header, &m_pending[at], sizeof header);
        at += sizeof header;
        lv2_atom_forge_frame_time(&forge, header[0]);
        lv2_atom_forge_atom(&forge, header[2], header[1]);
        lv2_atom_forge_write(&forge, &m_pending[at], header[2]);
        at += header[2];
    }
    lv2_atom_forge_pop(&forge, &frame);
    reinterpret_cast<LV2_Atom *>(m_sequence.data())->size -= m_cut_bytes;
    m_cut_bytes = 0;
    m_pending.clear();
    if (aroundRun != nullptr)
        aroundRun(true);
    lilv_instance_run(m_instance, std::min(frames, MAX_FRAMES));
    if (aroundRun != nullptr)
        aroundRun(false);
}

void Lv2Rig::run(uint32_t frames) {
    runDiscarding(frames);
    const uint32_t n = std::min(frames, MAX_FRAMES);
    left.insert(left.end(), m_out_l.begin(), m_out_l.begin() + n);
    right.insert(right.end(), m_out_r.begin(), m_out_r.begin() + n);
}

void Lv2Rig::runFor(uint32_t total, uint32_t block) {
    for (uint32_t done = 0; done < total; done += block)
        run(std::min(block, total - done));
}

double peakHz(const std::vector<float> &x, size_t start, double sampleRate, double lowHz,
              double highHz) {
    const std::vector<double> db = tarn::render::spectrumDb(x, start, FFT_SIZE);
    const double binHz = sampleRate / static_cast<double>(FFT_SIZE);
    size_t best = static_cast<size_t>(lowHz / binHz);
    for (size_t k = best; k < db.size() && k * binHz <= highHz; ++k)
        if (db[k] > db[best])
            best = k;
    return tarn::render::interpolatedPeakHz(db, best, binHz);
}

double levelDbNear(const std::vector<float> &x, size_t start, double sampleRate, double hz,
                   double widthHz) {
    const std::vector<double> db = tarn::render::spectrumDb(x, start, FFT_SIZE);
    const double binHz = sampleRate / static_cast<double>(FFT_SIZE);
    double level = -300.0;
    for (size_t k = static_cast<size_t>(std::max(0.0, hz - widthHz) / binHz);
         k < db.size() && k * binHz <= hz + widthHz; ++k)
        level = std::max(level, db[k]);
    return level;
}
