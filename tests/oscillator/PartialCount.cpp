// The partial count at 44100 Hz: the worked cases, a seeded sweep of pitch and spacing with
// the count carried from sample to sample, and inputs at the edges of int32 and double.
#include "oscillator/signal/partial_count.h"

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

namespace {

constexpr double NYQUIST = 22050.0;
constexpr int32_t INT_MAX32 = std::numeric_limits<int32_t>::max();
constexpr int32_t INT_MIN32 = std::numeric_limits<int32_t>::min();

struct Outcome {
    bool sounds;
    int32_t K;
    double f1;
};

Outcome count(double f0, double delta, int32_t Nmax, int32_t cachedK, double nyquist = NYQUIST) {
    Outcome o{false, cachedK, std::nan("")};
    o.sounds = countPartials(f0, delta, Nmax, o.K, nyquist, o.f1);
    return o;
}

} // namespace

TEST(PartialCount, WorkedCasesAt44100Hz) {
    struct Case {
        const char *what;
        double f0, delta;
        int32_t Nmax, cachedK;
        bool sounds;
        int32_t K;
        double f1; // checked when the sample sounds
    };
    const Case cases[] = {
        {"harmonics to 22000 Hz", 440, 440, 100, -1, true, 49, 440},
        {"limited by Nmax", 440, 440, 10, -1, true, 10, 440},
        {"cached 49 kept while it fits and one more does not", 440, 440, 100, 49, true, 49, 440},
        {"cached 49 recomputed when one more fits", 430, 430, 100, 49, true, 50, 430},
        {"cached count above the band recomputed", 440, 440, 100, 50, true, 49, 440},
        {"negative spacing runs down through zero", 440, -440, 100, -1, true, 51, 440},
        {"carrier above Nyquist, spacing upward", 30000, 1000, 100, -1, false, -8, 0},
        {"carrier above Nyquist, spacing downward", 30000, -1000, 100, -1, true, 0, 22000},
        {"the same on the next sample", 30000, -1000, 100, 0, true, 0, 22000},
        {"carrier risen past Nyquist while the top partial fits", 22075.4, -3623.8, 100, 12, true,
         0, 18451.6},
        {"negative pitch beyond -Nyquist", -30000, 1000, 100, -1, true, 0, -22000},
        {"skipping more partials than Nmax", 30000, -1000, 5, -1, false, -3, 0},
        {"near-zero spacing", 440, 0.00005, 100, -1, true, 100, 440},
        {"near-zero spacing above Nyquist", 25000, 0.00005, 100, -1, false, 100, 0},
        {"Nmax -1", 440, 440, -1, -1, false, -1, 0},
        {"Nmax -1, near-zero spacing", 440, 0.00005, -1, -1, false, -1, 0},
        {"Nmax 0: the carrier alone", 440, 440, 0, -1, true, 0, 440},
        {"Nmax 0, carrier at Nyquist", 22050, 440, 0, -1, true, 0, 22050},
        {"band exactly 3 spacings: the odd tie rounds down", 19050, 1000, 100, -1, true, 2, 19050},
        {"band exactly 4 spacings", 18050, 1000, 100, -1, true, 4, 18050},
    };
    for (const Case &c : cases) {
        const Outcome o = count(c.f0, c.delta, c.Nmax, c.cachedK);
        EXPECT_EQ(o.sounds, c.sounds) << c.what;
        EXPECT_EQ(o.K, c.K) << c.what;
        if (c.sounds) {
            EXPECT_DOUBLE_EQ(o.f1, c.f1) << c.what;
        }
    }
}

TEST(PartialCount, NeverPutsAPartialAboveNyquistNorExceedsNmax) {
    // Pitch and spacing drift and jump; K is carried as in the render loop and reset at each
    // block of 64 samples. Every sounding sample's extreme partials f1 and f1 + K delta must
    // lie within the band (up to a rounding of the band edge), and K within [0, Nmax]; a
    // recomputed count must be the largest that fits (unless the carrier was moved).
    std::mt19937 rng(424242);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double f0 = 440, delta = 440;
    int32_t Nmax = 100, K = -1;
    int sounding = 0, moved = 0;
    for (int i = 0; i < 200000; ++i) {
        if (i % 64 == 0) {
            K = -1;
            Nmax = static_cast<int32_t>(unit(rng) * 300) - 2;
        }
        const double r = unit(rng);
        if (r < 0.02) {
            f0 = (unit(rng) - 0.3) * 60000;
            delta = unit(rng) < 0.1 ? (unit(rng) - 0.5) * 0.0004 : (unit(rng) - 0.5) * 10000;
        } else {
            f0 *= 1 + (unit(rng) - 0.5) * 0.01;
            delta *= 1 + (unit(rng) - 0.5) * 0.01;
        }
        const int32_t before = K;
        double f1 = std::nan("");
        const bool sounds = countPartials(f0, delta, Nmax, K, NYQUIST, f1);
        const double S = std::fabs(delta);
        if (!sounds) {
            EXPECT_TRUE(K < 0 || (S <= ZERO_SPACING_HZ && std::fabs(f0) > NYQUIST))
                << f0 << " " << delta << " K " << K;
            continue;
        }
        ++sounding;
        ASSERT_GE(K, 0);
        ASSERT_LE(K, Nmax);
        if (S <= ZERO_SPACING_HZ) {
            EXPECT_LE(std::fabs(f0), NYQUIST);
            continue;
        }
        const double edge = NYQUIST * (1 + 1e-12);
        EXPECT_LE(std::fabs(f1), edge) << f0 << " " << delta;
        EXPECT_LE(std::fabs(f1 + K * delta), edge) << f0 << " " << delta << " K " << K;
        if (f1 != f0) {
            ++moved;
            EXPECT_EQ(K, 0);
            continue;
        }
        if (K != before && K < Nmax) {
            EXPECT_GE(std::fabs(f0 + (K + 1.0) * delta), NYQUIST * (1 - 1e-12))
                << f0 << " " << delta << " K " << K;
        }
    }
    EXPECT_GT(sounding, 100000);
    EXPECT_GT(moved, 10);
}

TEST(PartialCount, ExtremeInputsGiveDefinedAnswers) {
    // The largest counts: K + 1 must not overflow in the keep test.
    Outcome o = count(100, 1e-6, INT_MAX32, INT_MAX32); // kept: 100 + 2147 Hz fits
    EXPECT_TRUE(o.sounds);
    EXPECT_EQ(o.K, INT_MAX32);
    o = count(100, 1e-6, INT_MAX32, INT_MAX32 - 1); // one more fits: recomputed
    EXPECT_TRUE(o.sounds);
    EXPECT_EQ(o.K, INT_MAX32);
    o = count(100, 0.00005, INT_MAX32, INT_MAX32); // 107 kHz: recomputed, zero spacing
    EXPECT_TRUE(o.sounds);
    EXPECT_EQ(o.K, INT_MAX32);

    // A band of more than 2^31 spacings (at 384 kHz, partials running down from 100 kHz
    // through zero to -192 kHz, 0.00011 Hz apart) keeps K = Nmax.
    o = count(100000, -0.00011, 1000, -1, 192000.0);
    EXPECT_TRUE(o.sounds);
    EXPECT_EQ(o.K, 1000);

    // Skipping more than 2^31 partials, and the most negative Nmax.
    EXPECT_FALSE(count(1e300, -0.001, INT_MAX32, -1).sounds);
    o = count(30000, -1000, INT_MIN32, -1);
    EXPECT_FALSE(o.sounds);
    EXPECT_LT(o.K, 0);
    EXPECT_FALSE(count(440, 440, INT_MIN32, -1).sounds);

    // A pitch beyond Nyquist whose spacing is so wide that the room left for partials rounds to
    // a count of 0: silent, not a lone carrier beyond the band, on either side.
    for (const double delta : {1e32, -1e32, 1e23, -1e23}) {
        o = count(14417920, delta, 1000, -1, 24000.0);
        EXPECT_FALSE(o.sounds) << delta;
        EXPECT_LT(o.K, 0) << delta;
    }

    // Non-finite pitch, spacing or Nyquist: silent, with a negative or unchanged count.
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const double bad[][3] = {{nan, 440, NYQUIST},  {440, nan, NYQUIST},  {440, 440, nan},
                             {inf, 440, NYQUIST},  {-inf, 440, NYQUIST}, {440, inf, NYQUIST},
                             {440, -inf, NYQUIST}, {inf, -440, NYQUIST}, {nan, nan, nan},
                             {-inf, 0.0, NYQUIST}};
    for (const auto &b : bad) {
        for (int32_t cached : {-1, 0, 49, INT_MAX32}) {
            o = count(b[0], b[1], 100, cached, b[2]);
            EXPECT_FALSE(o.sounds) << b[0] << " " << b[1] << " " << b[2] << " K " << cached;
        }
    }
}
