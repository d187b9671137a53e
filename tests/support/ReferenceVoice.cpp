// The per-sample steps in their order: level, gate, pitch, spacing, count, ratio, comb, sum,
// phase advance. Each step is one of the oscillator's pure functions; only the order and the
// state are this file's own.
#include "support/ReferenceVoice.h"

#include "kernels/cpu_features.h"
#include "oscillator/signal/partial_count.h"
#include "oscillator/signal/partial_shape.h"
#include "oscillator/signal/phase_wrap.h"
#include "oscillator/signal/pitch.h"
#include "oscillator/signal/rounding.h"

namespace {

PartialSumOut sumOn(SinePath path, double phiC, double phiM, double phiQ, double C, double A,
                    int32_t K, bool oneSided) {
    switch (path) {
    case SinePath::Hq:
        return partialSum<SinePath::Hq>(phiC, phiM, phiQ, C, A, K, oneSided);
    case SinePath::FastSse:
        return partialSum<SinePath::FastSse>(phiC, phiM, phiQ, C, A, K, oneSided);
    case SinePath::FastScalar:
        break;
    }
    return partialSum<SinePath::FastScalar>(phiC, phiM, phiQ, C, A, K, oneSided);
}

} // namespace

ReferenceVoice::ReferenceVoice(float sampleRate, SinePath path, int16_t mode, int16_t cyclic)
    : m_path(path), m_mode(mode), m_cyclic(cyclic),
      m_two_over_sr(2.0 / static_cast<double>(sampleRate)),
      m_nyquist(static_cast<double>(sampleRate) * 0.5) {}

void ReferenceVoice::startBlock(float firstN, double decayStep) {
    m_Nmax = nearestInt(10.0 * static_cast<double>(firstN));
    m_K = -1;
    m_decay_step = decayStep;
}

PartialSumOut ReferenceVoice::render(const VoiceInputs &in) {
    m_level -= m_decay_step;
    if (m_level < 0.0) {
        m_level = 0.0;
    }
    if (in.gate == 0.0f) {
        m_carrier_phase = m_spacing_phase = m_comb_phase = 0.0;
        return {0.0, 0.0};
    }
    if (in.fc != m_pitch_fc) {
        m_pitch = pitchFromFc(in.fc);
        m_pitch_fc = in.fc;
    }
    const float f0 = m_pitch;
    double delta = spacingHz(f0, in.fm1, in.detune);
    if (m_mode == 2) {
        delta = foldMode2Spacing(delta);
    }
    double f1 = 0.0;
    if (!countPartials(f0, delta, m_Nmax, m_K, m_nyquist, f1)) {
        m_carrier_phase = m_spacing_phase = 0.0;
        return {0.0, 0.0};
    }
    const double A = amplitudeRatio(in.a);
    const double C = combStep(in.combfreq);
    m_comb_phase = m_cyclic == 1 ? combPhaseFollowing(in.combphase)
                                 : combPhaseRotating(m_comb_phase, in.combphase, m_two_over_sr);
    const PartialSumOut s =
        sumOn(m_path, m_carrier_phase, m_spacing_phase, m_comb_phase, C, A, m_K, m_mode == 1);
    m_carrier_phase = wrapOnce(m_carrier_phase + f1 * m_two_over_sr);
    m_spacing_phase = wrapComplete(m_spacing_phase + delta * m_two_over_sr);
    return {s.first * m_level, s.second * m_level};
}

SinePath fastPathOfThisProcessor() {
    return hasSSE() ? SinePath::FastSse : SinePath::FastScalar;
}
