// partial_shape.h over lanes: "a", "combfreq" and "combphase" to amplitude ratio, comb step and
// ("cyclic" off) comb phase, operation for operation. Templates with internal linkage, compiled
// for one unit alone (lanes/unit_target.h).
#ifndef TARN_OSCILLATOR_SIGNAL_PARTIAL_SHAPE_LANES_H
#define TARN_OSCILLATOR_SIGNAL_PARTIAL_SHAPE_LANES_H

#include <cstdint>
#include <cstring>

#include "kernels/sin_cos_lanes.h"
#include "oscillator/signal/partial_shape.h"

namespace {

// W floats from p, widened exactly: one conversion from memory where a vector of W floats is the
// compiler's own.
template <class L> inline typename L::D loadFloatLanes(const float *p) {
    if constexpr (PAIRED_BY_BUILTINS<L>) {
        typename L::F2 f = {};
        std::memcpy(&f, p, L::W * sizeof(float));
        return widenLow<L>(f);
    } else {
        typename L::F f;
        std::memcpy(&f, p, sizeof f);
        return widenFloats<L>(f);
    }
}

// Samples [0, n) of the pins into A, C and, where `phases` is given, the comb phases.
template <class L>
void ratioInputsLanes(const float *a, const float *combfreq, const float *combphase, int32_t n,
                      double *A, double *C, double *phases) {
    using D = typename L::D;
    int32_t j = 0;
    for (; j + L::W <= n; j += L::W) {
        const D ratio = 10.0 * loadFloatLanes<L>(a + j);
        const D offset = ratio - 1.0;
        const typename L::I guarded = (offset < RATIO_GUARD) & (offset > -RATIO_GUARD);
        storeLanes<L>(A + j, guarded ? splat<D>(RATIO_NEAR_ONE) : ratio);
        storeLanes<L>(C + j, wrapOnceLanes<L>(10.0 * loadFloatLanes<L>(combfreq + j)));
        if (phases != nullptr) {
            storeLanes<L>(phases + j, wrapOnceLanes<L>(10.0 * loadFloatLanes<L>(combphase + j)));
        }
    }
    for (; j < n; ++j) { // the samples after the last whole group of W
        A[j] = amplitudeRatio(a[j]);
        C[j] = combStep(combfreq[j]);
        if (phases != nullptr) {
            phases[j] = combPhaseFollowing(combphase[j]);
        }
    }
}

// The lanes of bits of p[0, n), n >= 2W, that differ from p[0]: 2W floats at a time, the last
// group overlapping the one before where n is not a multiple of 2W.
template <class L, int32_t N>
[[gnu::always_inline]] inline typename LaneBits<typename L::F2>::B pinDiffers(const float *p,
                                                                              int32_t n) {
    using B = typename LaneBits<typename L::F2>::B;
    constexpr int32_t G = 2 * L::W;
    const int32_t length = N > 0 ? N : n;
    int32_t bits0;
    std::memcpy(&bits0, p, sizeof bits0);
    const B first = bits0 - B{};
    B differ = {};
    int32_t j = 0;
#pragma GCC unroll 16
    for (; j + G <= length; j += G) {
        B v;
        std::memcpy(&v, p + j, sizeof v);
        differ |= v ^ first;
    }
    if (j < length) {
        B v;
        std::memcpy(&v, p + length - G, sizeof v);
        differ |= v ^ first;
    }
    return differ;
}

template <class L, class B> [[gnu::always_inline]] inline bool anyBits(B differ) {
    typename L::I wide;
    std::memcpy(&wide, &differ, sizeof wide);
    int64_t any = 0;
    for (int32_t l = 0; l < L::W; ++l) {
        any |= wide[l];
    }
    return any != 0;
}

// The pins' differences gathered before one test; where one moves, each pin's tested alone by a
// second scan. A held sub-block, the common kind, never pays for it; keeping each pin's
// differences instead would spare the scan but add to every held sub-block.
template <class L, int32_t N>
[[gnu::always_inline]] inline uint32_t movingPinsOf(const float *const *pins, int32_t count,
                                                    int32_t begin, int32_t n) {
    typename LaneBits<typename L::F2>::B all = {};
    for (int32_t k = 0; k < count; ++k) {
        all |= pinDiffers<L, N>(pins[k] + begin, n);
    }
    if (!anyBits<L>(all)) {
        return 0;
    }
    uint32_t moving = 0;
    for (int32_t k = 0; k < count; ++k) {
        moving |= static_cast<uint32_t>(anyBits<L>(pinDiffers<L, N>(pins[k] + begin, n))) << k;
    }
    return moving;
}

// MovingPins over lanes.
template <class L>
uint32_t movingPinsLanes(const float *const *pins, int32_t count, int32_t begin, int32_t n) {
    if (n < 2 * L::W) {
        uint32_t moving = 0;
        for (int32_t k = 0; k < count; ++k) {
            const float *p = pins[k] + begin;
            for (int32_t j = 1; j < n; ++j) {
                if (std::memcmp(p + j, p, sizeof(float)) != 0) {
                    moving |= uint32_t{1} << k;
                    break;
                }
            }
        }
        return moving;
    }
    switch (n) { // the common sub-block lengths in loops of known length, unrolled
    case LANE_BLOCK:
        return movingPinsOf<L, LANE_BLOCK>(pins, count, begin, n);
    case LANE_BLOCK / 2:
        return movingPinsOf<L, LANE_BLOCK / 2>(pins, count, begin, n);
    case LANE_BLOCK / 4:
        return movingPinsOf<L, LANE_BLOCK / 4>(pins, count, begin, n);
    default:
        return movingPinsOf<L, 0>(pins, count, begin, n);
    }
}

} // namespace

#endif
