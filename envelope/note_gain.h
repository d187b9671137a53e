// The envelope of a note, the one shape every part of TARN applies after the module: a linear
// attack from a start level to the note's peak, a hold, and a linear release to silence.
// tarn-render evaluates it over notes whose end it knows; the LV2 instrument steps it sample by
// sample (NoteGain) as notes are played. Counts are in samples.
#pragma once

#include <cstdint>

namespace tarn {

// Gain k >= 0 samples into an attack of `attack` samples from `start` to `peak`: the attack
// reaches `peak` at k = attack - 1 and holds it from there; `peak` at once for attack <= 0.
inline float attackGain(float start, float peak, int64_t attack, int64_t k) {
    if (k >= attack)
        return peak;
    return start + (peak - start) * static_cast<float>(k + 1) / static_cast<float>(attack);
}

// Gain `into` >= 1 samples after the note's last held sample, falling linearly from `held`:
// 0 from into = release on (and at once for release <= 0).
inline float releaseGain(float held, int64_t release, int64_t into) {
    if (into >= release)
        return 0.0f;
    return held * static_cast<float>(release - into) / static_cast<float>(release);
}

// The envelope stepped one sample at a time; the gains are those of attackGain and
// releaseGain. Silent (finished) until the first start.
class NoteGain {
public:
    // The next sample is the note's first: the attack rises from `start` (the gain a stolen
    // voice had, else 0) to `peak` over `attack` samples.
    void start(float startLevel, float peak, int64_t attack) {
        m_start = startLevel;
        m_peak = peak;
        m_attack = attack;
        m_k = 0;
        m_released = false;
    }
    // The next sample is the release's first, falling from the last gain over `release` samples.
    void release(int64_t releaseSamples) {
        if (m_released)
            return;
        m_held = m_last;
        m_release = releaseSamples;
        m_into = 0;
        m_released = true;
    }
    // Silent from the next sample on, with no release.
    void cut() {
        m_released = true;
        m_held = m_last = 0.0f;
        m_release = 0;
        m_into = 0;
    }
    // The gain of the next sample; advances by one sample.
    float next() {
        if (!m_released) {
            m_last = attackGain(m_start, m_peak, m_attack, m_k);
            m_k += m_k < m_attack ? 1 : 0;
        } else {
            m_into += m_into < m_release ? 1 : 0;
            m_last = releaseGain(m_held, m_release, m_into);
        }
        return m_last;
    }
    // The gain of the last sample stepped (0 before any).
    float last() const { return m_last; }
    // Released and at 0: nothing more will sound until the next start.
    bool finished() const { return m_released && m_into >= m_release; }

private:
    float m_start = 0.0f, m_peak = 0.0f, m_held = 0.0f, m_last = 0.0f;
    int64_t m_attack = 0, m_k = 0, m_release = 0, m_into = 0;
    bool m_released = true;
};

} // namespace tarn
