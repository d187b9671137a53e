// Voice allocation and timelines of a score: which instance plays which note, and every
// instance's gate, sync and control values checked sample by sample against the score.
#include "tools/render/model/score_scheduler.h"

#include <gtest/gtest.h>

using namespace tarn::render;

namespace {

constexpr int32_t RATE = 1000; // one sample per millisecond keeps positions readable

Patch patchWith(int voices, std::vector<std::pair<double, double>> notes) {
    Patch patch;
    patch.fileName = "s.json";
    patch.sampleRate = RATE;
    patch.voices = voices;
    double end = 0.0;
    for (size_t i = 0; i < notes.size(); ++i) {
        PatchNote note;
        note.startSeconds = notes[i].first;
        note.lengthSeconds = notes[i].second;
        note.fc = 0.4f + 0.01f * static_cast<float>(i);
        for (int c = 0; c < CONTROL_COUNT; ++c)
            note.controls[c] = {0.1f * c, 0.1f * c + (c == CONTROL_A ? 0.05f : 0.0f)};
        note.pointer = "/score/" + std::to_string(i);
        end = std::max(end, note.startSeconds + note.lengthSeconds);
        patch.notes.push_back(note);
    }
    patch.durationSeconds = end + 0.1;
    return patch;
}

std::vector<std::vector<size_t>> allocation(const Schedule &schedule) {
    std::vector<std::vector<size_t>> notes;
    for (const auto &instance : schedule.instances) {
        notes.emplace_back();
        for (const auto &s : instance.notes)
            notes.back().push_back(s.note);
    }
    return notes;
}

TEST(ScoreScheduler, GivesEachNoteTheInstanceFreeTheLongest) {
    // Sequential notes rotate over the instances; the chord at 0.5 s takes the two that
    // have been free the longest, and the note at 0.9 s the one whose note ended first.
    Patch patch = patchWith(3, {{0.0, 0.1},
                                {0.1, 0.1},
                                {0.2, 0.1},
                                {0.3, 0.1},
                                {0.5, 0.3},
                                {0.5, 0.2},
                                {0.9, 0.1},
                                {0.8, 0.05}});
    Schedule schedule = scheduleScore(patch);
    const std::vector<std::vector<size_t>> expected = {{0, 3, 7}, {1, 4}, {2, 5, 6}};
    EXPECT_EQ(allocation(schedule), expected);
    EXPECT_EQ(schedule.totalSamples, 1100);
}

TEST(ScoreScheduler, StealsTheInstanceWhoseNoteStartedFirstWhenAllAreBusy) {
    // A note may start on the sample where another ends; one sample earlier it steals. The
    // instance of note 0 (started first) plays note 2: its gate stays open, sync rises again.
    EXPECT_TRUE(allocation(scheduleScore(patchWith(2, {{0.0, 0.5}, {0.1, 0.4}, {0.5, 0.1}}))) ==
                (std::vector<std::vector<size_t>>{{0, 2}, {1}}));
    Schedule schedule =
        scheduleScore(patchWith(2, {{0.0, 0.5}, {0.1, 0.4}, {0.499, 0.1}, {0.7, 0.1}}));
    EXPECT_EQ(allocation(schedule), (std::vector<std::vector<size_t>>{{0, 2}, {1, 3}}));
    const ScheduledNote &thief = schedule.instances[0].notes[1];
    EXPECT_EQ(thief.stolenNote, 0u);
    EXPECT_EQ(schedule.instances[1].notes[1].stolenNote, ScheduledNote::NO_NOTE);
    const auto &in = schedule.instances[0].inputs;
    for (int64_t t : {498, 499, 500, 598})
        EXPECT_EQ(in[INPUT_GATE].valueAt(t), 1.0f) << t;
    EXPECT_EQ(in[INPUT_GATE].valueAt(599), 0.0f);
    EXPECT_EQ(in[INPUT_SYNC].valueAt(498), 0.0f);
    EXPECT_EQ(in[INPUT_SYNC].valueAt(499), 1.0f);
    EXPECT_EQ(in[INPUT_FC].valueAt(499), 0.4f + 0.01f * 2.0f);
    // Three notes on two voices within one sample: the third finds no instance whose sync
    // could rise again, and is dropped.
    Schedule crowded = scheduleScore(patchWith(2, {{0.0, 0.5}, {0.0, 0.5}, {0.001, 0.5}}));
    EXPECT_EQ(crowded.dropped, std::vector<size_t>{2});
}

TEST(ScoreScheduler, TimelinesFollowTheScoreSampleBySample) {
    Patch patch = patchWith(2, {{0.010, 0.020}, {0.015, 0.030}, {0.030, 0.005}, {0.050, 0.010}});
    Schedule schedule = scheduleScore(patch);
    for (const InstanceSchedule &instance : schedule.instances) {
        const PatchNote *held =
            instance.notes.empty() ? nullptr : &patch.notes[instance.notes[0].note];
        for (int64_t t = 0; t < schedule.totalSamples; ++t) {
            const ScheduledNote *playing = nullptr;
            for (const ScheduledNote &s : instance.notes) {
                if (t >= s.onSample)
                    held = &patch.notes[s.note];
                if (t >= s.onSample && t < s.offSample)
                    playing = &s;
            }
            bool syncExpected = false;
            for (const ScheduledNote &s : instance.notes)
                syncExpected = syncExpected || t == s.onSample;
            ASSERT_EQ(instance.inputs[INPUT_GATE].valueAt(t), playing ? 1.0f : 0.0f) << t;
            ASSERT_EQ(instance.inputs[INPUT_SYNC].valueAt(t), syncExpected ? 1.0f : 0.0f) << t;
            ASSERT_EQ(instance.inputs[INPUT_FC].valueAt(t), held->fc) << t;
            const PinRamp &a = held->controls[CONTROL_A];
            float aValue = instance.inputs[INPUT_FIRST_CONTROL + CONTROL_A].valueAt(t);
            if (playing) {
                double u = double(t - playing->onSample) /
                           double(playing->offSample - playing->onSample - 1);
                ASSERT_NEAR(aValue, a.from + (a.to - a.from) * u, 1e-7) << t;
            } else {
                ASSERT_EQ(aValue, t < instance.notes[0].onSample ? a.from : a.to) << t;
            }
        }
        EXPECT_EQ(instance.inputs[INPUT_GATE].length(), schedule.totalSamples);
    }
}

TEST(ScoreScheduler, AnnouncesGateAndSyncAtTheNoteBoundaries) {
    Patch patch = patchWith(1, {{0.010, 0.020}, {0.030, 0.010}});
    Schedule schedule = scheduleScore(patch);
    const InstanceSchedule &instance = schedule.instances[0];
    // Back to back on one instance the gate stays open; sync pulses for the second note.
    std::vector<int64_t> gate, sync;
    for (const PinChange &c : instance.inputs[INPUT_GATE].changes())
        gate.push_back(c.sample);
    for (const PinChange &c : instance.inputs[INPUT_SYNC].changes())
        sync.push_back(c.sample);
    EXPECT_EQ(gate, (std::vector<int64_t>{10, 40}));
    EXPECT_EQ(sync, (std::vector<int64_t>{10, 11, 30, 31}));
}

} // namespace
