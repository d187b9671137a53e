// Score to per-instance pin timelines, the way a host's polyphonic patch plays it: each note
// goes to the instance that has been free the longest, raises "gate" and "sync" at its first
// sample, drops "sync" one sample later and "gate" at the end of its release. Each instance
// also gets the gain of its notes' envelopes (envelope.h). A pure function of the patch.
#pragma once

#include "tools/Patch.h"
#include "tools/PinTimeline.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tarn::render {

// The audio inputs the score drives, by pin name; timelines are indexed in this order.
constexpr int SCORE_INPUT_COUNT = 9;
constexpr int INPUT_FC = 0;
constexpr int INPUT_GATE = 1;
constexpr int INPUT_SYNC = 2;
constexpr int INPUT_FIRST_CONTROL = 3; // then fm1, N, a, detune, combfreq, combphase
extern const char *const SCORE_INPUT_NAMES[SCORE_INPUT_COUNT];

struct ScheduledNote {
    size_t note;           // index into Patch::notes
    int64_t onSample;      // gate and sync rise here
    int64_t offSample;     // end of the note's length, where its release starts; > onSample
    int64_t gateOffSample; // gate falls here: offSample + release, at most the render's end
};

struct InstanceSchedule {
    std::vector<ScheduledNote> notes;                  // in time order
    std::array<PinTimeline, SCORE_INPUT_COUNT> inputs; // each covers the whole render
    PinTimeline gain; // envelope times velocity, applied to both outputs; the whole render
};

struct Schedule {
    int64_t totalSamples = 0;                // length of the render
    std::vector<InstanceSchedule> instances; // Patch::voices entries
};

// Sample of a time in seconds: the nearest one.
int64_t sampleAt(double seconds, int32_t sampleRate);

// Throws PatchError naming the first note that finds every instance still sounding.
// A note may start on the sample where another ends: that instance is free again.
Schedule scheduleScore(const Patch &patch);

} // namespace tarn::render
