/* A tiny DLL for the PE loader's tests, built by MinGW in the Windows tree. Its exports show
   what the loader did: a pointer that only a base relocation makes right, the stack words
   each kind of import pops, the stack alignment a call arrives with, its DllMain calls, and an
   _assert. PROBE_MISSING_IMPORT imports a KERNEL32 function the loader lacks;
   PROBE_REFUSE_ATTACH makes DllMain refuse DLL_PROCESS_ATTACH. */
#include <stdint.h>
#include <string.h>

__declspec(dllimport) void __stdcall SetLastError(unsigned long error);
__declspec(dllimport) unsigned long __stdcall GetLastError(void);
__declspec(dllimport) void __cdecl _assert(const char *message, const char *file, unsigned line);

__declspec(dllexport) int32_t probe_value = 42;
__declspec(dllexport) int32_t *probe_pointer = &probe_value; /* a base relocation */
__declspec(dllexport) int32_t probe_attach_count = 0;
static int32_t *detach_flag = 0;

__declspec(dllexport) int32_t probe_read_through_pointer(void) { return *probe_pointer; }

static const char four[] = "four";

/* The bytes of arguments the callee removed from the stack, measured around one call of one
   argument (an immediate, to leave the registers to the measurement). */
#define POPPED_BY(function, argument, result)                                                     \
    do {                                                                                          \
        uint32_t before, after;                                                                   \
        __asm__ volatile("movl %%esp, %0\n\t"                                                     \
                         "pushl %3\n\t"                                                           \
                         "call *%2\n\t"                                                           \
                         "movl %%esp, %1\n\t"                                                     \
                         "movl %0, %%esp"                                                         \
                         : "=&r"(before), "=&r"(after)                                            \
                         : "r"(function), "i"(argument)                                           \
                         : "eax", "ecx", "edx", "memory");                                        \
        result = (int32_t)(after - before + 4);                                                   \
    } while (0)

__declspec(dllexport) int32_t probe_stdcall_pops(void) {
    int32_t popped;
    POPPED_BY((void *)&SetLastError, 7, popped);
    return popped;
}

__declspec(dllexport) int32_t probe_cdecl_pops(void) {
    int32_t popped;
    POPPED_BY((void *)&strlen, four, popped);
    return popped;
}
#undef POPPED_BY

__declspec(dllexport) uint32_t probe_last_error_round_trip(uint32_t value) {
    SetLastError(value);
    return (uint32_t)GetLastError();
}

/* The stack pointer before the call that entered here, mod 16 (frame pointers are kept). */
__declspec(dllexport) uint32_t probe_caller_stack_mod16(void) {
    return (uint32_t)((uintptr_t)__builtin_frame_address(0) + 8) % 16;
}

__declspec(dllexport) void probe_watch_detach(int32_t *flag) { detach_flag = flag; }

__declspec(dllexport) void probe_assert(void) { _assert("probe expression", "pe_probe_dll.c", 77); }

#ifdef PROBE_MISSING_IMPORT
__declspec(dllimport) int __stdcall Beep(unsigned long frequency, unsigned long duration);
__declspec(dllexport) int probe_beep(void) { return Beep(440, 10); }
#endif

int __stdcall DllMain(void *instance, unsigned long reason, void *reserved) {
    (void)instance;
    (void)reserved;
    if (reason == 1) {
        ++probe_attach_count;
#ifdef PROBE_REFUSE_ATTACH
        return 0;
#endif
    } else if (reason == 0 && detach_flag) {
        *detach_flag = 1;
    }
    return 1;
}
