// One request that a module made through its host callback, as the host logged it: the five
// arguments exactly as received, and the host's sample clock at the moment of the call.
#pragma once

#include <cstdint>

struct HostRequest {
    int32_t opcode; // HOST_* opcode, or any other number the module sent
    int32_t index;  // second argument (a pin number for pin requests)
    int32_t value;  // third argument (a status or a data word)
    intptr_t ptr;   // fourth argument as an integer (a clock, an SEEvent address, or 0)
    float opt;      // fifth argument; 0.0 in every request of this protocol
    uint32_t clock; // host sample clock when the request arrived
};
