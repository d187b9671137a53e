// The per-sample signal path over one block: for each sample the state steps, the closed-form
// sum and the phase advance, in that order. The module's loop on processors without a vector
// unit, the truth the block render path is held to, and that path's answer for the rare
// sub-blocks its lanes do not take.
// Static functions: each file compiles its own copy in its own arithmetic (on 32-bit builds,
// SSE2 doubles in the block render path's file, x87 elsewhere), never shared between the two.
#pragma once

#include <cstdint>

#include "oscillator/render/sample_steps.h"
#include "oscillator/signal/partial_sum.h"

// Path and OneSided are fixed per block: "hq", the processor and "Mode" do not change within
// a call.
template <SinePath Path, bool OneSided>
static inline void renderPerSample(LoopState &st, const LoopConstants &lc, const BlockIo &io,
                                 int32_t sampleCount, double sign1, double sign2) {
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
