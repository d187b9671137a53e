// Many live instances sharing the voice table: made and closed in random orders (slot-0
// owners first among them), notes from random instances, "poly" 1..16 and "alternate"
// changes, with the table of every live instance compared after every call against the
// validator's own model, and each table checked to be a live heap block of the module's.
#include "tools/validate/scenarios.h"

#include "oscillator/VoicePool.h"
#include "se_sdk2/SEModuleProperties.h"
#include "se_sdk2/se_protocol.h"
#include "tools/validate/TarnPins.h"
#include "tools/validate/VoiceModel.h"
#include "tools/validate/heap_watch.h"
#include "tools/validate/tarn_access.h"

#include <cstring>
#include <map>

namespace {

class VoiceWatch {
public:
    VoiceWatch(ScenarioContext &context, Host &host) : m_context(context), m_host(host) {}

    void afterCall(HostedInstance &instance, const ModuleCall &call);
    void setPins(const TarnPins &pins) {
        m_sync = pins.sync, m_poly = pins.poly, m_alternate = pins.alternate;
    }
    bool failed() const { return m_failed; }
    const VoiceModel::Voice *voiceOf(const HostedInstance *instance) const {
        auto it = m_voices.find(instance);
        return it == m_voices.end() ? nullptr : &it->second;
    }

private:
    void noteEvent(HostedInstance &instance, const SEEvent &event);
    void compareAll();
    void fail(const char *format, const char *detail);

    ScenarioContext &m_context;
    Host &m_host;
    VoiceModel m_model;
    std::map<const HostedInstance *, VoiceModel::Voice> m_voices;
    int32_t m_sync = -1, m_poly = -1, m_alternate = -1;
    bool m_failed = false;
};

void VoiceWatch::fail(const char *format, const char *detail) {
    if (!m_failed) {
        m_context.checker().fail("voice-table", format, detail);
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
        if (tarnModule(instance.record())->m_voice != voice.slot) {
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
            const Module *module = tarnModule(instance.record());
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
            if (module->m_swap_outputs != swap || module->m_sign1 != sign1 ||
                module->m_sign2 != sign2) {
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
        const Module *module = tarnModule(entry.first->record());
        const VoicePool *pool = module->m_pool;
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
        if (module->m_voice != entry.second.slot) {
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

} // namespace

void scenarioVoices(ScenarioContext &context) {
    const PluginLibrary *library = context.library();
    if (!library) {
        return;
    }
    SEModuleProperties properties{};
    if (library->getModuleProperties(0, &properties) != 1 || !properties.id ||
        std::strcmp(properties.id, "TARN") != 0) {
        context.checker().fail("voice-table", "the plug-in is not TARN; its table is unknown");
        return;
    }
    const int32_t blockSize = 64;
    Host *host = context.newHost(44100.0f, blockSize);
    VoiceWatch watch(context, *host);
    context.checker().setAfterCallHook([&watch](HostedInstance &instance, const ModuleCall &call) {
        watch.afterCall(instance, call);
    });
    std::vector<HostedInstance *> live;
    std::unique_ptr<TarnPins> pins;
    const int32_t steps = context.pick(4000, 40000, 400000);
    // The live count drifts between small and large populations, up to 64 instances.
    int32_t target = 1;
    for (int32_t step = 0; step < steps && !watch.failed(); ++step) {
        if (step % 500 == 0) {
            target = static_cast<int32_t>(context.uniform(1, 64));
        }
        const double move = context.unit();
        const int32_t at = static_cast<int32_t>(context.uniform(host->position(), blockSize - 1));
        if (live.empty() || (move < 0.15 && int32_t(live.size()) < target)) {
            HostedInstance *instance = host->addInstance();
            if (!instance) {
                context.checker().fail("make", "makeModule(0, 1) answered null");
                break;
            }
            if (!pins) {
                pins.reset(new TarnPins(context, *instance));
                if (!pins->ok) {
                    break;
                }
                watch.setPins(*pins);
            }
            instance->setList(pins->poly, static_cast<int16_t>(context.uniform(1, 16)));
            instance->setList(pins->alternate, static_cast<int16_t>(context.uniform(0, 5)));
            setNominalInputs(*instance, *pins, at);
            live.push_back(instance);
        } else if (move < 0.25 && (int32_t(live.size()) > target || move < 0.17)) {
            // Prefer a slot-0 owner now and then: its table must outlive it.
            size_t victim = size_t(context.uniform(0, int64_t(live.size()) - 1));
            if (context.unit() < 0.3) {
                for (size_t i = 0; i < live.size(); ++i) {
                    if (watch.voiceOf(live[i]) && watch.voiceOf(live[i])->slot == 0) {
                        victim = i;
                    }
                }
            }
            live[victim]->close();
            live.erase(live.begin() + std::ptrdiff_t(victim));
        } else if (move < 0.55) {
            HostedInstance *instance = live[size_t(context.uniform(0, int64_t(live.size()) - 1))];
            const float values[] = {1.0f, 0.2f, 0.1f, 0.0f};
            instance->setInput(pins->sync, at, values[context.uniform(0, 3)]);
        } else if (move < 0.62) {
            HostedInstance *instance = live[size_t(context.uniform(0, int64_t(live.size()) - 1))];
            instance->setList(pins->poly, static_cast<int16_t>(context.uniform(1, 16)));
        } else if (move < 0.67) {
            // Every instance told of the same new setting: the table resets once.
            const int16_t mode = static_cast<int16_t>(context.uniform(0, 5));
            for (HostedInstance *instance : live) {
                instance->setList(pins->alternate, mode);
            }
        } else if (move < 0.72) {
            HostedInstance *instance = live[size_t(context.uniform(0, int64_t(live.size()) - 1))];
            instance->setInput(pins->gate, at, context.unit() < 0.5 ? 0.0f : 1.0f);
        } else {
            const int32_t count =
                static_cast<int32_t>(context.uniform(0, blockSize - host->position()));
            host->process(host->position(), count);
        }
    }
    for (HostedInstance *instance : live) {
        instance->close();
    }
    context.checker().setAfterCallHook(nullptr);
    context.closeHost();
}
