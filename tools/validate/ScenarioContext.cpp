// The scenario context: one plug-in and one host at a time, both owned here so that the host
// (and the instances it closes) always goes before the plug-in's code does.
#include "tools/validate/Scenario.h"

#include "se_sdk2/SEModuleProperties.h"

#include <cstring>
#include <functional>

namespace {

// Mixes the scenario's name into the seed, so that scenarios draw different streams from one
// printed seed and each can be rerun alone with it.
uint64_t scenarioSeed(const char *name, uint64_t seed) {
    uint64_t h = 1469598103934665603ull ^ seed;
    for (const char *c = name; *c; ++c) {
        h = (h ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    }
    return h;
}

} // namespace

ScenarioContext::ScenarioContext(const char *name, const ScenarioOptions &options,
                                 RunFigures &figures)
    : m_name(name), m_options(options), m_checker(figures, name),
      m_rng(scenarioSeed(name, options.seed)) {}

ScenarioContext::~ScenarioContext() {
    unloadLibrary();
}

int64_t ScenarioContext::uniform(int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(m_rng);
}

double ScenarioContext::unit() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(m_rng);
}

const PluginLibrary *ScenarioContext::library() {
    if (!m_library) {
        m_library.reset(new PluginLibrary(m_options.plugin));
        if (!m_library->isLoaded()) {
            m_checker.fail("load", "%s: %s", m_options.plugin.c_str(), m_library->error().c_str());
            m_library.reset();
        } else {
            SEModuleProperties properties{};
            const bool tarn = m_library->getModuleProperties(0, &properties) == 1 &&
                              properties.id && std::strcmp(properties.id, "TARN") == 0;
            m_checker.setOscillatorStateChecks(tarn && readsModuleState());
        }
    }
    return m_library.get();
}

void ScenarioContext::unloadLibrary() {
    closeHost();
    m_library.reset();
}

Host *ScenarioContext::newHost(float sampleRate, int32_t blockSize) {
    closeHost();
    const PluginLibrary *plugin = library();
    if (!plugin) {
        return nullptr;
    }
    m_host.reset(new Host(*plugin, sampleRate, blockSize));
    m_checker.attach(*m_host);
    return m_host.get();
}

void ScenarioContext::closeHost() {
    m_host.reset();
    m_checker.detach();
}

bool ScenarioContext::require(bool condition, const char *check, const char *what) {
    if (!condition) {
        m_checker.fail(check, "%s", what);
    }
    return condition;
}
