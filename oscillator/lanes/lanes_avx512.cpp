// The lane passes on AVX-512 (F, DQ, BW, VL): eight double lanes, the float kernel in eight
// float lanes, under the build rule of lanes/unit_target.h. x86-64 only: the 32-bit builds stop
// at AVX2 (WIDEST_BUILT_UNIT).
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/lanes/unit_target.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "kernels/lanes.h"

TARN_UNIT_TARGET_BEGIN("avx512f,avx512dq,avx512bw,avx512vl")

#include "oscillator/lanes/sub_block_lanes.h"

namespace {

struct Avx512Lanes : VectorLanes<8> {
    // Round half to even whatever the rounding mode, like nearestInt: VRNDSCALEPD with
    // immediate 8 (nearest, exceptions suppressed), every lane, current rounding control (4) for
    // the rest. Builtins, not intrinsics: see lanes_avx2.cpp.
    static D roundHalfEven(D v) { return __builtin_ia32_rndscalepd_mask(v, 0x8, D{}, 0xff, 4); }
    // Correctly rounded, as std::sqrt is: VSQRTPD in the current rounding direction (4); GCC's
    // builtin takes a merge source and a mask, clang's neither.
    static D sqrt(D v) {
#if defined(__clang__)
        return __builtin_ia32_sqrtpd512(v, 4);
#else
        return __builtin_ia32_sqrtpd512_mask(v, D{}, 0xff, 4);
#endif
    }
    // a b + c rounded once: VFMADD, every lane, current rounding direction (4).
    static D mulAdd(D a, D b, D c) {
        return __builtin_ia32_vfmaddpd512_mask(a, b, c, 0xff, 4);
    }
    // Each lane's sign bit, lane 0 lowest: VPMOVQ2M.
    static int32_t maskBits(I m) {
        typedef long long Q __attribute__((vector_size(64)));
        return __builtin_ia32_cvtq2mask512((Q)m);
    }
};

} // namespace

const LanePasses AVX512_PASSES = passesOf<Avx512Lanes>();

TARN_UNIT_TARGET_END
