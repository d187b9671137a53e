// The lane passes on AVX2: four double lanes, the float kernel in four float lanes; the build
// rule of lanes/unit_target.h.
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/lanes/unit_target.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "kernels/lanes.h"

TARN_UNIT_TARGET_BEGIN("avx2")

#include "oscillator/lanes/sub_block_lanes.h"

namespace {

struct Avx2Lanes : VectorLanes<4> {
    // Round half to even whatever the rounding mode, like nearestInt: VROUNDPD with immediate 8
    // (nearest, exceptions suppressed). Builtins, not intrinsics: the intrinsics' x87 setting
    // differs from this file's, so GCC would not inline them on 32-bit builds.
    static D roundHalfEven(D v) { return __builtin_ia32_roundpd256(v, 0x8); }
    // Correctly rounded, as std::sqrt is: VSQRTPD.
    static D sqrt(D v) { return __builtin_ia32_sqrtpd256(v); }
};

} // namespace

const LanePasses AVX2_PASSES = passesOf<Avx2Lanes>();

TARN_UNIT_TARGET_END
