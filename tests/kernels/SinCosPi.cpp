// The scalar kernel against long-double sin and cos, and its exact values at the reduction
// boundaries.
#include "kernels/sin_cos_pi.h"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr long double PI_L = 3.141592653589793238462643383279502884L;

// Largest error of f over the phases, against sin(pi x) and cos(pi x) of the phase as given.
template <typename T, typename F> long double maxError(const std::vector<T> &phases, F f) {
    long double worst = 0;
    for (T x : phases) {
        double s = 0, c = 0;
        f(x, s, c);
        const long double a = PI_L * static_cast<long double>(x);
        worst = std::max(worst, std::fabs(static_cast<long double>(s) - std::sin(a)));
        worst = std::max(worst, std::fabs(static_cast<long double>(c) - std::cos(a)));
    }
    return worst;
}

// A dense grid of [-1, 1] (endpoints and reduction boundaries included) plus seeded random
// points. Kept as floats: on x87 a float from a function can carry excess precision until it
// is stored, and the reference must see the same rounded phase as the kernel.
std::vector<float> floatPhases() {
    std::vector<float> phases;
    const int steps = 1 << 15;
    for (int i = -steps; i <= steps; ++i) {
        phases.push_back(static_cast<float>(static_cast<double>(i) / steps));
    }
    std::mt19937 rng(20240601);
    std::uniform_real_distribution<float> any(-1.0f, 1.0f);
    for (int i = 0; i < 20000; ++i) {
        phases.push_back(any(rng));
    }
    return phases;
}

} // namespace

TEST(SinCosPi, StaysWithin2e8OfSinAndCosOnTheWholeCycle) {
    const long double worst =
        maxError(floatPhases(), [](float x, double &s, double &c) { sinCosPi(x, s, c); });
    EXPECT_LT(worst, 2e-8L);
}

TEST(SinCosPi, UnroundedPhaseKeepsItsPrecision) {
    // Phases that are not single-precision values: rounding them first would cost up to
    // pi * 2^-25 = 9e-8; the unrounded variant stays within the polynomial's own error.
    std::vector<double> phases;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> any(-1.0, 1.0);
    for (int i = 0; i < 20000; ++i) {
        phases.push_back(any(rng));
    }
    EXPECT_LT(maxError(phases, sinCosPiUnrounded), 2e-8L);
}

TEST(SinCosPi, ReductionBoundariesGiveExactRelatedValues) {
    double s0, c0;
    sinCosPi(0.0f, s0, c0);
    EXPECT_EQ(s0, 0.0);
    EXPECT_FALSE(std::signbit(s0));
    EXPECT_NEAR(c0, 0.99999998, 5e-9);
    EXPECT_NE(c0, 1.0);

    struct Case {
        float x;
        double sin, cos; // expected values
        bool sinNegZero, cosNegZero;
    };
    const Case cases[] = {
        {0.5f, c0, -0.0, false, true},
        {-0.5f, -c0, 0.0, false, false},
        {1.0f, -0.0, -c0, true, false},
        {-1.0f, -0.0, -c0, true, false},
    };
    for (const Case &k : cases) {
        double s, c;
        sinCosPi(k.x, s, c);
        EXPECT_EQ(s, k.sin) << k.x;
        EXPECT_EQ(c, k.cos) << k.x;
        if (k.sin == 0.0) {
            EXPECT_EQ(std::signbit(s), k.sinNegZero) << k.x;
        }
        if (k.cos == 0.0) {
            EXPECT_EQ(std::signbit(c), k.cosNegZero) << k.x;
        }
    }

    double s, c;
    sinCosPi(0.25f, s, c);
    EXPECT_EQ(s, c);
    EXPECT_NEAR(s, 0.70710679, 5e-9);
}

TEST(SinCosPi, NegativeZeroTakesTheNonNegativeCosineBranchAndNaNGivesNaN) {
    double s, c, s0, c0;
    sinCosPi(-0.0f, s, c);
    sinCosPi(0.0f, s0, c0);
    EXPECT_EQ(c, c0);
    EXPECT_EQ(s, 0.0);
    sinCosPi(std::nanf(""), s, c);
    EXPECT_TRUE(std::isnan(s) && std::isnan(c));
}
