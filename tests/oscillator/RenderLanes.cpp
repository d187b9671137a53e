// The split render loop against the per-sample loop it replaces, on every vector unit of this
// processor: fast path bit for bit (outputs and end-of-block state), "hq" within 1e-9 of the
// output scale; and the per-sample loop of processors without a vector unit against it. The
// modules are linked in and driven through renderBlock with the same inputs.
#include "kernels/cpu_features.h"
#include "oscillator/module/Module.h"
#include "oscillator/module/ModuleProbe.h"
#include "oscillator/lanes/partial_sum_lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr int32_t MAX_BLOCK = 300;
constexpr float INF = std::numeric_limits<float>::infinity();
constexpr float NAN_F = std::numeric_limits<float>::quiet_NaN();

const char *nameOf(VectorUnit u) {
    return u == VectorUnit::Sse2 ? "sse2" : u == VectorUnit::Avx2 ? "avx2" : "avx512";
}

// Every unit up to the one the module would choose, each of which must have its passes.
std::vector<VectorUnit> unitsOfThisProcessor() {
    std::vector<VectorUnit> units;
    const VectorUnit widest = widestVectorUnit();
    for (VectorUnit u : {VectorUnit::Sse2, VectorUnit::Avx2, VectorUnit::Avx512}) {
        if (u > widest) {
            break;
        }
        if (lanePass(u, false, true) != nullptr) {
            units.push_back(u);
        } else {
            ADD_FAILURE() << nameOf(u) << " chosen by the feature test but has no passes";
        }
    }
    return units;
}

// One module with its own pin buffers.
struct Voice {
    Module m{nullptr, 0};
    std::vector<float> in[8], outl, outr;

    Voice(int16_t hq, int16_t mode, int16_t cyclic, VectorUnit unit) {
        m.setSampleRate(48000.0f);
        m.open();
        const ModuleProbe probe(m);
        probe.hq() = hq;
        probe.mode() = mode;
        probe.cyclic() = cyclic;
        probe.vectorUnit() = unit;
        for (auto &v : in) {
            v.assign(MAX_BLOCK, 0.0f);
        }
        outl.assign(MAX_BLOCK, 0.0f);
        outr.assign(MAX_BLOCK, 0.0f);
        float **pins[8] = {&probe.fc(),   &probe.fm1(),    &probe.N(),        &probe.a(),
                           &probe.gate(), &probe.detune(), &probe.combfreq(), &probe.combphase()};
        for (int p = 0; p < 8; ++p) {
            *pins[p] = in[p].data();
        }
        probe.sync() = in[0].data();
        probe.outputl() = outl.data();
        probe.outputr() = outr.data();
    }
};

enum Pin { FC, FM1, N, A, GATE, DETUNE, COMBFREQ, COMBPHASE };

// Per pin: a typical range, and edge values sprinkled into some blocks.
struct PinRange {
    float lo, hi;
    std::vector<float> edges;
};

std::vector<PinRange> ranges(bool hostile) {
    std::vector<PinRange> r(8);
    r[FC] = {0.3f, 0.75f, {0.5f, -20.0f, 13.0f, NAN_F, INF, -INF, 1e-40f}};
    r[FM1] = {-0.15f, 0.15f, {0.0f, 0.1f, 0.001f, -0.1f, NAN_F, 1e30f}};
    // N: up to 10000 partials, and hostile limits.
    r[N] = {0.0f, hostile ? 1000.0f : 3.0f, {0.0f, -1.0f, 1e9f, 3e38f, NAN_F}};
    // a: negative ratios, A near 1 (the guard), near -1, beyond 1 (the dominant power).
    r[A] = {hostile ? -0.1f : -0.09f,
            hostile ? 0.3f : 0.095f,
            {0.0f, 0.1f, 0.10000001f, 0.099999f, -0.1f, 0.2f, 0.15f, 1e30f, NAN_F}};
    r[GATE] = {-1.0f, 1.0f, {0.0f, 1.0f, -1.0f, NAN_F, INF}};
    r[DETUNE] = {-2.0f, 2.0f, {0.0f, 1e-6f, -1e-6f, 1e30f, NAN_F}};
    r[COMBFREQ] = {-0.35f, 0.35f, {0.0f, 0.1f, -0.1f, 0.3f, 1e20f, NAN_F, INF}};
    r[COMBPHASE] = {-0.35f, 0.35f, {0.0f, 0.05f, 1e20f, NAN_F, -INF}};
    return r;
}

// Fills one block. Held blocks keep every pin at one value, or change it once part-way
// (partial counts changing mid-block); the others give each pin a held value, audio-rate
// random values, one change, or random values with edge values.
void fillBlock(std::mt19937 &rng, const std::vector<PinRange> &r, int32_t n, bool edges,
               std::vector<float> (&in)[8]) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const bool heldBlock = rng() % 2 == 0;
    for (int p = 0; p < 8; ++p) {
        auto value = [&] { return r[p].lo + (r[p].hi - r[p].lo) * unit(rng); };
        const int kind = heldBlock ? (rng() % 4 == 0 ? 2 : 0) : static_cast<int>(rng() % 4);
        const float held = p == GATE && heldBlock ? (rng() % 4 == 0 ? -1.0f : 1.0f) : value();
        const int32_t change = static_cast<int32_t>(rng() % static_cast<uint32_t>(n + 1));
        const float after = value();
        for (int32_t i = 0; i < n; ++i) {
            float v = kind == 0 ? held : kind == 1 ? value() : i < change ? held : after;
            if (edges && kind == 3 && rng() % 8 == 0) {
                v = r[p].edges[rng() % r[p].edges.size()];
            }
            in[p][static_cast<size_t>(i)] = v;
        }
    }
    // A gate open at the block start in most blocks, so the voice keeps sounding.
    if (!heldBlock && rng() % 4 != 0) {
        in[GATE][0] = 1.0f;
    }
}

uint64_t bits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

uint32_t bits(float x) {
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

void expectSameState(const Module &ma, const Module &mb, const std::string &where) {
    const ConstModuleProbe a(ma), b(mb);
    EXPECT_EQ(bits(a.level()), bits(b.level())) << where;
    EXPECT_EQ(bits(a.carrierPhase()), bits(b.carrierPhase())) << where;
    EXPECT_EQ(bits(a.spacingPhase()), bits(b.spacingPhase())) << where;
    EXPECT_EQ(bits(a.combPhase()), bits(b.combPhase())) << where;
    EXPECT_EQ(bits(a.pitch()), bits(b.pitch())) << where;
    EXPECT_EQ(bits(a.pitchFc()), bits(b.pitchFc())) << where;
}

// One float rounding step of x: what a difference far below it in double can flip.
double floatStep(float x) {
    return std::fabs(static_cast<double>(std::nextafter(x, INF)) - x);
}

std::string scientific(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", x);
    return text;
}

// How closely two loops must agree. Bits: outputs and state bit for bit (the fast path).
// Precise: state bit for bit, outputs within 1e-9 of the output scale plus one float step
// ("hq", whose vector sine differs from std::sin in the last bits). Close: two arithmetics
// (x87 and SSE2 doubles on 32-bit builds), outputs within 1e-6 of the output scale plus one
// float step, state within 1e-12.
enum class Agreement { Bits, Precise, Close };

void expectCloseState(const Module &ma, const Module &mb, const std::string &where) {
    const ConstModuleProbe a(ma), b(mb);
    EXPECT_NEAR(a.level(), b.level(), 1e-12) << where;
    EXPECT_NEAR(a.carrierPhase(), b.carrierPhase(), 1e-12) << where;
    EXPECT_NEAR(a.spacingPhase(), b.spacingPhase(), 1e-12) << where;
    EXPECT_NEAR(a.combPhase(), b.combPhase(), 1e-12) << where;
    EXPECT_EQ(bits(a.pitch()), bits(b.pitch())) << where;
}

using BlockFill = void (*)(std::mt19937 &rng, bool hostile, int32_t block, int32_t n,
                           std::vector<float> (&in)[8]);

// Every pin drawn by fillBlock over ranges(hostile), edge values in some blocks.
void fillRandomBlock(std::mt19937 &rng, bool hostile, int32_t block, int32_t n,
                     std::vector<float> (&in)[8]) {
    fillBlock(rng, ranges(hostile), n, hostile || block % 3 == 0, in);
}

// "a" and the comb new at every sample in most blocks, over the ratio's edges: A = +-1 (the
// guard), just inside and outside it, negative ratios (odd and even counts), A = 1.5 and 2
// (powers beyond 2^400 from K of about 700 and 400), huge comb steps. The partial count changes
// inside some blocks; some blocks hold "a" and the comb for a while, before or after the
// modulation, or move only the pitch, so that powers are formed in the sequential pass and in
// the vector pass, and reused from either. hostile: counts to 2000 instead of 200.
void fillModulatedBlock(std::mt19937 &rng, bool hostile, int32_t, int32_t n,
                        std::vector<float> (&in)[8]) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float ratios[] = {0.1f,      0.10001f, 0.09999f, -0.1f,  -0.09999f,
                            -0.10001f, 0.15f,    0.2f,     -0.15f, 0.0f};
    const float combs[] = {1e20f, -3e9f, 0.3f, -0.3f, 0.0f, 0.25f};
    // Up to 200 (hostile 2000) partials, in steps of one partial: counts of both parities.
    const float limitHi = hostile ? 2000.0f : 200.0f;
    auto ratio = [&] { return rng() % 4 == 0 ? ratios[rng() % 10] : -0.12f + 0.32f * unit(rng); };
    auto comb = [&] { return rng() % 16 == 0 ? combs[rng() % 6] : -0.35f + 0.7f * unit(rng); };
    const uint32_t kind = rng() % 4; // 0 all modulated, 1 held then modulated, 2 the reverse,
                                     // 3 only the pitch moves
    const int32_t change = static_cast<int32_t>(rng() % static_cast<uint32_t>(n + 1));
    float limit = std::floor(limitHi * unit(rng)) / 10.0f;
    const float fc = 0.1f + 0.3f * unit(rng);
    const float heldA = ratio(), heldComb = comb(), heldPhase = comb();
    for (int32_t i = 0; i < n; ++i) {
        const bool modulated = kind == 0 || (kind == 1 && i >= change) || (kind == 2 && i < change);
        if (rng() % 24 == 0) {
            limit = std::floor(limitHi * unit(rng)) / 10.0f;
        }
        const size_t k = static_cast<size_t>(i);
        in[FC][k] = kind == 3 ? fc + 0.01f * unit(rng) : fc;
        in[FM1][k] = 0.0f;
        in[N][k] = limit;
        in[A][k] = modulated ? ratio() : heldA;
        in[GATE][k] = 1.0f;
        in[DETUNE][k] = 0.2f;
        in[COMBFREQ][k] = modulated ? comb() : heldComb;
        in[COMBPHASE][k] = modulated ? comb() : heldPhase;
    }
}

// Drives both voices through 60 blocks of the same inputs from `fill` and checks each block.
// Returns the largest output difference relative to the output scale.
double compareLoops(Voice &ref, Voice &other, Agreement agreement, uint32_t seed, bool hostile,
                    const std::string &name, BlockFill fill = &fillRandomBlock) {
    std::mt19937 rng(seed);
    double worst = 0.0;
    int32_t sounding = 0, samples = 0;
    for (int32_t block = 0; block < 60; ++block) {
        const int32_t n = block % 10 == 9 ? 0 : 1 + static_cast<int32_t>(rng() % MAX_BLOCK);
        fill(rng, hostile, block, n, ref.in);
        for (int p = 0; p < 8; ++p) {
            other.in[p] = ref.in[p];
        }
        // A fading level in some blocks: the release step of a stolen voice.
        const double level = block % 7 == 3 ? 0.37 : ModuleProbe(ref.m).level();
        ModuleProbe(ref.m).level() = ModuleProbe(other.m).level() = level;
        ref.m.renderBlock(0, n);
        other.m.renderBlock(0, n);
        const std::string where = name + " block " + std::to_string(block);
        if (agreement == Agreement::Close) {
            expectCloseState(ref.m, other.m, where);
        } else {
            expectSameState(ref.m, other.m, where);
        }
        const double tolerance = agreement == Agreement::Close ? 1e-6 : 1e-9;
        for (int32_t i = 0; i < n; ++i) {
            const float el = ref.outl[static_cast<size_t>(i)];
            const float er = ref.outr[static_cast<size_t>(i)];
            const float l = other.outl[static_cast<size_t>(i)];
            const float rr = other.outr[static_cast<size_t>(i)];
            sounding += el != 0.0f ? 1 : 0;
            ++samples;
            if (agreement == Agreement::Bits) {
                EXPECT_EQ(bits(l), bits(el)) << where << " sample " << i;
                EXPECT_EQ(bits(rr), bits(er)) << where << " sample " << i;
                if (bits(l) != bits(el) || bits(rr) != bits(er)) {
                    return 1.0;
                }
                continue;
            }
            const double scale =
                std::max(1.0, static_cast<double>(std::max(std::fabs(el), std::fabs(er))));
            EXPECT_LE(std::fabs(l - el), tolerance * scale + floatStep(el))
                << where << " sample " << i;
            EXPECT_LE(std::fabs(rr - er), tolerance * scale + floatStep(er))
                << where << " sample " << i;
            worst = std::max({worst, std::fabs(l - el) / scale, std::fabs(rr - er) / scale});
        }
        if (::testing::Test::HasFailure()) {
            return worst;
        }
    }
    // The comparison means something only where the voice sounds.
    EXPECT_GT(sounding, samples / 4) << name;
    return worst;
}

// hq, Mode, cyclic, hostile inputs.
class RenderLanes : public ::testing::TestWithParam<std::tuple<int16_t, int16_t, int16_t, bool>> {};

uint32_t seedOf(int16_t hq, int16_t mode, int16_t cyclic, bool hostile) {
    return 77u + static_cast<uint32_t>(hq * 1000 + mode * 100 + cyclic * 10) + (hostile ? 5u : 0u);
}

} // namespace

// The reference is the per-sample loop compiled as the split loop is: on 32-bit builds both use
// SSE2 doubles, unlike the module's own per-sample loop.
TEST_P(RenderLanes, MatchesThePerSampleLoopOnEveryVectorUnit) {
    const auto [hq, mode, cyclic, hostile] = GetParam();
    for (VectorUnit unit : unitsOfThisProcessor()) {
        Voice ref(hq, mode, cyclic, unit);
        ModuleProbe(ref.m).splitLoop() = false;
        Voice lanes(hq, mode, cyclic, unit);
        const double worst =
            compareLoops(ref, lanes, hq == 0 ? Agreement::Bits : Agreement::Precise,
                         seedOf(hq, mode, cyclic, hostile), hostile, nameOf(unit));
        RecordProperty(std::string("largest_difference_") + nameOf(unit), scientific(worst));
    }
}

TEST_P(RenderLanes, MatchesThePerSampleLoopWithRatioAndCombModulatedEverySample) {
    const auto [hq, mode, cyclic, hostile] = GetParam();
    for (VectorUnit unit : unitsOfThisProcessor()) {
        Voice ref(hq, mode, cyclic, unit);
        ModuleProbe(ref.m).splitLoop() = false;
        Voice lanes(hq, mode, cyclic, unit);
        const double worst = compareLoops(
            ref, lanes, hq == 0 ? Agreement::Bits : Agreement::Precise,
            seedOf(hq, mode, cyclic, hostile) + 824u, hostile, nameOf(unit), &fillModulatedBlock);
        RecordProperty(std::string("largest_difference_") + nameOf(unit), scientific(worst));
    }
}

// The module's own per-sample loop (processors without a vector unit) against the one the
// split loop reproduces: the same code, in x87 doubles on 32-bit builds and SSE2 doubles
// elsewhere.
TEST_P(RenderLanes, ThePerSampleLoopOfProcessorsWithoutVectorUnitAgrees) {
    const auto [hq, mode, cyclic, hostile] = GetParam();
    const std::vector<VectorUnit> units = unitsOfThisProcessor();
    if (units.empty()) {
        GTEST_SKIP() << "no vector unit on this processor";
    }
    Voice ref(hq, mode, cyclic, VectorUnit::None);
    Voice sse2(hq, mode, cyclic, VectorUnit::Sse2);
    ModuleProbe(sse2.m).splitLoop() = false;
    const Agreement agreement = sizeof(void *) == 8 ? Agreement::Bits : Agreement::Close;
    const double worst = compareLoops(ref, sse2, agreement, seedOf(hq, mode, cyclic, hostile) + 1u,
                                      hostile, "per-sample");
    RecordProperty("largest_difference", scientific(worst));
}

INSTANTIATE_TEST_SUITE_P(RenderLanes, RenderLanes,
                         ::testing::Combine(::testing::Values<int16_t>(0, 1),
                                            ::testing::Values<int16_t>(1, 2),
                                            ::testing::Values<int16_t>(1, 2), ::testing::Bool()));
