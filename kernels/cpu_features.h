// The processor feature tests: the SSE test that chooses the four-lane sine kernel (EFLAGS ID
// bit, then CPUID leaves 0 and 1), and the widest vector unit the render loop may use (CPUID
// leaves 1 and 7, and XGETBV for the register state the system saves).
#pragma once

#include <cstdint>

// Bit of the leaf-1 EDX feature word that reports SSE.
constexpr uint32_t CPU_FEATURE_SSE = 1u << 25;
// Leaf-1 EDX: SSE2. Leaf-1 ECX: fused multiply-add (FMA), XSAVE enabled by the system
// (OSXSAVE), AVX.
constexpr uint32_t CPU_FEATURE_SSE2 = 1u << 26;
constexpr uint32_t CPU_FEATURE_FMA = 1u << 12;
constexpr uint32_t CPU_FEATURE_OSXSAVE = 1u << 27;
constexpr uint32_t CPU_FEATURE_AVX = 1u << 28;
// Leaf-7 EBX: AVX2, and the AVX-512 subsets the wide render pass is built for (F, DQ, BW, VL).
constexpr uint32_t CPU_FEATURE7_AVX2 = 1u << 5;
constexpr uint32_t CPU_FEATURE7_AVX512 = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);
// XCR0: the system saves the SSE and AVX registers (bits 1, 2), and the AVX-512 mask and upper
// registers (bits 5 to 7).
constexpr uint32_t XCR0_AVX_STATE = 0x6u;
constexpr uint32_t XCR0_AVX512_STATE = 0xe6u;

// The feature word from the three observations of the test: whether the ID bit (21) of EFLAGS
// could be inverted, the highest leaf reported by CPUID leaf 0, and EDX of CPUID leaf 1.
// 0 when the processor has no CPUID or reports no leaf beyond 0.
constexpr uint32_t featureWordFrom(bool idBitToggles, uint32_t highestLeaf, uint32_t leaf1Edx) {
    return (!idBitToggles || highestLeaf == 0) ? 0u : leaf1Edx;
}

// Double-precision vector units of the render loop's closed-form pass, narrowest first. None
// keeps the per-sample loop.
enum class VectorUnit : uint8_t { None, Sse2, Avx2, Avx512 };

// The widest unit this build has lane passes for. The 32-bit builds stop at AVX2: their tests
// run under qemu-i386, which has no AVX-512, so AVX-512 lanes there would run on hosts only.
#if defined(__x86_64__)
constexpr VectorUnit WIDEST_BUILT_UNIT = VectorUnit::Avx512;
#else
constexpr VectorUnit WIDEST_BUILT_UNIT = VectorUnit::Avx2;
#endif

// What the processor observations allow, at most WIDEST_BUILT_UNIT. leaf1Edx is the feature
// word (0 without CPUID); leaf1Ecx, leaf7Ebx and xcr0 count only where their source exists
// (highestLeaf >= 7 for leaf 7, OSXSAVE for XGETBV); callers pass 0 for an observation they
// could not make. AVX2 and AVX-512 need the system to save their registers, or their first use
// faults; both units use fused multiply-adds, which every processor with AVX2 but a few has.
constexpr VectorUnit vectorUnitFrom(uint32_t highestLeaf, uint32_t leaf1Edx, uint32_t leaf1Ecx,
                                    uint32_t leaf7Ebx, uint32_t xcr0) {
    const bool sse2 = (leaf1Edx & CPU_FEATURE_SSE) != 0 && (leaf1Edx & CPU_FEATURE_SSE2) != 0;
    constexpr uint32_t AVX_FMA = CPU_FEATURE_OSXSAVE | CPU_FEATURE_AVX | CPU_FEATURE_FMA;
    const bool osAvx = (leaf1Ecx & AVX_FMA) == AVX_FMA && (xcr0 & XCR0_AVX_STATE) == XCR0_AVX_STATE;
    const uint32_t leaf7 = highestLeaf >= 7 ? leaf7Ebx : 0u;
    if (!sse2) {
        return VectorUnit::None;
    }
    if (WIDEST_BUILT_UNIT >= VectorUnit::Avx512 && osAvx &&
        (xcr0 & XCR0_AVX512_STATE) == XCR0_AVX512_STATE &&
        (leaf7 & CPU_FEATURE7_AVX512) == CPU_FEATURE7_AVX512 && (leaf7 & CPU_FEATURE7_AVX2) != 0) {
        return VectorUnit::Avx512;
    }
    if (osAvx && (leaf7 & CPU_FEATURE7_AVX2) != 0) {
        return VectorUnit::Avx2;
    }
    return VectorUnit::Sse2;
}

// EDX of CPUID leaf 1, or 0 when it cannot be read. Runs CPUID only after the ID-bit test
// says it exists. Any thread; leaves the FP control settings alone.
uint32_t cpuFeatureFlags();

// True when the processor runs the SSE instructions of sinCosPi4 (bit 25 of cpuFeatureFlags).
// Called once per module construction.
bool hasSSE();

// The widest vector unit this processor and system run and this build has, from CPUID (after
// the ID-bit test) and XGETBV (only where OSXSAVE says it exists). Called once per module
// construction.
VectorUnit widestVectorUnit();
