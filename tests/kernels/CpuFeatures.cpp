// The feature test's decision on fake observations, and its answer on this processor against
// the compiler's own CPUID-based query.
#include "kernels/cpu_features.h"

#include <gtest/gtest.h>

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
