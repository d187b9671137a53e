// The block in sub-blocks of up to LANE_BLOCK samples, each chosen once as held (every input one
// value), held in pitch (only "a" and the comb move) or moving; SSE2 doubles on 32-bit builds.
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
// the comb move (every comb phase finite: a sample with none would be silent); or the pitch
// moves.
enum class SubBlock { Held, PitchHeld, Moving };

SubBlock subBlockOf(const BlockIo &io, int32_t begin, int32_t end, PinsHeld held) {
    const float *const pins[] = {io.fc,     io.fm1,      io.gate,      io.detune,
                                 io.a,      io.combfreq, io.combphase};
    if (held(pins, 7, begin, end - begin)) {
        return SubBlock::Held;
    }
    if (!held(pins, 4, begin, end - begin)) { // the pitch pins
        return SubBlock::Moving;
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
        const SubBlock kind = subBlockOf(c.io, begin, end, c.passes.pinsHeld);
        if (kind == SubBlock::Moving) {
            renderMovingSubBlock(c, begin, end);
        } else {
            renderHeldSubBlock(c, begin, end, kind == SubBlock::PitchHeld);
        }
    }
}

TARN_SSE2_DOUBLES_END
