// Brute-force partial sums, one term per partial, all in long double.
#include "support/partial_series.h"

#include <cmath>
#include <cstdlib>

namespace {
constexpr long double PI_L = 3.141592653589793238462643383279502884L;
}

SeriesValue partialSeries(long double phiC, long double phiM, long double phiQ, long double C,
                          long double A, int32_t K, bool oneSided) {
    long double weightSum = 0.0L;
    for (int32_t k = 0; k <= K; ++k) {
        weightSum += std::pow(A, static_cast<long double>(k));
    }
    long double first = 0.0L, second = 0.0L;
    const int32_t lowest = oneSided ? 0 : -K;
    for (int32_t k = lowest; k <= K; ++k) {
        const long double n = static_cast<long double>(std::abs(k));
        const long double weight = std::pow(A, n);
        const long double comb = PI_L * (n * C + phiQ);
        const long double partial =
            oneSided ? std::sin(PI_L * (phiC + static_cast<long double>(k) * phiM))
                     : std::cos(PI_L * static_cast<long double>(k) * phiM);
        first += weight * std::cos(comb) * partial;
        second += weight * std::sin(comb) * partial;
    }
    const long double scale =
        oneSided ? 0.75L / weightSum : 0.5L * std::sin(PI_L * phiC) / weightSum;
    return {first * scale, second * scale};
}
