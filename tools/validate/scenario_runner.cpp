// The child runs the scenario with the figures in shared memory; the parent waits with a
// deadline, kills a child that overruns it, and prints the result from the shared figures,
// which hold what the child had counted even when it crashed.
#include "tools/validate/scenario_runner.h"

#include "kernels/cpu_features.h"
#include "tools/validate/result_line.h"
#include "tools/validate/shared/heap_watch.h"
#include "tools/validate/shared/watchdog.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

const char *architecture() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__i386__)
    return "i386";
#else
    return "other";
#endif
}

double seconds(const timeval &t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
}

void runChild(const ScenarioEntry &scenario, const ScenarioOptions &options, RunFigures *figures) {
    startWatchdog(scenario.name, figures);
    heap_watch::forgetTracked();
    {
        ScenarioContext context(scenario.name, options, *figures);
        try {
            scenario.run(context);
        } catch (const std::exception &e) {
            context.checker().fail("exception", "%s", e.what());
        }
    }
    // Everything the scenario made is closed and the plug-in unloaded: what the module
    // allocated and never freed is a leak.
    figures->leaked_bytes = heap_watch::counters().tracked_bytes;
    if (figures->leaked_bytes != 0) {
        std::fprintf(stderr, "FAIL scenario=%s check=leak: %lld bytes never freed\n", scenario.name,
                     static_cast<long long>(figures->leaked_bytes));
        if (figures->failures++ == 0) {
            std::snprintf(figures->first_failure, sizeof figures->first_failure,
                          "leak: %lld bytes never freed",
                          static_cast<long long>(figures->leaked_bytes));
        }
    }
    std::fflush(stderr);
    _exit(figures->failures == 0 ? 0 : 1);
}

} // namespace

bool runScenario(const ScenarioEntry &scenario, const ScenarioOptions &options) {
    void *shared = mmap(nullptr, sizeof(RunFigures), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        std::fprintf(stderr, "tarn-validate: no shared memory for %s\n", scenario.name);
        return false;
    }
    RunFigures *figures = static_cast<RunFigures *>(shared);
    std::memset(figures, 0, sizeof *figures);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child == 0) {
        runChild(scenario, options, figures);
    }
    const char *status = "crash";
    int exitStatus = 0;
    rusage usage{};
    if (child > 0) {
        timespec start;
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (;;) {
            const pid_t done = wait4(child, &exitStatus, WNOHANG, &usage);
            if (done == child) {
                if (WIFEXITED(exitStatus)) {
                    const int code = WEXITSTATUS(exitStatus);
                    status = code == 0 ? "pass" : "fail";
                } else {
                    status = "crash";
                }
                break;
            }
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            const bool overran = callOverran(*figures, options.call_limit_seconds);
            if (overran || double(now.tv_sec - start.tv_sec) > options.scenario_limit_seconds) {
                kill(child, SIGKILL);
                wait4(child, &exitStatus, 0, &usage);
                status = overran ? "watchdog" : "timeout";
                std::fprintf(stderr, "FAIL scenario=%s check=%s: %s\n", scenario.name, status,
                             overran ? "a call into the module did not return within its limit"
                                     : "the scenario overran its time limit");
                ++figures->failures;
                break;
            }
            const timespec pause{0, 5000000};
            nanosleep(&pause, nullptr);
        }
    }
    const bool passed = std::strcmp(status, "pass") == 0 && figures->failures == 0;
    if (!passed && std::strcmp(status, "crash") == 0 && WIFSIGNALED(exitStatus)) {
        std::fprintf(stderr, "FAIL scenario=%s check=crash: signal %d (%s)\n", scenario.name,
                     WTERMSIG(exitStatus), strsignal(WTERMSIG(exitStatus)));
    }
    if (!passed && figures->first_failure[0]) {
        std::printf("DETAIL scenario=%s first failure: %s\n", scenario.name,
                    figures->first_failure);
    }
    ResultLine result = resultFromFigures(*figures);
    result.scenario = scenario.name;
    result.seed = options.seed;
    result.arch = architecture();
    result.cpu = hasSSE() ? "sse" : "nosse";
    result.status = status;
    result.cpu_s = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.heap = heap_watch::active();
    std::printf("%s\n", formatResultLine(result).c_str());
    std::fflush(stdout);
    munmap(shared, sizeof(RunFigures));
    return passed;
}
