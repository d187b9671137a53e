// The split render loop. The sequential pass is the per-sample loop's own steps; only the sum
// moves: into a vector pass, or, for the rare samples the vector pass does not cover, into the
// per-sample sum itself.
//
// On 32-bit builds everything after the target pragma uses SSE2 doubles (fpmath=sse) instead
// of x87: the split loop runs only where a vector unit exists, and its sequential pass, power
// and per-sample sums must round as the lane passes do. The headers with external inline
// functions (the standard library's, the SDK's, the module's) come before the pragma, so no
// copy of theirs is emitted here with SSE2 code; the maths headers after it have internal
// linkage.
#include "kernels/cpu_features.h"
#include "oscillator/module/Module.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__i386__)
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse2"))), apply_to = function)
#else
#pragma GCC target("sse2", "fpmath=sse")
#endif
#endif

#include "kernels/sin_cos_pi4.h"
#include "oscillator/signal/complex_power.h"
#include "oscillator/signal/partial_sum.h"
#include "oscillator/render/render_samples.h"
#include "oscillator/render/render_split.h"

namespace {

// The precise vector sine reduces by multiples of pi/2 exactly up to 2^20 of them; angles
// (in half-turns) beyond this bound take the per-sample sum.
constexpr double PRECISE_LANES_PHASE_LIMIT = 1e5;

uint64_t bitsOf(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// z^(K+1) of the last (A, C, K) seen. The power is a pure function of (A, C, K), so a sample
// with the same three values (compared bit for bit) reuses it unchanged. Where the power is
// left to the vector pass the key is kept with the power pending: the sub-block's later samples
// with that key leave theirs to the pass as well, and a later sub-block meeting the key forms
// it here once.
class PowerCache {
public:
    // Called at every sub-block's start: the previous pass's powers are not kept.
    void startSubBlock() {
        if (m_state == State::Pending) {
            m_state = State::Stale;
        }
    }

    // The power of (A, C, K), or null where it is pending in this sub-block's pass. formHere:
    // a new key's power is formed here rather than left to the pass.
    template <bool Precise>
    const PowerOfRatio *power(double A, double C, int32_t K, bool formHere) {
        const bool sameKey = bitsOf(A) == m_A && bitsOf(C) == m_C && K == m_K;
        if (sameKey && m_state == State::Formed) {
            return &m_power;
        }
        if (sameKey && m_state == State::Pending) {
            return nullptr;
        }
        if (!sameKey || m_state == State::Empty) {
            m_A = bitsOf(A);
            m_C = bitsOf(C);
            m_K = K;
            if (!formHere) {
                m_state = State::Pending;
                return nullptr;
            }
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
        m_state = State::Formed;
        return &m_power;
    }

private:
    // Empty: no key yet. Stale: the key's power was formed by an earlier pass and not kept.
    enum class State : uint8_t { Empty, Formed, Pending, Stale };
    PowerOfRatio m_power = {0.0, 0.0, 0.0};
    uint64_t m_A = 0, m_C = 0;
    int32_t m_K = 0;
    State m_state = State::Empty;
};

bool withinPreciseLanes(const SoundingSample &s) {
    const double L = PRECISE_LANES_PHASE_LIMIT;
    return std::fabs(s.phiC) <= L && std::fabs(s.phiM) <= L && std::fabs(s.phiQ) <= L &&
           std::fabs(s.C) <= L && std::fabs(static_cast<double>(s.K) * s.phiM) <= L;
}

// The comb step and the count of a sample bound every repeated sample after it: with K <= L
// and a wrapped spacing phase (|phiM| <= 1), K phiM stays within L.
bool ratioWithinPreciseLanes(const SoundingSample &s) {
    const double L = PRECISE_LANES_PHASE_LIMIT;
    return std::fabs(s.C) <= L && static_cast<double>(s.K) <= L;
}

// withinPreciseLanes for a repeated sample whose ratio was in range: only the phases move.
// A spacing phase beyond 1 (never, once wrapped) takes the complete test.
bool repeatedWithinPreciseLanes(const SoundingSample &s) {
    const double L = PRECISE_LANES_PHASE_LIMIT;
    return std::fabs(s.phiM) <= 1.0 ? std::fabs(s.phiC) <= L && std::fabs(s.phiQ) <= L
                                    : withinPreciseLanes(s);
}

// Lanes 1..count-1 of the ratio fields (A, C, K, power, comb phase) take lane 0's values,
// and its power's place (given, or left to the pass): what a held block leaves unwritten, once
// it stops being held.
void spreadLaneZero(LaneBlock &b, int32_t count) {
    for (int32_t j = 1; j < count; ++j) {
        b.phiQ[j] = b.phiQ[0];
        b.C[j] = b.C[0];
        b.A[j] = b.A[0];
        b.K[j] = b.K[0];
        b.wr[j] = b.wr[0];
        b.wi[j] = b.wi[0];
        b.R[j] = b.R[0];
    }
    if ((b.powerLanes & 1u) != 0) {
        b.powerLanes = lanesUpTo(count);
    }
}

// Appends sample s to the block, with its power p, or null to leave the power to the pass.
// ratioKept: s has the previous gathered sample's A, C and K, known without comparing. While
// the block is held only lane 0 of the ratio fields is written (the passes read no other); the
// first sample that differs spreads lane 0 over the lanes before it. Always inlined: GCC 12
// keeps it out of line, a call per sounding sample (held inputs, AVX2: 225 to 209
// instructions per sample inlined).
[[gnu::always_inline]] inline void gather(LaneBlock &b, const SoundingSample &s,
                                          const PowerOfRatio *p, double gain1, double gain2,
                                          bool ratioKept) {
    const int32_t j = b.count++;
    b.phiC[j] = s.phiC;
    b.phiM[j] = s.phiM;
    b.gain1[j] = gain1;
    b.gain2[j] = gain2;
    if (j > 0 && b.held) {
        // Equal A, C and K give the same power: it is a pure function of them.
        const bool sameRatio =
            ratioKept || (bitsOf(s.A) == bitsOf(b.A[0]) && bitsOf(s.C) == bitsOf(b.C[0]) &&
                          static_cast<double>(s.K) == b.K[0]);
        if (sameRatio && bitsOf(s.phiQ) == bitsOf(b.phiQ[0])) {
            return;
        }
        spreadLaneZero(b, j);
    }
    b.held = j == 0;
    b.phiQ[j] = s.phiQ;
    b.C[j] = s.C;
    b.A[j] = s.A;
    b.K[j] = static_cast<double>(s.K);
    if (p != nullptr) {
        b.wr[j] = p->wr;
        b.wi[j] = p->wi;
        b.R[j] = p->R;
    } else {
        b.wr[j] = b.wi[j] = b.R[j] = 0.0;
        b.powerLanes |= uint64_t{1} << j;
    }
}

// True when each input the sequential pass reads holds one bit pattern over [begin, end):
// held pins are the common case, and let stepRepeatedInputs stand in for stepToSynthesis.
// Each element equal to the next one, compared as bytes.
bool inputsHeld(const BlockIo &io, int32_t begin, int32_t end) {
    const float *const pins[] = {io.fc,     io.fm1,      io.a,        io.gate,
                                 io.detune, io.combfreq, io.combphase};
    const size_t bytes = static_cast<size_t>(end - begin - 1) * sizeof(float);
    for (const float *p : pins) {
        if (std::memcmp(p + begin, p + begin + 1, bytes) != 0) {
            return false;
        }
    }
    return true;
}

// Lanes up to the next multiple of 8 repeat the last sample, so every lane holds real inputs
// (in a held block, the lanes the passes read).
void pad(LaneBlock &b) {
    const int32_t last = b.count - 1;
    for (int32_t j = b.count; j % 8 != 0; ++j) {
        b.phiC[j] = b.phiC[last];
        b.phiM[j] = b.phiM[last];
        b.gain1[j] = b.gain1[last];
        b.gain2[j] = b.gain2[last];
        if (!b.held) {
            b.phiQ[j] = b.phiQ[last];
            b.C[j] = b.C[last];
            b.A[j] = b.A[last];
            b.K[j] = b.K[last];
            b.wr[j] = b.wr[last];
            b.wi[j] = b.wi[last];
            b.R[j] = b.R[last];
            b.powerLanes |= ((b.powerLanes >> last) & 1u) << j;
        }
    }
}

// The per-sample sum of one sample, times its gains, to the outputs: the samples the vector
// pass does not cover.
template <SinePath Path>
void perSampleSum(double phiC, double phiM, double phiQ, double C, double A, int32_t K,
                  bool oneSided, double gain1, double gain2, float &first, float &second) {
    const PartialSumOut o = partialSum<Path>(phiC, phiM, phiQ, C, A, K, oneSided);
    first = audibleSample(o.first * gain1);
    second = audibleSample(o.second * gain2);
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
        block.powerLanes = 0;
        cache.startSubBlock();
        const bool held = inputsHeld(io, begin, end);
        bool repeated = false; // the previous sample sounded with a kept count, inputs held
        SoundingSample s;
        const PowerOfRatio *p = nullptr;
        bool perSample = false;    // the power dominates: the per-sample sum
        bool ratioInRange = false; // "hq": the last full state step's C and K bound K phiM
        for (int32_t i = begin; i < end; ++i) {
            const bool repeats = repeated;
            if (repeats) {
                stepRepeatedInputs(st, lc, io.combphase[i], s);
            } else {
                const int32_t countBefore = st.K;
                if (!stepToSynthesis(st, lc, io, i, s)) {
                    io.first[i] = io.second[i] = 0.0f;
                    continue;
                }
                repeated = held && st.K == countBefore;
                // Held inputs keep one power over the sub-block: formed here, once. Inputs that
                // move leave new powers to the pass, which forms them W lanes at a time.
                p = cache.power<Precise>(s.A, s.C, s.K, held);
                perSample = p != nullptr && !(std::fabs(p->R) <= DOMINANT_POWER_LIMIT);
                ratioInRange = Precise && repeated && ratioWithinPreciseLanes(s);
            }
            const bool inRange =
                !Precise ||
                (repeats && ratioInRange ? repeatedWithinPreciseLanes(s) : withinPreciseLanes(s));
            if (perSample || !inRange) {
                perSampleSum<PATH>(s.phiC, s.phiM, s.phiQ, s.C, s.A, s.K, oneSided,
                                   st.level * sign1, st.level * sign2, io.first[i], io.second[i]);
            } else {
                // A repeated sample right after a gathered one has its A, C and K.
                const bool ratioKept =
                    repeats && block.count > 0 && index[block.count - 1] == i - 1;
                index[block.count] = i;
                gather(block, s, p, st.level * sign1, st.level * sign2, ratioKept);
            }
            advancePhases(st, s, lc.twoOverSr);
        }
        if (block.count == 0) {
            continue;
        }
        pad(block);
        // Every sample of the sub-block gathered, in whole groups of 8: straight into the
        // host's buffers (the sub-block's inputs are all read by now).
        const bool direct = block.count == end - begin && block.count % 8 == 0;
        float *const out1 = direct ? io.first + begin : first;
        float *const out2 = direct ? io.second + begin : second;
        // Lanes whose formed power dominates, or whose angle the precise vector sine cannot
        // take, are evaluated again from their inputs, as the per-sample loop evaluates them.
        uint64_t again = pass(block, out1, out2) & lanesUpTo(block.count);
        if (again != 0 && block.held) {
            spreadLaneZero(block, block.count);
        }
        for (; again != 0; again &= again - 1) {
            const int32_t j = __builtin_ctzll(again);
            perSampleSum<PATH>(block.phiC[j], block.phiM[j], block.phiQ[j], block.C[j], block.A[j],
                               static_cast<int32_t>(block.K[j]), oneSided, block.gain1[j],
                               block.gain2[j], out1[j], out2[j]);
        }
        for (int32_t j = 0; !direct && j < block.count; ++j) {
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

void renderSamplesLikeSplit(LoopState &st, const LoopConstants &lc, const BlockIo &io,
                            int32_t sampleCount, double sign1, double sign2, bool precise,
                            bool oneSided) {
    if (precise) {
        oneSided ? renderSamples<SinePath::Precise, true>(st, lc, io, sampleCount, sign1, sign2)
                 : renderSamples<SinePath::Precise, false>(st, lc, io, sampleCount, sign1, sign2);
    } else {
        oneSided ? renderSamples<SinePath::FastSse, true>(st, lc, io, sampleCount, sign1, sign2)
                 : renderSamples<SinePath::FastSse, false>(st, lc, io, sampleCount, sign1, sign2);
    }
}

#if defined(__i386__) && defined(__clang__)
#pragma clang attribute pop
#endif
