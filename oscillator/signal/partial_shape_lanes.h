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

// W floats from p, widened exactly.
template <class L> inline typename L::D loadFloatLanes(const float *p) {
    typename L::F2 f = {};
    std::memcpy(&f, p, L::W * sizeof(float));
    return widenLow<L>(f);
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

} // namespace

#endif
