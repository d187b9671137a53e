// The oscillator's life as a host sees it, through the built plug-in: which status change
// starts a note, wake-up and wind-down (routine changes, output statuses at their clocks), the
// countdown to sleep, waking with a new note, and the routine that SEProcessInfo names.
#include "host/ModuleCallObserver.h"
#include "support/oscillator_rig.h"
#include "support/record_access.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

class ModuleLifecycle : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tarnPlugin().isLoaded()) << tarnPlugin().error(); }
};

// With no comb (combfreq 0, cyclic off, combphase 0) the second signal is exactly 0, so the
// silent output tells whether the two were swapped.
bool swappedOver(const HostedInstance &voice, int32_t from, int32_t to) {
    bool leftSilent = true, rightSilent = true;
    for (int32_t i = from; i < to; ++i) {
        leftSilent = leftSilent && voice.output(PIN_OUTPUTL)[i] == 0.0f;
        rightSilent = rightSilent && voice.output(PIN_OUTPUTR)[i] == 0.0f;
    }
    EXPECT_NE(leftSilent, rightSilent) << "exactly one output carries the signal";
    return leftSilent;
}

int32_t countOf(const std::vector<HostCall> &calls, const HostCall &wanted) {
    int32_t n = 0;
    for (const HostCall &c : calls) {
        n += c == wanted;
    }
    return n;
}

constexpr size_t P = sizeof(void *); // 4 on the 32-bit builds, where these are the wire offsets

// Asks for SEProcessInfo wherever a host may: after every call into the module (but close)
// and while the module tells it of a new routine. Each answer, read by byte offset, must be
// 1, the pair's size, the pair, 1002, and the pair the record's process_entry, adjustment 0.
class ProcessInfoWatch : public ModuleCallObserver {
public:
    void beforeCall(HostedInstance &, const ModuleCall &) override {}
    void afterCall(HostedInstance &instance, const ModuleCall &call) override {
        if (!(call.kind == MODULE_CALL_DISPATCH && call.opcode == MOD_CLOSE)) {
            check(instance.record(), "after a call of kind " + std::to_string(call.kind));
        }
    }
    void onRequest(HostedInstance &instance, const HostRequest &request) override {
        if (request.opcode == HOST_PROCESS_CHANGED) {
            ++m_changes;
            check(instance.record(), "in HOST_PROCESS_CHANGED");
        }
    }
    int32_t changes() const { return m_changes; }
    int32_t checks() const { return m_checks; }

private:
    void check(SEModuleRecord *record, const std::string &where) {
        if (!record) {
            return;
        }
        ++m_checks;
        const auto *info = reinterpret_cast<const void *>(
            record->dispatch_entry(record, MOD_GET_PROCESS_INFO, 0, 0, nullptr, 0.0f));
        ASSERT_NE(info, nullptr) << where;
        EXPECT_EQ(readAt<int32_t>(info, 0), 1) << where;
        EXPECT_EQ(readAt<int32_t>(info, 4), static_cast<int32_t>(2 * P)) << where;
        EXPECT_EQ(readAt<int32_t>(info, 8 + P), 1002) << where;
        const auto *pair = reinterpret_cast<const void *>(readAt<uintptr_t>(info, 8));
        ASSERT_NE(pair, nullptr) << where;
        EXPECT_EQ(readAt<uintptr_t>(pair, 0), reinterpret_cast<uintptr_t>(record->process_entry)) << where;
        EXPECT_EQ(readAt<uintptr_t>(pair, P), 0u) << where;
    }
    int32_t m_changes = 0;
    int32_t m_checks = 0;
};

// A note, the wind-down to sleep and a note in mid-block that wakes it: every routine the
// module installs. Answers both outputs of every block, one after the other.
std::vector<float> playEveryRoutine(bool routineFromProcessInfo, ProcessInfoWatch &watch) {
    Host host(tarnPlugin(), 44100.0f, 64);
    host.setRoutineFromProcessInfo(routineFromProcessInfo);
    host.setCallObserver(&watch);
    startNewGeneration(host);
    HostedInstance *voice = openVoice(host, VoiceSettings{});
    std::vector<float> out;
    if (!voice) {
        ADD_FAILURE() << "no voice";
        return out;
    }
    for (int32_t block = 0; block < 24; ++block) {
        if (block == 0 || block == 20) {
            startNote(*voice, block == 0 ? 3 : 29);
        } else if (block == 4) {
            voice->setInput(PIN_GATE, 11, 0.0f);
        }
        host.run(64);
        for (int32_t pin : {PIN_OUTPUTL, PIN_OUTPUTR}) {
            out.insert(out.end(), voice->output(pin), voice->output(pin) + 64);
        }
    }
    EXPECT_GT(voice->processCallCount(), 10u); // 12: asleep in blocks 8 to 19
    EXPECT_FALSE(voice->isAsleep());
    host.setCallObserver(nullptr);
    return out;
}

} // namespace

TEST_F(ModuleLifecycle, ProcessInfoNamesTheRecordsRoutineAndAHostMayRunIt) {
    ProcessInfoWatch byRecord, byInfo;
    const std::vector<float> expected = playEveryRoutine(false, byRecord);
    const std::vector<float> seen = playEveryRoutine(true, byInfo);
    // open installs renderBlock, the closed gate renderCountdown, the new note renderBlock.
    EXPECT_EQ(byRecord.changes(), 3);
    EXPECT_EQ(byInfo.changes(), 3);
    EXPECT_GT(byRecord.checks(), 30);
    ASSERT_EQ(seen.size(), expected.size());
    int32_t sounding = 0, differing = 0;
    for (size_t i = 0; i < seen.size(); ++i) {
        sounding += expected[i] != 0.0f;
        differing += std::memcmp(&seen[i], &expected[i], sizeof(float)) != 0;
    }
    EXPECT_GT(sounding, 400); // 489 of 3072: blocks 0 to 4 and 20 to 23
    EXPECT_EQ(differing, 0) << "of " << seen.size() << " samples";
}

TEST_F(ModuleLifecycle, SyncAboveOneTenthStartsANote) {
    // With "alternate" 1 the first note of a generation swaps the outputs and the second does
    // not; a gate opened without a note plays plainly. So block 0 shows whether the probe
    // value started a note, and the real note of block 1 shows it again.
    const struct {
        float sync;
        bool startsNote;
    } cases[] = {{0.1f, false}, {std::nextafter(0.1f, 1.0f), true},
                 {0.2f, true},  {1.0f, true},
                 {0.0f, false}, {-1.0f, false}};
    for (const auto &c : cases) {
        Host host(tarnPlugin(), 44100.0f, 64);
        startNewGeneration(host);
        VoiceSettings s;
        s.alternate = 1;
        HostedInstance *voice = openVoice(host, s);
        ASSERT_NE(voice, nullptr);
        voice->setInput(PIN_GATE, 0, 1.0f);
        voice->setInput(PIN_SYNC, 0, c.sync);
        host.run(64);
        EXPECT_EQ(swappedOver(*voice, 1, 64), c.startsNote) << "probe " << c.sync;
        voice->setInput(PIN_SYNC, 0, 1.0f);
        host.run(64);
        EXPECT_EQ(swappedOver(*voice, 0, 64), !c.startsNote) << "note after probe " << c.sync;
    }
}

TEST_F(ModuleLifecycle, StatusChangesReadTheGateFirst) {
    Host host(tarnPlugin(), 44100.0f, 64);
    HostedInstance *voice = openVoice(host, VoiceSettings{});
    host.run(64);
    const struct {
        int32_t pin;
        std::vector<int32_t> pinsRead;
    } cases[] = {{PIN_SYNC, {PIN_GATE, PIN_SYNC}},
                 {PIN_FC, {PIN_GATE}},
                 {PIN_GATE, {PIN_GATE}},
                 {PIN_COMBPHASE, {PIN_GATE}}};
    for (const auto &c : cases) {
        voice->setInput(c.pin, 0, 1.0f);
        voice->clearRequests();
        host.run(64);
        std::vector<int32_t> read;
        for (const HostCall &call : callsWith(*voice, {HOST_GET_BLOCK_START})) {
            read.push_back(call.index);
        }
        EXPECT_EQ(read, c.pinsRead) << "status change on pin " << c.pin;
    }
}

TEST_F(ModuleLifecycle, OpenGateAnnouncesBothOutputsRunningAtEveryStatusChange) {
    Host host(tarnPlugin(), 44100.0f, 64);
    HostedInstance *voice = openVoice(host, VoiceSettings{});
    ASSERT_NE(voice, nullptr);
    voice->clearRequests();
    // After open the outputs count as static already: a closed gate winds nothing down, and
    // status changes with the gate closed announce nothing.
    voice->setInput(PIN_FC, 10, 0.6f);
    voice->setInput(PIN_SYNC, 12, 1.0f);
    host.run(64);
    EXPECT_EQ(transitions(*voice), std::vector<HostCall>{});

    // renderBlock is already installed, so the host hears of no routine change.
    voice->setInput(PIN_GATE, 20, 1.0f);
    voice->setInput(PIN_FC, 30, 0.5f);
    host.run(64);
    const std::vector<HostCall> expected = {
        announced(PIN_OUTPUTL, STREAM_RUNNING, 84), announced(PIN_OUTPUTR, STREAM_RUNNING, 84),
        announced(PIN_OUTPUTL, STREAM_RUNNING, 94), announced(PIN_OUTPUTR, STREAM_RUNNING, 94)};
    EXPECT_EQ(transitions(*voice), expected);
}

TEST_F(ModuleLifecycle, ClosedGateWindsDownAndANewNoteWakesAgain) {
    Host host(tarnPlugin(), 44100.0f, 64);
    HostedInstance *voice = openVoice(host, VoiceSettings{});
    startNote(*voice, 0);
    host.run(128);
    voice->clearRequests();

    // A block whose first gate sample is 0: renderCountdown, then both outputs single-change,
    // at the block's clock. The status event itself, with the gate closed, announces nothing.
    voice->setInput(PIN_GATE, 0, 0.0f);
    host.run(64);
    std::vector<HostCall> expected = {processChanged(),
                                      announced(PIN_OUTPUTL, STREAM_SINGLE_CHANGE, 128),
                                      announced(PIN_OUTPUTR, STREAM_SINGLE_CHANGE, 128)};
    EXPECT_EQ(transitions(*voice), expected);
    for (int32_t i = 0; i < 64; ++i) {
        EXPECT_EQ(voice->output(PIN_OUTPUTL)[i], 0.0f);
        EXPECT_EQ(voice->output(PIN_OUTPUTR)[i], 0.0f);
    }

    // A note in mid-block: renderBlock back (the host is told, once), and both outputs running
    // at the note's clock, announced again by the sync event that follows the gate's.
    voice->clearRequests();
    startNote(*voice, 5);
    host.run(64);
    expected = {processChanged(), announced(PIN_OUTPUTL, STREAM_RUNNING, 197),
                announced(PIN_OUTPUTR, STREAM_RUNNING, 197),
                announced(PIN_OUTPUTL, STREAM_RUNNING, 197),
                announced(PIN_OUTPUTR, STREAM_RUNNING, 197)};
    EXPECT_EQ(transitions(*voice), expected);
    bool sounds = false;
    for (int32_t i = 6; i < 64; ++i) {
        sounds = sounds || voice->output(PIN_OUTPUTL)[i] != 0.0f;
    }
    EXPECT_TRUE(sounds);

    // The next closed gate is announced again: the wake-up cleared the static flag.
    voice->clearRequests();
    voice->setInput(PIN_GATE, 0, 0.0f);
    host.run(64);
    expected = {processChanged(), announced(PIN_OUTPUTL, STREAM_SINGLE_CHANGE, 256),
                announced(PIN_OUTPUTR, STREAM_SINGLE_CHANGE, 256)};
    EXPECT_EQ(transitions(*voice), expected);
}

TEST_F(ModuleLifecycle, NoteWithTheGateClosedStartsWithoutWaking) {
    Host host(tarnPlugin(), 44100.0f, 64);
    startNewGeneration(host);
    VoiceSettings s;
    s.alternate = 1;
    HostedInstance *voice = openVoice(host, s);
    voice->clearRequests();
    voice->setInput(PIN_SYNC, 8, 1.0f);
    host.run(64);
    EXPECT_EQ(transitions(*voice), std::vector<HostCall>{});

    // The note was taken: opening the gate alone now plays it with the swap of a first note.
    voice->setInput(PIN_GATE, 0, 1.0f);
    host.run(64);
    EXPECT_TRUE(swappedOver(*voice, 1, 64));
}

TEST_F(ModuleLifecycle, CountdownAsksToSleepOneModuleBlockAfterTheGateCloses) {
    // Module blocks of 1024 samples, host calls of 256: the call that winds down is still
    // renderBlock, the fourth countdown call after it reaches 0 and asks to sleep at its end.
    Host host(tarnPlugin(), 44100.0f, 256);
    HostedInstance *voice = openVoice(host, VoiceSettings{}, 44100.0f, 1024);
    startNote(*voice, 0);
    host.run(256);
    voice->setInput(PIN_GATE, 0, 0.0f);
    voice->clearRequests();

    int32_t sleepsSeen = -1; // samples written to outputl when HOST_SLEEP arrived
    voice->setRequestObserver([&](const HostRequest &r) {
        if (r.opcode == HOST_SLEEP) {
            sleepsSeen = 0;
            for (int32_t i = 0; i < 256; ++i) {
                sleepsSeen += voice->output(PIN_OUTPUTL)[i] == 0.0f;
            }
        }
    });
    for (int32_t call = 0; call < 5; ++call) {
        std::fill(voice->buffer(PIN_OUTPUTL), voice->buffer(PIN_OUTPUTL) + 256, 7.0f);
        host.run(256);
        const int32_t sleeps = countOf(transitions(*voice), sleepRequest());
        EXPECT_EQ(sleeps, call == 4 ? 1 : 0) << "after call " << call;
    }
    EXPECT_EQ(sleepsSeen, 256) << "the block is rendered before the module asks to sleep";
    EXPECT_TRUE(voice->isAsleep());

    // Asleep, the host stops calling; each later call (woken by a status change with the gate
    // still closed) asks again, and nothing else is announced.
    const uint32_t callsBefore = voice->processCallCount();
    host.run(256);
    EXPECT_EQ(voice->processCallCount(), callsBefore);
    for (int32_t call = 0; call < 3; ++call) {
        voice->setInput(PIN_FC, 0, 0.4f + 0.01f * static_cast<float>(call));
        host.run(256);
        EXPECT_EQ(countOf(transitions(*voice), sleepRequest()), 2 + call);
    }
    const std::vector<HostCall> announcements = callsWith(*voice, {HOST_SET_PIN_STATUS});
    const std::vector<HostCall> once = {announced(PIN_OUTPUTL, STREAM_SINGLE_CHANGE, 256),
                                        announced(PIN_OUTPUTR, STREAM_SINGLE_CHANGE, 256)};
    EXPECT_EQ(announcements, once);

    // A new note wakes it; the next closed gate counts a whole module block down again.
    startNote(*voice, 0);
    host.run(256);
    EXPECT_FALSE(voice->isAsleep());
    voice->setInput(PIN_GATE, 0, 0.0f);
    voice->clearRequests();
    for (int32_t call = 0; call < 5; ++call) {
        host.run(256);
        EXPECT_EQ(countOf(transitions(*voice), sleepRequest()), call == 4 ? 1 : 0);
    }
}

class ModuleBlockSize : public ModuleLifecycle, public ::testing::WithParamInterface<int32_t> {};

TEST_P(ModuleBlockSize, BelowOneAsksToSleepAtTheFirstCountdownCall) {
    Host host(tarnPlugin(), 44100.0f, 64);
    HostedInstance *voice = openVoice(host, VoiceSettings{}, 44100.0f, GetParam());
    startNote(*voice, 0);
    host.run(64);
    voice->setInput(PIN_GATE, 0, 0.0f);
    voice->clearRequests();
    host.run(64);
    EXPECT_EQ(countOf(transitions(*voice), sleepRequest()), 0);
    host.run(64);
    EXPECT_EQ(countOf(transitions(*voice), sleepRequest()), 1);
    EXPECT_TRUE(voice->isAsleep());
    for (int32_t i = 0; i < 64; ++i) {
        EXPECT_EQ(voice->output(PIN_OUTPUTL)[i], 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(ModuleLifecycle, ModuleBlockSize, ::testing::Values(0, -5));
