// Time-stamped events: delivery through event_entry into handleEvent, posting events to the
// host, and scheduled calls coming back as EV_CALL.
#include "se_sdk2/SEModule_base.h"

#include "support/AssertRecorder.h"
#include "support/ProbeModule.h"
#include "support/RecordingCallback.h"
#include "support/record_access.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using Calls = std::vector<std::string>;

namespace {

void deliver(SEModule_base &module, SEEvent event) {
    module.getRecord()->event_entry(module.getRecord()->object, &event);
}

SEEvent makeEvent(uint32_t timeStamp, int32_t type, int32_t value1, int32_t value2,
                  intptr_t pointer) {
    return SEEvent{timeStamp, type, value1, value2, pointer, 0};
}

// A module opened with `count` pins, all described as audio inputs without members.
void openWithPins(RecordingCallback &host, ProbeModule &module, int32_t count) {
    host.answer(HOST_GET_PIN_COUNT, count);
    for (int32_t i = 0; i < count; ++i) {
        module.descriptions.push_back(describe(DT_FSAMPLE, nullptr));
    }
    dispatch(module.getRecord(), MOD_OPEN);
    module.calls.clear();
    host.clear();
}

} // namespace

TEST(ModuleEvents, WithoutCallbackTheClockIsZeroAndAnEventAtZeroIsHandled) {
    ProbeModule module(nullptr);
    AssertRecorder breaches;
    deliver(module, makeEvent(0, EV_PIN_DATA, 4, 5, 0));
    EXPECT_EQ(module.calls, Calls{"onDataEvent 0 4 5"});
    EXPECT_TRUE(breaches.reports().empty());
}

TEST(ModuleEvents, EventAtAnotherClockIsABreach) {
    RecordingCallback host;
    host.setClock(100);
    ProbeModule module;
    AssertRecorder breaches;
    deliver(module, makeEvent(99, EV_PIN_DATA, 0, 0, 0));
    EXPECT_EQ(breaches.expressions(), std::vector<std::string>{"e->time_stamp == SampleClock()"});
    EXPECT_EQ(breaches.reports()[0].source, "se_sdk2/SEModule_base");
}

TEST(ModuleEvents, PinStatusReachesThePinAndThenTheModule) {
    RecordingCallback host;
    ProbeModule module;
    openWithPins(host, module, 4);
    host.setClock(64);
    deliver(module, makeEvent(64, EV_PIN_STATUS, STREAM_RUNNING, 0, 3));
    EXPECT_EQ(module.pins()[3].getStatus(), STREAM_RUNNING);
    EXPECT_EQ(module.plugStates, (std::vector<std::pair<int32_t, int32_t>>{{3, STREAM_RUNNING}}));
}

TEST(ModuleEvents, PinStatusBeforeOpenIsABreachAndChangesNothing) {
    RecordingCallback host;
    ProbeModule module;
    AssertRecorder breaches;
    deliver(module, makeEvent(0, EV_PIN_STATUS, STREAM_RUNNING, 0, 0));
    EXPECT_EQ(breaches.expressions(), std::vector<std::string>{"m_pins != 0"});
    EXPECT_TRUE(module.plugStates.empty());
}

TEST(ModuleEvents, PinStatusOutsideThePinArrayIsABreachAndDropped) {
    RecordingCallback host;
    ProbeModule module;
    openWithPins(host, module, 4);
    std::vector<intptr_t> numbers = {4, 5, -1, INT32_MAX, INT32_MIN, INTPTR_MAX};
    if (sizeof(intptr_t) == 8) {
        // Would alias pin 1 if the number were cut to 32 bits.
        numbers.push_back(intptr_t((uint64_t(1) << 32) + 1));
    }
    for (intptr_t number : numbers) {
        AssertRecorder breaches;
        deliver(module, makeEvent(0, EV_PIN_STATUS, STREAM_RUNNING, 0, number));
        EXPECT_EQ(breaches.expressions(),
                  std::vector<std::string>{"index >= 0 && index < m_pin_count"})
            << "pin " << number;
    }
    EXPECT_TRUE(module.plugStates.empty());
    for (int32_t j = 0; j < 4; ++j) {
        EXPECT_EQ(module.pins()[j].getStatus(), STREAM_STEADY);
    }
}

TEST(ModuleEvents, StatusOfAnUnboundArrayEntryNotifiesNobody) {
    RecordingCallback host;
    host.answer(HOST_GET_PIN_COUNT, 4);
    ProbeModule module;
    module.descriptions = {describe(DT_FSAMPLE, nullptr)};
    dispatch(module.getRecord(), MOD_OPEN);
    AssertRecorder breaches;
    deliver(module, makeEvent(0, EV_PIN_STATUS, STREAM_RUNNING, 0, 2));
    EXPECT_TRUE(module.plugStates.empty());
    EXPECT_TRUE(breaches.reports().empty());
}

TEST(ModuleEvents, PinDataPassesTheSignExtendedLow16BitsAsIdentifier) {
    RecordingCallback host;
    const struct {
        int32_t value2;
        int16_t id;
    } cases[] = {{5, 5}, {0x18000, -32768}, {0xFFFF, -1}, {0x7FFF, 32767}, {-2, -2}};
    for (const auto &c : cases) {
        ProbeModule module;
        host.setClock(3000000000u);
        deliver(module, makeEvent(3000000000u, EV_PIN_DATA, -7, c.value2, 0));
        EXPECT_EQ(module.calls, Calls{"onDataEvent 3000000000 -7 " + std::to_string(c.id)});
    }
}

TEST(ModuleEvents, OtherEventTypesChangeNothing) {
    RecordingCallback host;
    ProbeModule module;
    openWithPins(host, module, 2);
    AssertRecorder breaches;
    for (int32_t type : {1, 6, 22, -1, INT32_MIN}) {
        deliver(module, makeEvent(0, type, STREAM_RUNNING, 1, 1));
    }
    EXPECT_TRUE(module.calls.empty());
    EXPECT_EQ(module.pins()[1].getStatus(), STREAM_STEADY);
    EXPECT_EQ(host.requests().size(), host.requests(HOST_GET_SAMPLE_CLOCK).size());
    EXPECT_TRUE(breaches.reports().empty());
}

TEST(ModuleEvents, PostEventAtTheCurrentClockSendsSixWordsEndingInZero) {
    RecordingCallback host;
    host.setClock(480);
    ProbeModule module;
    AssertRecorder breaches;
    module.postEvent(480, 7, -1, 2, 3);
    EXPECT_TRUE(breaches.reports().empty());
    const auto posted = host.requests(HOST_POST_EVENT);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].index, 0);
    EXPECT_EQ(posted[0].value, 0);
    const SEEvent &e = posted[0].event;
    EXPECT_EQ(readAt<uint32_t>(&e, 0), 480u);
    EXPECT_EQ(readAt<int32_t>(&e, 4), 7);
    EXPECT_EQ(readAt<int32_t>(&e, 8), -1);
    EXPECT_EQ(readAt<int32_t>(&e, 12), 2);
    EXPECT_EQ(readAt<intptr_t>(&e, 16), 3);
    EXPECT_EQ(readAt<int32_t>(&e, 16 + sizeof(intptr_t)), 0);
}

TEST(ModuleEvents, PostEventIntoThePastIsABreach) {
    RecordingCallback host;
    host.setClock(480);
    ProbeModule module;
    AssertRecorder breaches;
    module.postEvent(479, EV_PIN_DATA, 0, 0, 0);
    module.scheduleCall(100, scheduledCall<ProbeModule, &ProbeModule::tick>());
    EXPECT_EQ(breaches.expressions(), (std::vector<std::string>{"p_time_stamp >= SampleClock()",
                                                                "p_time_stamp >= SampleClock()"}));
}

TEST(ModuleEvents, WithoutCallbackPostingChecksAndSendsNothing) {
    ProbeModule module(nullptr);
    AssertRecorder breaches;
    module.postEvent(0, EV_PIN_DATA, 0, 0, 0);
    module.scheduleCall(0, scheduledCall<ProbeModule, &ProbeModule::tick>());
    EXPECT_TRUE(breaches.reports().empty());
}

TEST(ModuleEvents, ScheduledCallRunsOnceWhenTheHostHandsItBack) {
    RecordingCallback host;
    host.setClock(1000);
    ProbeModule module;
    module.scheduleCall(1010, scheduledCall<ProbeModule, &ProbeModule::tick>());
    const auto posted = host.requests(HOST_POST_EVENT);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].event.type, EV_CALL);
    EXPECT_EQ(posted[0].event.value1, 0);
    EXPECT_EQ(posted[0].event.value2, 0);
    EXPECT_TRUE(module.calls.empty());
    host.setClock(1010);
    deliver(module, posted[0].event);
    EXPECT_EQ(module.calls, Calls{"tick"});
}

TEST(ModuleEvents, ScheduledVirtualCallRunsTheObjectsOverride) {
    RecordingCallback host;
    DerivedProbe module;
    module.scheduleCall(0, scheduledCall<ProbeModule, &ProbeModule::virtualTick>());
    deliver(module, host.requests(HOST_POST_EVENT).at(0).event);
    EXPECT_EQ(module.calls, Calls{"virtualTick derived"});
}
