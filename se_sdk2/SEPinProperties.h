// SEPinProperties: the description of one pin, filled by getPinProperties. Eight 32-bit words
// on 32-bit targets. A module writes only the fields it needs; the asker zeroes the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct SEPinProperties {
    void *variable_address;     // module member holding the value (DT_FSAMPLE: a float* member)
    int32_t direction;          // DR_IN or DR_OUT
    int32_t datatype;           // DT_ENUM, DT_FSAMPLE, or another data type code
    const char *name;           // pin name, library-owned text valid while loaded
    const char *default_value;  // default as text (a list value, not a label), or null
    const char *datatype_extra; // list items "label=value,..." for DT_ENUM, or null
    int32_t flags;              // IO_* bits
    int32_t reserved;           // zero
};

static_assert(std::is_standard_layout<SEPinProperties>::value, "SEPinProperties is a wire record");
static_assert(std::is_trivially_copyable<SEPinProperties>::value,
              "SEPinProperties is a wire record");
#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(SEPinProperties) == 32, "SEPinProperties is eight 32-bit words");
static_assert(offsetof(SEPinProperties, variable_address) == 0, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, direction) == 4, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, datatype) == 8, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, name) == 12, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, default_value) == 16, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, datatype_extra) == 20, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, flags) == 24, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, reserved) == 28, "SEPinProperties layout");
#endif
