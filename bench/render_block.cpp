// renderBlock: ns per sample of one voice, called directly on a linked-in Module with every
// input constant. Pitch 440 Hz, spacing 2 Hz (so up to 10805 partials fit below 22050 Hz), the
// partial count set by "N", amplitude ratio 0.9; split 0 forces the per-sample loop, split 1
// lets the module take its widest vector unit.
#include "oscillator/Module.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

void renderBlockBench(benchmark::State &state) {
    const int16_t hq = static_cast<int16_t>(state.range(0));
    const int16_t mode = static_cast<int16_t>(state.range(1));
    const int32_t K = static_cast<int32_t>(state.range(2));
    const bool split = state.range(3) != 0;
    constexpr int32_t BLOCK = 1024;

    Module module(nullptr, 0);
    module.open();
    std::vector<float> fc(BLOCK, 0.5f), fm1(BLOCK, 0.0f), N(BLOCK, K / 10.0f), a(BLOCK, 0.09f),
        gate(BLOCK, 1.0f), detune(BLOCK, 0.2f), zero(BLOCK, 0.0f), combfreq(BLOCK, 0.01f),
        outl(BLOCK), outr(BLOCK);
    module.m_fc = fc.data();
    module.m_fm1 = fm1.data();
    module.m_N = N.data();
    module.m_a = a.data();
    module.m_gate = gate.data();
    module.m_detune = detune.data();
    module.m_sync = zero.data();
    module.m_combfreq = combfreq.data();
    module.m_combphase = zero.data();
    module.m_outputl = outl.data();
    module.m_outputr = outr.data();
    module.m_mode = mode;
    module.m_cyclic = 1;
    module.m_hq = hq;
    if (!split) {
        module.m_vector_unit = VectorUnit::None; // the per-sample loop
    }

    for (auto _ : state) {
        module.renderBlock(0, BLOCK);
        benchmark::DoNotOptimize(outl.data());
        benchmark::DoNotOptimize(outr.data());
    }
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * BLOCK,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(renderBlockBench)
    ->ArgNames({"hq", "mode", "K", "split"})
    ->ArgsProduct({{0, 1}, {1, 2}, {10, 1000, 10000}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);
