// A MIDI file alone plays through the built-in defaults ("{}"), not through the demo's
// settings and score.
#include "tools/render/patch_loading.h"

#include "tools/render/errors.h"
#include "tools/render/midi_score.h"
#include "tools/render/model/embedded_texts.h"
#include "tools/render/model/patch_parser.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <sys/stat.h>

namespace tarn::render {

namespace {

// Far beyond any score written by hand or generated (a note takes about 60 bytes), and a bound
// on what a file such as /dev/zero can make the tool read and keep.
constexpr size_t MAX_PATCH_BYTES = size_t{1} << 26; // 64 MiB

std::string readAtMost(std::istream &in, const std::string &name) {
    std::string text;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > MAX_PATCH_BYTES)
            throw PatchError(name + ": expected a patch of at most 64 MiB, got more");
    }
    if (in.bad())
        throw PatchError(name + ": cannot read: " + std::strerror(errno));
    return text;
}

std::string readFile(const std::string &path) {
    if (path == "-")
        return readAtMost(std::cin, "standard input");
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        throw PatchError(path + ": cannot read: " + std::strerror(errno));
    if (S_ISDIR(status.st_mode))
        throw PatchError(path + ": cannot read: it is a directory, expected a patch file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw PatchError(path + ": cannot read: " + std::strerror(errno));
    return readAtMost(in, path);
}

} // namespace

LoadedPatch loadPatch(const Options &options) {
    LoadedPatch loaded;
    const bool fromFile = !options.patchPath.empty();
    const bool withMidi = !options.midiPath.empty();
    loaded.name = options.patchPath == "-" ? "standard input"
                  : fromFile               ? options.patchPath
                  : withMidi               ? "built-in defaults"
                                           : "demo patch";
    const std::string text = fromFile   ? readFile(options.patchPath)
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
