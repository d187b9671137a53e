// The process entry with the pitch alone moving at audio rate: "fc" new at every sample (a few
// cents up or down), every other input held, so that no sub-block is held in pitch. Beside
// BM_ProcessEntry with the same arguments it gives what a moving pitch costs over a held one.
#include "bench/SoundingVoices.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

namespace {

void BM_ProcessEntryPitchMoving(benchmark::State &state) {
    const VoiceSetup setup =
        setupForPartials(static_cast<int32_t>(state.range(2)), static_cast<int16_t>(state.range(0)),
                         static_cast<int16_t>(state.range(1)), static_cast<int32_t>(state.range(3)),
                         static_cast<int32_t>(state.range(4)));
    SoundingVoices voices(setup);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> cents(-0.0003f, 0.0003f);
    for (int32_t v = 0; v < voices.voices(); ++v) {
        float *fc = voices.input(v, "fc");
        for (int32_t i = 0; i < setup.blockSize; ++i) {
            fc[i] += cents(rng);
        }
    }
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

} // namespace

BENCHMARK(BM_ProcessEntryPitchMoving)
    ->ArgNames({"hq", "mode", "K", "block", "voices"})
    ->ArgsProduct({{0, 1}, {1}, {10, 1000}, {16, 64}, {1}});
