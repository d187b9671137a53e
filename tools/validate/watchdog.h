// The per-call watchdog of a scenario's child process: a one-second interval timer whose
// handler ends the child when one call into the module has run longer than its limit. Also
// routes the plug-in's contract breaches (glibc's __assert_fail) into the run's figures.
#pragma once

#include "tools/validate/figures.h"

// Exit status of a child ended by the watchdog.
constexpr int WATCHDOG_EXIT_STATUS = 86;

// Starts the timer in this process; `figures` receives failures and assertion counts.
void startWatchdog(const char *scenario, double callLimitSeconds, RunFigures *figures);
// Marks the start and the end of one call into the module.
void watchdogCallStarted();
void watchdogCallEnded();
