// What tarn-render's WAV sounds like, measured from the file: the pitch of a note, its partial
// count, the alternation of the outputs from note to note, and the fade of a released voice.
#include "support/tool_process.h"
#include "tools/render/spectrum.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace tarn::test;
using namespace tarn::render;

namespace {

constexpr int32_t RATE = 44100;
constexpr size_t FFT = 16384; // 0.37 s: bins of 2.7 Hz

// Spectrum of the FFT-sample window centred on a time.
std::vector<double> spectrumAt(const std::vector<float> &samples, double seconds) {
    size_t centre = static_cast<size_t>(seconds * RATE);
    return spectrumDb(samples, centre - FFT / 2, FFT);
}

constexpr double BIN_HZ = static_cast<double>(RATE) / FFT;

std::string note(double start, double length, const std::string &fields) {
    std::ostringstream text;
    text << "{\"start\": " << start << ", \"length\": " << length << ", " << fields << "}";
    return text.str();
}

TEST(RenderSound, FundamentalIsAtTheRequestedPitchWithinATenthOfAPercent) {
    const std::pair<const char *, double> pitches[] = {
        {R"("A2")", 110.0},
        {R"("C4")", 261.6255653005986},
        {R"({"hz": 1234.5})", 1234.5},
        {"93", 1760.0},
        {R"({"volts": 8.25})", 440.0 * std::pow(2.0, 3.25)}};
    std::string score;
    for (size_t i = 0; i < 5; ++i)
        score += (i ? "," : "") + note(0.6 * i, 0.5, std::string("\"pitch\": ") + pitches[i].first);
    WavData wav = render(R"({"settings": {"alternate": "L+R"},
        "defaults": {"N": 6, "a": 0.5, "fm1": 1, "combfreq": 0, "combphase": 0},
        "score": [)" + score +
                         "]}");
    ASSERT_EQ(wav.left.size(), static_cast<size_t>(std::llround((2.9 + 0.25) * RATE)));
    for (size_t i = 0; i < 5; ++i) {
        auto db = spectrumAt(wav.left, 0.6 * i + 0.25);
        size_t peak = static_cast<size_t>(std::max_element(db.begin(), db.end()) - db.begin());
        double hz = interpolatedPeakHz(db, peak, BIN_HZ);
        EXPECT_NEAR(hz / pitches[i].second, 1.0, 0.001) << pitches[i].first << ": " << hz << " Hz";
    }
}

struct PartialCase {
    const char *fields; // the note's controls
    double f0;          // Hz
    double spacing;     // Hz
    int lowest;         // partial numbers k from lowest to highest, at f0 + k * spacing
    int highest;
};

TEST(RenderSound, PartialCountFollowsNAndStopsBelowNyquist) {
    const PartialCase cases[] = {
        {R"("pitch": {"hz": 1500}, "N": 5)", 1500, 1500, 0, 5},
        {R"("pitch": {"hz": 1500}, "N": 9)", 1500, 1500, 0, 9},
        // 21000 Hz is the last partial below 22050 Hz, whatever N allows.
        {R"("pitch": {"hz": 1500}, "N": 40)", 1500, 1500, 0, 13},
        // Two-sided: K sidebands on each side of the carrier.
        {R"("pitch": {"hz": 6000}, "N": 4, "fm1": 0.05, "settings": {"Mode": "2-Sided"})", 6000,
         300, -4, 4},
    };
    std::string score;
    for (size_t i = 0; i < std::size(cases); ++i)
        score += (i ? "," : "") + note(0.6 * i, 0.5, cases[i].fields);
    WavData wav = render(R"({"settings": {"alternate": "L+R"},
        "defaults": {"a": 1, "fm1": 1, "combfreq": 0, "combphase": 0}, "score": [)" +
                         score + "]}");
    for (size_t i = 0; i < std::size(cases); ++i) {
        const PartialCase &c = cases[i];
        auto db = spectrumAt(wav.left, 0.6 * i + 0.25);
        auto peaks = spectralPeaks(db, -70.0, 30.0, 50);
        ASSERT_EQ(peaks.size(), static_cast<size_t>(c.highest - c.lowest + 1)) << c.fields;
        for (size_t p = 0; p < peaks.size(); ++p) {
            double expected = c.f0 + (c.lowest + static_cast<int>(p)) * c.spacing;
            EXPECT_NEAR(interpolatedPeakHz(db, peaks[p], BIN_HZ) / expected, 1.0, 0.001)
                << c.fields << " partial " << p;
        }
    }
}

double maxDifference(const std::vector<float> &x, size_t xStart, const std::vector<float> &y,
                     size_t yStart, size_t n, float sign) {
    double worst = 0.0;
    for (size_t i = 0; i < n; ++i)
        worst = std::max(worst, std::fabs(double(x[xStart + i]) - sign * y[yStart + i]));
    return worst;
}

double rms(const std::vector<float> &x, size_t start, size_t n) {
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i)
        sum += double(x[start + i]) * x[start + i];
    return std::sqrt(sum / static_cast<double>(n));
}

TEST(RenderSound, AlternationSwapsOrInvertsTheOutputsOnEveryOtherNoteOverAllVoices) {
    // Four equal notes on two voices (notes 1 and 3 on one, 2 and 4 on the other); each starts
    // from phase 0, so the notes differ only by the alternation. The first note after the
    // setting is the swapped or inverted one, and so is the third: notes count over all voices.
    const size_t NOTE = RATE / 5;
    const size_t GAP = RATE / 10;
    for (const char *alternate : {"L+R alt", "M+S alt", "S+M alt"}) {
        std::string score;
        for (size_t i = 0; i < 4; ++i)
            score += (i ? "," : "") +
                     note(double(i * (NOTE + GAP)) / RATE, double(NOTE) / RATE, R"("pitch": "E4")");
        WavData wav = render(std::string(R"({"voices": 2, "settings": {"alternate": ")") +
                             alternate + R"("}, "defaults": {"N": 8, "a": 0.8,
            "combfreq": 0.3, "combphase": 0.1}, "score": [)" +
                             score + "]}");
        const size_t first = 0;
        const size_t second = NOTE + GAP;
        const double tolerance = 1e-6;
        SCOPED_TRACE(alternate);
        ASSERT_GT(rms(wav.left, second, NOTE), 0.02);
        ASSERT_GT(rms(wav.right, second, NOTE), 0.02);
        ASSERT_GT(maxDifference(wav.left, second, wav.right, second, NOTE, 1.0f), 0.05);
        for (size_t third : {2 * (NOTE + GAP)}) {
            EXPECT_LT(maxDifference(wav.left, first, wav.left, third, NOTE, 1.0f), tolerance);
            EXPECT_LT(maxDifference(wav.right, first, wav.right, third, NOTE, 1.0f), tolerance);
            EXPECT_LT(maxDifference(wav.left, second, wav.left, third + NOTE + GAP, NOTE, 1.0f),
                      tolerance);
        }
        if (std::string(alternate) == "L+R alt") {
            EXPECT_LT(maxDifference(wav.left, first, wav.right, second, NOTE, 1.0f), tolerance);
            EXPECT_LT(maxDifference(wav.right, first, wav.left, second, NOTE, 1.0f), tolerance);
        } else {
            float leftSign = std::string(alternate) == "S+M alt" ? -1.0f : 1.0f;
            EXPECT_LT(maxDifference(wav.left, first, wav.left, second, NOTE, leftSign), tolerance);
            EXPECT_LT(maxDifference(wav.right, first, wav.right, second, NOTE, -leftSign),
                      tolerance);
        }
    }
}

TEST(RenderSound, DryRunTellsWhichNoteOfAChordIsSwapped) {
    // Two notes on one sample: the host starts them in instance order, so the first instance's
    // note is the swapped one. With the comb at 0 the second signal is zero: the swapped note
    // sounds on the right only, the other on the left only.
    const std::string patch = R"({"voices": 2, "settings": {"alternate": "L+R alt"},
        "defaults": {"N": 0, "combfreq": 0, "combphase": 0},
        "score": [{"start": 0, "length": 0.5, "pitch": "A3"},
                  {"start": 0, "length": 0.5, "pitch": "E5"}]})";
    ScratchDir dir;
    dir.write("p.json", patch);
    ToolRun dry = runProgram(TARN_RENDER_PATH, {"--dry-run", dir.path("p.json")}, dir);
    EXPECT_NE(dry.out.find("/score/0     at 0.0000 s     220.00 Hz  instance  1  swapped"),
              std::string::npos)
        << dry.out;
    EXPECT_NE(dry.out.find("/score/1     at 0.0000 s     659.26 Hz  instance  2  as is"),
              std::string::npos)
        << dry.out;
    WavData wav = render(patch);
    for (const auto &[channel, hz] :
         {std::pair<const std::vector<float> *, double>{&wav.right, 220.0},
          std::pair<const std::vector<float> *, double>{&wav.left, 659.2551}}) {
        auto db = spectrumAt(*channel, 0.25);
        size_t peak = static_cast<size_t>(std::max_element(db.begin(), db.end()) - db.begin());
        EXPECT_NEAR(interpolatedPeakHz(db, peak, BIN_HZ) / hz, 1.0, 0.001);
        EXPECT_EQ(spectralPeaks(db, -70.0, 30.0, 50).size(), 1u) << hz;
    }
}

TEST(RenderSound, ReleasedVoiceFadesOutInsteadOfStopping) {
    // With "poly" 1 the second note releases the first one's voice while its gate is still
    // open. With the comb at 0 the second output signal is exactly zero, and "L+R alt" sends
    // the first note's signal to the right and the second note's to the left: the right
    // channel is the released voice alone.
    WavData wav = render(R"({"voices": 2, "block_size": 64,
        "settings": {"poly": 1, "alternate": "L+R alt"},
        "defaults": {"N": 4, "a": 0.5, "combfreq": 0, "combphase": 0},
        "score": [{"start": 0, "length": 1, "pitch": "A3"},
                  {"start": 0.5, "length": 0.5, "pitch": "E5"}]})");
    const size_t release = RATE / 2;
    double before = 0.0;
    for (size_t i = release - 4410; i < release; ++i)
        before = std::max(before, double(std::fabs(wav.right[i])));
    ASSERT_GT(before, 0.1);
    // The level falls by 20/44100 per sample from the first block after the release on: it
    // reaches 0 after 2205 samples, up to one 64-sample block late.
    const size_t PERIOD = 201; // just over one period of A3
    double previous = before * 1.001;
    size_t silentFrom = 0;
    for (size_t w = 0; w < 20; ++w) {
        size_t start = release + w * PERIOD;
        double peak = 0.0;
        for (size_t i = start; i < start + PERIOD; ++i)
            peak = std::max(peak, double(std::fabs(wav.right[i])));
        EXPECT_LE(peak, previous) << "window " << w;
        double expected = std::max(0.0, 1.0 - double(w * PERIOD) / 2205.0);
        EXPECT_NEAR(peak / before, expected, 0.12) << "window " << w;
        previous = peak;
    }
    for (size_t i = release; i < release + 4000; ++i)
        if (wav.right[i] != 0.0f)
            silentFrom = i + 1;
    EXPECT_GE(silentFrom, release + 2205 - 200);
    EXPECT_LE(silentFrom, release + 2205 + 64 + 1);
    // The second note sounds on, on the left.
    EXPECT_GT(rms(wav.left, release + 4410, 4410), 0.05);
}

} // namespace
