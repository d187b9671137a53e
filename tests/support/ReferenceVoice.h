// A model of one voice's per-sample pipeline, composed from the oscillator's pure functions in
// the order the render loop must use them, with phases, level, pitch cache and partial count
// tracked here. Tests feed it the samples they give the plug-in and compare what comes out.
#pragma once

#include "oscillator/signal/partial_sum.h"

#include <cstdint>

// One sample of the audio inputs that the render loop reads (sync is not among them).
struct VoiceInputs {
    float fc, fm1, a, gate, detune, combfreq, combphase;
};

class ReferenceVoice {
public:
    // The state open leaves: phases 0, level 1, pitch cache at -20. sampleRate in Hz.
    ReferenceVoice(float sampleRate, SinePath path, int16_t mode, int16_t cyclic);

    // Block start: the partial limit from the block's first "N" sample, K back to -1, and the
    // level's fall per sample for this block (0 unless the voice is released).
    void startBlock(float firstN, double decayStep);
    // One sample: the first and second signal times the level, before sign and placement.
    PartialSumOut render(const VoiceInputs &in);

    // A note start: full level again.
    void restartLevel() { m_level = 1.0; }
    double level() const { return m_level; }
    int32_t partialCount() const { return m_K; }

private:
    SinePath m_path;
    int16_t m_mode;
    int16_t m_cyclic;
    double m_two_over_sr;
    double m_nyquist;
    double m_carrier_phase = 0.0;
    double m_spacing_phase = 0.0;
    double m_comb_phase = 0.0;
    double m_level = 1.0;
    float m_pitch = -20.0f;
    float m_pitch_fc = -20.0f;
    int32_t m_Nmax = 0;
    int32_t m_K = -1;
    double m_decay_step = 0.0;
};

// The fast path the plug-in takes on this processor with "hq" off.
SinePath fastPathOfThisProcessor();
