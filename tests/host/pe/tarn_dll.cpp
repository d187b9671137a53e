// tarn-dll.so against tarn.so: the same patches, held and moving inputs, rendered through both
// by the same host, compared sample by sample. Where the processor has SSE2 both take the
// block render path in SSE2 doubles and must agree bit for bit. Without it both run the per-sample
// loop in x87 doubles, where GCC's two back ends spill intermediates at different points and
// the DLL runs under Windows' 53-bit precision control: there they agree within 1e-6 of the
// output scale plus one float step, the bound of the x87 loop against the SSE2 one.
#include "kernels/cpu_features.h"
#include "support/oscillator_rig.h"
#include "tools/validate/module_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr float RATE = 44100.0f;
constexpr int32_t BLOCK = 64;
constexpr int32_t BLOCKS = 24;

struct Patch {
    const char *name;
    VoiceSettings settings;
};

VoiceSettings with(void (*change)(VoiceSettings &)) {
    VoiceSettings s;
    change(s);
    return s;
}

const Patch PATCHES[] = {
    {"harmonic", VoiceSettings{}},
    {"fast path", with([](VoiceSettings &s) { s.hq = 0; })},
    {"two-sided, many partials",
     with([](VoiceSettings &s) { s.mode = 2, s.N = 1.0f, s.a = 0.09f, s.fm1 = 0.013f; })},
    {"rising partials, detuned",
     with([](VoiceSettings &s) { s.a = -0.09f, s.N = 0.8f, s.detune = 0.03f; })},
    {"comb, cyclic", with([](VoiceSettings &s) {
         s.combfreq = 0.2f, s.combphase = 0.05f, s.cyclic = 2, s.N = 0.9f, s.hq = 0;
     })},
    {"negative spacing, alternate",
     with([](VoiceSettings &s) { s.fm1 = -0.07f, s.alternate = 3, s.fc = 0.62f; })},
};

// What tarn-validate reads of an instance, and of its voice table, after a block.
struct State {
    double phases[3], level, twoOverSr, nyquist;
    int16_t cyclic, voice;
    bool swap;
    float sign1, sign2;
    int32_t poolCount;
    int16_t newest, oldest;
};

State stateOf(const HostedInstance &voice, const ModuleLayout &layout) {
    const ModuleView m(voice.record(), layout);
    const VoicePool *pool = m.pool();
    return State{{m.carrierPhase(), m.spacingPhase(), m.combPhase()},
                 m.level(),
                 m.twoOverSr(),
                 m.nyquist(),
                 m.cyclic(),
                 m.voice(),
                 m.swapOutputs(),
                 m.sign1(),
                 m.sign2(),
                 pool ? pool->m_count : -1,
                 pool ? pool->m_newest : int16_t(-2),
                 pool ? pool->m_oldest : int16_t(-2)};
}

// Both outputs of every block, with fc, "a" and the comb moving at audio rate from block 8 on;
// with `states`, also the state after each block, read through `layout`.
std::vector<float> render(const PluginLibrary &plugin, const VoiceSettings &settings,
                          std::vector<State> *states = nullptr,
                          const ModuleLayout &layout = THIS_BUILDS_LAYOUT) {
    Host host(plugin, RATE, BLOCK);
    startNewGeneration(host);
    HostedInstance *voice = openVoice(host, settings);
    std::vector<float> out;
    if (voice == nullptr) {
        return out;
    }
    startNote(*voice, 0);
    for (int32_t block = 0; block < BLOCKS; ++block) {
        if (block >= 8) {
            float fc[BLOCK], a[BLOCK], comb[BLOCK];
            for (int32_t k = 0; k < BLOCK; ++k) {
                const float t = static_cast<float>(block * BLOCK + k) / (BLOCKS * BLOCK);
                fc[k] = settings.fc + 0.05f * std::sin(6.0f * t);
                a[k] = settings.a * (1.0f - 0.5f * t);
                comb[k] = settings.combphase + 0.1f * t;
            }
            voice->fillInput(0, 0, fc, BLOCK);
            voice->fillInput(3, 0, a, BLOCK);
            voice->fillInput(9, 0, comb, BLOCK);
        }
        host.run(BLOCK);
        for (int32_t pin : {14, 15}) {
            out.insert(out.end(), voice->output(pin), voice->output(pin) + BLOCK);
        }
        if (states) {
            states->push_back(stateOf(*voice, layout));
        }
    }
    return out;
}

} // namespace

TEST(TarnDll, RendersWhatTarnSoRenders) {
    static PluginLibrary so(TARN_SO_PATH);
    static PluginLibrary dll(TARN_DLL_BRIDGE_PATH);
    ASSERT_TRUE(so.isLoaded()) << so.error();
    ASSERT_TRUE(dll.isLoaded()) << dll.error();
    const bool splitLoop = widestVectorUnit() != VectorUnit::None;
    for (const Patch &patch : PATCHES) {
        const std::vector<float> expected = render(so, patch.settings);
        const std::vector<float> actual = render(dll, patch.settings);
        ASSERT_EQ(expected.size(), static_cast<size_t>(2 * BLOCKS * BLOCK)) << patch.name;
        ASSERT_EQ(actual.size(), expected.size()) << patch.name;
        float peak = 0.0f, worst = 0.0f;
        size_t differing = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            peak = std::max(peak, std::fabs(expected[i]));
            worst = std::max(worst, std::fabs(actual[i] - expected[i]));
            differing += std::memcmp(&actual[i], &expected[i], sizeof(float)) != 0;
        }
        ASSERT_GT(peak, 0.1f) << patch.name << ": the patch must sound";
        if (splitLoop) {
            EXPECT_EQ(differing, 0u) << patch.name << ": largest difference " << worst;
        } else {
            const float step = std::nextafter(peak, 2.0f * peak) - peak;
            EXPECT_LE(worst, 1e-6f * std::max(1.0f, peak) + step) << patch.name;
        }
        char figures[64];
        std::snprintf(figures, sizeof figures, "%zu differ, largest %.3g", differing, worst);
        RecordProperty(patch.name, figures);
    }
}

// tarn.dll's state read at MinGW's offsets, as tarn-validate --mingw-layout reads it, is
// tarn.so's read at this build's, after every block of every patch: a field read at a wrong
// offset, or two fields of one type swapped, differ. The phases drift apart by about 1e-15 per
// sample where the x87 loop runs under the two precision controls: 1e-9 is far beyond that.
TEST(TarnDll, StateReadAtMinGWsOffsetsIsTarnSosState) {
    static PluginLibrary so(TARN_SO_PATH);
    static PluginLibrary dll(TARN_DLL_BRIDGE_PATH);
    ASSERT_TRUE(so.isLoaded()) << so.error();
    ASSERT_TRUE(dll.isLoaded()) << dll.error();
    for (const Patch &patch : PATCHES) {
        std::vector<State> expected, actual;
        render(so, patch.settings, &expected);
        render(dll, patch.settings, &actual, MINGW_MODULE_LAYOUT);
        ASSERT_EQ(actual.size(), expected.size()) << patch.name;
        ASSERT_EQ(expected.size(), static_cast<size_t>(BLOCKS)) << patch.name;
        for (size_t b = 0; b < expected.size(); ++b) {
            const State &e = expected[b], &a = actual[b];
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(a.phases[k], e.phases[k], 1e-9) << patch.name << " phase " << k;
            }
            EXPECT_NEAR(a.level, e.level, 1e-9) << patch.name << " block " << b;
            EXPECT_DOUBLE_EQ(a.twoOverSr, e.twoOverSr) << patch.name;
            EXPECT_DOUBLE_EQ(a.nyquist, e.nyquist) << patch.name;
            EXPECT_EQ(a.cyclic, e.cyclic) << patch.name;
            EXPECT_EQ(a.voice, e.voice) << patch.name;
            EXPECT_EQ(a.swap, e.swap) << patch.name << " block " << b;
            EXPECT_EQ(a.sign1, e.sign1) << patch.name << " block " << b;
            EXPECT_EQ(a.sign2, e.sign2) << patch.name << " block " << b;
            EXPECT_EQ(a.poolCount, e.poolCount) << patch.name;
            EXPECT_EQ(a.newest, e.newest) << patch.name;
            EXPECT_EQ(a.oldest, e.oldest) << patch.name;
        }
        EXPECT_GT(expected.back().level, 0.0) << patch.name << ": the note must still sound";
    }
}
