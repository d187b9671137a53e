// The passes of each vector unit over a sub-block's lanes: a held run, a moving sub-block's
// gathered samples, the ratio inputs; lane by lane what partialSum computes for one sample.
#pragma once

#include <cstdint>

#include "kernels/cpu_features.h"

// Samples per sub-block: the stack scratch of a moving one is about 5 KB.
constexpr int32_t LANE_BLOCK = 64;

// e^(i pi j step) for j = 0..LANE_BLOCK-1 and one phase step in half-turns: sample j's sine and
// cosine follow from sample 0's by one complex product.
struct RotationTable {
    double s[LANE_BLOCK], c[LANE_BLOCK];
};

// The tables of a held run, by the angle each turns: the carrier theta, the spacing beta, K beta,
// the comb phase, and the sums theta - beta, theta + (K+1) beta, theta + K beta, (K+1) beta.
enum RotationIndex : int32_t {
    ROTATION_CARRIER,
    ROTATION_SPACING,
    ROTATION_K_SPACING,
    ROTATION_COMB,
    ROTATION_DIFFERENCE,
    ROTATION_TOP,
    ROTATION_TOP_LESS_ONE,
    ROTATION_K1_SPACING,
    ROTATION_TABLES
};

// partialSum for a held run with its constants folded once (signal/partial_sum.h's foldHeld):
// sample j's signals are Re and flip Im of X / D, X a sum of its sines with the weights p
// (one-sided: sin theta, sin(theta - beta), sin(theta + (K+1) beta), sin(theta + K beta);
// two-sided: sin theta times 1, cos((K+1) beta), cos(K beta)), which hold the comb phase's turn
// where it holds, the normalisation (A - 1) / (2 (R - 1)), and the first signal's level and sign
// where the level holds.
struct HeldFold {
    double pr[4], pi[4]; // the complex weights
    double zr2, zi2;     // zr^2 and zi^2, for D as partialSum forms it
    double flip;         // sign2 / sign1
};

// The "hq" vector sine reduces by multiples of pi/2 exactly up to 2^20 of them; angles (in
// half-turns) beyond this bound take the per-sample sum.
constexpr double HQ_LANES_PHASE_LIMIT = 1e5;

// z = A e^(i pi C), its power w = z^(K+1) and the normalisation magnitude R, |R| <= 2^400 in a
// held run: a held ratio's, formed once for the run.
struct HeldPower {
    double zr = 0.0, zi = 0.0, wr = 0.0, wi = 0.0, R = 0.0;
};

// A run of 1..LANE_BLOCK samples whose pitch, spacing and gate hold, or whose ratio, comb, gate
// and count hold while the pitch moves. Sample i (from 0) sounds with the phases wrap(start + i
// step) or those given, the level `level` or, while the voice fades, levels[i], and sample 0's
// count; with sample 0's ratio, comb and power too where they hold, or else each sample's own
// ratio, comb step and comb phase, and a power formed per lane.
struct HeldRun : HeldPower {
    double carrier, carrierStep; // half-turns: sample 0's phase, the step per sample
    double spacing, spacingStep;
    double comb, combStep; // sample 0's comb phase (after its update); step 0 with "cyclic" off
    double level;          // every sample's level, unless levels is given
    const double *levels;  // null, or each sample's level while the voice fades
    double sign1, sign2;   // the factors of the two signals
    double A, K;           // ratio and partial count, with the ratio's z and power (HeldPower)
    // Null where the ratio and comb hold; else each sample's A, comb step and comb phase (padded
    // to a multiple of 8), in place of A, HeldPower, comb and combStep.
    const double *ratios, *combSteps, *combPhases;
    // "hq" only, else null: the tables by RotationIndex, and sin, cos of the carrier, the
    // spacing, K times the spacing and the comb at sample 0 (in that order; the comb's read only
    // where it rotates). Each sample's sines, or its angle sums where the ratio holds, are then
    // sample 0's turned, in place of the sines of start + i step.
    const RotationTable *rotations;
    double start[8];
    const HeldFold *fold; // where the ratio holds: its closed form folded
    // Where the pitch moves (the ratio, comb and gate holding), each sample's carrier and spacing
    // phases (padded to a multiple of 8), in place of the starts and steps; else null.
    const double *carriers, *spacings;
    int32_t count;
};

// A sub-block whose pitch moves while the ratio, comb and gate hold: its pins from its first
// sample, and the count K >= 0 that its first sample's steps left.
struct PitchRunIn {
    const float *fc, *fm1, *detune;
    int32_t count;   // 1..LANE_BLOCK
    int32_t K, Nmax; // the cached count and the partial limit
    double nyquist, twoOverSr;
    bool foldSpacing; // "Mode" exactly 2
};

// Each sample's pitch (Hz, a float's value) and its carrier and spacing steps (half-turns per
// sample, f0 twoOverSr and delta twoOverSr), padded to a multiple of 8.
struct PitchRunOut {
    alignas(64) double pitch[LANE_BLOCK];
    alignas(64) double carrierStep[LANE_BLOCK];
    alignas(64) double spacingStep[LANE_BLOCK];
    bool largeSteps; // a step beyond +-2 (or NaN) among the sure lanes' count
};

// The sounding samples of a moving sub-block, lane j for the j-th of them: the inputs of
// partialSum and the factors level * sign of the two outputs. Lanes from `count` up to the next
// multiple of 8 repeat the last sample.
struct LaneBlock {
    alignas(64) double phiC[LANE_BLOCK]; // carrier phase, half-turns
    alignas(64) double phiM[LANE_BLOCK]; // spacing phase, half-turns
    alignas(64) double phiQ[LANE_BLOCK]; // comb phase, half-turns
    alignas(64) double C[LANE_BLOCK];    // comb step, half-turns per partial
    alignas(64) double A[LANE_BLOCK];    // amplitude ratio
    alignas(64) double K[LANE_BLOCK];    // partial count, an integer >= 0
    alignas(64) double gain1[LANE_BLOCK];
    alignas(64) double gain2[LANE_BLOCK];
    int32_t count; // 1..LANE_BLOCK
};

// Bits 0..count-1 of a lane mask, count in 0..LANE_BLOCK. Static, like the maths headers'
// functions: each file compiles its own copy.
static inline uint64_t lanesUpTo(int32_t count) {
    return count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
}

// Writes the run's samples 0..count-1 of both outputs, after the gains and audibleSample's rule.
// Where the ratio moves, returns bit i for a sample whose power dominates or, with "hq", whose
// gamma is beyond the vector sine, as MovingPass does; 0 where it holds.
using HeldRunPass = uint64_t (*)(const HeldRun &run, float *first, float *second);

// Writes lane j's two outputs to first[j] and second[j] for every lane of the padded count,
// forming each lane's power z^(K+1). Returns bit j for a lane whose power dominates (|R| > 2^400,
// or R not finite) or, on the "hq" path, whose angle gamma = (K + 1) C pi is beyond the vector
// sine: those lanes' outputs are meaningless, and the caller evaluates them with partialSum.
using MovingPass = uint64_t (*)(const LaneBlock &block, float *first, float *second);

// Samples [0, n) of "a", "combfreq" and "combphase" to each one's amplitude ratio and comb step,
// and where `phases` is given the comb phase of "cyclic" off: partial_shape.h's functions.
using RatioInputs = void (*)(const float *a, const float *combfreq, const float *combphase,
                             int32_t n, double *A, double *C, double *phases);

// The steps of a sub-block whose pitch moves, up to its phases: writes every sample's pitch and
// steps, and returns bit j for a sample the lanes leave to the per-sample steps: a pitch whose
// rounding to float they cannot be sure of (1 in about 10^7), an "fc" beyond their range or not
// finite, or a count K that does not keep (countPartials would recount).
using PitchRunPass = uint64_t (*)(const PitchRunIn &in, PitchRunOut &out);

// sin and cos of n angles in radians (|a| below 1.6e6) with the "hq" vector sine, n a multiple
// of 8; for its tests.
using SinCosLanes = void (*)(const double *angle, double *sinOut, double *cosOut, int32_t n);

// Bit k set where pin k (of `count` <= 32) moves: not all its floats [begin, begin + n), n >= 1,
// have the bit pattern of the one at begin.
using MovingPins = uint32_t (*)(const float *const *pins, int32_t count, int32_t begin, int32_t n);

// The passes of one vector unit, [hq][oneSided].
struct LanePasses {
    HeldRunPass held[2][2];
    MovingPass moving[2][2];
    RatioInputs ratioInputs;
    PitchRunPass pitchRun;
    SinCosLanes sinCos;
    MovingPins movingPins;
};

// The passes of a unit; null for VectorUnit::None and above WIDEST_BUILT_UNIT.
const LanePasses *lanePasses(VectorUnit unit);

// The passes of each unit, from that unit's file. Use only when widestVectorUnit() reports that
// unit or a wider one. AVX512_PASSES exists only where WIDEST_BUILT_UNIT is Avx512 (x86-64).
extern const LanePasses SSE2_PASSES;
extern const LanePasses AVX2_PASSES;
extern const LanePasses AVX512_PASSES;
