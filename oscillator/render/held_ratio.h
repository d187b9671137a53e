// The held sub-blocks' ratio and power, kept from block to block: the block render path's one
// piece of state besides the module's phases, level and rotation tables.
#pragma once

#include <cstdint>

#include "oscillator/lanes/lane_passes.h"
#include "oscillator/render/held_rotations.h"
#include "oscillator/render/sample_steps.h"

// The words of a held sub-block's plan key.
constexpr int32_t HELD_PLAN_WORDS = 7;

// z and its power for the (A, C, K) and path a held sub-block last sounded with, A and C compared
// bit for bit. They are pure functions of the key, so a stale entry is never wrong, only unused.
struct HeldRatio : HeldPower {
    uint64_t A = 0, C = 0;
    int32_t K = -1;
    bool hq = false;
    // The held comb phase's sine and cosine, for the phase Q (bits) on the path hqQ.
    uint64_t Q = ~uint64_t{0};
    bool hqQ = false;
    double sq = 0.0, cq = 1.0;
    // The folded closed form of the ratio and comb above, for the first signal's gain (bits),
    // the second's sign, the Mode and whether the comb turns; stale once foldValid is false.
    HeldFold fold = {};
    bool foldValid = false;
    uint64_t foldGain = 0;
    double foldSign2 = 0.0;
    bool foldOneSided = false, foldCombTurns = false;
    // A held sub-block's first steps (stepToSynthesis) for the key `plan` (heldPlanKey): its
    // sounding sample but the phases, and the pitch cache and count after it. A pure function of
    // the key, as the ratio is.
    uint64_t plan[HELD_PLAN_WORDS] = {};
    bool planValid = false;
    SoundingSample planned = {};
    float plannedPitch = 0.0f, plannedPitchFc = 0.0f;
    int32_t plannedK = -1;
    // The carrier's and the spacing's last stretches.
    PhaseStride carrierStride, spacingStride;
    // The run of the last held sub-block, where it took the planned steps and the lanes took it
    // whole at a held level: a sub-block with the same plan, length, level and settings is the
    // same run but for its phases. Cleared by any sub-block that is not held. The run keeps its
    // level and signs; beside it, the settings it does not.
    HeldRun steady = {};
    bool steadyValid = false;
    uint64_t steadyTwoOverSr = 0;
    bool steadyOneSided = false, steadyHq = false;
};

// z and its power for (A, C, K) on the path ("hq" or fast), formed anew only where one of them
// changed: a held note forms them once.
void formRatio(HeldRatio &r, bool hq, double A, double C, int32_t K);

// The closed form of the ratio formed last by formRatio (run.A) folded for the run and Mode:
// formed anew only where the ratio or what the fold reads of the run changed (the comb phase
// where it holds, a turning comb leaving its turn to each sample; the first signal's gain, sign1
// times the level where it holds; the signs).
const HeldFold &foldRatio(HeldRatio &r, const HeldRun &run, bool oneSided);

// A held run's level: `level` for every sample where it holds, else each sample's stepped down
// into `levels`, padded to a multiple of 8 (the lanes past the run's end read real levels too).
// Returns the level after the run's n samples.
static inline double runLevels(HeldRun &run, double level, double decayStep, int32_t n,
                               double *levels) {
    const bool fading = !(decayStep == 0.0);
    run.level = levelAfterSteps(level, decayStep, n, fading ? levels : nullptr);
    for (int32_t i = n; fading && i % 8 != 0; ++i) {
        levels[i] = levels[n - 1];
    }
    run.levels = fading ? levels : nullptr;
    return run.level;
}
