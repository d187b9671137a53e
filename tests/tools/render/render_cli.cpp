// tarn-render as a user runs it: every kind of bad input gives its message and exit code and
// leaves no file behind; good runs write the requested files in the requested format.
#include "support/tool_process.h"
#include "tools/render/model/list_settings.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarn::test;

namespace {

const std::string TOOL = TARN_RENDER_PATH;

const char *const ONE_NOTE =
    R"({"score": [{"start": 0, "length": 0.1, "pitch": "A4"}], "duration": 0.2})";

struct BadRun {
    const char *name;
    std::vector<std::string> args; // "@" stands for the scratch directory
    const char *patch;             // written to @/p.json when not null
    int exitCode;
    const char *error;      // a part of stderr
    bool inScratch = false; // run from the scratch directory, for names without a slash
};

std::vector<std::string> expand(const std::vector<std::string> &args, const ScratchDir &dir) {
    std::vector<std::string> result;
    for (std::string a : args) {
        if (a.rfind("@", 0) == 0)
            a = dir.path(a.substr(2));
        result.push_back(a);
    }
    return result;
}

class RenderCliErrors : public testing::TestWithParam<BadRun> {};

TEST_P(RenderCliErrors, FailWithTheirMessageAndExitCodeAndLeaveNoFile) {
    const BadRun &c = GetParam();
    ScratchDir dir;
    if (c.patch)
        dir.write("p.json", c.patch);
    auto before = dir.entries();
    const std::string testDir = std::filesystem::current_path();
    if (c.inScratch)
        std::filesystem::current_path(dir.path(""));
    ToolRun run = runProgram(TOOL, expand(c.args, dir), dir);
    std::filesystem::current_path(testDir);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    EXPECT_EQ(dir.entries(), before) << run.err;
}

// 100000 nested arrays in 200 KB.
const std::string DEEP_NESTING = std::string(100000, '[') + std::string(100000, ']');

const BadRun BAD_RUNS[] = {
    {"MalformedJson",
     {"@/p.json", "@/o.wav"},
     "{\"score\": [\n  {\"start\": 0,,}]}",
     2,
     "p.json:2:15: malformed JSON"},
    {"UnknownField",
     {"@/p.json", "@/o.wav"},
     R"({"score": [{"start": 0, "length": 1, "pitch": "A4", "loudness": 1}]})",
     2,
     "p.json: /score/0/loudness: unknown field \"loudness\""},
    {"WrongType",
     {"@/p.json", "@/o.wav"},
     R"({"sample_rate": "48k", "score": []})",
     2,
     "p.json: /sample_rate: expected an integer, got a string"},
    {"OutOfRange",
     {"@/p.json", "@/o.wav"},
     R"({"score": [{"start": 0, "length": 1, "pitch": "A4", "combfreq": 4}]})",
     2,
     "p.json: /score/0/combfreq: expected a value of at most 3, got 4"},
    {"DuplicateKey",
     {"@/p.json", "@/o.wav"},
     R"({"score": [{"start": 0, "length": 1, "pitch": "A4", "N": 3, "N": 4}]})",
     2,
     "p.json: /score/0/N: expected each key once, got it twice"},
    {"NumberBeyondADouble",
     {"@/p.json", "@/o.wav"},
     R"({"score": [{"start": 0, "length": 1, "pitch": "A4", "a": -1e400}]})",
     2,
     "p.json: /score/0/a: expected a number of magnitude below 1.8e308, got -1e400"},
    {"DeepNesting",
     {"@/p.json", "@/o.wav"},
     DEEP_NESTING.c_str(),
     2,
     "p.json:1:65: expected arrays and objects nested at most 64 levels deep"},
    {"PatchIsADirectory",
     {"@/", "@/o.wav"},
     nullptr,
     2,
     ": cannot read: it is a directory, expected a patch file"},
    {"MidiIsADirectory",
     {"--midi", "@/", "@/p.json", "@/o.wav"},
     ONE_NOTE,
     2,
     ": cannot read: it is a directory, expected a MIDI file"},
    {"MissingPatchFile",
     {"@/none.json", "@/o.wav"},
     nullptr,
     2,
     "none.json: cannot read: No such file or directory"},
    {"OutputDirectoryMissing", {"@/p.json", "@/no/o.wav"}, ONE_NOTE, 4, "cannot write /tmp/"},
    {"OutputIsADirectory", {"@/p.json", "@/"}, ONE_NOTE, 4, "it is a directory"},
    {"PlotUnwritable",
     {"@/p.json", "@/o.wav", "--spectrogram", "@/no/s.png"},
     ONE_NOTE,
     4,
     "s.png: No such file or directory"},
    {"PluginMissing",
     {"--plugin", "@/none.so", "@/p.json", "@/o.wav"},
     ONE_NOTE,
     3,
     "cannot load the plug-in"},
    {"PluginNotASharedObject",
     {"--plugin", "@/p.json", "@/p.json", "@/o.wav"},
     ONE_NOTE,
     3,
     "cannot load the plug-in"},
    {"PluginNamedWithoutASlash",
     {"--plugin", "p.json", "p.json", "o.wav"},
     ONE_NOTE,
     3,
     "cannot load the plug-in p.json: not a shared library (",
     true},
    {"PluginIsADirectory",
     {"--plugin", "@/", "@/p.json", "@/o.wav"},
     ONE_NOTE,
     3,
     "it is a directory, expected a shared library"},
    {"PluginWithoutTheExports",
     {"--plugin", "/lib/x86_64-linux-gnu/libm.so.6", "--demo", "@/o.wav"},
     nullptr,
     3,
     "cannot load the plug-in /lib/x86_64-linux-gnu/libm.so.6"},
    {"PinsOfAMissingPlugin",
     {"--pins", "--plugin", "@/none.so"},
     nullptr,
     3,
     "cannot load the plug-in"},
    {"UnknownOption", {"--loud", "@/o.wav"}, nullptr, 1, "unknown option --loud\n"},
    {"MisspeltOption",
     {"--nomralize", "@/o.wav"},
     nullptr,
     1,
     "unknown option --nomralize; did you mean --normalize?"},
    {"StandardInputWithoutOutput", {"-"}, nullptr, 1, "(-) needs an output file name"},
    {"NoPatch", {}, nullptr, 1, "no patch given (tarn-render --demo renders the built-in demo)"},
    {"CsoundOption", {"-s", "@/p.json"}, ONE_NOTE, 1, "(a Csound option?): use --format 16"},
    {"TwoOutputs", {"@/p.json", "@/o.wav", "-o", "@/x.wav"}, ONE_NOTE, 1, "too many file names"},
    {"DemoWithMidi", {"--demo", "--midi", "@/p.json"}, ONE_NOTE, 1, "--demo plays its own score"},
    {"SoundAndPlotOfOneName",
     {"@/p.json", "@/x.wav", "--spectrogram", "@/x.wav"},
     ONE_NOTE,
     2,
     "refusing to write /tmp/"},
    {"TwoPlotsOfOneName",
     {"@/p.json", "@/o.wav", "--spectrogram", "@/y.png", "--spectrum", "@/y.png"},
     ONE_NOTE,
     2,
     "y.png twice: it is named as the spectrogram and as the spectrum"},
    {"TooManyFiles", {"@/p.json", "@/o.wav", "@/x.wav"}, ONE_NOTE, 1, "too many file names"},
    {"BadFormat", {"--format", "32", "@/o.wav"}, nullptr, 1, "--format expects float, 16 or 24"},
    {"UnknownSoundExtension",
     {"@/p.json", "@/o.jpg"},
     ONE_NOTE,
     1,
     "o.jpg: a sound file's name ends in one of .wav, .w64, .aif, .aiff, .caf, "
     ".flac, .ogg, .opus, .mp3"},
    {"PlotThatIsNotPng",
     {"--spectrogram", "@/s.jpg", "@/p.json", "@/o.wav"},
     ONE_NOTE,
     1,
     "--spectrogram draws PNG only"},
    {"FloatFlac",
     {"--format", "float", "@/p.json", "@/o.flac"},
     ONE_NOTE,
     1,
     "a FLAC file holds 16- or 24-bit samples, not float"},
    {"OpusAtAnotherRate",
     {"@/p.json", "@/o.opus"},
     ONE_NOTE,
     1,
     "an Opus file holds 8000, 12000, 16000, 24000 or 48000 Hz, not the patch's 44100 Hz"},
    {"BadSpectrumTime",
     {"--spectrum-at", "soon", "@/o.wav"},
     nullptr,
     1,
     "--spectrum-at expects a time in seconds"},
    {"BadMaxFreq",
     {"--max-freq", "-5", "@/o.wav"},
     nullptr,
     1,
     "--max-freq expects a frequency in Hz, got \"-5\""},
    {"SpectrumAfterTheEnd",
     {"--spectrum-at", "0.3", "--spectrum", "@/s.png", "@/p.json", "@/o.wav"},
     ONE_NOTE,
     1,
     "--spectrum-at 0.3 lies after the end of the render (0.2 s)"},
};

INSTANTIATE_TEST_SUITE_P(Cases, RenderCliErrors, testing::ValuesIn(BAD_RUNS),
                         [](const testing::TestParamInfo<BadRun> &param) {
                             return std::string(param.param.name);
                         });

TEST(RenderCli, MissingGnuplotFailsTheRunWithoutLeavingTheWav) {
    ScratchDir dir;
    dir.write("p.json", ONE_NOTE);
    auto before = dir.entries();
    ToolRun run = runProgram(
        TOOL, {dir.path("p.json"), dir.path("o.wav"), "--spectrogram", dir.path("s.png")}, dir,
        {"PATH=" + dir.path("bin")});
    EXPECT_EQ(run.exitCode, 5) << run.err;
    EXPECT_NE(run.err.find("cannot run gnuplot"), std::string::npos) << run.err;
    EXPECT_EQ(dir.entries(), before);
}

TEST(RenderCli, NoFileOfTheUsersIsEverReplacedByAnOutput) {
    ScratchDir dir;
    const std::string patch = dir.write("p.json", ONE_NOTE);
    ASSERT_EQ(runProgram(TOOL, {"--quiet", patch, dir.path("old.wav")}, dir).exitCode, 0);
    ASSERT_EQ(runProgram(TOOL, {"--quiet", "--null", patch, "--spectrum", dir.path("old.png")}, dir)
                  .exitCode,
              0);
    const std::string oldWav = readText(dir.path("old.wav"));
    const std::string oldPng = readText(dir.path("old.png"));
    // Files that are not what the output writes, and inputs under other names.
    const std::map<std::string, std::string> kept = {{"mypatch", "my notes"},
                                                     {"patch.txt", "notes"},
                                                     {"my.csd", "<CsoundSynthesizer>"},
                                                     {"song.mid", "MThd\0\0\0\6"},
                                                     {"fake.wav", "not a RIFF file"},
                                                     {"fake.png", "GIF89a"},
                                                     {"plugin.so", readText(TARN_PLUGIN_PATH)}};
    for (const auto &[name, text] : kept)
        dir.write(name, text);
    ::symlink(patch.c_str(), dir.path("link.wav").c_str());
    ::link(patch.c_str(), dir.path("hard.wav").c_str());
    ::symlink(dir.path("old.wav").c_str(), dir.path("to-old.wav").c_str());
    dir.write("take.bin", oldWav); // a WAV under another name, behind a link named .wav
    ::symlink(dir.path("take.bin").c_str(), dir.path("to-take.wav").c_str());
    ::symlink(dir.path("none.wav").c_str(), dir.path("dangling.wav").c_str());
    ::mkfifo(dir.path("fifo.wav").c_str(), 0600);
    const std::set<std::string> before = dir.entries();
    const std::string plugin = dir.path("plugin.so");
    const std::vector<std::vector<std::string>> refused = {
        // A lone name is the patch, whatever it is called: nothing is rendered over it.
        {dir.path("mypatch")},
        {dir.path("patch.txt")},
        {dir.path("my.csd")},
        {dir.path("song.mid")},
        {dir.path("new.wav")},
        // The inputs, under any spelling or link.
        {patch, patch},
        {patch, dir.path("../") + dir.path("p.json").substr(5)},
        {patch, dir.path("link.wav")},
        {patch, dir.path("hard.wav")},
        {patch, dir.path("o.wav"), "--spectrogram", patch},
        {patch, "--midi", dir.path("song.mid"), dir.path("song.mid")},
        {"--force", "--plugin", plugin, patch, plugin},
        // Files of another kind, devices and links to nothing.
        {patch, dir.path("fake.wav")},
        {patch, dir.path("o.wav"), "--spectrogram", dir.path("fake.png")},
        {patch, dir.path("o.wav"), "--spectrum", dir.path("old.wav")},
        {patch, dir.path("fifo.wav")},
        {patch, dir.path("dangling.wav")},
    };
    for (const auto &args : refused) {
        ToolRun run = runProgram(TOOL, args, dir);
        EXPECT_EQ(run.exitCode, 2) << args.back() << "\n" << run.err;
        EXPECT_EQ(dir.entries(), before) << args.back();
        for (const auto &[name, text] : kept)
            EXPECT_EQ(readText(dir.path(name)), text) << name;
        EXPECT_EQ(readText(patch), ONE_NOTE);
        EXPECT_TRUE(readText(dir.path("old.wav")) == oldWav);
    }
    // A WAV replaces a WAV and a PNG a PNG, through a link too (which stays a link); --force
    // replaces another kind of file.
    ASSERT_EQ(runProgram(TOOL,
                         {"--quiet", "--format", "16", patch, dir.path("to-old.wav"), "--spectrum",
                          dir.path("old.png"), "--spectrum-at", "0.08"},
                         dir)
                  .exitCode,
              0);
    EXPECT_TRUE(readText(dir.path("old.wav")) != oldWav);
    EXPECT_EQ(readWav(dir.path("old.wav")).format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_TRUE(readText(dir.path("old.png")) != oldPng);
    struct stat link;
    EXPECT_TRUE(::lstat(dir.path("to-old.wav").c_str(), &link) == 0 && S_ISLNK(link.st_mode));
    // The container follows the name given, not the name of the file the link points to.
    ASSERT_EQ(runProgram(TOOL, {"--quiet", patch, dir.path("to-take.wav")}, dir).exitCode, 0);
    EXPECT_EQ(readWav(dir.path("take.bin")).left.size(), 8820u);
    ToolRun forced = runProgram(TOOL, {"--quiet", "--force", patch, dir.path("fake.wav")}, dir);
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(readWav(dir.path("fake.wav")).left.size(), 8820u);
    // A lone patch renders beside itself.
    ToolRun lone = runProgram(TOOL, {patch}, dir);
    EXPECT_EQ(lone.exitCode, 0) << lone.err;
    EXPECT_NE(lone.out.find("wrote " + dir.path("p.wav")), std::string::npos) << lone.out;
    EXPECT_EQ(readText(patch), ONE_NOTE);
}

TEST(RenderCli, AnInterruptedRenderLeavesNoFileAndExitsAsKilled) {
    const std::pair<int, int> signals[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};
    for (const auto &[signal, exitCode] : signals) {
        ScratchDir dir;
        // An hour of eight voices: far longer than the test waits.
        std::string score;
        for (int i = 0; i < 8; ++i)
            score += std::string(i ? "," : "") + R"({"start": 0, "length": 3600, "pitch": )" +
                     std::to_string(40 + i) + "}";
        dir.write("p.json", R"({"voices": 8, "score": [)" + score + "]}");
        StartedProgram started = startProgram(
            TOOL, {dir.path("p.json"), dir.path("o.wav"), "--spectrogram", dir.path("s.png")}, dir);
        ASSERT_NE(started.pid, 0);
        // Both outputs exist under their temporary names once the render runs.
        for (int tries = 0; tries < 3000 && dir.entries().size() < 5; ++tries)
            ::usleep(10000);
        EXPECT_EQ(dir.entries().size(), 5u);
        ::kill(started.pid, signal);
        ToolRun run = finishProgram(started);
        EXPECT_EQ(run.exitCode, exitCode) << run.err;
        EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
        EXPECT_EQ(dir.entries(), std::set<std::string>{"p.json"});
    }
}

TEST(RenderCli, ThirtyOverlappingNotesOnTwentyFourVoicesStealTheOldest) {
    // Notes 10 ms apart, 1 s long: from the 25th on, every instance is busy, and each new
    // note takes the instance whose note started first.
    ScratchDir dir;
    std::string score;
    for (int i = 0; i < 30; ++i)
        score += std::string(i ? "," : "") + R"({"start": )" + std::to_string(0.01 * i) +
                 R"(, "length": 1, "pitch": )" + std::to_string(40 + i) + "}";
    dir.write("p.json", R"({"voices": 24, "settings": {"poly": 4, "alternate": "L+R alt"},
                             "score": [)" +
                            score + "]}");
    ToolRun dry = runProgram(TOOL, {"--dry-run", dir.path("p.json")}, dir);
    ASSERT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_EQ(dir.entries(), std::set<std::string>{"p.json"});
    std::istringstream lines(dry.out);
    std::vector<std::string> listed;
    for (std::string line; std::getline(lines, line);)
        listed.push_back(line);
    ASSERT_EQ(listed.size(), 31u) << dry.out;
    for (int i = 0; i < 30; ++i) {
        const std::string &line = listed[static_cast<size_t>(i)];
        EXPECT_EQ(line.rfind("/score/" + std::to_string(i) + " ", 0), 0u) << line;
        char instance[32];
        std::snprintf(instance, sizeof instance, "instance %2d", i % 24 + 1);
        EXPECT_NE(line.find(instance), std::string::npos) << line;
        EXPECT_NE(line.find(i % 2 == 0 ? "swapped" : "as is"), std::string::npos) << line;
        const std::string steal = "steals /score/" + std::to_string(i - 24);
        EXPECT_EQ(line.find("steals") != std::string::npos, i >= 24) << line;
        if (i >= 24) {
            EXPECT_NE(line.find(steal), std::string::npos) << line;
        }
    }
    EXPECT_EQ(listed[30], "30 notes on 24 instances, 6 steals, 0 dropped; nothing rendered");
    ToolRun render = runProgram(TOOL, {"--quiet", dir.path("p.json"), dir.path("o.wav")}, dir);
    EXPECT_EQ(render.exitCode, 0) << render.err;
    EXPECT_EQ(readWav(dir.path("o.wav")).left.size(), size_t((0.29 + 1 + 0.25) * 44100 + 0.5));
}

TEST(RenderCli, SmallConveniences) {
    ScratchDir dir;
    ToolRun version = runProgram(TOOL, {"--version"}, dir);
    EXPECT_EQ(version.out.rfind("tarn-render ", 0), 0u) << version.out;
    // "-" reads the patch from standard input; an empty score with a duration is silence.
    const std::string silence = dir.write("silence.json", R"({"duration": 0.5, "score": []})");
    ToolRun piped = runProgram(TOOL, {"-", dir.path("o.wav")}, dir, {}, silence);
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    WavData wav = readWav(dir.path("o.wav"));
    EXPECT_EQ(wav.left.size(), 22050u);
    EXPECT_TRUE(std::all_of(wav.left.begin(), wav.left.end(), [](float x) { return x == 0; }));
    // Every render says how long it took; --null too.
    EXPECT_NE(piped.out.find("times realtime"), std::string::npos) << piped.out;
    dir.write("p.json", ONE_NOTE);
    ToolRun null = runProgram(TOOL, {"--null", dir.path("p.json")}, dir);
    EXPECT_NE(null.out.find("rendered 0.2 s in "), std::string::npos) << null.out;
    // Options that do nothing in the combination given say so, and the render goes on.
    ToolRun idle = runProgram(TOOL,
                              {"--spectrum-at", "0.1", "--max-freq", "5000", "--channel", "2",
                               "--normalize", "--quiet", dir.path("p.json"), dir.path("o.wav")},
                              dir);
    EXPECT_EQ(idle.exitCode, 0) << idle.err;
    for (const char *note : {"--spectrum-at does nothing without --spectrum",
                             "--max-freq does nothing without --spectrogram or --spectrum",
                             "--channel does nothing without --midi"})
        EXPECT_NE(idle.err.find(note), std::string::npos) << idle.err;
    ToolRun high = runProgram(TOOL,
                              {"--max-freq", "30000", "--spectrogram", dir.path("s.png"), "--quiet",
                               dir.path("p.json"), dir.path("o.wav")},
                              dir);
    EXPECT_NE(high.err.find("--max-freq 30000 lies above half the sample rate (22050 Hz)"),
              std::string::npos)
        << high.err;
}

TEST(RenderCli, PinsListsTheSixteenPinsWithTheListsTheToolUses) {
    ScratchDir dir;
    ToolRun run = runProgram(TOOL, {"--pins"}, dir);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("TARN Oscillator Module"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\n0    fc          in         audio  0\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\n15   outputr     out        audio  -\n"), std::string::npos)
        << run.out;
    // The patch labels are the plug-in's: each list the tool knows is the one it prints.
    for (const auto &setting : tarn::render::LIST_SETTINGS) {
        std::string items;
        for (const auto &item : tarn::render::parseListText(setting.listText))
            items += (items.empty() ? "" : ", ") + item.label + "=" + std::to_string(item.value);
        EXPECT_NE(run.out.find(std::string(setting.name) + " "), std::string::npos);
        EXPECT_NE(
            run.out.find(" " + std::to_string(setting.defaultValue) + "        " + items + "\n"),
            std::string::npos)
            << setting.name << "\n"
            << run.out;
    }
}

TEST(RenderCli, DemoRendersOnRequest) {
    ScratchDir dir;
    ToolRun run = runProgram(TOOL,
                             {"--demo", dir.path("demo.wav"), "--spectrogram", dir.path("demo.png"),
                              "--spectrum", dir.path("spectrum.png")},
                             dir);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, ""); // no progress bar when stderr is not a terminal
    EXPECT_NE(run.out.find("wrote " + dir.path("demo.wav")), std::string::npos) << run.out;
    WavData wav = readWav(dir.path("demo.wav"));
    EXPECT_EQ(wav.sampleRate, 44100);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.format, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT);
    EXPECT_GT(wav.left.size(), 44100u * 5);
    for (const char *png : {"demo.png", "spectrum.png"})
        EXPECT_EQ(readText(dir.path(png)).substr(0, 8), "\x89PNG\r\n\x1a\n") << png;
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"demo.png", "demo.wav", "spectrum.png"}));
}

// Each container as libsndfile reads it back: format, channels, rate, length, and for the
// lossless ones the samples of the float render within half an LSB (no dither: --no-dither).
TEST(RenderCli, TheExtensionChoosesTheContainerAndLosslessOnesKeepTheSamples) {
    ScratchDir dir;
    dir.write("p.json", R"({"sample_rate": 48000, "duration": 0.5,
                            "defaults": {"combphase": 0.25},
                            "score": [{"start": 0.1, "length": 0.2, "pitch": "A3"}]})");
    ASSERT_EQ(runProgram(TOOL, {"--quiet", dir.path("p.json"), dir.path("ref.wav")}, dir).exitCode,
              0);
    const WavData reference = readWav(dir.path("ref.wav"));
    struct Case {
        const char *name;
        std::vector<std::string> options;
        int format;
        double step; // largest error against the float render; < 0: lossy, peak within 1 dB
    };
    const Case cases[] = {
        {"o.W64", {}, SF_FORMAT_W64 | SF_FORMAT_FLOAT, 0.0},
        {"o.aif", {"--format", "24"}, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 0.5 / 8388608},
        {"o.aiff",
         {"--format", "16", "--no-dither"},
         SF_FORMAT_AIFF | SF_FORMAT_PCM_16,
         0.5 / 32768},
        {"o.caf", {}, SF_FORMAT_CAF | SF_FORMAT_FLOAT, 0.0},
        {"o.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 0.5 / 8388608},
        {"o.FLAC",
         {"--format", "16", "--no-dither"},
         SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
         0.5 / 32768},
        {"o.ogg", {}, SF_FORMAT_OGG | SF_FORMAT_VORBIS, -1.0},
        {"o.opus", {}, SF_FORMAT_OGG | SF_FORMAT_OPUS, -1.0},
        {"o.mp3", {}, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, -1.0},
    };
    auto peakOf = [](const std::vector<float> &x) {
        float peak = 0.0f;
        for (float v : x)
            peak = std::max(peak, std::fabs(v));
        return peak;
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--quiet", dir.path("p.json"), dir.path(c.name)});
        ToolRun run = runProgram(TOOL, args, dir);
        ASSERT_EQ(run.exitCode, 0) << c.name << run.err;
        WavData sound = readWav(dir.path(c.name));
        EXPECT_EQ(sound.format, c.format) << c.name;
        EXPECT_EQ(sound.channels, 2) << c.name;
        EXPECT_EQ(sound.sampleRate, 48000) << c.name;
        if (c.step < 0.0) {
            EXPECT_NEAR(sound.left.size(), reference.left.size(), 2048) << c.name;
            EXPECT_NEAR(20 * std::log10(peakOf(sound.right) / peakOf(reference.right)), 0.0, 1.0)
                << c.name;
            continue;
        }
        ASSERT_EQ(sound.left.size(), reference.left.size()) << c.name;
        double worst = 0.0;
        for (size_t i = 0; i < sound.left.size(); ++i)
            worst = std::max({worst, std::fabs(double(sound.left[i]) - reference.left[i]),
                              std::fabs(double(sound.right[i]) - reference.right[i])});
        EXPECT_LE(worst, c.step * (1 + 1e-6)) << c.name;
    }
}

// "-": the WAV goes to standard output, here a pipe, and the report to standard error; nothing
// is left in $TMPDIR, also when the reader quits early (exit 4).
TEST(RenderCli, DashWritesTheWavToAPipeAndTheReportToStandardError) {
    ScratchDir dir;
    dir.write("p.json", R"({"duration": 1, "score": [{"start": 0, "length": 1, "pitch": "A4"}]})");
    ASSERT_EQ(runProgram(TOOL, {"--quiet", dir.path("p.json"), dir.path("ref.wav")}, dir).exitCode,
              0);
    const std::vector<std::string> env = {"TMPDIR=" + dir.path("tmp"), "PATH=/usr/bin:/bin"};
    ASSERT_EQ(::mkdir(dir.path("tmp").c_str(), 0700), 0);
    ToolRun run = runProgram(
        "/bin/sh",
        {"-c", "cd " + dir.path("") + " && " + TOOL + " p.json - | cat > piped.wav && ls -A tmp"},
        dir, env);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "") << "nothing left in $TMPDIR";
    EXPECT_NE(run.err.find("wrote standard output (1 s, stereo, 44100 Hz)"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("right  peak"), std::string::npos) << run.err;
    WavData piped = readWav(dir.path("piped.wav"));
    EXPECT_EQ(piped.format, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT);
    EXPECT_EQ(piped.right, readWav(dir.path("ref.wav")).right);

    // 353 KB against a 64 KiB pipe: the writer is still writing when head has quit.
    ToolRun early = runProgram(
        "/bin/sh",
        {"-c", "cd " + dir.path("") + " && (" + TOOL +
                   " --quiet p.json -; echo $? > rc) | head -c 10 > /dev/null; cat rc; ls -A tmp"},
        dir, env);
    EXPECT_EQ(early.out, "4\n") << early.err;
    EXPECT_NE(early.err.find("cannot write to standard output"), std::string::npos) << early.err;
    ::rmdir(dir.path("tmp").c_str());
}

TEST(RenderCli, WritesTheRequestedFormatAndLengthOrNothingWithNull) {
    ScratchDir dir;
    dir.write("p.json", R"({"sample_rate": 48000, "duration": 0.5,
                            "score": [{"start": 0.1, "length": 0.2, "pitch": "A3"}]})");
    const std::pair<const char *, int> formats[] = {{"float", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT},
                                                    {"16", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                                    {"24", SF_FORMAT_WAV | SF_FORMAT_PCM_24}};
    for (const auto &[format, fileFormat] : formats) {
        ToolRun run = runProgram(
            TOOL, {"--quiet", "--format", format, dir.path("p.json"), dir.path("o.wav")}, dir);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out + run.err, "") << "--quiet prints nothing";
        WavData wav = readWav(dir.path("o.wav"));
        EXPECT_EQ(wav.format, fileFormat) << format;
        EXPECT_EQ(wav.sampleRate, 48000);
        EXPECT_EQ(wav.left.size(), 24000u) << format;
    }
    ::unlink(dir.path("o.wav").c_str());
    ToolRun run = runProgram(TOOL, {"--null", dir.path("p.json")}, dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(dir.entries(), std::set<std::string>{"p.json"});
}

TEST(RenderCli, HelpAndTheDemoPatchArePrinted) {
    ScratchDir dir;
    ToolRun help = runProgram(TOOL, {"--help"}, dir);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("exit codes:"), std::string::npos);
    ToolRun demo = runProgram(TOOL, {"--print-demo"}, dir);
    EXPECT_EQ(demo.exitCode, 0);
    // What it prints is a patch the tool accepts.
    dir.write("demo.json", demo.out);
    ToolRun again = runProgram(TOOL, {"--null", "--quiet", dir.path("demo.json")}, dir);
    EXPECT_EQ(again.exitCode, 0) << again.err;
}

} // namespace
