// SEModuleRecord: the record the host drives a module instance through, embedded in the
// instance; 48 bytes on 32-bit targets. Also the types of the three entries and of the host's
// callback. All four are plain cdecl functions (SE_CALL), never C++ member functions.
#pragma once

#include "se_sdk2/SEEvent.h"
#include "se_sdk2/se_abi.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct SEModuleRecord;

// Host to module: one numbered request (opcodes MOD_*). Called with the record's address.
typedef intptr_t(SE_CALL *SEDispatchEntry)(SEModuleRecord *record, int32_t opcode, int32_t index,
                                           int32_t value, void *ptr, float opt);
// Host to module, once per block: produce sampleCount samples starting at bufferOffset within
// the pins' buffers. Called with the record's `object`.
typedef void(SE_CALL *SEProcessEntry)(void *object, int32_t bufferOffset, int32_t sampleCount);
// Host to module: deliver one event, exactly when the sample clock equals its time stamp.
// Called with the record's `object`; the event belongs to the host.
typedef void(SE_CALL *SEEventEntry)(void *object, SEEvent *event);
// Module to host: one numbered request (opcodes HOST_*), with the record's address first.
typedef intptr_t(SE_CALL *HostCallback)(SEModuleRecord *record, int32_t opcode, int32_t index,
                                        int32_t value, void *ptr, float opt);

struct SEModuleRecord {
    int32_t magic;                  // SE_RECORD_MAGIC, written by the module
    int32_t version;                // SE_RECORD_VERSION, written by the module
    intptr_t host_data;             // fourth argument of makeModule; kept, never read
    void *object;                   // the SEModule_base that contains this record
    void *reserved0;                // zero, never written
    SEDispatchEntry dispatch_entry; // fixed for the instance's life
    SEProcessEntry process_entry;   // current process routine; changes, then HOST_PROCESS_CHANGED
    SEEventEntry event_entry;       // fixed for the instance's life
    void *reserved1[4];             // zero, never written
};

static_assert(std::is_standard_layout<SEModuleRecord>::value, "SEModuleRecord is a wire record");
static_assert(std::is_trivially_copyable<SEModuleRecord>::value, "SEModuleRecord is a wire record");
#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(SEModuleRecord) == 48, "SEModuleRecord is twelve 32-bit words");
static_assert(offsetof(SEModuleRecord, magic) == 0, "SEModuleRecord layout");
static_assert(offsetof(SEModuleRecord, version) == 4, "SEModuleRecord layout");
static_assert(offsetof(SEModuleRecord, host_data) == 8, "SEModuleRecord layout");
static_assert(offsetof(SEModuleRecord, object) == 12, "SEModuleRecord layout");
static_assert(offsetof(SEModuleRecord, reserved0) == 16, "SEModuleRecord layout");
static_assert(offsetof(SEModuleRecord, dispatch_entry) == 20, "SEModuleRecord layout");
static_assert(offsetof(SEModuleRecord, process_entry) == 24, "SEModuleRecord layout");
static_assert(offsetof(SEModuleRecord, event_entry) == 28, "SEModuleRecord layout");
static_assert(offsetof(SEModuleRecord, reserved1) == 32, "SEModuleRecord layout");
#endif
