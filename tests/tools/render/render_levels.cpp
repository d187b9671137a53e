// tarn-render's level report and clip warning, against a note of known level: one partial
// with the comb at 0 is 0.75 sin(2 pi f t) on the left output and silence on the right.
#include "support/tool_process.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

using namespace tarn::test;

namespace {

const std::string TOOL = TARN_RENDER_PATH;
constexpr double RATE = 44100.0;
constexpr double NOTE_SECONDS = 0.5;
constexpr double DURATION = 1.0;
constexpr double HZ = 441.0;

std::string sinePatch(const std::string &gain) {
    return R"({"settings": {"alternate": "L+R"}, "duration": 1, )" + gain +
           R"("score": [{"start": 0.25, "length": 0.5, "pitch": {"hz": 441},
                          "N": 0, "combfreq": 0, "combphase": 0}]})";
}

struct ReportLine {
    double peakDb = 0.0;
    double rmsDb = 0.0;
    long long beyond = -1;
};

// The line of the report for "left " or "right"; "-inf" reads as -infinity.
ReportLine reportLine(const std::string &out, const std::string &channel) {
    ReportLine line;
    size_t at = out.find(channel + "  peak");
    if (at == std::string::npos)
        return line;
    char peak[16] = "";
    char rms[16] = "";
    std::sscanf(out.c_str() + at + channel.size(), "  peak %15s dBFS   RMS %15s dBFS   %lld", peak,
                rms, &line.beyond);
    line.peakDb = std::strtod(peak, nullptr);
    line.rmsDb = std::strtod(rms, nullptr);
    return line;
}

long long countBeyondFullScale(const std::vector<float> &x) {
    long long n = 0;
    for (float v : x)
        n += std::fabs(v) > 1.0f ? 1 : 0;
    return n;
}

double peakOf(const std::vector<float> &x) {
    double peak = 0.0;
    for (float v : x)
        peak = std::max(peak, double(std::fabs(v)));
    return peak;
}

TEST(RenderLevels, ReportAndClipWarningMatchAKnownSine) {
    ScratchDir dir;
    const double gainDb = 12.0;
    const double amplitude = 0.75 * std::pow(10.0, gainDb / 20.0); // 2.99: clips
    dir.write("p.json", sinePatch(R"("gain": 12, )"));
    ToolRun run = runProgram(TOOL, {dir.path("p.json"), dir.path("o.wav")}, dir);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // A float file keeps values beyond full scale, but most players clip them.
    WavData wav = readWav(dir.path("o.wav"));
    ReportLine left = reportLine(run.out, "left ");
    EXPECT_NEAR(left.peakDb, 20.0 * std::log10(amplitude), 0.01) << run.out;
    EXPECT_NEAR(left.rmsDb,
                20.0 * std::log10(amplitude / std::sqrt(2.0) * std::sqrt(NOTE_SECONDS / DURATION)),
                0.05)
        << run.out;
    // |A sin(2 pi n / 100)| > 1 on 100 - 4 asin(1 / A) / (2 pi / 100) samples of each period.
    const double perPeriod = 100.0 - 4.0 * std::asin(1.0 / amplitude) * 100.0 / (2.0 * M_PI);
    const double periods = NOTE_SECONDS * HZ;
    EXPECT_NEAR(double(left.beyond), perPeriod * periods, 0.01 * perPeriod * periods);
    EXPECT_EQ(left.beyond, countBeyondFullScale(wav.left));
    EXPECT_NE(run.err.find("warning: the file keeps " + std::to_string(left.beyond) +
                           " of 88200 samples"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("which most players clip"), std::string::npos) << run.err;
    ReportLine right = reportLine(run.out, "right");
    EXPECT_TRUE(std::isinf(right.peakDb) && right.peakDb < 0) << run.out;
    EXPECT_EQ(right.beyond, 0);

    ToolRun pcm = runProgram(TOOL, {"--format", "16", dir.path("p.json"), dir.path("o.wav")}, dir);
    ASSERT_EQ(pcm.exitCode, 0) << pcm.err;
    EXPECT_NE(pcm.err.find("warning: the 16-bit file clipped " + std::to_string(left.beyond) +
                           " of 88200 samples"),
              std::string::npos)
        << pcm.err;
    ToolRun quiet =
        runProgram(TOOL, {"--quiet", "--format", "24", dir.path("p.json"), dir.path("o.wav")}, dir);
    EXPECT_NE(quiet.err.find("24-bit file clipped"), std::string::npos) << "even with --quiet";
    EXPECT_EQ(quiet.out, "");
}

TEST(RenderLevels, GainAndNormalizeSetThePeakOfTheFile) {
    ScratchDir dir;
    struct Case {
        std::string gain;
        std::vector<std::string> options;
        double peakDb;
    };
    const Case cases[] = {
        {"", {}, 20.0 * std::log10(0.75)},
        {R"("gain": -6, )", {}, 20.0 * std::log10(0.75) - 6.0},
        {R"("gain": 20, )", {"--normalize"}, -1.0},
        {"", {"--normalize", "-6"}, -6.0},
        {"", {"--normalize=-0.5"}, -0.5},
    };
    for (const Case &c : cases) {
        dir.write("p.json", sinePatch(c.gain));
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--format", "16", dir.path("p.json"), dir.path("o.wav")});
        ToolRun run = runProgram(TOOL, args, dir);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, !c.gain.empty() && !c.options.empty()
                               ? "tarn-render: --normalize replaces the patch's \"gain\"\n"
                               : "")
            << c.gain;
        EXPECT_NEAR(20.0 * std::log10(peakOf(readWav(dir.path("o.wav")).left)), c.peakDb, 0.01)
            << c.gain;
        EXPECT_NEAR(reportLine(run.out, "left ").peakDb, c.peakDb, 0.01) << run.out;
    }
}

} // namespace
