// tarn-render --midi: Standard MIDI Files assembled here byte by byte, so that every note's
// time, key and velocity is known, rendered and measured from the WAV; and each kind of
// malformed file refused with its message.
#include "support/tool_process.h"
#include "tools/render/spectrum.h"
#include "tools/validate/pitch_estimate.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace tarn::test;
using namespace tarn::render;
using namespace std::string_literals;

namespace {

const std::string TOOL = TARN_RENDER_PATH;
constexpr double RATE = 44100.0;

using Bytes = std::string;

Bytes be(uint32_t x, int count) {
    Bytes b;
    for (int i = count - 1; i >= 0; --i)
        b += static_cast<char>((x >> (8 * i)) & 0xFF);
    return b;
}

// A variable-length quantity, as SMF delta times are written.
Bytes vlq(uint32_t x) {
    Bytes b(1, static_cast<char>(x & 0x7F));
    while (x >>= 7)
        b.insert(b.begin(), static_cast<char>(0x80 | (x & 0x7F)));
    return b;
}

Bytes header(int format, int tracks, int division = 480) {
    return "MThd" + be(6, 4) + be(format, 2) + be(tracks, 2) + be(division, 2);
}

Bytes track(const Bytes &events) {
    Bytes body = events + vlq(0) + "\xFF\x2F" + Bytes(1, '\0'); // end of track
    return "MTrk" + be(static_cast<uint32_t>(body.size()), 4) + body;
}

Bytes event(uint32_t delta, std::initializer_list<int> bytes) {
    Bytes b = vlq(delta);
    for (int x : bytes)
        b += static_cast<char>(x);
    return b;
}

Bytes tempo(uint32_t delta, uint32_t microsecondsPerQuarter) {
    return vlq(delta) + "\xFF\x51\x03" + be(microsecondsPerQuarter, 3);
}

// Format 1 at 480 ticks per quarter: 120 bpm, then 240 bpm from tick 960 (1 s) on.
// Track 2, channel 1: key 60 at 0 s (velocity 100) to 0.5 s (note-off); key 64 at 1 s
// (velocity 50) to 1.25 s, ended by a note-on of velocity 0 written in running status.
// Track 3: channel 2, key 67 at 1.5 s (velocity 127) to 1.75 s; channel 10, key 72 at 2 s
// to 2.25 s.
Bytes song() {
    return header(1, 3) + track(tempo(0, 500000) + tempo(960, 250000)) +
           track(event(0, {0x90, 60, 100}) + event(480, {0x80, 60, 0}) +
                 event(480, {0x90, 64, 50}) + event(480, {64, 0})) +
           track(event(1920, {0x91, 67, 127}) + event(480, {0x81, 67, 64}) +
                 event(480, {0x99, 72, 90}) + event(480, {0x89, 72, 0}));
}

struct Expected {
    double start, end, hz, velocity;
};

const Expected NOTES[] = {{0.0, 0.5, 261.6256, 100},
                          {1.0, 1.25, 329.6276, 50},
                          {1.5, 1.75, 391.9954, 127},
                          {2.0, 2.25, 523.2511, 90}};

WavData renderSong(const ScratchDir &dir, const std::vector<std::string> &extra) {
    dir.write("song.mid", song());
    dir.write("p.json", R"({"settings": {"alternate": "L+R"},
                            "defaults": {"N": 0, "combfreq": 0, "combphase": 0.25}})");
    std::vector<std::string> args = {"--quiet", dir.path("p.json"), "--midi", dir.path("song.mid")};
    args.insert(args.end(), extra.begin(), extra.end());
    ToolRun run = runProgram(TOOL, args, dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return readWav(dir.path("song.wav"));
}

TEST(RenderMidi, PlaysTheNotesOfTheFileAtTheirTimesPitchesAndVelocities) {
    ScratchDir dir;
    WavData wav = renderSong(dir, {});
    ASSERT_EQ(wav.left.size(), size_t((2.25 + 0.25) * RATE + 0.5));
    // One partial: 0.75 cos(pi / 4) sin(2 pi f t) at full velocity.
    const double full = 0.75 * std::cos(M_PI / 4);
    for (const Expected &note : NOTES) {
        SCOPED_TRACE(note.hz);
        const size_t from = note.start == 0.0 ? 0 : size_t(note.start * RATE) - 2000;
        const size_t to = size_t(note.end * RATE) + 2000;
        size_t first = SIZE_MAX, last = 0;
        double peak = 0.0;
        for (size_t i = from; i < to; ++i)
            if (wav.left[i] != 0.0f) {
                first = std::min(first, i);
                last = i;
                peak = std::max(peak, double(std::fabs(wav.left[i])));
            }
        EXPECT_NEAR(double(first), note.start * RATE, 2.0);
        EXPECT_NEAR(double(last), note.end * RATE, 2.0);
        EXPECT_NEAR(peak / full, note.velocity / 127.0, 1e-3);
        const size_t FFT = 8192;
        auto db = spectrumDb(wav.left, size_t((note.start + note.end) / 2 * RATE) - FFT / 2, FFT);
        size_t bin = size_t(std::max_element(db.begin(), db.end()) - db.begin());
        EXPECT_NEAR(interpolatedPeakHz(db, bin, RATE / FFT) / note.hz, 1.0, 0.001);
    }
    // --channel 1,2 leaves out the note on channel 10; a patch's own score is not played.
    dir.write("q.json", R"({"score": [{"start": 0, "length": 9, "pitch": "A4"}]})");
    ToolRun run = runProgram(
        TOOL, {"--null", dir.path("q.json"), "--midi", dir.path("song.mid"), "--channel", "1"},
        dir);
    EXPECT_NE(run.out.find("rendered 1.5 s"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("q.json: the \"score\" is not played"), std::string::npos) << run.err;
    WavData chosen = renderSong(dir, {"--channel", "1,2"});
    ASSERT_EQ(chosen.left.size(), size_t((1.75 + 0.25) * RATE + 0.5));
}

// Format 0 at 480 ticks per quarter, 120 bpm, channel 1, as the LV2 instrument's tests play it:
// the pedal down at 0 s over keys 60 (0 to 0.25 s) and 64 (0.25 to 0.5 s), lifted at 1 s; A4
// from 1.5 to 2.5 s, the wheel full up at 2 s; controllers reset at 2.75 s; C5 at 3 s cut by
// CC120 at 3.25 s. Among them two program changes, controller 7 and a channel aftertouch.
Bytes performance() {
    return header(0, 1) +
           track(event(0, {0xB0, 64, 127}) + event(0, {0x90, 60, 100}) + event(240, {0x80, 60, 0}) +
                 event(0, {0x90, 64, 100}) + event(240, {0x80, 64, 0}) + event(480, {0xB0, 64, 0}) +
                 event(480, {0x90, 69, 100}) + event(0, {0xC0, 5}) +
                 event(480, {0xE0, 0x7F, 0x7F}) + event(0, {0xB0, 7, 100}) +
                 event(480, {0x80, 69, 0}) + event(0, {0xC0, 6}) + event(0, {0xD0, 40}) +
                 event(240, {0xB0, 121, 0}) + event(240, {0x90, 72, 100}) +
                 event(240, {0xB0, 120, 0}) + event(480, {0xFF, 0x01, 0}));
}

double rms(const std::vector<float> &x, double fromSeconds, double toSeconds) {
    double sum = 0.0;
    const size_t from = size_t(fromSeconds * RATE), to = size_t(toSeconds * RATE);
    for (size_t i = from; i < to; ++i)
        sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(to - from));
}

// Last sample that is not 0 before `beforeSeconds`.
double lastSoundSample(const std::vector<float> &x, double beforeSeconds) {
    size_t i = size_t(beforeSeconds * RATE);
    while (i > 0 && x[i - 1] == 0.0f)
        --i;
    return double(i) - 1.0;
}

double hzBetween(const std::vector<float> &x, double fromSeconds, double toSeconds) {
    const size_t from = size_t(fromSeconds * RATE), to = size_t(toSeconds * RATE);
    return crossingFrequency(x.data() + from, to - from) * RATE;
}

TEST(RenderMidi, PlaysThePedalTheWheelAndTheChannelModeMessagesAsTheInstrumentDoes) {
    ScratchDir dir;
    dir.write("song.mid", performance());
    const std::string patch = R"({"settings": {"alternate": "L+R"}, "defaults": {"N": 0,
        "combfreq": 0, "combphase": 0.25, "envelope": {"release_ms": 50} BEND}})";
    auto render = [&](const std::string &bend) {
        std::string text = patch;
        text.replace(text.find("BEND"), 4, bend);
        dir.write("p.json", text);
        ToolRun run = runProgram(TOOL, {dir.path("p.json"), "--midi", dir.path("song.mid")}, dir);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return std::make_pair(run, readWav(dir.path("song.wav")));
    };
    auto [run, wav] = render("");
    EXPECT_EQ(wav.left.size(), size_t((3.25 + 0.25) * RATE + 0.5));
    ASSERT_GE(wav.left.size(), size_t(3.4 * RATE));
    const double g = 0.75 * std::cos(M_PI / 4) * 100.0 / 127.0; // one note's amplitude
    // Both keys are let go by 0.5 s, and both sound on, at full level, until the pedal lifts at
    // 1 s; then their 50 ms release.
    EXPECT_NEAR(rms(wav.left, 0.1, 0.2) / g, std::sqrt(0.5), 0.01);
    EXPECT_NEAR(rms(wav.left, 0.6, 0.95) / g, 1.0, 0.02) << "two notes under the pedal";
    EXPECT_NEAR(lastSoundSample(wav.left, 1.4), (1.0 + 0.05) * RATE, 2.0);
    // The wheel full up at 2 s bends A4 by the default range of 2 semitones, to B4.
    EXPECT_NEAR(hzBetween(wav.left, 1.55, 1.99), 440.0, 0.05);
    EXPECT_NEAR(hzBetween(wav.left, 2.01, 2.5), 493.883, 0.05);
    // CC121 has centred the wheel: C5 at its own pitch, cut by CC120 without its release.
    EXPECT_NEAR(hzBetween(wav.left, 3.01, 3.24), 523.251, 0.05);
    EXPECT_NEAR(lastSoundSample(wav.left, 3.4), 3.25 * RATE - 1.0, 2.0);
    // Every other kind of event is named once, with its count.
    const std::string file = dir.path("song.mid") + ": dropped ";
    for (const char *line : {"2 program change events (not played)",
                             "1 control change event (controller 7; not played)",
                             "1 channel aftertouch event (not played)"})
        EXPECT_NE(run.err.find("tarn-render: " + file + line + "\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("dropped", run.err.find("aftertouch")), std::string::npos) << run.err;
    // The patch's "bend_range" sets the wheel's reach: an octave up.
    auto [octaveRun, octave] = render(R"(, "bend_range": 12)");
    ASSERT_GE(octave.left.size(), size_t(2.5 * RATE));
    EXPECT_NEAR(hzBetween(octave.left, 2.01, 2.5), 880.0, 0.1);
    // Without a MIDI file it has nothing to bend, and says so.
    dir.write("q.json", R"({"defaults": {"bend_range": 12},
                            "score": [{"start": 0, "length": 0.1, "pitch": "A4"}]})");
    ToolRun idle = runProgram(TOOL, {"--null", dir.path("q.json")}, dir);
    EXPECT_EQ(idle.exitCode, 0) << idle.err;
    EXPECT_NE(idle.err.find("q.json: \"bend_range\" does nothing without --midi"),
              std::string::npos)
        << idle.err;
}

struct BadMidi {
    const char *name;
    Bytes bytes;
    std::vector<std::string> options;
    const char *error; // after "m.mid: "
};

class RenderMidiErrors : public testing::TestWithParam<BadMidi> {};

TEST_P(RenderMidiErrors, AreRefusedWithWhereAndWhatWasExpected) {
    const BadMidi &c = GetParam();
    ScratchDir dir;
    dir.write("m.mid", c.bytes);
    std::vector<std::string> args = {"--midi", dir.path("m.mid"), "-o", dir.path("o.wav")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ToolRun run = runProgram(TOOL, args, dir);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find(dir.path("m.mid") + ": " + c.error), std::string::npos) << run.err;
    EXPECT_EQ(dir.entries(), std::set<std::string>{"m.mid"});
}

const Bytes NOTE = track(event(0, {0x90, 60, 100}) + event(480, {0x80, 60, 0}));

const BadMidi BAD_MIDI[] = {
    {"NotMidi", "{\"score\": []}", {}, "byte 0: expected the \"MThd\" header"},
    {"ShortHeader", "MThd" + be(6, 4) + be(0, 2), {}, "byte 0: expected the \"MThd\" header"},
    {"HeaderLength",
     "MThd" + be(7, 4) + be(0, 2) + be(1, 2) + be(480, 2) + "\0"s + NOTE,
     {},
     "byte 4: expected a header length of 6, got 7"},
    {"Format2", header(2, 1) + NOTE, {}, "byte 8: expected format 0 or 1, got 2"},
    {"Smpte", header(0, 1, 0xE728) + NOTE, {}, "byte 12: expected a division in ticks per"},
    {"DivisionZero",
     header(0, 1, 0) + NOTE,
     {},
     "byte 12: expected a division of 1 or more ticks per quarter note, got 0"},
    {"TempoZero",
     header(0, 1) + track(tempo(0, 0) + event(0, {0x90, 60, 100}) + event(480, {0x80, 60, 0})),
     {},
     "byte 23: track 1: expected a tempo of 1 or more microseconds per quarter note, got 0"},
    {"TempoOfOneByte",
     header(1, 2) + NOTE + track(event(0, {0xFF, 0x51, 0x01, 0x10})),
     {},
     "byte 44: track 2: expected a tempo of 3 bytes, got 1"},
    {"TracksTimesEventsBeyondWhatLibsmfReadsInASecond",
     header(1, 9000) + NOTE +
         [] {
             Bytes empty;
             for (int t = 1; t < 9000; ++t)
                 empty += track("");
             return empty;
         }(),
     {},
     "byte 10: expected tracks times events of at most 67108864, got 9000 tracks of 9002 events"},
    {"MissingTrack",
     header(1, 2) + NOTE,
     {},
     "byte 35: track 2: expected an \"MTrk\" chunk, got the end of the file"},
    {"WrongChunk",
     header(0, 1) + "MTrx" + NOTE.substr(4),
     {},
     "byte 14: track 1: expected an \"MTrk\" chunk, got \"MTrx\""},
    {"TruncatedTrack",
     header(0, 1) + NOTE.substr(0, NOTE.size() - 3),
     {},
     "byte 14: track 1: expected 13 bytes of events, got 10"},
    {"NoEndOfTrack",
     header(0, 1) + "MTrk" + be(9, 4) + event(0, {0x90, 60, 100}) + event(480, {0x80, 60, 0}),
     {},
     "byte 14: track 1: libsmf stopped on it; expected events that end with an End of Track"},
    {"DataWithoutStatus",
     header(1, 2) + NOTE + track(event(0, {0x40, 0x40})),
     {},
     "byte 35: track 2: bad status byte (MSB is zero)"},
    {"NoNoteOnTheChannels",
     header(0, 1) + NOTE,
     {"--channel", "3,4"},
     "expected notes on channels 3 and 4, found none"},
};

INSTANTIATE_TEST_SUITE_P(Cases, RenderMidiErrors, testing::ValuesIn(BAD_MIDI),
                         [](const testing::TestParamInfo<BadMidi> &param) {
                             return std::string(param.param.name);
                         });

} // namespace
