// Which unit's passes serve.
#include "oscillator/lanes/lane_passes.h"

const LanePasses *lanePasses(VectorUnit unit) {
    switch (unit) {
    case VectorUnit::Sse2:
        return &SSE2_PASSES;
    case VectorUnit::Avx2:
        return &AVX2_PASSES;
    case VectorUnit::Avx512:
        // A discarded statement: the 32-bit builds need no definition of AVX512_PASSES.
        if constexpr (WIDEST_BUILT_UNIT >= VectorUnit::Avx512) {
            return &AVX512_PASSES;
        }
        return nullptr;
    default:
        return nullptr;
    }
}
