// The patch a run plays: the patch file (or standard input, the demo patch, or the built-in
// defaults when only a MIDI file is given), the MIDI notes in place of its score, and the
// schedule of its notes on the instances.
#pragma once

#include "tools/render/cli_options.h"
#include "tools/render/model/patch.h"
#include "tools/render/model/score_scheduler.h"

#include <string>
#include <vector>

namespace tarn::render {

struct LoadedPatch {
    std::string name; // for messages and plot titles: the path, "standard input", ...
    Patch patch;
    Schedule schedule;
    bool scoreIgnored = false; // the patch has a "score", and a MIDI file plays instead
    // "song.mid: dropped 12 program change events (not played)", "p.json: \"bend_range\" does
    // nothing without --midi"
    std::vector<std::string> midiWarnings;
};

// Throws PatchError with every problem found in the patch, or the first in the MIDI file.
LoadedPatch loadPatch(const Options &options);

} // namespace tarn::render
