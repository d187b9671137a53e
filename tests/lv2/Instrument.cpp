// The LV2 instrument through liblilv, as a host drives it: pitches measured from the output's
// spectrum (or its zero crossings, for a lone sine), note timing to the sample, stealing,
// sustain, bend, two instances side by side, and malformed input.
#include "lv2/Lv2Rig.h"

#include "tools/validate/pitch_estimate.h"

#include <gtest/gtest.h>
#include <lv2/atom/atom.h>

#include <cmath>
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
    EXPECT_GT(levelDbNear(rig.right, 8192, RATE, 220.0, 2.0), -30.0);
    EXPECT_LT(levelDbNear(rig.left, 8192, RATE, 330.0, 20.0), -60.0) << "no partial between";
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
