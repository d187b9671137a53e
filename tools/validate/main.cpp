// tarn-validate: drives a plug-in through its two exports and its records in every scenario,
// each in a child process of its own, and prints one result line per scenario. Exit status 0
// when every scenario passed, 1 when any failed, 2 for a usage error.
#include "tools/validate/module_layout.h"
#include "tools/validate/scenario_runner.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

void usage(FILE *out) {
    std::fprintf(out,
                 "usage: tarn-validate [--quick | --long] [--seed N] [--scenario NAME]...\n"
                 "                     [--plugin PATH] [--opaque | --mingw-layout]\n"
                 "                     [--call-limit SECONDS] [--list]\n"
                 "  --quick      every scenario at its short length\n"
                 "  --long       every scenario at its release length\n"
                 "               (neither: the CI length)\n"
                 "  --seed N     the seed every scenario starts from (default 1)\n"
                 "  --scenario   run only the named scenario (repeatable)\n"
                 "  --plugin     the shared object to validate (default: tarn.so beside this\n"
                 "               program)\n"
                 "  --opaque     never read the module's members (their layout is unknown);\n"
                 "               the voice-table and state checks are off\n"
                 "  --mingw-layout\n"
                 "               read the members where MinGW lays them out (tarn.dll through\n"
                 "               tarn-dll.so); only in a 32-bit build beside a Windows tree\n"
                 "  --call-limit the watchdog's limit on one call into the module (default 120)\n"
                 "  --list       list the scenarios and exit\n");
}

std::string besideProgram(const char *name) {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return name;
    }
    path[n] = 0;
    std::string self(path);
    const size_t slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/" + name;
}

} // namespace

int main(int argc, char **argv) {
    ScenarioOptions options;
    options.plugin = besideProgram("tarn.so");
    std::vector<std::string> chosen;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--quick") {
            options.length = LENGTH_QUICK;
        } else if (arg == "--long") {
            options.length = LENGTH_LONG;
        } else if (arg == "--seed" && hasValue) {
            char *end = nullptr;
            options.seed = std::strtoull(argv[++i], &end, 0);
            if (!end || *end) {
                usage(stderr);
                return 2;
            }
        } else if (arg == "--scenario" && hasValue) {
            chosen.push_back(argv[++i]);
        } else if (arg == "--plugin" && hasValue) {
            options.plugin = argv[++i];
        } else if (arg == "--opaque") {
            options.opaque = true;
        } else if (arg == "--mingw-layout") {
            if (!useMingwLayout()) {
                std::fprintf(stderr, "tarn-validate: --mingw-layout: this build has no MinGW "
                                     "layout table (only the 32-bit build with a Windows tree)\n");
                return 2;
            }
        } else if (arg == "--call-limit" && hasValue) {
            options.call_limit_seconds = std::atof(argv[++i]);
        } else if (arg == "--list") {
            for (const ScenarioEntry &entry : scenarioTable()) {
                std::printf("%-15s %s\n", entry.name, entry.summary);
            }
            return 0;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            usage(stderr);
            return 2;
        }
    }
    for (const std::string &name : chosen) {
        bool known = false;
        for (const ScenarioEntry &entry : scenarioTable()) {
            known = known || name == entry.name;
        }
        if (!known) {
            std::fprintf(stderr, "tarn-validate: no scenario named %s (see --list)\n",
                         name.c_str());
            return 2;
        }
    }
    int passed = 0, failed = 0;
    for (const ScenarioEntry &entry : scenarioTable()) {
        bool wanted = chosen.empty();
        for (const std::string &name : chosen) {
            wanted = wanted || name == entry.name;
        }
        if (!wanted) {
            continue;
        }
        if (runScenario(entry, options)) {
            ++passed;
        } else {
            ++failed;
        }
    }
    std::printf("scenarios: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
