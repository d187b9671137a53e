// The block render path, where a vector unit serves: the block in sub-blocks of up to LANE_BLOCK
// samples, each held or moving. Held to the per-sample loop within 1e-6 of the output scale on
// the fast path and 1e-9 with "hq"; silent samples, the count and every branch are that loop's.
#pragma once

#include <cstdint>

#include "oscillator/lanes/lane_passes.h"
#include "oscillator/render/held_ratio.h"
#include "oscillator/render/held_rotations.h"
#include "oscillator/render/sample_steps.h"

// What every sub-block of one block reads and carries: the loop's state and constants, the pin
// buffers, the passes of the vector unit that serves, and the held sub-blocks' caches.
struct SubBlockContext {
    LoopState &st;
    const LoopConstants &lc;
    const BlockIo &io;
    const LanePasses &passes;
    HeldRatio &ratio;
    HeldRotations &rotations;
};

// Samples 0..sampleCount-1 of the block, each sub-block held or moving, chosen once
// (sub_blocks.cpp).
void renderSubBlocks(const SubBlockContext &c, int32_t sampleCount);

// Samples [begin, end) whose pitch, spacing and gate hold; ratioMoves: "a" or the comb moves
// (held_sub_block.cpp).
void renderHeldSubBlock(const SubBlockContext &c, int32_t begin, int32_t end, bool ratioMoves);

// Samples [begin, end) whose pitch moves while "a", the comb and the gate hold
// (ratio_held_sub_block.cpp); where the lanes cannot take them, as a moving sub-block.
void renderRatioHeldSubBlock(const SubBlockContext &c, int32_t begin, int32_t end);

// Samples [begin, end) whose pitch moves (moving_sub_block.cpp).
void renderMovingSubBlock(const SubBlockContext &c, int32_t begin, int32_t end);
