// A module for framework tests: answers the pin descriptions the test gives it, logs every
// virtual operation the framework reaches, and opens up SEModule_base's members.
#pragma once

#include "se_sdk2/SEModule_base.h"
#include "se_sdk2/SEPin.h"
#include "support/RecordingCallback.h"

#include <cstdint>
#include <string>
#include <vector>

class ProbeModule : public SEModule_base {
public:
    explicit ProbeModule(HostCallback callback = &RecordingCallback::entry, intptr_t hostData = 0)
        : SEModule_base(callback, hostData) {}
    // Logs "destroyed" into *log when one is set, since the object itself is gone then.
    ~ProbeModule() override;

    void onPlugStateChange(SEPin &pin) override;
    void open() override;
    void close() override;
    bool getPinProperties(int32_t index, SEPinProperties &properties) override;
    void onNotify() override;
    void onNotifyIndex(int32_t index) override;
    void onDataEvent(uint32_t clock, int32_t value, int16_t id) override;
    intptr_t onMessage(int32_t value, int32_t index, void *ptr) override;

    // Process routines and scheduled operations; each logs its name and arguments.
    void renderA(int32_t bufferOffset, int32_t sampleCount);
    void renderB(int32_t bufferOffset, int32_t sampleCount);
    void tick();
    virtual void virtualTick();

    SEPin *pins() const { return m_pins; }
    int32_t pinCount() const { return m_pin_count; }
    const ProcessFunction *processFunctionMember() const { return &m_process_function; }

    std::vector<SEPinProperties> descriptions; // description i answers descriptions[i]
    std::vector<std::string> calls;            // e.g. "onNotifyIndex 3"
    std::vector<std::string> *log = nullptr;   // also receives every entry of `calls`
    // Records, for each onPlugStateChange, the pin's index and status at that moment.
    std::vector<std::pair<int32_t, int32_t>> plugStates;

protected:
    void note(const std::string &call);
};

class DerivedProbe : public ProbeModule {
public:
    using ProbeModule::ProbeModule;
    void virtualTick() override;
};
