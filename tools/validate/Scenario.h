// What every scenario gets: its name and seed, the run length, the plug-in (loaded in the
// scenario's own child process), one host at a time with the checker watching it, and a
// seeded generator. Scenarios report through the checker; the runner prints the result line.
#pragma once

#include "host/Host.h"
#include "host/PluginLibrary.h"
#include "tools/validate/shared/CallChecker.h"

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

// Run lengths: --quick, the default (CI) and --long.
constexpr int LENGTH_QUICK = 0;
constexpr int LENGTH_CI = 1;
constexpr int LENGTH_LONG = 2;

struct ScenarioOptions {
    std::string plugin;              // path of the shared object to validate
    uint64_t seed = 1;               // --seed; every scenario starts from it
    int length = LENGTH_CI;          // LENGTH_*
    double call_limit_seconds = 120; // one call into the module, at most
    double scenario_limit_seconds = 1800;
    // --opaque: the module's memory is laid out by a compiler whose offsets this build does not
    // know, so no check reads its members; everything else is checked as usual. (MinGW's, for
    // tarn.dll, it knows: --mingw-layout.)
    bool opaque = false;
};

class ScenarioContext {
public:
    ScenarioContext(const char *name, const ScenarioOptions &options, RunFigures &figures);
    ~ScenarioContext();
    ScenarioContext(const ScenarioContext &) = delete;
    ScenarioContext &operator=(const ScenarioContext &) = delete;

    const char *name() const { return m_name; }
    uint64_t seed() const { return m_options.seed; }
    int length() const { return m_options.length; }
    const std::string &pluginPath() const { return m_options.plugin; }
    // Whether checks may read the oscillator's members through its class layout.
    bool readsModuleState() const { return !m_options.opaque; }
    template <class T> T pick(T quick, T ci, T longRun) const {
        return m_options.length == LENGTH_QUICK ? quick
                                                : (m_options.length == LENGTH_CI ? ci : longRun);
    }

    CallChecker &checker() { return m_checker; }
    std::mt19937_64 &rng() { return m_rng; }
    // A uniform integer in [low, high].
    int64_t uniform(int64_t low, int64_t high);
    // A uniform double in [0, 1).
    double unit();

    // The plug-in, loaded on first use; a load failure is a failed check (and null).
    const PluginLibrary *library();
    // Closes the host (and its instances) and unloads the plug-in.
    void unloadLibrary();
    // A new host on the plug-in, watched by the checker; the previous host is closed first.
    // Null when the plug-in could not be loaded.
    Host *newHost(float sampleRate, int32_t blockSize);
    Host *host() { return m_host.get(); }
    // Closes every instance of the current host and drops it.
    void closeHost();

    // Fails the scenario with a check name and detail; returns false for use in conditions.
    bool require(bool condition, const char *check, const char *what);

private:
    const char *m_name;
    ScenarioOptions m_options;
    CallChecker m_checker;
    std::mt19937_64 m_rng;
    std::unique_ptr<PluginLibrary> m_library;
    std::unique_ptr<Host> m_host;
};

typedef void (*ScenarioFunction)(ScenarioContext &context);

struct ScenarioEntry {
    const char *name;
    ScenarioFunction run;
    const char *summary;
};

// Every scenario, in the order a full run takes them.
const std::vector<ScenarioEntry> &scenarioTable();
