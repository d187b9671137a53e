// Reading a patch file: JSON syntax, then the patch schema, then the checks the schema cannot
// express (note-name range, comb phase range by "cyclic", notes of at least one sample, pitch
// below the Nyquist frequency). The result is in pin units and every note lies within the
// render. Overlaps beyond the voice count are found by scheduleScore.
#pragma once

#include "tools/render/midi_score.h"
#include "tools/render/model/json_schema.h"
#include "tools/render/model/patch.h"

#include <string>
#include <vector>

namespace tarn::render {

// Designer-unit values used where neither the note nor the patch's "defaults" give one.
constexpr double DEFAULT_FM1_RATIO = 1.0;
constexpr double DEFAULT_N_COUNT = 20.0;
constexpr double DEFAULT_A_RATIO = 0.8;
// Silence rendered after the end of the last note and its release when the patch gives no
// "duration".
constexpr double DEFAULT_TAIL_SECONDS = 0.25;

// The embedded patch schema, loaded once.
const JsonSchema &patchSchema();

// The "bend_range" of the patch's "defaults" in `text`, in semitones, for reading its MIDI
// file before the patch: midi::DEFAULT_BEND_RANGE where the text gives none or an invalid one
// (which parsePatch then refuses).
double bendRangeOf(const std::string &text);

// Throws PatchError listing every problem found (schema problems all at once; the later
// checks run only on a document that passes the schema). fileName is used only in messages.
// With `midi` the patch's "score" is ignored and may be left out: the MIDI notes are played,
// each with its key as pitch (moved by its channel's wheel), its velocity, and every other
// field from "defaults"; a note silenced by "all sound off" has no release.
Patch parsePatch(const std::string &text, const std::string &fileName,
                 const MidiScore *midi = nullptr);

} // namespace tarn::render
