// The closed-form sum over many samples at once: the split loop's sounding samples gathered in
// structure-of-arrays form, and the passes that evaluate them on one vector unit each. Every
// pass computes, lane by lane, what partialSum computes for one sample.
#pragma once

#include <cstdint>

#include "kernels/cpu_features.h"

// Samples per gathered block: the split loop's stack scratch, about 6 KB.
constexpr int32_t LANE_BLOCK = 64;

// The sounding samples of one sub-block, lane j for the j-th of them. Inputs of the sum, the
// power z^(K+1) (w, R, from the reference power of the path) or a request that the pass form
// it, and the factors level * sign of the two outputs. Lanes from `count` up to the next
// multiple of 8 repeat the last sample.
struct LaneBlock {
    alignas(64) double phiC[LANE_BLOCK];  // carrier phase, half-turns
    alignas(64) double phiM[LANE_BLOCK];  // spacing phase, half-turns
    alignas(64) double phiQ[LANE_BLOCK];  // comb phase, half-turns
    alignas(64) double C[LANE_BLOCK];     // comb step, half-turns per partial
    alignas(64) double A[LANE_BLOCK];     // amplitude ratio
    alignas(64) double K[LANE_BLOCK];     // partial count, an integer >= 0
    alignas(64) double wr[LANE_BLOCK];    // z^(K+1), real part
    alignas(64) double wi[LANE_BLOCK];    // z^(K+1), imaginary part
    alignas(64) double R[LANE_BLOCK];     // normalisation magnitude, |R| <= 2^400
    alignas(64) double gain1[LANE_BLOCK]; // level * sign of the first signal
    alignas(64) double gain2[LANE_BLOCK]; // level * sign of the second signal
    uint64_t powerLanes;                  // bit j: lane j's power is left to the pass
    int32_t count;                        // sounding samples gathered, 1..LANE_BLOCK
    // Every lane has lane 0's A, C, K, power and comb phase, bit for bit; the split loop then
    // writes only lane 0 of those fields, and the passes read only lane 0 of them.
    bool held;
};

// Bits 0..count-1 of a lane mask (powerLanes, a pass's result), count in 0..LANE_BLOCK.
// Static, like the maths headers' functions: each file compiles its own copy.
static inline uint64_t lanesUpTo(int32_t count) {
    return count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
}

// Writes lane j's two output samples (after the gains and audibleSample's rule) to first[j]
// and second[j] for every lane j of the padded count. Where the pass forms the power it also
// tests it: the result has bit j set for a lane whose power dominates (|R| > 2^400, or R not
// finite) or, on the precise path, whose angle gamma = (K + 1) C pi is beyond the vector
// sine's range; those lanes' outputs are meaningless, and the caller evaluates them with
// partialSum. Lanes with a given power are never reported. Pure; no allocation.
using LanePass = uint64_t (*)(const LaneBlock &block, float *first, float *second);

// The same sums times the gains, kept in double, for the tests of the passes.
using LanePassDoubles = uint64_t (*)(const LaneBlock &block, double *first, double *second);

// sin and cos of n angles in radians (|a| below 1.6e6) with the precise passes' vector sine,
// n a multiple of 8; for its tests.
using SinCosLanes = void (*)(const double *angle, double *sinOut, double *cosOut, int32_t n);

// The power z^(K+1) of every lane of the padded count as the passes form it from the lane's A,
// C and K (powerLanes and the given powers ignored), into wr, wi and R; for its tests.
using PowerLanes = void (*)(const LaneBlock &block, double *wr, double *wi, double *R);

// The passes of one vector unit: fast path (the four-lane kernel's results) and precise path,
// each for Mode 2 (index 0) and Mode 1 (index 1), their double-precision twins, and the
// precise sine and the powers (fast, precise) they use.
struct LanePassTable {
    LanePass fast[2];
    LanePass precise[2];
    LanePassDoubles fastDoubles[2];
    LanePassDoubles preciseDoubles[2];
    SinCosLanes sinCos;
    PowerLanes powers[2];
};

// The pass for a unit, or null for VectorUnit::None.
LanePass lanePass(VectorUnit unit, bool precise, bool oneSided);
// The whole table of a unit; false where lanePass gives null, or above WIDEST_BUILT_UNIT.
bool lanePassTable(VectorUnit unit, LanePassTable &table);

// The tables of each width, from the files of that width. Call only when widestVectorUnit()
// reports that unit or a wider one. lanePassesAvx512 exists only where WIDEST_BUILT_UNIT is
// Avx512 (x86-64).
LanePassTable lanePassesSse2();
LanePassTable lanePassesAvx2();
LanePassTable lanePassesAvx512();
