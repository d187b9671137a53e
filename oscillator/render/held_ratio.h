// The held sub-blocks' ratio and power, kept from block to block: the block render path's one
// piece of state besides the module's phases, level and rotation tables.
#pragma once

#include <cstdint>

#include "oscillator/lanes/lane_passes.h"

// z and its power for the (A, C, K) and path a held sub-block last sounded with, A and C compared
// bit for bit. They are pure functions of the key, so a stale entry is never wrong, only unused.
struct HeldRatio : HeldPower {
    uint64_t A = 0, C = 0;
    int32_t K = -1;
    bool hq = false;
};
