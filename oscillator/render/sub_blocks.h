// The render path where a vector unit serves: the block in sub-blocks of up to LANE_BLOCK
// samples, each either held (every input one value throughout: its first sample's steps stand for
// all of them, its phases and level are formed in lanes) or moving (every sample's steps, then
// the sums of the sounding ones in lanes). Held to the per-sample loop within 1e-6 of the output
// scale on the fast path and 1e-9 with "hq"; silent samples, the partial count and every branch
// the steps take are the per-sample loop's own.
#pragma once

#include <cstdint>

#include "oscillator/lanes/lane_passes.h"
#include "oscillator/render/held_ratio.h"
#include "oscillator/render/held_rotations.h"
#include "oscillator/render/sample_steps.h"

// Renders samples 0..sampleCount-1 of io, carrying st and the ratio's and rotations' caches. hq:
// the "hq" path; oneSided: Mode 1; passes: those of the vector unit that serves.
void renderSubBlocks(LoopState &st, HeldRatio &ratio, HeldRotations &rotations,
                  const LoopConstants &lc, const BlockIo &io, int32_t sampleCount, double sign1,
                  double sign2, bool hq, bool oneSided, const LanePasses &passes);
