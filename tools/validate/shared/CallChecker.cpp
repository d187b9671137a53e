// Around each call: the snapshot and the sentinel fill before it, then in this order the
// clock, the heap books, stray requests, buffers and the scenario's hook after it. The checker
// itself allocates only outside watched stretches, so its own work never counts against the
// module.
#include "tools/validate/shared/CallChecker.h"

#include "se_sdk2/se_protocol.h"
#include "tools/validate/shared/heap_watch.h"
#include "tools/validate/shared/watchdog.h"
#include "tools/validate/tarn_access.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <time.h>

namespace {

// Failures printed in full per scenario; the rest are only counted.
constexpr uint64_t PRINTED_FAILURES = 12;

bool isSentinel(float sample) {
    uint32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    return bits == CallChecker::SENTINEL_PATTERN;
}

bool sameBits(const float *a, const float *b, size_t count) {
    return std::memcmp(a, b, count * sizeof(float)) == 0;
}

const char *callName(int32_t kind) {
    switch (kind) {
    case MODULE_CALL_MAKE:
        return "makeModule";
    case MODULE_CALL_DISPATCH:
        return "dispatch";
    case MODULE_CALL_PROCESS:
        return "process";
    case MODULE_CALL_EVENT:
        return "event";
    default:
        return "?";
    }
}

bool isKnownRequest(int32_t opcode) {
    switch (opcode) {
    case HOST_SET_PIN_STATUS:
    case HOST_PIN_QUERY:
    case HOST_GET_SAMPLE_CLOCK:
    case HOST_SEND_PIN_DATA:
    case HOST_GET_PIN_BUFFER:
    case HOST_GET_BLOCK_START:
    case HOST_SLEEP:
    case HOST_GET_PIN_COUNT:
    case HOST_POST_EVENT:
    case HOST_PROCESS_CHANGED:
        return true;
    default:
        return false;
    }
}

bool takesPin(int32_t opcode) {
    return opcode == HOST_SET_PIN_STATUS || opcode == HOST_PIN_QUERY ||
           opcode == HOST_SEND_PIN_DATA || opcode == HOST_GET_PIN_BUFFER ||
           opcode == HOST_GET_BLOCK_START;
}

// Whether `stamp` lies before `clock` on the wrapping 32-bit sample clock.
bool beforeClock(uint32_t stamp, uint32_t clock) {
    return static_cast<int32_t>(stamp - clock) < 0;
}

} // namespace

double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

CallChecker::CallChecker(RunFigures &figures, const char *scenario)
    : m_figures(figures), m_scenario(scenario) {}

CallChecker::~CallChecker() {
    detach();
}

void CallChecker::attach(Host &host) {
    m_host = &host;
    host.setCallObserver(this);
}

void CallChecker::detach() {
    m_host = nullptr;
}

void CallChecker::fail(const char *check, const char *format, ...) {
    const bool wasWatching = heap_watch::watching();
    heap_watch::setWatching(false);
    char detail[320];
    va_list args;
    va_start(args, format);
    std::vsnprintf(detail, sizeof detail, format, args);
    va_end(args);
    if (m_figures.failures == 0) {
        // Cut to the record's size: the full text goes to stderr below.
        std::string first = std::string(check) + ": " + detail;
        std::strncpy(m_figures.first_failure, first.c_str(), sizeof m_figures.first_failure - 1);
    }
    if (m_figures.failures < PRINTED_FAILURES) {
        std::fprintf(stderr, "FAIL scenario=%s check=%s: %s\n", m_scenario, check, detail);
    } else if (m_figures.failures == PRINTED_FAILURES) {
        std::fprintf(stderr, "FAIL scenario=%s: further failures only counted\n", m_scenario);
    }
    ++m_figures.failures;
    heap_watch::setWatching(wasWatching);
}

void CallChecker::manualCall(HostedInstance &instance, const ModuleCall &description,
                             const std::function<void()> &call) {
    beforeCall(instance, description);
    call();
    afterCall(instance, description);
}

void CallChecker::snapshotBuffers(HostedInstance &instance, const ModuleCall &call) {
    const size_t blockSize = m_host ? static_cast<size_t>(m_host->blockSize()) : 0;
    if (m_snapshots.size() < static_cast<size_t>(instance.pinCount())) {
        m_snapshots.resize(static_cast<size_t>(instance.pinCount()));
    }
    for (int32_t p = 0; p < instance.pinCount(); ++p) {
        const float *buffer = instance.output(p);
        std::vector<float> &snapshot = m_snapshots[static_cast<size_t>(p)];
        if (!buffer) {
            snapshot.clear();
            continue;
        }
        snapshot.assign(buffer, buffer + blockSize);
        const bool prefill = call.kind == MODULE_CALL_PROCESS && instance.isOpen() &&
                             instance.pin(p)->properties.direction == DR_OUT;
        if (prefill) {
            float *writable = instance.buffer(p);
            for (int32_t i = call.offset; i < call.offset + call.count; ++i) {
                std::memcpy(&writable[i], &SENTINEL_PATTERN, sizeof(float));
            }
        }
    }
}

void CallChecker::beforeCall(HostedInstance &instance, const ModuleCall &call) {
    heap_watch::setWatching(false);
    m_current = &instance;
    m_current_kind = call.kind;
    m_in_close = call.kind == MODULE_CALL_DISPATCH && call.opcode == MOD_CLOSE;
    m_was_open = instance.isOpen();
    if (m_oscillator_state && call.kind != MODULE_CALL_MAKE && instance.record()) {
        m_comb_phase_before = ModuleView(instance.record()).combPhase();
    }
    m_stray_before = HostedInstance::strayRequestCount();
    if (call.kind != MODULE_CALL_MAKE && m_host) {
        snapshotBuffers(instance, call);
    }
    const heap_watch::Counters books = heap_watch::counters();
    m_allocations_before = books.allocations;
    m_locks_before = books.locks;
    watchdogCallStarted();
    m_start_seconds = monotonicSeconds();
    heap_watch::setWatching(true);
}

void CallChecker::afterCall(HostedInstance &instance, const ModuleCall &call) {
    heap_watch::setWatching(false);
    const double seconds = monotonicSeconds() - m_start_seconds;
    watchdogCallEnded();
    ++m_figures.host_calls;
    if (seconds > m_figures.worst_call_seconds) {
        m_figures.worst_call_seconds = seconds;
    }

    const heap_watch::Counters books = heap_watch::counters();
    const bool audioPath = call.kind == MODULE_CALL_PROCESS || call.kind == MODULE_CALL_EVENT;
    if (audioPath) {
        const uint64_t allocations = books.allocations - m_allocations_before;
        const uint64_t locks = books.locks - m_locks_before;
        m_figures.allocations += allocations;
        m_figures.locks += locks;
        if (allocations > 0) {
            fail("allocation", "%llu heap allocation(s) inside a %s call",
                 static_cast<unsigned long long>(allocations), callName(call.kind));
        }
        if (locks > 0) {
            fail("lock", "%llu mutex lock(s) inside a %s call",
                 static_cast<unsigned long long>(locks), callName(call.kind));
        }
    }
    if (HostedInstance::strayRequestCount() != m_stray_before) {
        fail("request-after-close", "a request arrived with a record the host no longer knows");
    }
    if (call.kind != MODULE_CALL_MAKE && m_host) {
        checkBuffers(instance, call);
    } else {
        // The host's request log would grow inside process calls; the checker sees every
        // request anyway.
        instance.setRecording(false);
    }
    const bool closed = call.kind == MODULE_CALL_DISPATCH && call.opcode == MOD_CLOSE;
    if (m_oscillator_state && instance.record() && !closed) {
        checkOscillatorState(instance, call);
    }
    m_current = nullptr;
    m_current_kind = -1;
    m_in_close = false;
    if (m_after_hook) {
        m_after_hook(instance, call);
    }
}

void CallChecker::checkBuffers(HostedInstance &instance, const ModuleCall &call) {
    const int32_t blockSize = m_host->blockSize();
    const bool processing = call.kind == MODULE_CALL_PROCESS && m_was_open;
    for (int32_t p = 0; p < instance.pinCount() && p < static_cast<int32_t>(m_snapshots.size());
         ++p) {
        const float *buffer = instance.output(p);
        const std::vector<float> &snapshot = m_snapshots[static_cast<size_t>(p)];
        if (!buffer || snapshot.size() != static_cast<size_t>(blockSize)) {
            continue;
        }
        const bool isOutput = instance.pin(p)->properties.direction == DR_OUT;
        if (!isOutput || !processing) {
            if (!sameBits(buffer, snapshot.data(), snapshot.size())) {
                fail(isOutput ? "out-of-block-write" : "input-written",
                     "%s call changed the buffer of pin %d (%s)", callName(call.kind), p,
                     instance.pin(p)->properties.name ? instance.pin(p)->properties.name : "?");
            }
            continue;
        }
        const size_t begin = static_cast<size_t>(call.offset);
        const size_t end = begin + static_cast<size_t>(call.count);
        if (!sameBits(buffer, snapshot.data(), begin) ||
            !sameBits(buffer + end, snapshot.data() + end, snapshot.size() - end)) {
            fail("out-of-block-write", "process(%d, %d) wrote outside its range on pin %d",
                 call.offset, call.count, p);
        }
    }
    if (!instance.guardsIntact()) {
        fail("guard-zone", "a %s call wrote into a guard zone beside a buffer",
             callName(call.kind));
    }
    if (processing) {
        checkProcessRange(instance, call);
    }
}

void CallChecker::checkProcessRange(HostedInstance &instance, const ModuleCall &call) {
    const int32_t gatePin = instance.findPin("gate");
    const float *gate = gatePin >= 0 ? instance.output(gatePin) : nullptr;
    uint64_t unwritten = 0, nonfinite = 0, subnormal = 0, ungated = 0;
    int32_t firstUnwritten = -1;
    for (int32_t p = 0; p < instance.pinCount(); ++p) {
        const float *out = instance.output(p);
        if (!out || instance.pin(p)->properties.direction != DR_OUT) {
            continue;
        }
        for (int32_t i = call.offset; i < call.offset + call.count; ++i) {
            const float sample = out[i];
            if (isSentinel(sample)) {
                if (firstUnwritten < 0) {
                    firstUnwritten = i;
                }
                ++unwritten;
                continue;
            }
            const int kind = std::fpclassify(sample);
            if (kind == FP_NAN || kind == FP_INFINITE) {
                ++nonfinite;
            } else if (kind == FP_SUBNORMAL) {
                ++subnormal;
            }
            if (gate && gate[i] == 0.0f && sample != 0.0f) {
                ++ungated;
            }
        }
    }
    m_figures.samples += static_cast<uint64_t>(call.count);
    m_figures.nonfinite += nonfinite;
    m_figures.subnormal += subnormal;
    if (unwritten > 0) {
        fail("unwritten-sample", "process(%d, %d) left %llu output sample(s) unwritten, first %d",
             call.offset, call.count, static_cast<unsigned long long>(unwritten), firstUnwritten);
    }
    if (nonfinite > 0) {
        fail("non-finite", "process(%d, %d) produced %llu non-finite sample(s)", call.offset,
             call.count, static_cast<unsigned long long>(nonfinite));
    }
    if (subnormal > 0) {
        fail("subnormal", "process(%d, %d) produced %llu subnormal sample(s)", call.offset,
             call.count, static_cast<unsigned long long>(subnormal));
    }
    if (ungated > 0) {
        fail("gate", "process(%d, %d): %llu sample(s) not 0.0 where the gate is 0.0", call.offset,
             call.count, static_cast<unsigned long long>(ungated));
    }
}

void CallChecker::checkOscillatorState(HostedInstance &instance, const ModuleCall &call) {
    if (!instance.isOpen()) {
        return; // open gives the state its first values
    }
    const ModuleView m(instance.record());
    const struct {
        const char *name;
        double value;
        double bound; // |value| at most this; 0 for finiteness alone
    } state[] = {
        // The phases carried from sample to sample stay within [-1, 1]. With "cyclic" off the
        // comb phase is no state: it follows 10 x "combphase", wrapped by one step, and may
        // lie outside for |10 x combphase| above 3; it is then only held finite. Turning
        // "cyclic" on keeps that value until the first rotating sample wraps it, so with
        // "cyclic" on only a comb phase that the call changed must lie within [-1, 1].
        {"carrier phase", m.carrierPhase(), 1.0},
        {"spacing phase", m.spacingPhase(), 1.0},
        {"comb phase", m.combPhase(),
         m.cyclic() == 1 || m.combPhase() == m_comb_phase_before ? 0.0 : 1.0},
        {"level", m.level(), 1.0},
        {"2 / sample rate", m.twoOverSr(), 0.0},
        {"Nyquist frequency", m.nyquist(), 0.0}};
    for (const auto &s : state) {
        const bool bad = !std::isfinite(s.value) || (s.bound > 0.0 && std::fabs(s.value) > s.bound);
        if (bad) {
            fail("module-state", "after a %s call the %s is %.17g", callName(call.kind), s.name,
                 s.value);
            return;
        }
    }
    if (m.level() < 0.0) {
        fail("module-state", "after a %s call the level is %.17g", callName(call.kind), m.level());
    }
}

void CallChecker::onRequest(HostedInstance &instance, const HostRequest &request) {
    const bool wasWatching = heap_watch::watching();
    heap_watch::setWatching(false);
    const int32_t op = request.opcode;
    if (m_current != &instance) {
        fail("request-outside-call", "request %d arrived outside any call into its instance", op);
    }
    if (m_in_close) {
        fail("request-after-close", "request %d sent while the module was closing", op);
    }
    if (!isKnownRequest(op)) {
        fail("unknown-request", "unknown request opcode %d (index %d, value %d)", op, request.index,
             request.value);
    }
    uint32_t optBits;
    std::memcpy(&optBits, &request.opt, sizeof optBits);
    if (optBits != 0) {
        fail("request-argument", "request %d with opt %g instead of 0.0", op,
             static_cast<double>(request.opt));
    }
    if (takesPin(op) && (request.index < 0 || request.index >= instance.pinCount())) {
        fail("pin-number", "request %d names pin %d of %d", op, request.index, instance.pinCount());
    }
    const uint32_t clock = m_host ? m_host->sampleClock() : 0;
    switch (op) {
    case HOST_SET_PIN_STATUS: {
        const HostPin *pin = instance.pin(request.index);
        if (pin && pin->properties.direction != DR_OUT) {
            fail("status-pin", "status %d announced for input pin %d", request.value,
                 request.index);
        }
        if (request.value < STREAM_STEADY || request.value > STREAM_RUNNING) {
            fail("status-value", "unknown stream status %d for pin %d", request.value,
                 request.index);
        }
        if (beforeClock(static_cast<uint32_t>(request.ptr), clock)) {
            fail("stamp-in-past", "status for pin %d stamped %u, clock %u", request.index,
                 static_cast<uint32_t>(request.ptr), clock);
        }
        break;
    }
    case HOST_SEND_PIN_DATA:
        if (beforeClock(static_cast<uint32_t>(request.ptr), clock)) {
            fail("stamp-in-past", "pin data for pin %d stamped %u, clock %u", request.index,
                 static_cast<uint32_t>(request.ptr), clock);
        }
        break;
    case HOST_POST_EVENT: {
        const SEEvent *event = reinterpret_cast<const SEEvent *>(request.ptr);
        if (!event) {
            fail("request-argument", "HOST_POST_EVENT without an event");
        } else if (beforeClock(event->time_stamp, clock)) {
            fail("stamp-in-past", "event of type %d stamped %u, clock %u", event->type,
                 event->time_stamp, clock);
        }
        break;
    }
    case HOST_SLEEP:
        for (int32_t p = 0; p < instance.pinCount(); ++p) {
            const HostPin *pin = instance.pin(p);
            if (pin->properties.direction == DR_OUT && pin->announced_status == STREAM_RUNNING) {
                fail("early-sleep", "HOST_SLEEP while output pin %d is announced running", p);
            }
        }
        if (m_current_kind != MODULE_CALL_PROCESS) {
            fail("early-sleep", "HOST_SLEEP outside a process call");
        }
        [[fallthrough]];
    case HOST_GET_SAMPLE_CLOCK:
    case HOST_GET_PIN_COUNT:
    case HOST_PROCESS_CHANGED:
        if (request.index != 0 || request.value != 0 || request.ptr != 0) {
            fail("request-argument", "request %d with unused arguments %d, %d, %lld", op,
                 request.index, request.value, static_cast<long long>(request.ptr));
        }
        break;
    default:
        break;
    }
    heap_watch::setWatching(wasWatching);
}
