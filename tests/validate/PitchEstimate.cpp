// The validator's pitch measurement against sinusoids of known frequency, at every phase, from
// 0.001 to 0.45 cycles per sample: within 1e-4 over the 8192 samples the rate scenario
// measures (ten times inside its 0.1 % tolerance), and within 0.25 / n over n samples;
// no frequency for a signal without two rising crossings.
#include "tools/validate/pitch_estimate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

TEST(PitchEstimate, MeasuresSinusoidsOfKnownFrequency) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * M_PI);
    for (double f : {0.001, 0.013, 0.1, 0.23, 0.37, 0.45}) {
        for (size_t n : {size_t(8192), static_cast<size_t>(40.0 / f) + 16}) {
            std::vector<float> x(n);
            const double p = phase(rng);
            for (size_t i = 0; i < n; ++i) {
                x[i] = static_cast<float>(0.75 * std::sin(2.0 * M_PI * f * double(i) + p));
            }
            const double bound = n == 8192 ? 1e-4 : 0.25 / double(n);
            EXPECT_NEAR(crossingFrequency(x.data(), n) / f, 1.0, bound) << f << " over " << n;
        }
    }
}

TEST(PitchEstimate, AnswersZeroWithoutTwoRisingCrossings) {
    const std::vector<float> flat(100, 0.5f);
    EXPECT_EQ(crossingFrequency(flat.data(), flat.size()), 0.0);
    std::vector<float> once(100, -1.0f);
    std::fill(once.begin() + 50, once.end(), 1.0f);
    EXPECT_EQ(crossingFrequency(once.data(), once.size()), 0.0);
    EXPECT_EQ(crossingFrequency(nullptr, 0), 0.0);
}

} // namespace
