// The feature test's decision on fake observations, and its answer on this processor against
// the compiler's own CPUID-based query.
#include "kernels/cpu_features.h"

#include <gtest/gtest.h>

#include <ios>

TEST(CpuFeatures, NoCpuidOrNoLeafOneGivesAnEmptyFeatureWord) {
    struct Case {
        bool idBitToggles;
        uint32_t highestLeaf, edx, expected;
    };
    const Case cases[] = {
        {false, 13, 0xffffffffu, 0}, // ID bit stuck: CPUID is not even tried
        {true, 0, 0xffffffffu, 0},   // leaf 1 not offered
        {true, 1, CPU_FEATURE_SSE, CPU_FEATURE_SSE},
        {true, 0x20, 0x0789abcdu, 0x0789abcdu},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(featureWordFrom(c.idBitToggles, c.highestLeaf, c.edx), c.expected);
    }
}

TEST(CpuFeatures, AgreesWithTheCompilersProcessorQuery) {
    __builtin_cpu_init();
    const bool sse = __builtin_cpu_supports("sse");
    EXPECT_EQ(hasSSE(), sse);
    EXPECT_EQ((cpuFeatureFlags() & CPU_FEATURE_SSE) != 0, sse);
    // Bit 0 is the x87 unit, present on every processor this library runs on.
    EXPECT_NE(cpuFeatureFlags() & 1u, 0u);
}

TEST(CpuFeatures, RestoresTheIdBit) {
#if defined(__x86_64__)
    const auto before = __builtin_ia32_readeflags_u64();
    cpuFeatureFlags();
    const auto after = __builtin_ia32_readeflags_u64();
#else
    const auto before = __builtin_ia32_readeflags_u32();
    cpuFeatureFlags();
    const auto after = __builtin_ia32_readeflags_u32();
#endif
    EXPECT_EQ(before & (1u << 21), after & (1u << 21));
}

TEST(CpuFeatures, VectorUnitNeedsTheInstructionsAndTheSystemsRegisterState) {
    constexpr uint32_t SSE12 = CPU_FEATURE_SSE | CPU_FEATURE_SSE2;
    constexpr uint32_t OS_AVX = CPU_FEATURE_OSXSAVE | CPU_FEATURE_AVX | CPU_FEATURE_FMA;
    constexpr uint32_t AVX512 = CPU_FEATURE7_AVX512 | CPU_FEATURE7_AVX2;
    // The 32-bit builds have no AVX-512 lanes: they stop at AVX2.
    constexpr VectorUnit WIDEST = sizeof(void *) == 8 ? VectorUnit::Avx512 : VectorUnit::Avx2;
    struct Case {
        uint32_t highestLeaf, edx, ecx, leaf7Ebx, xcr0;
        VectorUnit expected;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0, VectorUnit::None},                             // no CPUID
        {1, CPU_FEATURE_SSE, 0, 0, 0, VectorUnit::None},               // Pentium III
        {1, CPU_FEATURE_SSE2, 0, 0, 0, VectorUnit::None},              // SSE2 bit without SSE
        {1, SSE12, 0, 0, 0, VectorUnit::Sse2},                         // Pentium 4
        {13, SSE12, OS_AVX, CPU_FEATURE7_AVX2, 0x7, VectorUnit::Avx2}, // Haswell
        {6, SSE12, OS_AVX, CPU_FEATURE7_AVX2, 0x7, VectorUnit::Sse2},  // leaf 7 not offered
        {13, SSE12, OS_AVX & ~CPU_FEATURE_OSXSAVE, CPU_FEATURE7_AVX2, 0x7, VectorUnit::Sse2},
        {13, SSE12, OS_AVX & ~CPU_FEATURE_FMA, CPU_FEATURE7_AVX2, 0x7, VectorUnit::Sse2}, // no FMA
        {13, SSE12, OS_AVX, CPU_FEATURE7_AVX2, 0x3, VectorUnit::Sse2}, // AVX state not saved
        {13, SSE12, OS_AVX, AVX512, 0xe7, WIDEST},                     // Zen 4
        {13, SSE12, OS_AVX, AVX512, 0x7, VectorUnit::Avx2}, // system without AVX-512 state
        {13, SSE12, OS_AVX, AVX512 & ~(1u << 30), 0xe7, VectorUnit::Avx2}, // no AVX-512 BW
        {13, SSE12, OS_AVX, AVX512 & ~CPU_FEATURE7_AVX2, 0xe7, VectorUnit::Sse2},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(vectorUnitFrom(c.highestLeaf, c.edx, c.ecx, c.leaf7Ebx, c.xcr0), c.expected)
            << "leaf7 " << std::hex << c.leaf7Ebx << " xcr0 " << c.xcr0;
    }
}

TEST(CpuFeatures, WidestVectorUnitAgreesWithTheCompilersProcessorQuery) {
    __builtin_cpu_init();
    // AVX-512 on the x86-64 build only; the 32-bit builds stop at AVX2.
    const bool avx512 = sizeof(void *) == 8 && __builtin_cpu_supports("avx512f") &&
                        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
                        __builtin_cpu_supports("avx512vl");
    const VectorUnit expected = avx512 ? VectorUnit::Avx512
                                : __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")
                                    ? VectorUnit::Avx2
                                : __builtin_cpu_supports("sse2") ? VectorUnit::Sse2
                                                                 : VectorUnit::None;
    EXPECT_EQ(widestVectorUnit(), expected);
}
