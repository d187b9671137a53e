// The one float-to-integer conversion of the module: nearest, ties to even, independent of the
// FP rounding mode, with a defined answer for every double.
// Static functions, one copy per file in its arithmetic (lanes/unit_target.h).
#pragma once

#include <cstdint>
#include <limits>

// Result for NaN and for values whose nearest integer lies outside int32.
constexpr int32_t NEAREST_INT_OUT_OF_RANGE = std::numeric_limits<int32_t>::min();

// x rounded to the nearest integer, ties to even: 2.5 -> 2, 3.5 -> 4, -2.5 -> -2. Exact for
// every double. Results outside int32 (from 2147483647.5 up, below -2147483648.5) and NaN give
// INT32_MIN. -2147483648.5 rounds to the even -2147483648, which is in range.
static inline int32_t nearestInt(double x) {
    if (!(x >= -2147483648.5 && x < 2147483647.5)) {
        return NEAREST_INT_OUT_OF_RANGE;
    }
    // In range the truncation toward zero fits int32, and x - t is exact: it is the
    // fractional part of x, made of x's own low-order bits.
    const int64_t t = static_cast<int32_t>(x);
    const double frac = x - static_cast<double>(t);
    int64_t n = t;
    if (frac > 0.5 || (frac == 0.5 && (t & 1) != 0)) {
        n = t + 1;
    } else if (frac < -0.5 || (frac == -0.5 && (t & 1) != 0)) {
        n = t - 1;
    }
    return static_cast<int32_t>(n);
}
