// The instrument's run() under the interposed allocator: notes, chords beyond the voice count,
// bends, pedal, control moves and the channel-mode messages allocate and lock nothing.
#include "lv2/Lv2Rig.h"

#include "tools/validate/shared/heap_watch.h"

#include <gtest/gtest.h>

namespace {

TEST(Lv2InstrumentRealTime, RunNeverAllocatesOrLocks) {
    ASSERT_TRUE(heap_watch::active());
    Lv2Rig rig(48000.0);
    ASSERT_TRUE(rig.ok());
    rig.aroundRun = [](bool entering) { heap_watch::setWatching(entering); };
    const heap_watch::Counters before = heap_watch::counters();
    for (int round = 0; round < 8; ++round) {
        for (int i = 0; i < 30; ++i)
            rig.midi(uint32_t(i * 7), {0x90, uint8_t(40 + i), uint8_t(20 + 3 * i)});
        rig.midi(100, {0xE0, 0x00, uint8_t(round * 16)});
        rig.midi(200, {0xB0, 64, 127});
        rig.midi(300, {0x80, 45, 0});
        rig.midi(400, {0xB0, 64, 0});
        rig.control("ratio") = 0.5f + 0.05f * float(round);
        rig.control("mode") = float(1 + round % 2);
        rig.control("alternate") = float(round % 6);
        rig.control("cyclic") = float(round % 2);
        rig.runDiscarding(1024);
        rig.midi(0, {0xB0, uint8_t(round % 2 ? 123 : 120), 0});
        rig.runDiscarding(4096);
        rig.runDiscarding(0);
    }
    const heap_watch::Counters c = heap_watch::counters();
    EXPECT_EQ(c.allocations - before.allocations, 0u);
    EXPECT_EQ(c.frees - before.frees, 0u);
    EXPECT_EQ(c.locks - before.locks, 0u);
}

} // namespace
