// The checks after every call: the checker's own, the voice watch's, then the verdict. A
// failure is reported once, with the checker's first message, and ends the process.
#include "fuzz/FuzzSession.h"

#include "exports/module_exports.h"
#include "tools/validate/shared/heap_watch.h"
#include "tools/validate/shared/watchdog.h"

#include <cstdio>
#include <cstdlib>

FuzzSession::FuzzSession(const char *target, float sampleRate, int32_t blockSize)
    : m_target(target), m_checker(m_figures, target), m_library(&getModuleProperties, &makeModule) {
    startWatchdog(target, &m_figures);
    m_checker.setOscillatorStateChecks(true);
    m_host.reset(new Host(m_library, sampleRate, blockSize));
    m_checker.attach(*m_host);
    m_voices.reset(new VoiceWatch(m_checker, *m_host));
    m_checker.setAfterCallHook(
        [this](HostedInstance &instance, const ModuleCall &call) { afterCall(instance, call); });
}

FuzzSession::~FuzzSession() {
    m_host.reset();
    m_checker.setAfterCallHook(nullptr);
    m_checker.detach();
    startWatchdog("", nullptr);
    const heap_watch::Counters books = heap_watch::counters();
    if (books.tracked != 0) {
        char detail[96];
        std::snprintf(detail, sizeof detail, "%llu block(s), %lld bytes never freed",
                      static_cast<unsigned long long>(books.tracked),
                      static_cast<long long>(books.tracked_bytes));
        finding(m_target, "leak", detail);
    }
}

HostedInstance *FuzzSession::makeInstance(int32_t index, int32_t kind) {
    HostedInstance *instance = m_host->makeInstance(index, kind);
    if (instance && !m_first) {
        m_first = instance;
        m_voices->setPins(pinNamed("sync"), pinNamed("poly"), pinNamed("alternate"));
    }
    return instance;
}

int32_t FuzzSession::pinNamed(const char *name) const {
    return m_first ? m_first->findPin(name) : -1;
}

void FuzzSession::afterCall(HostedInstance &instance, const ModuleCall &call) {
    m_voices->afterCall(instance, call);
    if (m_figures.failures != 0) {
        finding(m_target, "call", m_figures.first_failure);
    }
}

void FuzzSession::finding(const char *target, const char *check, const char *detail) {
    std::fprintf(stderr, "FINDING fuzzer=%s check=%s: %s\n", target, check, detail);
    std::fflush(stderr);
    std::abort();
}
