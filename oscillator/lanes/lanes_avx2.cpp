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

TARN_UNIT_TARGET_BEGIN("avx2,fma")

#include "oscillator/lanes/sub_block_lanes.h"

namespace {

struct Avx2Lanes : VectorLanes<4> {
    // Round half to even whatever the rounding mode, like nearestInt: VROUNDPD with immediate 8
    // (nearest, exceptions suppressed). Builtins, not intrinsics: the intrinsics' x87 setting
    // differs from this file's, so GCC would not inline them on 32-bit builds.
    static D roundHalfEven(D v) { return __builtin_ia32_roundpd256(v, 0x8); }
    // Correctly rounded, as std::sqrt is: VSQRTPD.
    static D sqrt(D v) { return __builtin_ia32_sqrtpd256(v); }
    // a b + c rounded once: VFMADD (the unit needs FMA, cpu_features.h).
    static D mulAdd(D a, D b, D c) { return __builtin_ia32_vfmaddpd256(a, b, c); }
    // Each lane's sign bit, lane 0 lowest: VMOVMSKPD.
    static int32_t maskBits(I m) { return __builtin_ia32_movmskpd256((D)m); }
#if !defined(__clang__)
    // The low and high four of eight floats, widened exactly: VCVTPS2PD, after VEXTRACTF128.
    // GCC's own builtins (clang compiles the generic shuffles to these instructions already).
    static D widenLow(F2 f) {
        return __builtin_ia32_cvtps2pd256(__builtin_ia32_ps_ps256(f));
    }
    static D widenHigh(F2 f) {
        return __builtin_ia32_cvtps2pd256(__builtin_ia32_vextractf128_ps256(f, 1));
    }
    // Four floats widened exactly: VCVTPS2PD.
    static D widen(F f) {
        return __builtin_ia32_cvtps2pd256(f);
    }
#endif
};

} // namespace

const LanePasses AVX2_PASSES = passesOf<Avx2Lanes>();

TARN_UNIT_TARGET_END
