// The fake's entries. Routine A copies the first audio input to every output, routine B copies
// it negated, so a test can tell from the outputs which routine rendered which samples.
#include "FakeModule.h"

#include "se_sdk2/SEModuleProperties.h"
#include "se_sdk2/se_protocol.h"

#include <cmath>

namespace {

std::vector<FakePinRow> &nextTable() {
    static std::vector<FakePinRow> table = basicFakeTable();
    return table;
}

int32_t live = 0;
uint64_t sequence = 0;

bool uiOnly(const FakePinRow &row) {
    return (row.flags & IO_UI_COMMUNICATION) != 0 && (row.flags & IO_KEEP_PIN) == 0;
}

} // namespace

std::vector<FakePinRow> basicFakeTable() {
    return {
        {DR_IN, DT_FSAMPLE, "in", "0.25", 0, true},
        {DR_IN, DT_FSAMPLE, "aux", "0", 0, true},
        {DR_IN, DT_ENUM, "choice", "3", 0, true},
        {DR_OUT, DT_FSAMPLE, "left", nullptr, 0, true},
        {DR_OUT, DT_FSAMPLE, "right", nullptr, 0, true},
    };
}

void FakeModule::setTable(std::vector<FakePinRow> table) {
    nextTable() = std::move(table);
}

const PluginLibrary &FakeModule::library() {
    static PluginLibrary fake(&FakeModule::properties, &FakeModule::make);
    return fake;
}

FakeModule *FakeModule::fromRecord(SEModuleRecord *record) {
    return record ? static_cast<FakeModule *>(record->object) : nullptr;
}

int32_t FakeModule::liveCount() {
    return live;
}

FakeModule::FakeModule(HostCallback callback, intptr_t hostData)
    : m_callback(callback), m_table(nextTable()) {
    m_record.magic = 0x25824;
    m_record.version = 1;
    m_record.host_data = hostData;
    m_record.object = this;
    m_record.dispatch_entry = &FakeModule::dispatchEntry;
    m_record.process_entry = &FakeModule::processA;
    m_record.event_entry = &FakeModule::eventEntry;
    for (size_t row = 0; row < m_table.size(); ++row) {
        if (!uiOnly(m_table[row])) {
            m_row_of_pin.push_back(static_cast<int32_t>(row));
        }
    }
    m_buffers.assign(m_row_of_pin.size(), nullptr);
    m_lists.assign(m_row_of_pin.size(), 0);
    ++live;
}

FakeModule::~FakeModule() {
    --live;
}

SEModuleRecord *SE_CALL FakeModule::make(int32_t index, int32_t kind, HostCallback callback,
                                         intptr_t hostData) {
    return index == 0 && kind == 1 ? &(new FakeModule(callback, hostData))->m_record : nullptr;
}

int32_t SE_CALL FakeModule::properties(int32_t index, SEModuleProperties *properties) {
    properties->sdk_version = 2230;
    if (index != 0) {
        return 0;
    }
    properties->id = "FAKE";
    properties->name = "Fake";
    properties->about = "tests";
    return 1;
}

intptr_t FakeModule::callHost(int32_t opcode, int32_t index, int32_t value, void *ptr) {
    return m_callback ? m_callback(&m_record, opcode, index, value, ptr, 0.0f) : 0;
}

void FakeModule::post(uint32_t stamp, int32_t type, intptr_t pointer) {
    SEEvent event{stamp, type, 0, 0, pointer, 0};
    callHost(HOST_POST_EVENT, 0, 0, &event);
    event.type = -99; // the host must have copied it
}

void FakeModule::switchToB(bool notify) {
    m_record.process_entry = &FakeModule::processB;
    if (notify) {
        callHost(HOST_PROCESS_CHANGED);
    }
}

intptr_t SE_CALL FakeModule::dispatchEntry(SEModuleRecord *record, int32_t opcode, int32_t index,
                                           int32_t value, void *ptr, float) {
    return static_cast<FakeModule *>(record->object)->dispatch(opcode, index, value, ptr);
}

intptr_t FakeModule::dispatch(int32_t opcode, int32_t index, int32_t value, void *ptr) {
    switch (opcode) {
    case MOD_OPEN:
        m_open = true;
        callHost(HOST_GET_PIN_COUNT);
        for (size_t pin = 0; pin < m_row_of_pin.size(); ++pin) {
            const FakePinRow &row = m_table[static_cast<size_t>(m_row_of_pin[pin])];
            if (!row.bound && row.datatype == DT_FSAMPLE) {
                m_buffers[pin] = reinterpret_cast<float *>(
                    callHost(HOST_GET_PIN_BUFFER, static_cast<int32_t>(pin)));
            }
        }
        return 0;
    case MOD_SET_BLOCK_SIZE:
        m_block_size = value;
        return 0;
    case MOD_CLOSE:
        delete this;
        return 1;
    case MOD_GET_PIN_PROPERTIES: {
        if (index < 0 || index >= static_cast<int32_t>(m_table.size())) {
            return 0;
        }
        auto *p = static_cast<SEPinProperties *>(ptr);
        const unsigned char *bytes = static_cast<const unsigned char *>(ptr);
        for (size_t b = 0; b < sizeof(SEPinProperties); ++b) {
            m_unclean_records += bytes[b] != 0 ? 1 : 0;
        }
        const FakePinRow &row = m_table[static_cast<size_t>(index)];
        p->direction = row.direction;
        p->datatype = row.datatype;
        p->name = row.name;
        p->default_value = row.default_value;
        p->flags = row.flags;
        // The member of a pin is found by its pin number; UI-only rows have none.
        int32_t pin = -1;
        for (size_t k = 0; k < m_row_of_pin.size(); ++k) {
            pin = m_row_of_pin[k] == index ? static_cast<int32_t>(k) : pin;
        }
        if (row.bound && pin >= 0) {
            p->variable_address = row.datatype == DT_ENUM
                                      ? static_cast<void *>(&m_lists[static_cast<size_t>(pin)])
                                      : static_cast<void *>(&m_buffers[static_cast<size_t>(pin)]);
        }
        return 1;
    }
    default:
        return 0;
    }
}

void SE_CALL FakeModule::processA(void *object, int32_t offset, int32_t count) {
    static_cast<FakeModule *>(object)->process(0, offset, count);
}

void SE_CALL FakeModule::processB(void *object, int32_t offset, int32_t count) {
    static_cast<FakeModule *>(object)->process(1, offset, count);
}

void FakeModule::process(int32_t routine, int32_t offset, int32_t count) {
    const FakeProcessCall call{
        routine,   offset, count, clock(), static_cast<uint32_t>(callHost(HOST_GET_BLOCK_START)),
        sequence++};
    m_calls.push_back(call);
    const float *in = nullptr;
    for (size_t pin = 0; pin < m_buffers.size() && !in; ++pin) {
        const FakePinRow &row = m_table[static_cast<size_t>(m_row_of_pin[pin])];
        in = row.direction == DR_IN && row.datatype == DT_FSAMPLE ? m_buffers[pin] : nullptr;
    }
    for (size_t pin = 0; pin < m_buffers.size(); ++pin) {
        const FakePinRow &row = m_table[static_cast<size_t>(m_row_of_pin[pin])];
        if (row.direction == DR_OUT && row.datatype == DT_FSAMPLE && m_buffers[pin]) {
            for (int32_t k = offset; k < offset + count; ++k) {
                const float x = in ? in[k] : 0.0f;
                m_buffers[pin][k] = routine == 0 ? x : -x;
            }
        }
    }
    if (m_on_process) {
        m_on_process(*this, call);
    }
}

void SE_CALL FakeModule::eventEntry(void *object, SEEvent *event) {
    static_cast<FakeModule *>(object)->handle(*event);
}

void FakeModule::handle(const SEEvent &event) {
    FakeDelivery delivery{event, clock(), static_cast<uint32_t>(callHost(HOST_GET_BLOCK_START)),
                          std::nanf(""), sequence++};
    const uint32_t index = delivery.clock - delivery.block_start;
    if (!m_buffers.empty() && m_buffers[0] && index < static_cast<uint32_t>(m_block_size)) {
        delivery.first_input = m_buffers[0][index];
    }
    m_deliveries.push_back(delivery);
    if (m_on_event) {
        m_on_event(*this, event);
    }
}
