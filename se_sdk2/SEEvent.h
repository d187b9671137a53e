// SEEvent: a time-stamped event, host to module through event_entry and module to host through
// HOST_POST_EVENT. Six 32-bit words on 32-bit targets; `pointer` is pointer-sized everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct SEEvent {
    uint32_t time_stamp; // sample clock at which the event takes effect (unsigned, wraps)
    int32_t type;        // EV_PIN_STATUS, EV_PIN_DATA, EV_CALL; other types are ignored
    int32_t value1;      // EV_PIN_STATUS: new stream status; EV_PIN_DATA: data word
    int32_t value2;      // EV_PIN_DATA: identifier in the low 16 bits, signed
    intptr_t pointer;    // EV_PIN_STATUS: pin number; EV_CALL: operation from scheduleCall
    int32_t reserved;    // 0 in every event the module sends; never read
};

static_assert(std::is_standard_layout<SEEvent>::value, "SEEvent is a wire record");
static_assert(std::is_trivially_copyable<SEEvent>::value, "SEEvent is a wire record");
#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(SEEvent) == 24, "SEEvent is six 32-bit words");
static_assert(offsetof(SEEvent, time_stamp) == 0, "SEEvent layout");
static_assert(offsetof(SEEvent, type) == 4, "SEEvent layout");
static_assert(offsetof(SEEvent, value1) == 8, "SEEvent layout");
static_assert(offsetof(SEEvent, value2) == 12, "SEEvent layout");
static_assert(offsetof(SEEvent, pointer) == 16, "SEEvent layout");
static_assert(offsetof(SEEvent, reserved) == 20, "SEEvent layout");
#endif
