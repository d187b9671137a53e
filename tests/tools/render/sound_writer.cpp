// WAV output: samples come back as written (float exactly, 16/24-bit within one step, clipped
// rather than wrapped), and the target appears only at commit, with no temporary file left
// behind on any path.
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
    double step; // largest expected error after the round trip
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
        SoundWriter writer(dir.path("x.wav"), 48000, GetParam().format);
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
        ASSERT_NEAR(wav.left[i], left[i], GetParam().step) << i;
        ASSERT_NEAR(wav.right[i], right[i], GetParam().step) << i;
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
                    FormatCase{SampleFormat::PCM16, SF_FORMAT_WAV, SF_FORMAT_PCM_16, 1.0 / 32768},
                    FormatCase{SampleFormat::PCM24, SF_FORMAT_WAV, SF_FORMAT_PCM_24,
                               1.0 / 8388608}));

TEST(SoundWriter, FilesBeyondFourGibibytesAreRf64) {
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
        EXPECT_EQ(needsRf64(3600 * c.rate, c.format), c.rf64) << c.rate;
}

TEST(SoundWriter, TargetAppearsOnlyAtCommitAndAnAbandonedWriteLeavesNothing) {
    ScratchDir dir;
    const float samples[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    {
        SoundWriter writer(dir.path("a.wav"), 44100, SampleFormat::FLOAT32);
        writer.write(samples, samples, 4);
        auto during = dir.entries();
        EXPECT_EQ(during.count("a.wav"), 0u);
        EXPECT_EQ(during.size(), 1u); // the temporary file, beside the target
    }
    EXPECT_TRUE(dir.entries().empty());

    dir.write("b.wav", "old contents");
    {
        SoundWriter writer(dir.path("b.wav"), 44100, SampleFormat::FLOAT32);
        writer.write(samples, samples, 4);
    }
    EXPECT_EQ(tarn::test::readText(dir.path("b.wav")), "old contents");
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(SoundWriter, CommittedFileHasTheUsualPermissions) {
    ScratchDir dir;
    mode_t old = ::umask(022);
    {
        SoundWriter writer(dir.path("p.wav"), 44100, SampleFormat::PCM16);
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
        EXPECT_THROW(SoundWriter(target, 44100, SampleFormat::FLOAT32), OutputError) << target;
    }
    EXPECT_TRUE(dir.entries().empty());
    EXPECT_THROW(SoundWriter("/proc/tarn.wav", 44100, SampleFormat::FLOAT32), OutputError);
}

} // namespace
