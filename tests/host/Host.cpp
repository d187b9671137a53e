// The host's block loop, checked against a fake module that logs the clock it sees: events
// arrive at their stamps, blocks split there, block start arithmetic, sleep, routine changes,
// posted events, several instances on one clock, a clock that wraps, and the call observer.
#include "host/Host.h"
#include "se_sdk2/se_protocol.h"
#include "support/FakeModule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

struct Hosted {
    explicit Hosted(int32_t blockSize) : host(FakeModule::library(), 48000.0f, blockSize) {
        FakeModule::setTable(basicFakeTable());
        instance = host.addInstance();
        fake = FakeModule::fromRecord(instance->record());
    }
    Host host;
    HostedInstance *instance;
    FakeModule *fake;
};

// Every call renders from the clock of its first element, and the calls tile [0, total).
void expectTiled(const FakeModule &fake, uint32_t firstClock, uint32_t total) {
    uint32_t next = firstClock;
    for (const FakeProcessCall &call : fake.m_calls) {
        EXPECT_EQ(call.clock, call.block_start + static_cast<uint32_t>(call.offset));
        EXPECT_EQ(call.clock, next);
        next = call.clock + static_cast<uint32_t>(call.count);
    }
    EXPECT_EQ(next, firstClock + total);
}

} // namespace

TEST(Host, SplitsBlocksAtEventStampsAndDeliversEachAtItsClock) {
    Hosted h(64);
    // Stamps relative to the first block; two share 13 (queue order must hold), 64 is the
    // second block's first sample.
    const uint32_t offsets[] = {100, 13, 0, 63, 13, 64, 1};
    for (size_t i = 0; i < std::size(offsets); ++i) {
        h.instance->scheduleStatus(0, offsets[i], static_cast<int32_t>(10 + i));
    }
    h.host.run(128);

    ASSERT_EQ(h.fake->m_deliveries.size(), std::size(offsets));
    for (const FakeDelivery &d : h.fake->m_deliveries) {
        EXPECT_EQ(d.clock, d.event.time_stamp);
        EXPECT_EQ(d.block_start, d.clock < 64 ? 0u : 64u);
    }
    const int32_t order[] = {12, 16, 11, 14, 13, 15, 10};
    for (size_t i = 0; i < std::size(order); ++i) {
        EXPECT_EQ(h.fake->m_deliveries[i].event.value1, order[i]);
    }

    // Boundaries: the distinct stamps inside the run and the block edge at 64.
    const uint32_t boundaries[] = {0, 1, 13, 63, 64, 100, 128};
    ASSERT_EQ(h.fake->m_calls.size(), std::size(boundaries) - 1);
    for (size_t i = 0; i + 1 < std::size(boundaries); ++i) {
        EXPECT_EQ(h.fake->m_calls[i].clock, boundaries[i]);
        EXPECT_EQ(h.fake->m_calls[i].count,
                  static_cast<int32_t>(boundaries[i + 1] - boundaries[i]));
    }
    expectTiled(*h.fake, 0, 128);
}

TEST(Host, KeepsClockAndDeliveryInvariantsOverRandomBlockShapes) {
    Hosted h(32);
    std::mt19937 random(2024);
    std::set<uint32_t> stamps;
    for (int step = 0; step < 600; ++step) {
        const int32_t position = h.host.position();
        const int32_t room = h.host.blockSize() - position;
        switch (random() % 4) {
        case 0: { // an event somewhere in this block or the next two
            const uint32_t offset = static_cast<uint32_t>(position) + random() % 96;
            h.instance->scheduleStatus(1, offset, STREAM_RUNNING);
            stamps.insert(h.host.blockStart() + offset);
            break;
        }
        case 1: // a short block
            if (random() % 8 == 0) {
                h.host.nextBlock();
            }
            break;
        default: { // skip some samples, render some
            const int32_t skip = static_cast<int32_t>(random() % 3 == 0 ? random() % room : 0);
            const int32_t count = static_cast<int32_t>(random() % (room - skip + 1));
            ASSERT_TRUE(h.host.process(position + skip, count));
        }
        }
    }
    const uint32_t end = h.host.sampleClock();
    std::set<uint32_t> delivered;
    uint32_t previous = 0;
    for (const FakeDelivery &d : h.fake->m_deliveries) {
        EXPECT_EQ(d.clock, d.event.time_stamp);
        EXPECT_GE(d.clock, previous);
        EXPECT_LT(d.clock - d.block_start, 32u);
        previous = d.clock;
        delivered.insert(d.clock);
    }
    std::set<uint32_t> due;
    for (uint32_t s : stamps) {
        if (s < end) {
            due.insert(s);
        }
    }
    EXPECT_EQ(delivered, due);
    uint32_t next = 0;
    for (const FakeProcessCall &call : h.fake->m_calls) {
        EXPECT_EQ(call.clock, call.block_start + static_cast<uint32_t>(call.offset));
        EXPECT_GE(call.clock, next); // never renders a sample twice
        EXPECT_LE(call.offset + call.count, 32);
        next = call.clock + static_cast<uint32_t>(call.count);
        for (uint32_t s : stamps) { // never renders across a stamp
            EXPECT_FALSE(s > call.clock && s < next) << "stamp " << s << " inside a call";
        }
    }
    EXPECT_EQ(h.instance->lateEventCount(), 0u);
    EXPECT_EQ(h.instance->droppedEventCount(), 0u);
}

TEST(Host, SkippedSamplesAreNotRenderedButTheirEventsArrive) {
    Hosted h(64);
    h.instance->scheduleStatus(0, 5, STREAM_RUNNING);
    ASSERT_TRUE(h.host.process(20, 10));
    ASSERT_EQ(h.fake->m_calls.size(), 1u);
    EXPECT_EQ(h.fake->m_calls[0].offset, 20);
    EXPECT_EQ(h.fake->m_calls[0].clock, 20u);
    ASSERT_EQ(h.fake->m_deliveries.size(), 1u);
    EXPECT_EQ(h.fake->m_deliveries[0].clock, 5u);
    EXPECT_EQ(h.host.position(), 30);

    EXPECT_FALSE(h.host.process(29, 1));  // behind the position
    EXPECT_FALSE(h.host.process(30, 35)); // past the block
    EXPECT_FALSE(h.host.process(30, -1));
    EXPECT_EQ(h.fake->m_calls.size(), 1u);
}

TEST(Host, BlockStartMinusClockIndexesTheSampleAcrossAWrappingClock) {
    Hosted h(64);
    h.host.setSampleClock(0xfffffff0u);
    h.instance->setInput(0, 20, 0.5f);                 // stamp 4, after the wrap
    h.instance->scheduleStatus(0, 8, STREAM_RUNNING);  // stamp 0xfffffff8
    h.instance->scheduleStatus(0, 16, STREAM_RUNNING); // stamp 0
    h.host.run(64);

    ASSERT_EQ(h.fake->m_deliveries.size(), 3u);
    const uint32_t clocks[] = {0xfffffff8u, 0u, 4u};
    const float inputs[] = {0.25f, 0.25f, 0.5f};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(h.fake->m_deliveries[i].clock, clocks[i]);
        EXPECT_EQ(h.fake->m_deliveries[i].block_start, 0xfffffff0u);
        EXPECT_EQ(h.fake->m_deliveries[i].first_input, inputs[i]);
    }
    ASSERT_EQ(h.fake->m_calls.size(), 4u);
    EXPECT_EQ(h.fake->m_calls[2].clock, 0u);
    EXPECT_EQ(h.fake->m_calls[2].offset, 16);
    expectTiled(*h.fake, 0xfffffff0u, 64);
    EXPECT_EQ(h.host.blockStart(), 0x30u);
}

TEST(Host, SleepStopsTheRoutineAndHoldsTheOutputsUntilAStatusEvent) {
    Hosted h(64);
    float ramp[64];
    for (int k = 0; k < 64; ++k) {
        ramp[k] = static_cast<float>(k) / 64.0f;
    }
    h.instance->fillInput(0, 0, ramp, 64);
    h.fake->m_on_process = [](FakeModule &fake, const FakeProcessCall &call) {
        if (call.clock == 0) {
            fake.callHost(HOST_SLEEP);
        }
    };
    h.host.process(0, 40); // renders 0..39 and asks to sleep
    h.instance->queueEvent(SEEvent{50, EV_CALL, 0, 0, 0, 0});
    h.host.process(40, 24);
    h.host.run(64);
    EXPECT_TRUE(h.instance->isAsleep());
    EXPECT_EQ(h.fake->m_calls.size(), 1u);
    EXPECT_EQ(h.fake->m_deliveries.size(), 2u); // the scheduled call and the RUNNING status
    const float *out = h.instance->output(3);
    EXPECT_TRUE(std::all_of(out, out + 64, [&](float x) { return x == ramp[39]; }));

    h.instance->scheduleStatus(1, 10, STREAM_STEADY);
    h.host.run(64);
    EXPECT_FALSE(h.instance->isAsleep());
    ASSERT_EQ(h.fake->m_calls.size(), 2u);
    EXPECT_EQ(h.fake->m_calls[1].offset, 10);
    EXPECT_EQ(out[9], ramp[39]);
    EXPECT_EQ(out[10], ramp[63]); // the held input, copied by the routine
}

TEST(Host, ReReadsTheRoutineOnlyAfterProcessChanged) {
    for (bool notify : {true, false}) {
        Hosted h(64);
        const SEProcessEntry initial = h.instance->processEntry();
        h.fake->m_on_event = [notify](FakeModule &fake, const SEEvent &) {
            fake.switchToB(notify);
        };
        h.instance->scheduleStatus(0, 20, STREAM_RUNNING);
        h.host.run(64);
        ASSERT_EQ(h.fake->m_calls.size(), 2u);
        EXPECT_EQ(h.fake->m_calls[0].routine, 0);
        EXPECT_EQ(h.fake->m_calls[1].routine, notify ? 1 : 0);
        EXPECT_EQ(h.instance->processEntry() != initial, notify);
        EXPECT_EQ(h.instance->output(4)[19], 0.25f);
        EXPECT_EQ(h.instance->output(4)[20], notify ? -0.25f : 0.25f);
    }
}

TEST(Host, PostedEventsComeBackAtTheirStamps) {
    Hosted h(64);
    h.fake->m_on_process = [](FakeModule &fake, const FakeProcessCall &call) {
        if (call.clock == 0) {
            fake.post(80, EV_CALL, 1);         // ahead: splits the next block at 80
            fake.post(call.clock, EV_CALL, 2); // at the clock: already rendered, so late
        }
    };
    h.fake->m_on_event = [](FakeModule &fake, const SEEvent &e) {
        if (e.pointer == 1) {
            fake.post(e.time_stamp, EV_CALL, 3); // same stamp, before rendering resumes
        }
    };
    h.host.run(128);
    ASSERT_EQ(h.fake->m_deliveries.size(), 3u);
    const intptr_t pointers[] = {2, 1, 3};
    const uint32_t clocks[] = {0, 80, 80};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(h.fake->m_deliveries[i].event.pointer, pointers[i]);
        EXPECT_EQ(h.fake->m_deliveries[i].clock, clocks[i]);
        EXPECT_EQ(h.fake->m_deliveries[i].event.type, EV_CALL); // copied before the fake spoiled it
    }
    ASSERT_EQ(h.fake->m_calls.size(), 3u);
    EXPECT_EQ(h.fake->m_calls[2].clock, 80u);
    EXPECT_LT(h.fake->m_deliveries[2].sequence, h.fake->m_calls[2].sequence);
    EXPECT_EQ(h.instance->lateEventCount(), 1u);

    // Posted into a block that has passed: dropped, never delivered at a wrong clock.
    h.fake->m_on_process = [](FakeModule &fake, const FakeProcessCall &call) {
        fake.post(call.clock - 100, EV_CALL, 4);
    };
    h.host.run(64);
    EXPECT_EQ(h.instance->droppedEventCount(), 1u);
    EXPECT_EQ(h.fake->m_deliveries.size(), 3u);
}

TEST(Host, InstancesShareOneClockAndSplitAtEachOthersEvents) {
    Hosted h(64);
    HostedInstance *second = h.host.addInstance();
    FakeModule *other = FakeModule::fromRecord(second->record());
    h.instance->scheduleStatus(0, 40, STREAM_RUNNING);
    second->scheduleStatus(0, 10, STREAM_RUNNING);
    h.host.run(64);

    for (FakeModule *fake : {h.fake, other}) {
        ASSERT_EQ(fake->m_calls.size(), 3u);
        EXPECT_EQ(fake->m_calls[1].clock, 10u);
        EXPECT_EQ(fake->m_calls[2].clock, 40u);
    }
    // The note at 10 happens before the one at 40, whichever instance came first.
    ASSERT_EQ(other->m_deliveries.size(), 1u);
    ASSERT_EQ(h.fake->m_deliveries.size(), 1u);
    EXPECT_LT(other->m_deliveries[0].sequence, h.fake->m_deliveries[0].sequence);
    // Each request went to the instance that made it.
    for (auto pair : {std::make_pair(h.instance, h.fake), std::make_pair(second, other)}) {
        const auto &log = pair.first->requests();
        const auto clockRequests = std::count_if(log.begin(), log.end(), [](const HostRequest &r) {
            return r.opcode == HOST_GET_SAMPLE_CLOCK;
        });
        EXPECT_EQ(static_cast<size_t>(clockRequests),
                  pair.second->m_calls.size() + pair.second->m_deliveries.size());
    }
}

// Logs every call as "kind:args" before ("<") and after (">") and every request ("?") in
// between, so the test sees the nesting as well as the order.
class CallLog : public ModuleCallObserver {
public:
    void beforeCall(HostedInstance &, const ModuleCall &call) override { add('<', call); }
    void afterCall(HostedInstance &, const ModuleCall &call) override { add('>', call); }
    void onRequest(HostedInstance &, const HostRequest &request) override {
        entries.push_back("?" + std::to_string(request.opcode));
    }
    std::vector<std::string> entries;

private:
    void add(char side, const ModuleCall &call) {
        std::string text(1, side);
        switch (call.kind) {
        case MODULE_CALL_MAKE:
            text += "make" + std::to_string(call.opcode) + "," + std::to_string(call.index);
            break;
        case MODULE_CALL_DISPATCH:
            text += "op" + std::to_string(call.opcode);
            break;
        case MODULE_CALL_PROCESS:
            text += "process" + std::to_string(call.offset) + "," + std::to_string(call.count);
            break;
        default:
            text += "event@" + std::to_string(call.event->time_stamp);
        }
        entries.push_back(text);
    }
};

TEST(Host, CallObserverSeesEveryCallAroundItsRequests) {
    FakeModule::setTable(basicFakeTable());
    Host host(FakeModule::library(), 48000.0f, 32);
    CallLog log;
    host.setCallObserver(&log);
    HostedInstance *instance = host.makeInstance();
    ASSERT_NE(instance, nullptr);
    instance->open();
    instance->scheduleStatus(0, 10, STREAM_RUNNING);
    host.process(0, 16);
    instance->close();

    // Pin descriptions 0..4 answer, 5 ends them; then open with its pin count, two segments
    // split at the event, the event between them, each asking for the clock and the block
    // start as the fake does, and the close.
    std::vector<std::string> expected = {"<make0,1", ">make0,1"};
    for (int i = 0; i <= 5; ++i) {
        expected.insert(expected.end(), {"<op6", ">op6"});
    }
    expected.insert(expected.end(), {"<op0", "?14", ">op0", "<process0,10", "?3", "?8",
                                     ">process0,10", "<event@10", "?3", "?8", ">event@10",
                                     "<process10,6", "?3", "?8", ">process10,6", "<op1", ">op1"});
    EXPECT_EQ(log.entries, expected);
}
