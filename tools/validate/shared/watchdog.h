// The per-call watchdog. The child marks the start and the end of every call into the module in
// the figures it shares with the runner, and the runner, polling, ends a child whose call has
// run past its limit. No timer signal reaches the child: qemu-i386 does not always keep the
// interrupted code's x87 registers intact across a signal handler. Also routes the plug-in's
// contract breaches (glibc's __assert_fail) into the run's figures.
#pragma once

#include "tools/validate/shared/figures.h"

// Remembers where this child's figures are and which scenario runs.
void startWatchdog(const char *scenario, RunFigures *figures);
// Marks the start and the end of one call into the module.
void watchdogCallStarted();
void watchdogCallEnded();
// For the runner: whether the child's current call has run longer than `limitSeconds`.
bool callOverran(const RunFigures &figures, double limitSeconds);
