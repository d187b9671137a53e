// Small helpers for framework tests: reading raw memory by byte offset, driving a module
// through its record's entries, and writing pin descriptions.
#pragma once

#include "se_sdk2/SEModuleRecord.h"
#include "se_sdk2/SEPinProperties.h"
#include "se_sdk2/se_protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// The T stored at `offset` bytes from `base`, read without going through any struct.
template <class T> T readAt(const void *base, size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char *>(base) + offset, sizeof(T));
    return value;
}

template <class T> void writeAt(void *base, size_t offset, T value) {
    std::memcpy(static_cast<unsigned char *>(base) + offset, &value, sizeof(T));
}

// A host request through the record's dispatch entry, as a host sends it.
inline intptr_t dispatch(SEModuleRecord *record, int32_t opcode, int32_t index = 0,
                         int32_t value = 0, void *ptr = nullptr, float opt = 0.0f) {
    return record->dispatch_entry(record, opcode, index, value, ptr, opt);
}

inline SEPinProperties describe(int32_t datatype, void *member, int32_t flags = 0,
                                int32_t direction = DR_IN) {
    SEPinProperties properties = SEPinProperties();
    properties.datatype = datatype;
    properties.variable_address = member;
    properties.flags = flags;
    properties.direction = direction;
    properties.name = "pin";
    return properties;
}
