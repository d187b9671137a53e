// A watcher of every call the host makes into a module and of every request a module makes
// back, for validators: it sees each call just before and just after it runs, and each
// request before the host answers it. The host itself never needs one.
#pragma once

#include "host/HostRequest.h"
#include "se_sdk2/SEEvent.h"

#include <cstdint>

class HostedInstance;

// The four roads from the host into a module.
constexpr int32_t MODULE_CALL_MAKE = 0;     // makeModule(index, kind, ...)
constexpr int32_t MODULE_CALL_DISPATCH = 1; // dispatch_entry(record, opcode, index, value, ...)
constexpr int32_t MODULE_CALL_PROCESS = 2;  // process_entry(object, offset, count)
constexpr int32_t MODULE_CALL_EVENT = 3;    // event_entry(object, event)

struct ModuleCall {
    int32_t kind;         // MODULE_CALL_*
    int32_t opcode;       // DISPATCH: the opcode; MAKE: the index
    int32_t index;        // DISPATCH: index; MAKE: the kind
    int32_t value;        // DISPATCH: value
    void *ptr;            // DISPATCH: ptr
    float opt;            // DISPATCH: opt
    int32_t offset;       // PROCESS: buffer offset
    int32_t count;        // PROCESS: sample count
    const SEEvent *event; // EVENT: the module's copy of the event, valid during the call
};

class ModuleCallObserver {
public:
    virtual ~ModuleCallObserver() = default;
    // Just before the call. For MAKE the instance has no record yet.
    virtual void beforeCall(HostedInstance &instance, const ModuleCall &call) = 0;
    // Just after it returned. After MOD_CLOSE the record is gone: do not read it.
    virtual void afterCall(HostedInstance &instance, const ModuleCall &call) = 0;
    // A request of the module, while it waits for the answer and before the host acts on it.
    virtual void onRequest(HostedInstance &instance, const HostRequest &request) = 0;
};
