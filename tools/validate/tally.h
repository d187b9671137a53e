// Holds the output of a validator run to the limits of a CI leg: every scenario's result line
// well-formed and clean, the run's closing "scenarios: P passed, F failed" line present and
// agreeing with them, no sanitizer or memcheck report on any line, and at least as many calls
// into the module, summed over the result lines, as the leg asks for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TallyLimits {
    uint64_t min_calls = 0;     // summed over every result line
    uint32_t min_scenarios = 1; // result lines
};

struct Tally {
    uint32_t scenarios = 0; // result lines read
    uint64_t calls = 0;
    uint64_t samples = 0;
    double cpu_s = 0.0;
    double worst_call_us = 0.0;
    std::string worst_call_scenario;
    uint32_t tool_report_lines = 0; // sanitizer and memcheck lines
    uint32_t summaries = 0;         // closing lines read
    uint32_t summary_passed = 0;
    uint32_t summary_failed = 0;
    std::vector<std::string> problems; // empty when the run meets its limits

    // Reads one line of the run's output (stdout and stderr together), with or without its
    // newline.
    void read(const std::string &line);
    // After the last line: adds the problems of the run as a whole, given the exit status of
    // the command that produced it (0 for a saved log).
    void finish(const TallyLimits &limits, int exitStatus);
    bool clean() const { return problems.empty(); }
    // "TALLY scenarios=N calls=N samples=N cpu_s=T worst_call_us=T (SCENARIO) problems=N"
    std::string summary() const;
};
