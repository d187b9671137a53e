// A patch as the render tool plays it: host settings, the five list settings and a score of
// notes, every value already in pin units. Built by parsePatch from a patch file.
#pragma once

#include "tools/render/model/list_settings.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarn::render {

// Control inputs that a note sets, in this order; the names are the pin names.
constexpr int CONTROL_COUNT = 6;
constexpr int CONTROL_FM1 = 0;
constexpr int CONTROL_N = 1;
constexpr int CONTROL_A = 2;
constexpr int CONTROL_DETUNE = 3;
constexpr int CONTROL_COMBFREQ = 4;
constexpr int CONTROL_COMBPHASE = 5;
extern const char *const CONTROL_NAMES[CONTROL_COUNT];

// A pin value over one note: "from" at the note's first sample, "to" at its last, linear in
// between. A constant has from == to.
struct PinRamp {
    float from = 0.0f;
    float to = 0.0f;
};

// The pitch pin from a time on (a pitch-wheel step), until the next step or the note's end.
struct PitchStep {
    double seconds; // after the note's start
    float fc;       // "fc" pin value
};

struct PatchNote {
    double startSeconds = 0.0;                     // >= 0
    double lengthSeconds = 0.0;                    // > 0
    double pitchHz = 0.0;                          // the requested pitch, for messages and checks
    float fc = 0.0f;                               // "fc" pin value at the start
    std::vector<PitchStep> pitchSteps;             // in time order, before the release's end
    std::array<PinRamp, CONTROL_COUNT> controls{}; // pin values, indexed by CONTROL_*
    float gain = 1.0f;           // velocity as a gain, 0 to 1, applied after the module
    double attackSeconds = 0.0;  // envelope rise from silence; 0: the module's raw start
    double releaseSeconds = 0.0; // envelope fall after the length; 0: the gate closes at once
    int16_t mode = 1;            // "Mode" value for this note: its own or the patch's
    int16_t hq = 1;              // "hq" value for this note: its own or the patch's
    std::string pointer;         // JSON pointer of the note in its file ("/score/3")
};

struct Patch {
    std::string fileName;       // where the patch came from, for messages
    int32_t sampleRate = 44100; // Hz, set on every instance before MOD_OPEN
    int32_t blockSize = 256;    // samples per process call, at most
    int32_t voices = 4;         // module instances (one generation, at most 24)
    std::array<int16_t, LIST_SETTING_COUNT> settings{}; // values, indexed by SETTING_*
    double durationSeconds = 0.0;                       // length of the render; covers every note
    double gainDb = 0.0;                                // applied to the mix, after the module
    std::vector<PatchNote> notes;                       // in file order
};

} // namespace tarn::render
