// Runs one scenario in a forked child process under its watchdogs and prints its result line:
//   RESULT scenario=NAME seed=S arch=A cpu=C status=S calls=N samples=N nonfinite=N
//          subnormal=N allocations=N locks=N assertions=N worst_call_us=T leaked_bytes=N
//          failures=N heap=on|off
// (one line), status being pass, fail, crash, watchdog (one call overran its limit) or timeout
// (the whole scenario overran its limit). heap=off means the heap books saw nothing (valgrind
// replaces malloc): allocations, locks and leaked bytes are then not measured.
#pragma once

#include "tools/validate/Scenario.h"

// True when the scenario passed.
bool runScenario(const ScenarioEntry &scenario, const ScenarioOptions &options);
