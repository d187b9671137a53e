// SEModuleProperties: what getModuleProperties writes about a module type. The host owns the
// record (at least 24 bytes on 32-bit targets); the library writes id, name, about and
// sdk_version only, and never anything past sdk_version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct SEModuleProperties {
    const char *id;      // identifier of the module type, library-owned text valid while loaded
    const char *name;    // display name, library-owned text
    const char *about;   // author text, library-owned text
    intptr_t unnamed1;   // never written by the library
    intptr_t unnamed2;   // never written by the library
    int32_t sdk_version; // SE_SDK_VERSION, written for every index
};

static_assert(std::is_standard_layout<SEModuleProperties>::value,
              "SEModuleProperties is a wire record");
static_assert(std::is_trivially_copyable<SEModuleProperties>::value,
              "SEModuleProperties is a wire record");
#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(SEModuleProperties) == 24, "SEModuleProperties is six 32-bit words");
static_assert(offsetof(SEModuleProperties, id) == 0, "SEModuleProperties layout");
static_assert(offsetof(SEModuleProperties, name) == 4, "SEModuleProperties layout");
static_assert(offsetof(SEModuleProperties, about) == 8, "SEModuleProperties layout");
static_assert(offsetof(SEModuleProperties, unnamed1) == 12, "SEModuleProperties layout");
static_assert(offsetof(SEModuleProperties, unnamed2) == 16, "SEModuleProperties layout");
static_assert(offsetof(SEModuleProperties, sdk_version) == 20, "SEModuleProperties layout");
#endif
