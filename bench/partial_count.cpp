// ns per call of the partial count: the common case that keeps the cached count, and the
// recomputation that runs at each block start and whenever the band moved.
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "oscillator/signal/partial_count.h"

namespace {

struct PitchAndSpacing {
    double f0, delta;
};

// Pitches and spacings of a slow glide, so the cached count mostly fits.
const std::vector<PitchAndSpacing> &glide() {
    static const std::vector<PitchAndSpacing> g = [] {
        std::vector<PitchAndSpacing> v(1024);
        for (size_t i = 0; i < v.size(); ++i) {
            const double f0 = 440.0 * (1.0 + 1e-4 * static_cast<double>(i));
            v[i] = {f0, f0};
        }
        return v;
    }();
    return g;
}

void BM_PartialCountKept(benchmark::State &state) {
    const std::vector<PitchAndSpacing> &g = glide();
    int32_t K = -1;
    size_t i = 0;
    for (auto _ : state) {
        const PitchAndSpacing &p = g[i++ & 1023];
        double f1 = 0.0;
        benchmark::DoNotOptimize(countPartials(p.f0, p.delta, 100, K, 22050.0, f1));
        benchmark::DoNotOptimize(f1);
    }
}
BENCHMARK(BM_PartialCountKept);

void BM_PartialCountRecomputed(benchmark::State &state) {
    const std::vector<PitchAndSpacing> &g = glide();
    size_t i = 0;
    for (auto _ : state) {
        const PitchAndSpacing &p = g[i++ & 1023];
        int32_t K = -1;
        double f1 = 0.0;
        benchmark::DoNotOptimize(countPartials(p.f0, p.delta, 100, K, 22050.0, f1));
        benchmark::DoNotOptimize(K);
    }
}
BENCHMARK(BM_PartialCountRecomputed);

} // namespace
