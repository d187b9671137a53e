// tarn-render's envelope and velocity, applied by the host after each instance, measured from
// the WAV: the band above a note's highest partial at its onset and end, the release that
// keeps the module sounding until the gate closes, and the velocity's gain.
#include "support/tool_process.h"
#include "tools/render/spectrum.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace tarn::test;
using namespace tarn::render;

namespace {

constexpr size_t RATE = 44100;
constexpr size_t WINDOW = 1024;

// Highest level in dB of the bins from loHz up, in a window centred on sample `at`.
double bandLevelDb(const std::vector<float> &x, size_t at, double loHz) {
    std::vector<double> db = spectrumDb(x, at - WINDOW / 2, WINDOW);
    double top = -400.0;
    for (size_t bin = static_cast<size_t>(loHz * WINDOW / RATE); bin < db.size(); ++bin)
        top = std::max(top, db[bin]);
    return top;
}

TEST(RenderEnvelope, AttackAndReleaseRemoveTheOnsetAndEndClicks) {
    // A3 with N = 8: nine partials, the highest at 1980 Hz. The same note raw, then with a
    // 5 ms attack and a 50 ms release; the band from 4 kHz up holds only the clicks.
    const char *common = R"("pitch": "A3", "N": 8, "a": 0.7, "combfreq": 0, "combphase": 0.25)";
    WavData wav = render(std::string(R"({"settings": {"alternate": "L+R"}, "duration": 2,
        "score": [{"start": 0.25, "length": 0.5123, )") +
                         common + R"(},
                  {"start": 1.25, "length": 0.5123, "envelope": {"attack_ms": 5, "release_ms": 50}, )" +
                         common + "}]}");
    const size_t rawOn = RATE / 4, rawOff = rawOn + size_t(0.5123 * RATE);
    const size_t envOn = rawOn + RATE, envOff = rawOff + RATE;
    const size_t gateOff = envOff + RATE / 20;
    const double steady = bandLevelDb(wav.left, rawOn + RATE / 4, 4000.0);
    const double raw[] = {bandLevelDb(wav.left, rawOn, 4000.0),
                          bandLevelDb(wav.left, rawOff, 4000.0)};
    const double shaped[] = {bandLevelDb(wav.left, envOn, 4000.0),
                             bandLevelDb(wav.left, envOff, 4000.0),
                             bandLevelDb(wav.left, gateOff, 4000.0)};
    for (double click : raw)
        EXPECT_GT(click, steady + 60.0) << "the raw note must click, or the test shows nothing";
    EXPECT_LT(shaped[0], raw[0] - 25.0);
    EXPECT_LT(shaped[1], raw[1] - 50.0);
    EXPECT_LT(shaped[2], raw[1] - 50.0);
}

double peak(const std::vector<float> &x, size_t from, size_t to) {
    double p = 0.0;
    for (size_t i = from; i < to; ++i)
        p = std::max(p, double(std::fabs(x[i])));
    return p;
}

TEST(RenderEnvelope, VelocityScalesTheNoteAndTheReleaseSoundsUntilTheGateCloses) {
    const char *common =
        R"("length": 0.3, "pitch": "A3", "N": 4, "combfreq": 0, "combphase": 0.25)";
    WavData wav = render(std::string(R"({"settings": {"alternate": "L+R"}, "duration": 2.5,
        "score": [{"start": 0, )") +
                         common + R"(}, {"start": 0.5, "velocity": 0.5, )" + common +
                         R"(}, {"start": 1, "velocity": {"midi": 64}, )" + common +
                         R"(}, {"start": 1.5, "envelope": {"release_ms": 100}, )" + common + "}]}");
    const size_t NOTE = size_t(0.3 * RATE);
    const double full = peak(wav.left, 0, NOTE);
    ASSERT_GT(full, 0.1);
    EXPECT_NEAR(peak(wav.left, RATE / 2, RATE / 2 + NOTE) / full, 0.5, 1e-5);
    EXPECT_NEAR(peak(wav.left, RATE, RATE + NOTE) / full, 64.0 / 127.0, 1e-5);
    // The release: sounding through 100 ms after the length, falling linearly, then silent.
    const size_t off = 3 * RATE / 2 + NOTE;
    const size_t gateOff = off + RATE / 10;
    size_t lastSound = 0;
    for (size_t i = off; i < off + RATE / 2; ++i)
        if (wav.left[i] != 0.0f)
            lastSound = i;
    EXPECT_GE(lastSound, gateOff - 20);
    EXPECT_LT(lastSound, gateOff);
    // Halfway, over one period of A3 (the level moves by 0.023 either side).
    EXPECT_NEAR(peak(wav.left, off + RATE / 20 - 101, off + RATE / 20 + 101) / full, 0.5, 0.03);
}

} // namespace
