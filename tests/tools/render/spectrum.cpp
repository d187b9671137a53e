// The FFT analysis that the plots and the sound tests rely on, checked on signals built from
// std::sin with known frequencies and levels.
#include "tools/render/spectrum.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace tarn::render;

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int32_t RATE = 44100;

std::vector<float> sines(const std::vector<std::pair<double, double>> &partials, size_t n) {
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (const auto &[hz, amplitude] : partials)
            sum += amplitude * std::sin(2.0 * PI * hz * static_cast<double>(i) / RATE + 0.3);
        x[i] = static_cast<float>(sum);
    }
    return x;
}

TEST(Spectrum, InterpolatedPeakFindsASineBetweenBinsWithinTenPartsPerMillion) {
    const size_t fft = 16384;
    const double binHz = static_cast<double>(RATE) / fft;
    for (double hz : {110.0, 261.6255653, 440.0, 1234.5, 9876.5, 20001.0}) {
        auto db = spectrumDb(sines({{hz, 0.5}}, fft), 0, fft);
        size_t peak = static_cast<size_t>(std::max_element(db.begin(), db.end()) - db.begin());
        EXPECT_NEAR(interpolatedPeakHz(db, peak, binHz) / hz, 1.0, 1e-5) << hz;
        // A Hann window loses at most 1.42 dB between bins; 0.5 is -6.02 dB.
        EXPECT_NEAR(db[peak], -6.02, 1.5) << hz;
    }
}

TEST(Spectrum, CountsExactlyThePartialsOfAHarmonicSeries) {
    const size_t fft = 16384;
    std::vector<std::pair<double, double>> partials;
    for (int k = 1; k <= 14; ++k)
        partials.push_back({1500.0 * k, 0.7 / k});
    auto db = spectrumDb(sines(partials, fft), 0, fft);
    auto peaks = spectralPeaks(db, -60.0, 30.0, 50);
    ASSERT_EQ(peaks.size(), partials.size());
    const double binHz = static_cast<double>(RATE) / fft;
    for (size_t k = 0; k < peaks.size(); ++k)
        EXPECT_NEAR(interpolatedPeakHz(db, peaks[k], binHz), partials[k].first, 0.5) << k;
}

TEST(Spectrum, SpectrogramFramesAreCentredOnTheirTimes) {
    // Silence, then a 2 kHz tone from sample 22050 on: frames centred well before the onset
    // are silent, frames centred after it hear the tone.
    std::vector<float> x(44100, 0.0f);
    auto tone = sines({{2000.0, 0.5}}, 22050);
    std::copy(tone.begin(), tone.end(), x.begin() + 22050);
    const size_t fft = 2048;
    const size_t hop = 512;
    Spectrogram s = spectrogram(x, RATE, fft, hop);
    EXPECT_EQ(s.frames, (x.size() - 1) / hop + 1);
    EXPECT_DOUBLE_EQ(s.binHz, static_cast<double>(RATE) / fft);
    size_t bin = static_cast<size_t>(std::lround(2000.0 / s.binHz));
    for (size_t f = 0; f < s.frames; ++f) {
        double centre = static_cast<double>(f * hop);
        float level = s.db[f * s.bins + bin];
        if (centre + fft / 2 <= 22050) {
            EXPECT_LT(level, -200.0f) << f;
        } else if (centre >= 22050 + fft / 2 && centre + fft / 2 <= x.size()) {
            EXPECT_NEAR(level, -6.02f, 1.5f) << f;
        }
    }
}

} // namespace
