// The lane passes on SSE2: two double lanes, the float kernel in two float lanes; the build
// rule of lanes/unit_target.h.
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/lanes/unit_target.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "kernels/lanes.h"

TARN_UNIT_TARGET_BEGIN("sse2")

#include "oscillator/lanes/sub_block_lanes.h"

namespace {

struct Sse2Lanes : VectorLanes<2> {
    // Round half to even by the 1.5 * 2^52 shift, exact for |v| < 2^51 under the default
    // round-to-nearest mode (SSE2 has no rounding instruction); the lanes rounded stay below 2^31.
    static D roundHalfEven(D v) { return (v + 0x1.8p52) - 0x1.8p52; }
    // Correctly rounded, as std::sqrt is: SQRTPD, by its builtin (the intrinsic's x87 setting
    // differs from this file's, so GCC would not inline it on 32-bit builds).
    static D sqrt(D v) { return __builtin_ia32_sqrtpd(v); }
    // Each lane's sign bit, lane 0 lowest: MOVMSKPD.
    static int32_t maskBits(I m) { return __builtin_ia32_movmskpd((D)m); }
#if !defined(__clang__)
    // GCC's builtins; clang keeps the generic forms, which it compiles to the same instructions.
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
#endif
};

} // namespace

const LanePasses SSE2_PASSES = passesOf<Sse2Lanes>();

TARN_UNIT_TARGET_END
