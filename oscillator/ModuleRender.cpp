// The render loop. Per block: buffers from the offset, destinations, decay step, partial
// limit, silence test, then one plain loop over the samples whose body is the signal path:
// level, gate, pitch, spacing, partial count, ratio, comb, closed-form sum, phase advance.
#include "oscillator/Module.h"

#include "oscillator/VoicePool.h"
#include "oscillator/partial_count.h"
#include "oscillator/partial_shape.h"
#include "oscillator/partial_sum.h"
#include "oscillator/phase_wrap.h"
#include "oscillator/pitch.h"
#include "oscillator/rounding.h"
#include "se_sdk2/se_protocol.h"

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace {

// The sample written to a host buffer: a normal float, or 0.0. NaN, infinities (a gain that
// ran away, a product that overflowed) and subnormals (which slow every filter downstream)
// never leave the module. The range test comes first, so the narrowing is always defined.
inline float audibleSample(double x) {
    const double m = std::fabs(x);
    return (m >= static_cast<double>(FLT_MIN) && m <= static_cast<double>(FLT_MAX))
               ? static_cast<float>(x)
               : 0.0f;
}

// Prefetch hints for the state the loop reads first; no effect on results.
inline void prefetchState(const Module &m) {
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

} // namespace

// The per-sample signal path over one block, with the hot state in locals. Path and OneSided
// are fixed per block: "hq", the processor and "Mode" do not change within a call.
template <SinePath Path, bool OneSided>
static void renderSamples(Module &m, const BlockIo &io, int32_t sampleCount, double decayStep,
                          int32_t Nmax) {
    const double twoOverSr = m.m_two_over_sr;
    const double nyquist = m.m_nyquist;
    const bool foldSpacing = m.m_mode == 2;
    const bool combFollows = m.m_cyclic == 1;
    const double sign1 = m.m_sign1;
    const double sign2 = m.m_sign2;
    double level = m.m_level;
    double carrier = m.m_carrier_phase;
    double spacing = m.m_spacing_phase;
    double comb = m.m_comb_phase;
    float pitch = m.m_pitch;
    float pitchFc = m.m_pitch_fc;
    int32_t K = -1; // recomputed at the first audible sample of every block
    // A sample with nothing to sound (no partial in the band, or a non-finite input): both
    // outputs 0, carrier and spacing restart from 0, the comb phase stays.
    auto silentSample = [&](int32_t i) {
        carrier = spacing = 0.0;
        io.first[i] = io.second[i] = 0.0f;
    };

    for (int32_t i = 0; i < sampleCount; ++i) {
        level = std::fmax(level - decayStep, 0.0);
        if (io.gate[i] == 0.0f) {
            carrier = spacing = comb = 0.0;
            io.first[i] = io.second[i] = 0.0f;
            continue;
        }
        // A gate of NaN or infinity is no level at all: silent, like any non-finite input.
        if (!std::isfinite(io.gate[i])) {
            silentSample(i);
            continue;
        }
        if (io.fc[i] != pitchFc) {
            const float f = pitchFromFc(io.fc[i]);
            // A non-finite "fc", or one beyond about 12.4 (no finite pitch): silent, cache kept.
            if (!std::isfinite(io.fc[i]) || !std::isfinite(f)) {
                silentSample(i);
                continue;
            }
            pitch = f;
            pitchFc = io.fc[i];
        }
        double delta = spacingHz(pitch, io.fm1[i], io.detune[i]);
        if (foldSpacing) {
            delta = foldMode2Spacing(delta);
        }
        double f1 = 0.0;
        if (!countPartials(pitch, delta, Nmax, K, nyquist, f1)) {
            silentSample(i);
            continue;
        }
        const double A = amplitudeRatio(io.a[i]);
        const double C = combStep(io.combfreq[i]);
        // A non-finite "combphase" has no phase to follow or rotate by: silent, comb kept.
        if (!std::isfinite(io.combphase[i])) {
            silentSample(i);
            continue;
        }
        comb = combFollows ? combPhaseFollowing(io.combphase[i])
                           : combPhaseRotating(comb, io.combphase[i], twoOverSr);
        const PartialSumOut s = partialSum<Path>(carrier, spacing, comb, C, A, K, OneSided);
        io.first[i] = audibleSample(s.first * (level * sign1));
        io.second[i] = audibleSample(s.second * (level * sign2));
        // Wrapped completely, like the spacing: equal to one step wherever one step is enough,
        // and bounded when a carrier far above the sample rate sounds with a kept count (a
        // pitch of 1.5e10 Hz over a spacing near FLT_MAX advances it by 7e5 per sample).
        carrier = wrapComplete(carrier + f1 * twoOverSr);
        spacing = wrapComplete(spacing + delta * twoOverSr);
    }

    m.m_level = level;
    m.m_carrier_phase = carrier;
    m.m_spacing_phase = spacing;
    m.m_comb_phase = comb;
    m.m_pitch = pitch;
    m.m_pitch_fc = pitchFc;
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

    const bool oneSided = m_mode == 1;
    if (m_hq != 0) {
        oneSided ? renderSamples<SinePath::Precise, true>(*this, io, sampleCount, decayStep, Nmax)
                 : renderSamples<SinePath::Precise, false>(*this, io, sampleCount, decayStep, Nmax);
    } else if (m_use_sse) {
        oneSided ? renderSamples<SinePath::FastSse, true>(*this, io, sampleCount, decayStep, Nmax)
                 : renderSamples<SinePath::FastSse, false>(*this, io, sampleCount, decayStep, Nmax);
    } else {
        oneSided
            ? renderSamples<SinePath::FastScalar, true>(*this, io, sampleCount, decayStep, Nmax)
            : renderSamples<SinePath::FastScalar, false>(*this, io, sampleCount, decayStep, Nmax);
    }
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
