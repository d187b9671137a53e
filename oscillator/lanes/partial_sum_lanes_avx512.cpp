// The lane passes on AVX-512 (F, DQ, BW, VL): eight double lanes, the float kernel in eight
// float lanes. Only the functions between the target pragmas use AVX-512; every header with
// external inline functions is included before them, so no copy of those is emitted here with
// wider instructions than the rest of the library.
// Built for x86-64 only: the 32-bit builds stop at AVX2 (WIDEST_BUILT_UNIT).
#include "oscillator/lanes/partial_sum_lanes.h"

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <utility>

#include "kernels/sin_cos_pi.h"
#include "oscillator/signal/complex_power.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq,avx512bw,avx512vl"))),        \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl", "fpmath=sse")
#endif

namespace {

constexpr int32_t W = 8;
typedef double VD __attribute__((vector_size(64)));
typedef int64_t VI __attribute__((vector_size(64)));
typedef float VF __attribute__((vector_size(32)));
typedef float VF2 __attribute__((vector_size(64)));

// Round half to even whatever the rounding mode, like nearestInt: VRNDSCALEPD with immediate
// 8 (nearest, exceptions suppressed), every lane, current rounding control (4) for the rest.
// The builtin, not the intrinsic: the intrinsic's x87 arithmetic setting differs from this
// file's, so GCC will not inline it on 32-bit builds.
inline VD roundHalfEven(VD v) {
    return __builtin_ia32_rndscalepd_mask(v, 0x8, VD{}, 0xff, 4);
}

// Correctly rounded, as std::sqrt is: VSQRTPD in the current rounding direction (4), by its
// builtin like the rounding; GCC's takes a merge source and a mask, clang's neither.
inline VD sqrtLanes(VD v) {
#if defined(__clang__)
    return __builtin_ia32_sqrtpd512(v, 4);
#else
    return __builtin_ia32_sqrtpd512_mask(v, VD{}, 0xff, 4);
#endif
}

} // namespace

#include "oscillator/lanes/partial_sum_lanes_body.h"

LanePassTable lanePassesAvx512() {
    return passTable();
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
