// The shared voice table: generations of slots, the recency list with its eviction, and the
// alternation state. All list operations are constant time except eviction (at most 24 steps).
#include "oscillator/module/VoicePool.h"

#include <cmath>
#include <new>

VoicePool *sharedVoicePool = nullptr;
int32_t nextVoiceSlot = 0;

namespace {

// The rate every instance has at construction; also the stand-in for an unusable rate.
constexpr float DEFAULT_SAMPLE_RATE_HZ = 44100.0f;
// A released voice falls from level 1 to 0 in 1/20 s of the creating rate: 2205 samples at
// 44100 Hz, whatever rate the host later runs at.
constexpr float RELEASE_RATE_PER_S = 20.0f;

bool isValidSlot(int16_t slot) {
    return slot >= 0 && slot < VOICE_SLOTS;
}

bool isListed(const VoicePool &pool, int16_t slot) {
    return pool.m_older[slot] >= 0;
}

// Unlists the oldest voice and flags it for its fade-out. The list must not be empty.
void evictOldest(VoicePool &pool) {
    const int16_t t = pool.m_oldest;
    const int16_t n = pool.m_newer[t];
    pool.m_released[t] = 1;
    pool.m_older[t] = -1;
    pool.m_newer[t] = -1;
    if (n >= 0) {
        pool.m_older[n] = n;
    }
    pool.m_oldest = n;
    if (--pool.m_count == 0) {
        pool.m_newest = -1;
    }
}

// Moves a listed voice to the newest end; the count does not change.
void moveToFront(VoicePool &pool, int16_t s) {
    if (s == pool.m_newest) {
        return;
    }
    const int16_t n = pool.m_newer[s];
    if (s == pool.m_oldest) {
        pool.m_oldest = n;
        pool.m_older[n] = n;
    } else {
        const int16_t older = pool.m_older[s];
        pool.m_older[n] = older;
        pool.m_newer[older] = n;
    }
    pool.m_newer[s] = -1;
    pool.m_older[s] = pool.m_newest;
    pool.m_newer[pool.m_newest] = s;
    pool.m_newest = s;
}

void addAtFront(VoicePool &pool, int16_t s) {
    if (pool.m_count > 0) {
        pool.m_older[s] = pool.m_newest;
        pool.m_newer[pool.m_newest] = s;
    } else {
        pool.m_oldest = s;
        pool.m_older[s] = s;
    }
    pool.m_newest = s;
    ++pool.m_count;
}

} // namespace

VoicePool::VoicePool(float sampleRate) {
    // NaN, infinite, zero and negative rates would give a non-finite, zero or negative step, and
    // a released voice that never fades or grows louder.
    const float rate =
        std::isfinite(sampleRate) && sampleRate > 0.0f ? sampleRate : DEFAULT_SAMPLE_RATE_HZ;
    // The two float values divided in double: 20 / 44100 = 0.00045351473922902497, where a
    // float quotient would be 0.00045351474545896053.
    m_decay_step = static_cast<double>(RELEASE_RATE_PER_S) / static_cast<double>(rate);
    for (int i = 0; i < VOICE_SLOTS; ++i) {
        m_older[i] = -1;
        m_newer[i] = -1;
        m_released[i] = 0;
    }
}

VoicePool *acquireVoicePool(float sampleRate, int16_t &slot) {
    if (nextVoiceSlot == 0) {
        VoicePool *pool = new (std::nothrow) VoicePool(sampleRate);
        if (pool == nullptr) {
            slot = -1;
            return nullptr;
        }
        sharedVoicePool = pool;
    }
    slot = static_cast<int16_t>(nextVoiceSlot);
    nextVoiceSlot = nextVoiceSlot + 1 == VOICE_SLOTS ? 0 : nextVoiceSlot + 1;
    ++sharedVoicePool->m_instances;
    return sharedVoicePool;
}

void releaseVoicePool(VoicePool *pool, int16_t slot) {
    // The slot-0 instance owns the record, but the generation's other living instances still
    // use it: counting every instance frees it with the last one, owner included, and never
    // before the owner. The slot itself therefore plays no part here.
    (void)slot;
    if (pool != nullptr && --pool->m_instances == 0) {
        delete pool;
    }
    nextVoiceSlot = 0;
}

void noteOn(VoicePool *pool, int16_t slot, int16_t limit) {
    if (pool == nullptr || !isValidSlot(slot)) {
        return;
    }
    // A limit below 1 would evict from an empty list and then read slot -1; one above 24 can
    // never be reached and needs no guard.
    const int32_t L = limit < 1 ? 1 : limit;
    while (pool->m_count >= L) {
        evictOldest(*pool);
    }
    pool->m_released[slot] = 0;
    if (isListed(*pool, slot)) {
        moveToFront(*pool, slot);
    } else {
        addAtFront(*pool, slot);
    }
    pool->m_flip = static_cast<uint8_t>(1 - pool->m_flip);
    pool->m_sign = -pool->m_sign;
}

void setAlternateMode(VoicePool *pool, int16_t mode) {
    if (pool == nullptr || pool->m_alternate_mode == mode) {
        return;
    }
    pool->m_flip = 0;
    pool->m_sign = 1.0f;
    pool->m_alternate_mode = mode;
}

double blockDecayStep(const VoicePool *pool, int16_t slot) {
    if (pool == nullptr || !isValidSlot(slot) || pool->m_released[slot] == 0) {
        return 0.0;
    }
    return pool->m_decay_step;
}

bool voicePoolInvariantsHold(const VoicePool &pool) {
    if (pool.m_count < 0 || pool.m_count > VOICE_SLOTS || pool.m_flip > 1 ||
        (pool.m_sign != 1.0f && pool.m_sign != -1.0f) || !std::isfinite(pool.m_decay_step) ||
        !(pool.m_decay_step > 0.0)) {
        return false;
    }
    if (pool.m_count == 0) {
        if (pool.m_newest != -1 || pool.m_oldest != -1) {
            return false;
        }
    } else if (!isValidSlot(pool.m_newest) || !isValidSlot(pool.m_oldest) ||
               pool.m_newer[pool.m_newest] != -1 || pool.m_older[pool.m_oldest] != pool.m_oldest) {
        return false;
    }
    // Walk from the newest to the oldest; each step must be mirrored by m_newer. The walk is
    // bounded by m_count, so a cycle in a corrupted list ends it too.
    bool onChain[VOICE_SLOTS] = {};
    int16_t s = pool.m_newest;
    for (int32_t linked = 0; linked < pool.m_count; ++linked) {
        if (!isValidSlot(s) || onChain[s]) {
            return false;
        }
        onChain[s] = true;
        if (linked + 1 == pool.m_count) {
            if (s != pool.m_oldest) {
                return false;
            }
            break;
        }
        const int16_t older = pool.m_older[s];
        if (!isValidSlot(older) || older == s || pool.m_newer[older] != s) {
            return false;
        }
        s = older;
    }
    for (int16_t i = 0; i < VOICE_SLOTS; ++i) {
        if (pool.m_released[i] > 1) {
            return false;
        }
        if (onChain[i] ? pool.m_released[i] != 0 : pool.m_older[i] != -1 || pool.m_newer[i] != -1) {
            return false;
        }
    }
    return true;
}
