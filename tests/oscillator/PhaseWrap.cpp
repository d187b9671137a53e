// Phase wraps: wrapComplete against the literal subtracting loop, bit for bit, where the loop
// is cheap, and against an exact integer residue everywhere else below 2^53.
#include "oscillator/signal/phase_wrap.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

uint64_t bitsOf(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

double literalLoop(double x) {
    while (x > 1.0) {
        x -= 2.0;
    }
    while (x < -1.0) {
        x += 2.0;
    }
    return x;
}

// The residue of the loop from integers: x = M 2^E exactly, the period 2 is 2^(1-E) units.
// For 1 < |x| < 2^53 only.
double integerResidue(double x) {
    int e;
    const double m = std::frexp(x, &e);
    const int64_t M = static_cast<int64_t>(std::ldexp(m, 53));
    const int E = e - 53;
    if (E >= 1) {
        return 0.0; // an even integer
    }
    const int64_t period = int64_t(1) << (1 - E);
    int64_t R = M % period; // sign of M
    if (R > period / 2) {
        R -= period;
    } else if (R < -period / 2) {
        R += period;
    }
    return R == 0 ? 0.0 : std::ldexp(static_cast<double>(R), E);
}

TEST(PhaseWrap, WrapOnceTakesOneStepAtMost) {
    const struct {
        double x, wrapped;
    } cases[] = {{1.0, 1.0}, {-1.0, -1.0}, {1.25, -0.75}, {-1.25, 0.75},
                 {3.5, 1.5}, {-3.5, -1.5}, {0.5, 0.5},    {-0.0, -0.0}};
    for (const auto &c : cases) {
        EXPECT_EQ(bitsOf(wrapOnce(c.x)), bitsOf(c.wrapped)) << c.x;
    }
    EXPECT_TRUE(std::isnan(wrapOnce(std::nan(""))));
}

TEST(PhaseWrap, CompleteWrapMatchesTheLoopBitForBit) {
    std::vector<double> xs = {0.0, -0.0, 1.0, -1.0, 2.0, -2.0, 4.0, -4.0, 1e-300, -1e-300};
    for (int k = -64 * 300; k <= 64 * 300; ++k) {
        xs.push_back(k / 64.0 + 1.0 / 4096.0 * (k % 3));
    }
    for (int j = 0; j < 2000; j += 7) { // both neighbours of odd and even integers
        for (double n : {2.0 * j + 1.0, 2.0 * j, -2.0 * j - 1.0, -2.0 * j}) {
            xs.insert(xs.end(), {n, std::nextafter(n, -INFINITY), std::nextafter(n, INFINITY)});
        }
    }
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> wide(-20000.0, 20000.0);
    for (int i = 0; i < 3000; ++i) {
        xs.push_back(wide(rng));
    }
    for (double x : xs) {
        const double expected = literalLoop(x);
        ASSERT_EQ(bitsOf(wrapComplete(x)), bitsOf(expected)) << std::hexfloat << x;
        if (std::fabs(x) > 1.0) { // the integer reference is proven here for later use
            ASSERT_EQ(bitsOf(integerResidue(x)), bitsOf(expected)) << std::hexfloat << x;
        }
    }
}

TEST(PhaseWrap, CompleteWrapIsExactUpTo2To53AndZeroBeyond) {
    std::mt19937_64 rng(99);
    constexpr double LIMIT = 9007199254740992.0; // 2^53
    std::vector<double> xs = {std::nextafter(LIMIT, 0.0), LIMIT / 2 + 1, LIMIT / 2 - 1,
                              LIMIT / 2 + 1.5, 3.0 * (1 << 30) + 0.75};
    for (int i = 0; i < 20000; ++i) { // random mantissas over every binade from 2 to 2^53
        const double m = std::ldexp(static_cast<double>(rng() >> 11), -53); // [0, 1)
        xs.push_back(std::ldexp(0.5 + m / 2.0, 2 + static_cast<int>(rng() % 52)));
    }
    for (double x : xs) {
        for (double signedX : {x, -x}) {
            const double w = wrapComplete(signedX);
            ASSERT_EQ(bitsOf(w), bitsOf(integerResidue(signedX))) << std::hexfloat << signedX;
            ASSERT_TRUE(signedX > 0 ? (w > -1.0 && w <= 1.0) : (w >= -1.0 && w < 1.0));
        }
    }
    const double inf = std::numeric_limits<double>::infinity();
    for (double x : {LIMIT, -LIMIT, 1e20, -1e300, std::numeric_limits<double>::max(), inf, -inf,
                     std::nan("")}) {
        EXPECT_EQ(bitsOf(wrapComplete(x)), bitsOf(0.0)) << x;
    }
}

// phaseAfterSteps against the per-sample running sum, bit for bit, over successive calls that
// carry one memo, as a held voice's blocks do: steps from 1e-9 to 1 of either sign, ties at
// half an ulp, phases started at binade ends and at zero. Doubles rounded once: the claim is the
// SSE2 arithmetic's, not x87's.
TEST(PhaseWrap, PhaseAfterStepsIsTheRunningSumAcrossCalls) {
    if (FLT_EVAL_METHOD != 0) {
        GTEST_SKIP() << "x87 arithmetic";
    }
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int32_t> length(1, 64);
    int64_t calls = 0;
    for (int note = 0; note < 400; ++note) {
        double step = std::pow(10.0, -9.0 * unit(rng)) * (note % 2 == 0 ? 1.0 : -1.0);
        if (note % 7 == 0) { // half an ulp of the phases in [0.25, 0.5) added to a coarse step
            step = std::ldexp(std::round(std::ldexp(step, 30)), -30) + 0x1p-55;
        }
        double start = note % 5 == 0 ? 0.0 : 2.0 * unit(rng) - 1.0;
        if (note % 3 == 0) { // a few steps below a binade's end
            start = std::ldexp(1.0, -1 - note % 4) - 3.0 * std::fabs(step);
        }
        PhaseStride memo;
        double want = start, got = start;
        for (int block = 0; block < 300; ++block, ++calls) {
            const int32_t n = length(rng);
            for (int32_t i = 0; i < n; ++i) {
                want = wrapOnce(want + step);
            }
            got = phaseAfterSteps(got, step, n, memo);
            ASSERT_EQ(bitsOf(got), bitsOf(want))
                << "step " << step << " start " << start << " call " << block;
        }
    }
    EXPECT_EQ(calls, 400 * 300);
}

} // namespace
