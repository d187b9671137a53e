// A deliberately broken build of the oscillator, for the validator's self-test only: the real
// Module with one fault injected, chosen at load by the environment variable
// TARN_BROKEN_VARIANT. "none" injects nothing, so the wrapper itself must pass every check.
// Faults act around the real process routine, which the wrapper re-installs itself over
// whenever the module changes it.
#include "oscillator/module/Module.h"
#include "oscillator/module/ModuleProbe.h"
#include "oscillator/module/VoicePool.h"
#include "se_sdk2/SEModuleProperties.h"
#include "se_sdk2/se_protocol.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace {

enum class Fault {
    None,
    WritePastEnd, // one sample written after the range
    SkipFirst,    // the range's first sample left unwritten
    WriteInput,   // an input sample changed
    NanOutput,    // a NaN returned
    AllocInProcess,
    LeakOnClose,
    EarlySleep,     // HOST_SLEEP while the outputs are announced running
    FreeTableEarly, // the shared table freed when its slot-0 owner closes
    Hang,           // a process call that never returns
};

Fault chosenFault() {
    const char *name = std::getenv("TARN_BROKEN_VARIANT");
    const struct {
        const char *name;
        Fault fault;
    } names[] = {{"write-past-end", Fault::WritePastEnd},
                 {"skip-first", Fault::SkipFirst},
                 {"write-input", Fault::WriteInput},
                 {"nan-output", Fault::NanOutput},
                 {"alloc-in-process", Fault::AllocInProcess},
                 {"leak-on-close", Fault::LeakOnClose},
                 {"early-sleep", Fault::EarlySleep},
                 {"free-table-early", Fault::FreeTableEarly},
                 {"hang", Fault::Hang}};
    for (const auto &entry : names) {
        if (name && std::strcmp(name, entry.name) == 0) {
            return entry.fault;
        }
    }
    return Fault::None;
}

const Fault FAULT = chosenFault();
void *volatile kept = nullptr; // keeps the compiler from dropping a malloc/free pair

class BrokenModule : public Module {
public:
    BrokenModule(HostCallback callback, intptr_t hostData) : Module(callback, hostData) {}

    ~BrokenModule() override {
        const ModuleProbe probe(*this);
        if (FAULT == Fault::FreeTableEarly && probe.voice() == 0 && probe.pool()) {
            delete probe.pool();
            probe.pool() = nullptr;
        }
    }

    void open() override {
        Module::open();
        takeOver();
    }

    void close() override {
        if (FAULT == Fault::LeakOnClose) {
            kept = std::malloc(64);
        }
        Module::close();
    }

    void onPlugStateChange(SEPin &pin) override {
        Module::onPlugStateChange(pin);
        takeOver();
    }

    void process(int32_t offset, int32_t count) {
        const ModuleProbe probe(*this);
        uint32_t firstBits = 0;
        if (count > 0) {
            std::memcpy(&firstBits, &probe.outputl()[offset], sizeof firstBits);
        }
        m_real.address(static_cast<SEModule_base *>(this), offset, count);
        takeOver();
        if (count <= 0) {
            return;
        }
        switch (FAULT) {
        case Fault::WritePastEnd:
            probe.outputl()[offset + count] = 0.0f;
            break;
        case Fault::SkipFirst:
            std::memcpy(&probe.outputl()[offset], &firstBits, sizeof firstBits);
            break;
        case Fault::WriteInput:
            probe.fc()[offset] += 1.0f;
            break;
        case Fault::NanOutput:
            probe.outputr()[offset] = std::numeric_limits<float>::quiet_NaN();
            break;
        case Fault::AllocInProcess:
            kept = std::malloc(32);
            std::free(kept);
            break;
        case Fault::EarlySleep:
            if (!probe.outputsStatic()) {
                callHost(HOST_SLEEP, 0, 0, nullptr, 0.0f);
            }
            break;
        case Fault::Hang:
            for (volatile bool forever = true; forever;) {
            }
            break;
        default:
            break;
        }
    }

private:
    // Whatever routine the module installed becomes the one this wrapper runs.
    void takeOver() {
        const ProcessFunction self = processFunction<BrokenModule, &BrokenModule::process>();
        const ProcessFunction current = getProcessFunction();
        if (current != self) {
            m_real = current;
            setProcessFunction(self);
        }
    }

    ProcessFunction m_real{};
};

} // namespace

extern "C" __attribute__((visibility("default"))) int32_t
getModuleProperties(int32_t index, SEModuleProperties *properties) {
    properties->sdk_version = SE_SDK_VERSION;
    if (index != 0) {
        return 0;
    }
    properties->id = "TARN";
    properties->name = "TARN Oscillator Module, broken for the validator's self-test";
    properties->about = "self-test";
    return 1;
}

extern "C" __attribute__((visibility("default"))) SEModuleRecord *
makeModule(int32_t index, int32_t kind, HostCallback callback, intptr_t hostData) {
    if (index != 0 || kind != 1) {
        return nullptr;
    }
    BrokenModule *module = new (std::nothrow) BrokenModule(callback, hostData);
    if (module && !module->hasVoiceTable()) {
        delete module;
        return nullptr;
    }
    return module ? module->getRecord() : nullptr;
}
