// The split render loop. The sequential pass is the per-sample loop's own steps; only the sum
// moves: into a vector pass, or, for the rare samples the vector pass does not cover, into the
// per-sample sum itself.
#include "oscillator/render_split.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "kernels/sin_cos_pi4.h"
#include "oscillator/complex_power.h"
#include "oscillator/partial_sum.h"

namespace {

// The precise vector sine reduces by multiples of pi/2 exactly up to 2^20 of them; angles
// (in half-turns) beyond this bound take the per-sample sum.
constexpr double PRECISE_LANES_PHASE_LIMIT = 1e5;

uint64_t bitsOf(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// z^(K+1) of the previous sounding sample. The power is a pure function of (A, C, K), so a
// sample with the same three values (compared bit for bit) reuses it unchanged.
class PowerCache {
public:
    template <bool Precise> const PowerOfRatio &power(double A, double C, int32_t K) {
        if (m_valid && bitsOf(A) == m_A && bitsOf(C) == m_C && K == m_K) {
            return m_power;
        }
        if (Precise) {
            m_power = precisePower(A, C, K);
        } else {
            // z from the comb step's sine and cosine as the four-lane kernel gives them.
            double sC, cC, unused[6];
            sinCosPi4(C, sC, cC, C, unused[0], unused[1], C, unused[2], unused[3], C, unused[4],
                      unused[5]);
            m_power = fastPower(A * cC, A * sC, K);
        }
        m_valid = true;
        m_A = bitsOf(A);
        m_C = bitsOf(C);
        m_K = K;
        return m_power;
    }

private:
    PowerOfRatio m_power = {0.0, 0.0, 0.0};
    uint64_t m_A = 0, m_C = 0;
    int32_t m_K = 0;
    bool m_valid = false;
};

bool withinPreciseLanes(const SoundingSample &s) {
    const double L = PRECISE_LANES_PHASE_LIMIT;
    return std::fabs(s.phiC) <= L && std::fabs(s.phiM) <= L && std::fabs(s.phiQ) <= L &&
           std::fabs(s.C) <= L && std::fabs(static_cast<double>(s.K) * s.phiM) <= L;
}

void gather(LaneBlock &b, const SoundingSample &s, const PowerOfRatio &p, double gain1,
            double gain2) {
    const int32_t j = b.count++;
    b.phiC[j] = s.phiC;
    b.phiM[j] = s.phiM;
    b.phiQ[j] = s.phiQ;
    b.C[j] = s.C;
    b.A[j] = s.A;
    b.K[j] = static_cast<double>(s.K);
    b.wr[j] = p.wr;
    b.wi[j] = p.wi;
    b.R[j] = p.R;
    b.gain1[j] = gain1;
    b.gain2[j] = gain2;
}

// Lanes up to the next multiple of 8 repeat the last sample, so every lane holds real inputs.
void pad(LaneBlock &b) {
    const int32_t last = b.count - 1;
    for (int32_t j = b.count; j % 8 != 0; ++j) {
        b.phiC[j] = b.phiC[last];
        b.phiM[j] = b.phiM[last];
        b.phiQ[j] = b.phiQ[last];
        b.C[j] = b.C[last];
        b.A[j] = b.A[last];
        b.K[j] = b.K[last];
        b.wr[j] = b.wr[last];
        b.wi[j] = b.wi[last];
        b.R[j] = b.R[last];
        b.gain1[j] = b.gain1[last];
        b.gain2[j] = b.gain2[last];
    }
}

template <bool Precise>
void renderSplitPath(LoopState &st, const LoopConstants &lc, const BlockIo &io, int32_t sampleCount,
                     double sign1, double sign2, bool oneSided, LanePass pass) {
    constexpr SinePath PATH = Precise ? SinePath::Precise : SinePath::FastSse;
    PowerCache cache;
    LaneBlock block;
    int32_t index[LANE_BLOCK];
    float first[LANE_BLOCK], second[LANE_BLOCK];
    for (int32_t begin = 0; begin < sampleCount; begin += LANE_BLOCK) {
        const int32_t end = sampleCount - begin < LANE_BLOCK ? sampleCount : begin + LANE_BLOCK;
        block.count = 0;
        for (int32_t i = begin; i < end; ++i) {
            SoundingSample s;
            if (!stepToSynthesis(st, lc, io, i, s)) {
                io.first[i] = io.second[i] = 0.0f;
                continue;
            }
            const PowerOfRatio &p = cache.power<Precise>(s.A, s.C, s.K);
            const bool dominant = !(std::fabs(p.R) <= DOMINANT_POWER_LIMIT);
            if (dominant || (Precise && !withinPreciseLanes(s))) {
                const PartialSumOut o =
                    partialSum<PATH>(s.phiC, s.phiM, s.phiQ, s.C, s.A, s.K, oneSided);
                io.first[i] = audibleSample(o.first * (st.level * sign1));
                io.second[i] = audibleSample(o.second * (st.level * sign2));
            } else {
                index[block.count] = i;
                gather(block, s, p, st.level * sign1, st.level * sign2);
            }
            advancePhases(st, s, lc.twoOverSr);
        }
        if (block.count == 0) {
            continue;
        }
        pad(block);
        pass(block, first, second);
        for (int32_t j = 0; j < block.count; ++j) {
            io.first[index[j]] = first[j];
            io.second[index[j]] = second[j];
        }
    }
}

} // namespace

void renderSplit(LoopState &st, const LoopConstants &lc, const BlockIo &io, int32_t sampleCount,
                 double sign1, double sign2, bool precise, bool oneSided, LanePass pass) {
    if (precise) {
        renderSplitPath<true>(st, lc, io, sampleCount, sign1, sign2, oneSided, pass);
    } else {
        renderSplitPath<false>(st, lc, io, sampleCount, sign1, sign2, oneSided, pass);
    }
}
