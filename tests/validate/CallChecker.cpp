// The validator's per-call checks against hand-made faults: calls it watches whose module side
// is written here (buffers written just so, requests built field by field, an allocation or a
// lock, a corrupted phase), around one real instance of the plug-in. Every fault must fail on
// the check that names it, and the same call without the fault must pass, so that each case
// fails for its own reason.
#include "tools/validate/shared/CallChecker.h"

#include "host/Host.h"
#include "host/PluginLibrary.h"
#include "se_sdk2/se_protocol.h"
#include "tools/validate/tarn_access.h"

#include "support/param_names.h"
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <pthread.h>
#include <string>

namespace {

constexpr int32_t BLOCK = 64;

// What a pretend module sees of the instance during a watched call.
struct Buffers {
    float *outl, *outr, *fc, *gate;
    int32_t offset, count;

    void writeRange(float value) const {
        for (int32_t i = offset; i < offset + count; ++i) {
            outl[i] = value;
            outr[i] = -value;
        }
    }
};

class CallCheckerTest : public ::testing::Test {
protected:
    CallCheckerTest()
        : library(TARN_PLUGIN_PATH), checker(figures, "unit"), host(library, 44100.0f, BLOCK) {
        checker.attach(host);
        instance = host.addInstance();
    }

    void SetUp() override {
        ASSERT_NE(instance, nullptr);
        ASSERT_EQ(figures.failures, 0u) << figures.first_failure;
        // The gate open everywhere, so that non-zero outputs are allowed.
        float *gate = instance->buffer(instance->findPin("gate"));
        ASSERT_NE(gate, nullptr);
        std::fill(gate, gate + BLOCK, 1.0f);
    }

    Buffers buffers(int32_t offset, int32_t count) {
        return Buffers{instance->buffer(instance->findPin("outputl")),
                       instance->buffer(instance->findPin("outputr")),
                       instance->buffer(instance->findPin("fc")),
                       instance->buffer(instance->findPin("gate")),
                       offset,
                       count};
    }

    // A watched call of `kind` (dispatch calls carry `opcode`) with `body` in the module's place.
    void pretend(int32_t kind, int32_t offset, int32_t count, const std::function<void()> &body,
                 int32_t opcode = MOD_NOTIFY) {
        ModuleCall call{};
        call.kind = kind;
        call.opcode = opcode;
        call.offset = offset;
        call.count = count;
        SEEvent event{};
        call.event = &event;
        checker.manualCall(*instance, call, body);
    }

    // The name of the first failed check, "" when none failed.
    std::string firstCheck() const {
        const std::string first = figures.first_failure;
        return figures.failures == 0 ? "" : first.substr(0, first.find(':'));
    }

    PluginLibrary library;
    RunFigures figures{};
    CallChecker checker; // outlives the host, which reports its closing calls to it
    Host host;
    HostedInstance *instance = nullptr;
};

struct BufferCase {
    const char *what;
    const char *check; // "" for a call that must pass
    int32_t kind, offset, count;
    std::function<void(const Buffers &)> prepare; // before the call; null for nothing
    std::function<void(const Buffers &)> body;    // the module's part
};

void PrintTo(const BufferCase &c, std::ostream *out) {
    *out << c.what;
}

class CallCheckerBuffers : public CallCheckerTest,
                           public ::testing::WithParamInterface<BufferCase> {};

TEST_P(CallCheckerBuffers, FailsExactlyTheFaultyCall) {
    const BufferCase &c = GetParam();
    const Buffers b = buffers(c.offset, c.count);
    if (c.prepare) {
        c.prepare(b);
    }
    pretend(c.kind, c.offset, c.count, [&] { c.body(b); });
    EXPECT_EQ(firstCheck(), c.check) << figures.first_failure;
    EXPECT_EQ(figures.failures, *c.check ? 1u : 0u);
}

void written(const Buffers &b) {
    b.writeRange(0.25f);
}

// The range written with `value` at one sample of "outputr", 0.25 elsewhere.
std::function<void(const Buffers &)> writtenWith(float value) {
    return [value](const Buffers &b) {
        b.writeRange(0.25f);
        b.outr[b.offset + b.count / 2] = value;
    };
}

const float QUIET_NAN = std::numeric_limits<float>::quiet_NaN();
const float INF = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, CallCheckerBuffers,
    ::testing::Values(
        BufferCase{"range written", "", MODULE_CALL_PROCESS, 8, 40, nullptr, written},
        BufferCase{"whole block written", "", MODULE_CALL_PROCESS, 0, BLOCK, nullptr, written},
        BufferCase{"one sample past the range", "out-of-block-write", MODULE_CALL_PROCESS, 8, 40,
                   nullptr,
                   [](const Buffers &b) {
                       written(b);
                       b.outl[b.offset + b.count] = 0.25f;
                   }},
        BufferCase{"one sample before the range", "out-of-block-write", MODULE_CALL_PROCESS, 8, 40,
                   nullptr,
                   [](const Buffers &b) {
                       written(b);
                       b.outr[b.offset - 1] = 0.25f;
                   }},
        BufferCase{"a write in an empty call", "out-of-block-write", MODULE_CALL_PROCESS, 20, 0,
                   nullptr, [](const Buffers &b) { b.outl[20] = 0.25f; }},
        BufferCase{"an output written by a dispatch call", "out-of-block-write",
                   MODULE_CALL_DISPATCH, 0, 0, nullptr, [](const Buffers &b) { b.outl[5] = 1.0f; }},
        BufferCase{"an output written by an event call", "out-of-block-write", MODULE_CALL_EVENT, 0,
                   0, nullptr, [](const Buffers &b) { b.outr[BLOCK - 1] = 1.0f; }},
        BufferCase{"the guard before a buffer", "guard-zone", MODULE_CALL_PROCESS, 0, BLOCK,
                   nullptr,
                   [](const Buffers &b) {
                       written(b);
                       b.outl[-1] = 0.0f;
                   }},
        BufferCase{"the guard after a buffer", "guard-zone", MODULE_CALL_PROCESS, 0, BLOCK, nullptr,
                   [](const Buffers &b) {
                       written(b);
                       b.outr[BLOCK + HostedInstance::GUARD_SAMPLES - 1] = 0.0f;
                   }},
        BufferCase{"the first sample left unwritten", "unwritten-sample", MODULE_CALL_PROCESS, 8,
                   40, nullptr,
                   [](const Buffers &b) {
                       for (int32_t i = b.offset; i < b.offset + b.count; ++i) {
                           b.outr[i] = 0.25f;
                           b.outl[i] = i == b.offset ? b.outl[i] : 0.25f;
                       }
                   }},
        BufferCase{"the last sample of outputr left unwritten", "unwritten-sample",
                   MODULE_CALL_PROCESS, 0, BLOCK, nullptr,
                   [](const Buffers &b) {
                       for (int32_t i = 0; i < BLOCK; ++i) {
                           b.outl[i] = 0.25f;
                           b.outr[i] = i == BLOCK - 1 ? b.outr[i] : 0.25f;
                       }
                   }},
        BufferCase{"an input written", "input-written", MODULE_CALL_PROCESS, 0, BLOCK, nullptr,
                   [](const Buffers &b) {
                       written(b);
                       b.fc[3] = 0.7f;
                   }},
        BufferCase{"an input written by a dispatch call", "input-written", MODULE_CALL_DISPATCH, 0,
                   0, nullptr, [](const Buffers &b) { b.fc[BLOCK - 1] = -0.0f; }},
        BufferCase{"a NaN", "non-finite", MODULE_CALL_PROCESS, 0, BLOCK, nullptr,
                   writtenWith(QUIET_NAN)},
        BufferCase{"plus Inf", "non-finite", MODULE_CALL_PROCESS, 0, BLOCK, nullptr,
                   writtenWith(INF)},
        BufferCase{"minus Inf", "non-finite", MODULE_CALL_PROCESS, 0, BLOCK, nullptr,
                   writtenWith(-INF)},
        BufferCase{"a subnormal", "subnormal", MODULE_CALL_PROCESS, 0, BLOCK, nullptr,
                   writtenWith(1e-40f)},
        BufferCase{"the smallest negative subnormal", "subnormal", MODULE_CALL_PROCESS, 0, BLOCK,
                   nullptr, writtenWith(-std::numeric_limits<float>::denorm_min())},
        BufferCase{"the smallest normal", "", MODULE_CALL_PROCESS, 0, BLOCK, nullptr,
                   writtenWith(FLT_MIN)},
        BufferCase{"the largest finite value", "", MODULE_CALL_PROCESS, 0, BLOCK, nullptr,
                   writtenWith(-FLT_MAX)},
        BufferCase{"sound where the gate is 0", "gate", MODULE_CALL_PROCESS, 0, BLOCK,
                   [](const Buffers &b) { b.gate[10] = 0.0f; }, written},
        BufferCase{"silence where the gate is 0", "", MODULE_CALL_PROCESS, 0, BLOCK,
                   [](const Buffers &b) { b.gate[10] = 0.0f; },
                   [](const Buffers &b) {
                       written(b);
                       b.outl[10] = b.outr[10] = 0.0f;
                   }},
        BufferCase{"sound where the gate is just open", "", MODULE_CALL_PROCESS, 0, BLOCK,
                   [](const Buffers &b) { b.gate[10] = FLT_MIN; }, written}),
    NameByWhat());

struct RequestCase {
    const char *what;
    const char *check; // "" for a request that must pass
    int32_t kind;      // of the call it arrives in; -1 for none
    int32_t opcode, index, value;
    int64_t stamp; // ptr as a clock relative to the host's, or the event's stamp
    float opt;
    int32_t call_opcode = MOD_NOTIFY; // of a dispatch call
};

void PrintTo(const RequestCase &c, std::ostream *out) {
    *out << c.what;
}

class CallCheckerRequests : public CallCheckerTest,
                            public ::testing::WithParamInterface<RequestCase> {};

constexpr int64_t NO_PTR = INT64_MIN;

TEST_P(CallCheckerRequests, FailsExactlyTheMalformedRequest) {
    const RequestCase &c = GetParam();
    host.setSampleClock(1000);
    SEEvent event{};
    HostRequest request{};
    request.opcode = c.opcode;
    request.index = c.index;
    request.value = c.value;
    request.opt = c.opt;
    if (c.opcode == HOST_POST_EVENT) {
        event.time_stamp = static_cast<uint32_t>(host.sampleClock() + c.stamp);
        request.ptr = c.stamp == NO_PTR ? 0 : reinterpret_cast<intptr_t>(&event);
    } else if (c.stamp != NO_PTR) {
        request.ptr = static_cast<intptr_t>(static_cast<uint32_t>(host.sampleClock() + c.stamp));
    }
    const Buffers b = buffers(0, BLOCK);
    if (c.kind < 0) {
        checker.onRequest(*instance, request);
    } else {
        pretend(
            c.kind, 0, c.kind == MODULE_CALL_PROCESS ? BLOCK : 0,
            [&] {
                if (c.kind == MODULE_CALL_PROCESS) {
                    b.writeRange(0.0f);
                }
                checker.onRequest(*instance, request);
            },
            c.call_opcode);
    }
    EXPECT_EQ(firstCheck(), c.check) << figures.first_failure;
    EXPECT_EQ(figures.failures, *c.check ? 1u : 0u);
}

const int32_t D = MODULE_CALL_DISPATCH, P = MODULE_CALL_PROCESS, E = MODULE_CALL_EVENT;

INSTANTIATE_TEST_SUITE_P(
    Cases, CallCheckerRequests,
    ::testing::Values(
        RequestCase{"status for outputl", "", D, HOST_SET_PIN_STATUS, 14, STREAM_RUNNING, 0, 0.0f},
        RequestCase{"status for outputr ahead", "", E, HOST_SET_PIN_STATUS, 15, STREAM_STEADY, 7,
                    0.0f},
        RequestCase{"status stamped a wrap ahead", "", P, HOST_SET_PIN_STATUS, 15,
                    STREAM_SINGLE_CHANGE, (int64_t(1) << 31) - 1, 0.0f},
        RequestCase{"the sample clock", "", P, HOST_GET_SAMPLE_CLOCK, 0, 0, NO_PTR, 0.0f},
        RequestCase{"the pin count", "", D, HOST_GET_PIN_COUNT, 0, 0, NO_PTR, 0.0f},
        RequestCase{"a pin buffer", "", D, HOST_GET_PIN_BUFFER, 15, 0, NO_PTR, 0.0f},
        RequestCase{"an event ahead", "", E, HOST_POST_EVENT, 0, 0, 3, 0.0f},
        RequestCase{"sleep with the outputs steady", "", P, HOST_SLEEP, 0, 0, NO_PTR, 0.0f},
        RequestCase{"an unknown opcode", "unknown-request", D, 5, 0, 0, NO_PTR, 0.0f},
        RequestCase{"a negative opcode", "unknown-request", P, -1, 0, 0, NO_PTR, 0.0f},
        RequestCase{"opt not 0.0", "request-argument", D, HOST_GET_SAMPLE_CLOCK, 0, 0, NO_PTR,
                    0.5f},
        RequestCase{"opt -0.0", "request-argument", D, HOST_GET_PIN_COUNT, 0, 0, NO_PTR, -0.0f},
        RequestCase{"an index on the clock request", "request-argument", P, HOST_GET_SAMPLE_CLOCK,
                    3, 0, NO_PTR, 0.0f},
        RequestCase{"a value on the pin count request", "request-argument", D, HOST_GET_PIN_COUNT,
                    0, 1, NO_PTR, 0.0f},
        RequestCase{"a pointer on process-changed", "request-argument", P, HOST_PROCESS_CHANGED, 0,
                    0, 1, 0.0f},
        RequestCase{"an event without its record", "request-argument", E, HOST_POST_EVENT, 0, 0,
                    NO_PTR, 0.0f},
        RequestCase{"pin 16 of 16", "pin-number", D, HOST_SET_PIN_STATUS, 16, STREAM_RUNNING, 0,
                    0.0f},
        RequestCase{"pin -1", "pin-number", D, HOST_GET_PIN_BUFFER, -1, 0, NO_PTR, 0.0f},
        RequestCase{"pin data for pin 99", "pin-number", P, HOST_SEND_PIN_DATA, 99, 0, 0, 0.0f},
        RequestCase{"status for the gate input", "status-pin", D, HOST_SET_PIN_STATUS, 4,
                    STREAM_RUNNING, 0, 0.0f},
        RequestCase{"status for fc", "status-pin", P, HOST_SET_PIN_STATUS, 0, STREAM_STEADY, 0,
                    0.0f},
        RequestCase{"status 3", "status-value", D, HOST_SET_PIN_STATUS, 14, 3, 0, 0.0f},
        RequestCase{"status -1", "status-value", D, HOST_SET_PIN_STATUS, 15, -1, 0, 0.0f},
        RequestCase{"status one sample late", "stamp-in-past", P, HOST_SET_PIN_STATUS, 14,
                    STREAM_RUNNING, -1, 0.0f},
        RequestCase{"status stamped 0 at clock 1000", "stamp-in-past", D, HOST_SET_PIN_STATUS, 14,
                    STREAM_RUNNING, -1000, 0.0f},
        RequestCase{"pin data late", "stamp-in-past", P, HOST_SEND_PIN_DATA, 14, 0, -5, 0.0f},
        RequestCase{"an event late", "stamp-in-past", E, HOST_POST_EVENT, 0, 0, -1, 0.0f},
        RequestCase{"sleep from a dispatch call", "early-sleep", D, HOST_SLEEP, 0, 0, NO_PTR, 0.0f},
        RequestCase{"sleep from an event call", "early-sleep", E, HOST_SLEEP, 0, 0, NO_PTR, 0.0f},
        RequestCase{"a request while closing", "request-after-close", D, HOST_GET_SAMPLE_CLOCK, 0,
                    0, NO_PTR, 0.0f, MOD_CLOSE},
        RequestCase{"a request outside any call", "request-outside-call", -1, HOST_GET_SAMPLE_CLOCK,
                    0, 0, NO_PTR, 0.0f}),
    NameByWhat());

TEST_F(CallCheckerTest, FailsASleepWhileAnOutputIsAnnouncedRunning) {
    // A real note: the module announces both outputs running.
    instance->setInput(instance->findPin("gate"), 0, 1.0f);
    instance->setInput(instance->findPin("sync"), 0, 1.0f);
    host.run(BLOCK);
    ASSERT_EQ(firstCheck(), "") << figures.first_failure;
    ASSERT_EQ(instance->pin(instance->findPin("outputl"))->announced_status, STREAM_RUNNING);
    const Buffers b = buffers(0, BLOCK);
    HostRequest sleep{};
    sleep.opcode = HOST_SLEEP;
    pretend(MODULE_CALL_PROCESS, 0, BLOCK, [&] {
        b.writeRange(0.0f);
        checker.onRequest(*instance, sleep);
    });
    EXPECT_EQ(firstCheck(), "early-sleep") << figures.first_failure;
}

TEST_F(CallCheckerTest, CountsAllocationsAndLocksOnTheAudioPathOnly) {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    const Buffers b = buffers(0, BLOCK);
    auto allocate = [] {
        void *volatile block = std::malloc(48); // volatile: the pair is not optimised away
        std::free(block);
    };
    auto lock = [&] {
        pthread_mutex_lock(&mutex);
        pthread_mutex_unlock(&mutex);
    };
    pretend(MODULE_CALL_DISPATCH, 0, 0, allocate);
    pretend(MODULE_CALL_DISPATCH, 0, 0, lock);
    EXPECT_EQ(firstCheck(), "") << figures.first_failure;
    pretend(MODULE_CALL_EVENT, 0, 0, allocate);
    EXPECT_EQ(firstCheck(), "allocation") << figures.first_failure;
    EXPECT_EQ(figures.allocations, 1u);
    pretend(MODULE_CALL_PROCESS, 0, BLOCK, [&] {
        b.writeRange(0.5f);
        lock();
        allocate();
    });
    EXPECT_EQ(figures.allocations, 2u);
    EXPECT_EQ(figures.locks, 1u);
    EXPECT_EQ(figures.failures, 3u);
}

TEST_F(CallCheckerTest, FailsAnOscillatorStateOutOfItsRange) {
    checker.setOscillatorStateChecks(true);
    const ModuleProbe module(*const_cast<Module *>(tarnModule(instance->record())));
    const struct {
        double *member;
        double value;
        bool allowed;
    } cases[] = {
        {&module.carrierPhase(), 1.0, true},
        {&module.carrierPhase(), -1.0, true},
        {&module.carrierPhase(), 1.0000001, false},
        {&module.spacingPhase(), -1.5, false},
        {&module.level(), 0.0, true},
        {&module.level(), 1.0, true},
        {&module.level(), -1e-300, false},
        {&module.level(), 1.0 + 1e-15, false},
        {&module.level(), QUIET_NAN, false},
        {&module.twoOverSr(), INF, false},
        {&module.nyquist(), -INF, false},
    };
    for (const auto &c : cases) {
        const double saved = *c.member;
        const uint64_t before = figures.failures;
        pretend(MODULE_CALL_DISPATCH, 0, 0, [&] { *c.member = c.value; });
        *c.member = saved;
        EXPECT_EQ(figures.failures - before, c.allowed ? 0u : 1u) << c.value;
    }
    EXPECT_EQ(firstCheck(), "module-state");
}

TEST_F(CallCheckerTest, AfterCallHookSeesEveryCallOnce) {
    int calls = 0;
    checker.setAfterCallHook([&](HostedInstance &, const ModuleCall &) { ++calls; });
    const uint64_t before = figures.host_calls;
    host.run(3 * BLOCK);
    EXPECT_EQ(static_cast<uint64_t>(calls), figures.host_calls - before);
    EXPECT_GE(calls, 3);
    EXPECT_EQ(firstCheck(), "") << figures.first_failure;
}

} // namespace
