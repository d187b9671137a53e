// The closed form against brute-force sums of its partials in long double, on the "hq" and
// both fast paths, plus the cases with a known shape: K = 0, A = 0, a comb at rest, a comb
// turned by a quarter cycle, and inputs at the edges of int32 and double.
#include "oscillator/signal/partial_sum.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "kernels/cpu_features.h"

namespace {

constexpr long double PI_L = 3.141592653589793238462643383279502884L;
constexpr int32_t INT_MAX32 = std::numeric_limits<int32_t>::max();

struct Args {
    bool oneSided;
    double phiC, phiM, phiQ, C, A;
    int32_t K;
};

PartialSumOut evaluate(SinePath path, const Args &a) {
    switch (path) {
    case SinePath::Hq:
        return partialSum<SinePath::Hq>(a.phiC, a.phiM, a.phiQ, a.C, a.A, a.K, a.oneSided);
    case SinePath::FastScalar:
        return partialSum<SinePath::FastScalar>(a.phiC, a.phiM, a.phiQ, a.C, a.A, a.K, a.oneSided);
    case SinePath::FastSse:
        return partialSum<SinePath::FastSse>(a.phiC, a.phiM, a.phiQ, a.C, a.A, a.K, a.oneSided);
    }
    return {0, 0};
}

const char *name(SinePath path) {
    return path == SinePath::Hq ? "hq" : path == SinePath::FastScalar ? "scalar" : "sse";
}

struct Truth {
    long double first, second;
    long double scale; // bound on |first| and |second|: |normalisation| * sum of |weights|
};

// Straight from the partials: Mode 1 sums 1.5 A^k sin(theta + k beta) e^(i pi (kC + phiQ))
// over k = 0..K, Mode 2 sums sin(theta) A^|k| cos(k beta) e^(i pi (|k|C + phiQ)) over
// k = -K..K; both are scaled by 1 / (2 sum A^k), or on the fast path by (A - 1) / (2 (|A|^(K+1)
// - 1)), which is the same for A >= 0.
Truth bruteForce(const Args &a, bool fastPath) {
    const long double A = a.A;
    const long double theta = PI_L * a.phiC, beta = PI_L * a.phiM;
    long double re = 0, im = 0, weights = 0, powerSum = 0, Ak = 1;
    for (int32_t k = 0; k <= a.K; ++k, Ak *= A) {
        powerSum += Ak;
        const long double comb = PI_L * (k * static_cast<long double>(a.C) + a.phiQ);
        long double term;
        if (a.oneSided) {
            term = 1.5L * Ak * std::sin(theta + k * beta);
            weights += 1.5L * std::fabs(Ak);
        } else {
            const int copies = k == 0 ? 1 : 2; // k and -k give the same term
            term = copies * std::sin(theta) * Ak * std::cos(k * beta);
            weights += copies * std::fabs(Ak);
        }
        re += term * std::cos(comb);
        im += term * std::sin(comb);
    }
    long double norm = 1 / (2 * powerSum);
    if (fastPath) {
        norm = (A - 1) / (2 * (std::pow(std::fabs(A), static_cast<long double>(a.K) + 1) - 1));
    }
    return {re * norm, im * norm, std::fabs(norm) * weights};
}

std::vector<SinePath> paths() {
    std::vector<SinePath> p = {SinePath::Hq, SinePath::FastScalar};
    if (hasSSE()) {
        p.push_back(SinePath::FastSse);
    }
    return p;
}

} // namespace

TEST(PartialSum, MatchesBruteForceSumsOfThePartials) {
    // Ratios on both sides of 0 and 1, and beyond -1, where the fast path's |A|^(K+1) differs
    // from A^(K+1); counts around the power's bit boundaries and up to 2000, where A^(K+1)
    // leaves the double range for A = 1.4, 1.9 and -3.
    const double ratios[] = {-3.0, -1.5, -0.95, -0.6, -0.2, 0.0, 0.3, 0.8, 0.95, 1.05, 1.4, 1.9};
    const int32_t counts[] = {0, 1, 2, 4, 5, 6, 7, 31, 32, 100, 511, 2000};
    std::mt19937 rng(31337);
    std::uniform_real_distribution<double> phase(-1.0, 1.0);
    for (bool oneSided : {true, false}) {
        for (double A : ratios) {
            for (int32_t K : counts) {
                for (int draw = 0; draw < 2; ++draw) {
                    const Args a{oneSided, phase(rng), phase(rng), phase(rng), phase(rng), A, K};
                    const Truth exact = bruteForce(a, false);
                    const Truth fast = bruteForce(a, true);
                    for (SinePath path : paths()) {
                        const bool hq = path == SinePath::Hq;
                        const Truth &t = hq ? exact : fast;
                        const PartialSumOut o = evaluate(path, a);
                        const long double err =
                            std::max(std::fabs(o.first - t.first), std::fabs(o.second - t.second));
                        // Fast path: the kernels' 2e-7, amplified up to about 20 times where
                        // |A| is 0.05 from 1 (measured 4.3e-6), plus the comb step rounded to
                        // float, whose error of up to 2^-25 half-turns the power multiplies by
                        // K + 1 (measured 2e-5 at K = 511 and 2000).
                        const long double bound =
                            hq ? 1e-9L : 1e-5L + (K + 1) * PI_L * 0x1p-25L;
                        EXPECT_LT(err, bound * t.scale)
                            << name(path) << " oneSided " << oneSided << " A " << A << " K " << K
                            << " phases " << a.phiC << " " << a.phiM << " " << a.phiQ << " C "
                            << a.C;
                    }
                }
            }
        }
    }
}

TEST(PartialSum, SingleCarrierWhenKIsZeroOrAIsZero) {
    // K = 0 (any A > 0) or A = 0 (any K): Mode 1 gives 0.75 sin theta e^(i pi phiQ), Mode 2
    // gives 0.5 sin theta e^(i pi phiQ).
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> phase(-1.0, 1.0);
    const struct {
        double A;
        int32_t K;
    } shapes[] = {{0.5, 0}, {1.5, 0}, {7.0, 0}, {0.0, 0}, {0.0, 7}, {0.0, 2000}, {0.0, INT_MAX32}};
    for (const auto &shape : shapes) {
        for (bool oneSided : {true, false}) {
            for (int draw = 0; draw < 20; ++draw) {
                const Args a{oneSided,   phase(rng), phase(rng), phase(rng),
                             phase(rng), shape.A,    shape.K};
                const double gain = (oneSided ? 0.75 : 0.5) * std::sin(PI_D * a.phiC);
                for (SinePath path : paths()) {
                    const PartialSumOut o = evaluate(path, a);
                    const double tol = path == SinePath::Hq ? 1e-14 : 1e-6;
                    EXPECT_NEAR(o.first, gain * std::cos(PI_D * a.phiQ), tol)
                        << name(path) << " A " << shape.A << " K " << shape.K;
                    EXPECT_NEAR(o.second, gain * std::sin(PI_D * a.phiQ), tol)
                        << name(path) << " A " << shape.A << " K " << shape.K;
                }
            }
        }
    }
}

TEST(PartialSum, CombAtRestLeavesTheSecondSignalExactlyZero) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> phase(-1.0, 1.0);
    for (bool oneSided : {true, false}) {
        for (double A : {-0.7, 0.4, 0.9, 1.3}) {
            for (int32_t K : {0, 3, 40}) {
                const Args a{oneSided, phase(rng), phase(rng), 0.0, 0.0, A, K};
                const Truth exact = bruteForce(a, false);
                for (SinePath path : paths()) {
                    const PartialSumOut o = evaluate(path, a);
                    EXPECT_EQ(o.second, 0.0) << name(path);
                    const double tol = path == SinePath::Hq ? 1e-12 : 1e-5;
                    const long double truth =
                        path == SinePath::Hq ? exact.first : bruteForce(a, true).first;
                    EXPECT_NEAR(o.first, static_cast<double>(truth), tol * exact.scale)
                        << name(path) << " A " << A << " K " << K;
                }
            }
        }
    }
}

TEST(PartialSum, QuarterCycleCombPhaseRotatesTheTwoSignals) {
    // phiQ = 0.5 multiplies the sum by i: first becomes -second, second becomes first. On the
    // fast paths the kernels give sin(0.5 pi) and cos(0) the same bits, so the identity is
    // exact there.
    std::mt19937 rng(10);
    std::uniform_real_distribution<double> phase(-1.0, 1.0);
    for (bool oneSided : {true, false}) {
        for (int draw = 0; draw < 50; ++draw) {
            Args a{oneSided, phase(rng), phase(rng), 0.0, phase(rng), 0.2 + draw * 0.03, draw * 7};
            for (SinePath path : paths()) {
                a.phiQ = 0.0;
                const PartialSumOut at0 = evaluate(path, a);
                a.phiQ = 0.5;
                const PartialSumOut at05 = evaluate(path, a);
                if (path == SinePath::Hq) {
                    const double scale = 1 + std::fabs(at0.first) + std::fabs(at0.second);
                    EXPECT_NEAR(at05.first, -at0.second, 1e-15 * scale);
                    EXPECT_NEAR(at05.second, at0.first, 1e-15 * scale);
                } else {
                    EXPECT_EQ(at05.first, -at0.second) << name(path);
                    EXPECT_EQ(at05.second, at0.first) << name(path);
                }
            }
        }
    }
}

TEST(PartialSum, HugeCountsConvergeOrFollowTheTopPartials) {
    // |A| < 1: with K = INT32_MAX the power vanishes and the sum is the infinite series, which
    // K = 200 already equals to double precision.
    std::mt19937 rng(12);
    std::uniform_real_distribution<double> phase(-1.0, 1.0);
    for (bool oneSided : {true, false}) {
        for (double A : {-0.5, 0.25, 0.5}) {
            Args a{oneSided, phase(rng), phase(rng), phase(rng), phase(rng), A, 200};
            for (SinePath path : paths()) {
                a.K = 200;
                const PartialSumOut finite = evaluate(path, a);
                a.K = INT_MAX32;
                const PartialSumOut huge = evaluate(path, a);
                EXPECT_NEAR(huge.first, finite.first, 1e-15) << name(path);
                EXPECT_NEAR(huge.second, finite.second, 1e-15) << name(path);
            }
        }
    }
    // A > 1: the top partials dominate; the sum over the last 400 of them, each weighted by
    // A^-j (1 - 1/A), is the whole normalised sum to 1.5^-400.
    for (double A : {1.5, 3.0}) {
        const Args a{true, 0.3, 0.123456789, -0.4, 0.61, A, INT_MAX32};
        const long double theta = PI_L * a.phiC, beta = PI_L * a.phiM;
        long double re = 0, im = 0, w = 1 - 1 / static_cast<long double>(A);
        for (int j = 0; j < 400; ++j, w /= A) {
            const long double k = static_cast<long double>(a.K) - j;
            const long double term = 0.75L * w * std::sin(theta + k * beta);
            const long double comb = PI_L * (k * a.C + a.phiQ);
            re += term * std::cos(comb);
            im += term * std::sin(comb);
        }
        for (SinePath path : paths()) {
            // K phiM, K C and their products with pi carry about 2^31 ulps of absolute error
            // in double: 1e-6 of a half-turn.
            const PartialSumOut o = evaluate(path, a);
            EXPECT_NEAR(o.first, static_cast<double>(re), 2e-5) << name(path) << " A " << A;
            EXPECT_NEAR(o.second, static_cast<double>(im), 2e-5) << name(path) << " A " << A;
        }
    }
}

TEST(PartialSum, ExtremeInputsGiveDefinedAnswers) {
    // Ratios up to 10 times the largest float, any count: the output stays finite and within
    // the bound of a normalised sum (0.75 in Mode 1 and 1 in Mode 2 for A > 0, times
    // (|A| + 1) / (|A| - 1) for A < 0).
    const double big = 10.0 * std::numeric_limits<float>::max();
    for (double A : {big, -big, 1e20, -1e6, 50.0}) {
        for (int32_t K : {0, 1, 2, 3, 4, 10, 2000, INT_MAX32}) {
            for (bool oneSided : {true, false}) {
                const Args a{oneSided, 0.37, -0.81, 0.2, 0.55, A, K};
                const double bound =
                    (oneSided ? 0.75 : 1.0) * (A > 0 ? 1.0 : (-A + 1) / (-A - 1)) * (1 + 1e-6);
                for (SinePath path : paths()) {
                    const PartialSumOut o = evaluate(path, a);
                    EXPECT_TRUE(std::isfinite(o.first) && std::isfinite(o.second))
                        << name(path) << " A " << A << " K " << K;
                    EXPECT_LE(std::fabs(o.first), bound) << name(path) << " A " << A << " K " << K;
                    EXPECT_LE(std::fabs(o.second), bound) << name(path) << " A " << A << " K " << K;
                }
            }
        }
    }
    // NaN anywhere gives NaN, never a trap or a wild count.
    const double nan = std::nan("");
    const Args bad[] = {
        {true, nan, 0.1, 0.1, 0.1, 0.5, 5}, {false, 0.1, nan, 0.1, 0.1, 0.5, 5},
        {true, 0.1, 0.1, nan, 0.1, 0.5, 5}, {false, 0.1, 0.1, 0.1, nan, 0.5, 5},
        {true, 0.1, 0.1, 0.1, 0.1, nan, 5}, {true, 0.1, nan, 0.1, 0.1, 0.5, INT_MAX32}};
    for (const Args &a : bad) {
        for (SinePath path : paths()) {
            const PartialSumOut o = evaluate(path, a);
            EXPECT_TRUE(std::isnan(o.first) || std::isnan(o.second)) << name(path);
        }
    }
}
