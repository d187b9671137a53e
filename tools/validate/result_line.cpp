// Reading splits the line at single spaces and requires the keys of KEYS in order, so a line
// that lost, doubled or reordered a field (or a scenario name with a space) is rejected
// rather than half read.
#include "tools/validate/result_line.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const char *const KEYS[] = {"scenario", "seed",       "arch",          "cpu",       "status",
                            "calls",    "samples",    "nonfinite",     "subnormal", "allocations",
                            "locks",    "assertions", "worst_call_us", "cpu_s",     "leaked_bytes",
                            "failures", "heap"};
constexpr size_t KEY_COUNT = sizeof KEYS / sizeof KEYS[0];

bool readUnsigned(const std::string &text, uint64_t &out) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false; // strtoull would take a sign
    }
    char *end = nullptr;
    errno = 0;
    out = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && *end == 0;
}

bool readSigned(const std::string &text, int64_t &out) {
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    out = value;
    return !text.empty() && errno == 0 && *end == 0;
}

bool readReal(const std::string &text, double &out) {
    char *end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && errno == 0 && *end == 0;
}

} // namespace

std::string formatResultLine(const ResultLine &r) {
    char line[512];
    std::snprintf(
        line, sizeof line,
        "RESULT scenario=%s seed=%" PRIu64 " arch=%s cpu=%s status=%s calls=%" PRIu64
        " samples=%" PRIu64 " nonfinite=%" PRIu64 " subnormal=%" PRIu64 " allocations=%" PRIu64
        " locks=%" PRIu64 " assertions=%" PRIu64
        " worst_call_us=%.1f cpu_s=%.2f leaked_bytes=%" PRId64 " failures=%" PRIu64 " heap=%s",
        r.scenario.c_str(), r.seed, r.arch.c_str(), r.cpu.c_str(), r.status.c_str(), r.calls,
        r.samples, r.nonfinite, r.subnormal, r.allocations, r.locks, r.assertions, r.worst_call_us,
        r.cpu_s, r.leaked_bytes, r.failures, r.heap ? "on" : "off");
    return line;
}

ResultLine resultFromFigures(const RunFigures &figures) {
    ResultLine result;
    result.calls = figures.host_calls;
    result.samples = figures.samples;
    result.nonfinite = figures.nonfinite;
    result.subnormal = figures.subnormal;
    result.allocations = figures.allocations;
    result.locks = figures.locks;
    result.assertions = figures.assertions;
    result.worst_call_us = figures.worst_call_seconds * 1e6;
    result.leaked_bytes = figures.leaked_bytes;
    result.failures = figures.failures;
    return result;
}

bool parseResultLine(const std::string &text, ResultLine &out) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    std::vector<std::string> words;
    for (size_t start = 0;;) {
        const size_t space = line.find(' ', start);
        words.push_back(line.substr(start, space - start));
        if (space == std::string::npos) {
            break;
        }
        start = space + 1;
    }
    if (words.size() != KEY_COUNT + 1 || words[0] != "RESULT") {
        return false;
    }
    std::string v[KEY_COUNT];
    for (size_t k = 0; k < KEY_COUNT; ++k) {
        const std::string key = std::string(KEYS[k]) + "=";
        const std::string &word = words[k + 1];
        if (word.size() <= key.size() || word.compare(0, key.size(), key) != 0) {
            return false;
        }
        v[k] = word.substr(key.size());
    }
    out.scenario = v[0];
    out.arch = v[2];
    out.cpu = v[3];
    out.status = v[4];
    const bool heapKnown = v[16] == "on" || v[16] == "off";
    out.heap = v[16] == "on";
    return heapKnown && readUnsigned(v[1], out.seed) && readUnsigned(v[5], out.calls) &&
           readUnsigned(v[6], out.samples) && readUnsigned(v[7], out.nonfinite) &&
           readUnsigned(v[8], out.subnormal) && readUnsigned(v[9], out.allocations) &&
           readUnsigned(v[10], out.locks) && readUnsigned(v[11], out.assertions) &&
           readReal(v[12], out.worst_call_us) && readReal(v[13], out.cpu_s) &&
           readSigned(v[14], out.leaked_bytes) && readUnsigned(v[15], out.failures);
}
