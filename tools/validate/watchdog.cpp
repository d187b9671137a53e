// The handler only reads the clock, formats with snprintf-free code and calls write and _exit,
// all async-signal-safe.
#include "tools/validate/watchdog.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace {

const char *watchedScenario = "";
double callLimit = 60.0;
RunFigures *watchedFigures = nullptr;
volatile sig_atomic_t callActive = 0;
volatile time_t callStartSeconds = 0;

void writeText(const char *text) {
    ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void onAlarm(int) {
    if (!callActive) {
        return;
    }
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (static_cast<double>(now.tv_sec - callStartSeconds) <= callLimit) {
        return;
    }
    writeText("FAIL scenario=");
    writeText(watchedScenario);
    writeText(" check=watchdog: a call into the module did not return within its limit\n");
    if (watchedFigures) {
        ++watchedFigures->failures;
        if (watchedFigures->first_failure[0] == 0) {
            std::strncpy(watchedFigures->first_failure, "watchdog: call did not return",
                         sizeof watchedFigures->first_failure - 1);
        }
    }
    _exit(WATCHDOG_EXIT_STATUS);
}

} // namespace

void startWatchdog(const char *scenario, double callLimitSeconds, RunFigures *figures) {
    watchedScenario = scenario;
    callLimit = callLimitSeconds;
    watchedFigures = figures;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onAlarm;
    action.sa_flags = SA_RESTART;
    sigaction(SIGALRM, &action, nullptr);
    itimerval interval{{1, 0}, {1, 0}};
    setitimer(ITIMER_REAL, &interval, nullptr);
}

void watchdogCallStarted() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    callStartSeconds = now.tv_sec;
    callActive = 1;
}

void watchdogCallEnded() {
    callActive = 0;
}

// A contract breach inside the plug-in: counted and reported, then the platform's answer
// (ending the process) as glibc's own would.
extern "C" void __assert_fail(const char *expression, const char *file, unsigned int line,
                              const char *function) {
    if (watchedFigures) {
        ++watchedFigures->assertions;
        ++watchedFigures->failures;
        if (watchedFigures->first_failure[0] == 0) {
            std::snprintf(watchedFigures->first_failure, sizeof watchedFigures->first_failure,
                          "assertion: %s (%s:%u)", expression, file, line);
        }
    }
    std::fprintf(stderr, "FAIL scenario=%s check=assertion: %s:%u: %s%s%s\n", watchedScenario,
                 file, line, function ? function : "", function ? ": " : "", expression);
    std::fflush(stderr);
    std::abort();
}
