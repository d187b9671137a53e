// SEModule_base: the record's three entries, the dispatcher, pin building, events and the
// module's requests to the host.
#include "se_sdk2/SEModule_base.h"

#include "se_sdk2/SEPin.h"
#include "se_sdk2/SEProcessInfo.h"
#include "se_sdk2/se_assert.h"
#include "se_sdk2/se_protocol.h"

#include <cstdint>
#include <new>

namespace {

constexpr const char *SOURCE = "se_sdk2/SEModule_base";

// One record for the whole process, refilled by every MOD_GET_PROCESS_INFO.
SEProcessInfo processInfo;

// The entries take the address the host has (record or object) and forward to one member.
intptr_t SE_CALL dispatchEntry(SEModuleRecord *record, int32_t opcode, int32_t index, int32_t value,
                               void *ptr, float opt) {
    return static_cast<SEModule_base *>(record->object)->dispatcher(opcode, index, value, ptr, opt);
}

void SE_CALL eventEntry(void *object, SEEvent *event) {
    static_cast<SEModule_base *>(object)->handleEvent(event);
}

void SE_CALL processNothing(void *, int32_t, int32_t) {}

constexpr ProcessFunction EMPTY_PROCESS = {&processNothing, 0};

bool isPassedOver(const SEPinProperties &properties) {
    return (properties.flags & IO_UI_COMMUNICATION) != 0 && (properties.flags & IO_KEEP_PIN) == 0;
}

} // namespace

SEModule_base::SEModule_base(HostCallback callback, intptr_t hostData)
    : m_host_callback(callback), m_record(), m_sample_rate(44100.0f), m_block_size(1024),
      m_pins(nullptr), m_process_function(EMPTY_PROCESS), m_pin_count(0) {
    m_record.magic = SE_RECORD_MAGIC;
    m_record.version = SE_RECORD_VERSION;
    m_record.host_data = hostData;
    m_record.object = this;
    m_record.dispatch_entry = &dispatchEntry;
    m_record.process_entry = EMPTY_PROCESS.address;
    m_record.event_entry = &eventEntry;
}

SEModule_base::~SEModule_base() {
    delete[] m_pins;
}

void SEModule_base::onPlugStateChange(SEPin &) {}

void SEModule_base::handleEvent(SEEvent *e) {
    SE_ASSERT(e->time_stamp == SampleClock(), SOURCE);
    switch (e->type) {
    case EV_PIN_STATUS: {
        // The number arrives pointer-sized; anything outside the array is reported by getPin
        // and the event dropped, so no write lands outside the pins.
        const intptr_t number = e->pointer;
        const int32_t index = number >= 0 && number <= INT32_MAX ? int32_t(number) : -1;
        if (SEPin *pin = getPin(index)) {
            pin->onStatusUpdate(e->value1);
        }
        break;
    }
    case EV_PIN_DATA:
        onDataEvent(e->time_stamp, e->value1,
                    static_cast<int16_t>(static_cast<uint16_t>(e->value2 & 0xFFFF)));
        break;
    case EV_CALL:
        if (e->pointer != 0) {
            reinterpret_cast<ScheduledCall>(e->pointer)(this);
        }
        break;
    default:
        break;
    }
}

intptr_t SEModule_base::dispatcher(int32_t opcode, int32_t index, int32_t value, void *ptr,
                                   float opt) {
    // Compared unsigned, so negative opcodes fall through to "ignored" with the large ones.
    switch (static_cast<uint32_t>(opcode)) {
    case MOD_OPEN:
        open();
        return 0;
    case MOD_CLOSE:
        close();
        delete this;
        return 1;
    case MOD_SET_SAMPLE_RATE:
        setSampleRate(opt);
        return 0;
    case MOD_SET_BLOCK_SIZE:
        setBlockSize(value);
        return 0;
    case MOD_GET_PIN_PROPERTIES:
        return getPinPropertiesFor(index, ptr);
    case 7:
    case 10:
        SE_ASSERT(false, SOURCE);
        return 0;
    case MOD_NOTIFY:
        onNotify();
        if (index > 0) {
            onNotifyIndex(index);
        }
        return 0;
    case MOD_MESSAGE:
        onMessage(value, index, ptr);
        return 0;
    case MOD_GET_PROCESS_INFO:
        return fillProcessInfo();
    default:
        return 0;
    }
}

void SEModule_base::open() {
    // The host answers pointer-sized; only 1 to INT32_MAX pins make an array.
    const intptr_t answer = callHost(HOST_GET_PIN_COUNT, 0, 0, nullptr, 0.0f);
    const int32_t count = answer > 0 && answer <= INT32_MAX ? int32_t(answer) : 0;
    if (count > 0) {
        buildPins(count);
    }
}

void SEModule_base::close() {}

void SEModule_base::reservedA() {}

void SEModule_base::setSampleRate(float sampleRate) {
    m_sample_rate = sampleRate;
}

void SEModule_base::setBlockSize(int32_t blockSize) {
    m_block_size = blockSize;
}

float SEModule_base::getSampleRate() const {
    return m_sample_rate;
}

int32_t SEModule_base::getBlockSize() const {
    return m_block_size;
}

bool SEModule_base::getPinProperties(int32_t, SEPinProperties &) {
    return false;
}

int32_t SEModule_base::reservedB() {
    return 0;
}

int32_t SEModule_base::reservedC() {
    return 0;
}

void SEModule_base::onNotify() {}

void SEModule_base::onNotifyIndex(int32_t) {}

void SEModule_base::onDataEvent(uint32_t, int32_t, int16_t) {}

intptr_t SEModule_base::onMessage(int32_t, int32_t, void *) {
    return 0;
}

intptr_t SEModule_base::callHost(int32_t opcode, int32_t index, int32_t value, void *ptr,
                                 float opt) {
    if (m_host_callback == nullptr) {
        return 0;
    }
    return m_host_callback(&m_record, opcode, index, value, ptr, opt);
}

uint32_t SEModule_base::SampleClock() {
    return static_cast<uint32_t>(callHost(HOST_GET_SAMPLE_CLOCK, 0, 0, nullptr, 0.0f));
}

SEPin *SEModule_base::getPin(int32_t index) {
    if (!SE_ASSERT(m_pins != 0, SOURCE)) {
        return nullptr;
    }
    if (!SE_ASSERT(index >= 0 && index < m_pin_count, SOURCE)) {
        return nullptr;
    }
    return &m_pins[index];
}

void SEModule_base::setProcessFunction(ProcessFunction f) {
    if (!SE_ASSERT(f.address != 0, SOURCE) || f == m_process_function) {
        return;
    }
    m_process_function = f;
    m_record.process_entry = f.address;
    callHost(HOST_PROCESS_CHANGED, 0, 0, nullptr, 0.0f);
}

bool SEModule_base::queryPinProperties(int32_t index, SEPinProperties &properties) {
    properties = SEPinProperties();
    return getPinProperties(index, properties);
}

void SEModule_base::postEvent(uint32_t p_time_stamp, int32_t type, int32_t value1, int32_t value2,
                              intptr_t pointer) {
    if (m_host_callback == nullptr) {
        return;
    }
    SE_ASSERT(p_time_stamp >= SampleClock(), SOURCE);
    SEEvent event = {p_time_stamp, type, value1, value2, pointer, 0};
    callHost(HOST_POST_EVENT, 0, 0, &event, 0.0f);
}

void SEModule_base::scheduleCall(uint32_t p_time_stamp, ScheduledCall call) {
    postEvent(p_time_stamp, EV_CALL, 0, 0, reinterpret_cast<intptr_t>(call));
}

// Pin numbers are array positions: a UI pin without IO_KEEP_PIN is passed over, so numbers
// match description indices only until the first such pin. A last description with
// IO_REPEATING fills the rest of the host's count with member-less copies of its type.
void SEModule_base::buildPins(int32_t count) {
    SEPin *pins = new (std::nothrow) SEPin[count];
    if (pins == nullptr) {
        return;
    }
    // A second MOD_OPEN replaces the array instead of leaking it.
    delete[] m_pins;
    m_pins = pins;
    m_pin_count = count;

    SEPinProperties properties;
    int32_t i = 0;
    int32_t j = 0;
    while (j < count && queryPinProperties(i, properties)) {
        if (!isPassedOver(properties)) {
            m_pins[j].init(this, j, properties.datatype, properties.variable_address);
            ++j;
        }
        ++i;
    }
    if (i == 0) {
        return;
    }
    queryPinProperties(i - 1, properties);
    if (isPassedOver(properties) || (properties.flags & IO_REPEATING) == 0) {
        return;
    }
    for (; j < count; ++j) {
        m_pins[j].init(this, j, properties.datatype, nullptr);
    }
}

// MOD_GET_PIN_PROPERTIES: the host's record is passed as it came, not cleared, and is checked
// against the patch-store rule whatever the answer.
intptr_t SEModule_base::getPinPropertiesFor(int32_t index, void *ptr) {
    if (!SE_ASSERT(ptr != 0, SOURCE)) {
        return 0;
    }
    const bool described = getPinProperties(index, *static_cast<SEPinProperties *>(ptr));
    // The expression is reported as written, so it must keep its exact spelling.
    // clang-format off
    SE_ASSERT((((SEPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || (((SEPinProperties*)ptr)->flags & IO_PRIVATE) != 0 || ((SEPinProperties*)ptr)->direction == DR_OUT || ( ( (SEPinProperties*)ptr)->flags & IO_UI_COMMUNICATION) != 0, SOURCE);
    // clang-format on
    return described ? 1 : 0;
}

intptr_t SEModule_base::fillProcessInfo() {
    processInfo.version = SE_PROCESS_INFO_VERSION;
    processInfo.function_size = static_cast<int32_t>(sizeof(m_process_function));
    processInfo.process_function = &m_process_function;
    processInfo.host_constant = SE_PROCESS_INFO_CONSTANT;
    return reinterpret_cast<intptr_t>(&processInfo);
}
