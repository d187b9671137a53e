// A moving sub-block: every sample's steps as the per-sample loop takes them, then the sounding
// samples' sums in the lane pass, but for those whose power or angle the lanes cannot take.
#include "kernels/cpu_features.h"
#include "oscillator/lanes/lane_passes.h"
#include "oscillator/lanes/unit_target.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

TARN_SSE2_DOUBLES_BEGIN

#include "oscillator/render/per_sample.h"
#include "oscillator/render/sub_blocks.h"
#include "oscillator/signal/partial_sum.h"

namespace {

bool withinHqLanes(const SoundingSample &s) {
    const double L = HQ_LANES_PHASE_LIMIT;
    return std::fabs(s.phiC) <= L && std::fabs(s.phiM) <= L && std::fabs(s.phiQ) <= L &&
           std::fabs(s.C) <= L && std::fabs(static_cast<double>(s.K) * s.phiM) <= L;
}

void gather(LaneBlock &b, const SoundingSample &s, double gain1, double gain2) {
    const int32_t j = b.count++;
    b.phiC[j] = s.phiC;
    b.phiM[j] = s.phiM;
    b.phiQ[j] = s.phiQ;
    b.C[j] = s.C;
    b.A[j] = s.A;
    b.K[j] = static_cast<double>(s.K);
    b.gain1[j] = gain1;
    b.gain2[j] = gain2;
}

// Lanes up to the next multiple of 8 repeat the last sample, so every lane holds real inputs.
void pad(LaneBlock &b) {
    const int32_t last = b.count - 1;
    for (int32_t j = b.count; j % 8 != 0; ++j) {
        b.phiC[j] = b.phiC[last];
        b.phiM[j] = b.phiM[last];
        b.phiQ[j] = b.phiQ[last];
        b.C[j] = b.C[last];
        b.A[j] = b.A[last];
        b.K[j] = b.K[last];
        b.gain1[j] = b.gain1[last];
        b.gain2[j] = b.gain2[last];
    }
}

// A moving sub-block: every sample's steps, as the per-sample loop takes them; the sounding
// samples' sums in the lanes, except where the lanes report a power or an angle they cannot take.
template <bool Hq> void renderMovingOnPath(const SubBlockContext &c, int32_t begin, int32_t end) {
    LoopState &st = c.st;
    const LoopConstants &lc = c.lc;
    const BlockIo &io = c.io;
    constexpr SinePath PATH = Hq ? SinePath::Hq : SinePath::FastSse;
    LaneBlock block;
    block.count = 0;
    int32_t index[LANE_BLOCK];
    for (int32_t i = begin; i < end; ++i) {
        SoundingSample s;
        if (!stepToSynthesis(st, lc, io, i, s)) {
            io.first[i] = io.second[i] = 0.0f;
            continue;
        }
        if (Hq && !withinHqLanes(s)) {
            perSampleSum<PATH>(s, lc.oneSided, st.level * lc.sign1, st.level * lc.sign2,
                               io.first[i], io.second[i]);
        } else {
            index[block.count] = i;
            gather(block, s, st.level * lc.sign1, st.level * lc.sign2);
        }
        advancePhases(st, s, lc.twoOverSr);
    }
    if (block.count == 0) {
        return;
    }
    pad(block);
    // Every sample of the sub-block gathered, in whole groups of 8: straight into the host's
    // buffers (the sub-block's inputs are all read by now).
    float first[LANE_BLOCK], second[LANE_BLOCK];
    const bool direct = block.count == end - begin && block.count % 8 == 0;
    float *const out1 = direct ? io.first + begin : first;
    float *const out2 = direct ? io.second + begin : second;
    uint64_t again = c.passes.moving[Hq ? 1 : 0][lc.oneSided ? 1 : 0](block, out1, out2) &
                     lanesUpTo(block.count);
    for (; again != 0; again &= again - 1) {
        const int32_t j = __builtin_ctzll(again);
        const SoundingSample s = {block.phiC[j], block.phiM[j],
                                  block.phiQ[j], block.C[j],
                                  block.A[j],    static_cast<int32_t>(block.K[j]),
                                  0.0,           0.0};
        perSampleSum<PATH>(s, lc.oneSided, block.gain1[j], block.gain2[j], out1[j], out2[j]);
    }
    for (int32_t j = 0; !direct && j < block.count; ++j) {
        io.first[index[j]] = first[j];
        io.second[index[j]] = second[j];
    }
}

} // namespace

void renderMovingSubBlock(const SubBlockContext &c, int32_t begin, int32_t end) {
    if (c.lc.hq) {
        renderMovingOnPath<true>(c, begin, end);
    } else {
        renderMovingOnPath<false>(c, begin, end);
    }
}

TARN_SSE2_DOUBLES_END
