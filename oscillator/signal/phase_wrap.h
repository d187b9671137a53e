// Wraps of phases in half-turns back toward [-1, 1]. wrapComplete is the closed form of the
// loop "while above 1 subtract 2; while below -1 add 2", bit for bit, in constant time.
// Static functions, one copy per file in its arithmetic (lanes/unit_target.h).
#pragma once

#include <cmath>

// One step: above 1 subtract 2, else below -1 add 2. Any double; a value beyond +-3 stays
// outside [-1, 1], NaN stays NaN.
static inline double wrapOnce(double x) {
    if (x > 1.0) {
        return x - 2.0;
    }
    if (x < -1.0) {
        return x + 2.0;
    }
    return x;
}

// Below 2^53 every step of the subtracting loop is exact (x and 2 are both multiples of the
// ulp of x - 2), so the loop's result is the exact x - 2k in (-1, 1] from above, or x + 2k in
// [-1, 1) from below, and fmod gives the same exact residue. The loop never ends on an
// infinity or on most values from 2^54 on (x - 2 rounds back to x), and takes 2^52 steps
// just below 2^53.
constexpr double WRAP_EXACT_LIMIT = 9007199254740992.0; // 2^53

// The complete wrap, equal to the loop for |x| below 2^53: x itself on [-1, 1] (-0.0 kept),
// else the result in (-1, 1] for x above 1 and in [-1, 1) for x below -1 (a whole number of
// turns gives +0.0). 0.0 for NaN, infinities and |x| from 2^53 on, where every finite value
// is an even integer and the loop, where it ends, ends at 0.0 too.
static inline double wrapComplete(double x) {
    if (x >= -1.0 && x <= 1.0) {
        return x;
    }
    if (!(std::fabs(x) < WRAP_EXACT_LIMIT)) {
        return 0.0;
    }
    const double r = std::fmod(x, 2.0); // exact, sign of x, |r| < 2
    if (r > 1.0) {
        return r - 2.0; // exact for r in (1, 2)
    }
    if (r < -1.0) {
        return r + 2.0;
    }
    return r == 0.0 ? 0.0 : r; // -0.0 from a negative even x becomes +0.0, as -2 + 2 does
}
