// SEPin: binding, stream status and the pin's requests to the host.
#include "se_sdk2/SEPin.h"

#include "se_sdk2/SEModule_base.h"
#include "se_sdk2/se_assert.h"
#include "se_sdk2/se_protocol.h"

namespace {

constexpr const char *SOURCE = "se_sdk2/SEPin";

void *clockAsPointer(uint32_t sampleClock) {
    return reinterpret_cast<void *>(static_cast<uintptr_t>(sampleClock));
}

} // namespace

SEPin::SEPin()
    : m_variable(nullptr), m_module(nullptr), m_index(-1), m_status(STREAM_STEADY), m_datatype(-1),
      m_storage() {}

SEPin::~SEPin() = default;

void SEPin::init(SEModule_base *module, int32_t index, int32_t datatype, void *variableAddress) {
    m_index = index;
    m_module = module;
    m_datatype = datatype;
    m_status = STREAM_STEADY;
    if (variableAddress != nullptr) {
        m_variable = variableAddress;
        m_storage.word = 0;
        return;
    }
    switch (datatype) {
    case DT_ENUM:
        m_storage.int16 = 0;
        m_variable = &m_storage;
        break;
    case 4:
        m_storage.int8 = 0;
        m_variable = &m_storage;
        break;
    case 6:
    case 8:
        m_storage.int32 = 0;
        m_variable = &m_storage;
        break;
    case DT_FSAMPLE:
        m_storage.buffer = reinterpret_cast<float *>(callHost(HOST_GET_PIN_BUFFER, 0, nullptr));
        m_variable = &m_storage;
        break;
    default:
        // Codes 1, 2, 3, 7 and unknown ones keep no value of their own.
        m_variable = nullptr;
        break;
    }
}

void SEPin::onStatusUpdate(int32_t status) {
    m_status = status;
    if (m_module != nullptr) {
        m_module->onPlugStateChange(*this);
    }
    if (status == STREAM_SINGLE_CHANGE) {
        m_status = STREAM_STEADY;
    }
}

void SEPin::transmitStatus(uint32_t sampleClock, int32_t status) {
    callHost(HOST_SET_PIN_STATUS, status, clockAsPointer(sampleClock));
}

void SEPin::transmitData(uint32_t sampleclock, int32_t value) {
    if (m_module == nullptr) {
        return;
    }
    SE_ASSERT(sampleclock >= m_module->SampleClock(), SOURCE);
    callHost(HOST_SEND_PIN_DATA, value, clockAsPointer(sampleclock));
}

bool SEPin::pinQuery() {
    return callHost(HOST_PIN_QUERY, 0, nullptr) != 0;
}

float SEPin::getSample() {
    if (!SE_ASSERT(m_datatype == DT_FSAMPLE, SOURCE)) {
        return 0.0f;
    }
    const uint32_t blockStart = static_cast<uint32_t>(callHost(HOST_GET_BLOCK_START, 0, nullptr));
    const uint32_t sampleClock = m_module->SampleClock();
    const float *buffer = *static_cast<float *const *>(m_variable);
    if (!SE_ASSERT(buffer != 0, SOURCE)) {
        return 0.0f;
    }
    return buffer[sampleClock - blockStart];
}

intptr_t SEPin::callHost(int32_t opcode, int32_t value, void *ptr) {
    if (m_module == nullptr) {
        return 0;
    }
    return m_module->callHost(opcode, m_index, value, ptr, 0.0f);
}
