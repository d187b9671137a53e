// Binding, buffers, events and the callback of one hosted instance. The callback is one plain
// function for every instance; it finds its instance by the record address in a process-wide
// table, because the record's own host_data word is the module's to keep and we do not trust it.
#include "host/HostedInstance.h"

#include "host/Host.h"
#include "se_sdk2/SEProcessInfo.h"
#include "se_sdk2/se_protocol.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Live instances, for the callback. Few entries, searched linearly; no allocation on lookup.
// Never destroyed, so that a Host with static storage may still close its instances at exit.
std::vector<HostedInstance *> &registry() {
    static std::vector<HostedInstance *> *instances = new std::vector<HostedInstance *>;
    return *instances;
}

// The instance whose makeModule is running: its record is not known before makeModule returns.
HostedInstance *constructing = nullptr;
uint32_t strayRequests = 0;

// Written bit by bit: on i386 a float passed by value may travel through the x87 stack.
void fillGuard(float *samples, size_t count) {
    for (size_t k = 0; k < count; ++k) {
        std::memcpy(&samples[k], &HostedInstance::GUARD_PATTERN, sizeof(float));
    }
}

float parseFloat(const char *text) {
    return text ? std::strtof(text, nullptr) : 0.0f;
}

int16_t parseList(const char *text) {
    const long value = text ? std::strtol(text, nullptr, 10) : 0;
    return static_cast<int16_t>(std::min<long>(std::max<long>(value, INT16_MIN), INT16_MAX));
}

bool isUiOnly(const SEPinProperties &properties) {
    return (properties.flags & IO_UI_COMMUNICATION) != 0 && (properties.flags & IO_KEEP_PIN) == 0;
}

// Shows one call to the host's observer, if there is one, before and after it runs.
class ObservedCall {
public:
    ObservedCall(HostedInstance &instance, ModuleCallObserver *observer, const ModuleCall &call)
        : m_instance(instance), m_observer(observer), m_call(call) {
        if (m_observer) {
            m_observer->beforeCall(m_instance, m_call);
        }
    }
    ~ObservedCall() {
        if (m_observer) {
            m_observer->afterCall(m_instance, m_call);
        }
    }
    ObservedCall(const ObservedCall &) = delete;
    ObservedCall &operator=(const ObservedCall &) = delete;

private:
    HostedInstance &m_instance;
    ModuleCallObserver *m_observer;
    ModuleCall m_call;
};

ModuleCall makeCall(int32_t kind) {
    ModuleCall call{};
    call.kind = kind;
    return call;
}

} // namespace

HostedInstance::HostedInstance(Host &host) : m_host(host) {
    m_events.reserve(64);
    m_requests.reserve(1024);
}

HostedInstance::~HostedInstance() {
    auto &instances = registry();
    instances.erase(std::remove(instances.begin(), instances.end(), this), instances.end());
}

uint32_t HostedInstance::strayRequestCount() {
    return strayRequests;
}

bool HostedInstance::create(const PluginLibrary &library, int32_t index, int32_t kind) {
    HostedInstance *outer = constructing;
    constructing = this;
    SEModuleRecord *record;
    {
        ModuleCall call = makeCall(MODULE_CALL_MAKE);
        call.opcode = index;
        call.index = kind;
        ObservedCall observed(*this, m_host.callObserver(), call);
        record = library.makeModule(index, kind, &HostedInstance::callback,
                                    reinterpret_cast<intptr_t>(this));
        m_record = record;
    }
    constructing = outer;
    m_record = record;
    if (!record) {
        return false;
    }
    registry().push_back(this);
    m_routine_from_info = m_host.routineFromProcessInfo();
    m_process_entry = readRoutine();
    bindPins();
    return true;
}

SEProcessEntry HostedInstance::readRoutine() {
    if (!m_routine_from_info) {
        return m_record->process_entry;
    }
    const auto *info = reinterpret_cast<const SEProcessInfo *>(
        dispatch(MOD_GET_PROCESS_INFO, 0, 0, nullptr, 0.0f));
    // The pair is the routine's address word and an object adjustment, one pointer each.
    if (!info || !info->process_function ||
        info->function_size != static_cast<int32_t>(2 * sizeof(void *))) {
        return nullptr; // no routine a host could call: nothing is rendered
    }
    SEProcessEntry routine;
    std::memcpy(&routine, info->process_function, sizeof routine);
    return routine;
}

void HostedInstance::bindPins() {
    for (int32_t i = 0; i < MAX_DESCRIPTIONS; ++i) {
        SEPinProperties properties;
        std::memset(&properties, 0, sizeof properties);
        if (dispatch(MOD_GET_PIN_PROPERTIES, i, 0, &properties, 0.0f) == 0) {
            break;
        }
        m_description_count = i + 1;
        if (isUiOnly(properties)) {
            continue;
        }
        HostPin pin{};
        pin.description = i;
        pin.properties = properties;
        pin.sent_status = STREAM_STEADY;
        pin.announced_status = STREAM_STEADY;
        m_pins.push_back(pin);
    }

    const int32_t blockSize = m_host.blockSize();
    const size_t stride = static_cast<size_t>(blockSize) + 2 * GUARD_SAMPLES;
    size_t audioPins = 0;
    for (const HostPin &pin : m_pins) {
        audioPins += pin.properties.datatype == DT_FSAMPLE ? 1 : 0;
    }
    m_samples.assign(audioPins * stride, 0.0f);
    fillGuard(m_samples.data(), m_samples.size());

    float *next = m_samples.data() + GUARD_SAMPLES;
    for (HostPin &pin : m_pins) {
        void *member = pin.properties.variable_address;
        if (pin.properties.datatype == DT_FSAMPLE) {
            pin.buffer = next;
            next += stride;
            pin.held =
                pin.properties.direction == DR_IN ? parseFloat(pin.properties.default_value) : 0.0f;
            std::fill(pin.buffer, pin.buffer + blockSize, pin.held);
            if (member) {
                *static_cast<float **>(member) = pin.buffer;
            }
        } else if (pin.properties.datatype == DT_ENUM) {
            pin.list_value = parseList(pin.properties.default_value);
            if (member) {
                *static_cast<int16_t *>(member) = pin.list_value;
            }
        }
    }
}

intptr_t HostedInstance::dispatch(int32_t opcode, int32_t index, int32_t value, void *ptr,
                                  float opt) {
    if (!m_record) {
        return 0;
    }
    ModuleCall call = makeCall(MODULE_CALL_DISPATCH);
    call.opcode = opcode;
    call.index = index;
    call.value = value;
    call.ptr = ptr;
    call.opt = opt;
    ObservedCall observed(*this, m_host.callObserver(), call);
    return m_record->dispatch_entry(m_record, opcode, index, value, ptr, opt);
}

void HostedInstance::setSampleRate(float hz) {
    dispatch(MOD_SET_SAMPLE_RATE, 0, 0, nullptr, hz);
}

void HostedInstance::setBlockSize(int32_t samples) {
    dispatch(MOD_SET_BLOCK_SIZE, 0, samples, nullptr, 0.0f);
}

void HostedInstance::open() {
    if (m_record && !m_open) {
        dispatch(MOD_OPEN, 0, 0, nullptr, 0.0f);
        m_open = true;
    }
}

intptr_t HostedInstance::close() {
    if (!m_record) {
        return 0;
    }
    const intptr_t answer = dispatch(MOD_CLOSE, 0, 0, nullptr, 0.0f);
    auto &instances = registry();
    instances.erase(std::remove(instances.begin(), instances.end(), this), instances.end());
    m_record = nullptr;
    m_open = false;
    m_closed = true;
    m_events.clear();
    return answer;
}

const HostPin *HostedInstance::pin(int32_t number) const {
    return number >= 0 && number < pinCount() ? &m_pins[static_cast<size_t>(number)] : nullptr;
}

int32_t HostedInstance::findPin(const char *name) const {
    for (int32_t i = 0; i < pinCount(); ++i) {
        const char *pinName = m_pins[static_cast<size_t>(i)].properties.name;
        if (name && pinName && std::strcmp(name, pinName) == 0) {
            return i;
        }
    }
    return -1;
}

float *HostedInstance::buffer(int32_t number) {
    const HostPin *p = pin(number);
    return p ? p->buffer : nullptr;
}

const float *HostedInstance::output(int32_t number) const {
    const HostPin *p = pin(number);
    return p ? p->buffer : nullptr;
}

bool HostedInstance::isAudioInput(int32_t number) const {
    const HostPin *p = pin(number);
    return p && p->buffer && p->properties.direction == DR_IN;
}

void HostedInstance::queueStatus(uint32_t stamp, int32_t pin, int32_t status) {
    m_events.push_back(SEEvent{stamp, EV_PIN_STATUS, status, 0, pin, 0});
}

bool HostedInstance::setInput(int32_t number, int32_t index, float value) {
    if (!isAudioInput(number) || index < m_host.position() || index >= m_host.blockSize()) {
        return false;
    }
    HostPin &p = m_pins[static_cast<size_t>(number)];
    std::fill(p.buffer + index, p.buffer + m_host.blockSize(), value);
    p.held = value;
    if (m_open) {
        queueStatus(m_host.blockStart() + static_cast<uint32_t>(index), number,
                    STREAM_SINGLE_CHANGE);
        p.sent_status = STREAM_STEADY;
    }
    return true;
}

bool HostedInstance::fillInput(int32_t number, int32_t index, const float *values, int32_t count) {
    if (!isAudioInput(number) || !values || count < 1 || index < m_host.position() ||
        index > m_host.blockSize() - count) {
        return false;
    }
    HostPin &p = m_pins[static_cast<size_t>(number)];
    std::copy(values, values + count, p.buffer + index);
    p.held = values[count - 1];
    std::fill(p.buffer + index + count, p.buffer + m_host.blockSize(), p.held);
    if (m_open && p.sent_status != STREAM_RUNNING) {
        queueStatus(m_host.blockStart() + static_cast<uint32_t>(index), number, STREAM_RUNNING);
        p.sent_status = STREAM_RUNNING;
    }
    return true;
}

bool HostedInstance::setList(int32_t number, int16_t value) {
    const HostPin *p = pin(number);
    if (!p || !m_record || p->properties.datatype != DT_ENUM) {
        return false;
    }
    HostPin &writable = m_pins[static_cast<size_t>(number)];
    writable.list_value = value;
    if (void *member = writable.properties.variable_address) {
        *static_cast<int16_t *>(member) = value;
    }
    if (m_open) {
        queueStatus(m_host.sampleClock(), number, STREAM_SINGLE_CHANGE);
        writable.sent_status = STREAM_STEADY;
    }
    return true;
}

bool HostedInstance::guardsIntact() const {
    const size_t stride = static_cast<size_t>(m_host.blockSize()) + 2 * GUARD_SAMPLES;
    for (size_t start = 0; start < m_samples.size(); start += stride) {
        for (size_t k = 0; k < GUARD_SAMPLES; ++k) {
            uint32_t before, after;
            std::memcpy(&before, &m_samples[start + k], sizeof before);
            std::memcpy(&after, &m_samples[start + stride - 1 - k], sizeof after);
            if (before != GUARD_PATTERN || after != GUARD_PATTERN) {
                return false;
            }
        }
    }
    return true;
}

bool HostedInstance::scheduleStatus(int32_t number, uint32_t clockOffset, int32_t status) {
    const HostPin *p = pin(number);
    if (!p || m_closed || clockOffset < static_cast<uint32_t>(m_host.position()) ||
        clockOffset > static_cast<uint32_t>(INT32_MAX)) {
        return false;
    }
    queueStatus(m_host.blockStart() + clockOffset, number, status);
    m_pins[static_cast<size_t>(number)].sent_status = status;
    return true;
}

bool HostedInstance::queueEvent(const SEEvent &event) {
    if (m_closed || static_cast<int32_t>(event.time_stamp - m_host.sampleClock()) < 0) {
        return false;
    }
    m_events.push_back(event);
    return true;
}

void HostedInstance::setRequestObserver(std::function<void(const HostRequest &)> observer) {
    m_observer = std::move(observer);
}

void HostedInstance::startBlock() {
    const int32_t blockSize = m_host.blockSize();
    for (HostPin &p : m_pins) {
        if (p.buffer && p.properties.direction == DR_IN) {
            std::fill(p.buffer, p.buffer + blockSize, p.held);
        }
    }
}

uint32_t HostedInstance::nextEventDistance(uint32_t clock, uint32_t limit) const {
    for (const SEEvent &event : m_events) {
        const uint32_t distance = event.time_stamp - clock;
        if (distance > 0 && distance < limit) {
            limit = distance;
        }
    }
    return limit;
}

bool HostedInstance::takeEvent(uint32_t horizon, uint32_t blockStart, SEEvent &event) {
    const size_t before = m_events.size();
    m_events.erase(std::remove_if(m_events.begin(), m_events.end(),
                                  [blockStart](const SEEvent &e) {
                                      return static_cast<int32_t>(e.time_stamp - blockStart) < 0;
                                  }),
                   m_events.end());
    m_dropped_events += static_cast<uint32_t>(before - m_events.size());

    size_t earliest = m_events.size();
    int32_t earliestLead = 1;
    for (size_t i = 0; i < m_events.size(); ++i) {
        // How far the stamp lies before the horizon; events after it are not due.
        const int32_t lead = static_cast<int32_t>(m_events[i].time_stamp - horizon);
        if (lead <= 0 && lead < earliestLead) {
            earliest = i;
            earliestLead = lead;
        }
    }
    if (earliest == m_events.size()) {
        return false;
    }
    event = m_events[earliest];
    m_events.erase(m_events.begin() + static_cast<std::ptrdiff_t>(earliest));
    return true;
}

void HostedInstance::deliver(const SEEvent &event) {
    if (event.type == EV_PIN_STATUS) {
        m_asleep = false;
    }
    // The module gets its own copy: the queue may grow while it handles the event.
    SEEvent copy = event;
    ModuleCall call = makeCall(MODULE_CALL_EVENT);
    call.event = &copy;
    ObservedCall observed(*this, m_host.callObserver(), call);
    m_record->event_entry(m_record->object, &copy);
}

void HostedInstance::render(int32_t offset, int32_t count) {
    if (m_process_changed) {
        m_process_entry = readRoutine();
        m_process_changed = false;
    }
    const int32_t end = offset + count;
    if (m_asleep) {
        for (HostPin &p : m_pins) {
            if (p.buffer && p.properties.direction == DR_OUT) {
                std::fill(p.buffer + offset, p.buffer + end, p.last_output);
            }
        }
        return;
    }
    if (!m_process_entry) {
        return;
    }
    ++m_process_calls;
    {
        ModuleCall call = makeCall(MODULE_CALL_PROCESS);
        call.offset = offset;
        call.count = count;
        ObservedCall observed(*this, m_host.callObserver(), call);
        m_process_entry(m_record->object, offset, count);
    }
    for (HostPin &p : m_pins) {
        if (p.buffer && p.properties.direction == DR_OUT) {
            p.last_output = p.buffer[end - 1];
        }
    }
}

intptr_t SE_CALL HostedInstance::callback(SEModuleRecord *record, int32_t opcode, int32_t index,
                                          int32_t value, void *ptr, float opt) {
    for (HostedInstance *instance : registry()) {
        if (instance->m_record == record) {
            return instance->answer(opcode, index, value, ptr, opt);
        }
    }
    if (constructing && record) {
        constructing->m_record = record;
        return constructing->answer(opcode, index, value, ptr, opt);
    }
    ++strayRequests;
    return 0;
}

intptr_t HostedInstance::answer(int32_t opcode, int32_t index, int32_t value, void *ptr,
                                float opt) {
    const HostRequest request{
        opcode, index, value, reinterpret_cast<intptr_t>(ptr), opt, m_host.sampleClock()};
    if (m_recording) {
        m_requests.push_back(request);
    }
    if (m_observer) {
        m_observer(request);
    }
    if (ModuleCallObserver *observer = m_host.callObserver()) {
        observer->onRequest(*this, request);
    }
    const bool known = index >= 0 && index < pinCount();
    switch (opcode) {
    case HOST_SET_PIN_STATUS:
        if (known) {
            HostPin &p = m_pins[static_cast<size_t>(index)];
            p.announced_status = value;
            p.announced_clock = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ptr));
        }
        return 0;
    case HOST_PIN_QUERY:
        return known ? 1 : 0;
    case HOST_GET_SAMPLE_CLOCK:
        return static_cast<intptr_t>(m_host.sampleClock());
    case HOST_GET_PIN_BUFFER:
        return known ? reinterpret_cast<intptr_t>(m_pins[static_cast<size_t>(index)].buffer) : 0;
    case HOST_GET_BLOCK_START:
        return static_cast<intptr_t>(m_host.blockStart());
    case HOST_SLEEP:
        m_asleep = true;
        return 0;
    case HOST_GET_PIN_COUNT:
        return pinCount();
    case HOST_POST_EVENT:
        if (ptr) {
            m_events.push_back(*static_cast<const SEEvent *>(ptr));
        }
        return 0;
    case HOST_PROCESS_CHANGED:
        m_process_changed = true;
        return 0;
    default: // HOST_SEND_PIN_DATA and anything unknown: logged, answered 0
        return 0;
    }
}
