// The voice table that the instances of one generation share: voice slots, the recency list
// that enforces the "poly" limit by releasing the oldest notes, and the alternation state that
// flips at every note. A generation is up to 24 instances constructed one after another; any
// destruction ends it early. Nothing here locks: the caller serialises every operation.
#pragma once

#include <cstdint>

// Slots per generation, and the length of each per-slot array.
constexpr int16_t VOICE_SLOTS = 24;

// One generation's shared record. Lives on the heap from the construction of its slot-0
// instance until the last instance of its generation is destroyed.
struct VoicePool {
    // Creation values; the decay step comes from the creating instance's sample rate in Hz.
    explicit VoicePool(float sampleRate);

    double m_decay_step;             // level fall per sample of a released voice, > 0, finite
    int32_t m_count = 0;             // listed voices, 0..VOICE_SLOTS
    int16_t m_newest = -1;           // most recently started listed slot; -1 when none is listed
    int16_t m_oldest = -1;           // listed slot with the oldest note; -1 when none is listed
    int16_t m_alternate_mode = -1;   // "alternate" value of the last alternation reset
    uint8_t m_flip = 0;              // alternation toggle, 0 or 1
    float m_sign = 1.0f;             // alternation sign, +1 or -1
    int16_t m_older[VOICE_SLOTS];    // next older listed slot; the oldest holds itself; -1 unlisted
    int16_t m_newer[VOICE_SLOTS];    // next newer listed slot; -1 for the newest and unlisted
    uint8_t m_released[VOICE_SLOTS]; // 1 once evicted (voice fades out) until its next noteOn
    int32_t m_instances = 0;         // living instances that joined; the record dies with the last
};

// The current generation's record; valid whenever nextVoiceSlot is not 0. Never freed through
// this variable: a new generation overwrites it, and it may dangle while nextVoiceSlot is 0.
extern VoicePool *sharedVoicePool;
// Slot of the next instance to join, 0..VOICE_SLOTS-1; 0 starts a new generation and record.
extern int32_t nextVoiceSlot;

// Where an instance's voice table comes from, given to Module where the instance is made.
struct VoiceTable {
    VoicePool *pool; // a table the maker owns and keeps alive longer than the instance; null for
                     // the process-wide one, joined with acquireVoicePool and left with
                     // releaseVoicePool
    int16_t slot;    // the instance's slot in `pool`, 0..23; ignored for the process-wide one
};
constexpr VoiceTable SHARED_VOICE_TABLE = {nullptr, -1};

// Joins the current generation, or starts a new one with a new record when nextVoiceSlot is 0.
// Called once by every Module constructor with the instance's sample rate in Hz (a rate that is
// not finite and positive is taken as 44100). Stores the instance's slot, 0..23, in `slot`.
// When the record cannot be allocated: returns nullptr, sets `slot` to -1 and leaves
// sharedVoicePool and nextVoiceSlot as they were.
VoicePool *acquireVoicePool(float sampleRate, int16_t &slot);

// Leaves the generation. Called once by every Module destructor with its pool and slot. Frees
// the record when this was its last living instance, and makes the next instance constructed
// start a new generation. A null pool only does the latter.
void releaseVoicePool(VoicePool *pool, int16_t slot);

// Starts a note on `slot`: evicts the oldest voices (setting their release flags) while at least
// `limit` are listed, lists `slot` as the newest and not released, and flips the alternation
// state. Eviction runs before the slot's own listing is looked at, so a retrigger of a listed
// voice can also evict. A limit below 1 counts as 1; one above 24 never evicts. A null pool or
// a slot outside 0..23 does nothing. Allocates nothing; at most 24 evictions.
void noteOn(VoicePool *pool, int16_t slot, int16_t limit);

// Resets the alternation state (flip 0, sign +1) and records `mode`, unless `mode` is already
// the recorded one. A null pool does nothing.
void setAlternateMode(VoicePool *pool, int16_t mode);

// The decay step of one block for the voice in `slot`: the pool's step when the voice is
// released, else 0.0. Read once per block by the render loop; 0.0 for a null pool or a slot
// outside 0..23.
double blockDecayStep(const VoicePool *pool, int16_t slot);

// True when the recency list and the alternation state are consistent: one chain from newest to
// oldest through m_older and back through m_newer, m_count links long, the oldest pointing to
// itself, unlisted slots at -1 both ways, no listed slot released. Read-only; for tests and
// validators.
bool voicePoolInvariantsHold(const VoicePool &pool);
