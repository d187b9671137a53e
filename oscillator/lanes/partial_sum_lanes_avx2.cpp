// The lane passes on AVX2: four double lanes, the float kernel in four float lanes. Only the
// functions between the target pragmas use AVX2; every header with external inline functions is
// included before them, so no copy of those is emitted here with wider instructions than the
// rest of the library.
// Their scalar doubles are SSE2 too (fpmath=sse), which 32-bit builds do not use by default.
#include "oscillator/lanes/partial_sum_lanes.h"

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <utility>

#include "kernels/sin_cos_pi.h"
#include "oscillator/signal/complex_power.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2", "fpmath=sse")
#endif

namespace {

constexpr int32_t W = 4;
typedef double VD __attribute__((vector_size(32)));
typedef int64_t VI __attribute__((vector_size(32)));
typedef float VF __attribute__((vector_size(16)));
typedef float VF2 __attribute__((vector_size(32)));

// Round half to even whatever the rounding mode, like nearestInt: VROUNDPD with immediate 8
// (nearest, exceptions suppressed). The builtin, not the intrinsic: the intrinsic's x87
// arithmetic setting differs from this file's, so GCC will not inline it on 32-bit builds.
inline VD roundHalfEven(VD v) {
    return __builtin_ia32_roundpd256(v, 0x8);
}

// Correctly rounded, as std::sqrt is: VSQRTPD, by its builtin like the rounding.
inline VD sqrtLanes(VD v) {
    return __builtin_ia32_sqrtpd256(v);
}

} // namespace

#include "oscillator/lanes/partial_sum_lanes_body.h"

LanePassTable lanePassesAvx2() {
    return passTable();
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
