// Voice allocation and timeline construction. Between notes an instance holds the last
// note's control values, so that only gate and sync change at a note's end.
#include "tools/render/model/score_scheduler.h"

#include "tools/render/model/envelope.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tarn::render {

const char *const SCORE_INPUT_NAMES[SCORE_INPUT_COUNT] = {
    "fc", "gate", "sync", "fm1", "N", "a", "detune", "combfreq", "combphase"};

int64_t sampleAt(double seconds, int32_t sampleRate) {
    return static_cast<int64_t>(std::llround(seconds * sampleRate));
}

namespace {

// The value of a ramp over `length` samples at sample i of it.
float rampAt(const PinRamp &r, int64_t i, int64_t length) {
    if (length <= 1 || r.from == r.to)
        return r.from;
    if (i == length - 1)
        return r.to;
    return static_cast<float>(r.from + (static_cast<double>(r.to) - r.from) *
                                           static_cast<double>(i) /
                                           static_cast<double>(length - 1));
}

NoteEnvelope envelopeOf(const PatchNote &note, const ScheduledNote &s, int32_t sampleRate) {
    NoteEnvelope e;
    e.on = s.onSample;
    e.off = s.offSample;
    e.attack = sampleAt(note.attackSeconds, sampleRate);
    e.release = sampleAt(note.releaseSeconds, sampleRate);
    e.peak = note.gain;
    return e;
}

// The note's pitch pin from `on` to `next`: a step at the sample of each of its pitch steps.
void appendPitch(PinTimeline &fc, const PatchNote &note, int64_t on, int64_t next,
                 int32_t sampleRate) {
    int64_t at = on;
    float value = note.fc;
    for (const PitchStep &step : note.pitchSteps) {
        const int64_t t = sampleAt(step.seconds, sampleRate);
        if (t >= next)
            break;
        if (t > at) {
            fc.append(t - at, value, value);
            at = t;
        }
        value = step.fc;
    }
    fc.append(next - at, value, value);
}

void buildTimelines(const Patch &patch, int64_t total, InstanceSchedule &instance) {
    auto &in = instance.inputs;
    if (instance.notes.empty()) {
        for (auto &timeline : in)
            timeline.append(total, 0.0f, 0.0f);
        instance.gain.append(total, 0.0f, 0.0f);
        return;
    }
    // Until its first note an instance holds that note's values with the gate shut.
    const PatchNote &first = patch.notes[instance.notes.front().note];
    int64_t lead = instance.notes.front().onSample;
    in[INPUT_FC].append(lead, first.fc, first.fc);
    in[INPUT_GATE].append(lead, 0.0f, 0.0f);
    in[INPUT_SYNC].append(lead, 0.0f, 0.0f);
    for (int c = 0; c < CONTROL_COUNT; ++c)
        in[INPUT_FIRST_CONTROL + c].append(lead, first.controls[c].from, first.controls[c].from);
    instance.gain.append(lead, 0.0f, 0.0f);

    for (size_t i = 0; i < instance.notes.size(); ++i) {
        const ScheduledNote &s = instance.notes[i];
        const PatchNote &note = patch.notes[s.note];
        const int64_t next = i + 1 < instance.notes.size() ? instance.notes[i + 1].onSample : total;
        const int64_t length = s.offSample - s.onSample;
        const int64_t held = std::min(s.offSample, next) - s.onSample;
        const int64_t gateOpen = std::min(s.gateOffSample, next) - s.onSample;
        appendPitch(in[INPUT_FC], note, s.onSample, next, patch.sampleRate);
        in[INPUT_GATE].append(gateOpen, 1.0f, 1.0f);
        in[INPUT_GATE].append(next - s.onSample - gateOpen, 0.0f, 0.0f);
        in[INPUT_SYNC].append(1, 1.0f, 1.0f);
        in[INPUT_SYNC].append(next - s.onSample - 1, 0.0f, 0.0f);
        for (int c = 0; c < CONTROL_COUNT; ++c) {
            const PinRamp &r = note.controls[c];
            const float last = rampAt(r, held - 1, length);
            in[INPUT_FIRST_CONTROL + c].append(held, r.from, last);
            in[INPUT_FIRST_CONTROL + c].append(next - s.onSample - held, last, last);
        }
        NoteEnvelope envelope = envelopeOf(note, s, patch.sampleRate);
        // A stolen instance's envelope rises from where the cut note left it.
        if (s.stolenNote != ScheduledNote::NO_NOTE)
            envelope.startLevel = instance.gain.valueAt(s.onSample - 1);
        appendEnvelope(instance.gain, envelope, next);
    }
}

} // namespace

Schedule scheduleScore(const Patch &patch) {
    Schedule schedule;
    schedule.totalSamples = sampleAt(patch.durationSeconds, patch.sampleRate);
    schedule.instances.resize(static_cast<size_t>(patch.voices));

    std::vector<size_t> order(patch.notes.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
        return patch.notes[x].startSeconds < patch.notes[y].startSeconds;
    });

    // Per instance: where its latest note started, and where its gate falls after it; -1 for
    // an instance never used.
    const size_t none = schedule.instances.size();
    std::vector<int64_t> lastOn(none, -1);
    std::vector<int64_t> lastOff(none, -1);
    for (size_t n : order) {
        const PatchNote &note = patch.notes[n];
        int64_t on = sampleAt(note.startSeconds, patch.sampleRate);
        int64_t off = sampleAt(note.startSeconds + note.lengthSeconds, patch.sampleRate);
        int64_t gateOff =
            std::min(schedule.totalSamples, off + sampleAt(note.releaseSeconds, patch.sampleRate));
        // "sync" must be low for a sample before it rises again: an instance takes a note only
        // two samples after its previous one started.
        size_t freeLongest = none;
        size_t oldest = none;
        for (size_t v = 0; v < none; ++v) {
            if (lastOn[v] >= 0 && lastOn[v] + 2 > on)
                continue;
            if (lastOff[v] <= on && (freeLongest == none || lastOff[v] < lastOff[freeLongest]))
                freeLongest = v;
            if (oldest == none || lastOn[v] < lastOn[oldest])
                oldest = v;
        }
        const size_t chosen = freeLongest != none ? freeLongest : oldest;
        if (chosen == none) {
            schedule.dropped.push_back(n);
            continue;
        }
        InstanceSchedule &instance = schedule.instances[chosen];
        const size_t stolen =
            freeLongest == none ? instance.notes.back().note : ScheduledNote::NO_NOTE;
        instance.notes.push_back({n, on, off, gateOff, stolen});
        lastOn[chosen] = on;
        lastOff[chosen] = gateOff;
    }
    for (InstanceSchedule &instance : schedule.instances)
        buildTimelines(patch, schedule.totalSamples, instance);
    return schedule;
}

} // namespace tarn::render
