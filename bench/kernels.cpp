// ns per call of the sine kernels beside the library's sin and cos of the same phases.
#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "kernels/sin_cos_pi.h"
#include "kernels/sin_cos_pi4.h"

namespace {

// 1024 phases in [-1, 1], so the loop cannot fold the work into a constant.
const std::vector<double> &phases() {
    static const std::vector<double> p = [] {
        std::mt19937 rng(1);
        std::uniform_real_distribution<double> any(-1.0, 1.0);
        std::vector<double> v(1024);
        for (double &x : v) {
            x = any(rng);
        }
        return v;
    }();
    return p;
}

void BM_SinCosPi(benchmark::State &state) {
    const std::vector<double> &x = phases();
    size_t i = 0;
    for (auto _ : state) {
        double s, c;
        sinCosPi(static_cast<float>(x[i++ & 1023]), s, c);
        benchmark::DoNotOptimize(s);
        benchmark::DoNotOptimize(c);
    }
}
BENCHMARK(BM_SinCosPi);

void BM_SinCosPiUnrounded(benchmark::State &state) {
    const std::vector<double> &x = phases();
    size_t i = 0;
    for (auto _ : state) {
        double s, c;
        sinCosPiUnrounded(x[i++ & 1023], s, c);
        benchmark::DoNotOptimize(s);
        benchmark::DoNotOptimize(c);
    }
}
BENCHMARK(BM_SinCosPiUnrounded);

// One call computes four phases.
void BM_SinCosPi4(benchmark::State &state) {
    const std::vector<double> &x = phases();
    size_t i = 0;
    for (auto _ : state) {
        double s[4], c[4];
        const size_t j = (i += 4) & 1020;
        sinCosPi4(x[j], s[0], c[0], x[j + 1], s[1], c[1], x[j + 2], s[2], c[2], x[j + 3], s[3],
                  c[3]);
        benchmark::DoNotOptimize(s);
        benchmark::DoNotOptimize(c);
    }
}
BENCHMARK(BM_SinCosPi4);

void BM_StdSinCos(benchmark::State &state) {
    const std::vector<double> &x = phases();
    size_t i = 0;
    for (auto _ : state) {
        const double a = x[i++ & 1023] * 3.141592653589793;
        double s = std::sin(a), c = std::cos(a);
        benchmark::DoNotOptimize(s);
        benchmark::DoNotOptimize(c);
    }
}
BENCHMARK(BM_StdSinCos);

} // namespace
