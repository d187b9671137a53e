// Many live instances sharing the voice table: made and closed in random orders (slot-0
// owners first among them), notes from random instances, "poly" 1..16 and "alternate"
// changes, with the table of every live instance compared after every call against the
// validator's own model, and each table checked to be a live heap block of the module's.
#include "tools/validate/scenarios.h"

#include "se_sdk2/SEModuleProperties.h"
#include "tools/validate/TarnPins.h"
#include "tools/validate/shared/VoiceWatch.h"

#include <cstring>

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
    // The host keeps every instance it made, closed or not: the long run plays many rounds of
    // the CI length on fresh hosts rather than one round that would hold ~10^5 instances.
    const int32_t steps = context.pick(4000, 40000, 40000);
    const int32_t rounds = context.pick(1, 1, 60);
    for (int32_t round = 0; round < rounds; ++round) {
        Host *host = context.newHost(44100.0f, blockSize);
        VoiceWatch watch(context.checker(), *host);
        if (context.readsModuleState()) {
            context.checker().setAfterCallHook(
                [&watch](HostedInstance &instance, const ModuleCall &call) {
                    watch.afterCall(instance, call);
                });
        }
        std::vector<HostedInstance *> live;
        std::unique_ptr<TarnPins> pins;
        // The live count drifts between small and large populations, up to 64 instances.
        int32_t target = 1;
        for (int32_t step = 0; step < steps && !watch.failed(); ++step) {
            if (step % 500 == 0) {
                target = static_cast<int32_t>(context.uniform(1, 64));
            }
            const double move = context.unit();
            const int32_t at =
                static_cast<int32_t>(context.uniform(host->position(), blockSize - 1));
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
                    watch.setPins(pins->sync, pins->poly, pins->alternate);
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
                HostedInstance *instance =
                    live[size_t(context.uniform(0, int64_t(live.size()) - 1))];
                const float values[] = {1.0f, 0.2f, 0.1f, 0.0f};
                instance->setInput(pins->sync, at, values[context.uniform(0, 3)]);
            } else if (move < 0.62) {
                HostedInstance *instance =
                    live[size_t(context.uniform(0, int64_t(live.size()) - 1))];
                instance->setList(pins->poly, static_cast<int16_t>(context.uniform(1, 16)));
            } else if (move < 0.67) {
                // Every instance told of the same new setting: the table resets once.
                const int16_t mode = static_cast<int16_t>(context.uniform(0, 5));
                for (HostedInstance *instance : live) {
                    instance->setList(pins->alternate, mode);
                }
            } else if (move < 0.72) {
                HostedInstance *instance =
                    live[size_t(context.uniform(0, int64_t(live.size()) - 1))];
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
        if (watch.failed()) {
            return;
        }
    }
}
