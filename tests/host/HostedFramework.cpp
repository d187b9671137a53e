// The framework driven by the host, linked in: status changes reaching pins at their sample in
// any block, output announcements, routine changes and scheduled calls, all without a single
// contract breach (every event the host delivers satisfies handleEvent's clock check).
#include "host/Host.h"
#include "se_sdk2/SEModule_base.h"
#include "se_sdk2/SEPin.h"
#include "se_sdk2/se_assert.h"
#include "se_sdk2/se_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

struct Seen {
    int32_t pin;
    int32_t status;
    uint32_t clock;
    float sample;
};

// Pin 0 an audio input with a member, pin 1 one without (its buffer comes from the host),
// pin 2 an audio output. Routine A copies pin 0 to the output, routine B copies it negated.
class Probe : public SEModule_base {
public:
    Probe(HostCallback callback, intptr_t hostData) : SEModule_base(callback, hostData) {}

    void open() override {
        setProcessFunction(processFunction<Probe, &Probe::renderA>());
        SEModule_base::open();
    }

    bool getPinProperties(int32_t index, SEPinProperties &p) override {
        if (index < 0 || index > 2) {
            return false;
        }
        p.direction = index == 2 ? DR_OUT : DR_IN;
        p.datatype = DT_FSAMPLE;
        p.name = index == 0 ? "in" : index == 1 ? "free" : "out";
        p.variable_address = index == 0   ? static_cast<void *>(&m_in)
                             : index == 2 ? static_cast<void *>(&m_out)
                                          : nullptr;
        return true;
    }

    void onPlugStateChange(SEPin &pin) override {
        seen.push_back({pin.getIndex(), pin.getStatus(), SampleClock(), pin.getSample()});
        if (onChange) {
            onChange(*this, pin);
        }
    }

    void renderA(int32_t offset, int32_t count) { render(offset, count, 1.0f); }
    void renderB(int32_t offset, int32_t count) { render(offset, count, -1.0f); }
    void tick() { ticks.push_back(SampleClock()); }

    float *m_in = nullptr;
    float *m_out = nullptr;
    std::vector<Seen> seen;
    std::vector<uint32_t> ticks;
    std::vector<uint32_t> renderClocks;
    std::function<void(Probe &, SEPin &)> onChange;
    std::function<void(Probe &)> onRender;

private:
    void render(int32_t offset, int32_t count, float sign) {
        renderClocks.push_back(SampleClock());
        for (int32_t k = offset; k < offset + count; ++k) {
            m_out[k] = sign * m_in[k];
        }
        if (onRender) {
            onRender(*this);
        }
    }
};

SEModuleRecord *SE_CALL makeProbe(int32_t index, int32_t kind, HostCallback callback,
                                  intptr_t hostData) {
    return index == 0 && kind == 1 ? (new Probe(callback, hostData))->getRecord() : nullptr;
}

int32_t SE_CALL probeProperties(int32_t, SEModuleProperties *) {
    return 0;
}

int breaches = 0;
void countBreach(const char *expression, const char *, int32_t) {
    ++breaches;
    ADD_FAILURE() << "contract breach: " << expression;
}

class HostedFramework : public ::testing::Test {
protected:
    void SetUp() override {
        breaches = 0;
        previous = setAssertHandler(&countBreach);
        instance = host.addInstance();
        probe = static_cast<Probe *>(static_cast<SEModule_base *>(instance->record()->object));
    }
    void TearDown() override {
        EXPECT_EQ(breaches, 0);
        setAssertHandler(previous);
    }

    PluginLibrary library{&probeProperties, &makeProbe};
    Host host{library, 48000.0f, 64};
    HostedInstance *instance = nullptr;
    Probe *probe = nullptr;
    SEAssertHandler previous = nullptr;
};

} // namespace

TEST_F(HostedFramework, StatusChangesReachThePinAtTheirSampleInAnyBlock) {
    host.run(150); // block start 128, position 22
    instance->setInput(0, 40, 0.5f);
    const float ramp[] = {0.125f, 0.25f, 0.375f};
    instance->fillInput(1, 50, ramp, 3);
    host.process(22, 10);
    host.process(32, 32);
    host.run(64);

    ASSERT_EQ(probe->seen.size(), 2u);
    EXPECT_EQ(probe->seen[0].pin, 0);
    EXPECT_EQ(probe->seen[0].status, STREAM_SINGLE_CHANGE);
    EXPECT_EQ(probe->seen[0].clock, 168u);
    EXPECT_EQ(probe->seen[0].sample, 0.5f);
    EXPECT_EQ(probe->seen[1].pin, 1); // read through the buffer the host handed the pin
    EXPECT_EQ(probe->seen[1].status, STREAM_RUNNING);
    EXPECT_EQ(probe->seen[1].clock, 178u);
    EXPECT_EQ(probe->seen[1].sample, 0.125f);
    EXPECT_EQ(probe->getPin(0)->getStatus(), STREAM_STEADY);
    EXPECT_EQ(probe->getPin(1)->getStatus(), STREAM_RUNNING);
}

TEST_F(HostedFramework, AnnouncedOutputStatusReachesTheHostAtTheEventsClock) {
    probe->onChange = [](Probe &p, SEPin &) {
        p.getPin(2)->transmitStatus(p.SampleClock(), STREAM_RUNNING);
    };
    instance->scheduleStatus(0, 77, STREAM_SINGLE_CHANGE);
    host.run(128);
    EXPECT_EQ(instance->pin(2)->announced_status, STREAM_RUNNING);
    EXPECT_EQ(instance->pin(2)->announced_clock, 77u);
}

TEST_F(HostedFramework, RoutineChangesTakeEffectFromTheSampleOfTheEvent) {
    probe->onChange = [](Probe &p, SEPin &pin) {
        if (pin.getIndex() == 1) {
            p.setProcessFunction(processFunction<Probe, &Probe::renderB>());
        }
    };
    instance->setInput(0, 0, 0.75f);
    instance->scheduleStatus(1, 40, STREAM_SINGLE_CHANGE);
    instance->scheduleStatus(1, 50, STREAM_SINGLE_CHANGE); // the same routine again
    host.run(64);

    const float *out = instance->output(2);
    EXPECT_TRUE(std::all_of(out, out + 40, [](float x) { return x == 0.75f; }));
    EXPECT_TRUE(std::all_of(out + 40, out + 64, [](float x) { return x == -0.75f; }));
    const auto &log = instance->requests();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const HostRequest &r) { return r.opcode == HOST_PROCESS_CHANGED; }),
              2); // open's, then the switch at 40
    EXPECT_EQ(instance->processEntry(), instance->record()->process_entry);
}

TEST_F(HostedFramework, ScheduledCallsRunOnceAtTheirClock) {
    probe->onRender = [](Probe &p) {
        if (p.renderClocks.size() == 1) {
            p.scheduleCall(p.SampleClock() + 100, scheduledCall<Probe, &Probe::tick>());
            p.scheduleCall(p.SampleClock(), scheduledCall<Probe, &Probe::tick>());
        }
    };
    host.run(256);
    ASSERT_EQ(probe->ticks.size(), 2u);
    EXPECT_EQ(probe->ticks[0], 0u); // posted at the clock of a segment being rendered
    EXPECT_EQ(probe->ticks[1], 100u);
    EXPECT_NE(std::find(probe->renderClocks.begin(), probe->renderClocks.end(), 100u),
              probe->renderClocks.end());
}
