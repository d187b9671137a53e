// Sound file output: samples come back as written (float exactly, 16/24-bit rounded to nearest,
// clipped rather than wrapped), 16-bit dither has the statistics of TPDF, containers follow the
// extension, and the target appears only at commit, with no temporary file left behind.
#include "tools/render/sound_writer.h"

#include "support/tool_process.h"
#include "tools/render/errors.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

using namespace tarn::render;
using tarn::test::ScratchDir;

namespace {

struct FormatCase {
    SampleFormat format;
    int container; // float files use the extensible header
    int subtype;
    double step; // largest expected error after the round trip, without dither: half an LSB
};

class SoundWriterFormats : public testing::TestWithParam<FormatCase> {};

TEST_P(SoundWriterFormats, SamplesComeBackWithinOneQuantisationStepAndClipAtFullScale) {
    ScratchDir dir;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(-0.99f, 0.99f);
    std::vector<float> left(3000), right(3000);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = value(rng);
        right[i] = value(rng);
    }
    left[10] = 1.5f; // beyond full scale: clipped, not wrapped to negative
    right[10] = -1.5f;
    {
        SoundWriter writer(dir.path("x.wav"), Container::WAV, 48000, GetParam().format, 0, false);
        writer.write(left.data(), right.data(), 1000);
        writer.write(left.data() + 1000, right.data() + 1000, 2000);
        writer.commit();
    }
    auto wav = tarn::test::readWav(dir.path("x.wav"));
    EXPECT_EQ(wav.sampleRate, 48000);
    EXPECT_EQ(wav.format, GetParam().container | GetParam().subtype);
    ASSERT_EQ(wav.left.size(), left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        if (i == 10)
            continue;
        ASSERT_NEAR(wav.left[i], left[i], GetParam().step * (1 + 1e-6)) << i;
        ASSERT_NEAR(wav.right[i], right[i], GetParam().step * (1 + 1e-6)) << i;
    }
    if (GetParam().format == SampleFormat::FLOAT32) {
        EXPECT_EQ(wav.left[10], 1.5f);
    } else {
        EXPECT_GT(wav.left[10], 0.999f);
        EXPECT_LT(wav.right[10], -0.999f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, SoundWriterFormats,
    testing::Values(FormatCase{SampleFormat::FLOAT32, SF_FORMAT_WAVEX, SF_FORMAT_FLOAT, 0.0},
                    FormatCase{SampleFormat::PCM16, SF_FORMAT_WAV, SF_FORMAT_PCM_16, 0.5 / 32768},
                    FormatCase{SampleFormat::PCM24, SF_FORMAT_WAV, SF_FORMAT_PCM_24,
                               0.5 / 8388608}));

// The error of the file against the float signal, in LSB: its mean (the bias) and RMS (the
// noise floor), against theory: rounding leaves a uniform error on [-0.5, 0.5) LSB (mean 0,
// RMS 1/sqrt(12) = 0.289); TPDF dither adds variance 1/6 (RMS sqrt(1/12 + 1/6) = 0.5).
// Flooring, as libsndfile's float-to-int path does without clipping, would give a mean of -0.5.
TEST(SoundWriter, QuantisationIsUnbiasedWithTheNoiseFloorOfRoundingOrTpdfDither) {
    struct Case {
        SampleFormat format;
        bool dither;
        double rmsLsb;
    };
    const Case cases[] = {{SampleFormat::PCM16, false, std::sqrt(1.0 / 12)},
                          {SampleFormat::PCM16, true, 0.5},
                          {SampleFormat::PCM24, false, std::sqrt(1.0 / 12)},
                          {SampleFormat::PCM24, true, std::sqrt(1.0 / 12)}}; // 24 bits: no dither
    std::mt19937 rng(11);
    // Below 1/256 (-48 dBFS) a float resolves 1/512 of a 24-bit LSB, so the input carries the
    // fine detail that makes the rounding error uniform; nearer full scale a float has only 24
    // bits itself.
    std::uniform_real_distribution<float> value(-0.0039f, 0.0039f);
    std::vector<float> x(100000);
    for (float &v : x)
        v = value(rng);
    for (const Case &c : cases) {
        ScratchDir dir;
        {
            SoundWriter writer(dir.path("q.wav"), Container::WAV, 44100, c.format, 0, c.dither);
            writer.write(x.data(), x.data(), static_cast<int32_t>(x.size()));
            writer.commit();
        }
        const double lsb = c.format == SampleFormat::PCM16 ? 32768.0 : 8388608.0;
        auto wav = tarn::test::readWav(dir.path("q.wav"));
        ASSERT_EQ(wav.left.size(), x.size());
        double sum = 0.0;
        double sumSquares = 0.0;
        double differ = 0.0; // left and right get independent dither
        for (size_t i = 0; i < x.size(); ++i) {
            for (float y : {wav.left[i], wav.right[i]}) {
                const double e = (double(y) - double(x[i])) * lsb;
                sum += e;
                sumSquares += e * e;
            }
            differ += wav.left[i] != wav.right[i] ? 1 : 0;
        }
        const double n = 2.0 * x.size();
        EXPECT_LT(std::fabs(sum / n), 0.01) << "bias, bits " << lsb << " dither " << c.dither;
        EXPECT_NEAR(std::sqrt(sumSquares / n), c.rmsLsb, 0.01 * c.rmsLsb)
            << "bits " << lsb << " dither " << c.dither;
        EXPECT_EQ(differ > 0.2 * x.size(), c.dither && c.format == SampleFormat::PCM16) << differ;
    }
}

TEST(SoundWriter, DitheredRendersAreReproducible) {
    ScratchDir dir;
    std::vector<float> x(5000);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = 0.3f * std::sin(0.01f * i);
    for (const char *name : {"a.wav", "b.wav"}) {
        SoundWriter writer(dir.path(name), Container::WAV, 44100, SampleFormat::PCM16);
        writer.write(x.data(), x.data(), 2500);
        writer.write(x.data() + 2500, x.data() + 2500, 2500);
        writer.commit();
    }
    EXPECT_EQ(tarn::test::readText(dir.path("a.wav")), tarn::test::readText(dir.path("b.wav")));
}

TEST(SoundWriter, TheExtensionChoosesTheContainerInAnyCase) {
    const std::pair<const char *, std::optional<Container>> cases[] = {
        {"a.wav", Container::WAV},    {"A.WAV", Container::WAV},   {"-", Container::WAV},
        {"d/x.w64", Container::W64},  {"x.aif", Container::AIFF},  {"x.Aiff", Container::AIFF},
        {"x.caf", Container::CAF},    {"x.flac", Container::FLAC}, {"x.ogg", Container::OGG_VORBIS},
        {"x.opus", Container::OPUS},  {"x.mp3", Container::MP3},   {"x.jpg", std::nullopt},
        {"x.wav.json", std::nullopt}, {"mypatch", std::nullopt},   {"d.wav/x", std::nullopt},
        {"x.", std::nullopt},         {"x.wave", std::nullopt},    {"--", std::nullopt}};
    for (const auto &[path, container] : cases)
        EXPECT_EQ(containerForPath(path), container) << path;
}

// The fmt chunk by byte offset: WAVE_FORMAT_EXTENSIBLE (0xFFFE), the
// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT GUID, and 2 bytes beyond the 22 of the extension (cbSize 24),
// without which sox 14.4.2 warns "wave header missing extended part of fmt chunk"; libsndfile
// and sox read the samples back.
TEST(SoundWriter, FloatWavsHaveAnExtensibleHeaderThatSoxReadsWithoutAWarning) {
    ScratchDir dir;
    const float x[4] = {0.25f, -0.25f, 0.5f, -0.125f}; // sox clips floats beyond 1 on reading
    {
        SoundWriter writer(dir.path("f.wav"), Container::WAV, 44100, SampleFormat::FLOAT32);
        writer.write(x, x + 2, 2);
        writer.commit();
    }
    const std::string bytes = tarn::test::readText(dir.path("f.wav"));
    ASSERT_GT(bytes.size(), 112u);
    auto u16 = [&](size_t at) { return uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8; };
    EXPECT_EQ(bytes.substr(12, 4), "fmt ");
    EXPECT_EQ(u16(16), 42);     // fmt chunk size
    EXPECT_EQ(u16(20), 0xFFFE); // wFormatTag
    EXPECT_EQ(u16(34), 32);     // wBitsPerSample
    EXPECT_EQ(u16(36), 24);     // cbSize
    EXPECT_EQ(u16(38), 32);     // wValidBitsPerSample
    EXPECT_EQ(bytes.substr(44, 16),
              std::string("\x03\0\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71", 16));
    EXPECT_EQ(u16(60), 0);
    EXPECT_EQ(bytes.substr(62, 4), "fact");
    EXPECT_EQ(bytes.substr(104, 4), "data");
    EXPECT_EQ(bytes.size(), 112u + sizeof x);
    auto wav = tarn::test::readWav(dir.path("f.wav"));
    EXPECT_EQ(wav.left, (std::vector<float>{0.25f, -0.25f}));
    EXPECT_EQ(wav.right, (std::vector<float>{0.5f, -0.125f}));
    if (::access("/usr/bin/sox", X_OK) == 0) {
        auto run = tarn::test::runProgram("/usr/bin/sox", {dir.path("f.wav"), "-n", "stat"}, dir);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err.find("WARN"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Maximum amplitude:     0.5"), std::string::npos) << run.err;
    }
}

TEST(SoundWriter, WavsBeyondFourGibibytesAreRf64AndAiffsAreRefused) {
    // An hour, stereo: frames x channels x bytes per sample against 2^32 bytes (4.29 GB).
    struct Case {
        int64_t rate;
        SampleFormat format;
        bool rf64;
    };
    const Case cases[] = {{192000, SampleFormat::FLOAT32, true},  // 5.53 GB
                          {192000, SampleFormat::PCM24, false},   // 4.15 GB
                          {192000, SampleFormat::PCM16, false},   // 2.76 GB
                          {96000, SampleFormat::FLOAT32, false},  // 2.76 GB
                          {44100, SampleFormat::FLOAT32, false}}; // 1.27 GB
    for (const Case &c : cases)
        EXPECT_EQ(needsRf64(3600 * c.rate, Container::WAV, c.format), c.rf64) << c.rate;
    EXPECT_FALSE(needsRf64(3600 * 192000, Container::W64, SampleFormat::FLOAT32));
    // AIFF has no large form: past 4 GiB it is refused; the 64-bit containers take it.
    for (Container c : {Container::AIFF, Container::W64, Container::CAF, Container::WAV})
        EXPECT_EQ(sizeProblem(3600 * 192000, c, SampleFormat::FLOAT32).has_value(),
                  c == Container::AIFF);
    EXPECT_FALSE(sizeProblem(3600 * 192000, Container::AIFF, SampleFormat::PCM16));
}

TEST(SoundWriter, TargetAppearsOnlyAtCommitAndAnAbandonedWriteLeavesNothing) {
    ScratchDir dir;
    const float samples[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    {
        SoundWriter writer(dir.path("a.wav"), Container::WAV, 44100, SampleFormat::FLOAT32);
        writer.write(samples, samples, 4);
        auto during = dir.entries();
        EXPECT_EQ(during.count("a.wav"), 0u);
        EXPECT_EQ(during.size(), 1u); // the temporary file, beside the target
    }
    EXPECT_TRUE(dir.entries().empty());

    dir.write("b.wav", "old contents");
    {
        SoundWriter writer(dir.path("b.wav"), Container::WAV, 44100, SampleFormat::FLOAT32);
        writer.write(samples, samples, 4);
    }
    EXPECT_EQ(tarn::test::readText(dir.path("b.wav")), "old contents");
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(SoundWriter, CommittedFileHasTheUsualPermissions) {
    ScratchDir dir;
    mode_t old = ::umask(022);
    {
        SoundWriter writer(dir.path("p.wav"), Container::WAV, 44100, SampleFormat::PCM16);
        writer.commit();
    }
    ::umask(old);
    struct stat info;
    ASSERT_EQ(::stat(dir.path("p.wav").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(SoundWriter, UnwritableTargetsFailBeforeAnythingIsWritten) {
    ScratchDir dir;
    std::string directory = dir.path("");
    directory.pop_back();
    for (const std::string &target : {dir.path("missing/x.wav"), dir.path(""), directory}) {
        EXPECT_THROW(SoundWriter(target, Container::WAV, 44100, SampleFormat::FLOAT32), OutputError)
            << target;
    }
    EXPECT_TRUE(dir.entries().empty());
    EXPECT_THROW(SoundWriter("/proc/tarn.wav", Container::WAV, 44100, SampleFormat::FLOAT32),
                 OutputError);
}

} // namespace
