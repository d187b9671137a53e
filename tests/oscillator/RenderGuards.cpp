// What the built plug-in does with inputs outside the musical range: non-finite samples on any
// audio pin, extreme values that would overflow, hang or go subnormal, sample rates that are
// not finite and positive, and list settings outside their lists. Every block must finish (a
// hang would hang the test), every output sample must be finite and zero or normal.
#include "support/oscillator_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr int32_t BLOCK = 64;
constexpr float NAN_F = std::numeric_limits<float>::quiet_NaN();
constexpr float INF_F = std::numeric_limits<float>::infinity();

class RenderGuards : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tarnPlugin().isLoaded()) << tarnPlugin().error(); }
};

void expectCleanBlock(const HostedInstance &voice, const std::string &what) {
    for (int32_t pin : {PIN_OUTPUTL, PIN_OUTPUTR}) {
        for (int32_t i = 0; i < BLOCK; ++i) {
            const float x = voice.output(pin)[i];
            EXPECT_TRUE(isCleanSample(x)) << what << ": pin " << pin << " sample " << i << " " << x;
        }
    }
}

// A rotating comb and a harmonic series: every phase of the voice is in use.
VoiceSettings busyVoice() {
    VoiceSettings s;
    s.cyclic = 2;
    s.combphase = 0.1f;
    s.combfreq = 0.02f;
    return s;
}

class NonFiniteInput : public RenderGuards,
                       public ::testing::WithParamInterface<std::tuple<int32_t, float>> {};

} // namespace

TEST_P(NonFiniteInput, SilencesItsSamplesAndLeavesTheVoicePlayable) {
    const int32_t pin = std::get<0>(GetParam());
    const float bad = std::get<1>(GetParam());
    const VoiceSettings s = busyVoice();
    Host host(tarnPlugin(), 44100.0f, BLOCK);
    HostedInstance *voice = openVoice(host, s);
    startNote(*voice, 0);
    host.run(BLOCK);

    // Samples 8 to 15 carry the value, written raw; "N" counts only at the block start, and
    // "sync" only at a status change.
    int32_t from = 8, to = 16;
    if (pin == PIN_N) {
        from = 0, to = BLOCK;
    }
    if (pin == PIN_SYNC) {
        voice->setInput(PIN_SYNC, 8, bad);
    }
    float *in = voice->buffer(pin);
    std::fill(in + from, in + to, bad);
    host.run(BLOCK);
    expectCleanBlock(*voice, "with the value");
    if (pin != PIN_SYNC) {
        for (int32_t i = from; i < to; ++i) {
            EXPECT_EQ(voice->output(PIN_OUTPUTL)[i], 0.0f) << i;
            EXPECT_EQ(voice->output(PIN_OUTPUTR)[i], 0.0f) << i;
        }
    }

    // Then a gate sample of 0 restarts the phases, and from there the voice must sound as a
    // fresh one at full level would.
    voice->buffer(PIN_GATE)[1] = 0.0f;
    ReferenceVoice model(44100.0f, SinePath::Hq, s.mode, s.cyclic);
    model.startBlock(voice->buffer(PIN_N)[0], 0.0);
    std::vector<PartialSumOut> expected;
    for (int32_t i = 2; i < BLOCK; ++i) {
        expected.push_back(model.render(inputsAt(*voice, i)));
    }
    host.run(BLOCK);
    for (int32_t i = 2; i < BLOCK; ++i) {
        const PartialSumOut &e = expected[static_cast<size_t>(i - 2)];
        EXPECT_NEAR(voice->output(PIN_OUTPUTL)[i], e.first, 1e-6) << "after, sample " << i;
        EXPECT_NEAR(voice->output(PIN_OUTPUTR)[i], e.second, 1e-6) << "after, sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(RenderGuards, NonFiniteInput,
                         ::testing::Combine(::testing::Values(PIN_FC, PIN_FM1, PIN_N, PIN_A,
                                                              PIN_GATE, PIN_DETUNE, PIN_SYNC,
                                                              PIN_COMBFREQ, PIN_COMBPHASE),
                                            ::testing::Values(NAN_F, INF_F, -INF_F)),
                         [](const ::testing::TestParamInfo<std::tuple<int32_t, float>> &param) {
                             const float v = std::get<1>(param.param);
                             return "Pin" + std::to_string(std::get<0>(param.param)) +
                                    (std::isnan(v) ? "NaN"
                                     : v > 0.0f    ? "PlusInf"
                                                   : "MinusInf");
                         });

namespace {

struct Extreme {
    const char *name;
    void (*apply)(VoiceSettings &);
};

const Extreme EXTREMES[] = {
    // A just below -1 with the spacing phase stepping by exactly 1: D = (1 + A)^2 ~ 2e-16
    // at every other sample, the closed form's 0 / 0.
    {"RatioNearMinusOneAlignedWithTheSpacing",
     [](VoiceSettings &s) { s.a = -0.1f, s.fm1 = 0.0f, s.detune = 2205.0f; }},
    // The same with the comb step at one half-turn, which turns A into +1.
    {"RatioNearMinusOneAlignedWithTheComb",
     [](VoiceSettings &s) { s.a = -0.1f, s.combfreq = 0.1f, s.fm1 = 0.0f, s.N = 2.0f; }},
    {"RatioNearMinusOneHarmonic", [](VoiceSettings &s) { s.a = -0.1f, s.N = 3.0f; }},
    // Spacing phase steps of 1e17 half-turns: the literal wrap would never end.
    {"HugeDetune", [](VoiceSettings &s) { s.detune = 1e20f; }},
    // 1.5e10 Hz and a spacing of 1.5e11 Hz: 3e6 wrap steps per sample, taken literally.
    {"PitchFarAboveTheBand", [](VoiceSettings &s) { s.fc = 3.0f, s.fm1 = 1.0f; }},
    {"PitchOverflowingToInfinity", [](VoiceSettings &s) { s.fc = 12.5f, s.fm1 = 1.0f; }},
    {"RatioOverflowingThePower", [](VoiceSettings &s) { s.a = 1e30f, s.N = 10.0f; }},
    {"RatioUnderflowingThePower", [](VoiceSettings &s) { s.a = 1e-30f, s.N = 10.0f; }},
    // A pitch of about 1e-40 Hz: sines, and so outputs, of subnormal size.
    {"SubnormalPitch", [](VoiceSettings &s) { s.fc = -13.7f, s.N = 0.0f; }},
    // 2e9 partials at the pitch (no spacing): K + 1 and 2K + 1 near the int32 limit.
    {"HugePartialLimit", [](VoiceSettings &s) { s.N = 2e8f, s.fm1 = 0.0f; }},
    {"PartialLimitBeyondInt32", [](VoiceSettings &s) { s.N = 1e30f; }},
    {"NegativePartialLimit", [](VoiceSettings &s) { s.N = -1e30f; }},
    // Comb values far beyond their one-step wrap.
    {"CombFarOutside", [](VoiceSettings &s) { s.combfreq = 1e6f, s.combphase = -1e6f; }},
    {"CombTurningFast", [](VoiceSettings &s) { s.cyclic = 2, s.combphase = 3e7f; }},
};

// Extreme, hq, Mode.
class ExtremeInput : public RenderGuards,
                     public ::testing::WithParamInterface<std::tuple<Extreme, int16_t, int16_t>> {};

} // namespace

TEST_P(ExtremeInput, RendersCleanSamplesAndFinishesEveryBlock) {
    VoiceSettings s;
    std::get<0>(GetParam()).apply(s);
    s.hq = std::get<1>(GetParam());
    s.mode = std::get<2>(GetParam());
    Host host(tarnPlugin(), 44100.0f, BLOCK);
    HostedInstance *voice = openVoice(host, s);
    startNote(*voice, 0);
    for (int32_t block = 0; block < 3; ++block) {
        host.run(BLOCK);
        expectCleanBlock(*voice, "block " + std::to_string(block));
    }
    EXPECT_TRUE(voice->guardsIntact());
}

INSTANTIATE_TEST_SUITE_P(
    RenderGuards, ExtremeInput,
    ::testing::Combine(::testing::ValuesIn(EXTREMES), ::testing::Values<int16_t>(1, 0),
                       ::testing::Values<int16_t>(1, 2)),
    [](const ::testing::TestParamInfo<std::tuple<Extreme, int16_t, int16_t>> &param) {
        return std::string(std::get<0>(param.param).name) +
               (std::get<1>(param.param) ? "Hq" : "Fast") + "Mode" +
               std::to_string(std::get<2>(param.param));
    });

namespace {
class UnusableSampleRate : public RenderGuards, public ::testing::WithParamInterface<float> {};
} // namespace

TEST_P(UnusableSampleRate, RendersSilence) {
    Host host(tarnPlugin(), 44100.0f, BLOCK);
    HostedInstance *voice = openVoice(host, busyVoice(), GetParam(), BLOCK);
    startNote(*voice, 0);
    for (int32_t block = 0; block < 3; ++block) {
        for (int32_t pin : {PIN_OUTPUTL, PIN_OUTPUTR}) {
            std::fill(voice->buffer(pin), voice->buffer(pin) + BLOCK, 7.0f);
        }
        host.run(BLOCK);
        for (int32_t pin : {PIN_OUTPUTL, PIN_OUTPUTR}) {
            for (int32_t i = 0; i < BLOCK; ++i) {
                EXPECT_EQ(voice->output(pin)[i], 0.0f) << "pin " << pin << " sample " << i;
            }
        }
    }
    // The note's end still winds the voice down to sleep.
    voice->setInput(PIN_GATE, 0, 0.0f);
    host.run(3 * BLOCK);
    EXPECT_TRUE(voice->isAsleep());
}

INSTANTIATE_TEST_SUITE_P(RenderGuards, UnusableSampleRate,
                         ::testing::Values(0.0f, -1.0f, NAN_F, INF_F, -INF_F));

TEST_F(RenderGuards, ListValuesOutsideTheirListsActLikeTheRuleSays) {
    // "Mode" other than 1 is two-sided, "cyclic" other than 1 turns the comb, "hq" other than
    // 0 is exact: two voices side by side, one with the odd value, must agree bit for bit.
    const struct {
        int32_t pin;
        int16_t odd, same;
    } cases[] = {{PIN_MODE, 0, 2},     {PIN_MODE, 3, 2},   {PIN_MODE, -1, 2},
                 {PIN_MODE, 32767, 2}, {PIN_CYCLIC, 0, 2}, {PIN_CYCLIC, 3, 2},
                 {PIN_HQ, 5, 1},       {PIN_HQ, -1, 1},    {PIN_HQ, 32767, 1}};
    for (const auto &c : cases) {
        Host host(tarnPlugin(), 44100.0f, BLOCK);
        VoiceSettings s = busyVoice();
        s.combphase = 0.3f;
        HostedInstance *odd = openVoice(host, s);
        HostedInstance *same = openVoice(host, s);
        odd->setList(c.pin, c.odd);
        same->setList(c.pin, c.same);
        startNote(*odd, 0);
        startNote(*same, 0);
        for (int32_t block = 0; block < 2; ++block) {
            host.run(BLOCK);
            for (int32_t pin : {PIN_OUTPUTL, PIN_OUTPUTR}) {
                for (int32_t i = 0; i < BLOCK; ++i) {
                    ASSERT_EQ(odd->output(pin)[i], same->output(pin)[i])
                        << "pin " << c.pin << " value " << c.odd << ", output " << pin << " sample "
                        << i;
                }
            }
        }
        EXPECT_NE(odd->output(PIN_OUTPUTL)[BLOCK - 1], 0.0f);
    }
}
