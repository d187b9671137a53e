// The CI legs' judge: a clean run passes with its figures summed; each kind of defect that a
// run's output can show (a failed or crashed scenario, any non-zero counter, a sanitizer or
// memcheck report, a damaged or missing line, too few calls) fails it on its own.
#include "tools/validate/tally.h"

#include "tools/validate/result_line.h"

#include "support/param_names.h"
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

ResultLine cleanResult(const char *scenario, uint64_t calls) {
    ResultLine r;
    r.scenario = scenario;
    r.seed = 1;
    r.arch = "x86_64";
    r.cpu = "sse";
    r.status = "pass";
    r.calls = calls;
    r.samples = 2 * calls;
    r.worst_call_us = double(calls % 1000);
    r.cpu_s = 0.5;
    return r;
}

// A run of three clean scenarios of 400,000 calls each, as tarn-validate prints it; `edit`
// changes the lines before they are read.
std::vector<std::string> cleanRun() {
    return {"unrelated output line",
            formatResultLine(cleanResult("lifecycle", 400000)),
            "DETAIL nothing",
            formatResultLine(cleanResult("cycles", 400321)),
            formatResultLine(cleanResult("voices", 400999)) + "\n",
            "scenarios: 3 passed, 0 failed"};
}

Tally tallyOf(const std::vector<std::string> &lines, uint64_t minCalls = 1000000,
              int exitStatus = 0) {
    Tally tally;
    for (const std::string &line : lines) {
        tally.read(line);
    }
    TallyLimits limits;
    limits.min_calls = minCalls;
    limits.min_scenarios = 3;
    tally.finish(limits, exitStatus);
    return tally;
}

TEST(Tally, PassesACleanRunAndSumsItsFigures) {
    const Tally tally = tallyOf(cleanRun());
    EXPECT_TRUE(tally.clean()) << (tally.problems.empty() ? "" : tally.problems[0]);
    EXPECT_EQ(tally.scenarios, 3u);
    EXPECT_EQ(tally.calls, 1201320u);
    EXPECT_EQ(tally.samples, 2402640u);
    EXPECT_DOUBLE_EQ(tally.cpu_s, 1.5);
    EXPECT_DOUBLE_EQ(tally.worst_call_us, 999.0);
    EXPECT_EQ(tally.worst_call_scenario, "voices");
    EXPECT_EQ(tally.summary(), "TALLY scenarios=3 calls=1201320 samples=2402640 cpu_s=1.50 "
                               "worst_call_us=999.0 (voices) problems=0");
}

struct Defect {
    const char *what;
    std::function<void(std::vector<std::string> &)> apply;
    uint64_t min_calls = 1000000;
    int exit_status = 0;
};

void PrintTo(const Defect &d, std::ostream *out) {
    *out << d.what;
}

// Rewrites the second scenario's result line.
std::function<void(std::vector<std::string> &)>
resultEdit(std::function<void(ResultLine &)> change) {
    return [change](std::vector<std::string> &lines) {
        ResultLine r = cleanResult("cycles", 400321);
        change(r);
        lines[3] = formatResultLine(r);
    };
}

std::function<void(std::vector<std::string> &)> inserted(const std::string &line) {
    return [line](std::vector<std::string> &lines) { lines.insert(lines.begin() + 2, line); };
}

class TallyDefect : public ::testing::TestWithParam<Defect> {};

TEST_P(TallyDefect, FailsTheRun) {
    std::vector<std::string> lines = cleanRun();
    GetParam().apply(lines);
    const Tally tally = tallyOf(lines, GetParam().min_calls, GetParam().exit_status);
    EXPECT_FALSE(tally.clean()) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TallyDefect,
    ::testing::Values(
        Defect{"status fail", resultEdit([](ResultLine &r) { r.status = "fail"; })},
        Defect{"status crash", resultEdit([](ResultLine &r) { r.status = "crash"; })},
        Defect{"status watchdog", resultEdit([](ResultLine &r) { r.status = "watchdog"; })},
        Defect{"a failure", resultEdit([](ResultLine &r) { r.failures = 1; })},
        Defect{"a NaN sample", resultEdit([](ResultLine &r) { r.nonfinite = 1; })},
        Defect{"a subnormal", resultEdit([](ResultLine &r) { r.subnormal = 1; })},
        Defect{"an allocation", resultEdit([](ResultLine &r) { r.allocations = 1; })},
        Defect{"a lock", resultEdit([](ResultLine &r) { r.locks = 1; })},
        Defect{"an assertion", resultEdit([](ResultLine &r) { r.assertions = 1; })},
        Defect{"a leak", resultEdit([](ResultLine &r) { r.leaked_bytes = 64; })},
        Defect{"a negative leak", resultEdit([](ResultLine &r) { r.leaked_bytes = -8; })},
        Defect{"ASan report",
               inserted("==4242==ERROR: AddressSanitizer: heap-use-after-free on address 0x60")},
        Defect{"LeakSanitizer summary",
               inserted("SUMMARY: AddressSanitizer: 64 byte(s) leaked in 1 allocation(s).")},
        Defect{"UBSan report",
               inserted("oscillator/Module.cpp:120:31: runtime error: 1e+20 is outside the "
                        "range of representable values of type 'int'")},
        Defect{"memcheck report", inserted("==77== Invalid read of size 8")},
        Defect{"a failed check line", inserted("FAIL scenario=voices check=voice-table: slot 3")},
        Defect{"a damaged result line",
               [](std::vector<std::string> &lines) { lines[3].resize(lines[3].size() - 8); }},
        Defect{"a result line lost",
               [](std::vector<std::string> &lines) { lines.erase(lines.begin() + 3); },
               /*min_calls*/ 0},
        Defect{"no closing line", [](std::vector<std::string> &lines) { lines.pop_back(); }},
        Defect{"two closing lines", inserted("scenarios: 3 passed, 0 failed")},
        Defect{"closing line counts a failure",
               [](std::vector<std::string>
                      &lines) { lines.back() = "scenarios: 2 passed, 1 failed"; }},
        Defect{"closing line counts more scenarios",
               [](std::vector<std::string>
                      &lines) { lines.back() = "scenarios: 4 passed, 0 failed"; }},
        Defect{"too few calls", [](std::vector<std::string> &) {}, 1201321},
        Defect{"exit status 1", [](std::vector<std::string> &) {}, 0, 1},
        Defect{"killed by a signal", [](std::vector<std::string> &) {}, 0, 128 + 9}),
    NameByWhat());

TEST(Tally, LinesThatOnlyResembleReportsAreNotProblems) {
    std::vector<std::string> lines = cleanRun();
    for (const char *line : {"== ctest in build/native", "====", "==12 not a pid prefix",
                             "RESULTS are below", "scenarios: listed in the docs"}) {
        lines.insert(lines.begin() + 1, line);
    }
    const Tally tally = tallyOf(lines);
    EXPECT_TRUE(tally.clean()) << (tally.problems.empty() ? "" : tally.problems[0]);
}

} // namespace
