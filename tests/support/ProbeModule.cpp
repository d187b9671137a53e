// The logging test module.
#include "support/ProbeModule.h"

ProbeModule::~ProbeModule() {
    if (log != nullptr) {
        log->push_back("destroyed");
    }
}

void ProbeModule::note(const std::string &call) {
    calls.push_back(call);
    if (log != nullptr) {
        log->push_back(call);
    }
}

void ProbeModule::onPlugStateChange(SEPin &pin) {
    plugStates.emplace_back(pin.getIndex(), pin.getStatus());
    note("onPlugStateChange " + std::to_string(pin.getIndex()));
}

void ProbeModule::open() {
    note("open");
    SEModule_base::open();
}

void ProbeModule::close() {
    note("close");
}

bool ProbeModule::getPinProperties(int32_t index, SEPinProperties &properties) {
    if (index < 0 || size_t(index) >= descriptions.size()) {
        return false;
    }
    properties = descriptions[size_t(index)];
    return true;
}

void ProbeModule::onNotify() {
    note("onNotify");
}

void ProbeModule::onNotifyIndex(int32_t index) {
    note("onNotifyIndex " + std::to_string(index));
}

void ProbeModule::onDataEvent(uint32_t clock, int32_t value, int16_t id) {
    note("onDataEvent " + std::to_string(clock) + " " + std::to_string(value) + " " +
         std::to_string(id));
}

intptr_t ProbeModule::onMessage(int32_t value, int32_t index, void *ptr) {
    note("onMessage " + std::to_string(value) + " " + std::to_string(index) + " " +
         std::to_string(reinterpret_cast<intptr_t>(ptr)));
    return 77;
}

void ProbeModule::renderA(int32_t bufferOffset, int32_t sampleCount) {
    note("renderA " + std::to_string(bufferOffset) + " " + std::to_string(sampleCount));
}

void ProbeModule::renderB(int32_t bufferOffset, int32_t sampleCount) {
    note("renderB " + std::to_string(bufferOffset) + " " + std::to_string(sampleCount));
}

void ProbeModule::tick() {
    note("tick");
}

void ProbeModule::virtualTick() {
    note("virtualTick base");
}

void DerivedProbe::virtualTick() {
    note("virtualTick derived");
}
