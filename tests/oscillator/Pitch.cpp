// Pitch and spacing from the pin samples, against exp2 in long double.
#include "oscillator/signal/pitch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

float referencePitch(float fc) {
    return static_cast<float>(440.0L * std::exp2(10.0L * fc - 5.0L));
}

TEST(Pitch, FollowsOneVoltPerOctaveWithin1UlpOfLongDouble) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> fcs(-1.5f, 2.5f);
    std::vector<float> inputs; // stored, so that x87 builds round them to float
    for (int i = 0; i < 20000; ++i) {
        inputs.push_back(i < 4000 ? -1.5f + i * 0.001f : fcs(rng));
    }
    for (float fc : inputs) {
        const float f0 = pitchFromFc(fc);
        const float ref = referencePitch(fc);
        ASSERT_LE(std::fabs(f0 - ref), std::nextafter(ref, INFINITY) - ref) << fc;
    }
    // Whole octaves from 5 V are exact powers of two times 440 Hz.
    const struct {
        float fc, hz;
    } octaves[] = {
        {0.5f, 440.0f}, {0.0f, 13.75f}, {1.0f, 14080.0f}, {-0.5f, 0.4296875f}, {1.5f, 450560.0f}};
    for (const auto &o : octaves) {
        EXPECT_EQ(pitchFromFc(o.fc), o.hz) << o.fc;
    }
    EXPECT_EQ(pitchFromFc(13.0f), std::numeric_limits<float>::infinity());
    EXPECT_EQ(pitchFromFc(-16.0f), 0.0f);
    EXPECT_TRUE(std::isnan(pitchFromFc(std::nanf(""))));
}

TEST(Pitch, SpacingScalesThePitchAndAddsTenHzPerUnitOfDetune) {
    const struct {
        float f0, fm1, detune;
        double hz;
    } cases[] = {
        {440.0f, 0.1f, 0.0f, 440.0},   // harmonic series
        {-440.0f, 0.1f, 0.0f, 440.0},  // the pitch's magnitude
        {0.0f, 0.0f, 0.1f, 1.0},       // 1 Hz per volt of detune
        {220.0f, 0.05f, -0.5f, 105.0}, // half the pitch, 5 Hz down
        {100.0f, -0.1f, 0.0f, -100.0},
    };
    for (const auto &c : cases) {
        EXPECT_NEAR(spacingHz(c.f0, c.fm1, c.detune), c.hz, std::fabs(c.hz) * 1e-7 + 1e-9)
            << c.f0 << " " << c.fm1 << " " << c.detune;
    }
}

TEST(Pitch, Mode2MirrorsSpacingsBelowAMillionthOfAHertz) {
    const struct {
        double delta, folded;
    } cases[] = {{-30.0, 30.0},
                 {-0.0000005, -0.0000005},
                 {-0.000001, -0.000001},
                 {-0.0000011, 0.0000011},
                 {0.0, 0.0},
                 {25.0, 25.0}};
    for (const auto &c : cases) {
        EXPECT_EQ(foldMode2Spacing(c.delta), c.folded) << c.delta;
    }
    EXPECT_TRUE(std::isnan(foldMode2Spacing(std::nan(""))));
}

} // namespace
