// The validator's model of the voice table: the worked cases of the table's rules (retrigger
// of a listed voice, of the oldest one, generations of 24, a destruction ending a generation),
// and a long random stream of notes and alternation changes on which the model and the
// oscillator's own table must agree field by field.
#include "tools/validate/shared/VoiceModel.h"

#include "oscillator/module/VoicePool.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <utility>
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

TEST(VoiceModel, ALoweredLimitEvictsTheOldestFirstDownToTheNewNote) {
    VoiceModel model;
    std::vector<VoiceModel::Voice> voices;
    for (int i = 0; i < 8; ++i) {
        voices.push_back(model.construct());
    }
    for (int s = 0; s < 5; ++s) {
        model.noteOn(voices[size_t(s)], 16);
    }
    EXPECT_EQ(recency(model, 0), (std::vector<int16_t>{4, 3, 2, 1, 0}));
    model.noteOn(voices[5], 2);
    EXPECT_EQ(recency(model, 0), (std::vector<int16_t>{5, 4}));
    for (int s = 0; s < 8; ++s) {
        EXPECT_EQ(model.generation(0).released[s], s < 4) << "slot " << s;
    }
    // Below 1 counts as 1: each note leaves only itself listed.
    model.noteOn(voices[6], 0);
    EXPECT_EQ(recency(model, 0), (std::vector<int16_t>{6}));
    model.noteOn(voices[7], -7);
    EXPECT_EQ(recency(model, 0), (std::vector<int16_t>{7}));
    EXPECT_TRUE(model.generation(0).released[6]);
    // Above 24 never evicts.
    for (int s = 0; s < 8; ++s) {
        model.noteOn(voices[size_t(s)], 32767);
    }
    EXPECT_EQ(recency(model, 0), (std::vector<int16_t>{7, 6, 5, 4, 3, 2, 1, 0}));
}

TEST(VoiceModel, AlternationFlipsPerNoteAndResetsOnlyOnANewMode) {
    VoiceModel model;
    const VoiceModel::Voice a = model.construct(), b = model.construct();
    const auto state = [&] {
        const VoiceModel::Generation &g = model.generation(0);
        return std::make_pair(int(g.flip), g.sign);
    };
    EXPECT_EQ(model.generation(0).alternate_mode, -1);
    model.setAlternateMode(a, 1);
    model.noteOn(a, 4);
    model.noteOn(b, 4);
    model.noteOn(a, 4);
    EXPECT_EQ(state(), std::make_pair(1, -1.0f));
    // Another instance telling of the same mode changes nothing.
    model.setAlternateMode(b, 1);
    EXPECT_EQ(state(), std::make_pair(1, -1.0f));
    model.setAlternateMode(b, 3);
    EXPECT_EQ(state(), std::make_pair(0, 1.0f));
    EXPECT_EQ(model.generation(0).alternate_mode, 3);
    model.noteOn(b, 4);
    model.setAlternateMode(a, 3);
    EXPECT_EQ(state(), std::make_pair(1, -1.0f));
}

// The model must notice any one field of the table differing from it.
TEST(VoiceModel, NoticesEachFieldOfTheTableThatDiffers) {
    VoiceModel model;
    std::vector<VoiceModel::Voice> voices;
    for (int i = 0; i < 6; ++i) {
        voices.push_back(model.construct());
    }
    VoicePool pool(48000.0f);
    for (int16_t s : {2, 4, 1, 5, 3}) {
        model.noteOn(voices[size_t(s)], 4);
        noteOn(&pool, s, 4);
    }
    char why[160];
    ASSERT_TRUE(model.matches(0, pool, why, sizeof why)) << why;
    const std::vector<std::pair<const char *, std::function<void(VoicePool &)>>> damages = {
        {"count", [](VoicePool &p) { p.m_count = 3; }},
        {"newest", [](VoicePool &p) { p.m_newest = 5; }},
        {"oldest", [](VoicePool &p) { p.m_oldest = 1; }},
        {"an older link", [](VoicePool &p) { p.m_older[3] = 1; }},
        {"a newer link", [](VoicePool &p) { p.m_newer[5] = 4; }},
        {"an unlisted slot linked", [](VoicePool &p) { p.m_older[0] = 0; }},
        {"a release flag set", [](VoicePool &p) { p.m_released[3] = 1; }},
        {"a release flag cleared", [](VoicePool &p) { p.m_released[2] = 0; }},
        {"flip", [](VoicePool &p) { p.m_flip = 0; }},
        {"sign", [](VoicePool &p) { p.m_sign = -p.m_sign; }},
        {"alternate mode", [](VoicePool &p) { p.m_alternate_mode = 0; }},
        {"decay step", [](VoicePool &p) { p.m_decay_step = -1.0; }},
    };
    for (const auto &damage : damages) {
        VoicePool damaged = pool;
        damage.second(damaged);
        why[0] = 0;
        EXPECT_FALSE(model.matches(0, damaged, why, sizeof why)) << damage.first;
        EXPECT_NE(why[0], 0) << damage.first;
    }
}

} // namespace
