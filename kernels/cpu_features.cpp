// EFLAGS is read and written through GCC's flag builtins, which push and pop with the correct
// width on i386 and x86-64 and keep clear of the x86-64 red zone, which inline push/pop would
// overwrite. CPUID through <cpuid.h>, which saves EBX where PIC code needs it.
#include "kernels/cpu_features.h"

#include <cpuid.h>

namespace {

constexpr unsigned ID_FLAG = 1u << 21;

#if defined(__x86_64__)
using FlagsWord = unsigned long long;
inline FlagsWord readFlags() {
    return __builtin_ia32_readeflags_u64();
}
inline void writeFlags(FlagsWord f) {
    __builtin_ia32_writeeflags_u64(f);
}
#else
using FlagsWord = unsigned int;
inline FlagsWord readFlags() {
    return __builtin_ia32_readeflags_u32();
}
inline void writeFlags(FlagsWord f) {
    __builtin_ia32_writeeflags_u32(f);
}
#endif

// Inverts the ID bit, reads the word back and restores the saved word.
bool idBitToggles() {
    const FlagsWord saved = readFlags();
    writeFlags(saved ^ ID_FLAG);
    const FlagsWord changed = readFlags();
    writeFlags(saved);
    return ((saved ^ changed) & ID_FLAG) != 0;
}

} // namespace

uint32_t cpuFeatureFlags() {
    if (!idBitToggles()) {
        return featureWordFrom(false, 0, 0);
    }
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(0, eax, ebx, ecx, edx);
    const uint32_t highestLeaf = eax;
    if (highestLeaf == 0) {
        return featureWordFrom(true, 0, 0);
    }
    __cpuid(1, eax, ebx, ecx, edx);
    return featureWordFrom(true, highestLeaf, edx);
}

bool hasSSE() {
    return (cpuFeatureFlags() & CPU_FEATURE_SSE) != 0;
}

VectorUnit widestVectorUnit() {
    if (!idBitToggles()) {
        return VectorUnit::None;
    }
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(0, eax, ebx, ecx, edx);
    const uint32_t highestLeaf = eax;
    if (highestLeaf == 0) {
        return VectorUnit::None;
    }
    __cpuid(1, eax, ebx, ecx, edx);
    const uint32_t leaf1Edx = edx, leaf1Ecx = ecx;
    uint32_t leaf7Ebx = 0;
    if (highestLeaf >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        leaf7Ebx = ebx;
    }
    uint32_t xcr0 = 0;
    if ((leaf1Ecx & CPU_FEATURE_OSXSAVE) != 0) {
        // XGETBV by its encoding, so no target attribute is needed; it exists whenever the
        // system has set OSXSAVE.
        unsigned lo = 0, hi = 0;
        __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(lo), "=d"(hi) : "c"(0u));
        xcr0 = lo;
    }
    return vectorUnitFrom(highestLeaf, leaf1Edx, leaf1Ecx, leaf7Ebx, xcr0);
}
