// The block in sub-blocks of up to LANE_BLOCK samples, each chosen once as held (every input one
// value), held in pitch (only "a" and the comb move), held in ratio (only the pitch pins move) or
// moving; SSE2 doubles on 32-bit builds.
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/lanes/unit_target.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

TARN_SSE2_DOUBLES_BEGIN

#include "oscillator/render/sub_blocks.h"

namespace {

// What a sub-block's inputs do: every one holds; the pitch, spacing and gate hold while "a" and
// the comb move (every comb phase finite: a sample with none would be silent); the gate, "a"
// and the comb hold while the pitch moves; or the pitch and the ratio move.
enum class SubBlock { Held, PitchHeld, RatioHeld, Moving };

SubBlock subBlockOf(const BlockIo &io, int32_t begin, int32_t end, MovingPins movingPins) {
    // The pitch pins, the gate, then the ratio's and comb's pins.
    const float *const pins[] = {io.fc, io.fm1,      io.detune,   io.gate,
                                 io.a,  io.combfreq, io.combphase};
    constexpr uint32_t PITCH = 0x7, GATE = 0x8, RATIO_AND_COMB = 0x70;
    const uint32_t moving = movingPins(pins, 7, begin, end - begin);
    if (moving == 0) {
        return SubBlock::Held;
    }
    if ((moving & (PITCH | GATE)) != 0) {
        return (moving & (GATE | RATIO_AND_COMB)) == 0 ? SubBlock::RatioHeld : SubBlock::Moving;
    }
    for (int32_t i = begin; i < end; ++i) {
        if (!std::isfinite(io.combphase[i])) {
            return SubBlock::Moving;
        }
    }
    return SubBlock::PitchHeld;
}

} // namespace

void renderSubBlocks(const SubBlockContext &c, int32_t sampleCount) {
    for (int32_t begin = 0; begin < sampleCount; begin += LANE_BLOCK) {
        const int32_t end = sampleCount - begin < LANE_BLOCK ? sampleCount : begin + LANE_BLOCK;
        const SubBlock kind = subBlockOf(c.io, begin, end, c.passes.movingPins);
        if (kind != SubBlock::Held) {
            c.ratio.steadyValid = false; // the held run's pieces are about to change
        }
        if (kind == SubBlock::Moving) {
            renderMovingSubBlock(c, begin, end);
        } else if (kind == SubBlock::RatioHeld) {
            renderRatioHeldSubBlock(c, begin, end);
        } else {
            renderHeldSubBlock(c, begin, end, kind == SubBlock::PitchHeld);
        }
    }
}

TARN_SSE2_DOUBLES_END
