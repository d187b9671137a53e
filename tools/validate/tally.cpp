// The report markers are those the tools print at the start of every report: AddressSanitizer
// and LeakSanitizer lines begin "==PID==", as do all of memcheck's (which with -q prints
// nothing else); UndefinedBehaviorSanitizer's begin "FILE:LINE:COL: runtime error:".
#include "tools/validate/tally.h"

#include "tools/validate/result_line.h"

#include <cinttypes>
#include <cstdio>

namespace {

bool hasPidPrefix(const std::string &line) {
    if (line.compare(0, 2, "==") != 0) {
        return false;
    }
    size_t i = 2;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        ++i;
    }
    return i > 2 && line.compare(i, 2, "==") == 0;
}

bool isToolReport(const std::string &line) {
    return hasPidPrefix(line) || line.find("runtime error:") != std::string::npos ||
           line.find("Sanitizer") != std::string::npos;
}

constexpr uint32_t PRINTED_REPORT_LINES = 8;

// What in a clean result line must be zero; the name as the line spells it.
struct Zero {
    const char *name;
    uint64_t value;
};

} // namespace

void Tally::read(const std::string &text) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    if (isToolReport(line)) {
        // A report runs to dozens of lines; the first few say what it is.
        if (tool_report_lines++ < PRINTED_REPORT_LINES) {
            problems.push_back("tool report: " + line);
        }
        return;
    }
    if (line.compare(0, 5, "FAIL ") == 0) {
        problems.push_back("failed check: " + line.substr(5));
        return;
    }
    unsigned passed = 0, failed = 0;
    char rest = 0;
    if (std::sscanf(line.c_str(), "scenarios: %u passed, %u failed%c", &passed, &failed, &rest) ==
        2) {
        ++summaries;
        summary_passed = passed;
        summary_failed = failed;
        return;
    }
    if (line.compare(0, 7, "RESULT ") != 0 && line != "RESULT") {
        return;
    }
    ResultLine result;
    if (!parseResultLine(line, result)) {
        problems.push_back("malformed result line: " + line);
        return;
    }
    ++scenarios;
    calls += result.calls;
    samples += result.samples;
    cpu_s += result.cpu_s;
    if (result.worst_call_us > worst_call_us || worst_call_scenario.empty()) {
        worst_call_us = result.worst_call_us;
        worst_call_scenario = result.scenario;
    }
    if (result.status != "pass") {
        problems.push_back(result.scenario + ": status " + result.status);
    }
    const Zero zeros[] = {{"failures", result.failures},
                          {"nonfinite", result.nonfinite},
                          {"subnormal", result.subnormal},
                          {"allocations", result.allocations},
                          {"locks", result.locks},
                          {"assertions", result.assertions},
                          {"leaked_bytes", static_cast<uint64_t>(result.leaked_bytes)}};
    for (const Zero &zero : zeros) {
        if (zero.value != 0) {
            problems.push_back(result.scenario + ": " + zero.name + " not 0");
        }
    }
}

void Tally::finish(const TallyLimits &limits, int exitStatus) {
    char text[160];
    if (tool_report_lines > PRINTED_REPORT_LINES) {
        std::snprintf(text, sizeof text, "%u tool report lines in all", tool_report_lines);
        problems.push_back(text);
    }
    if (exitStatus != 0) {
        std::snprintf(text, sizeof text, "the run exited with status %d", exitStatus);
        problems.push_back(text);
    }
    if (summaries != 1) {
        std::snprintf(text, sizeof text, "%u closing lines instead of one", summaries);
        problems.push_back(text);
    } else if (summary_failed != 0 || summary_passed != scenarios) {
        std::snprintf(text, sizeof text,
                      "closing line says %u passed, %u failed, for %u result lines", summary_passed,
                      summary_failed, scenarios);
        problems.push_back(text);
    }
    if (scenarios < limits.min_scenarios) {
        std::snprintf(text, sizeof text, "%u result lines, at least %u wanted", scenarios,
                      limits.min_scenarios);
        problems.push_back(text);
    }
    if (calls < limits.min_calls) {
        std::snprintf(text, sizeof text,
                      "%" PRIu64 " calls into the module, at least %" PRIu64 " wanted", calls,
                      limits.min_calls);
        problems.push_back(text);
    }
}

std::string Tally::summary() const {
    char text[256];
    std::snprintf(text, sizeof text,
                  "TALLY scenarios=%u calls=%" PRIu64 " samples=%" PRIu64
                  " cpu_s=%.2f worst_call_us=%.1f (%s) problems=%zu",
                  scenarios, calls, samples, cpu_s, worst_call_us,
                  worst_call_scenario.empty() ? "-" : worst_call_scenario.c_str(), problems.size());
    return text;
}
