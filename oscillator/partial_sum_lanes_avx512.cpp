// The lane passes on AVX-512 (F, DQ, BW, VL): eight double lanes, the float kernel in eight
// float lanes. Only the functions between the target pragmas use AVX-512; every header with
// external inline functions is included before them, so no copy of those is emitted here with
// wider instructions than the rest of the library.
#include "oscillator/partial_sum_lanes.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cfloat>
#include <cstdint>
#include <cstring>

#include "kernels/sin_cos_pi.h"
#include "oscillator/complex_power.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq,avx512bw,avx512vl"))),        \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
#endif

namespace {

constexpr int32_t W = 8;
typedef double VD __attribute__((vector_size(64)));
typedef int64_t VI __attribute__((vector_size(64)));
typedef float VF __attribute__((vector_size(32)));
typedef int32_t VFI __attribute__((vector_size(32)));

// Round half to even whatever the rounding mode, like nearestInt.
inline VD roundHalfEven(VD v) {
    return (VD)_mm512_maskz_roundscale_pd(0xff, (__m512d)v,
                                          _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}

} // namespace

#include "oscillator/partial_sum_lanes_body.h"

LanePassTable lanePassesAvx512() {
    return passTable();
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
