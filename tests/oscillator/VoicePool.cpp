// The voice table: generations and record lifetimes, eviction orders, the alternation state,
// and random operation sequences against small reference models. The record is the only thing
// here allocated with nothrow new, so counting those blocks shows when records are freed.
#include "oscillator/module/VoicePool.h"

#include "oscillator/module/Module.h"
#include "oscillator/module/ModuleProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <list>
#include <new>
#include <random>
#include <vector>

namespace {
constexpr int TRACKED_BLOCKS = 256;
void *nothrowBlocks[TRACKED_BLOCKS] = {};
bool failNothrowNew = false;

int liveRecords() {
    int live = 0;
    for (void *p : nothrowBlocks) {
        live += p != nullptr;
    }
    return live;
}
} // namespace

namespace {
void *allocateBlock(std::size_t size) {
    if (void *p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void freeBlock(void *p) noexcept {
    for (void *&slot : nothrowBlocks) {
        if (p != nullptr && slot == p) {
            slot = nullptr;
        }
    }
    std::free(p);
}
} // namespace

// Every form goes through malloc and free, so replaced and default forms never mix.
void *operator new(std::size_t size) {
    return allocateBlock(size);
}
void *operator new[](std::size_t size) {
    return allocateBlock(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    if (failNothrowNew) {
        return nullptr;
    }
    void *p = std::malloc(size ? size : 1);
    for (void *&slot : nothrowBlocks) {
        if (slot == nullptr) {
            slot = p;
            break;
        }
    }
    return p;
}
void operator delete(void *p) noexcept {
    freeBlock(p);
}
void operator delete(void *p, std::size_t) noexcept {
    freeBlock(p);
}
void operator delete[](void *p) noexcept {
    freeBlock(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    freeBlock(p);
}

namespace {

std::vector<int16_t> newestFirst(const VoicePool &pool) {
    std::vector<int16_t> order;
    for (int16_t s = pool.m_newest; order.size() < static_cast<size_t>(pool.m_count);
         s = pool.m_older[s]) {
        order.push_back(s);
    }
    return order;
}

std::vector<int16_t> releasedSlots(const VoicePool &pool) {
    std::vector<int16_t> released;
    for (int16_t s = 0; s < VOICE_SLOTS; ++s) {
        if (pool.m_released[s]) {
            released.push_back(s);
        }
    }
    return released;
}

struct Instance {
    VoicePool *pool;
    int16_t slot;
    int generation; // in the test's model
};

// Instances are built and destroyed only through the real operations. Every destruction
// resets the next slot to 0, so a test that leaves nothing alive leaves the state it found.
class VoicePoolLifetime : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(nextVoiceSlot, 0);
        ASSERT_EQ(liveRecords(), 0);
    }
    void TearDown() override {
        failNothrowNew = false;
        while (!m_live.empty()) {
            destroy(0);
        }
        EXPECT_EQ(liveRecords(), 0);
    }
    Instance construct() {
        Instance i{nullptr, -2, 0};
        i.pool = acquireVoicePool(44100.0f, i.slot);
        m_live.push_back(i);
        return i;
    }
    void destroy(size_t index) {
        releaseVoicePool(m_live[index].pool, m_live[index].slot);
        m_live.erase(m_live.begin() + static_cast<std::ptrdiff_t>(index));
    }
    std::vector<Instance> m_live;
};

TEST_F(VoicePoolLifetime, GenerationsAreTwentyFourConsecutiveInstances) {
    for (int i = 0; i < 49; ++i) {
        const Instance made = construct();
        EXPECT_EQ(made.slot, i % VOICE_SLOTS);
        EXPECT_EQ(made.pool, m_live[static_cast<size_t>(i - i % VOICE_SLOTS)].pool);
        EXPECT_EQ(sharedVoicePool, made.pool);
    }
    EXPECT_NE(m_live[0].pool, m_live[24].pool);
    EXPECT_NE(m_live[24].pool, m_live[48].pool);
    EXPECT_EQ(liveRecords(), 3);
}

TEST_F(VoicePoolLifetime, DestructionStartsAGenerationAndTheOwnerRecordOutlivesItsOwner) {
    construct();
    construct();
    construct();
    VoicePool *first = m_live[0].pool;
    destroy(1); // slot 1 of the first generation
    EXPECT_EQ(liveRecords(), 1);
    const Instance next = construct();
    EXPECT_EQ(next.slot, 0);
    EXPECT_NE(next.pool, first);
    EXPECT_EQ(construct().slot, 1);

    destroy(0); // the first generation's owner; its slot 2 still plays on the record
    EXPECT_EQ(liveRecords(), 2);
    noteOn(first, 2, 8);
    setAlternateMode(first, 4);
    EXPECT_TRUE(voicePoolInvariantsHold(*first));
    EXPECT_EQ(first->m_newest, 2);
    destroy(0); // the last instance of the first generation frees its record
    EXPECT_EQ(liveRecords(), 1);
}

// An instance on a table its maker owns neither joins nor ends the shared generation.
TEST_F(VoicePoolLifetime, ModuleOnAnOwnedTableLeavesTheSharedGenerationAlone) {
    const Instance first = construct();
    VoicePool owned(48000.0f);
    {
        Module module(nullptr, 0, VoiceTable{&owned, 5});
        EXPECT_EQ(ConstModuleProbe(module).pool(), &owned);
        EXPECT_EQ(ConstModuleProbe(module).voice(), 5);
        EXPECT_EQ(nextVoiceSlot, 1);
    }
    EXPECT_EQ(liveRecords(), 1);
    const Instance second = construct();
    EXPECT_EQ(second.slot, 1);
    EXPECT_EQ(second.pool, first.pool);
    EXPECT_EQ(owned.m_instances, 0);
}

TEST_F(VoicePoolLifetime, FailedAllocationHandsOutNothingAndChangesNothing) {
    construct();
    construct();
    destroy(1); // the next construction must allocate; the first record is still alive
    VoicePool *const shared = sharedVoicePool;
    failNothrowNew = true;
    const Instance failed = construct();
    EXPECT_EQ(failed.pool, nullptr);
    EXPECT_EQ(failed.slot, -1);
    EXPECT_EQ(nextVoiceSlot, 0);
    EXPECT_EQ(sharedVoicePool, shared);
    noteOn(failed.pool, failed.slot, 8);
    setAlternateMode(failed.pool, 3);
    EXPECT_EQ(blockDecayStep(failed.pool, failed.slot), 0.0);
    destroy(1);
    failNothrowNew = false;
    const Instance next = construct();
    EXPECT_EQ(next.slot, 0);
    EXPECT_NE(next.pool, nullptr);
    EXPECT_EQ(liveRecords(), 2);
}

// Random constructions (some failing), destructions and notes against a model that only
// numbers generations: slots, shared records and the number of live records must follow it.
TEST_F(VoicePoolLifetime, RandomLifetimesFollowTheGenerationModel) {
    std::mt19937 rng(20240611);
    int modelNextSlot = 0;
    int generation = 0;
    for (int step = 0; step < 4000; ++step) {
        const unsigned op = rng() % 10;
        if (op < 6 && m_live.size() < 60) {
            failNothrowNew = modelNextSlot == 0 && rng() % 8 == 0;
            Instance made = construct();
            if (failNothrowNew) {
                EXPECT_EQ(made.pool, nullptr);
                EXPECT_EQ(made.slot, -1);
            } else {
                generation += modelNextSlot == 0;
                m_live.back().generation = generation;
                EXPECT_EQ(made.slot, modelNextSlot);
                modelNextSlot = (modelNextSlot + 1) % VOICE_SLOTS;
            }
            failNothrowNew = false;
        } else if (op < 9 && !m_live.empty()) {
            destroy(rng() % m_live.size());
            modelNextSlot = 0;
        } else if (!m_live.empty()) {
            const Instance &i = m_live[rng() % m_live.size()];
            noteOn(i.pool, i.slot, static_cast<int16_t>(1 + rng() % 16));
        }
        std::vector<int> generationsAlive;
        for (const Instance &a : m_live) {
            if (a.pool == nullptr) {
                continue;
            }
            ASSERT_TRUE(voicePoolInvariantsHold(*a.pool));
            for (const Instance &b : m_live) {
                if (b.pool != nullptr) {
                    ASSERT_EQ(a.pool == b.pool, a.generation == b.generation);
                }
            }
            if (std::find(generationsAlive.begin(), generationsAlive.end(), a.generation) ==
                generationsAlive.end()) {
                generationsAlive.push_back(a.generation);
            }
        }
        ASSERT_EQ(liveRecords(), static_cast<int>(generationsAlive.size())) << "step " << step;
        ASSERT_EQ(nextVoiceSlot, modelNextSlot);
    }
}

TEST(VoicePool, DecayStepComesFromAUsableCreatingRate) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    const struct {
        float rate;
        double step;
    } cases[] = {
        {44100.0f, 0.00045351473922902497},
        {48000.0f, 20.0 / 48000.0},
        {0.0f, 20.0 / 44100.0},
        {-48000.0f, 20.0 / 44100.0},
        {std::nanf(""), 20.0 / 44100.0},
        {inf, 20.0 / 44100.0},
        {-inf, 20.0 / 44100.0},
        {std::numeric_limits<float>::denorm_min(), 0x1.4p4 / 0x1p-149}, // large but finite
    };
    for (const auto &c : cases) {
        EXPECT_DOUBLE_EQ(VoicePool(c.rate).m_decay_step, c.step) << "rate " << c.rate;
        EXPECT_TRUE(voicePoolInvariantsHold(VoicePool(c.rate)));
    }
    // A released voice at level 1 falls silent after 2205 samples at any host rate.
    const double step = VoicePool(44100.0f).m_decay_step;
    double level = 1.0;
    int samples = 0;
    for (; level > 0.0; ++samples) {
        level = std::max(level - step, 0.0);
    }
    EXPECT_EQ(samples, 2205);
}

TEST(VoicePool, NoteOnEvictsTheOldestBeforeListingTheSlot) {
    std::vector<int16_t> all, allButTen;
    for (int16_t s = VOICE_SLOTS - 1; s >= 0; --s) {
        all.insert(all.begin(), s);
        if (s != 10) {
            allButTen.push_back(s);
        }
    }
    std::vector<int16_t> tenFirst = allButTen, tenFirstNoZero = allButTen;
    tenFirst.insert(tenFirst.begin(), 10);
    tenFirstNoZero.pop_back();
    tenFirstNoZero.insert(tenFirstNoZero.begin(), 10);
    const struct {
        std::vector<int16_t> played; // earlier notes, oldest first, without eviction
        int16_t limit;
        int16_t slot;
        std::vector<int16_t> order; // newest first
        std::vector<int16_t> released;
    } cases[] = {
        {{5, 6, 7}, 3, 6, {6, 7}, {5}},
        {{5, 6, 7}, 3, 5, {5, 7, 6}, {}},
        {{5, 6, 7}, 3, 7, {7, 6}, {5}},
        {{1, 2, 3}, 8, 4, {4, 3, 2, 1}, {}},
        {{1, 2, 3}, 8, 2, {2, 3, 1}, {}},
        {{1, 2, 3}, 8, 1, {1, 3, 2}, {}},
        {{1, 2, 3}, 8, 3, {3, 2, 1}, {}},
        {{1, 2, 3}, 2, 9, {9, 3}, {1, 2}},
        {{1, 2, 3}, 1, 3, {3}, {1, 2}},
        {{}, 1, 0, {0}, {}},
        {{1, 2, 3}, 0, 2, {2}, {1, 3}},
        {{1, 2, 3}, std::numeric_limits<int16_t>::min(), 9, {9}, {1, 2, 3}},
        {all, 24, 10, tenFirstNoZero, {0}},
        {all, 25, 10, tenFirst, {}},
        {all, std::numeric_limits<int16_t>::max(), 10, tenFirst, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "limit " << c.limit << " slot " << c.slot);
        VoicePool pool(44100.0f);
        for (int16_t s : c.played) {
            noteOn(&pool, s, VOICE_SLOTS);
        }
        noteOn(&pool, c.slot, c.limit);
        EXPECT_TRUE(voicePoolInvariantsHold(pool));
        EXPECT_EQ(newestFirst(pool), c.order);
        EXPECT_EQ(releasedSlots(pool), c.released);
        EXPECT_EQ(pool.m_flip, static_cast<int>(c.played.size() + 1) % 2);
    }
}

TEST(VoicePool, SlotOutsideTheTableChangesNothing) {
    VoicePool pool(44100.0f);
    noteOn(&pool, 3, 1);
    noteOn(&pool, 4, 1);
    unsigned char before[sizeof(VoicePool)];
    std::memcpy(before, &pool, sizeof pool);
    for (int16_t slot : {int16_t(-1), int16_t(24), int16_t(-32768), int16_t(32767)}) {
        noteOn(&pool, slot, 1);
        EXPECT_EQ(std::memcmp(before, &pool, sizeof pool), 0) << "slot " << slot;
        EXPECT_EQ(blockDecayStep(&pool, slot), 0.0);
    }
    EXPECT_EQ(blockDecayStep(&pool, 3), pool.m_decay_step);
    EXPECT_EQ(blockDecayStep(&pool, 4), 0.0);
}

TEST(VoicePool, AlternationFlipsAtEveryNoteAndResetsOncePerMode) {
    VoicePool pool(44100.0f);
    // Paths: add, add, retrigger newest, move oldest, move middle, evict itself, evict other.
    const struct {
        int16_t slot, limit;
    } notes[] = {{1, 8}, {2, 8}, {2, 8}, {1, 8}, {2, 8}, {1, 2}, {7, 1}};
    uint8_t flip = 0;
    for (const auto &n : notes) {
        noteOn(&pool, n.slot, n.limit);
        flip = static_cast<uint8_t>(1 - flip);
        EXPECT_EQ(pool.m_flip, flip);
        EXPECT_EQ(pool.m_sign, flip ? -1.0f : 1.0f);
    }
    setAlternateMode(&pool, -1); // the mode a new record starts with: no reset
    EXPECT_EQ(pool.m_flip, 1);
    setAlternateMode(&pool, 3);
    EXPECT_EQ(pool.m_flip, 0);
    EXPECT_EQ(pool.m_sign, 1.0f);
    noteOn(&pool, 5, 8);
    setAlternateMode(&pool, 3); // another instance reporting the same setting
    EXPECT_EQ(pool.m_flip, 1);
    EXPECT_EQ(pool.m_sign, -1.0f);
    setAlternateMode(&pool, 1);
    EXPECT_EQ(pool.m_flip, 0);
    EXPECT_EQ(pool.m_sign, 1.0f);
}

// Random notes and mode changes against a std::list recency model, compared in full after
// every operation.
TEST(VoicePool, RandomNotesFollowTheRecencyModel) {
    std::mt19937 rng(7);
    VoicePool pool(44100.0f);
    std::list<int16_t> recency; // newest first
    bool released[VOICE_SLOTS] = {};
    int flip = 0;
    int16_t mode = -1;
    for (int step = 0; step < 20000; ++step) {
        if (rng() % 8 == 0) {
            const int16_t m = static_cast<int16_t>(static_cast<int>(rng() % 8) - 1);
            setAlternateMode(&pool, m);
            flip = m == mode ? flip : 0;
            mode = m;
        } else {
            const int16_t s = static_cast<int16_t>(static_cast<int>(rng() % 28) - 2);
            const int16_t limit =
                static_cast<int16_t>(static_cast<int>(rng() % 12) - 2 + (rng() % 4 == 0 ? 16 : 0));
            noteOn(&pool, s, limit);
            if (s >= 0 && s < VOICE_SLOTS) {
                while (static_cast<int>(recency.size()) >= std::max<int>(limit, 1)) {
                    released[recency.back()] = true;
                    recency.pop_back();
                }
                released[s] = false;
                recency.remove(s);
                recency.push_front(s);
                flip = 1 - flip;
            }
        }
        ASSERT_TRUE(voicePoolInvariantsHold(pool)) << "step " << step;
        ASSERT_EQ(newestFirst(pool), std::vector<int16_t>(recency.begin(), recency.end()));
        for (int16_t s = 0; s < VOICE_SLOTS; ++s) {
            ASSERT_EQ(pool.m_released[s], released[s] ? 1 : 0);
            ASSERT_EQ(blockDecayStep(&pool, s), released[s] ? pool.m_decay_step : 0.0);
        }
        ASSERT_EQ(pool.m_flip, flip);
        ASSERT_EQ(pool.m_sign, flip ? -1.0f : 1.0f);
        ASSERT_EQ(pool.m_alternate_mode, mode);
    }
}

TEST(VoicePool, InvariantCheckRejectsBrokenLists) {
    VoicePool fresh(44100.0f);
    for (int16_t s : {4, 9, 2}) {
        noteOn(&fresh, s, 8);
    }
    ASSERT_TRUE(voicePoolInvariantsHold(fresh));
    const struct {
        const char *fault;
        void (*breakIt)(VoicePool &);
    } faults[] = {
        {"count too high", [](VoicePool &p) { p.m_count = 4; }},
        {"newest links to itself", [](VoicePool &p) { p.m_older[2] = 2; }},
        {"oldest not self", [](VoicePool &p) { p.m_older[4] = -1; }},
        {"broken back link", [](VoicePool &p) { p.m_newer[4] = 2; }},
        {"stray unlisted link", [](VoicePool &p) { p.m_newer[11] = 4; }},
        {"listed voice released", [](VoicePool &p) { p.m_released[9] = 1; }},
        {"flip out of range", [](VoicePool &p) { p.m_flip = 2; }},
        {"newest out of range", [](VoicePool &p) { p.m_newest = 24; }},
    };
    for (const auto &f : faults) {
        VoicePool broken = fresh;
        f.breakIt(broken);
        EXPECT_FALSE(voicePoolInvariantsHold(broken)) << f.fault;
    }
}

} // namespace
