// The lane passes on SSE2: two double lanes, the float kernel in two float lanes. Only the
// functions between the target pragmas use SSE2; every header with external inline functions is
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
#pragma clang attribute push(__attribute__((target("sse2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse2", "fpmath=sse")
#endif

namespace {

constexpr int32_t W = 2;
typedef double VD __attribute__((vector_size(16)));
typedef int64_t VI __attribute__((vector_size(16)));
typedef float VF __attribute__((vector_size(8)));
typedef float VF2 __attribute__((vector_size(16)));

// Round half to even by the 1.5 * 2^52 shift, exact for |v| < 2^51 under the default
// round-to-nearest mode (SSE2 has no rounding instruction); the in-range lanes are below 2^31.
inline VD roundHalfEven(VD v) {
    return (v + 0x1.8p52) - 0x1.8p52;
}

// Correctly rounded, as std::sqrt is: SQRTPD, by its builtin like the rounding.
inline VD sqrtLanes(VD v) {
    return __builtin_ia32_sqrtpd(v);
}

} // namespace

#include "oscillator/lanes/partial_sum_lanes_body.h"

LanePassTable lanePassesSse2() {
    return passTable();
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
