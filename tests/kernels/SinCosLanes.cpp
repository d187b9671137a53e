// The held sub-blocks' shortcuts of the float kernel's lane twins against the twins themselves,
// which the render path's other tests hold to the kernels: the in-cycle reductions of phases in
// [-1, 1] and of K times the spacing phase, bit for bit but for the sign of a zero sine.
#include "kernels/cpu_features.h"
#include "kernels/lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

// The lanes in SSE2 doubles on 32-bit builds too, as the lane passes use them.
#if defined(__i386__)
#pragma GCC push_options
#pragma GCC target("sse2", "fpmath=sse")
#endif

#include "kernels/sin_cos_lanes.h"

namespace {

struct TwoLanes : VectorLanes<2> {
    static D roundHalfEven(D v) { return (v + 0x1.8p52) - 0x1.8p52; }
};
using D = TwoLanes::D;

uint64_t bitsOf(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Equal bits, or two zeros.
bool same(double a, double b) {
    return bitsOf(a) == bitsOf(b) || (a == 0.0 && b == 0.0);
}

// Phases of the whole cycle: a dense grid, the reduction's edges and their neighbours, and
// seeded random doubles (most of them not floats).
std::vector<double> cyclePhases() {
    std::vector<double> x;
    for (int32_t i = -20000; i <= 20000; ++i) {
        x.push_back(i / 20000.0);
    }
    for (double edge : {-1.0, -0.5, -0.0, 0.0, 0.5, 1.0, 0.25, -0.25}) {
        x.push_back(edge);
        x.push_back(std::nextafter(edge, 2.0));
        x.push_back(std::nextafter(edge, -2.0));
    }
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> phase(-1.0, 1.0);
    for (int32_t i = 0; i < 100000; ++i) {
        x.push_back(phase(rng));
    }
    std::vector<double> inCycle;
    for (double v : x) {
        if (v >= -1.0 && v <= 1.0) {
            inCycle.push_back(v);
        }
    }
    if (inCycle.size() % 2 != 0) {
        inCycle.push_back(0.0);
    }
    return inCycle;
}

} // namespace

TEST(SinCosLanes, InCycleReductionsGiveTheKernelsBitsButForZeroSigns) {
    if (widestVectorUnit() == VectorUnit::None) {
        GTEST_SKIP() << "no SSE2 on this processor";
    }
    const std::vector<double> x = cyclePhases();
    int32_t failures = 0;
    for (size_t i = 0; i + 1 < x.size() && failures < 5; i += 2) {
        const D p1 = {x[i], x[i + 1]}, p2 = {x[i + 1], x[i]};
        D s1, c1, s2, c2, t1, d1, t2, d2;
        sinCosPiLanes2<TwoLanes>(p1, p2, s1, c1, s2, c2);
        sinCosPiInCycleLanes2<TwoLanes>(p1, p2, t1, d1, t2, d2);
        for (int32_t l = 0; l < 2; ++l) {
            if (!same(s1[l], t1[l]) || !same(c1[l], d1[l]) || !same(s2[l], t2[l]) ||
                !same(c2[l], d2[l])) {
                ADD_FAILURE() << "phase " << p1[l] << ": " << t1[l] << ", " << d1[l] << " against "
                              << s1[l] << ", " << c1[l];
                ++failures;
            }
        }
    }
    // K times the spacing phase, up to the largest count a held run can have.
    const double counts[] = {0.0, 1.0, 2.0, 7.0, 1000.0, 10000.0, 123457.0, 1073741823.0};
    for (double K : counts) {
        for (size_t i = 0; i + 1 < x.size() && failures < 5; i += 2) {
            const D phiM = {x[i], x[i + 1]}, k = {K, K};
            D sK, cK, tK, dK;
            sinCosPiOfMultipleLanes<TwoLanes>(k, phiM, sK, cK);
            sinCosPiOfMultipleInRangeLanes<TwoLanes>(k, phiM, tK, dK);
            for (int32_t l = 0; l < 2; ++l) {
                if (!same(sK[l], tK[l]) || !same(cK[l], dK[l])) {
                    ADD_FAILURE() << "K " << K << ", phase " << phiM[l] << ": " << tK[l] << ", "
                                  << dK[l] << " against " << sK[l] << ", " << cK[l];
                    ++failures;
                }
            }
        }
    }
}

#if defined(__i386__)
#pragma GCC pop_options
#endif
