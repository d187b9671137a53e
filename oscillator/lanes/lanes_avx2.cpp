// The lane passes on AVX2: four double lanes, the float kernel in four float lanes. Only the
// functions after the target pragma use AVX2; every header with external inline functions is
// included before it, so no copy of those is emitted here with wider instructions than the rest
// of the library. Their scalar doubles are SSE2 too (fpmath=sse), which 32-bit builds do not use
// by default.
#include "oscillator/lanes/lane_passes.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "kernels/lanes.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2", "fpmath=sse", "tune=generic")
#endif

#include "oscillator/lanes/closed_form_lanes.h"

namespace {

struct Avx2Lanes : VectorLanes<4> {
    // Round half to even whatever the rounding mode, like nearestInt: VROUNDPD with immediate 8
    // (nearest, exceptions suppressed). Builtins, not intrinsics: the intrinsics' x87 setting
    // differs from this file's, so GCC would not inline them on 32-bit builds.
    static D roundHalfEven(D v) { return __builtin_ia32_roundpd256(v, 0x8); }
    // Correctly rounded, as std::sqrt is: VSQRTPD.
    static D sqrt(D v) { return __builtin_ia32_sqrtpd256(v); }
    // The low and high four of eight floats, widened exactly: VCVTPS2PD, after VEXTRACTF128.
    static D widenLow(F2 f) { return __builtin_ia32_cvtps2pd256(__builtin_ia32_ps_ps256(f)); }
    static D widenHigh(F2 f) {
        return __builtin_ia32_cvtps2pd256(__builtin_ia32_vextractf128_ps256(f, 1));
    }
};

} // namespace

const LanePasses AVX2_PASSES = passesOf<Avx2Lanes>();

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
