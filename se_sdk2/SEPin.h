// SEPin: the processing side's handle on one pin of a module instance: where its value lives,
// the stream status the host last reported, and the pin's requests to the host. Built by
// SEModule_base::open, one per pin, in pin-number order.
#pragma once

#include <cstdint>

class SEModule_base;

class SEPin {
public:
    // An unbound pin: no module, no value, index -1. Entries of the pin array that no
    // description fills stay like this; their operations then ask the host nothing.
    SEPin();
    virtual ~SEPin();
    SEPin(const SEPin &) = delete;
    SEPin &operator=(const SEPin &) = delete;

    // Binds the pin to entry `index` of `module`'s array. With a variableAddress the value
    // lives in that module member; without one, in the pin's own storage at the width of the
    // data type (DT_FSAMPLE: the buffer address asked of the host once, here), or nowhere for
    // codes without storage. Called only by SEModule_base::open.
    void init(SEModule_base *module, int32_t index, int32_t datatype, void *variableAddress);

    // Records the status reported by the host and tells the module (onPlugStateChange);
    // STREAM_SINGLE_CHANGE falls back to STREAM_STEADY right after. Called for EV_PIN_STATUS.
    void onStatusUpdate(int32_t status);

    // Tells the host that this pin's stream status becomes `status` at `sampleClock`. The
    // clock is not checked: it may lie in the past.
    void transmitStatus(uint32_t sampleClock, int32_t status);

    // Sends a data word stamped `sampleclock`, which must not lie before the current clock.
    void transmitData(uint32_t sampleclock, int32_t value);

    // Asks the host HOST_PIN_QUERY about this pin; true for any nonzero answer.
    bool pinQuery();

    // The sample of a DT_FSAMPLE pin at the current sample clock: element (clock - block
    // start) of the pin's buffer, both unsigned with wrap-around. 0.0 after a breach (another
    // data type, or no buffer).
    float getSample();

    int32_t getIndex() const { return m_index; }
    int32_t getStatus() const { return m_status; }
    int32_t getDatatype() const { return m_datatype; }
    // The module member, the pin's own storage, or null.
    void *getVariable() const { return m_variable; }

private:
    intptr_t callHost(int32_t opcode, int32_t value, void *ptr);

    // Own storage of a pin without a member, written at its data type's width. Pointer-sized
    // so that a DT_FSAMPLE pin can hold its buffer address on 64-bit builds too.
    union Storage {
        intptr_t word;
        float *buffer;
        int32_t int32;
        int16_t int16;
        uint8_t int8;
    };

    void *m_variable;        // module member, &m_storage, or null
    SEModule_base *m_module; // owner; every host request goes through it
    int32_t m_index;         // pin number: position in the module's pin array
    int32_t m_status;        // stream status, STREAM_STEADY after init
    int32_t m_datatype;      // data type code of the description
    Storage m_storage;
};
