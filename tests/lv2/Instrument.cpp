// The LV2 instrument through liblilv, as a host drives it: pitches measured from the output's
// spectrum (or its zero crossings, for a lone sine), note timing to the sample, stealing,
// sustain, bend, two instances side by side, and malformed input.
#include "lv2/Lv2Rig.h"

#include "tools/validate/pitch_estimate.h"

#include <gtest/gtest.h>
#include <lv2/atom/atom.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double RATE = 48000.0;

double hzOfKey(int key) {
    return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

bool silent(const std::vector<float> &x, size_t from, size_t to) {
    for (size_t i = from; i < to && i < x.size(); ++i)
        if (x[i] != 0.0f)
            return false;
    return true;
}

double rms(const std::vector<float> &x, size_t from, size_t to) {
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(to - from));
}

double measuredHz(const std::vector<float> &x, size_t from, size_t count) {
    return crossingFrequency(x.data() + from, count) * RATE;
}

class Lv2Instrument : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rig.ok()) << "the bundle did not load or instantiate"; }
    Lv2Rig rig{RATE};
};

TEST_F(Lv2Instrument, DefaultsPlayAHarmonicToneAtTheNotesPitchOnBothOutputs) {
    rig.midi(0, {0x90, 57, 100}); // A3, 220 Hz
    rig.runFor(48000);
    const double f0 = peakHz(rig.left, 8192, RATE, 50.0, 300.0);
    EXPECT_NEAR(f0, 220.0, 0.2);
    // Partials at whole multiples of the pitch, on both outputs alike.
    for (int k = 2; k <= 5; ++k) {
        EXPECT_NEAR(peakHz(rig.left, 8192, RATE, (k - 0.5) * 220.0, (k + 0.5) * 220.0), k * 220.0,
                    0.3 * k);
        EXPECT_NEAR(peakHz(rig.right, 8192, RATE, (k - 0.5) * 220.0, (k + 0.5) * 220.0), k * 220.0,
                    0.3 * k);
    }
    EXPECT_GT(levelDbNear(rig.right, 8192, RATE, 220.0, 2.0), -48.0); // -30 at a level of 0 dB
    EXPECT_LT(levelDbNear(rig.left, 8192, RATE, 330.0, 20.0), -78.0) << "no partial between";
}

TEST_F(Lv2Instrument, ChordSoundsItsThreeFundamentals) {
    rig.control("partials") = 0; // carriers alone
    for (int key : {60, 64, 67})
        rig.midi(10, {0x90, uint8_t(key), 90});
    rig.runFor(48000);
    for (int key : {60, 64, 67}) {
        const double f = hzOfKey(key);
        EXPECT_NEAR(peakHz(rig.left, 8192, RATE, f - 10.0, f + 10.0), f, 0.2) << key;
        EXPECT_GT(levelDbNear(rig.left, 8192, RATE, f, 2.0), -30.0) << key;
    }
}

TEST_F(Lv2Instrument, NoteSoundsFromItsFrameWithItsVelocityAndStopsAfterItsRelease) {
    rig.run(256);
    rig.midi(77, {0x90, 69, 127});
    rig.run(1000); // the note at sample 256 + 77 = 333
    EXPECT_TRUE(silent(rig.left, 0, 333));
    EXPECT_TRUE(silent(rig.right, 0, 333));
    EXPECT_FALSE(silent(rig.left, 333, 336)) << "sound from the note's own frame";
    rig.runFor(4000);
    const double loud = rms(rig.left, 2000, 5000);
    rig.midi(5, {0x80, 69, 0});
    rig.run(512); // note off at 5256 + 5; the 50 ms release ends 2400 samples later
    rig.runFor(8000);
    const size_t off = 5261, end = off + 2400;
    EXPECT_FALSE(silent(rig.left, end - 200, end - 1)) << "still releasing";
    EXPECT_TRUE(silent(rig.left, end, rig.left.size()));
    EXPECT_TRUE(silent(rig.right, end, rig.right.size()));
    // Velocity 32 against 127: the gain 32 / 127.
    Lv2Rig quiet(RATE);
    quiet.midi(0, {0x90, 69, 32});
    quiet.runFor(5000);
    EXPECT_NEAR(rms(quiet.left, 2000, 5000) / loud, 32.0 / 127.0, 0.002);
    // Velocity 0 is a note-off.
    quiet.midi(0, {0x90, 69, 0});
    quiet.runFor(6000);
    EXPECT_TRUE(silent(quiet.left, 5000 + 2400, quiet.left.size()));
}

TEST_F(Lv2Instrument, TwentyFifthNoteStealsTheOldestVoice) {
    rig.control("partials") = 0;
    for (int i = 0; i < 25; ++i)
        rig.midi(uint32_t(i), {0x90, uint8_t(50 + 2 * i), 100});
    rig.runFor(48000);
    // Sounding after the 50 ms fades: the 16 newest ("poly" 16), the 25th among them; the
    // oldest note lost its voice to the 25th, the next eight were faded out by "poly".
    for (int i = 0; i < 25; ++i) {
        const double level = levelDbNear(rig.left, 16384, RATE, hzOfKey(50 + 2 * i), 2.0);
        if (i >= 9)
            EXPECT_GT(level, -30.0) << "note " << i;
        else
            EXPECT_LT(level, -60.0) << "note " << i;
    }
}

TEST_F(Lv2Instrument, SustainHoldsReleasedNotesUntilThePedalLifts) {
    rig.midi(0, {0xB0, 64, 127});
    rig.midi(0, {0x90, 60, 100});
    rig.midi(1000, {0x80, 60, 0});
    rig.runFor(12000);
    EXPECT_GT(rms(rig.left, 10000, 12000), 0.01) << "held by the pedal";
    rig.midi(0, {0xB0, 64, 0});
    rig.runFor(6000);
    EXPECT_TRUE(silent(rig.left, 12000 + 2400, rig.left.size()));
    // CC121 lifts the pedal too; CC123 ends notes under it; CC120 cuts at once.
    rig.midi(0, {0xB0, 64, 127});
    rig.midi(0, {0x90, 62, 100});
    rig.midi(100, {0x80, 62, 0});
    rig.midi(200, {0xB0, 123, 0});
    rig.midi(200, {0x90, 64, 100});
    rig.midi(400, {0xB0, 120, 0});
    const size_t at = rig.left.size();
    rig.runFor(6000);
    EXPECT_FALSE(silent(rig.left, at, at + 400));
    EXPECT_TRUE(silent(rig.left, at + 400, rig.left.size()));
}

TEST_F(Lv2Instrument, PitchBendMovesThePitchByItsRange) {
    rig.control("partials") = 0;
    rig.midi(0, {0x90, 69, 100});
    rig.midi(0, {0xE0, 0x7F, 0x7F}); // full up, range 2: B4
    rig.runFor(16384);
    EXPECT_NEAR(measuredHz(rig.left, 4096, 8192), hzOfKey(71), 0.05);
    rig.control("bend_range") = 12;
    rig.midi(0, {0xE0, 0x00, 0x00}); // full down an octave: A3
    rig.runFor(16384);
    EXPECT_NEAR(measuredHz(rig.left, 16384 + 4096, 8192), 220.0, 0.05);
    rig.midi(0, {0xB0, 121, 0}); // controllers reset: the note's own pitch
    rig.runFor(16384);
    EXPECT_NEAR(measuredHz(rig.left, 32768 + 4096, 8192), 440.0, 0.05);
}

TEST_F(Lv2Instrument, TwoInstancesKeepTheirOwnVoicesAndAlternation) {
    // With no comb the second signal is 0: the silent output shows whether a note was swapped.
    Lv2Rig other(RATE);
    for (Lv2Rig *r : {&rig, &other}) {
        r->control("partials") = 0;
        r->control("comb_phase") = 0;
        r->control("poly") = 1;
        r->control("alternate") = 1; // L+R alt: the first note of a table is swapped
        r->control("level") = 0.0f;
    }
    rig.midi(0, {0x90, 60, 100});
    rig.runFor(4800);
    other.midi(0, {0x90, 67, 100});
    other.runFor(4800);
    rig.runFor(9600);
    EXPECT_TRUE(silent(rig.left, 0, rig.left.size()));
    EXPECT_TRUE(silent(other.left, 0, other.left.size()));
    // Had the instances shared a table, poly 1 would have faded the first note out.
    EXPECT_GT(levelDbNear(rig.right, 4800, RATE, hzOfKey(60), 2.0), -30.0);
    // The second note of the first instance is its own table's second: not swapped.
    rig.midi(0, {0x90, 64, 100});
    const size_t at = rig.left.size();
    rig.runFor(4800);
    EXPECT_FALSE(silent(rig.left, at, rig.left.size()));
}

TEST_F(Lv2Instrument, MalformedInputIsIgnored) {
    const LV2_URID otherType = rig.map(LV2_ATOM__Float);
    const float number = 1.0f;
    rig.midi(0, {0xF4});             // undefined system status
    rig.midi(0, {0xA0, 60, 10});     // polyphonic pressure: not used
    rig.midi(0, {0x45, 60});         // no status byte
    rig.midi(0, {0x90});             // truncated note-on
    rig.midi(0, {0x90, 60});         // truncated note-on
    rig.midi(0, {0x90, 0x80, 0x40}); // data byte with its top bit set
    rig.midi(0, {});                 // empty
    rig.event(0, otherType, &number, sizeof number);
    rig.run(256);
    rig.midi(0, {0x90, 60, 100}); // its body reaches past the sequence's declared end
    rig.cutSequenceEnd(6);
    rig.runFor(4800);
    EXPECT_TRUE(silent(rig.left, 0, rig.left.size()));
    rig.run(0);
    // Out of range and NaN: clamped, or the default.
    rig.control("spacing") = 1e30f;
    rig.control("partials") = -5.0f;
    rig.control("ratio") = std::nanf("");
    rig.control("mode") = 7.0f;
    rig.control("poly") = -3.0f;
    rig.control("alternate") = 99.0f;
    rig.control("attack") = std::nanf("");
    rig.control("release") = -1e9f;
    rig.control("channel") = 40.0f;
    rig.control("bend_range") = std::nanf("");
    rig.midi(7, {0x9F, 69, 100}); // channel 16, which the clamped channel selects
    rig.runFor(9600);
    for (float v : rig.left)
        ASSERT_TRUE(std::isfinite(v));
    // A note after all that still plays its pitch (spacing 10: partials 10 pitches apart).
    EXPECT_NEAR(peakHz(rig.left, 4800, RATE, 300.0, 600.0), 440.0, 0.3);
    // A channel that is not the selected one plays nothing.
    rig.midi(0, {0xBF, 120, 0});
    rig.midi(10, {0x90, 72, 100});
    const size_t at = rig.left.size();
    rig.runFor(4800);
    EXPECT_TRUE(silent(rig.left, at + 10, rig.left.size()));
}

} // namespace

namespace {

double peak(const Lv2Rig &r) {
    double p = 0.0;
    for (size_t i = 0; i < r.left.size(); ++i)
        p = std::max({p, double(std::fabs(r.left[i])), double(std::fabs(r.right[i]))});
    return p;
}

// Silent runs that let the controls loaded settle (a run ramps to them), then a chord.
void playChordAfterSettling(Lv2Rig &r) {
    r.runFor(1024);
    for (int key : {57, 64, 69})
        r.midi(0, {0x90, uint8_t(key), 100});
    r.midi(3000, {0x80, 64, 0});
    r.runFor(7200);
}

} // namespace

TEST(Lv2Presets, EachPresetSoundsTheSameWhateverWasLoadedBefore) {
    const std::vector<std::string> presets = Lv2Rig(RATE).presets();
    ASSERT_EQ(presets.size(), 6u);
    for (const std::string &p : presets) {
        Lv2Rig alone(RATE);
        alone.loadPreset(p);
        alone.runFor(512);
        playChordAfterSettling(alone);
        ASSERT_GT(rms(alone.left, 1024, 4000) + rms(alone.right, 1024, 4000), 1e-3) << p;
        for (const std::string &before : presets) {
            if (before == p)
                continue;
            Lv2Rig after(RATE);
            after.loadPreset(before);
            after.runFor(512);
            after.loadPreset(p);
            playChordAfterSettling(after);
            double diff = 0.0;
            for (size_t i = 0; i < alone.left.size(); ++i)
                diff = std::max({diff, double(std::fabs(after.left[i] - alone.left[i])),
                                 double(std::fabs(after.right[i] - alone.right[i]))});
            EXPECT_EQ(diff, 0.0) << p << " after " << before;
        }
    }
}

TEST(Lv2Level, FullChordsAtTheDefaultLevelStayBelowFullScale) {
    // Keys 112-127 are the loudest 16 (their few partials sum highest); 48-63 a middle chord.
    for (int lowest : {112, 48}) {
        Lv2Rig r(RATE);
        for (int k = 0; k < 16; ++k)
            r.midi(0, {0x90, uint8_t(lowest + k), 127});
        r.runFor(48000);
        EXPECT_LT(peak(r), 1.0) << "chord from key " << lowest;
    }
}

TEST(Lv2Level, LevelScalesBothOutputsAndMovesLinearlyAcrossARun) {
    // The output against a 0 dB twin: the gain at each sample, from -60 dB to +12 dB in one
    // 512-sample run (two module blocks), reached at the run's last sample.
    Lv2Rig ref(RATE), r(RATE);
    ref.control("level") = 0.0f;
    r.control("level") = -60.0f;
    for (Lv2Rig *x : {&ref, &r}) {
        x->midi(0, {0x90, 69, 127});
        x->runFor(2048);
    }
    r.control("level") = 12.0f;
    for (Lv2Rig *x : {&ref, &r})
        x->runFor(1024, 512);
    const double g0 = std::pow(10.0, -60.0 / 20.0), g1 = std::pow(10.0, 12.0 / 20.0);
    for (size_t i = 256; i < r.left.size(); ++i) {
        const double g = i < 2048 ? g0 : i < 2560 ? g0 + (g1 - g0) * double(i - 2047) / 512.0 : g1;
        ASSERT_NEAR(r.left[i], g * ref.left[i], 1e-6 + 1e-5 * std::fabs(ref.left[i])) << i;
        ASSERT_NEAR(r.right[i], g * ref.right[i], 1e-6 + 1e-5 * std::fabs(ref.right[i])) << i;
    }
    EXPECT_GT(rms(ref.left, 2048, 3072), 0.05);
}

TEST(Lv2Description, FollowsTheHostConventions) {
    Lv2Rig rig(RATE);
    ASSERT_TRUE(rig.ok());
    LilvWorld *w = rig.world();
    const LilvPlugin *plugin = rig.plugin();
    auto uri = [w](const char *u) { return lilv_new_uri(w, u); };
    const std::string lv2 = "http://lv2plug.in/ns/lv2core#";
    const std::string pg = "http://lv2plug.in/ns/ext/port-groups#";
    // The version a host compares two installed copies by: the project's.
    for (auto [predicate, want] : {std::pair{"minorVersion", TARN_VERSION_MINOR},
                                   std::pair{"microVersion", TARN_VERSION_PATCH}}) {
        LilvNode *p = uri((lv2 + predicate).c_str());
        LilvNode *v = lilv_world_get(w, lilv_plugin_get_uri(plugin), p, nullptr);
        ASSERT_NE(v, nullptr) << predicate;
        EXPECT_EQ(lilv_node_as_int(v), want) << predicate;
        lilv_node_free(v);
        lilv_node_free(p);
    }
    LilvNode *logarithmic = uri("http://lv2plug.in/ns/ext/port-props#logarithmic");
    LilvNode *group = uri((pg + "group").c_str());
    LilvNode *designation = uri((lv2 + "designation").c_str());
    LilvNode *stereo = uri((pg + "StereoGroup").c_str());
    LilvNode *rdfType = uri("http://www.w3.org/1999/02/22-rdf-syntax-ns#type");
    std::vector<std::string> logPorts, roles;
    std::vector<std::string> groups;
    for (uint32_t i = 0; i < lilv_plugin_get_num_ports(plugin); ++i) {
        const LilvPort *port = lilv_plugin_get_port_by_index(plugin, i);
        const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
        LilvNode *name = lilv_port_get_name(plugin, port);
        const std::string n = lilv_node_as_string(name);
        lilv_node_free(name);
        // A human name: capitalised, and not the symbol.
        EXPECT_TRUE(n != symbol && std::isupper(static_cast<unsigned char>(n[0]))) << n;
        if (lilv_port_has_property(plugin, port, logarithmic)) {
            logPorts.push_back(symbol);
            float def, min, max;
            rig.range(symbol.c_str(), def, min, max);
            EXPECT_GT(min, 0.0f) << symbol;
        }
        LilvNode *g = lilv_port_get(plugin, port, group);
        if (g != nullptr) {
            groups.push_back(lilv_node_as_uri(g));
            EXPECT_TRUE(lilv_world_ask(w, g, rdfType, stereo)) << symbol;
            LilvNode *d = lilv_port_get(plugin, port, designation);
            roles.push_back(symbol + " " + (d ? lilv_node_as_uri(d) : "none"));
            lilv_node_free(d);
            lilv_node_free(g);
        }
    }
    EXPECT_EQ(logPorts, (std::vector<std::string>{"attack", "release"}));
    EXPECT_EQ(roles,
              (std::vector<std::string>{"outputl " + pg + "left", "outputr " + pg + "right"}));
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0], groups[1]);
    for (LilvNode *n : {logarithmic, group, designation, stereo, rdfType})
        lilv_node_free(n);
}
