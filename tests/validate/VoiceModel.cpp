// The validator's model of the voice table: the worked cases of the table's rules (retrigger
// of a listed voice, of the oldest one, generations of 24, a destruction ending a generation),
// and a long random stream of notes and alternation changes on which the model and the
// oscillator's own table must agree field by field.
#include "tools/validate/VoiceModel.h"

#include "oscillator/VoicePool.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<int16_t> recency(const VoiceModel &model, int32_t generation) {
    return model.generation(generation).recency;
}

TEST(VoiceModel, RetriggersEvictFirstAsTheTableRulesSay) {
    VoiceModel model;
    std::vector<VoiceModel::Voice> voices;
    for (int i = 0; i < 8; ++i) {
        voices.push_back(model.construct());
    }
    for (int16_t s : {5, 6, 7}) {
        model.noteOn(voices[size_t(s)], 3);
    }
    // A listed voice retriggered at the limit: the oldest goes first, 6 moves to the front.
    model.noteOn(voices[6], 3);
    EXPECT_EQ(recency(model, 0), (std::vector<int16_t>{6, 7}));
    EXPECT_TRUE(model.generation(0).released[5]);
    // The oldest retriggered at the limit: evicted, then listed again as the newest.
    model.noteOn(voices[5], 3);
    model.noteOn(voices[7], 3);
    model.noteOn(voices[6], 3);
    EXPECT_EQ(recency(model, 0), (std::vector<int16_t>{6, 7, 5}));
    model.noteOn(voices[5], 3);
    EXPECT_EQ(recency(model, 0), (std::vector<int16_t>{5, 6, 7}));
    EXPECT_FALSE(model.generation(0).released[5]);
    // Eight notes flipped the state eight times, back to where it started; one more flips it.
    EXPECT_EQ(model.generation(0).flip, 0);
    EXPECT_EQ(model.generation(0).sign, 1.0f);
    model.noteOn(voices[0], 3);
    EXPECT_EQ(model.generation(0).flip, 1);
    EXPECT_EQ(model.generation(0).sign, -1.0f);
}

TEST(VoiceModel, GenerationsEndAtTwentyFourAndAtAnyDestruction) {
    VoiceModel model;
    std::vector<VoiceModel::Voice> voices;
    for (int i = 0; i < 25; ++i) {
        voices.push_back(model.construct());
    }
    EXPECT_EQ(voices[23].generation, 0);
    EXPECT_EQ(voices[23].slot, 23);
    EXPECT_EQ(voices[24].generation, 1);
    EXPECT_EQ(voices[24].slot, 0);
    const VoiceModel::Voice next = model.construct();
    EXPECT_EQ(next.slot, 1);
    model.destroy(voices[3]);
    const VoiceModel::Voice after = model.construct();
    EXPECT_EQ(after.generation, 2);
    EXPECT_EQ(after.slot, 0);
}

TEST(VoiceModel, AgreesWithTheOscillatorsTableOnARandomStream) {
    std::mt19937 rng(11);
    VoiceModel model;
    std::vector<VoiceModel::Voice> voices;
    for (int i = 0; i < 24; ++i) {
        voices.push_back(model.construct());
    }
    VoicePool pool(44100.0f);
    char why[160];
    for (int step = 0; step < 20000; ++step) {
        const VoiceModel::Voice &voice = voices[rng() % voices.size()];
        if (rng() % 8 == 0) {
            const int16_t mode = static_cast<int16_t>(rng() % 6);
            model.setAlternateMode(voice, mode);
            setAlternateMode(&pool, mode);
        } else {
            const int16_t limit = static_cast<int16_t>(1 + rng() % 16);
            model.noteOn(voice, limit);
            noteOn(&pool, voice.slot, limit);
        }
        ASSERT_TRUE(model.matches(0, pool, why, sizeof why)) << "step " << step << ": " << why;
    }
}

} // namespace
