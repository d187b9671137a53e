#include "tools/validate/shared/watchdog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <time.h>

namespace {

const char *watchedScenario = "";
RunFigures *watchedFigures = nullptr;

int64_t monotonicWholeSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec);
}

} // namespace

void startWatchdog(const char *scenario, RunFigures *figures) {
    watchedScenario = scenario;
    watchedFigures = figures;
}

void watchdogCallStarted() {
    if (watchedFigures) {
        watchedFigures->call_started = monotonicWholeSeconds();
        watchedFigures->call_active = 1;
    }
}

void watchdogCallEnded() {
    if (watchedFigures) {
        watchedFigures->call_active = 0;
    }
}

bool callOverran(const RunFigures &figures, double limitSeconds) {
    return figures.call_active &&
           static_cast<double>(monotonicWholeSeconds() - figures.call_started) > limitSeconds;
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
    std::fprintf(stderr, "FAIL scenario=%s check=assertion: %s:%u: %s%s%s\n", watchedScenario, file,
                 line, function ? function : "", function ? ": " : "", expression);
    std::fflush(stderr);
    std::abort();
}
