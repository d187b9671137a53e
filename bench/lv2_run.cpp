// The LV2 instrument's run() through liblilv with 16 voices sounding (held notes, "poly" 16):
// time per output sample frame of the whole instance (ns_per_sample, on the CPU clock), for "hq"
// off and on, a few partial counts and host block sizes.
#include "lv2/Lv2Rig.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

void BM_Lv2Run16Voices(benchmark::State &state) {
    const uint32_t block = static_cast<uint32_t>(state.range(2));
    Lv2Rig rig(48000.0);
    if (!rig.ok()) {
        state.SkipWithError("the LV2 bundle did not load");
        return;
    }
    rig.control("hq") = static_cast<float>(state.range(0));
    rig.control("partials") = static_cast<float>(state.range(1));
    for (int i = 0; i < 16; ++i)
        rig.midi(0, {0x90, static_cast<uint8_t>(48 + i), 100});
    for (int i = 0; i < 100; ++i)
        rig.runDiscarding(block); // past the attack
    for (auto _ : state)
        rig.runDiscarding(block);
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * block,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_Lv2Run16Voices)
    ->ArgNames({"hq", "partials", "block"})
    ->ArgsProduct({{0, 1}, {20, 200}, {64, 256, 1024}});

} // namespace
