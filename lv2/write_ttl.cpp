// Writes the bundle's manifest.ttl, tarn.ttl and presets.ttl from the control table, so that the
// ports a host reads and the ones the plug-in clamps to cannot differ. Usage: tarn-lv2-ttl DIR
// BINARY (BINARY is the shared object's file name inside the bundle). Build-time tool.
#include "lv2/controls.h"
#include "lv2/plugin_uri.h"

#include <fstream>
#include <iostream>
#include <string>

namespace {

using namespace tarn::lv2;

const char *PREFIXES = "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
                       "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                       "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                       "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
                       "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
                       "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
                       "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                       "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                       "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                       "@prefix tarn: <urn:tarn:lv2:units#> .\n"
                       "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
                       "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

std::string number(float v) {
    std::string s = std::to_string(v);
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.')
        s += '0';
    return s;
}

void writeControl(std::ostream &out, uint32_t index, const ControlRow &row) {
    out << "    ] , [\n        a lv2:InputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << FIRST_CONTROL_PORT + index << " ;\n"
        << "        lv2:symbol \"" << row.symbol << "\" ;\n"
        << "        lv2:name \"" << row.name << "\" ;\n"
        << "        lv2:default " << number(row.fallback) << " ;\n"
        << "        lv2:minimum " << number(row.minimum) << " ;\n"
        << "        lv2:maximum " << number(row.maximum) << " ;\n";
    if (row.kind == ControlKind::Integer || row.kind == ControlKind::Enumeration)
        out << "        lv2:portProperty lv2:integer ;\n";
    if (row.kind == ControlKind::Enumeration)
        out << "        lv2:portProperty lv2:enumeration ;\n";
    if (row.kind == ControlKind::Toggle)
        out << "        lv2:portProperty lv2:toggled ;\n";
    if (row.logarithmic)
        out << "        lv2:portProperty pprops:logarithmic ;\n";
    if (row.unit != nullptr)
        out << "        units:unit " << row.unit << " ;\n";
    for (uint32_t p = 0; p < row.pointCount; ++p)
        out << "        lv2:scalePoint [ rdfs:label \"" << row.points[p].label << "\" ; rdf:value "
            << number(row.points[p].value) << " ] ;\n";
}

void writePlugin(std::ostream &out) {
    out << PREFIXES
        << "tarn:partials a units:Unit ; rdfs:label \"partials\" ; units:symbol \"partials\" ;\n"
        << "    units:render \"%f partials\" .\n"
        << "tarn:halfTurns a units:Unit ; rdfs:label \"half-turns\" ; units:symbol \"ht\" ;\n"
        << "    units:render \"%f ht\" .\n\n"
        << "<" TARN_LV2_URI "#out>\n"
        << "    a pg:OutputGroup , pg:StereoGroup ;\n"
        << "    lv2:symbol \"out\" ;\n"
        << "    rdfs:label \"Output\" .\n\n"
        << "<" TARN_LV2_URI ">\n"
        << "    a lv2:InstrumentPlugin , lv2:Plugin ;\n"
        << "    lv2:minorVersion " << TARN_VERSION_MINOR << " ;\n"
        << "    lv2:microVersion " << TARN_VERSION_PATCH << " ;\n"
        << "    pg:mainOutput <" TARN_LV2_URI "#out> ;\n"
        << "    doap:name \"TARN\" ;\n"
        << "    rdfs:comment \"A closed-form additive oscillator: inharmonic spacing, one- and "
           "two-sided sums, a moving comb and quadrature outputs.\" ;\n"
        << "    lv2:requiredFeature urid:map ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable ;\n"
        << "    lv2:port [\n"
        << "        a lv2:InputPort , atom:AtomPort ;\n"
        << "        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports midi:MidiEvent ;\n"
        << "        lv2:designation lv2:control ;\n"
        << "        lv2:index " << PORT_MIDI_IN << " ;\n"
        << "        lv2:symbol \"midi_in\" ;\n"
        << "        lv2:name \"MIDI in\" ;\n"
        << "    ] , [\n"
        << "        a lv2:OutputPort , lv2:AudioPort ;\n"
        << "        lv2:index " << PORT_OUTPUTL << " ;\n"
        << "        lv2:symbol \"outputl\" ;\n"
        << "        lv2:name \"Output L\" ;\n"
        << "        pg:group <" TARN_LV2_URI "#out> ;\n"
        << "        lv2:designation pg:left ;\n"
        << "    ] , [\n"
        << "        a lv2:OutputPort , lv2:AudioPort ;\n"
        << "        lv2:index " << PORT_OUTPUTR << " ;\n"
        << "        lv2:symbol \"outputr\" ;\n"
        << "        lv2:name \"Output R\" ;\n"
        << "        pg:group <" TARN_LV2_URI "#out> ;\n"
        << "        lv2:designation pg:right ;\n";
    for (uint32_t i = 0; i < CONTROL_COUNT; ++i)
        writeControl(out, i, CONTROLS[i]);
    out << "    ] .\n";
}

// Presets made from the guide's patches (docs/patches/), as static sounds: a ramp of the patch
// is taken at a point that shows what it sweeps. Each preset writes every control that shapes
// the sound, the ones it does not name at their defaults, so that it sounds the same whatever was
// loaded before; the MIDI channel and the bend range belong to the player's setup and are kept.
struct PresetValue {
    const char *symbol;
    float value;
};
struct Preset {
    const char *id, *label;
    PresetValue values[8];
};
const Preset PRESETS[] = {
    {"bright", "Bright partials (a-sweep)", {{"partials", 40}, {"ratio", 1.0f}, {"alternate", 0}}},
    {"comb",
     "Comb teeth (comb)",
     {{"partials", 60},
      {"ratio", 0.97f},
      {"comb_step", 1.0f},
      {"comb_phase", 0},
      {"alternate", 0}}},
    {"cyclic",
     "Travelling comb (cyclic)",
     {{"partials", 60},
      {"ratio", 0.97f},
      {"comb_step", 0.1f},
      {"cyclic", 1},
      {"comb_rate", 1},
      {"alternate", 0}}},
    {"sidebands",
     "Seven sidebands (mode2)",
     {{"mode", 2}, {"spacing", 0.125f}, {"partials", 7}, {"ratio", 0.9f}, {"alternate", 0}}},
    {"alternate",
     "Alternating outputs (alternate)",
     {{"partials", 30},
      {"ratio", 0.9f},
      {"comb_step", 0.35f},
      {"comb_phase", 0.1f},
      {"alternate", 1}}},
    {"soft",
     "Soft notes (envelope)",
     {{"partials", 8}, {"ratio", 0.7f}, {"attack", 5}, {"release", 50}, {"alternate", 0}}},
};

const ControlRow *rowOf(const char *symbol) {
    for (const ControlRow &row : CONTROLS)
        if (std::string(row.symbol) == symbol)
            return &row;
    return nullptr;
}

bool keptByPresets(const ControlRow &row) {
    return &row == &CONTROLS[CTL_CHANNEL] || &row == &CONTROLS[CTL_BEND_RANGE];
}

// False when a preset names a control that does not exist, one presets keep, or a value outside
// its range.
bool writePresets(std::ostream &out) {
    out << PREFIXES;
    for (const Preset &preset : PRESETS) {
        float values[CONTROL_COUNT];
        for (uint32_t i = 0; i < CONTROL_COUNT; ++i)
            values[i] = CONTROLS[i].fallback;
        for (const PresetValue &v : preset.values) {
            if (v.symbol == nullptr)
                break;
            const ControlRow *row = rowOf(v.symbol);
            if (row == nullptr || keptByPresets(*row) || controlValue(*row, v.value) != v.value) {
                std::cerr << "tarn-lv2-ttl: preset " << preset.id << ": bad " << v.symbol << "\n";
                return false;
            }
            values[row - CONTROLS] = v.value;
        }
        out << "<" TARN_LV2_URI "#" << preset.id << ">\n    a pset:Preset ;\n"
            << "    lv2:appliesTo <" TARN_LV2_URI "> ;\n    rdfs:label \"" << preset.label
            << "\" ;\n    lv2:port ";
        bool first = true;
        for (uint32_t i = 0; i < CONTROL_COUNT; ++i) {
            if (keptByPresets(CONTROLS[i]))
                continue;
            out << (first ? "" : " , ") << "[\n        lv2:symbol \"" << CONTROLS[i].symbol
                << "\" ;\n        pset:value " << number(values[i]) << "\n    ]";
            first = false;
        }
        out << " .\n\n";
    }
    return true;
}

void writeManifest(std::ostream &out, const std::string &binary) {
    out << PREFIXES << "<" TARN_LV2_URI ">\n    a lv2:Plugin , lv2:InstrumentPlugin ;\n"
        << "    lv2:binary <" << binary << "> ;\n    rdfs:seeAlso <tarn.ttl> .\n";
    for (const Preset &preset : PRESETS)
        out << "\n<" TARN_LV2_URI "#" << preset.id << ">\n    a pset:Preset ;\n"
            << "    lv2:appliesTo <" TARN_LV2_URI "> ;\n    rdfs:seeAlso <presets.ttl> .\n";
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::cerr << "usage: tarn-lv2-ttl DIR BINARY\n";
        return 2;
    }
    const std::string dir = argv[1];
    std::ofstream plugin(dir + "/tarn.ttl");
    std::ofstream manifest(dir + "/manifest.ttl");
    std::ofstream presets(dir + "/presets.ttl");
    writePlugin(plugin);
    writeManifest(manifest, argv[2]);
    if (!writePresets(presets))
        return 1;
    plugin.close();
    manifest.close();
    presets.close();
    if (!plugin || !manifest || !presets) {
        std::cerr << "tarn-lv2-ttl: cannot write " << dir << "\n";
        return 1;
    }
    return 0;
}
