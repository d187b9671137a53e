// The block render path against the per-sample loop, on every vector unit of this processor:
// over long renders of held notes, audio-rate inputs, changes part-way through blocks, gates,
// releases, every Mode, "cyclic" on and off, counts from 0 to 10000 and both signs of the
// spacing, each output sample stays within 1e-6 (fast path) or 1e-9 ("hq") of max(1, peak) of
// the per-sample loop's, plus one float step of the sample (a difference far below it in double
// can flip the narrowing). The silent samples are the same ones. The phases formed per block
// drift from the per-sample loop's running sums by a bounded amount over 10^7 samples.
#include "kernels/cpu_features.h"
#include "oscillator/module/Module.h"
#include "oscillator/module/ModuleProbe.h"
#include "oscillator/module/VoicePool.h"
#include "support/vector_units.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr int32_t MAX_BLOCK = 300;
constexpr float NAN_F = std::numeric_limits<float>::quiet_NaN();

enum Pin { FC, FM1, N, A, GATE, DETUNE, COMBFREQ, COMBPHASE, PINS };

// One module with a voice table of its own (so that its release can be set) and its buffers.
struct Voice {
    VoicePool pool{48000.0f};
    Module m{nullptr, 0, VoiceTable{&pool, 0}};
    std::vector<float> in[PINS], outl, outr;

    Voice(int16_t hq, int16_t mode, int16_t cyclic, VectorUnit unit) {
        m.setSampleRate(48000.0f);
        m.open();
        const ModuleProbe probe(m);
        probe.hq() = hq;
        probe.mode() = mode;
        probe.cyclic() = cyclic;
        probe.vectorUnit() = unit;
        for (auto &v : in) {
            v.assign(MAX_BLOCK, 0.0f);
        }
        outl.assign(MAX_BLOCK, 0.0f);
        outr.assign(MAX_BLOCK, 0.0f);
        float **pins[PINS] = {&probe.fc(),       &probe.fm1(),      &probe.N(),
                              &probe.a(),        &probe.gate(),     &probe.detune(),
                              &probe.combfreq(), &probe.combphase()};
        for (int p = 0; p < PINS; ++p) {
            *pins[p] = in[p].data();
        }
        probe.sync() = in[GATE].data();
        probe.outputl() = outl.data();
        probe.outputr() = outr.data();
    }
};

// What a stretch of the render plays.
enum class Play {
    Held,
    AudioRate,
    RatioAudioRate,
    PitchAudioRate,
    ChangePartWay,
    Gates,
    PitchPerSubBlock
};

struct Stretch {
    Play play;
    float pin[PINS];  // the held values
    int32_t changeAt; // ChangePartWay: the sample of each block where the pins change
    bool release;     // the voice fades out (its table's release flag)
};

// A held note: pitch 220 to 880 Hz, spacing of either sign from 2 Hz (10000 partials fit below
// Nyquist) to the pitch, a count limit from 0 to 10000, a ratio anywhere in its range or at its
// edges (the guard at 1, negative, beyond 1), any comb.
Stretch drawStretch(std::mt19937 &rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float limits[] = {0.0f, 0.1f, 1.0f, 10.0f, 100.0f, 1000.0f};
    const float ratios[] = {0.1f, 0.10001f, -0.1f, 0.12f, 0.15f, -0.15f};
    Stretch s;
    s.play = static_cast<Play>(rng() % 7);
    s.pin[FC] = 0.4f + 0.2f * unit(rng);
    const bool narrow = rng() % 2 == 0;
    const float sign = rng() % 2 == 0 ? 1.0f : -1.0f;
    s.pin[FM1] = narrow ? 0.0f : sign * 0.1f * unit(rng);
    s.pin[DETUNE] = narrow ? sign * 0.2f : sign * 2.0f * unit(rng);
    s.pin[N] = limits[rng() % 6];
    s.pin[A] = rng() % 4 == 0 ? ratios[rng() % 6] : -0.095f + 0.19f * unit(rng);
    s.pin[GATE] = 1.0f;
    s.pin[COMBFREQ] = -0.3f + 0.6f * unit(rng);
    s.pin[COMBPHASE] = -0.3f + 0.6f * unit(rng);
    s.changeAt = static_cast<int32_t>(rng() % MAX_BLOCK);
    s.release = rng() % 5 == 0;
    return s;
}

// One block of a stretch into the reference voice's inputs.
void fillBlock(std::mt19937 &rng, const Stretch &s, int32_t n, std::vector<float> (&in)[PINS]) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    float glide = s.pin[FC];
    for (int32_t i = 0; i < n; ++i) {
        const size_t k = static_cast<size_t>(i);
        for (int p = 0; p < PINS; ++p) {
            in[p][k] = s.pin[p];
        }
        switch (s.play) {
        case Play::Held:
            break;
        case Play::AudioRate: // "a", the comb and the pitch new at every sample
            in[A][k] = -0.095f + 0.19f * unit(rng);
            in[COMBFREQ][k] = -0.3f + 0.6f * unit(rng);
            in[COMBPHASE][k] = -0.3f + 0.6f * unit(rng);
            in[FC][k] = s.pin[FC] + 0.002f * unit(rng);
            break;
        case Play::RatioAudioRate: // only "a" and the comb move: ratios beyond 1 (powers past
                                   // 2^400 at high counts), at the guard, now and then no comb
            in[A][k] = rng() % 3 == 0 ? (rng() % 2 ? 0.15f : -0.15f) : -0.1f + 0.2f * unit(rng);
            in[COMBFREQ][k] = -0.3f + 0.6f * unit(rng);
            in[COMBPHASE][k] = rng() % 500 == 0 ? NAN_F : -0.3f + 0.6f * unit(rng);
            break;
        case Play::PitchAudioRate: // only the pitch and the spacing new at every sample
            in[FC][k] = s.pin[FC] + 0.002f * unit(rng);
            in[FM1][k] = s.pin[FM1] * (1.0f + 0.01f * unit(rng));
            break;
        case Play::ChangePartWay: // the spacing (so the count) and the ratio change in the block
            if (i >= s.changeAt) {
                in[DETUNE][k] = s.pin[DETUNE] * 1.7f;
                in[A][k] = -s.pin[A];
            }
            break;
        case Play::Gates: // closed, open, and a NaN gate
            in[GATE][k] = i < s.changeAt / 2 ? 0.0f : i == s.changeAt ? NAN_F : 1.0f;
            break;
        case Play::PitchPerSubBlock: // held through one or two sub-blocks of 64, then new
            if (i % (s.changeAt % 2 == 0 ? 64 : 128) == 0) {
                glide = s.pin[FC] + 0.002f * unit(rng);
            }
            in[FC][k] = glide;
            break;
        }
    }
}

double floatStep(float x) {
    return std::fabs(
        static_cast<double>(std::nextafter(x, std::numeric_limits<float>::infinity())) - x);
}

struct Outcome {
    double worst = 0.0; // the largest difference beyond one float step, over max(1, peak)
    double peak = 0.0;
    int64_t sounding = 0, samples = 0;
};

// Renders `samples` samples on both voices, in blocks of 1 to MAX_BLOCK samples (or of 64 through
// a stretch) and stretches of about 4000, and checks every output sample against the bound.
Outcome compare(Voice &ref, Voice &lanes, double bound, uint32_t seed, int64_t samples,
                const std::string &name) {
    std::mt19937 rng(seed);
    Outcome o;
    Stretch stretch = drawStretch(rng);
    int64_t stretchEnd = 4000;
    int32_t failures = 0;
    bool blocksOf64 = false; // a host's usual block, one sub-block each
    while (o.samples < samples && failures < 5) {
        if (o.samples >= stretchEnd) {
            // Now and then a new note on the same held pins, where only the level and the
            // signs of the two signals change.
            if (rng() % 4 == 0) {
                stretch.play = Play::Held;
                stretch.release = false;
            } else {
                stretch = drawStretch(rng);
            }
            stretchEnd = o.samples + 1000 + static_cast<int64_t>(rng() % 6000);
            blocksOf64 = rng() % 3 == 0;
            const double level = stretch.release ? 0.8 : rng() % 3 == 0 ? 0.9 : 1.0;
            ModuleProbe(ref.m).level() = ModuleProbe(lanes.m).level() = level;
            const float sign1 = rng() % 2 ? 1.0f : -1.0f, sign2 = rng() % 2 ? 1.0f : -1.0f;
            ModuleProbe(ref.m).sign1() = ModuleProbe(lanes.m).sign1() = sign1;
            ModuleProbe(ref.m).sign2() = ModuleProbe(lanes.m).sign2() = sign2;
        }
        ref.pool.m_released[0] = lanes.pool.m_released[0] = stretch.release ? 1 : 0;
        const int32_t n = blocksOf64 ? 64 : 1 + static_cast<int32_t>(rng() % MAX_BLOCK);
        fillBlock(rng, stretch, n, ref.in);
        for (int p = 0; p < PINS; ++p) {
            lanes.in[p] = ref.in[p];
        }
        ref.m.renderBlock(0, n);
        lanes.m.renderBlock(0, n);
        // The spacing phase, whose drift the K-th partial would multiply by K, is the per-sample
        // loop's running sum itself where both use the same arithmetic (not x87's).
        if (sizeof(void *) == 8 &&
            ModuleProbe(lanes.m).spacingPhase() != ModuleProbe(ref.m).spacingPhase()) {
            ADD_FAILURE() << name << ": spacing phase " << ModuleProbe(lanes.m).spacingPhase()
                          << " against " << ModuleProbe(ref.m).spacingPhase() << " after sample "
                          << o.samples + n;
            ++failures;
        }
        for (int32_t i = 0; i < n && failures < 5; ++i) {
            const size_t k = static_cast<size_t>(i);
            const float expected[2] = {ref.outl[k], ref.outr[k]};
            const float got[2] = {lanes.outl[k], lanes.outr[k]};
            for (int c = 0; c < 2; ++c) {
                o.peak = std::max(o.peak, static_cast<double>(std::fabs(expected[c])));
                const double scale = std::max(1.0, o.peak);
                const double diff = std::fabs(static_cast<double>(got[c]) - expected[c]);
                o.worst = std::max(o.worst, (diff - floatStep(expected[c])) / scale);
                if (!(diff <= bound * scale + floatStep(expected[c])) ||
                    (expected[c] == 0.0f) != (got[c] == 0.0f)) {
                    ADD_FAILURE() << name << ": sample " << o.samples + i << " channel " << c
                                  << ": " << got[c] << " against " << expected[c];
                    ++failures;
                }
            }
            o.sounding += expected[0] != 0.0f ? 1 : 0;
        }
        o.samples += n;
    }
    // The comparison means something only where the voice sounds.
    EXPECT_GT(o.sounding, o.samples / 3) << name;
    return o;
}

std::string scientific(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", x);
    return text;
}

// hq, Mode, cyclic.
class RenderBlocks : public ::testing::TestWithParam<std::tuple<int16_t, int16_t, int16_t>> {};

} // namespace

TEST_P(RenderBlocks, StaysWithinTheBoundOfThePerSampleLoopOverLongRenders) {
    const auto [hq, mode, cyclic] = GetParam();
    const double bound = hq != 0 ? 1e-9 : 1e-6;
    for (VectorUnit unit : vectorUnitsOfThisProcessor()) {
        Voice ref(hq, mode, cyclic, VectorUnit::None);
        Voice lanes(hq, mode, cyclic, unit);
        const uint32_t seed = 17u + static_cast<uint32_t>(hq * 100 + mode * 10 + cyclic);
        const Outcome o = compare(ref, lanes, bound, seed, 1000000, vectorUnitName(unit));
        RecordProperty(std::string("largest_difference_") + vectorUnitName(unit),
                       scientific(o.worst));
    }
}

INSTANTIATE_TEST_SUITE_P(RenderBlocks, RenderBlocks,
                         ::testing::Combine(::testing::Values<int16_t>(0, 1),
                                            ::testing::Values<int16_t>(1, 2),
                                            ::testing::Values<int16_t>(1, 2)));

// Held "hq" notes in blocks of 64, where the sines of each sub-block are its first sample's
// turned by tables kept from block to block, or near the pole taken per lane: the carrier and
// spacing phases at the end are the per-sample loop's running sums (within 1e-9 half-turns where
// that loop runs on x87), and every output within the bound.
struct HeldNote {
    const char *name;
    float pin[PINS];
    int16_t cyclic;
    int64_t samples; // on 64-bit builds; a tenth of it under the 32-bit emulator
};

void PrintTo(const HeldNote &note, std::ostream *os) {
    *os << note.name;
}

class RenderBlocksDrift : public ::testing::TestWithParam<HeldNote> {};

TEST_P(RenderBlocksDrift, PhasesAndOutputsStayBoundedOverLongHeldNotes) {
    const HeldNote &note = GetParam();
    const std::vector<VectorUnit> units = vectorUnitsOfThisProcessor();
    if (units.empty()) {
        GTEST_SKIP() << "no vector unit on this processor";
    }
    Voice ref(1, 1, note.cyclic, VectorUnit::None);
    Voice lanes(1, 1, note.cyclic, units.back());
    for (int p = 0; p < PINS; ++p) {
        ref.in[p].assign(64, note.pin[p]);
        lanes.in[p].assign(64, note.pin[p]);
    }
    const int64_t samples = sizeof(void *) == 8 ? note.samples : note.samples / 10;
    double worst = 0.0, peak = 0.0;
    for (int64_t done = 0; done < samples; done += 64) {
        ref.m.renderBlock(0, 64);
        lanes.m.renderBlock(0, 64);
        for (size_t k = 0; k < 64; ++k) {
            for (const auto *out : {&ref.outl, &ref.outr}) {
                peak = std::max(peak, static_cast<double>(std::fabs((*out)[k])));
            }
            const double scale = std::max(1.0, peak);
            worst = std::max({worst,
                              (std::fabs(static_cast<double>(lanes.outl[k]) - ref.outl[k]) -
                               floatStep(ref.outl[k])) /
                                  scale,
                              (std::fabs(static_cast<double>(lanes.outr[k]) - ref.outr[k]) -
                               floatStep(ref.outr[k])) /
                                  scale});
        }
    }
    const ModuleProbe got(lanes.m), want(ref.m);
    if (sizeof(void *) == 8) {
        EXPECT_EQ(got.carrierPhase(), want.carrierPhase()); // the running sums themselves
        EXPECT_EQ(got.spacingPhase(), want.spacingPhase());
    }
    const double carrier = std::fabs(got.carrierPhase() - want.carrierPhase());
    const double spacing = std::fabs(got.spacingPhase() - want.spacingPhase());
    EXPECT_LE(std::min(carrier, 2.0 - carrier), 1e-9) << carrier;
    EXPECT_LE(std::min(spacing, 2.0 - spacing), 1e-9) << spacing;
    EXPECT_LE(worst, 1e-9);
    RecordProperty("largest_difference", scientific(worst));
}

// Counts of 1000 and 10000 over a spacing of 2 Hz (pin 0.2), so that K times the spacing phase
// reaches 10^4 half-turns; ratios away from 1 (rotated), at the margin of the pole (1.003, z
// real: rotated) and inside it (0.9999: per-lane sines); a comb that rotates ("cyclic" on).
INSTANTIATE_TEST_SUITE_P(
    RenderBlocksDrift, RenderBlocksDrift,
    ::testing::Values(
        HeldNote{"K1000", {0.5f, 0.0f, 100.0f, 0.0999f, 1.0f, 0.2f, 0.01f, 0.01f}, 2, 10000000},
        HeldNote{
            "K10000NearPole", {0.5f, 0.0f, 1000.0f, 0.1003f, 1.0f, 0.2f, 0.0f, 0.0f}, 1, 1000000},
        HeldNote{
            "K10000AtPole", {0.5f, 0.0f, 1000.0f, 0.09999f, 1.0f, 0.2f, 0.0f, 0.0f}, 1, 1000000},
        HeldNote{
            "K10000Comb", {0.45f, 0.0f, 1000.0f, 0.095f, 1.0f, -0.2f, 0.137f, 0.05f}, 2, 1000000}),
    [](const ::testing::TestParamInfo<HeldNote> &p) { return std::string(p.param.name); });
