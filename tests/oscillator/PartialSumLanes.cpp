// The moving sub-blocks' lane pass against the per-sample sum, narrowed to the outputs: fast
// path bit for bit, "hq" within 1e-9 plus one float step, every lane forming its own power and
// the lanes the render path must evaluate itself reported exactly; and the "hq" vector sine
// against long double sinl and cosl. On every vector unit of this processor.
#include "kernels/cpu_features.h"
#include "oscillator/lanes/lane_passes.h"
#include "support/vector_units.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

// The per-sample sums and powers the passes reproduce, in the arithmetic of the block render
// path: SSE2 doubles on 32-bit builds too, where this file's other code keeps x87.
#if defined(__i386__)
#pragma GCC push_options
#pragma GCC target("sse2", "fpmath=sse")
#endif

#include "kernels/sin_cos_pi4.h"
#include "oscillator/render/sample_steps.h"
#include "oscillator/signal/complex_power.h"
#include "oscillator/signal/partial_sum.h"

// External linkage: GCC gives internal functions of an SSE2 region an SSE calling convention
// that callers outside it cannot use.
PowerOfRatio powerFor(bool hq, double A, double C, int32_t K) {
    if (hq) {
        return hqPower(A, C, K);
    }
    double sC, cC, unused[6];
    sinCosPi4(C, sC, cC, C, unused[0], unused[1], C, unused[2], unused[3], C, unused[4], unused[5]);
    return fastPower(A * cC, A * sC, K);
}

// Lane j's sum times its gains, narrowed as the outputs are.
template <SinePath Path>
void reference(const LaneBlock &b, int32_t j, bool oneSided, float &first, float &second) {
    const PartialSumOut o = partialSum<Path>(b.phiC[j], b.phiM[j], b.phiQ[j], b.C[j], b.A[j],
                                             static_cast<int32_t>(b.K[j]), oneSided);
    first = audibleSample(o.first * b.gain1[j]);
    second = audibleSample(o.second * b.gain2[j]);
}

// The lanes a pass must report: those whose power partialSum takes into its dominant branch,
// and with "hq" those whose gamma is beyond the vector sine.
uint64_t lanesToReport(const LaneBlock &b, bool hq) {
    uint64_t lanes = 0;
    for (int32_t j = 0; j < b.count; ++j) {
        const int32_t K = static_cast<int32_t>(b.K[j]);
        const double gamma = (b.C[j] * (static_cast<double>(K) + 1.0)) * PI_D;
        const bool dominant =
            !(std::fabs(powerFor(hq, b.A[j], b.C[j], K).R) <= DOMINANT_POWER_LIMIT);
        const bool outOfRange = hq && !(std::fabs(gamma) < 1.6e6);
        if (dominant || outOfRange) {
            lanes |= uint64_t{1} << j;
        }
    }
    return lanes;
}

#if defined(__i386__)
#pragma GCC pop_options
#endif

namespace {

std::string nameOf(VectorUnit u) {
    return vectorUnitName(u);
}

// Every unit of this processor, with its passes.
std::vector<std::pair<VectorUnit, LanePasses>> tablesOfThisProcessor() {
    std::vector<std::pair<VectorUnit, LanePasses>> tables;
    for (VectorUnit u : vectorUnitsOfThisProcessor()) {
        tables.push_back({u, *lanePasses(u)});
    }
    return tables;
}

uint32_t bits(float x) {
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

double floatStep(float x) {
    return std::fabs(
        static_cast<double>(std::nextafter(x, std::numeric_limits<float>::infinity())) - x);
}

// A block of random sums: phases over [-1, 1] with the reduction's edges, some beyond it
// (state a host could leave), comb steps to +-3 and now and then to +-5e4, ratios across both
// signs and near +-1, counts from 0 to 10^6 and now and then INT32_MAX, in runs of one count (the
// powers' shared branches) or a count per lane; hostile also gives NaN and huge inputs (fast path
// only: the render path keeps those off the "hq" lanes).
LaneBlock randomBlock(std::mt19937 &rng, bool hostile) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double edges[] = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 0.25, 1.5, -2.5, 0x1p-30};
    const double ratios[] = {0.5, -0.5, 0.9, -0.9, 1e-30, 1.0001, -0.9999, 1.5, -2.0, 3e39};
    auto phase = [&] {
        const uint32_t k = rng() % 10;
        return k == 0 ? edges[rng() % 10] : k == 1 && hostile ? 4.0 * unit(rng) : unit(rng);
    };
    LaneBlock b;
    b.count = 1 + static_cast<int32_t>(rng() % LANE_BLOCK);
    const bool oneCount = rng() % 2 == 0;
    const int32_t sharedK = static_cast<int32_t>(rng() % 3000);
    for (int32_t j = 0; j < b.count; ++j) {
        b.phiC[j] = phase();
        b.phiM[j] = phase();
        b.phiQ[j] = phase();
        const uint32_t kC = rng() % 16;
        b.C[j] = kC < 4 ? 3.0 * unit(rng) : kC == 4 ? 5e4 * unit(rng) : phase();
        const uint32_t kA = rng() % 6;
        b.A[j] = kA < 2 ? ratios[rng() % 10] : 1.2 * unit(rng);
        if (hostile && rng() % 16 == 0) {
            b.A[j] = rng() % 2 ? std::numeric_limits<double>::quiet_NaN() : 1e30;
            b.C[j] = rng() % 2 ? 1e21 : b.C[j];
        }
        const uint32_t kK = rng() % 32;
        b.K[j] = oneCount  ? sharedK
                 : kK == 0 ? INT32_MAX
                 : kK < 8  ? rng() % 11
                 : kK < 16 ? rng() % 1000000
                           : rng() % 2000;
        b.gain1[j] = rng() % 2 ? 1.0 : -0.73;
        b.gain2[j] = rng() % 2 ? -1.0 : 0.41;
    }
    for (int32_t j = b.count; j % 8 != 0; ++j) { // padded as the render path pads
        b.phiC[j] = b.phiC[b.count - 1];
        b.phiM[j] = b.phiM[b.count - 1];
        b.phiQ[j] = b.phiQ[b.count - 1];
        b.C[j] = b.C[b.count - 1];
        b.A[j] = b.A[b.count - 1];
        b.K[j] = b.K[b.count - 1];
        b.gain1[j] = b.gain1[b.count - 1];
        b.gain2[j] = b.gain2[b.count - 1];
    }
    return b;
}

} // namespace

// Every lane forms its power (one count, or a count per lane), reports the dominant ones.
TEST(PartialSumLanes, FastPassEqualsThePerSampleSumBitForBit) {
    for (const auto &[unit, passes] : tablesOfThisProcessor()) {
        std::mt19937 rng(2024u);
        for (int32_t round = 0; round < 600; ++round) {
            const bool oneSided = round % 2 == 0;
            const LaneBlock b = randomBlock(rng, round % 4 >= 2);
            float first[LANE_BLOCK], second[LANE_BLOCK];
            const uint64_t reported =
                passes.moving[0][oneSided ? 1 : 0](b, first, second) & lanesUpTo(b.count);
            ASSERT_EQ(reported, lanesToReport(b, false)) << nameOf(unit) << " round " << round;
            for (int32_t j = 0; j < b.count; ++j) {
                if (((reported >> j) & 1u) != 0) {
                    continue; // the render path evaluates this lane per sample
                }
                float e1, e2;
                reference<SinePath::FastSse>(b, j, oneSided, e1, e2);
                ASSERT_EQ(bits(first[j]), bits(e1))
                    << nameOf(unit) << " round " << round << " lane " << j << ": " << first[j]
                    << " vs " << e1;
                ASSERT_EQ(bits(second[j]), bits(e2))
                    << nameOf(unit) << " round " << round << " lane " << j;
            }
        }
    }
}

TEST(PartialSumLanes, HqPassStaysWithinOneBillionthOfThePerSampleSum) {
    for (const auto &[unit, passes] : tablesOfThisProcessor()) {
        std::mt19937 rng(99u);
        double worst = 0.0;
        for (int32_t round = 0; round < 600; ++round) {
            const bool oneSided = round % 2 == 0;
            const LaneBlock b = randomBlock(rng, false);
            float first[LANE_BLOCK], second[LANE_BLOCK];
            const uint64_t reported =
                passes.moving[1][oneSided ? 1 : 0](b, first, second) & lanesUpTo(b.count);
            ASSERT_EQ(reported, lanesToReport(b, true)) << nameOf(unit) << " round " << round;
            for (int32_t j = 0; j < b.count; ++j) {
                if (((reported >> j) & 1u) != 0) {
                    continue;
                }
                float e1, e2;
                reference<SinePath::Hq>(b, j, oneSided, e1, e2);
                const double scale = std::max({1.0, std::fabs(double{e1}), std::fabs(double{e2})});
                const double d1 = std::fabs(double{first[j]} - e1),
                             d2 = std::fabs(double{second[j]} - e2);
                ASSERT_LE(d1, 1e-9 * scale + floatStep(e1))
                    << nameOf(unit) << " round " << round << " lane " << j;
                ASSERT_LE(d2, 1e-9 * scale + floatStep(e2))
                    << nameOf(unit) << " round " << round << " lane " << j;
                worst = std::max({worst, d1 / scale, d2 / scale});
            }
        }
        RecordProperty("largest_relative_difference_" + nameOf(unit), std::to_string(worst));
    }
}

// Dense over eight turns, then random angles up to the sine's bound of 1.6e6 radians.
TEST(PartialSumLanes, HqSineIsWithinTwoUlpOfTheTrueValues) {
    std::vector<double> a;
    for (int32_t i = -80000; i < 80000; ++i) {
        a.push_back(i * (8.0 * M_PI / 80000.0));
    }
    std::mt19937 rng(5u);
    std::uniform_real_distribution<double> wide(-1.6e6, 1.6e6);
    for (int32_t i = 0; i < 40000; ++i) {
        a.push_back(wide(rng));
    }
    std::vector<double> s(a.size()), c(a.size());
    for (const auto &[unit, passes] : tablesOfThisProcessor()) {
        passes.sinCos(a.data(), s.data(), c.data(), static_cast<int32_t>(a.size()));
        double worst = 0.0;
        for (size_t i = 0; i < a.size(); ++i) {
            const long double x = a[i];
            worst = std::max({worst, static_cast<double>(std::fabs(s[i] - std::sin(x))),
                              static_cast<double>(std::fabs(c[i] - std::cos(x)))});
        }
        // 2 ulp of 1: the reduction's 1e-16 and the polynomial's rounding.
        EXPECT_LE(worst, 4.5e-16) << nameOf(unit);
        RecordProperty("largest_error_" + nameOf(unit), std::to_string(worst));
    }
}
