// Rotation tables from exact products (Dekker's), each entry within about 2 ulps of
// e^(i pi j K step); SSE2 doubles on 32-bit builds (lanes/unit_target.h), where x87's wider
// registers would break the split.
#include "oscillator/render/held_rotations.h"
#include "oscillator/lanes/unit_target.h"

#include <cmath>
#include <cstring>

TARN_SSE2_DOUBLES_BEGIN

#include "oscillator/signal/complex_power.h"

namespace {

// Beyond this many half-turns the product's reduction would no longer be exact (2^53), with a
// margin for the low part.
constexpr double ROTATION_TURNS_LIMIT = 0x1p40;

// x = hi + lo exactly, hi holding the top 26 bits: Veltkamp's split.
void split(double x, double &hi, double &lo) {
    const double c = 134217729.0 * x; // 2^27 + 1
    hi = c - (c - x);
    lo = x - hi;
}

// m step in half-turns, less a whole number of turns, for |m step| below ROTATION_TURNS_LIMIT:
// the product's high part p reduced exactly (p and 2 round(p / 2) are multiples of p's ulp),
// its error e (exact, Dekker) added once.
double turnsOf(double m, double step) {
    const double p = m * step;
    double mh, ml, sh, sl;
    split(m, mh, ml);
    split(step, sh, sl);
    const double e = ((mh * sh - p) + mh * sl + ml * sh) + ml * sl;
    return (p - 2.0 * std::nearbyint(p * 0.5)) + e;
}

void build(RotationTable &t, double K, double step, SinCosLanes sinCos) {
    double angle[LANE_BLOCK];
    for (int32_t j = 0; j < LANE_BLOCK; ++j) {
        angle[j] = turnsOf(static_cast<double>(j) * K, step) * PI_D;
    }
    sinCos(angle, t.s, t.c, LANE_BLOCK);
}

// The table of the sum (or, with sign -1, the difference) of two tables' angles: a product of
// entries within 2 ulps, so within about 5 ulps.
void turned(RotationTable &out, const RotationTable &a, const RotationTable &b, double sign) {
    for (int32_t j = 0; j < LANE_BLOCK; ++j) {
        const double bs = sign * b.s[j];
        out.s[j] = a.s[j] * b.c[j] + a.c[j] * bs;
        out.c[j] = a.c[j] * b.c[j] - a.s[j] * bs;
    }
}

} // namespace

bool rotationsFor(HeldRotations &r, double carrierStep, double spacingStep, double combStep,
                  int32_t K, SinCosLanes sinCos) {
    RotationKey key;
    key.carrierStep = bitsOf(carrierStep);
    key.spacingStep = bitsOf(spacingStep);
    key.combStep = bitsOf(combStep);
    key.K = K;
    if (key == r.built) {
        return true; // built, so within the limits below
    }
    const double most = static_cast<double>(LANE_BLOCK) * (static_cast<double>(K) + 1.0);
    if (!(std::fabs(carrierStep) * LANE_BLOCK < ROTATION_TURNS_LIMIT &&
          std::fabs(spacingStep) * most < ROTATION_TURNS_LIMIT &&
          std::fabs(combStep) * LANE_BLOCK < ROTATION_TURNS_LIMIT)) {
        return false;
    }
    if (!(key == r.seen)) {
        r.seen = key;
        return false;
    }
    if (key.carrierStep != r.built.carrierStep || r.built.K < 0) {
        build(r.tables[0], 1.0, carrierStep, sinCos);
    }
    if (key.spacingStep != r.built.spacingStep || r.built.K < 0) {
        build(r.tables[1], 1.0, spacingStep, sinCos);
    }
    if (key.combStep != r.built.combStep || r.built.K < 0) {
        build(r.tables[3], 1.0, combStep, sinCos);
    }
    build(r.tables[2], static_cast<double>(K), spacingStep, sinCos);
    const RotationTable &c = r.tables[ROTATION_CARRIER], &m = r.tables[ROTATION_SPACING];
    const RotationTable &k = r.tables[ROTATION_K_SPACING];
    turned(r.tables[ROTATION_DIFFERENCE], c, m, -1.0);
    turned(r.tables[ROTATION_TOP_LESS_ONE], c, k, 1.0);
    turned(r.tables[ROTATION_K1_SPACING], k, m, 1.0);
    turned(r.tables[ROTATION_TOP], r.tables[ROTATION_TOP_LESS_ONE], m, 1.0);
    r.built = key;
    return true;
}

TARN_SSE2_DOUBLES_END
