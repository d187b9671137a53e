// NoteEvents driven message by message: each channel keeps its own pedal, and the largest
// burst of actions one message can give fits the action list.
#include "midi/note_events.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace tarn::midi;

namespace {

NoteActions actions;

MessageUse send(NoteEvents &events, std::initializer_list<uint8_t> bytes) {
    const uint8_t *message = bytes.begin();
    return events.handle(message, static_cast<uint32_t>(bytes.size()), actions);
}

TEST(NoteEvents, EachChannelKeepsItsOwnPedalAndTheLargestBurstFits) {
    NoteEvents events;
    send(events, {0xB1, 64, 127}); // the pedal down on channel 2 only
    send(events, {0x90, 60, 100});
    send(events, {0x91, 60, 100});
    send(events, {0x80, 60, 0});
    ASSERT_EQ(actions.count, 1);
    EXPECT_EQ(actions.items[0].kind, ActionKind::ReleaseNote);
    send(events, {0x81, 60, 0});
    EXPECT_EQ(actions.count, 0) << "held by channel 2's pedal";
    send(events, {0xB1, 64, 0});
    ASSERT_EQ(actions.count, 1);
    EXPECT_EQ(actions.items[0].channel, 1);

    // Every key let go under the pedal with the wheel full down; reset controllers releases
    // all 128 and then centres the wheel: MAX_ACTIONS actions from one message.
    send(events, {0xE0, 0x00, 0x00});
    EXPECT_EQ(events.bendSemitones(0), -DEFAULT_BEND_RANGE);
    send(events, {0xB0, 64, 127});
    for (uint8_t key = 0; key < KEY_COUNT; ++key) {
        send(events, {0x90, key, 1});
        send(events, {0x90, key, 0});
        EXPECT_EQ(actions.count, 0);
    }
    EXPECT_EQ(send(events, {0xB0, 121, 0}), MessageUse::Played);
    ASSERT_EQ(actions.count, MAX_ACTIONS);
    for (int key = 0; key < KEY_COUNT; ++key) {
        EXPECT_EQ(actions.items[key].kind, ActionKind::ReleaseNote);
        EXPECT_EQ(actions.items[key].key, key);
    }
    EXPECT_EQ(actions.items[KEY_COUNT].kind, ActionKind::SetBend);
    EXPECT_EQ(actions.items[KEY_COUNT].bendSemitones, 0.0);
    send(events, {0xB0, 123, 0});
    EXPECT_EQ(actions.count, 0) << "the keys are up already";
}

} // namespace
