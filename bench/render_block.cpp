// renderBlock: ns per sample of one voice, called directly on a linked-in Module with every
// input constant. Pitch 440 Hz, spacing 2 Hz (so up to 10805 partials fit below 22050 Hz), the
// partial count set by "N", amplitude ratio 0.9; lanes 0 forces the per-sample loop, lanes 1
// lets the module take its widest vector unit; renderBlockUnit names the unit.
#include "kernels/cpu_features.h"
#include "oscillator/module/Module.h"
#include "oscillator/module/ModuleProbe.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// One voice on a linked-in Module, every input held, outputs in its own buffers.
struct HeldVoice {
    Module module{nullptr, 0};
    std::vector<float> fc, fm1, N, a, gate, detune, zero, combfreq, outl, outr;

    HeldVoice(int16_t hq, int16_t mode, int32_t K, int32_t block)
        : fc(block, 0.5f), fm1(block, 0.0f), N(block, K / 10.0f), a(block, 0.09f),
          gate(block, 1.0f), detune(block, 0.2f), zero(block, 0.0f), combfreq(block, 0.01f),
          outl(block), outr(block) {
        module.open();
        const ModuleProbe probe(module);
        probe.fc() = fc.data();
        probe.fm1() = fm1.data();
        probe.N() = N.data();
        probe.a() = a.data();
        probe.gate() = gate.data();
        probe.detune() = detune.data();
        probe.sync() = zero.data();
        probe.combfreq() = combfreq.data();
        probe.combphase() = zero.data();
        probe.outputl() = outl.data();
        probe.outputr() = outr.data();
        probe.mode() = mode;
        probe.cyclic() = 1;
        probe.hq() = hq;
    }

    void time(benchmark::State &state) {
        const int32_t block = static_cast<int32_t>(outl.size());
        for (auto _ : state) {
            module.renderBlock(0, block);
            benchmark::DoNotOptimize(outl.data());
            benchmark::DoNotOptimize(outr.data());
        }
        if (std::all_of(outl.begin(), outl.end(), [](float x) { return x == 0.0f; })) {
            state.SkipWithError("the voice is silent");
            return;
        }
        state.counters["ns_per_sample"] =
            benchmark::Counter(static_cast<double>(state.iterations()) * block,
                               benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }
};

void renderBlockBench(benchmark::State &state) {
    HeldVoice voice(static_cast<int16_t>(state.range(0)), static_cast<int16_t>(state.range(1)),
                    static_cast<int32_t>(state.range(2)), 1024);
    if (state.range(3) == 0) {
        ModuleProbe(voice.module).vectorUnit() = VectorUnit::None; // the per-sample loop
    }
    voice.time(state);
}

// The block render path on one unit (2 AVX2, 3 AVX-512), block 64, Mode 1: what the 32-bit builds'
// cap at AVX2 costs, measured where both units run.
void renderBlockUnitBench(benchmark::State &state) {
    const auto unit = static_cast<VectorUnit>(state.range(2));
    if (unit > widestVectorUnit()) {
        state.SkipWithError("this processor or build lacks the unit");
        return;
    }
    HeldVoice voice(static_cast<int16_t>(state.range(0)), 1, static_cast<int32_t>(state.range(1)),
                    64);
    ModuleProbe(voice.module).vectorUnit() = unit;
    voice.time(state);
}

} // namespace

BENCHMARK(renderBlockBench)
    ->ArgNames({"hq", "mode", "K", "lanes"})
    ->ArgsProduct({{0, 1}, {1, 2}, {10, 1000, 10000}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(renderBlockUnitBench)
    ->ArgNames({"hq", "K", "unit"})
    ->ArgsProduct({{0, 1}, {10, 1000}, {2, 3}})
    ->Unit(benchmark::kMicrosecond);
