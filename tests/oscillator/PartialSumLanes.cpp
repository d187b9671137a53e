// The lane passes against the per-sample sum, in double before the outputs' narrowing: fast
// path bit for bit, precise path within 1e-9; and the precise vector sine against long double
// sinl and cosl. On every vector unit of this processor.
#include "kernels/cpu_features.h"
#include "oscillator/partial_sum_lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

// The per-sample sums and powers the passes reproduce, in the arithmetic of the split loop's
// files: SSE2 doubles on 32-bit builds too, where this file's other code keeps x87.
#if defined(__i386__)
#pragma GCC push_options
#pragma GCC target("sse2", "fpmath=sse")
#endif

#include "kernels/sin_cos_pi4.h"
#include "oscillator/complex_power.h"
#include "oscillator/partial_sum.h"

// External linkage: GCC gives internal functions of an SSE2 region an SSE calling convention
// that callers outside it cannot use.
PowerOfRatio powerFor(bool precise, double A, double C, int32_t K) {
    if (precise) {
        return precisePower(A, C, K);
    }
    double sC, cC, unused[6];
    sinCosPi4(C, sC, cC, C, unused[0], unused[1], C, unused[2], unused[3], C, unused[4], unused[5]);
    return fastPower(A * cC, A * sC, K);
}

template <SinePath Path> PartialSumOut reference(const LaneBlock &b, int32_t j, bool oneSided) {
    const PartialSumOut o = partialSum<Path>(b.phiC[j], b.phiM[j], b.phiQ[j], b.C[j], b.A[j],
                                             static_cast<int32_t>(b.K[j]), oneSided);
    return {o.first * b.gain1[j], o.second * b.gain2[j]};
}

#if defined(__i386__)
#pragma GCC pop_options
#endif

namespace {

std::vector<std::pair<VectorUnit, LanePassTable>> tablesOfThisProcessor() {
    std::vector<std::pair<VectorUnit, LanePassTable>> tables;
    for (VectorUnit u : {VectorUnit::Sse2, VectorUnit::Avx2, VectorUnit::Avx512}) {
        LanePassTable t;
        if (u <= widestVectorUnit() && lanePassTable(u, t)) {
            tables.push_back({u, t});
        }
    }
    return tables;
}

std::string nameOf(VectorUnit u) {
    return u == VectorUnit::Sse2 ? "sse2" : u == VectorUnit::Avx2 ? "avx2" : "avx512";
}

uint64_t bits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// A block of random sums whose power does not dominate: phases over [-1, 1] with the
// reduction's edges, some beyond it (state a host could leave), comb steps to +-3, ratios
// across both signs and near +-1, counts from 0 to 10^6; hostile also gives NaN and huge
// inputs (fast path only: the render loop keeps those off the precise passes). A held block
// gives every lane lane 0's ratio, comb step, count, power and comb phase.
LaneBlock randomBlock(std::mt19937 &rng, bool precise, bool hostile, bool held) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double edges[] = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 0.25, 1.5, -2.5, 0x1p-30};
    auto phase = [&] {
        const uint32_t k = rng() % 10;
        return k == 0 ? edges[rng() % 10] : k == 1 && hostile ? 4.0 * unit(rng) : unit(rng);
    };
    LaneBlock b;
    b.count = 0;
    while (b.count < LANE_BLOCK) {
        const double phiC = phase(), phiM = phase(), phiQ = phase();
        const double C = rng() % 4 == 0 ? 3.0 * unit(rng) : phase();
        const uint32_t kA = rng() % 6;
        double A = kA == 0 ? 1.0001 : kA == 1 ? (precise ? -0.9 : -0.9999) : 1.2 * unit(rng);
        if (hostile && rng() % 16 == 0) {
            A = rng() % 2 ? std::numeric_limits<double>::quiet_NaN() : 1e30;
        }
        const uint32_t kK = rng() % 4;
        const int32_t K = kK == 0   ? static_cast<int32_t>(rng() % 11)
                          : kK == 1 ? static_cast<int32_t>(rng() % 1000000)
                                    : static_cast<int32_t>(rng() % 2000);
        const PowerOfRatio p = powerFor(precise, A, C, K);
        if (!(std::fabs(p.R) <= DOMINANT_POWER_LIMIT)) {
            continue;
        }
        const int32_t j = b.count++;
        b.phiC[j] = phiC;
        b.phiM[j] = phiM;
        b.phiQ[j] = phiQ;
        b.C[j] = C;
        b.A[j] = A;
        b.K[j] = K;
        b.wr[j] = p.wr;
        b.wi[j] = p.wi;
        b.R[j] = p.R;
        b.gain1[j] = rng() % 2 ? 1.0 : -0.73;
        b.gain2[j] = rng() % 2 ? -1.0 : 0.41;
    }
    b.held = held;
    for (int32_t j = 1; held && j < b.count; ++j) {
        b.A[j] = b.A[0];
        b.C[j] = b.C[0];
        b.K[j] = b.K[0];
        b.phiQ[j] = b.phiQ[0];
        b.wr[j] = b.wr[0];
        b.wi[j] = b.wi[0];
        b.R[j] = b.R[0];
    }
    return b;
}

} // namespace

TEST(PartialSumLanes, FastPassEqualsThePerSampleSumBitForBit) {
    for (const auto &[unit, table] : tablesOfThisProcessor()) {
        std::mt19937 rng(2024u);
        for (int32_t round = 0; round < 400; ++round) {
            const bool oneSided = round % 2 == 0;
            const LaneBlock b = randomBlock(rng, false, round % 4 >= 2, round % 8 >= 4);
            double first[LANE_BLOCK], second[LANE_BLOCK];
            table.fastDoubles[oneSided ? 1 : 0](b, first, second);
            for (int32_t j = 0; j < b.count; ++j) {
                const PartialSumOut e = reference<SinePath::FastSse>(b, j, oneSided);
                if (std::isnan(e.first) && std::isnan(first[j])) {
                    continue; // NaN payloads may differ; audibleSample writes 0.0 for both
                }
                ASSERT_EQ(bits(first[j]), bits(e.first))
                    << nameOf(unit) << " round " << round << " lane " << j << ": " << first[j]
                    << " vs " << e.first;
                if (!(std::isnan(e.second) && std::isnan(second[j]))) {
                    ASSERT_EQ(bits(second[j]), bits(e.second))
                        << nameOf(unit) << " round " << round << " lane " << j;
                }
            }
        }
    }
}

TEST(PartialSumLanes, PrecisePassStaysWithinOneBillionthOfThePerSampleSum) {
    for (const auto &[unit, table] : tablesOfThisProcessor()) {
        std::mt19937 rng(99u);
        double worst = 0.0;
        for (int32_t round = 0; round < 400; ++round) {
            const bool oneSided = round % 2 == 0;
            const LaneBlock b = randomBlock(rng, true, false, round % 4 >= 2);
            double first[LANE_BLOCK], second[LANE_BLOCK];
            table.preciseDoubles[oneSided ? 1 : 0](b, first, second);
            for (int32_t j = 0; j < b.count; ++j) {
                const PartialSumOut e = reference<SinePath::Precise>(b, j, oneSided);
                const double scale = std::max({1.0, std::fabs(e.first), std::fabs(e.second)});
                const double d =
                    std::max(std::fabs(first[j] - e.first), std::fabs(second[j] - e.second)) /
                    scale;
                ASSERT_LE(d, 1e-9) << nameOf(unit) << " round " << round << " lane " << j;
                worst = std::max(worst, d);
            }
        }
        RecordProperty("largest_relative_difference_" + nameOf(unit), std::to_string(worst));
    }
}

// Dense over eight turns, then random angles up to the sine's bound of 1.6e6 radians.
TEST(PartialSumLanes, PreciseSineIsWithinTwoUlpOfTheTrueValues) {
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
    for (const auto &[unit, table] : tablesOfThisProcessor()) {
        table.sinCos(a.data(), s.data(), c.data(), static_cast<int32_t>(a.size()));
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
