// A fixed amount of rendering for callgrind to count: one sounding voice, set up as the process
// entry benchmark sets it up, then `blocks` process calls inside countedProcessCalls, the one
// function callgrind.sh collects (--collect-atstart=no --toggle-collect=countedProcessCalls).
// Usage: tarn_count_instructions [--plugin PATH] HQ MODE K BLOCK SAMPLES [MODULATED]; prints
// what was rendered. MODULATED 1 gives "a", "combfreq" and "combphase" a new value at every
// sample of the block, drawn as the modulated process entry benchmark draws them; 2 moves "fc"
// too (a vibrato of a few cents); 3 moves "fc" alone, as BM_ProcessEntryPitchMoving; 4 gives
// "fc" a new value every 64 samples, held in between (a block of 1024 then has 16). --plugin
// loads the plug-in from a shared object (tarn-dll.so: the Windows DLL) instead of the one
// linked in.
#include "bench/SoundingVoices.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

// Not inlined, not renamed: callgrind finds it by this name.
extern "C" __attribute__((noinline)) void countedProcessCalls(SoundingVoices &voices, long blocks) {
    for (long b = 0; b < blocks; ++b) {
        voices.process();
    }
}

int main(int argc, char **argv) {
    std::string plugin;
    if (argc >= 3 && std::strcmp(argv[1], "--plugin") == 0) {
        plugin = argv[2];
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: %s [--plugin PATH] HQ MODE K BLOCK SAMPLES [MODULATED]\n",
                     argv[0]);
        return 1;
    }
    const long hq = std::strtol(argv[1], nullptr, 10);
    const long mode = std::strtol(argv[2], nullptr, 10);
    const long K = std::strtol(argv[3], nullptr, 10);
    const long block = std::strtol(argv[4], nullptr, 10);
    const long samples = std::strtol(argv[5], nullptr, 10);
    const long modulated = argc == 7 ? std::strtol(argv[6], nullptr, 10) : 0;
    if (hq < 0 || hq > 1 || mode < 1 || mode > 2 || K < 0 || K > 100000 || block < 1 ||
        block > 4096 || samples < block || modulated < 0 || modulated > 4) {
        std::fprintf(stderr, "%s: argument out of range\n", argv[0]);
        return 1;
    }
    const VoiceSetup setup =
        setupForPartials(static_cast<int32_t>(K), static_cast<int16_t>(hq),
                         static_cast<int16_t>(mode), static_cast<int32_t>(block), 1);
    SoundingVoices voices(setup, plugin);
    if (voices.voices() == 0) {
        std::fprintf(stderr, "%s: no voice could be made (%s)\n", argv[0],
                     plugin.empty() ? "linked-in plug-in" : plugin.c_str());
        return 2;
    }
    if (modulated != 0) {
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> ratio(0.02f, 0.095f), comb(-0.1f, 0.1f);
        float *a = voices.input(0, "a");
        float *combfreq = voices.input(0, "combfreq");
        float *combphase = voices.input(0, "combphase");
        float *fc = voices.input(0, "fc");
        std::uniform_real_distribution<float> cents(-0.0003f, 0.0003f);
        float step = 0.0f;
        for (long i = 0; i < block; ++i) {
            if (modulated == 4) {
                step = i % 64 == 0 ? cents(rng) : step;
                fc[i] += step;
                continue;
            }
            if (modulated != 3) {
                a[i] = ratio(rng);
                combfreq[i] = comb(rng);
                combphase[i] = comb(rng);
            }
            fc[i] += modulated >= 2 ? cents(rng) : 0.0f;
        }
    }
    // Once outside the counted function, so that lazy symbol binding is not counted.
    voices.process();
    const long blocks = samples / block;
    countedProcessCalls(voices, blocks);
    if (!voices.sounding()) {
        std::fprintf(stderr, "%s: the voice does not sound\n", argv[0]);
        return 2;
    }
    std::printf("hq=%ld mode=%ld K=%d block=%ld modulated=%ld samples=%ld\n", hq, mode,
                partialCountOf(setup), block, modulated, blocks * block);
    return 0;
}
