// The model keeps each generation's list as a plain vector, newest first, so that it shares no
// pointer logic with the record it checks.
#include "tools/validate/shared/VoiceModel.h"

#include "oscillator/module/VoicePool.h"

#include <algorithm>
#include <cstdio>

VoiceModel::Voice VoiceModel::construct() {
    if (m_next_slot == 0) {
        Generation g{};
        g.flip = 0;
        g.sign = 1.0f;
        g.alternate_mode = -1;
        m_generations.push_back(g);
    }
    Voice voice{static_cast<int32_t>(m_generations.size()) - 1, static_cast<int16_t>(m_next_slot)};
    ++m_generations.back().live;
    m_next_slot = m_next_slot + 1 == SLOTS ? 0 : m_next_slot + 1;
    return voice;
}

void VoiceModel::destroy(const Voice &voice) {
    --m_generations[size_t(voice.generation)].live;
    m_next_slot = 0;
}

void VoiceModel::noteOn(const Voice &voice, int16_t limit) {
    Generation &g = m_generations[size_t(voice.generation)];
    const size_t bound = static_cast<size_t>(std::max<int16_t>(limit, 1));
    while (g.recency.size() >= bound) {
        g.released[g.recency.back()] = true;
        g.recency.pop_back();
    }
    g.released[voice.slot] = false;
    auto listed = std::find(g.recency.begin(), g.recency.end(), voice.slot);
    if (listed != g.recency.end()) {
        g.recency.erase(listed);
    }
    g.recency.insert(g.recency.begin(), voice.slot);
    g.flip = static_cast<uint8_t>(1 - g.flip);
    g.sign = -g.sign;
}

void VoiceModel::setAlternateMode(const Voice &voice, int16_t mode) {
    Generation &g = m_generations[size_t(voice.generation)];
    if (g.alternate_mode != mode) {
        g.flip = 0;
        g.sign = 1.0f;
        g.alternate_mode = mode;
    }
}

bool VoiceModel::matches(int32_t index, const VoicePool &pool, char *why, size_t size) const {
    const Generation &g = m_generations[size_t(index)];
    const int32_t count = static_cast<int32_t>(g.recency.size());
    const int16_t newest = count ? g.recency.front() : int16_t(-1);
    const int16_t oldest = count ? g.recency.back() : int16_t(-1);
    if (pool.m_count != count || pool.m_newest != newest || pool.m_oldest != oldest) {
        std::snprintf(why, size, "count/newest/oldest %d/%d/%d, model %d/%d/%d", pool.m_count,
                      pool.m_newest, pool.m_oldest, count, newest, oldest);
        return false;
    }
    for (int16_t s = 0; s < SLOTS; ++s) {
        const auto at = std::find(g.recency.begin(), g.recency.end(), s);
        int16_t older = -1, newer = -1;
        if (at != g.recency.end()) {
            const size_t k = size_t(at - g.recency.begin());
            older = k + 1 < g.recency.size() ? g.recency[k + 1] : s;
            newer = k > 0 ? g.recency[k - 1] : int16_t(-1);
        }
        if (pool.m_older[s] != older || pool.m_newer[s] != newer) {
            std::snprintf(why, size, "slot %d links older %d newer %d, model %d %d", s,
                          pool.m_older[s], pool.m_newer[s], older, newer);
            return false;
        }
        if ((pool.m_released[s] != 0) != g.released[s]) {
            std::snprintf(why, size, "slot %d release flag %d, model %d", s, pool.m_released[s],
                          g.released[s] ? 1 : 0);
            return false;
        }
    }
    if (pool.m_flip != g.flip || pool.m_sign != g.sign ||
        pool.m_alternate_mode != g.alternate_mode) {
        std::snprintf(why, size, "flip/sign/mode %d/%g/%d, model %d/%g/%d", pool.m_flip,
                      double(pool.m_sign), pool.m_alternate_mode, g.flip, double(g.sign),
                      g.alternate_mode);
        return false;
    }
    if (!voicePoolInvariantsHold(pool)) {
        std::snprintf(why, size, "the table's own invariants do not hold (decay step %g)",
                      pool.m_decay_step);
        return false;
    }
    return true;
}
