// libFuzzer target: the shared voice table's operations (instances joining and leaving, notes
// with any limit, "alternate" changes, slots no instance holds) applied to the real VoicePool
// and to the validator's VoiceModel, every live generation compared after each operation. A
// record freed while an instance still holds it is a use after free, caught by ASan.
#include "fuzz/FuzzBytes.h"
#include "fuzz/FuzzSession.h"
#include "fuzz/voice_table.h"
#include "oscillator/module/VoicePool.h"
#include "tools/validate/shared/VoiceModel.h"

#include <cstdio>
#include <vector>

namespace {

constexpr const char *TARGET = "fuzz_voice_table";

struct LiveVoice {
    VoicePool *pool;
    int16_t slot;
    VoiceModel::Voice model;
};

class Table {
public:
    explicit Table(FuzzBytes &in) : m_in(in) {}
    // Every live voice leaves, in the order they joined.
    ~Table() {
        for (const LiveVoice &v : m_live) {
            releaseVoicePool(v.pool, v.slot);
        }
    }

    void step(uint8_t op);
    void compare() const;

private:
    LiveVoice *voice() {
        const size_t i = m_in.pick(m_live.size());
        return m_live.empty() ? nullptr : &m_live[i];
    }
    int16_t number() {
        const uint8_t selector = m_in.byte();
        return selector < VT_RAW_NUMBER ? VT_NUMBERS[selector % VT_NUMBER_COUNT]
                                        : static_cast<int16_t>(m_in.u16());
    }
    void join();

    FuzzBytes &m_in;
    VoiceModel m_model;
    std::vector<LiveVoice> m_live;
};

void Table::join() {
    const float rate = m_in.value();
    if (static_cast<int32_t>(m_live.size()) >= VT_MAX_LIVE) {
        return;
    }
    LiveVoice v{};
    v.pool = acquireVoicePool(rate, v.slot);
    v.model = m_model.construct();
    if (!v.pool || v.slot != v.model.slot) {
        char detail[96];
        std::snprintf(detail, sizeof detail, "joined as slot %d, the model's next slot is %d",
                      v.slot, v.model.slot);
        FuzzSession::finding(TARGET, "join", detail);
    }
    for (const LiveVoice &other : m_live) {
        if ((other.model.generation == v.model.generation) != (other.pool == v.pool)) {
            FuzzSession::finding(TARGET, "join", "a generation's record is not its own");
        }
    }
    m_live.push_back(v);
}

void Table::step(uint8_t op) {
    switch (op) {
    case VT_JOIN:
        join();
        break;
    case VT_LEAVE:
        if (LiveVoice *v = voice()) {
            releaseVoicePool(v->pool, v->slot);
            m_model.destroy(v->model);
            m_live.erase(m_live.begin() + (v - m_live.data()));
        }
        break;
    case VT_NOTE: {
        LiveVoice *v = voice();
        const int16_t limit = number();
        if (v) {
            noteOn(v->pool, v->slot, limit);
            m_model.noteOn(v->model, limit);
        }
        break;
    }
    case VT_ALTERNATE: {
        LiveVoice *v = voice();
        const int16_t mode = number();
        if (v) {
            setAlternateMode(v->pool, mode);
            m_model.setAlternateMode(v->model, mode);
        }
        break;
    }
    case VT_STRAY: {
        LiveVoice *v = voice();
        const int16_t slot = VT_STRAY_SLOTS[m_in.byte() % VT_STRAY_SLOT_COUNT];
        const int16_t limit = number();
        // Neither may change anything the model knows of.
        noteOn(v ? v->pool : nullptr, slot, limit);
        noteOn(nullptr, v ? v->slot : int16_t(0), limit);
        setAlternateMode(nullptr, limit);
        if (v && blockDecayStep(v->pool, slot) != 0.0) {
            FuzzSession::finding(TARGET, "decay-step", "a slot outside 0..23 has a decay step");
        }
        break;
    }
    case VT_DECAY:
        if (LiveVoice *v = voice()) {
            const bool released = m_model.generation(v->model.generation).released[v->slot];
            const double expected = released ? v->pool->m_decay_step : 0.0;
            if (blockDecayStep(v->pool, v->slot) != expected) {
                FuzzSession::finding(TARGET, "decay-step",
                                     "the block's decay step ignores the "
                                     "voice's release flag");
            }
        }
        break;
    default:
        break;
    }
}

void Table::compare() const {
    for (size_t i = 0; i < m_live.size(); ++i) {
        // Each generation once: at its first live voice.
        bool first = true;
        for (size_t j = 0; j < i && first; ++j) {
            first = m_live[j].model.generation != m_live[i].model.generation;
        }
        char why[160];
        if (first &&
            !m_model.matches(m_live[i].model.generation, *m_live[i].pool, why, sizeof why)) {
            FuzzSession::finding(TARGET, "model", why);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzBytes in(data, size);
    Table table(in);
    while (!in.done()) {
        table.step(static_cast<uint8_t>(in.byte() % VT_COUNT));
        table.compare();
    }
    return 0;
}
