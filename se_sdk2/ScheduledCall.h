// ScheduledCall: an operation of a module, taking no arguments, that scheduleCall asks the
// host to run later. Encoded in an event's pointer word as the address of a plain function
// that runs the operation; a virtual operation named here runs as the object's own override.
#pragma once

class SEModule_base;

typedef void (*ScheduledCall)(SEModule_base *module);

template <class M, void (M::*F)()> void callTrampoline(SEModule_base *module) {
    (static_cast<M *>(module)->*F)();
}

// The reference to M::F that scheduleCall sends and handleEvent runs.
template <class M, void (M::*F)()> ScheduledCall scheduledCall() {
    return &callTrampoline<M, F>;
}
