// The lane passes against the per-sample sum, in double before the outputs' narrowing: fast
// path bit for bit, precise path within 1e-9, with the power given or formed by the pass; and
// the precise vector sine against long double sinl and cosl. On every vector unit of this
// processor.
#include "kernels/cpu_features.h"
#include "oscillator/lanes/partial_sum_lanes.h"

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
#include "oscillator/signal/complex_power.h"
#include "oscillator/signal/partial_sum.h"

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

// The lanes a pass must report: those left to it whose power partialSum takes into its
// dominant branch, and on the precise path those whose gamma is beyond the vector sine.
uint64_t lanesToReport(const LaneBlock &b, bool precise) {
    uint64_t lanes = 0;
    for (int32_t j = 0; j < b.count; ++j) {
        const int32_t K = static_cast<int32_t>(b.K[j]);
        const double gamma = (b.C[j] * (static_cast<double>(K) + 1.0)) * PI_D;
        const bool dominant =
            !(std::fabs(powerFor(precise, b.A[j], b.C[j], K).R) <= DOMINANT_POWER_LIMIT);
        const bool outOfRange = precise && !(std::fabs(gamma) < 1.6e6);
        if (((b.powerLanes >> j) & 1u) != 0 && (dominant || outOfRange)) {
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
    return u == VectorUnit::Sse2 ? "sse2" : u == VectorUnit::Avx2 ? "avx2" : "avx512";
}

// Every unit up to the one the module would choose, each of which must have its passes.
std::vector<std::pair<VectorUnit, LanePassTable>> tablesOfThisProcessor() {
    std::vector<std::pair<VectorUnit, LanePassTable>> tables;
    for (VectorUnit u : {VectorUnit::Sse2, VectorUnit::Avx2, VectorUnit::Avx512}) {
        LanePassTable t;
        if (u > widestVectorUnit()) {
            break;
        }
        if (lanePassTable(u, t)) {
            tables.push_back({u, t});
        } else {
            ADD_FAILURE() << nameOf(u) << " chosen by the feature test but has no passes";
        }
    }
    return tables;
}

uint64_t bits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Which lanes leave their power to the pass: none, some, or all.
enum class Formed { None, Some, All };

// A block of random sums: phases over [-1, 1] with the reduction's edges, some beyond it
// (state a host could leave), comb steps to +-3 and now and then to +-5e4, ratios across both
// signs and near +-1, counts from 0 to 10^6 and now and then INT32_MAX; hostile also gives NaN
// and huge inputs (fast path only: the render loop keeps those off the precise passes). A
// lane with a given power never dominates (the render loop evaluates those itself); a lane
// left to the pass may. A held block gives every lane lane 0's ratio, comb step, count, power
// and comb phase.
LaneBlock randomBlock(std::mt19937 &rng, bool precise, bool hostile, bool held,
                      Formed formed = Formed::None) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double edges[] = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 0.25, 1.5, -2.5, 0x1p-30};
    auto phase = [&] {
        const uint32_t k = rng() % 10;
        return k == 0 ? edges[rng() % 10] : k == 1 && hostile ? 4.0 * unit(rng) : unit(rng);
    };
    LaneBlock b;
    b.count = 0;
    b.powerLanes = 0;
    while (b.count < LANE_BLOCK) {
        const double phiC = phase(), phiM = phase(), phiQ = phase();
        const uint32_t kC = rng() % 16;
        double C = kC < 4 ? 3.0 * unit(rng) : kC == 4 ? 5e4 * unit(rng) : phase();
        if (hostile && rng() % 16 == 0) {
            C = 1e21;
        }
        const uint32_t kA = rng() % 6;
        double A = kA == 0 ? 1.0001 : kA == 1 ? (precise ? -0.9 : -0.9999) : 1.2 * unit(rng);
        if (hostile && rng() % 16 == 0) {
            A = rng() % 2 ? std::numeric_limits<double>::quiet_NaN() : 1e30;
        }
        const uint32_t kK = rng() % 32;
        const int32_t K = kK == 0   ? INT32_MAX
                          : kK < 8  ? static_cast<int32_t>(rng() % 11)
                          : kK < 16 ? static_cast<int32_t>(rng() % 1000000)
                                    : static_cast<int32_t>(rng() % 2000);
        const PowerOfRatio p = powerFor(precise, A, C, K);
        const bool toPass = formed == Formed::All || (formed == Formed::Some && rng() % 2 == 0);
        if (!toPass && !(std::fabs(p.R) <= DOMINANT_POWER_LIMIT)) {
            continue;
        }
        const int32_t j = b.count++;
        b.phiC[j] = phiC;
        b.phiM[j] = phiM;
        b.phiQ[j] = phiQ;
        b.C[j] = C;
        b.A[j] = A;
        b.K[j] = K;
        b.wr[j] = toPass ? 0.0 : p.wr;
        b.wi[j] = toPass ? 0.0 : p.wi;
        b.R[j] = toPass ? 0.0 : p.R;
        b.powerLanes |= toPass ? uint64_t{1} << j : 0;
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
    if (held) {
        b.powerLanes = (b.powerLanes & 1u) != 0 ? ~uint64_t{0} : 0;
    }
    return b;
}

} // namespace

// Powers given, and powers the pass forms itself (exponents per lane), whose dominant lanes it
// reports exactly.
TEST(PartialSumLanes, FastPassEqualsThePerSampleSumBitForBit) {
    for (const auto &[unit, table] : tablesOfThisProcessor()) {
        std::mt19937 rng(2024u);
        for (int32_t round = 0; round < 400; ++round) {
            const bool oneSided = round % 2 == 0;
            const Formed formed = static_cast<Formed>(round / 8 % 3);
            const LaneBlock b = randomBlock(rng, false, round % 4 >= 2, round % 8 >= 4, formed);
            double first[LANE_BLOCK], second[LANE_BLOCK];
            const uint64_t reported =
                table.fastDoubles[oneSided ? 1 : 0](b, first, second) & lanesUpTo(b.count);
            ASSERT_EQ(reported, lanesToReport(b, false)) << nameOf(unit) << " round " << round;
            for (int32_t j = 0; j < b.count; ++j) {
                if (((reported >> j) & 1u) != 0) {
                    continue; // the render loop evaluates this lane per sample
                }
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

// Given and formed powers; reported lanes (dominant, or gamma beyond the vector sine) exactly.
TEST(PartialSumLanes, PrecisePassStaysWithinOneBillionthOfThePerSampleSum) {
    for (const auto &[unit, table] : tablesOfThisProcessor()) {
        std::mt19937 rng(99u);
        double worst = 0.0;
        for (int32_t round = 0; round < 400; ++round) {
            const bool oneSided = round % 2 == 0;
            const Formed formed = static_cast<Formed>(round / 8 % 3);
            const LaneBlock b = randomBlock(rng, true, false, round % 4 >= 2, formed);
            double first[LANE_BLOCK], second[LANE_BLOCK];
            const uint64_t reported =
                table.preciseDoubles[oneSided ? 1 : 0](b, first, second) & lanesUpTo(b.count);
            ASSERT_EQ(reported, lanesToReport(b, true)) << nameOf(unit) << " round " << round;
            for (int32_t j = 0; j < b.count; ++j) {
                if (((reported >> j) & 1u) != 0) {
                    continue;
                }
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

// Ratios whose low power steps land between 1e-41 and 1e-9, where the flushes change bits, and
// beyond 1 (powers past 2^400, infinite, NaN); one count in every lane (each lane then takes
// fastPower's own branches) or a count per lane (every lane stepping to the largest).
TEST(PartialSumLanes, FormedPowersAreTheScalarPowers) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double ratios[] = {0.5, -0.5, 0.9, -0.9, 1e-30, 1.0001, -0.9999, 1.5, -2.0, 3e39};
    for (const auto &[unit_, table] : tablesOfThisProcessor()) {
        std::mt19937 rng(31u);
        for (int32_t round = 0; round < 200; ++round) {
            const bool oneCount = round % 2 == 0;
            const int32_t sharedK = static_cast<int32_t>(rng() % 3000);
            LaneBlock b;
            b.count = LANE_BLOCK;
            b.powerLanes = 0;
            b.held = false;
            for (int32_t j = 0; j < LANE_BLOCK; ++j) {
                b.A[j] = rng() % 2 ? ratios[rng() % 10] : 1.2 * unit(rng);
                b.C[j] = rng() % 8 == 0 ? 5e4 * unit(rng) : unit(rng);
                const uint32_t kK = rng() % 16;
                b.K[j] = oneCount  ? sharedK
                         : kK == 0 ? INT32_MAX
                         : kK < 6  ? rng() % 11
                         : kK < 10 ? rng() % 100
                                   : rng() % 3000;
                b.phiC[j] = b.phiM[j] = b.phiQ[j] = 0.25;
                b.wr[j] = b.wi[j] = b.R[j] = b.gain1[j] = b.gain2[j] = 0.0;
            }
            double wr[LANE_BLOCK], wi[LANE_BLOCK], R[LANE_BLOCK];
            table.powers[0](b, wr, wi, R);
            for (int32_t j = 0; j < LANE_BLOCK; ++j) {
                const int32_t K = static_cast<int32_t>(b.K[j]);
                const PowerOfRatio e = powerFor(false, b.A[j], b.C[j], K);
                const std::string where = nameOf(unit_) + " round " + std::to_string(round) +
                                          " lane " + std::to_string(j);
                ASSERT_TRUE(bits(wr[j]) == bits(e.wr) || (std::isnan(wr[j]) && std::isnan(e.wr)))
                    << where << ": " << wr[j] << " vs " << e.wr;
                ASSERT_TRUE(bits(wi[j]) == bits(e.wi) || (std::isnan(wi[j]) && std::isnan(e.wi)))
                    << where;
                ASSERT_TRUE(bits(R[j]) == bits(e.R) || (std::isnan(R[j]) && std::isnan(e.R)))
                    << where;
            }
            table.powers[1](b, wr, wi, R);
            for (int32_t j = 0; j < LANE_BLOCK; ++j) {
                const int32_t K = static_cast<int32_t>(b.K[j]);
                const PowerOfRatio e = powerFor(true, b.A[j], b.C[j], K);
                const std::string where = nameOf(unit_) + " precise round " +
                                          std::to_string(round) + " lane " + std::to_string(j);
                ASSERT_TRUE(bits(R[j]) == bits(e.R) || (std::isnan(R[j]) && std::isnan(e.R)))
                    << where;
                const double gamma = (b.C[j] * (static_cast<double>(K) + 1.0)) * PI_D;
                if (std::fabs(gamma) < 1.6e6 && std::isfinite(e.R)) {
                    ASSERT_LE(std::fabs(wr[j] - e.wr), 1e-15 * std::fabs(e.R)) << where;
                    ASSERT_LE(std::fabs(wi[j] - e.wi), 1e-15 * std::fabs(e.R)) << where;
                }
            }
        }
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
