// The "hq" held sub-block's rotation tables, kept while the steps and count they were built for
// hold (a held note builds them once): about 3 KB, allocated with the module.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "oscillator/lanes/lane_passes.h"

// A double's bits, for keys that tell values apart exactly (NaN and -0 included).
static inline uint64_t bitsOf(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Steps (bit patterns) and count of a sub-block.
struct RotationKey {
    uint64_t carrierStep = 0, spacingStep = 0, combStep = 0;
    int32_t K = -1; // -1: none
    bool operator==(const RotationKey &o) const {
        return carrierStep == o.carrierStep && spacingStep == o.spacingStep &&
               combStep == o.combStep && K == o.K;
    }
};

struct HeldRotations {
    RotationKey built;                     // what the tables hold
    RotationKey seen;                      // the last sub-block that asked for others
    RotationTable tables[ROTATION_TABLES]; // by RotationIndex
};

// Near the closed form's pole (|A| near 1, D = (1 - z e^(i beta)) (1 - z e^(-i beta)) near 0)
// the rotation's ulps in cos beta, rounded unlike the per-sample sine's, are divided by |D|:
// about 2.5e-16 / |D| of the output, |D| down to e (e + 2 |zi|) with e = ||A| - 1| (3e-9 at
// A = 1.0001 with z real). Rotations serve where that bound keeps the error within 1e-10, a
// tenth of the "hq" bound; the per-lane sines elsewhere.
constexpr double ROTATION_POLE_MARGIN = 2.5e-6;

// True where rotations hold the bound for ratio A with z's imaginary part zi (0 where zi varies
// or is unknown: the tighter test).
static inline bool rotationHolds(double A, double zi) {
    const double e = std::fabs(std::fabs(A) - 1.0);
    return e * (e + 2.0 * std::fabs(zi)) >= ROTATION_POLE_MARGIN;
}

// True where r's tables are those of the steps (half-turns per sample, as the running sums add
// them; the comb's 0 where it holds) and the count K >= 0, built with the "hq" vector sine when a
// second sub-block in a row asks for them: building costs about 110 instructions per sample of one
// sub-block (AVX2), more than the per-lane sines it replaces, so a pitch new in every sub-block
// builds none. False too where a step is not finite or LANE_BLOCK K steps leave 2^40 half-turns.
bool rotationsFor(HeldRotations &r, double carrierStep, double spacingStep, double combStep,
                  int32_t K, SinCosLanes sinCos);
