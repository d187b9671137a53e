// The pitch-moving sub-blocks' lane pass against the per-sample steps: on every lane it is sure
// of, the pitch is pitchFromFc's float and the steps and the keep test are the per-sample ones,
// bit for bit; the lanes it is unsure of are few, and include every input the lanes cannot
// take. On every vector unit of this processor.
#include "kernels/cpu_features.h"
#include "oscillator/lanes/lane_passes.h"
#include "support/vector_units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

// The per-sample steps in the arithmetic of the block render path: SSE2 doubles on 32-bit
// builds too.
#if defined(__i386__)
#pragma GCC push_options
#pragma GCC target("sse2", "fpmath=sse")
#endif

#include "oscillator/signal/partial_count.h"
#include "oscillator/signal/pitch.h"

struct SampleSteps {
    bool keeps; // the sample sounds with the cached count and the carrier at the pitch
    double pitch, carrierStep, spacingStep;
};

// External linkage: GCC gives internal functions of an SSE2 region an SSE calling convention
// that callers outside it cannot use.
SampleSteps stepsOf(const PitchRunIn &in, int32_t j) {
    const float f0 = pitchFromFc(in.fc[j]);
    double delta = spacingHz(f0, in.fm1[j], in.detune[j]);
    if (in.foldSpacing) {
        delta = foldMode2Spacing(delta);
    }
    int32_t K = in.K;
    double f1 = 0.0;
    const bool keeps = countPartials(f0, delta, in.Nmax, K, in.nyquist, f1) && K == in.K &&
                       f1 == static_cast<double>(f0);
    return {keeps, static_cast<double>(f0), f0 * in.twoOverSr, delta * in.twoOverSr};
}

// The count a run's first sample leaves, as the render path passes it (0 where it is silent).
int32_t firstCount(const PitchRunIn &in) {
    const float f0 = pitchFromFc(in.fc[0]);
    int32_t K = -1;
    double f1 = 0.0;
    countPartials(f0, spacingHz(f0, in.fm1[0], in.detune[0]), in.Nmax, K, in.nyquist, f1);
    return K < 0 ? 0 : K;
}

#if defined(__i386__)
#pragma GCC pop_options
#endif

namespace {

// Runs of pitches as a vibrato, a sweep or a jump gives them, around a few notes, with the
// spacing at the pitch (fm1 0.1) or detuned; now and then a pitch the lanes cannot take.
struct PitchRun {
    float fc[LANE_BLOCK], fm1[LANE_BLOCK], detune[LANE_BLOCK];
};

PitchRun randomRun(std::mt19937 &rng, int32_t count) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const float hostile[] = {std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             -1e30f,
                             13.0f,
                             -15.5f,
                             9.0f};
    PitchRun r;
    const float centre = 0.5f + 0.4f * unit(rng);
    const float depth = rng() % 2 ? 1e-3f : 0.05f;
    const float fm1 = rng() % 3 == 0 ? 0.1f : 0.1f * unit(rng);
    const float detune = rng() % 2 ? 0.0f : unit(rng);
    for (int32_t j = 0; j < count; ++j) {
        r.fc[j] = rng() % 200 == 0 ? hostile[rng() % 6] : centre + depth * unit(rng);
        r.fm1[j] = fm1;
        r.detune[j] = detune;
    }
    return r;
}

} // namespace

TEST(PitchLanes, SureLanesEqualThePerSampleStepsBitForBit) {
    for (VectorUnit unit : vectorUnitsOfThisProcessor()) {
        const LanePasses &passes = *lanePasses(unit);
        std::mt19937 rng(311u);
        int64_t keeping = 0, needless = 0; // lanes that keep, and those of them left unsure
        for (int32_t round = 0; round < 4000; ++round) {
            const int32_t count = 1 + static_cast<int32_t>(rng() % LANE_BLOCK);
            const PitchRun r = randomRun(rng, count);
            const double sampleRate = rng() % 2 ? 44100.0 : 96000.0;
            PitchRunIn in{
                r.fc,          r.fm1, r.detune, count, 0, 1000, 0.5 * sampleRate, 2.0 / sampleRate,
                round % 3 == 0};
            in.Nmax = rng() % 4 == 0 ? static_cast<int32_t>(rng() % 40) : 1000;
            in.K = firstCount(in);
            PitchRunOut out;
            const uint64_t reported = passes.pitchRun(in, out) & lanesUpTo(count);
            for (int32_t j = 0; j < count; ++j) {
                const SampleSteps e = stepsOf(in, j);
                const bool isUnsure = ((reported >> j) & 1u) != 0;
                const bool audible = std::fabs(r.fc[j]) < 10.0f; // within the lanes' exponent
                keeping += e.keeps && audible ? 1 : 0;
                needless += e.keeps && audible && isUnsure ? 1 : 0;
                if (isUnsure) {
                    continue;
                }
                ASSERT_TRUE(e.keeps) << vectorUnitName(unit) << " round " << round << " lane " << j
                                     << ": fc " << r.fc[j] << " taken as keeping";
                ASSERT_EQ(out.pitch[j], e.pitch)
                    << vectorUnitName(unit) << " round " << round << " lane " << j;
                ASSERT_EQ(out.carrierStep[j], e.carrierStep) << vectorUnitName(unit);
                ASSERT_EQ(out.spacingStep[j], e.spacingStep) << vectorUnitName(unit);
            }
        }
        // A keeping lane at an audible pitch is left unsure only within 2^-46 of a float
        // boundary: about one in 2^21.
        EXPECT_LT(static_cast<double>(needless), 1e-3 * static_cast<double>(keeping))
            << vectorUnitName(unit);
        RecordProperty("needlessly_unsure_" + std::string(vectorUnitName(unit)),
                       std::to_string(needless) + " of " + std::to_string(keeping));
    }
}
