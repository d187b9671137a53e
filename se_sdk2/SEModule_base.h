// SEModule_base: base class of every processing module. It owns the host-visible record
// (embedded, so one allocation serves both), the host callback, the pin array, the current
// process routine, and turns the host's numbered requests into virtual operations.
// Not thread-safe: the host calls one instance's dispatcher, process and event entries one at
// a time, and the process-wide SEProcessInfo is shared by all instances.
#pragma once

#include "se_sdk2/ProcessFunction.h"
#include "se_sdk2/SEEvent.h"
#include "se_sdk2/SEModuleRecord.h"
#include "se_sdk2/SEPinProperties.h"
#include "se_sdk2/ScheduledCall.h"

#include <cstdint>

class SEPin;

class SEModule_base {
public:
    // Stores the callback (may be null: every request then answers 0) and hostData in the
    // record; sample rate 44100 Hz, block size 1024, no pins, the empty process routine.
    SEModule_base(HostCallback callback, intptr_t hostData);
    SEModule_base(const SEModule_base &) = delete;
    SEModule_base &operator=(const SEModule_base &) = delete;

    // The virtual operations, in the order of their table entries; a host built against this
    // order may rely on it.

    // Destroys the pins, last entry first. Reached through MOD_CLOSE, which also frees the
    // object: instances handed to a host live on the heap.
    virtual ~SEModule_base();
    // A pin's stream status changed (EV_PIN_STATUS); pin.getStatus() holds the new status.
    virtual void onPlugStateChange(SEPin &pin);
    // One event, delivered when the sample clock equals e->time_stamp.
    virtual void handleEvent(SEEvent *e);
    // One host request (MOD_* opcodes). MOD_CLOSE deletes the object before answering 1.
    virtual intptr_t dispatcher(int32_t opcode, int32_t index, int32_t value, void *ptr, float opt);
    // MOD_OPEN: builds the pin array from the descriptions and the host's pin count. A derived
    // open installs its first routine and calls this one.
    virtual void open();
    // MOD_CLOSE, just before deletion.
    virtual void close();
    virtual void reservedA();
    virtual void setSampleRate(float sampleRate); // Hz; at any time, nothing else happens
    virtual void setBlockSize(int32_t blockSize); // samples; at any time, nothing else happens
    virtual float getSampleRate() const;
    virtual int32_t getBlockSize() const;
    // Describes pin description `index` into `properties`, writing only what it needs; false
    // when there is no such description. The base has none.
    virtual bool getPinProperties(int32_t index, SEPinProperties &properties);
    virtual int32_t reservedB();
    virtual int32_t reservedC();
    virtual void onNotify();                   // MOD_NOTIFY
    virtual void onNotifyIndex(int32_t index); // MOD_NOTIFY with index > 0, after onNotify
    // EV_PIN_DATA: clock = time stamp, id = the sign-extended low 16 bits of value2.
    virtual void onDataEvent(uint32_t clock, int32_t value, int16_t id);
    // MOD_MESSAGE; the dispatcher drops the answer.
    virtual intptr_t onMessage(int32_t value, int32_t index, void *ptr);

    // The record to hand to the host; valid until MOD_CLOSE.
    SEModuleRecord *getRecord() { return &m_record; }

    // Every request to the host goes through here; 0 without a callback. opt is 0.0 in every
    // request of this library.
    intptr_t callHost(int32_t opcode, int32_t index, int32_t value, void *ptr, float opt);

    // The host's sample clock, asked at every call (never cached); 0 without a callback.
    uint32_t SampleClock();

    // Entry `index` of the pin array; null, after reporting a breach, before open has built
    // the array or for an index outside it.
    SEPin *getPin(int32_t index);

    // Installs f as the routine the host runs per block; when it differs from the current one,
    // copies its address into process_entry and then tells the host (HOST_PROCESS_CHANGED).
    void setProcessFunction(ProcessFunction f);
    ProcessFunction getProcessFunction() const { return m_process_function; }

    // Zeroes `properties`, then answers getPinProperties for it.
    bool queryPinProperties(int32_t index, SEPinProperties &properties);

    // Sends an event to the host (HOST_POST_EVENT), stamped no earlier than the current clock.
    // Without a callback nothing is checked or sent.
    void postEvent(uint32_t p_time_stamp, int32_t type, int32_t value1, int32_t value2,
                   intptr_t pointer);

    // Asks the host to hand back an EV_CALL event at p_time_stamp, which then runs `call` on
    // this module (make it with scheduledCall<M, &M::f>()).
    void scheduleCall(uint32_t p_time_stamp, ScheduledCall call);

protected:
    HostCallback m_host_callback;       // null when the host gave none
    SEModuleRecord m_record;            // what the host sees of this instance
    float m_sample_rate;                // Hz
    int32_t m_block_size;               // samples per block
    SEPin *m_pins;                      // m_pin_count pins in pin-number order, or null
    ProcessFunction m_process_function; // address word mirrored in m_record.process_entry
    int32_t m_pin_count;                // entries of m_pins; 0 while there are none

private:
    void buildPins(int32_t count);
    intptr_t getPinPropertiesFor(int32_t index, void *ptr);
    intptr_t fillProcessInfo();
};
