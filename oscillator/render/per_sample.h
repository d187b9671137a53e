// The per-sample loop: each sample's steps, closed-form sum and phase advance. The path without a
// vector unit, the truth the block path is held to, and its answer where the lanes cannot go.
// Static functions, one copy per file in its arithmetic (lanes/unit_target.h).
#pragma once

#include <cstdint>

#include "oscillator/render/sample_steps.h"
#include "oscillator/signal/partial_sum.h"

// Path and OneSided are fixed per block (lc.hq, the processor, lc.oneSided).
template <SinePath Path, bool OneSided>
static inline void perSampleLoop(LoopState &st, const LoopConstants &lc, const BlockIo &io,
                                 int32_t sampleCount) {
    const double sign1 = lc.sign1, sign2 = lc.sign2;
    for (int32_t i = 0; i < sampleCount; ++i) {
        SoundingSample s;
        if (!stepToSynthesis(st, lc, io, i, s)) {
            io.first[i] = io.second[i] = 0.0f;
            continue;
        }
        const PartialSumOut o = partialSum<Path>(s.phiC, s.phiM, s.phiQ, s.C, s.A, s.K, OneSided);
        io.first[i] = audibleSample(o.first * (st.level * sign1));
        io.second[i] = audibleSample(o.second * (st.level * sign2));
        advancePhases(st, s, lc.twoOverSr);
    }
}

// Samples [begin, end) per sample, on the sines of Path: a block without a vector unit, or a
// sub-block the lanes do not take.
template <SinePath Path>
static inline void renderPerSample(LoopState &st, const LoopConstants &lc, const BlockIo &io,
                                   int32_t begin, int32_t end) {
    const BlockIo part = blockIoFrom(io, begin);
    if (lc.oneSided) {
        perSampleLoop<Path, true>(st, lc, part, end - begin);
    } else {
        perSampleLoop<Path, false>(st, lc, part, end - begin);
    }
}

// One sample's sum, times its gains, to the outputs: a sample the lanes report.
template <SinePath Path>
static inline void perSampleSum(const SoundingSample &s, bool oneSided, double gain1, double gain2,
                                float &first, float &second) {
    const PartialSumOut o = partialSum<Path>(s.phiC, s.phiM, s.phiQ, s.C, s.A, s.K, oneSided);
    first = audibleSample(o.first * gain1);
    second = audibleSample(o.second * gain2);
}
