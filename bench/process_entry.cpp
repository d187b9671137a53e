// The module's process routine as a host calls it: through each record's process entry, once
// per block per voice, on voices made by makeModule, opened by the dispatcher and sounding a
// note. Reports ns per sample per voice and the partial count K the loop really sums.
#include "bench/SoundingVoices.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

namespace {

// Runs the timed loop on voices already set up, with the counters every variant reports.
void timeProcessCalls(benchmark::State &state, SoundingVoices &voices, const VoiceSetup &setup) {
    if (!voices.sounding()) {
        state.SkipWithError("the voices do not sound");
        return;
    }
    for (auto _ : state) {
        voices.process();
        benchmark::ClobberMemory();
    }
    if (!voices.sounding()) {
        state.SkipWithError("the voices fell silent while timed");
        return;
    }
    const double samples = static_cast<double>(state.iterations()) * setup.blockSize * setup.voices;
    state.counters["ns_per_sample_voice"] =
        benchmark::Counter(samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["K"] = partialCountOf(setup);
}

VoiceSetup setupFromArgs(const benchmark::State &state) {
    return setupForPartials(
        static_cast<int32_t>(state.range(2)), static_cast<int16_t>(state.range(0)),
        static_cast<int16_t>(state.range(1)), static_cast<int32_t>(state.range(3)),
        static_cast<int32_t>(state.range(4)));
}

// Every input constant: the common case of a held note.
void BM_ProcessEntry(benchmark::State &state) {
    const VoiceSetup setup = setupFromArgs(state);
    SoundingVoices voices(setup);
    timeProcessCalls(state, voices, setup);
}

// "a", "combfreq" and "combphase" different at every sample (A 0.2 to 0.95, comb step and
// phase anywhere in [-1, 1]), so nothing derived from them can be kept between samples; with
// "pitch" 1 "fc" too, a vibrato of a few cents.
void BM_ProcessEntryModulated(benchmark::State &state) {
    const VoiceSetup setup = setupFromArgs(state);
    const bool pitch = state.range(5) != 0;
    SoundingVoices voices(setup);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> ratio(0.02f, 0.095f), comb(-0.1f, 0.1f);
    for (int32_t v = 0; v < voices.voices(); ++v) {
        float *a = voices.input(v, "a");
        float *combfreq = voices.input(v, "combfreq");
        float *combphase = voices.input(v, "combphase");
        float *fc = voices.input(v, "fc");
        std::uniform_real_distribution<float> cents(-0.0003f, 0.0003f);
        for (int32_t i = 0; i < setup.blockSize; ++i) {
            a[i] = ratio(rng);
            combfreq[i] = comb(rng);
            combphase[i] = comb(rng);
            fc[i] += pitch ? cents(rng) : 0.0f;
        }
    }
    timeProcessCalls(state, voices, setup);
}

// "fc" held through each sub-block of 64 samples and new in the next (a few cents up or down),
// in blocks of 1024: every held sub-block has a step of its own.
void BM_ProcessEntryStepped(benchmark::State &state) {
    const VoiceSetup setup = setupFromArgs(state);
    SoundingVoices voices(setup);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> cents(-0.0003f, 0.0003f);
    for (int32_t v = 0; v < voices.voices(); ++v) {
        float *fc = voices.input(v, "fc");
        float step = 0.0f;
        for (int32_t i = 0; i < setup.blockSize; ++i) {
            step = i % 64 == 0 ? cents(rng) : step;
            fc[i] += step;
        }
    }
    timeProcessCalls(state, voices, setup);
}

// "fc" alone new at every sample (a few cents up or down), every other input held, so that no
// sub-block is held in pitch: beside BM_ProcessEntry, what a moving pitch costs over a held one.
void BM_ProcessEntryPitchMoving(benchmark::State &state) {
    const VoiceSetup setup = setupFromArgs(state);
    SoundingVoices voices(setup);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> cents(-0.0003f, 0.0003f);
    for (int32_t v = 0; v < voices.voices(); ++v) {
        float *fc = voices.input(v, "fc");
        for (int32_t i = 0; i < setup.blockSize; ++i) {
            fc[i] += cents(rng);
        }
    }
    timeProcessCalls(state, voices, setup);
}

// Powers that pass through subnormal doubles: A = 0.9 at K = 10000 (0.9^8192 is about 1e-375)
// or a tiny ratio A = 1e-30, whose square is already 1e-60.
void BM_ProcessEntrySubnormal(benchmark::State &state) {
    VoiceSetup setup = setupFromArgs(state);
    setup.a = state.range(5) != 0 ? 1e-31f : 0.09f;
    SoundingVoices voices(setup);
    timeProcessCalls(state, voices, setup);
}

// Cost at the sample rates hosts run at; K 1000 fits below Nyquist at every one of them.
void BM_ProcessEntryRate(benchmark::State &state) {
    VoiceSetup setup = setupForPartials(1000, static_cast<int16_t>(state.range(0)), 1, 64, 1);
    setup.sampleRate = static_cast<float>(state.range(1));
    SoundingVoices voices(setup);
    timeProcessCalls(state, voices, setup);
}

} // namespace

BENCHMARK(BM_ProcessEntry)
    ->ArgNames({"hq", "mode", "K", "block", "voices"})
    ->ArgsProduct({{0, 1}, {1, 2}, {1, 10, 100, 1000, 10000}, {16, 64, 1024}, {1, 16}});

BENCHMARK(BM_ProcessEntryModulated)
    ->ArgNames({"hq", "mode", "K", "block", "voices", "pitch"})
    ->ArgsProduct({{0, 1}, {1, 2}, {10, 1000, 10000}, {64}, {1, 16}, {0, 1}});

BENCHMARK(BM_ProcessEntryStepped)
    ->ArgNames({"hq", "mode", "K", "block", "voices"})
    ->ArgsProduct({{0, 1}, {1}, {1000}, {1024}, {1}});
BENCHMARK(BM_ProcessEntryPitchMoving)
    ->ArgNames({"hq", "mode", "K", "block", "voices"})
    ->ArgsProduct({{0, 1}, {1}, {10, 1000}, {16, 64}, {1}});

BENCHMARK(BM_ProcessEntrySubnormal)
    ->ArgNames({"hq", "mode", "K", "block", "voices", "tinyA"})
    ->ArgsProduct({{0, 1}, {1, 2}, {10, 1000, 10000}, {64}, {1}, {0, 1}});

BENCHMARK(BM_ProcessEntryRate)
    ->ArgNames({"hq", "rate"})
    ->ArgsProduct({{0, 1}, {44100, 48000, 96000, 192000}});
