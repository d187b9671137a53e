// One hosted instance against the fake module: pin binding as a host does it, input shaping
// and its status events, list settings, guard zones, the request log and the close.
#include "host/Host.h"
#include "se_sdk2/se_protocol.h"
#include "support/FakeModule.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<FakePinRow> tableWithUiPins() {
    return {
        {DR_IN, DT_FSAMPLE, "in", "0.5", 0, true},
        {DR_IN, DT_FSAMPLE, "unbound", "-1", 0, false},
        {DR_IN, DT_FSAMPLE, "ui", nullptr, IO_UI_COMMUNICATION, true},
        {DR_IN, DT_ENUM, "poly", "8", 0, true},
        {DR_IN, DT_ENUM, "kept", nullptr, IO_UI_COMMUNICATION | IO_KEEP_PIN, true},
        {DR_OUT, DT_FSAMPLE, "out", nullptr, 0, true},
    };
}

bool holds(const float *buffer, int32_t from, int32_t to, float value) {
    return std::all_of(buffer + from, buffer + to, [value](float x) { return x == value; });
}

} // namespace

TEST(HostedInstance, BindsPinsTheWayTheModulesOpenCountsThem) {
    FakeModule::setTable(tableWithUiPins());
    Host host(FakeModule::library(), 44100.0f, 32);
    HostedInstance *instance = host.addInstance();
    FakeModule *fake = FakeModule::fromRecord(instance->record());

    EXPECT_EQ(instance->descriptionCount(), 6);
    ASSERT_EQ(instance->pinCount(), 5); // the UI pin without IO_KEEP_PIN has no number
    EXPECT_EQ(fake->m_unclean_records, 0);
    const char *names[] = {"in", "unbound", "poly", "kept", "out"};
    for (int32_t pin = 0; pin < 5; ++pin) {
        EXPECT_STREQ(instance->pin(pin)->properties.name, names[pin]);
    }
    EXPECT_EQ(instance->findPin("out"), 4);
    EXPECT_EQ(instance->findPin("ui"), -1);

    // Audio members hold the host's buffers; the unbound one was asked for by pin number.
    EXPECT_EQ(fake->buffer(0), instance->buffer(0));
    EXPECT_EQ(fake->buffer(1), instance->buffer(1));
    EXPECT_EQ(fake->buffer(4), instance->buffer(4));
    EXPECT_NE(instance->buffer(0), instance->buffer(1));
    EXPECT_EQ(instance->buffer(2), nullptr);
    EXPECT_TRUE(holds(instance->buffer(0), 0, 32, 0.5f));
    EXPECT_TRUE(holds(instance->buffer(1), 0, 32, -1.0f));
    EXPECT_EQ(fake->m_lists[2], 8); // a list default is a value
    EXPECT_EQ(fake->m_lists[3], 0);

    const auto &log = instance->requests();
    const auto count = std::find_if(log.begin(), log.end(), [](const HostRequest &r) {
        return r.opcode == HOST_GET_PIN_COUNT;
    });
    EXPECT_NE(count, log.end());
    EXPECT_EQ(instance->pin(99), nullptr);
    EXPECT_EQ(instance->pin(-1), nullptr);
}

TEST(HostedInstance, InputsHoldTheirValueAndAnnounceChangesAtTheirSample) {
    FakeModule::setTable(basicFakeTable());
    Host host(FakeModule::library(), 44100.0f, 32);
    HostedInstance *instance = host.makeInstance();
    EXPECT_TRUE(instance->setInput(0, 4, 0.75f)); // before open: written, not announced
    EXPECT_TRUE(instance->pendingEvents().empty());
    instance->open();

    EXPECT_TRUE(instance->setInput(0, 20, -0.5f));
    const float ramp[] = {0.1f, 0.2f, 0.3f};
    EXPECT_TRUE(instance->fillInput(1, 8, ramp, 3));
    EXPECT_TRUE(instance->fillInput(1, 11, ramp, 3)); // still running: not announced again
    const float *in = instance->buffer(0);
    EXPECT_TRUE(holds(in, 0, 4, 0.25f));
    EXPECT_TRUE(holds(in, 4, 20, 0.75f));
    EXPECT_TRUE(holds(in, 20, 32, -0.5f));
    EXPECT_TRUE(holds(instance->buffer(1), 14, 32, 0.3f));
    const auto &events = instance->pendingEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].time_stamp, 20u);
    EXPECT_EQ(events[0].type, EV_PIN_STATUS);
    EXPECT_EQ(events[0].value1, STREAM_SINGLE_CHANGE);
    EXPECT_EQ(events[0].pointer, 0);
    EXPECT_EQ(events[1].time_stamp, 8u);
    EXPECT_EQ(events[1].value1, STREAM_RUNNING);
    EXPECT_EQ(events[1].pointer, 1);

    host.run(40); // the next block starts with the held values
    EXPECT_TRUE(holds(in, 0, 32, -0.5f));
    EXPECT_TRUE(holds(instance->buffer(1), 0, 32, 0.3f));

    // Rejected: behind the position, past the block, not an audio input, empty fill.
    EXPECT_FALSE(instance->setInput(0, 7, 1.0f));
    EXPECT_FALSE(instance->setInput(0, 32, 1.0f));
    EXPECT_FALSE(instance->setInput(3, 9, 1.0f));
    EXPECT_FALSE(instance->setInput(2, 9, 1.0f));
    EXPECT_FALSE(instance->fillInput(1, 30, ramp, 3));
    EXPECT_FALSE(instance->fillInput(1, 9, ramp, 0));
    EXPECT_TRUE(holds(in, 8, 32, -0.5f));
}

TEST(HostedInstance, ListValuesReachTheMemberAndAreAnnouncedAtTheClock) {
    FakeModule::setTable(basicFakeTable());
    Host host(FakeModule::library(), 44100.0f, 32);
    HostedInstance *instance = host.addInstance();
    FakeModule *fake = FakeModule::fromRecord(instance->record());
    host.run(13);
    EXPECT_TRUE(instance->setList(2, -7));
    EXPECT_EQ(fake->m_lists[2], -7);
    EXPECT_FALSE(instance->setList(0, 1));
    host.run(1);
    ASSERT_EQ(fake->m_deliveries.size(), 1u);
    EXPECT_EQ(fake->m_deliveries[0].clock, 13u);
    EXPECT_EQ(fake->m_deliveries[0].event.pointer, 2);
    EXPECT_EQ(fake->m_deliveries[0].event.value1, STREAM_SINGLE_CHANGE);
}

TEST(HostedInstance, GuardZonesRevealWritesOutsideTheBlock) {
    for (int32_t stray : {-1, 0, 32}) {
        FakeModule::setTable(basicFakeTable());
        Host host(FakeModule::library(), 44100.0f, 32);
        HostedInstance *instance = host.addInstance();
        FakeModule *fake = FakeModule::fromRecord(instance->record());
        fake->m_on_process = [stray](FakeModule &f, const FakeProcessCall &) {
            f.buffer(4)[stray] = 1.0f;
        };
        host.run(32);
        EXPECT_EQ(instance->guardsIntact(), stray == 0) << "write at " << stray;
    }
}

TEST(HostedInstance, LogsEveryRequestWithTheClockAndKeepsAnnouncedStatuses) {
    FakeModule::setTable(basicFakeTable());
    Host host(FakeModule::library(), 44100.0f, 32);
    HostedInstance *instance = host.addInstance();
    FakeModule *fake = FakeModule::fromRecord(instance->record());
    int seenDuringCall = 0;
    instance->setRequestObserver([&](const HostRequest &r) { seenDuringCall += r.opcode == 99; });
    int32_t marker = 0;
    fake->m_on_event = [&marker](FakeModule &f, const SEEvent &) {
        EXPECT_EQ(f.callHost(99, 5, 6, &marker), 0);
        f.callHost(HOST_SET_PIN_STATUS, 3, STREAM_RUNNING, reinterpret_cast<void *>(uintptr_t{40}));
        EXPECT_EQ(f.callHost(HOST_PIN_QUERY, 4), 1);
        EXPECT_EQ(f.callHost(HOST_PIN_QUERY, 5), 0);
        EXPECT_EQ(f.callHost(HOST_GET_PIN_BUFFER, 2), 0); // a list pin has no buffer
    };
    instance->clearRequests();
    instance->scheduleStatus(1, 17, STREAM_RUNNING);
    host.run(32);

    const auto &log = instance->requests();
    const auto it =
        std::find_if(log.begin(), log.end(), [](const HostRequest &r) { return r.opcode == 99; });
    ASSERT_NE(it, log.end());
    EXPECT_EQ(it->index, 5);
    EXPECT_EQ(it->value, 6);
    EXPECT_EQ(it->ptr, reinterpret_cast<intptr_t>(&marker));
    EXPECT_EQ(it->opt, 0.0f);
    EXPECT_EQ(it->clock, 17u);
    EXPECT_EQ(seenDuringCall, 1);
    EXPECT_EQ(instance->pin(3)->announced_status, STREAM_RUNNING);
    EXPECT_EQ(instance->pin(3)->announced_clock, 40u);
    EXPECT_EQ(instance->pin(4)->announced_status, STREAM_STEADY);
}

TEST(HostedInstance, CloseEndsTheModuleAndTheHostClosesTheRest) {
    FakeModule::setTable(basicFakeTable());
    const int32_t before = FakeModule::liveCount();
    {
        Host host(FakeModule::library(), 44100.0f, 32);
        EXPECT_EQ(host.makeInstance(0, 2), nullptr);
        EXPECT_EQ(host.makeInstance(1, 1), nullptr);
        EXPECT_EQ(host.instanceCount(), 0u);
        HostedInstance *first = host.addInstance();
        HostedInstance *second = host.addInstance();
        EXPECT_EQ(first->record()->host_data, first->hostData());
        EXPECT_EQ(FakeModule::liveCount(), before + 2);

        first->scheduleStatus(0, 5, STREAM_RUNNING);
        EXPECT_EQ(first->close(), 1);
        EXPECT_EQ(first->record(), nullptr);
        EXPECT_TRUE(first->pendingEvents().empty());
        EXPECT_EQ(first->close(), 0);
        EXPECT_EQ(first->dispatch(MOD_OPEN, 0, 0, nullptr, 0.0f), 0);
        EXPECT_FALSE(first->setList(2, 1));
        host.run(64); // only the second one renders
        EXPECT_EQ(FakeModule::fromRecord(second->record())->m_calls.size(), 2u);
        EXPECT_EQ(FakeModule::liveCount(), before + 1);
    }
    EXPECT_EQ(FakeModule::liveCount(), before);
}

TEST(HostedInstance, RequestsWithAnUnknownRecordAreAnsweredZero) {
    FakeModule::setTable(basicFakeTable());
    Host host(FakeModule::library(), 44100.0f, 32);
    FakeModule *fake = FakeModule::fromRecord(host.addInstance()->record());
    const uint32_t before = HostedInstance::strayRequestCount();
    SEModuleRecord stranger{};
    EXPECT_EQ(fake->m_callback(&stranger, HOST_GET_PIN_COUNT, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(HostedInstance::strayRequestCount(), before + 1);
}
