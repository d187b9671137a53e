// Runs one scenario in a forked child process under its watchdogs and prints its result line
// (result_line.h), status being pass, fail, crash, watchdog (one call overran its limit) or timeout
// (the whole scenario overran its limit). heap=off means the heap books saw nothing (valgrind
// replaces malloc): allocations, locks and leaked bytes are then not measured. cpu_s is the
// child's user and system time.
#pragma once

#include "tools/validate/Scenario.h"

// True when the scenario passed.
bool runScenario(const ScenarioEntry &scenario, const ScenarioOptions &options);
