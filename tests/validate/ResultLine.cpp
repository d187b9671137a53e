// The result line as other programs read it: the documented field order and spelling, a
// lossless round trip over random figures (extremes included), and rejection of every kind of
// damaged line, so that a tally never half-reads one.
#include "tools/validate/result_line.h"

#include "support/param_names.h"
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

ResultLine sampleResult() {
    ResultLine r;
    r.scenario = "voices";
    r.seed = 1;
    r.arch = "x86_64";
    r.cpu = "sse";
    r.status = "pass";
    r.calls = 636620;
    r.samples = 3020738;
    r.worst_call_us = 4787.04;
    r.cpu_s = 1.234;
    r.heap = true;
    return r;
}

const char *const SAMPLE_LINE =
    "RESULT scenario=voices seed=1 arch=x86_64 cpu=sse status=pass calls=636620 samples=3020738 "
    "nonfinite=0 subnormal=0 allocations=0 locks=0 assertions=0 worst_call_us=4787.0 cpu_s=1.23 "
    "leaked_bytes=0 failures=0 heap=on";

TEST(ResultLine, IsWrittenInTheDocumentedOrderAndSpelling) {
    EXPECT_EQ(formatResultLine(sampleResult()), SAMPLE_LINE);
}

TEST(ResultLine, RoundTripsRandomFiguresIncludingTheExtremes) {
    std::mt19937_64 rng(23);
    const char *statuses[] = {"pass", "fail", "crash", "watchdog", "timeout"};
    const uint64_t edges[] = {0, 1, UINT32_MAX, uint64_t(UINT32_MAX) + 1, UINT64_MAX};
    for (int i = 0; i < 2000; ++i) {
        auto count = [&]() { return rng() % 4 == 0 ? edges[rng() % 5] : rng() >> (rng() % 64); };
        ResultLine r;
        r.scenario = "scenario-" + std::to_string(rng() % 100);
        r.seed = count();
        r.arch = rng() % 2 ? "i386" : "x86_64";
        r.cpu = rng() % 2 ? "nosse" : "sse";
        r.status = statuses[rng() % 5];
        r.calls = count();
        r.samples = count();
        r.nonfinite = count();
        r.subnormal = count();
        r.allocations = count();
        r.locks = count();
        r.assertions = count();
        // Values the formats keep exactly: tenths of microseconds, hundredths of seconds.
        r.worst_call_us = double(rng() % 100000000) / 10.0;
        r.cpu_s = double(rng() % 10000000) / 100.0;
        r.leaked_bytes = rng() % 3 == 0 ? INT64_MIN + int64_t(rng() % 2) : int64_t(rng());
        r.failures = count();
        r.heap = rng() % 2 == 0;

        const std::string line = formatResultLine(r);
        ResultLine back;
        ASSERT_TRUE(parseResultLine(line + (i % 3 == 0   ? "\r\n"
                                            : i % 3 == 1 ? "\n"
                                                         : ""),
                                    back))
            << line;
        EXPECT_EQ(formatResultLine(back), line);
        EXPECT_EQ(back.calls, r.calls);
        EXPECT_EQ(back.seed, r.seed);
        EXPECT_EQ(back.leaked_bytes, r.leaked_bytes);
        EXPECT_EQ(back.heap, r.heap);
        EXPECT_EQ(back.status, r.status);
    }
}

// One damage per case, applied to the sample line.
struct Damage {
    const char *what;
    std::string from; // replaced (first occurrence)...
    std::string to;   // ...by this
};

class ResultLineDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(ResultLineDamage, IsRejected) {
    std::string line = SAMPLE_LINE;
    const Damage &d = GetParam();
    const size_t at = line.find(d.from);
    ASSERT_NE(at, std::string::npos) << d.what;
    line.replace(at, d.from.size(), d.to);
    ResultLine out;
    EXPECT_FALSE(parseResultLine(line, out)) << d.what << ": " << line;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResultLineDamage,
    ::testing::Values(
        Damage{"another prefix", "RESULT ", "DETAIL "}, Damage{"prefix glued", "RESULT ", "RESULT"},
        Damage{"a field missing", " locks=0", ""},
        Damage{"a field doubled", " locks=0", " locks=0 locks=0"},
        Damage{"two fields swapped", "nonfinite=0 subnormal=0", "subnormal=0 nonfinite=0"},
        Damage{"a field after the last", "heap=on", "heap=on extra=1"},
        Damage{"a trailing space", "heap=on", "heap=on "},
        Damage{"a double space", " calls=", "  calls="}, Damage{"an empty value", "=voices", "="},
        Damage{"a misspelt key", "samples=", "sample="},
        Damage{"no equals sign", "calls=636620", "calls636620"},
        Damage{"a negative count", "calls=636620", "calls=-1"},
        Damage{"a signed count", "calls=636620", "calls=+1"},
        Damage{"a count with a tail", "calls=636620", "calls=636620x"},
        Damage{"a count past 2^64", "calls=636620", "calls=18446744073709551616"},
        Damage{"a count in hexadecimal", "calls=636620", "calls=0x10"},
        Damage{"a real with a tail", "cpu_s=1.23", "cpu_s=1.23s"},
        Damage{"leaked bytes past 2^63", "leaked_bytes=0", "leaked_bytes=9223372036854775808"},
        Damage{"heap neither on nor off", "heap=on", "heap=yes"},
        Damage{"a name with a space", "scenario=voices", "scenario=two voices"}),
    NameByWhat());

TEST(ResultLine, FiguresCarryOverWithWorstCallInMicroseconds) {
    RunFigures figures{};
    figures.host_calls = 7;
    figures.samples = 11;
    figures.allocations = 2;
    figures.leaked_bytes = -64;
    figures.worst_call_seconds = 0.0123;
    const ResultLine r = resultFromFigures(figures);
    EXPECT_EQ(r.calls, 7u);
    EXPECT_EQ(r.samples, 11u);
    EXPECT_EQ(r.allocations, 2u);
    EXPECT_EQ(r.leaked_bytes, -64);
    EXPECT_DOUBLE_EQ(r.worst_call_us, 12300.0);
}

} // namespace
