// Calls into a Windows image: the one road from this side into the image's code (exports, the
// entry point, TLS callbacks, and the function pointers the image hands out). See
// windows_call.S for what the callee finds: 4-byte stack alignment, its thread block in %fs,
// Windows' x87 control word.
#pragma once

#include <cstdint>
#include <initializer_list>

extern "C" uint32_t tarn_windows_call(const void *function, const uint32_t *args, uint32_t count,
                                      uint32_t fsSelector);

// The arguments as 32-bit stack words, first argument first (cdecl and stdcall push them in
// the same order). Returns the callee's %eax.
inline uint32_t windowsCall(const void *function, uint32_t fsSelector,
                            std::initializer_list<uint32_t> args) {
    return tarn_windows_call(function, args.begin(), static_cast<uint32_t>(args.size()),
                             fsSelector);
}

// A pointer or a float as the stack word the callee reads.
inline uint32_t windowsWord(const void *p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}
inline uint32_t windowsWord(float f) {
    uint32_t word;
    __builtin_memcpy(&word, &f, sizeof word);
    return word;
}
