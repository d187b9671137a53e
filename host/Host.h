// The project's own host: owns module instances of one plug-in, one sample clock for all of
// them, and the block loop. A block is rendered in segments split at event time stamps: render
// up to the next stamp of any instance, deliver the events stamped there, continue. So every
// event arrives exactly when the clock equals its stamp, and notes of different instances keep
// their order in time. Single-threaded; not re-entrant from module callbacks.
#pragma once

#include "host/HostedInstance.h"
#include "host/ModuleCallObserver.h"
#include "host/PluginLibrary.h"

#include <cstdint>
#include <memory>
#include <vector>

class Host {
public:
    // Deliveries at one stamp per instance and call, at most: a module that keeps posting events
    // at the current clock cannot hang the host (the rest stay queued).
    static constexpr int32_t MAX_DELIVERIES = 65536;

    // The library must outlive the host. blockSize is the size of every buffer in samples (a
    // value below 1 counts as 1); the clock and the first block start at 0.
    Host(const PluginLibrary &library, float sampleRate, int32_t blockSize);
    // Closes every instance still open, in creation order.
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // makeModule(index, kind) and pin binding; nothing is sent to the module yet. Null when the
    // plug-in answers null. The instance lives as long as the host, closed or not.
    HostedInstance *makeInstance(int32_t index = 0, int32_t kind = 1);
    // makeInstance(0, 1), then the sample rate, the block size and MOD_OPEN, in that order.
    HostedInstance *addInstance();
    // MOD_CLOSE for one instance; same as instance.close().
    intptr_t closeInstance(HostedInstance &instance) { return instance.close(); }

    size_t instanceCount() const { return m_instances.size(); }
    HostedInstance &instance(size_t i) { return *m_instances[i]; }
    const PluginLibrary &library() const { return m_library; }
    float sampleRate() const { return m_sample_rate; }
    int32_t blockSize() const { return m_block_size; }

    // The clock that HOST_GET_SAMPLE_CLOCK answers: during a process call the clock of the
    // segment's first sample, during an event delivery the event's stamp, between calls the
    // clock of the next sample to render. Unsigned, wraps at 2^32.
    uint32_t sampleClock() const { return m_clock; }
    // The clock of buffer element 0 (HOST_GET_BLOCK_START), the same for every pin.
    uint32_t blockStart() const { return m_block_start; }
    // Buffer index of the next sample to render, 0..blockSize()-1.
    int32_t position() const { return m_position; }

    // Starts a block at `clock`: clock, block start and position 0. Audio inputs refill with
    // their held values. Pending events keep their stamps; those before `clock` are dropped.
    void setSampleClock(uint32_t clock);
    // Starts the next block at the current clock, leaving the rest of this one unrendered.
    void nextBlock();

    // Renders buffer elements offset..offset+count-1 of the current block for every open
    // instance. The samples from position() up to offset are skipped: their events still arrive
    // at their stamps, but nothing renders them. Events stamped at an element's clock are
    // delivered just before that element is rendered, so events at the block's end arrive in
    // the next block. When the block's last element has been rendered the next block begins.
    // False (nothing done) unless position() <= offset, 0 <= count and offset + count <=
    // blockSize().
    bool process(int32_t offset, int32_t count);
    // Renders `sampleCount` samples from position() on as full blocks where possible.
    void run(int32_t sampleCount);

    // Where each instance's routine is read (at creation and after each HOST_PROCESS_CHANGED):
    // the record's process_entry by default, or, when set, the address word of the pair that
    // MOD_GET_PROCESS_INFO's answer points to, as a host may also find it. Set before
    // makeInstance; instances made earlier keep the source they were made with.
    void setRoutineFromProcessInfo(bool fromProcessInfo) { m_routine_from_info = fromProcessInfo; }
    bool routineFromProcessInfo() const { return m_routine_from_info; }

    // Watches every call into the modules of this host and every request back; null for none.
    // The observer must outlive the host or be removed first.
    void setCallObserver(ModuleCallObserver *observer) { m_observer = observer; }
    ModuleCallObserver *callObserver() const { return m_observer; }

private:
    void startBlock();
    // Delivers to every open instance the events stamped at or before the clock.
    void deliverDue();
    // Delivers `instance`'s events stamped at or before `horizon`, each with the clock at its
    // stamp; those before `lateBefore` count as late. The clock is restored afterwards.
    void deliverUpTo(HostedInstance &instance, uint32_t horizon, uint32_t lateBefore);

    const PluginLibrary &m_library;
    float m_sample_rate;
    int32_t m_block_size;
    uint32_t m_clock = 0;
    uint32_t m_block_start = 0;
    int32_t m_position = 0;
    std::vector<std::unique_ptr<HostedInstance>> m_instances;
    ModuleCallObserver *m_observer = nullptr;
    bool m_routine_from_info = false;
};
