// One module instance inside a Host: its record, its pins as the host bound them, the sample
// buffers the host owns for them, its queue of pending events and the log of every request the
// module made. Only a Host creates and drives it; the caller shapes its inputs and reads back.
// Single-threaded: every operation, and every callback from the module, runs on one thread.
#pragma once

#include "host/HostRequest.h"
#include "se_sdk2/SEEvent.h"
#include "se_sdk2/SEModuleRecord.h"
#include "se_sdk2/SEPinProperties.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class Host;
class PluginLibrary;

// One pin as the host sees it; its number is its position in the module's pin array.
struct HostPin {
    int32_t description;        // index of the MOD_GET_PIN_PROPERTIES answer it comes from
    SEPinProperties properties; // that answer, as the module wrote it into a zeroed record
    float *buffer;              // DT_FSAMPLE: block-size samples owned by the host; else null
    float held;                 // DT_FSAMPLE input: value held from its last change on
    float last_output;          // DT_FSAMPLE output: last sample produced, repeated while asleep
    int16_t list_value;         // DT_ENUM: current value (also in the bound member, if any)
    int32_t sent_status;        // stream status the host last sent for this pin
    int32_t announced_status;   // last HOST_SET_PIN_STATUS value; STREAM_STEADY before any
    uint32_t announced_clock;   // the clock that announcement named
};

class HostedInstance {
public:
    // Guard samples before and after every buffer, filled with GUARD_PATTERN at creation.
    static constexpr int32_t GUARD_SAMPLES = 16;
    // A quiet NaN with a payload that no arithmetic produces, so a stray write is always seen.
    // Quiet, because x87 loads turn a signalling NaN quiet and so change its bits.
    static constexpr uint32_t GUARD_PATTERN = 0x7fc5a5a5u;
    // Descriptions asked for at most, so that a module that never answers 0 cannot hang us.
    static constexpr int32_t MAX_DESCRIPTIONS = 4096;

    // Unregisters the callback context. Does not close the module: Host does that first.
    ~HostedInstance();
    HostedInstance(const HostedInstance &) = delete;
    HostedInstance &operator=(const HostedInstance &) = delete;

    // The module's record; null once closed (the module has freed it).
    SEModuleRecord *record() const { return m_record; }
    // The host data passed to makeModule: this object's address.
    intptr_t hostData() const { return reinterpret_cast<intptr_t>(this); }
    bool isOpen() const { return m_open; }
    bool isClosed() const { return m_closed; }

    // Host-to-module requests through the record's dispatch_entry. After close they call
    // nothing and answer 0. The named ones send (opcode, index, value, ptr, opt) as follows.
    intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void *ptr, float opt);
    void setSampleRate(float hz);       // MOD_SET_SAMPLE_RATE, opt = hz
    void setBlockSize(int32_t samples); // MOD_SET_BLOCK_SIZE, value = samples; the host's
                                        // buffers keep Host::blockSize() samples regardless
    // MOD_OPEN. From here on the host delivers this instance's events and calls its routine.
    void open();
    // MOD_CLOSE: answers the module's answer (1 by protocol), 0 when already closed. The record
    // is gone afterwards; pending events are dropped; this object stays for inspection.
    intptr_t close();

    // Pins, in pin-number order. The count follows the rule of the module's open: descriptions
    // from 0 until the first 0 answer, less IO_UI_COMMUNICATION ones without IO_KEEP_PIN.
    int32_t pinCount() const { return static_cast<int32_t>(m_pins.size()); }
    int32_t descriptionCount() const { return m_description_count; }
    // The pin, or null for a number outside 0..pinCount()-1.
    const HostPin *pin(int32_t number) const;
    // The first pin whose name equals `name`, or -1.
    int32_t findPin(const char *name) const;

    // The block buffer of a DT_FSAMPLE pin (Host::blockSize() samples, element 0 at
    // Host::blockStart()), or null for any other pin. Raw writes are not announced, do not
    // change the held value and last until the next block begins.
    float *buffer(int32_t pin);
    const float *output(int32_t pin) const;
    // Sets a DT_FSAMPLE input to `value` from buffer element `index` to the end of the block,
    // and holds it in later blocks. Once open, announces the change with an EV_PIN_STATUS
    // STREAM_SINGLE_CHANGE event at that sample. False (nothing done) for a pin that is not an
    // audio input or an index outside Host::position()..Host::blockSize()-1.
    bool setInput(int32_t pin, int32_t index, float value);
    // Writes `count` samples from `index` on and holds the last one to the end of the block and
    // in later blocks. Once open, sends STREAM_RUNNING at `index` unless the last status the
    // host sent for the pin was already STREAM_RUNNING. Bounds as setInput, count >= 1.
    bool fillInput(int32_t pin, int32_t index, const float *values, int32_t count);
    // Writes a DT_ENUM pin's value into its bound member now, taking effect at the current
    // clock. Once open, announces it with STREAM_SINGLE_CHANGE at the current clock. False for
    // a pin that is not DT_ENUM, or after close.
    bool setList(int32_t pin, int16_t value);
    // True while every guard sample of every buffer still holds GUARD_PATTERN.
    bool guardsIntact() const;

    // Queues EV_PIN_STATUS (value1 = status, pointer = pin) at Host::blockStart() + clockOffset,
    // which may lie in a later block. False for an unknown pin or an offset before
    // Host::position() or beyond 2^31 - 1.
    bool scheduleStatus(int32_t pin, uint32_t clockOffset, int32_t status);
    // Queues any event as it stands. False when its stamp lies before the current clock.
    bool queueEvent(const SEEvent &event);
    // Events not yet delivered, in queue order (host-made and module-posted alike).
    const std::vector<SEEvent> &pendingEvents() const { return m_events; }
    // Events delivered after the clock had passed their stamp (posted into a segment that was
    // already rendered): they still arrive with the clock set to their stamp.
    uint32_t lateEventCount() const { return m_late_events; }
    // Events dropped because their stamp lay before the current block's start.
    uint32_t droppedEventCount() const { return m_dropped_events; }

    // Every callback request since creation (or clearRequests), in order of arrival.
    const std::vector<HostRequest> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // Logging is on at creation; a long render may turn it off to save memory.
    void setRecording(bool recording) { m_recording = recording; }
    // Called for every request while the module waits for the answer, before the host acts on
    // it; lets a test look at the module's state at that very moment.
    void setRequestObserver(std::function<void(const HostRequest &)> observer);

    // True from HOST_SLEEP until the next EV_PIN_STATUS event delivered to this instance. While
    // asleep the host does not call the process routine and fills each DT_FSAMPLE output with
    // its last produced sample: the module announced its outputs static before asking to sleep.
    bool isAsleep() const { return m_asleep; }
    // The routine the host calls: read at creation and again before the next segment after
    // each HOST_PROCESS_CHANGED, never otherwise; from the record, or from the SEProcessInfo
    // answer when the host was told so (Host::setRoutineFromProcessInfo).
    SEProcessEntry processEntry() const { return m_process_entry; }
    // Calls of the process routine so far.
    uint32_t processCallCount() const { return m_process_calls; }

    // Requests that arrived with a record no HostedInstance owns; answered 0.
    static uint32_t strayRequestCount();

private:
    friend class Host;

    explicit HostedInstance(Host &host);
    // makeModule with this object as host data, then binds the pins. False when the plug-in
    // returned null.
    bool create(const PluginLibrary &library, int32_t index, int32_t kind);
    void bindPins();
    SEProcessEntry readRoutine();
    bool isAudioInput(int32_t pin) const;
    void queueStatus(uint32_t stamp, int32_t pin, int32_t status);

    // Host side of the block loop.
    void startBlock(); // fills every audio input with its held value
    // Smallest distance from `clock` to a pending stamp in 1..limit-1, else `limit`.
    uint32_t nextEventDistance(uint32_t clock, uint32_t limit) const;
    // Removes and yields the earliest pending event stamped at or before `horizon` (queue
    // order among equal stamps); events stamped before `blockStart` are dropped on the way.
    bool takeEvent(uint32_t horizon, uint32_t blockStart, SEEvent &event);
    void deliver(const SEEvent &event);
    void render(int32_t offset, int32_t count);

    static intptr_t SE_CALL callback(SEModuleRecord *record, int32_t opcode, int32_t index,
                                     int32_t value, void *ptr, float opt);
    intptr_t answer(int32_t opcode, int32_t index, int32_t value, void *ptr, float opt);

    Host &m_host;
    SEModuleRecord *m_record = nullptr;
    bool m_open = false;
    bool m_closed = false;
    bool m_asleep = false;
    bool m_process_changed = false;
    bool m_recording = true;
    bool m_routine_from_info = false;
    SEProcessEntry m_process_entry = nullptr;
    uint32_t m_process_calls = 0;
    uint32_t m_late_events = 0;
    uint32_t m_dropped_events = 0;
    int32_t m_description_count = 0;
    std::vector<HostPin> m_pins;
    std::vector<float> m_samples; // every buffer with its guard zones, allocated once
    std::vector<SEEvent> m_events;
    std::vector<HostRequest> m_requests;
    std::function<void(const HostRequest &)> m_observer;
};
