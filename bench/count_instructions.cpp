// A fixed amount of rendering for callgrind to count: one sounding voice, set up as the process
// entry benchmark sets it up, then `blocks` process calls inside countedProcessCalls, the one
// function callgrind.sh collects (--collect-atstart=no --toggle-collect=countedProcessCalls).
// Usage: tarn_count_instructions HQ MODE K BLOCK SAMPLES; prints what was rendered.
#include "bench/SoundingVoices.h"

#include <cstdio>
#include <cstdlib>

// Not inlined, not renamed: callgrind finds it by this name.
extern "C" __attribute__((noinline)) void countedProcessCalls(SoundingVoices &voices, long blocks) {
    for (long b = 0; b < blocks; ++b) {
        voices.process();
    }
}

int main(int argc, char **argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s HQ MODE K BLOCK SAMPLES\n", argv[0]);
        return 1;
    }
    const long hq = std::strtol(argv[1], nullptr, 10);
    const long mode = std::strtol(argv[2], nullptr, 10);
    const long K = std::strtol(argv[3], nullptr, 10);
    const long block = std::strtol(argv[4], nullptr, 10);
    const long samples = std::strtol(argv[5], nullptr, 10);
    if (hq < 0 || hq > 1 || mode < 1 || mode > 2 || K < 0 || K > 100000 || block < 1 ||
        block > 4096 || samples < block) {
        std::fprintf(stderr, "%s: argument out of range\n", argv[0]);
        return 1;
    }
    const VoiceSetup setup =
        setupForPartials(static_cast<int32_t>(K), static_cast<int16_t>(hq),
                         static_cast<int16_t>(mode), static_cast<int32_t>(block), 1);
    SoundingVoices voices(setup);
    // Once outside the counted function, so that lazy symbol binding is not counted.
    voices.process();
    const long blocks = samples / block;
    countedProcessCalls(voices, blocks);
    if (!voices.sounding()) {
        std::fprintf(stderr, "%s: the voice does not sound\n", argv[0]);
        return 2;
    }
    std::printf("hq=%ld mode=%ld K=%d block=%ld samples=%ld\n", hq, mode, partialCountOf(setup),
                block, blocks * block);
    return 0;
}
