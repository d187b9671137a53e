// A module written straight against the wire records, without the framework, for checking the
// host's side of the protocol on its own: a pin table chosen by the test, a log of every
// process and event call with the clock the module saw, and hooks for scripted reactions.
#pragma once

#include "host/PluginLibrary.h"
#include "se_sdk2/SEEvent.h"
#include "se_sdk2/SEModuleRecord.h"
#include "se_sdk2/SEPinProperties.h"

#include <cstdint>
#include <functional>
#include <vector>

struct FakePinRow {
    int32_t direction;
    int32_t datatype;
    const char *name;
    const char *default_value;
    int32_t flags;
    bool bound; // the description names a member of the fake (else the fake asks for buffers)
};

struct FakeProcessCall {
    int32_t routine; // 0 for processA, 1 for processB
    int32_t offset;
    int32_t count;
    uint32_t clock;       // HOST_GET_SAMPLE_CLOCK during the call
    uint32_t block_start; // HOST_GET_BLOCK_START during the call
    uint64_t sequence;    // position among all calls and deliveries of every fake
};

struct FakeDelivery {
    SEEvent event;
    uint32_t clock;
    uint32_t block_start;
    float first_input; // pin 0's sample at clock - block start; NaN outside the block
    uint64_t sequence;
};

class FakeModule {
public:
    // The table every fake made from now on describes.
    static void setTable(std::vector<FakePinRow> table);
    // The linked-in plug-in whose makeModule(0, 1) makes fakes.
    static const PluginLibrary &library();
    static FakeModule *fromRecord(SEModuleRecord *record);
    static int32_t liveCount();

    intptr_t callHost(int32_t opcode, int32_t index = 0, int32_t value = 0, void *ptr = nullptr);
    uint32_t clock() { return static_cast<uint32_t>(callHost(3)); }
    // The buffer of pin `pin` (a position among the described pins, as the host numbers them).
    float *buffer(int32_t pin) { return m_buffers[static_cast<size_t>(pin)]; }
    // Posts an event of `type` at `stamp` with pointer = `pointer`.
    void post(uint32_t stamp, int32_t type, intptr_t pointer = 0);
    // Installs processB in the record; tells the host when `notify` is set.
    void switchToB(bool notify);

    SEModuleRecord m_record{};
    HostCallback m_callback = nullptr;
    std::vector<FakePinRow> m_table;
    std::vector<float *> m_buffers; // per pin; the bound members of DT_FSAMPLE rows
    std::vector<int16_t> m_lists;   // per pin; the bound members of DT_ENUM rows
    std::vector<int32_t> m_row_of_pin;
    int32_t m_block_size = 1024; // from MOD_SET_BLOCK_SIZE
    bool m_open = false;
    // Fields of each MOD_GET_PIN_PROPERTIES record that were not zero when it arrived.
    int32_t m_unclean_records = 0;
    std::vector<FakeProcessCall> m_calls;
    std::vector<FakeDelivery> m_deliveries;
    // Run at the end of each process call and each delivery.
    std::function<void(FakeModule &, const FakeProcessCall &)> m_on_process;
    std::function<void(FakeModule &, const SEEvent &)> m_on_event;

private:
    FakeModule(HostCallback callback, intptr_t hostData);
    ~FakeModule();
    intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void *ptr);
    void process(int32_t routine, int32_t offset, int32_t count);
    void handle(const SEEvent &event);

    static SEModuleRecord *SE_CALL make(int32_t index, int32_t kind, HostCallback callback,
                                        intptr_t hostData);
    static int32_t SE_CALL properties(int32_t index, SEModuleProperties *properties);
    static intptr_t SE_CALL dispatchEntry(SEModuleRecord *record, int32_t opcode, int32_t index,
                                          int32_t value, void *ptr, float opt);
    static void SE_CALL processA(void *object, int32_t offset, int32_t count);
    static void SE_CALL processB(void *object, int32_t offset, int32_t count);
    static void SE_CALL eventEntry(void *object, SEEvent *event);
};

// A table of the usual shape: two bound audio inputs, one list, two audio outputs.
std::vector<FakePinRow> basicFakeTable();
