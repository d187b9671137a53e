// Amplitude ratio and comb per sample.
#include "oscillator/signal/partial_shape.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

namespace {

TEST(PartialShape, RatiosWithinATenThousandthOfOneMoveTo1_0001) {
    const struct {
        float a;
        double A;
    } cases[] = {
        {0.1f, 1.0001},      {0.09f, 0.9},       {0.099995f, 1.0001},
        {0.100009f, 1.0001}, {0.10002f, 1.0002}, {0.09998f, 0.9998},
        {-0.1f, -1.0},       {0.0f, 0.0},        {0.2f, 2.0},
    };
    for (const auto &c : cases) {
        EXPECT_NEAR(amplitudeRatio(c.a), c.A, 1e-7) << c.a;
    }
    EXPECT_TRUE(std::isnan(amplitudeRatio(std::nanf(""))));
}

TEST(PartialShape, CombStepAndFollowingPhaseWrapOnce) {
    const struct {
        float in;
        double out;
    } cases[] = {{0.0625f, 0.625}, {0.15f, -0.5}, {-0.15f, 0.5}, {0.35f, 1.5}, {0.05f, 0.5}};
    for (const auto &c : cases) {
        EXPECT_NEAR(combStep(c.in), c.out, 1e-7) << c.in;
        EXPECT_NEAR(combPhaseFollowing(c.in), c.out, 1e-7) << c.in;
    }
}

// 0.1 on "combphase" turns the comb at 4 Hz: at 48000 Hz one turn takes 12000 samples.
TEST(PartialShape, RotatingCombTurnsAtFortyHzPerUnit) {
    const double twoOverSr = 2.0 / 48000.0;
    const long double stepLd = static_cast<long double>(0.1f) * (40.0L * 2.0L / 48000.0L);
    double phase = 0.0;
    for (int n = 1; n <= 12000; ++n) {
        phase = combPhaseRotating(phase, 0.1f, twoOverSr);
        ASSERT_TRUE(phase >= -1.0 && phase <= 1.0) << n;
        const long double offTurn = std::remainder(phase - n * stepLd, 2.0L);
        ASSERT_NEAR(static_cast<double>(offTurn), 0.0, 1e-9) << n;
    }
    EXPECT_NEAR(std::remainder(phase, 2.0), 0.0, 1e-6);
}

// A "combphase" of 2.2e8 advances the rotating comb by about 400 half-turns per sample: the
// phase must still land on the circle every sample (a one-step wrap left it growing for the
// rest of the note, and the fast kernels then gave no usable sine).
TEST(PartialShape, RotatingCombStaysWithinOneHalfTurnForHugeCombphase) {
    const double twoOverSr = 2.0 / 44100.0;
    for (float combphase : {2.2e8f, -2.2e8f, 3.3e9f, 1e20f, -FLT_MAX, FLT_MAX}) {
        double phase = 0.5;
        long double exact = 0.5L;
        const long double step = static_cast<long double>(twoOverSr * double(combphase) * 40.0);
        for (int n = 1; n <= 1000; ++n) {
            phase = combPhaseRotating(phase, combphase, twoOverSr);
            ASSERT_TRUE(phase >= -1.0 && phase <= 1.0) << combphase << " at sample " << n;
            exact = std::remainder(exact + step, 2.0L);
            if (std::fabs(combphase) < 1e9f) {
                // The rounding of each sum near 400 adds up to 6e-12 per sample on x87
                // (i386) and less on SSE2; a wrong turn would be off by a whole step's
                // remainder, up to 1. Larger advances are held to the circle alone: x87's
                // wider intermediate step drifts from the double one by 4e-10 per sample.
                ASSERT_NEAR(double(std::remainder(phase - exact, 2.0L)), 0.0, 1e-7)
                    << combphase << " at sample " << n;
            }
        }
    }
}

} // namespace
