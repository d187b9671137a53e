// Follows the host's calls into the model and compares every live table after each of them.
#include "tools/validate/shared/VoiceWatch.h"

#include "oscillator/module/VoicePool.h"
#include "se_sdk2/se_protocol.h"
#include "tools/validate/shared/heap_watch.h"
#include "tools/validate/tarn_access.h"

void VoiceWatch::fail(const char *format, const char *detail) {
    if (!m_failed) {
        m_checker.fail("voice-table", format, detail);
    }
    m_failed = true;
}

void VoiceWatch::afterCall(HostedInstance &instance, const ModuleCall &call) {
    if (m_failed) {
        return;
    }
    if (call.kind == MODULE_CALL_MAKE) {
        if (!instance.record()) {
            return;
        }
        const VoiceModel::Voice voice = m_model.construct();
        m_voices[&instance] = voice;
        if (ModuleView(instance.record()).voice() != voice.slot) {
            fail("%s", "a new instance took another slot than its generation's next");
        }
    } else if (call.kind == MODULE_CALL_DISPATCH && call.opcode == MOD_CLOSE) {
        auto it = m_voices.find(&instance);
        if (it != m_voices.end()) {
            m_model.destroy(it->second);
            m_voices.erase(it);
        }
    } else if (call.kind == MODULE_CALL_EVENT && call.event->type == EV_PIN_STATUS) {
        noteEvent(instance, *call.event);
    }
    compareAll();
}

void VoiceWatch::noteEvent(HostedInstance &instance, const SEEvent &event) {
    auto it = m_voices.find(&instance);
    if (it == m_voices.end()) {
        return;
    }
    const int32_t pin = static_cast<int32_t>(event.pointer);
    if (pin == m_sync) {
        const float sync = instance.output(m_sync)[event.time_stamp - m_host.blockStart()];
        if (sync > 0.1f) {
            m_model.noteOn(it->second, instance.pin(m_poly)->list_value);
            // The placement of this note follows the alternation state just flipped.
            const ModuleView module(instance.record());
            const VoiceModel::Generation &g = m_model.generation(it->second.generation);
            const int16_t alternate = instance.pin(m_alternate)->list_value;
            bool swap = false;
            float sign1 = 1.0f, sign2 = 1.0f;
            if (alternate & 1) {
                const int32_t layout = alternate >> 1;
                swap = layout == 0 && g.flip == 1;
                sign2 = layout == 1 ? g.sign : 1.0f;
                sign1 = layout == 2 ? g.sign : 1.0f;
            }
            if (module.swapOutputs() != swap || module.sign1() != sign1 ||
                module.sign2() != sign2) {
                fail("%s", "a note's output placement does not follow the alternation state");
            }
        }
    } else if (pin == m_alternate) {
        m_model.setAlternateMode(it->second, instance.pin(m_alternate)->list_value);
    }
}

void VoiceWatch::compareAll() {
    std::map<int32_t, const VoicePool *> pools;
    for (const auto &entry : m_voices) {
        const ModuleView module(entry.first->record());
        const VoicePool *pool = module.pool();
        auto known = pools.find(entry.second.generation);
        if (known == pools.end()) {
            for (const auto &other : pools) {
                if (other.second == pool) {
                    fail("%s", "two generations share one table");
                    return;
                }
            }
            pools[entry.second.generation] = pool;
        } else if (known->second != pool) {
            fail("%s", "instances of one generation hold different tables");
            return;
        }
        if (module.voice() != entry.second.slot) {
            fail("%s", "an instance's slot changed");
            return;
        }
    }
    for (const auto &entry : pools) {
        if (heap_watch::active() && !heap_watch::isTrackedBlock(entry.second)) {
            fail("%s", "a live instance's table is not a live heap block (freed too early?)");
            return;
        }
        char why[160];
        if (!m_model.matches(entry.first, *entry.second, why, sizeof why)) {
            fail("the table differs from the model: %s", why);
            return;
        }
    }
}
