// The validator against deliberately broken builds of the oscillator: every fault must fail
// the run with the check that names it, and the same wrapper without a fault must pass. Runs
// the built tarn-validate on tarn_broken.so, both beside the plug-in; native build only (the
// 32-bit programs run under qemu, which cannot start further 32-bit programs here).
#include "tools/validate/result_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string buildDirectory() {
    const std::string plugin = TARN_PLUGIN_PATH;
    return plugin.substr(0, plugin.rfind('/'));
}

struct ValidatorRun {
    int exitCode;
    std::string output;
};

// Runs tarn-validate with `args` and TARN_BROKEN_VARIANT=variant, under `tool` (a program and
// its options, such as valgrind) when given; stdout and stderr together.
ValidatorRun validate(const std::string &variant, const std::vector<std::string> &args,
                      const std::vector<std::string> &tool = {}) {
    char path[] = "/tmp/tarn-selftest.XXXXXX";
    const int fd = mkstemp(path);
    const pid_t child = fork();
    if (child == 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        setenv("TARN_BROKEN_VARIANT", variant.c_str(), 1);
        const std::string program = buildDirectory() + "/tarn-validate";
        const std::string plugin = buildDirectory() + "/tarn_broken.so";
        std::vector<const char *> argv;
        for (const std::string &word : tool) {
            argv.push_back(word.c_str());
        }
        for (const char *word : {program.c_str(), "--quick", "--plugin", plugin.c_str()}) {
            argv.push_back(word);
        }
        for (const std::string &arg : args) {
            argv.push_back(arg.c_str());
        }
        argv.push_back(nullptr);
        execv(argv[0], const_cast<char *const *>(argv.data()));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(fd);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    unlink(path);
    return ValidatorRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

struct BrokenCase {
    const char *variant;
    const char *check; // a FAIL line must name it
    std::vector<std::string> args;
    const char *status = "fail"; // of the failing scenario's result line
};

void PrintTo(const BrokenCase &c, std::ostream *out) {
    *out << c.variant;
}

class ValidatorSelfTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(ValidatorSelfTest, FailsTheBrokenModuleOnItsCheck) {
    if (sizeof(void *) != 8) {
        GTEST_SKIP() << "the self-test runs in the native build";
    }
    const BrokenCase &c = GetParam();
    const ValidatorRun run = validate(c.variant, c.args);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find(std::string("check=") + c.check), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(std::string("status=") + c.status), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ValidatorSelfTest,
    ::testing::Values(
        BrokenCase{"write-past-end", "guard-zone", {}},
        BrokenCase{"skip-first", "unwritten-sample", {}},
        BrokenCase{"write-input", "input-written", {}}, BrokenCase{"nan-output", "non-finite", {}},
        BrokenCase{"alloc-in-process", "allocation", {}}, BrokenCase{"leak-on-close", "leak", {}},
        BrokenCase{"early-sleep", "early-sleep", {}},
        BrokenCase{"free-table-early", "voice-table", {"--scenario", "voices"}},
        BrokenCase{
            "hang", "watchdog", {"--scenario", "properties", "--call-limit", "2"}, "watchdog"}),
    [](const ::testing::TestParamInfo<BrokenCase> &param) {
        std::string name = param.param.variant;
        for (char &c : name) {
            c = c == '-' ? '_' : c;
        }
        return name;
    });

TEST(ValidatorSelfTest, PassesTheWrapperWithoutAFault) {
    if (sizeof(void *) != 8) {
        GTEST_SKIP() << "the self-test runs in the native build";
    }
    const ValidatorRun run = validate("none", {});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("scenarios: 13 passed, 0 failed"), std::string::npos) << run.output;
}

// The result lines of a run, in their order.
std::vector<ResultLine> results(const std::string &output) {
    std::vector<ResultLine> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        ResultLine result;
        if (parseResultLine(line, result)) {
            lines.push_back(result);
        }
    }
    return lines;
}

TEST(ValidatorSelfTest, TheSameSeedRepeatsARunAndAnotherSeedChangesIt) {
    if (sizeof(void *) != 8) {
        GTEST_SKIP() << "the self-test runs in the native build";
    }
    // Random call shapes and event offsets: the call and sample counts follow the stream.
    const std::vector<std::string> args = {"--scenario", "blocks", "--scenario", "voices"};
    auto seeded = [&](const char *seed) {
        std::vector<std::string> withSeed = args;
        withSeed.insert(withSeed.end(), {"--seed", seed});
        return results(validate("none", withSeed).output);
    };
    const std::vector<ResultLine> first = seeded("7"), again = seeded("7"), other = seeded("8");
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(again.size(), 2u);
    ASSERT_EQ(other.size(), 2u);
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].seed, 7u);
        EXPECT_EQ(first[i].status, "pass");
        EXPECT_EQ(again[i].calls, first[i].calls) << first[i].scenario;
        EXPECT_EQ(again[i].samples, first[i].samples) << first[i].scenario;
        EXPECT_NE(other[i].calls + other[i].samples, first[i].calls + first[i].samples)
            << first[i].scenario;
    }
}

#if defined(TARN_VALGRIND_PATH)
// The shared table freed with its slot-0 owner, in a scenario whose own checks cannot see a
// freed table (natively it passes): memcheck's report alone must fail the scenario.
TEST(ValidatorSelfTest, MemcheckFailsAScenarioOnAnInvalidRead) {
    const ValidatorRun run = validate("free-table-early", {"--scenario", "lifecycle"},
                                      {TARN_VALGRIND_PATH, "-q", "--error-exitcode=9",
                                       "--leak-check=full", "--errors-for-leak-kinds=definite"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("Invalid read"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("scenario=lifecycle seed=1 arch=x86_64 cpu=sse status=fail"),
              std::string::npos)
        << run.output;
}
#endif

} // namespace
