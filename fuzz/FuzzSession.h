// One fuzz input's run of the plug-in, linked into the fuzzer: a host watched by the
// validator's CallChecker (buffers, requests, allocations, the oscillator's state) and
// VoiceWatch (every live voice table against the model). Any failed check, or a block the
// module allocated and never freed, prints what failed and aborts, so libFuzzer keeps the
// input. The decoders keep the host's side of the contract: every failure is the module's.
#pragma once

#include "host/Host.h"
#include "host/PluginLibrary.h"
#include "tools/validate/shared/CallChecker.h"
#include "tools/validate/shared/VoiceWatch.h"
#include "tools/validate/shared/figures.h"

#include <cstdint>
#include <memory>

class FuzzSession {
public:
    // A host of `blockSize` samples per buffer (at least 1) whose makeInstance uses
    // `sampleRate`; `target` names the fuzzer in failure reports.
    FuzzSession(const char *target, float sampleRate, int32_t blockSize);
    // Closes every instance still open, then requires the module's heap blocks all freed.
    ~FuzzSession();
    FuzzSession(const FuzzSession &) = delete;
    FuzzSession &operator=(const FuzzSession &) = delete;

    Host &host() { return *m_host; }
    CallChecker &checker() { return m_checker; }
    // Makes an instance as the host does; on the first one, learns the pin numbers by name.
    // Null when makeModule answers null.
    HostedInstance *makeInstance(int32_t index, int32_t kind);
    // Pin numbers, found by name on the first instance made; -1 before.
    int32_t pinNamed(const char *name) const;

    // Prints `check: detail` and aborts: a finding.
    [[noreturn]] static void finding(const char *target, const char *check, const char *detail);

private:
    void afterCall(HostedInstance &instance, const ModuleCall &call);

    const char *m_target;
    RunFigures m_figures{};
    CallChecker m_checker;
    PluginLibrary m_library;
    std::unique_ptr<Host> m_host;
    std::unique_ptr<VoiceWatch> m_voices;
    HostedInstance *m_first = nullptr;
};
