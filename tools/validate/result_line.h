// The one line a scenario run ends in, written by the runner and read back by the tally:
//   RESULT scenario=NAME seed=S arch=A cpu=C status=S calls=N samples=N nonfinite=N
//          subnormal=N allocations=N locks=N assertions=N worst_call_us=T cpu_s=T
//          leaked_bytes=N failures=N heap=on|off
// (one line, fields in this order, separated by single spaces; no value contains a space).
#pragma once

#include "tools/validate/shared/figures.h"

#include <cstdint>
#include <string>

struct ResultLine {
    std::string scenario;
    uint64_t seed = 0;
    std::string arch;   // x86_64, i386
    std::string cpu;    // sse, nosse
    std::string status; // pass, fail, crash, watchdog, timeout
    uint64_t calls = 0;
    uint64_t samples = 0;
    uint64_t nonfinite = 0;
    uint64_t subnormal = 0;
    uint64_t allocations = 0;
    uint64_t locks = 0;
    uint64_t assertions = 0;
    double worst_call_us = 0.0;
    double cpu_s = 0.0; // user and system time of the scenario's child process
    int64_t leaked_bytes = 0;
    uint64_t failures = 0;
    bool heap = true; // whether allocations, locks and leaks were measured
};

// The line for `result`, without a newline.
std::string formatResultLine(const ResultLine &result);
// The result of a run from its figures.
ResultLine resultFromFigures(const RunFigures &figures);
// Reads a line written by formatResultLine (a trailing newline or carriage return allowed).
// False, with `out` unspecified, for anything else: another prefix, a missing, extra,
// misplaced or empty field, a number with trailing characters or out of its type's range.
bool parseResultLine(const std::string &line, ResultLine &out);
