// SEProcessInfo: answer to MOD_GET_PROCESS_INFO. One record for the whole process, refilled
// by every request on any instance; four 32-bit words on 32-bit targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct SEProcessInfo {
    int32_t version;        // SE_PROCESS_INFO_VERSION
    int32_t function_size;  // size in bytes of what process_function points to (8 on 32-bit)
    void *process_function; // the asking instance's m_process_function member
    int32_t host_constant;  // SE_PROCESS_INFO_CONSTANT; its meaning is the host's
};

static_assert(std::is_standard_layout<SEProcessInfo>::value, "SEProcessInfo is a wire record");
static_assert(std::is_trivially_copyable<SEProcessInfo>::value, "SEProcessInfo is a wire record");
#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(SEProcessInfo) == 16, "SEProcessInfo is four 32-bit words");
static_assert(offsetof(SEProcessInfo, version) == 0, "SEProcessInfo layout");
static_assert(offsetof(SEProcessInfo, function_size) == 4, "SEProcessInfo layout");
static_assert(offsetof(SEProcessInfo, process_function) == 8, "SEProcessInfo layout");
static_assert(offsetof(SEProcessInfo, host_constant) == 12, "SEProcessInfo layout");
#endif
