// libFuzzer target: an operation stream driving up to 40 live instances through the protocol
// (make, open, rate and block size, lists, held and running inputs, status events at any
// offset, notes, process calls of any shape, clock jumps, the other dispatcher opcodes,
// close), in any order the protocol allows. FuzzSession checks every call.
#include "fuzz/FuzzBytes.h"
#include "fuzz/FuzzSession.h"
#include "fuzz/list_settings.h"
#include "fuzz/operations.h"
#include "se_sdk2/SEModuleProperties.h"
#include "se_sdk2/se_protocol.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr const char *TARGET = "fuzz_operations";
// Samples times open instances rendered per input, at most; keeps one input to milliseconds.
constexpr int64_t SAMPLE_BUDGET = int64_t{1} << 15;
constexpr int32_t MAX_OPERATIONS = 4096;

class Driver {
public:
    Driver(FuzzBytes &in, FuzzSession &session)
        : m_in(in), m_session(session), m_host(session.host()) {}

    void run() {
        for (int32_t n = 0; n < MAX_OPERATIONS && !m_in.done() && m_budget > 0; ++n) {
            step(static_cast<uint8_t>(m_in.byte() % OP_COUNT));
        }
    }

private:
    void step(uint8_t op);
    // The live instance that the next byte names, or null (the byte is read either way).
    HostedInstance *instance() {
        const size_t i = m_in.pick(m_live.size());
        return m_live.empty() ? nullptr : m_live[i];
    }
    // A pin number of `instance` from the next byte (read either way): any pin (datatype -1),
    // or inputs of one data type; -1 without an instance or such a pin.
    int32_t pin(const HostedInstance *instance, int32_t datatype, bool inputsOnly);
    int32_t at() { return m_in.inRange(m_host.position(), m_host.blockSize() - 1); }
    int32_t status() {
        const uint8_t selector = m_in.byte();
        return selector < RAW_STATUS_SELECTOR
                   ? STATUS_VALUES[selector % (sizeof STATUS_VALUES / sizeof STATUS_VALUES[0])]
                   : static_cast<int32_t>(m_in.u32());
    }
    int32_t openCount() const {
        return static_cast<int32_t>(std::count_if(m_live.begin(), m_live.end(),
                                                  [](HostedInstance *i) { return i->isOpen(); }));
    }
    void spend(int32_t samples) { m_budget -= int64_t{samples} * std::max(openCount(), 1); }
    void make();
    void close(HostedInstance *instance);
    void dispatch(HostedInstance *instance);
    void event(HostedInstance *instance);
    void rawProcess(HostedInstance *instance);

    FuzzBytes &m_in;
    FuzzSession &m_session;
    Host &m_host;
    std::vector<HostedInstance *> m_live;
    int32_t m_made = 0;
    int64_t m_budget = SAMPLE_BUDGET;
};

int32_t Driver::pin(const HostedInstance *instance, int32_t datatype, bool inputsOnly) {
    std::vector<int32_t> pins;
    for (int32_t p = 0; instance && p < instance->pinCount(); ++p) {
        const SEPinProperties &properties = instance->pin(p)->properties;
        if ((datatype < 0 || properties.datatype == datatype) &&
            (!inputsOnly || properties.direction == DR_IN)) {
            pins.push_back(p);
        }
    }
    const size_t i = m_in.pick(pins.size());
    return pins.empty() ? -1 : pins[i];
}

void Driver::make() {
    const uint8_t selector = m_in.byte();
    int32_t index = 0, kind = 1;
    if (selector & 0x80) {
        index = static_cast<int32_t>(m_in.u32());
        kind = static_cast<int32_t>(m_in.u32());
    }
    if (static_cast<int32_t>(m_live.size()) >= MAX_LIVE_INSTANCES || m_made >= MAX_MADE_INSTANCES) {
        return;
    }
    ++m_made;
    if (HostedInstance *instance = m_session.makeInstance(index, kind)) {
        m_live.push_back(instance);
    }
}

void Driver::close(HostedInstance *instance) {
    if (instance) {
        instance->close();
        m_live.erase(std::find(m_live.begin(), m_live.end(), instance));
    }
}

void Driver::dispatch(HostedInstance *instance) {
    const int32_t opcode = DISPATCH_OPCODES[m_in.byte() % DISPATCH_OPCODE_COUNT];
    const int32_t index = static_cast<int32_t>(m_in.u32());
    const int32_t value = static_cast<int32_t>(m_in.u32());
    if (!instance) {
        return;
    }
    // A host record for MOD_GET_PIN_PROPERTIES: any words but the flags, which a host clears.
    SEPinProperties properties;
    std::memset(&properties, 0x5a, sizeof properties);
    properties.flags = 0;
    char message[16] = {};
    void *ptr = opcode == MOD_GET_PIN_PROPERTIES ? static_cast<void *>(&properties)
                : opcode == MOD_MESSAGE          ? static_cast<void *>(message)
                                                 : nullptr;
    const intptr_t answer = instance->dispatch(opcode, index, value, ptr, 0.0f);
    const bool described = index >= 0 && index < instance->descriptionCount();
    if (opcode == MOD_GET_PIN_PROPERTIES && answer != (described ? 1 : 0)) {
        FuzzSession::finding(TARGET, "pin-properties", "answer differs from the first binding");
    }
    if (opcode == MOD_GET_PROCESS_INFO && answer == 0) {
        FuzzSession::finding(TARGET, "process-info", "MOD_GET_PROCESS_INFO answered null");
    }
}

void Driver::event(HostedInstance *instance) {
    const int32_t type = EVENT_TYPES[m_in.byte() % EVENT_TYPE_COUNT];
    const uint32_t offset = m_in.u16();
    const int32_t value1 = static_cast<int32_t>(m_in.u32());
    const int32_t value2 = static_cast<int32_t>(m_in.u32());
    if (instance) {
        const uint32_t stamp = m_host.sampleClock() + offset;
        instance->queueEvent(SEEvent{stamp, type, value1, value2, 0, 0});
    }
}

void Driver::rawProcess(HostedInstance *instance) {
    const int32_t offset = at();
    const int32_t count = static_cast<int32_t>(m_in.u16() % (m_host.blockSize() - offset + 1));
    if (!instance || !instance->record() || instance->isAsleep()) {
        return;
    }
    // The host's loop never calls with zero samples, nor before MOD_OPEN. Open instances get
    // zero-sample calls; unopened ones any range (their routine is the empty one).
    const int32_t n = instance->isOpen() ? 0 : count;
    ModuleCall call{};
    call.kind = MODULE_CALL_PROCESS;
    call.offset = offset;
    call.count = n;
    SEModuleRecord *record = instance->record();
    m_session.checker().manualCall(*instance, call,
                                   [&] { record->process_entry(record->object, offset, n); });
}

void Driver::step(uint8_t op) {
    switch (op) {
    case OP_MAKE:
        make();
        break;
    case OP_OPEN:
        if (HostedInstance *i = instance()) {
            i->open();
        }
        break;
    case OP_CLOSE:
        close(instance());
        break;
    case OP_SAMPLE_RATE: {
        HostedInstance *i = instance();
        const float rate = m_in.value();
        if (i) {
            i->setSampleRate(rate);
        }
        break;
    }
    case OP_BLOCK_SIZE: {
        HostedInstance *i = instance();
        const int32_t size = static_cast<int32_t>(m_in.u32());
        if (i) {
            i->setBlockSize(size);
        }
        break;
    }
    case OP_LIST: {
        HostedInstance *i = instance();
        const int32_t p = pin(i, DT_ENUM, true);
        if (p >= 0) {
            i->setList(p, readListSetting(m_in, i->pin(p)->properties));
        }
        break;
    }
    case OP_INPUT: {
        HostedInstance *i = instance();
        const int32_t p = pin(i, DT_FSAMPLE, true);
        const int32_t index = at();
        const float v = m_in.value();
        if (p >= 0) {
            i->setInput(p, index, v);
        }
        break;
    }
    case OP_FILL: {
        HostedInstance *i = instance();
        const int32_t p = pin(i, DT_FSAMPLE, true);
        const int32_t index = at();
        const int32_t count = std::min<int32_t>(1 + m_in.byte(), m_host.blockSize() - index);
        std::vector<float> values(static_cast<size_t>(count));
        for (float &v : values) {
            v = m_in.value();
        }
        if (p >= 0) {
            i->fillInput(p, index, values.data(), count);
        }
        break;
    }
    case OP_STATUS: {
        HostedInstance *i = instance();
        const int32_t p = pin(i, -1, false);
        const uint32_t offset = static_cast<uint32_t>(m_host.position()) + m_in.u16();
        const int32_t s = status();
        if (p >= 0) {
            i->scheduleStatus(p, offset, s);
        }
        break;
    }
    case OP_PROCESS: {
        const int32_t offset = m_in.inRange(m_host.position(), m_host.blockSize());
        const int32_t count = static_cast<int32_t>(m_in.u16() % (m_host.blockSize() - offset + 1));
        spend(count);
        m_host.process(offset, count);
        break;
    }
    case OP_RUN: {
        const int32_t samples = static_cast<int32_t>(m_in.u16() % (4 * m_host.blockSize() + 1));
        spend(samples);
        m_host.run(samples);
        break;
    }
    case OP_NEXT_BLOCK:
        m_host.nextBlock();
        break;
    case OP_CLOCK:
        m_host.setSampleClock(m_in.u32());
        break;
    case OP_DISPATCH:
        dispatch(instance());
        break;
    case OP_EVENT:
        event(instance());
        break;
    case OP_RAW_PROCESS:
        rawProcess(instance());
        break;
    case OP_REOPEN:
        if (HostedInstance *i = instance(); i && i->isOpen()) {
            i->dispatch(MOD_OPEN, 0, 0, nullptr, 0.0f);
        }
        break;
    case OP_PROPERTIES: {
        SEModuleProperties properties{};
        const int32_t index = static_cast<int32_t>(m_in.u32());
        const int32_t answer = m_host.library().getModuleProperties(index, &properties);
        if (answer != (index == 0 ? 1 : 0) || properties.sdk_version != SE_SDK_VERSION) {
            FuzzSession::finding(TARGET, "properties", "getModuleProperties answered wrongly");
        }
        break;
    }
    case OP_NOTE: {
        HostedInstance *i = instance();
        const int32_t index = at();
        if (i) {
            i->setInput(m_session.pinNamed("gate"), index, 1.0f);
            i->setInput(m_session.pinNamed("sync"), index, 0.0f);
            if (index + 1 < m_host.blockSize()) {
                i->setInput(m_session.pinNamed("sync"), index + 1, 1.0f);
            }
        }
        break;
    }
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzBytes in(data, size);
    const uint8_t sizeSelector = in.byte();
    const int32_t blockSize =
        sizeSelector < BLOCK_SIZE_COUNT ? BLOCK_SIZES[sizeSelector] : 1 + in.byte();
    const float sampleRate = in.value();
    FuzzSession session(TARGET, sampleRate, blockSize);
    Driver driver(in, session);
    driver.run();
    return 0;
}
