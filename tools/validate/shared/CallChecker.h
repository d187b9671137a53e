// The checks the validator runs around every call into a module: the call's duration (and the
// watchdog's view of it), buffers (sentinel-filled outputs written exactly in [offset,
// offset + n), inputs and guard zones untouched, gate-0 samples exactly 0.0, no non-finite or
// subnormal samples), the well-formedness of every request the module makes back, and no heap
// allocation or lock inside process and event calls. Scenario-specific state checks (the voice
// table) hook in after each call.
#pragma once

#include "host/Host.h"
#include "host/ModuleCallObserver.h"
#include "tools/validate/shared/figures.h"

#include <cstdint>
#include <functional>
#include <vector>

class CallChecker : public ModuleCallObserver {
public:
    // A quiet NaN whose payload differs from the host's guard pattern; pre-filled into every
    // output sample a process call must write.
    static constexpr uint32_t SENTINEL_PATTERN = 0x7fc0dea1u;

    // Failures go to `figures` and, for the first few, to stderr tagged with `scenario`.
    CallChecker(RunFigures &figures, const char *scenario);
    ~CallChecker() override;
    CallChecker(const CallChecker &) = delete;
    CallChecker &operator=(const CallChecker &) = delete;

    // Becomes `host`'s call observer. One host at a time; the host's own closing calls are
    // still checked while it is destroyed, and detach() forgets it afterwards.
    void attach(Host &host);
    void detach();

    // Runs `call` (a call into `instance` that the host would not make itself, such as a
    // process call before MOD_OPEN) with the same checks around it.
    void manualCall(HostedInstance &instance, const ModuleCall &description,
                    const std::function<void()> &call);

    // After every call, also checks the oscillator's own state through its class layout
    // (finite phases, level and rate constants; the accumulating phases within [-1, 1]; level
    // within [0, 1]).
    // Only for this project's plug-in.
    void setOscillatorStateChecks(bool on) { m_oscillator_state = on; }

    // Runs after every call's own checks; for checks of module state.
    void setAfterCallHook(std::function<void(HostedInstance &, const ModuleCall &)> hook) {
        m_after_hook = std::move(hook);
    }

    // Records a failed check. `check` is a short fixed name; the rest is printf-style detail.
    void fail(const char *check, const char *format, ...) __attribute__((format(printf, 3, 4)));
    uint64_t failures() const { return m_figures.failures; }
    RunFigures &figures() { return m_figures; }

    void beforeCall(HostedInstance &instance, const ModuleCall &call) override;
    void afterCall(HostedInstance &instance, const ModuleCall &call) override;
    void onRequest(HostedInstance &instance, const HostRequest &request) override;

private:
    void snapshotBuffers(HostedInstance &instance, const ModuleCall &call);
    void checkBuffers(HostedInstance &instance, const ModuleCall &call);
    void checkProcessRange(HostedInstance &instance, const ModuleCall &call);
    void checkOscillatorState(HostedInstance &instance, const ModuleCall &call);

    RunFigures &m_figures;
    const char *m_scenario;
    Host *m_host = nullptr;
    HostedInstance *m_current = nullptr;
    int32_t m_current_kind = -1;
    bool m_in_close = false;
    bool m_was_open = false;
    bool m_oscillator_state = false;
    uint32_t m_stray_before = 0;
    double m_comb_phase_before = 0.0; // the oscillator's comb phase before the call
    uint64_t m_allocations_before = 0;
    uint64_t m_locks_before = 0;
    double m_start_seconds = 0.0;
    std::vector<std::vector<float>> m_snapshots; // per pin, whole buffers before the call
    std::function<void(HostedInstance &, const ModuleCall &)> m_after_hook;
};

// Seconds on the monotonic clock.
double monotonicSeconds();
