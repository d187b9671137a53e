// The lane passes on SSE2: two double lanes, the float kernel in two float lanes. Only the
// functions after the target pragma use SSE2; every header with external inline functions is
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
#pragma clang attribute push(__attribute__((target("sse2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse2", "fpmath=sse", "tune=generic")
#endif

#include "oscillator/lanes/closed_form_lanes.h"

namespace {

struct Sse2Lanes : VectorLanes<2> {
    // Round half to even by the 1.5 * 2^52 shift, exact for |v| < 2^51 under the default
    // round-to-nearest mode (SSE2 has no rounding instruction); the lanes rounded stay below 2^31.
    static D roundHalfEven(D v) { return (v + 0x1.8p52) - 0x1.8p52; }
    // Correctly rounded, as std::sqrt is: SQRTPD, by its builtin (the intrinsic's x87 setting
    // differs from this file's, so GCC would not inline it on 32-bit builds).
    static D sqrt(D v) { return __builtin_ia32_sqrtpd(v); }
    // x where lo <= m <= hi, else 0.0: CMPLEPD and ANDPD.
    static D keep(D m, double lo, double hi, D x) {
        const D inside = __builtin_ia32_andpd(__builtin_ia32_cmplepd(D{lo, lo}, m),
                                              __builtin_ia32_cmplepd(m, D{hi, hi}));
        return __builtin_ia32_andpd(inside, x);
    }
    // The low two floats to a, the high two to b: MOVLPS and MOVHPS.
    static void storePair(F2 f, float *a, float *b) {
        typedef float F64 __attribute__((vector_size(8)));
        __builtin_ia32_storelps(reinterpret_cast<F64 *>(a), f);
        __builtin_ia32_storehps(reinterpret_cast<F64 *>(b), f);
    }
};

} // namespace

const LanePasses SSE2_PASSES = passesOf<Sse2Lanes>();

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
