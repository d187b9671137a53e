// Note names against the MIDI numbering, and the pitch a note's "fc" value makes the module
// play, computed independently from 440 * 2^(10 fc - 5) in long double.
#include "tools/render/model/pitch.h"

#include "tools/render/model/pin_units.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace tarn::render;

namespace {

TEST(Pitch, NoteNamesFollowScientificPitchWithEnharmonics) {
    const std::pair<const char *, int> names[] = {
        {"A4", 69},  {"a4", 69}, {"C4", 60},  {"C#4", 61}, {"Db4", 61},  {"B#3", 60},
        {"Cb4", 59}, {"C-1", 0}, {"G9", 127}, {"E2", 40},  {"Bb-1", 10}, {"f#7", 102},
    };
    for (const auto &[name, midi] : names) {
        auto parsed = midiFromNoteName(name);
        ASSERT_TRUE(parsed.has_value()) << name;
        EXPECT_EQ(*parsed, midi) << name;
    }
    for (const char *bad : {"", "H4", "A", "A#", "A10", "C##4", "A-2", "G#9", "Cb-1", "A4 "})
        EXPECT_FALSE(midiFromNoteName(bad).has_value()) << bad;
}

TEST(Pitch, MidiAndVoltsAgreeWithEqualTemperament) {
    EXPECT_DOUBLE_EQ(hzFromMidi(69), 440.0);
    EXPECT_DOUBLE_EQ(hzFromMidi(57), 220.0);
    EXPECT_NEAR(hzFromMidi(60), 261.6255653005986, 1e-9);
    EXPECT_DOUBLE_EQ(hzFromVolts(5.0), 440.0);
    EXPECT_DOUBLE_EQ(hzFromVolts(6.0), 880.0);
    EXPECT_DOUBLE_EQ(voltsFromHz(110.0), 3.0);
}

TEST(Pitch, PlayedPitchOfTheFcValueIsTheRequestedOneWithinAPartPerMillion) {
    // 5 V plays A4 exactly: fc 0.5 is exact in single precision.
    EXPECT_EQ(hzPlayedForFc(fcFromVolts(5.0)), 440.0f);
    for (double hz = 8.0; hz < 24000.0; hz *= 1.0137) {
        float fc = fcFromVolts(voltsFromHz(hz));
        long double truth = 440.0L * std::pow(2.0L, 10.0L * fc - 5.0L);
        EXPECT_NEAR(static_cast<double>(truth / hz), 1.0, 1e-6) << hz << " Hz";
        EXPECT_NEAR(hzPlayedForFc(fc) / truth, 1.0L, 1e-7L) << hz << " Hz";
    }
}

TEST(PinUnits, EveryWholePartialCountSurvivesTheModulesRounding) {
    // The module takes nearest(10.0 * N) in double from the single-precision pin.
    for (int count = 0; count <= 10000; ++count) {
        double widened = 10.0 * static_cast<double>(nPinFromCount(count));
        ASSERT_EQ(std::nearbyint(widened), count) << widened;
    }
}

} // namespace
