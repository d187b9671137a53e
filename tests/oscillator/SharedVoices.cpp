// What the instances of one generation share, heard at the outputs: the stereo placement that
// alternates from note to note whichever instance plays it, its reset when "alternate" changes,
// and the "poly" limit, whose evicted voice fades out over 20/44100 per sample.
#include "support/oscillator_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ostream>
#include <vector>

namespace {

class SharedVoices : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tarnPlugin().isLoaded()) << tarnPlugin().error(); }
};

constexpr int32_t BLOCK = 64;
constexpr int32_t NOTE_AT = 16; // note sample within its block; the gate closes just before

struct Placement {
    bool swapped;
    float sign1, sign2;
    bool operator==(const Placement &o) const {
        return swapped == o.swapped && sign1 == o.sign1 && sign2 == o.sign2;
    }
};
std::ostream &operator<<(std::ostream &out, const Placement &p) {
    return out << (p.swapped ? "swapped" : "plain") << " " << p.sign1 << " " << p.sign2;
}
const Placement PLAIN{false, 1.0f, 1.0f};
const Placement SWAPPED{true, 1.0f, 1.0f};
const Placement SECOND_INVERTED{false, 1.0f, -1.0f};
const Placement FIRST_INVERTED{false, -1.0f, 1.0f};

// One partial (N 0) at 440 Hz and a fixed comb phase of 1/6 without comb step: the first
// signal is cos(pi/6) S and the second sin(pi/6) S, with S = 0.75 sin(theta) > 0 for the 50
// samples after the phases are reset. The larger output carries the first signal.
VoiceSettings placementProbe(int16_t alternate) {
    VoiceSettings s;
    s.N = 0.0f;
    s.combphase = 1.0f / 60.0f;
    s.alternate = alternate;
    return s;
}

// Plays a note on `voice` in the next block, its phases reset by a closed gate just before,
// and reads the placement from the 40 samples after the note's first.
Placement playAndObserve(Host &host, HostedInstance &voice) {
    startNote(voice, NOTE_AT);
    voice.buffer(PIN_GATE)[NOTE_AT - 1] = 0.0f;
    host.run(BLOCK);
    const float *L = voice.output(PIN_OUTPUTL);
    const float *R = voice.output(PIN_OUTPUTR);
    Placement seen{};
    for (int32_t i = NOTE_AT + 1; i < NOTE_AT + 41; ++i) {
        const bool swapped = std::fabs(L[i]) < std::fabs(R[i]);
        const float first = swapped ? R[i] : L[i];
        const float second = swapped ? L[i] : R[i];
        const Placement p{swapped, first > 0.0f ? 1.0f : -1.0f, second > 0.0f ? 1.0f : -1.0f};
        // The ratio of the two tells that they are the same partial, seen through the comb.
        EXPECT_NEAR(std::fabs(second / first), std::tan(M_PI / 6.0), 1e-5) << "sample " << i;
        if (i > NOTE_AT + 1) {
            EXPECT_EQ(p, seen) << "sample " << i;
        }
        seen = p;
    }
    return seen;
}

struct AlternateCase {
    int16_t alternate;
    Placement notes[3]; // first, second and third note of a fresh generation
};

class SharedAlternation : public SharedVoices,
                          public ::testing::WithParamInterface<AlternateCase> {};

} // namespace

TEST_P(SharedAlternation, PlacesEveryOtherNoteOfTheGenerationWhicheverVoicePlaysIt) {
    const AlternateCase &c = GetParam();
    Host host(tarnPlugin(), 44100.0f, BLOCK);
    startNewGeneration(host);
    HostedInstance *a = openVoice(host, placementProbe(c.alternate));
    HostedInstance *b = openVoice(host, placementProbe(c.alternate));
    EXPECT_EQ(playAndObserve(host, *a), c.notes[0]) << "first note, voice a";
    EXPECT_EQ(playAndObserve(host, *b), c.notes[1]) << "second note, voice b";
    EXPECT_EQ(playAndObserve(host, *a), c.notes[2]) << "third note, voice a";
}

INSTANTIATE_TEST_SUITE_P(
    SharedVoices, SharedAlternation,
    ::testing::Values(AlternateCase{0, {PLAIN, PLAIN, PLAIN}},
                      AlternateCase{1, {SWAPPED, PLAIN, SWAPPED}},
                      AlternateCase{2, {PLAIN, PLAIN, PLAIN}},
                      AlternateCase{3, {SECOND_INVERTED, PLAIN, SECOND_INVERTED}},
                      AlternateCase{4, {PLAIN, PLAIN, PLAIN}},
                      AlternateCase{5, {FIRST_INVERTED, PLAIN, FIRST_INVERTED}},
                      // Outside the list: odd values whose layout is not 0, 1 or 2, and even
                      // ones, change nothing.
                      AlternateCase{-1, {PLAIN, PLAIN, PLAIN}},
                      AlternateCase{6, {PLAIN, PLAIN, PLAIN}},
                      AlternateCase{32767, {PLAIN, PLAIN, PLAIN}}));

TEST_F(SharedVoices, GateOpenedBeforeAnyNotePlaysPlainly) {
    Host host(tarnPlugin(), 44100.0f, BLOCK);
    startNewGeneration(host);
    HostedInstance *voice = openVoice(host, placementProbe(1));
    voice->setInput(PIN_GATE, NOTE_AT, 1.0f);
    host.run(BLOCK);
    const float *L = voice->output(PIN_OUTPUTL);
    const float *R = voice->output(PIN_OUTPUTR);
    for (int32_t i = NOTE_AT + 1; i < NOTE_AT + 30; ++i) {
        EXPECT_GT(L[i], R[i]) << i;
        EXPECT_GT(R[i], 0.0f) << i;
    }
}

TEST_F(SharedVoices, ChangingAlternateOnEveryVoiceResetsTheSharedStateOnce) {
    Host host(tarnPlugin(), 44100.0f, BLOCK);
    startNewGeneration(host);
    HostedInstance *voices[3];
    for (HostedInstance *&v : voices) {
        v = openVoice(host, placementProbe(1));
    }
    EXPECT_EQ(playAndObserve(host, *voices[0]), SWAPPED); // flip 1, sign -1
    // The first report of 3 resets the state (flip 0, sign +1): the next note inverts.
    voices[0]->setList(PIN_ALTERNATE, 3);
    EXPECT_EQ(playAndObserve(host, *voices[0]), SECOND_INVERTED);
    // The others report 3 as well and find it recorded: no reset, the note after is plain.
    voices[1]->setList(PIN_ALTERNATE, 3);
    voices[2]->setList(PIN_ALTERNATE, 3);
    EXPECT_EQ(playAndObserve(host, *voices[1]), PLAIN);
    EXPECT_EQ(playAndObserve(host, *voices[2]), SECOND_INVERTED);
}

class PolyFade : public SharedVoices, public ::testing::WithParamInterface<float> {};

TEST_P(PolyFade, EvictedVoiceFadesOutIn2205SamplesAtAnyRate) {
    const float rate = GetParam();
    const double decayStep = 20.0 / 44100.0; // fixed when the table is made, before any rate
    Host host(tarnPlugin(), rate, BLOCK);
    startNewGeneration(host);
    VoiceSettings s;
    s.poly = 1;
    HostedInstance *a = openVoice(host, s);
    HostedInstance *b = openVoice(host, s);
    ReferenceVoice model(rate, SinePath::Hq, s.mode, s.cyclic);
    auto renderBlocks = [&](int32_t blocks, double step, std::vector<float> &heard) {
        for (int32_t n = 0; n < blocks; ++n) {
            model.startBlock(a->buffer(PIN_N)[0], step);
            std::vector<double> expected;
            for (int32_t i = 0; i < BLOCK; ++i) {
                expected.push_back(model.render(inputsAt(*a, i)).first);
            }
            host.run(BLOCK);
            for (int32_t i = 0; i < BLOCK; ++i) {
                const float out = a->output(PIN_OUTPUTL)[i];
                ASSERT_NEAR(out, expected[static_cast<size_t>(i)], 1e-6) << "sample " << i;
                heard.push_back(out);
            }
        }
    };
    std::vector<float> heard;
    startNote(*a, 0);
    renderBlocks(3, 0.0, heard);

    // b's note, delivered before a renders the block, releases a from the block's first sample.
    startNote(*b, 0);
    a->clearRequests();
    heard.clear();
    renderBlocks(36, decayStep, heard);
    int32_t lastHeard = -1;
    for (int32_t i = 0; i < static_cast<int32_t>(heard.size()); ++i) {
        lastHeard = heard[static_cast<size_t>(i)] != 0.0f ? i : lastHeard;
    }
    // Level 1 - (i + 1) * step after sample i: 0 at i = 2204, give or take a rounding.
    EXPECT_GE(lastHeard, 2203);
    EXPECT_LE(lastHeard, 2204);
    EXPECT_EQ(model.level(), 0.0);
    EXPECT_NE(b->output(PIN_OUTPUTL)[BLOCK - 1], 0.0f) << "the new voice plays on";

    // 35 blocks in, the first block that starts with the level at 0 winds the voice down.
    const uint32_t fadeStart = 3 * BLOCK;
    const std::vector<HostCall> expected = {
        processChanged(), announced(PIN_OUTPUTL, STREAM_SINGLE_CHANGE, fadeStart + 35 * BLOCK),
        announced(PIN_OUTPUTR, STREAM_SINGLE_CHANGE, fadeStart + 35 * BLOCK)};
    EXPECT_EQ(transitions(*a), expected);

    // A new note on the faded voice brings it back at full level, no longer released.
    startNote(*a, 0);
    model.restartLevel();
    heard.clear();
    renderBlocks(2, 0.0, heard);
    EXPECT_EQ(model.level(), 1.0);
}

INSTANTIATE_TEST_SUITE_P(SharedVoices, PolyFade, ::testing::Values(44100.0f, 48000.0f));

TEST_F(SharedVoices, PolyOutsideItsListStillLimitsTheVoices) {
    // Below 1 acts as 1; above the generation's size nothing is evicted.
    const struct {
        int16_t poly;
        bool firstFades;
    } cases[] = {{1, true}, {0, true}, {-1, true}, {2, false}, {17, false}, {32767, false}};
    for (const auto &c : cases) {
        Host host(tarnPlugin(), 44100.0f, BLOCK);
        startNewGeneration(host);
        VoiceSettings s;
        s.poly = c.poly;
        HostedInstance *a = openVoice(host, s);
        HostedInstance *b = openVoice(host, s);
        startNote(*a, 0);
        host.run(BLOCK);
        startNote(*b, 0);
        host.run(36 * BLOCK);
        bool aSilent = true;
        for (int32_t i = 0; i < BLOCK; ++i) {
            const float x = a->output(PIN_OUTPUTL)[i];
            EXPECT_TRUE(isCleanSample(x));
            aSilent = aSilent && x == 0.0f;
        }
        EXPECT_EQ(aSilent, c.firstFades) << "poly " << c.poly;
        EXPECT_NE(b->output(PIN_OUTPUTL)[BLOCK - 1], 0.0f) << "poly " << c.poly;
    }
}
