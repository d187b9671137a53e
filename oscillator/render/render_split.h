// The split render loop: per sub-block of 64 samples, a sequential pass over the cheap state
// that writes silent samples at once and gathers the sounding ones, then one vector pass over
// their closed forms. Outputs and state equal the per-sample loop's bit for bit (fast path),
// or within 1e-9 of the output scale ("hq").
#pragma once

#include <cstdint>

#include "oscillator/lanes/partial_sum_lanes.h"
#include "oscillator/render/sample_steps.h"

// Renders samples 0..sampleCount-1 of io, carrying st. precise: "hq"; oneSided: Mode 1; pass:
// the lane pass for that path and mode. The power z^(K+1) is formed only for a new (A, C, K):
// in the sequential pass where the sub-block's inputs are held, in the lane pass where they
// move. Samples whose power dominates (|R| > 2^400), and "hq" samples with angles beyond the
// vector sine's range, take the per-sample sum.
void renderSplit(LoopState &st, const LoopConstants &lc, const BlockIo &io, int32_t sampleCount,
                 double sign1, double sign2, bool precise, bool oneSided, LanePass pass);

// The per-sample loop compiled as the split loop is (with SSE2 doubles on 32-bit builds, where
// the module's own per-sample loop keeps x87): what renderSplit reproduces, bit for bit on the
// fast path. Fast path with the four-lane kernel, or "hq".
void renderSamplesLikeSplit(LoopState &st, const LoopConstants &lc, const BlockIo &io,
                            int32_t sampleCount, double sign1, double sign2, bool precise,
                            bool oneSided);
