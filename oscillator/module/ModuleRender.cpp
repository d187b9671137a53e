// The process routine: per block the buffers from the offset, the destinations, decay step,
// partial limit, silence test and decoded settings, then the samples on the block render path
// (render/sub_blocks.h) or, without a vector unit, the per-sample loop (render/per_sample.h).
#include "oscillator/module/Module.h"

#include "oscillator/lanes/lane_passes.h"
#include "oscillator/module/VoicePool.h"
#include "oscillator/render/per_sample.h"
#include "oscillator/render/sample_steps.h"
#include "oscillator/render/sub_blocks.h"
#include "oscillator/signal/partial_sum.h"
#include "oscillator/signal/rounding.h"
#include "se_sdk2/se_protocol.h"

#include <cmath>
#include <cstdint>

// Prefetch hints for the state the loop reads first; no effect on results.
inline void Module::prefetchState(const Module &m) {
#if defined(__GNUC__)
    __builtin_prefetch(&m.m_two_over_sr);
    __builtin_prefetch(&m.m_carrier_phase);
    __builtin_prefetch(&m.m_spacing_phase);
    __builtin_prefetch(&m.m_comb_phase);
    __builtin_prefetch(&m.m_pitch);
    __builtin_prefetch(&m.m_pitch_fc);
    __builtin_prefetch(&m.m_mode);
    __builtin_prefetch(&m.m_cyclic);
    __builtin_prefetch(&m.m_use_sse);
#else
    (void)m;
#endif
}

// Hot state in locals for one block, and back.
LoopState Module::loadLoopState(const Module &m) {
    return {
        m.m_level, m.m_carrier_phase, m.m_spacing_phase, m.m_comb_phase, m.m_pitch, m.m_pitch_fc,
        -1};
}

void Module::storeLoopState(Module &m, const LoopState &st) {
    m.m_level = st.level;
    m.m_carrier_phase = st.carrier;
    m.m_spacing_phase = st.spacing;
    m.m_comb_phase = st.comb;
    m.m_pitch = st.pitch;
    m.m_pitch_fc = st.pitchFc;
}

void Module::renderBlock(int32_t bufferOffset, int32_t sampleCount) {
    if (!buffersBound()) {
        return; // a host that never bound the pins gets nothing written and no state change
    }
    BlockIo io;
    io.fc = m_fc + bufferOffset;
    io.fm1 = m_fm1 + bufferOffset;
    io.a = m_a + bufferOffset;
    io.gate = m_gate + bufferOffset;
    io.detune = m_detune + bufferOffset;
    io.combfreq = m_combfreq + bufferOffset;
    io.combphase = m_combphase + bufferOffset;
    io.first = (m_swap_outputs ? m_outputr : m_outputl) + bufferOffset;
    io.second = (m_swap_outputs ? m_outputl : m_outputr) + bufferOffset;

    const double decayStep = blockDecayStep(m_pool, m_voice);
    const int32_t Nmax = nearestInt(10.0 * static_cast<double>(m_N[bufferOffset]));

    if (io.gate[0] == 0.0f || m_level == 0.0) {
        enterSilence();
    }
    if (sampleCount <= 0) {
        return;
    }
    if (!(m_nyquist > 0.0)) {
        renderUnusableRate(io, sampleCount, decayStep);
        return;
    }
    if (m_use_sse) {
        prefetchState(*this);
    }

    // The settings, decoded once for the block.
    LoopConstants lc;
    lc.twoOverSr = m_two_over_sr;
    lc.nyquist = m_nyquist;
    lc.decayStep = decayStep;
    lc.Nmax = Nmax;
    lc.sign1 = m_sign1;
    lc.sign2 = m_sign2;
    lc.oneSided = m_mode == 1;
    lc.foldSpacing = m_mode == 2;
    lc.combRotates = m_cyclic != 1;
    lc.hq = m_hq != 0;
    LoopState st = loadLoopState(*this);
    if (const LanePasses *passes = lanePasses(m_vector_unit)) {
        renderSubBlocks({st, lc, io, *passes, m_held_ratio, m_held_rotations}, sampleCount);
    } else if (lc.hq) {
        renderPerSample<SinePath::Hq>(st, lc, io, 0, sampleCount);
    } else if (m_use_sse) {
        renderPerSample<SinePath::FastSse>(st, lc, io, 0, sampleCount);
    } else {
        renderPerSample<SinePath::FastScalar>(st, lc, io, 0, sampleCount);
    }
    storeLoopState(*this, st);
}

void Module::renderUnusableRate(const BlockIo &io, int32_t sampleCount, double decayStep) {
    // Without a usable sample rate no partial lies inside the band: every sample is silent,
    // and only the level keeps falling.
    for (int32_t i = 0; i < sampleCount; ++i) {
        m_level = std::fmax(m_level - decayStep, 0.0);
        io.first[i] = io.second[i] = 0.0f;
    }
    m_carrier_phase = m_spacing_phase = 0.0;
}

void Module::renderCountdown(int32_t bufferOffset, int32_t sampleCount) {
    renderBlock(bufferOffset, sampleCount);
    // Saturating: a host that keeps calling a sleeping module never wraps the countdown.
    const int32_t n = sampleCount > 0 ? sampleCount : 0;
    m_sleep_countdown = m_sleep_countdown < INT32_MIN + n ? INT32_MIN : m_sleep_countdown - n;
    if (m_sleep_countdown <= 0) {
        callHost(HOST_SLEEP, 0, 0, nullptr, 0.0f);
    }
}

void Module::enterSilence() {
    if (m_outputs_static) {
        return;
    }
    m_sleep_countdown = getBlockSize();
    setProcessFunction(processFunction<Module, &Module::renderCountdown>());
    announceOutputs(STREAM_SINGLE_CHANGE);
    m_outputs_static = true;
}

bool Module::buffersBound() const {
    return m_fc && m_fm1 && m_N && m_a && m_gate && m_detune && m_combfreq && m_combphase &&
           m_outputl && m_outputr;
}
