// The processor feature test that chooses the sine kernel: EFLAGS ID bit, then CPUID leaves 0
// and 1. On x86-64 the ID bit lives in RFLAGS; the test is the same.
#pragma once

#include <cstdint>

// Bit of the leaf-1 EDX feature word that reports SSE.
constexpr uint32_t CPU_FEATURE_SSE = 1u << 25;

// The feature word from the three observations of the test: whether the ID bit (21) of EFLAGS
// could be inverted, the highest leaf reported by CPUID leaf 0, and EDX of CPUID leaf 1.
// 0 when the processor has no CPUID or reports no leaf beyond 0.
constexpr uint32_t featureWordFrom(bool idBitToggles, uint32_t highestLeaf, uint32_t leaf1Edx) {
    return (!idBitToggles || highestLeaf == 0) ? 0u : leaf1Edx;
}

// EDX of CPUID leaf 1, or 0 when it cannot be read. Runs CPUID only after the ID-bit test
// says it exists. Any thread; leaves the FP control settings alone.
uint32_t cpuFeatureFlags();

// True when the processor runs the SSE instructions of sinCosPi4 (bit 25 of cpuFeatureFlags).
// Called once per module construction.
bool hasSSE();
