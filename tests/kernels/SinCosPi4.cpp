// The four-lane kernel against long-double sin and cos, against the scalar kernel lane by
// lane (which also catches swapped lanes), and on its input rounding and store order.
#include "kernels/sin_cos_pi4.h"

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "kernels/cpu_features.h"
#include "kernels/sin_cos_pi.h"

namespace {

constexpr long double PI_L = 3.141592653589793238462643383279502884L;

struct Lanes {
    std::array<double, 4> s, c;
};

Lanes run4(const std::array<double, 4> &x) {
    Lanes r{};
    sinCosPi4(x[0], r.s[0], r.c[0], x[1], r.s[1], r.c[1], x[2], r.s[2], r.c[2], x[3], r.s[3],
              r.c[3]);
    return r;
}

// Every test here needs the processor to run SSE, as the module does before choosing it.
class SinCosPi4 : public ::testing::Test {
protected:
    void SetUp() override {
        if (!hasSSE()) {
            GTEST_SKIP() << "no SSE on this processor";
        }
    }
};

// Grid of [-1, 1] plus seeded random doubles, in groups of four.
std::vector<std::array<double, 4>> phaseGroups() {
    std::vector<double> x;
    const int steps = 1 << 15;
    for (int i = -steps; i <= steps; ++i) {
        x.push_back(static_cast<double>(i) / steps);
    }
    std::mt19937 rng(20240602);
    std::uniform_real_distribution<double> any(-1.0, 1.0);
    for (int i = 0; i < 20000; ++i) {
        x.push_back(any(rng));
    }
    x.resize(x.size() / 4 * 4);
    std::vector<std::array<double, 4>> groups;
    for (size_t i = 0; i < x.size(); i += 4) {
        groups.push_back({x[i], x[i + 1], x[i + 2], x[i + 3]});
    }
    return groups;
}

} // namespace

TEST_F(SinCosPi4, StaysWithin2e7OfSinAndCosAndOfTheScalarKernel) {
    long double worstTrue = 0, worstScalar = 0;
    for (const auto &x : phaseGroups()) {
        const Lanes r = run4(x);
        for (int i = 0; i < 4; ++i) {
            // The kernel's promise is about the phase after rounding to float.
            const float xf = static_cast<float>(x[i]);
            const long double a = PI_L * xf;
            worstTrue = std::max(worstTrue, std::fabs(r.s[i] - std::sin(a)));
            worstTrue = std::max(worstTrue, std::fabs(r.c[i] - std::cos(a)));
            double s, c;
            sinCosPi(xf, s, c);
            worstScalar = std::max(worstScalar, static_cast<long double>(std::fabs(r.s[i] - s)));
            worstScalar = std::max(worstScalar, static_cast<long double>(std::fabs(r.c[i] - c)));
        }
    }
    EXPECT_LT(worstTrue, 2e-7L);
    EXPECT_LT(worstScalar, 2e-7L);
}

TEST_F(SinCosPi4, ReductionBoundariesGiveExactRelatedValues) {
    const Lanes a = run4({0.0, 0.5, -0.5, 0.25});
    const Lanes b = run4({1.0, -1.0, -0.0, 0.0});
    const double c0 = a.c[0];
    EXPECT_EQ(a.s[0], 0.0);
    EXPECT_FALSE(std::signbit(a.s[0]));
    EXPECT_NEAR(c0, 0.99999988, 5e-9);
    EXPECT_EQ(a.s[1], c0);
    EXPECT_EQ(a.c[1], 0.0);
    EXPECT_TRUE(std::signbit(a.c[1]));
    EXPECT_EQ(a.s[2], -c0);
    EXPECT_EQ(a.c[2], 0.0);
    EXPECT_FALSE(std::signbit(a.c[2]));
    EXPECT_EQ(a.s[3], a.c[3]);
    EXPECT_NEAR(a.s[3], 0.70710677, 5e-9);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(b.s[i], 0.0);
        EXPECT_TRUE(std::signbit(b.s[i]));
        EXPECT_EQ(b.c[i], -c0);
    }
    // A negative zero keeps its sign in the sine (the middle case adds nothing) and takes
    // the x >= 0 branch of the cosine, as in the scalar kernel.
    EXPECT_TRUE(std::signbit(b.s[2]));
    EXPECT_EQ(b.c[2], c0);
}

TEST_F(SinCosPi4, PhasesRoundingToTheSameFloatGiveIdenticalResults) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> any(-1.0f, 1.0f);
    for (int n = 0; n < 2000; ++n) {
        const float f = any(rng);
        const double up = std::nextafter(f, 2.0f);
        const double down = std::nextafter(f, -2.0f);
        // A quarter of the gap to either neighbour, and the tie toward an even neighbour.
        const double nearUp = f + (up - f) / 4;
        const double nearDown = f - (f - down) / 4;
        const Lanes exact = run4({f, f, f, f});
        const Lanes moved = run4({nearUp, nearDown, f, nearUp});
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(moved.s[i], exact.s[i]);
            EXPECT_EQ(moved.c[i], exact.c[i]);
        }
    }
    // A double halfway between two floats rounds to the one with the even mantissa: around
    // 0.5 the float spacing is 2^-24, so 0.5 + 2^-24 is odd and 0.5 + 2^-23 even.
    const double tie = 0.5 + 3 * 0x1p-25;
    const Lanes t = run4({tie, tie, tie, tie});
    const Lanes e = run4({0.5 + 0x1p-23, 0, 0, 0});
    EXPECT_EQ(t.s[0], e.s[0]);
    EXPECT_EQ(t.c[0], e.c[0]);
}

TEST_F(SinCosPi4, StoresTheFourSinesBeforeTheFourCosines) {
    // Lane 3's destinations are lane 0's, crossed: lane 3's sine lands on lane 0's cosine
    // slot and is overwritten there only if every sine is stored before every cosine.
    const Lanes r = run4({0.1, 0.2, 0.3, 0.4});
    double s0, c0, s1, c1, s2, c2;
    sinCosPi4(0.1, s0, c0, 0.2, s1, c1, 0.3, s2, c2, 0.4, c0, s0);
    EXPECT_EQ(c0, r.c[0]);
    EXPECT_EQ(s0, r.c[3]);
}
