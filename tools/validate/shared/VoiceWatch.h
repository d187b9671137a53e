// The voice table of every live instance of one host, compared after every call with the
// validator's model: the model follows makes, closes, "sync" rises and "alternate" changes as
// the host delivered them, and each table must also be a live heap block of the module's.
// Only for this project's plug-in (it reads the tables through the class layout).
#pragma once

#include "host/Host.h"
#include "host/ModuleCallObserver.h"
#include "tools/validate/shared/CallChecker.h"
#include "tools/validate/shared/VoiceModel.h"

#include <cstdint>
#include <map>

class VoiceWatch {
public:
    // Failures go to `checker` (the first one only); `host` is the host whose calls it follows.
    VoiceWatch(CallChecker &checker, Host &host) : m_checker(checker), m_host(host) {}

    // To be run after every call into a module of the host, from the checker's hook.
    void afterCall(HostedInstance &instance, const ModuleCall &call);
    // The pin numbers of "sync", "poly" and "alternate"; no note or mode is followed before.
    void setPins(int32_t sync, int32_t poly, int32_t alternate) {
        m_sync = sync, m_poly = poly, m_alternate = alternate;
    }
    bool failed() const { return m_failed; }
    // The model's voice of a live instance, or null.
    const VoiceModel::Voice *voiceOf(const HostedInstance *instance) const {
        auto it = m_voices.find(instance);
        return it == m_voices.end() ? nullptr : &it->second;
    }

private:
    void noteEvent(HostedInstance &instance, const SEEvent &event);
    void compareAll();
    void fail(const char *format, const char *detail);

    CallChecker &m_checker;
    Host &m_host;
    VoiceModel m_model;
    std::map<const HostedInstance *, VoiceModel::Voice> m_voices;
    int32_t m_sync = -1, m_poly = -1, m_alternate = -1;
    bool m_failed = false;
};
