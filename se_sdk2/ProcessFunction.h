// ProcessFunction: the per-block routine a module installs with setProcessFunction. The host
// calls its address word directly through process_entry, so that word is always a plain cdecl
// function: processFunction<M, &M::f>() wraps a member function in a trampoline of its own
// (member functions are thiscall on 32-bit MinGW and cannot be called as plain functions).
#pragma once

#include "se_sdk2/SEModuleRecord.h"

#include <cstdint>

class SEModule_base;

struct ProcessFunction {
    SEProcessEntry address; // called as (object, bufferOffset, sampleCount), once per block
    intptr_t adjustment;    // object adjustment; 0 throughout this library
};

// Equal when the addresses are equal and either the adjustments are equal or the address is
// null.
inline bool operator==(const ProcessFunction &a, const ProcessFunction &b) {
    return a.address == b.address && (a.adjustment == b.adjustment || a.address == nullptr);
}

inline bool operator!=(const ProcessFunction &a, const ProcessFunction &b) {
    return !(a == b);
}

// The plain function behind processFunction<M, F>(): `object` is the record's object field,
// the SEModule_base part of an M.
template <class M, void (M::*F)(int32_t, int32_t)>
void SE_CALL processTrampoline(void *object, int32_t bufferOffset, int32_t sampleCount) {
    M *module = static_cast<M *>(static_cast<SEModule_base *>(object));
    (module->*F)(bufferOffset, sampleCount);
}

// The routine that runs M::F on the instance; the same M and F always give an equal value.
template <class M, void (M::*F)(int32_t, int32_t)> ProcessFunction processFunction() {
    return ProcessFunction{&processTrampoline<M, F>, 0};
}
