// Score to per-instance pin timelines, the way a host's polyphonic patch plays it: each note
// goes to the instance that has been free the longest (or steals the oldest), raises "gate" and
// "sync" at its first sample, drops "sync" one sample later and "gate" at the end of its release.
// Each instance also gets the gain of its notes' envelopes (envelope.h). A pure function of the
// patch.
#pragma once

#include "tools/render/model/patch.h"
#include "tools/render/model/pin_timeline.h"

#include <array>
#include <cstddef>
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
    size_t stolenNote;     // the note cut short to free this instance, or NO_NOTE
    static constexpr size_t NO_NOTE = SIZE_MAX;
};

struct InstanceSchedule {
    std::vector<ScheduledNote> notes;                  // in time order
    std::array<PinTimeline, SCORE_INPUT_COUNT> inputs; // each covers the whole render
    PinTimeline gain; // envelope times velocity, applied to both outputs; the whole render
};

struct Schedule {
    int64_t totalSamples = 0;                // length of the render
    std::vector<InstanceSchedule> instances; // Patch::voices entries
    std::vector<size_t> dropped; // notes that found every instance starting a note within a
                                 // sample of their own, into Patch::notes
};

// Sample of a time in seconds: the nearest one.
int64_t sampleAt(double seconds, int32_t sampleRate);

// A note takes the instance free the longest; a note may start on the sample where another
// ends (its release included), as that instance is free again. When every instance is still
// sounding, the note steals the one whose note started first, as a polyphonic host does: that
// note is cut where the new one starts, the gate stays open and "sync" rises again.
Schedule scheduleScore(const Patch &patch);

} // namespace tarn::render
