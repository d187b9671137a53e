// ns per sample of the closed-form sum for each sine path and mode at K = 1 .. 10000, beside
// an additive sum of the same partials with std::sin and std::cos.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "kernels/cpu_features.h"
#include "oscillator/signal/partial_sum.h"

namespace {

struct Phases {
    double phiC, phiM, phiQ, C;
};

const std::vector<Phases> &phases() {
    static const std::vector<Phases> p = [] {
        std::mt19937 rng(2);
        std::uniform_real_distribution<double> any(-1.0, 1.0);
        std::vector<Phases> v(1024);
        for (Phases &x : v) {
            x = {any(rng), any(rng), any(rng), any(rng)};
        }
        return v;
    }();
    return p;
}

constexpr double A = 0.9;

template <SinePath Path, bool OneSided> void BM_ClosedForm(benchmark::State &state) {
    if (Path == SinePath::FastSse && !hasSSE()) {
        state.SkipWithError("no SSE");
        return;
    }
    const std::vector<Phases> &p = phases();
    const int32_t K = static_cast<int32_t>(state.range(0));
    size_t i = 0;
    for (auto _ : state) {
        const Phases &x = p[i++ & 1023];
        benchmark::DoNotOptimize(partialSum<Path>(x.phiC, x.phiM, x.phiQ, x.C, A, K, OneSided));
    }
}

// The same partials summed one by one: Mode 1 only, whose K + 1 terms are the cheaper.
void BM_AdditiveSum(benchmark::State &state) {
    const std::vector<Phases> &p = phases();
    const int32_t K = static_cast<int32_t>(state.range(0));
    size_t i = 0;
    for (auto _ : state) {
        const Phases &x = p[i++ & 1023];
        double re = 0, im = 0, Ak = 1, sum = 0;
        for (int32_t k = 0; k <= K; ++k, Ak *= A) {
            const double term = Ak * std::sin(PI_D * (x.phiC + k * x.phiM));
            const double comb = PI_D * (k * x.C + x.phiQ);
            re += term * std::cos(comb);
            im += term * std::sin(comb);
            sum += Ak;
        }
        benchmark::DoNotOptimize(0.75 * re / sum);
        benchmark::DoNotOptimize(0.75 * im / sum);
    }
}

#define TARN_COUNTS Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)
BENCHMARK_TEMPLATE(BM_ClosedForm, SinePath::Hq, true)->TARN_COUNTS;
BENCHMARK_TEMPLATE(BM_ClosedForm, SinePath::Hq, false)->TARN_COUNTS;
BENCHMARK_TEMPLATE(BM_ClosedForm, SinePath::FastScalar, true)->TARN_COUNTS;
BENCHMARK_TEMPLATE(BM_ClosedForm, SinePath::FastScalar, false)->TARN_COUNTS;
BENCHMARK_TEMPLATE(BM_ClosedForm, SinePath::FastSse, true)->TARN_COUNTS;
BENCHMARK_TEMPLATE(BM_ClosedForm, SinePath::FastSse, false)->TARN_COUNTS;
BENCHMARK(BM_AdditiveSum)->TARN_COUNTS;
#undef TARN_COUNTS

} // namespace
