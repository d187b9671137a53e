// A MIDI file alone plays through the built-in defaults ("{}"), not through the demo's
// settings and score.
#include "tools/render/patch_loading.h"

#include "tools/render/errors.h"
#include "tools/render/input_file.h"
#include "tools/render/midi_score.h"
#include "tools/render/model/embedded_texts.h"
#include "tools/render/model/patch_parser.h"

#include <nlohmann/json.hpp>

#include <iostream>
#include <optional>
#include <sstream>

namespace tarn::render {

LoadedPatch loadPatch(const Options &options) {
    LoadedPatch loaded;
    const bool fromFile = !options.patchPath.empty();
    const bool withMidi = !options.midiPath.empty();
    loaded.name = options.patchPath == "-" ? "standard input"
                  : fromFile               ? options.patchPath
                  : withMidi               ? "built-in defaults"
                                           : "demo patch";
    const std::string text = fromFile   ? readInputFile(options.patchPath, "a patch file")
                             : withMidi ? "{}"
                                        : DEMO_PATCH_TEXT;
    std::optional<MidiScore> midi;
    if (withMidi)
        midi = readMidiScore(options.midiPath, options.midiChannels, bendRangeOf(text));
    loaded.patch = parsePatch(text, loaded.name, midi ? &*midi : nullptr);
    if (midi)
        for (const std::string &line : midi->dropped)
            loaded.midiWarnings.push_back(options.midiPath + ": " + line);
    const nlohmann::json document = nlohmann::json::parse(text);
    loaded.scoreIgnored = withMidi && document.contains("score");
    if (!withMidi && document.contains("defaults") && document["defaults"].contains("bend_range"))
        loaded.midiWarnings.push_back(loaded.name + ": \"bend_range\" does nothing without --midi");
    loaded.schedule = scheduleScore(loaded.patch);
    return loaded;
}

} // namespace tarn::render
