// nearestInt against a table of ties and range limits and against a long-double reference
// over seeded random doubles of every magnitude.
#include "oscillator/signal/rounding.h"

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

namespace {

constexpr int32_t OUT = std::numeric_limits<int32_t>::min();

// Independent reference: nearbyintl under the default (to nearest, ties to even) mode, and
// the range test on the rounded value in long double.
int32_t reference(double x) {
    if (std::isnan(x)) {
        return OUT;
    }
    const long double r = std::nearbyintl(static_cast<long double>(x));
    if (r < -2147483648.0L || r > 2147483647.0L) {
        return OUT;
    }
    return static_cast<int32_t>(r);
}

} // namespace

TEST(NearestInt, RoundsTiesToEvenAndMarksResultsOutsideInt32) {
    struct Case {
        double x;
        int32_t expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {0.0, 0},
        {-0.0, 0},
        {0.5, 0},
        {1.5, 2},
        {2.5, 2},
        {3.5, 4},
        {-0.5, 0},
        {-1.5, -2},
        {-2.5, -2},
        {-3.5, -4},
        {0.49999999999999994, 0},
        {-0.49999999999999994, 0},
        {2.4999999999999996, 2},
        {2.5000000000000004, 3},
        {1e-300, 0},
        {-1e-300, 0},
        {4.9e-324, 0},
        {2147483647.0, 2147483647},
        {2147483647.4, 2147483647},
        {2147483647.5, OUT},
        {2147483648.0, OUT},
        {-2147483648.0, -2147483647 - 1},
        {-2147483648.4, -2147483647 - 1},
        {-2147483648.5, -2147483647 - 1},
        {-2147483648.6, OUT},
        {-2147483649.0, OUT},
        {2147483646.5, 2147483646},
        {-2147483647.5, -2147483647 - 1},
        {1e300, OUT},
        {-1e300, OUT},
        {inf, OUT},
        {-inf, OUT},
        {std::numeric_limits<double>::quiet_NaN(), OUT},
        {4503599627370495.5, OUT}, // 2^52 - 0.5, the last half-integer double
    };
    for (const Case &c : cases) {
        EXPECT_EQ(nearestInt(c.x), c.expected) << std::hexfloat << c.x;
    }
}

TEST(NearestInt, MatchesTheLongDoubleReferenceAtEveryMagnitude) {
    ASSERT_EQ(std::fegetround(), FE_TONEAREST);
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-4, 34);
    for (int i = 0; i < 200000; ++i) {
        const double x = std::ldexp(unit(rng), exponent(rng));
        ASSERT_EQ(nearestInt(x), reference(x)) << std::hexfloat << x;
    }
    // Half-integers and their neighbours, where a truncate-and-compare scheme goes wrong.
    std::uniform_int_distribution<int64_t> whole(-2147483650LL, 2147483650LL);
    for (int i = 0; i < 50000; ++i) {
        const double h = static_cast<double>(whole(rng)) + 0.5;
        for (double x : {h, std::nextafter(h, 0.0), std::nextafter(h, h * 2)}) {
            ASSERT_EQ(nearestInt(x), reference(x)) << std::hexfloat << x;
        }
    }
}

TEST(NearestInt, DoesNotDependOnTheRoundingMode) {
    const double xs[] = {2.5, 3.5, -2.5, 2.6, -2.6, 0.5, 2147483647.4, -2147483648.5};
    int32_t expected[8];
    for (int i = 0; i < 8; ++i) {
        expected[i] = nearestInt(xs[i]);
    }
    for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        for (int i = 0; i < 8; ++i) {
            // volatile keeps the call from being folded at compile time, in the default mode.
            volatile double x = xs[i];
            EXPECT_EQ(nearestInt(x), expected[i]) << xs[i] << " mode " << mode;
        }
        std::fesetround(FE_TONEAREST);
    }
}
