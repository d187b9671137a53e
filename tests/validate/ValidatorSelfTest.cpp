// The validator against deliberately broken builds of the oscillator: every fault must fail
// the run with the check that names it, and the same wrapper without a fault must pass. Runs
// the built tarn-validate on tarn_broken.so, both beside the plug-in; native build only (the
// 32-bit programs run under qemu, which cannot start further 32-bit programs here).
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

// Runs tarn-validate with `args` and TARN_BROKEN_VARIANT=variant; stdout and stderr together.
ValidatorRun validate(const std::string &variant, const std::vector<std::string> &args) {
    char path[] = "/tmp/tarn-selftest.XXXXXX";
    const int fd = mkstemp(path);
    const pid_t child = fork();
    if (child == 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        setenv("TARN_BROKEN_VARIANT", variant.c_str(), 1);
        const std::string program = buildDirectory() + "/tarn-validate";
        const std::string plugin = buildDirectory() + "/tarn_broken.so";
        std::vector<const char *> argv = {program.c_str(), "--quick", "--plugin", plugin.c_str()};
        for (const std::string &arg : args) {
            argv.push_back(arg.c_str());
        }
        argv.push_back(nullptr);
        execv(program.c_str(), const_cast<char *const *>(argv.data()));
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

} // namespace
