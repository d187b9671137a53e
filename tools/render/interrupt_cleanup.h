// Removal of unfinished files when the run is interrupted. SIGINT, SIGTERM and SIGHUP remove
// every registered path (files first, then directories), stop a registered child process and
// end the program with 128 + the signal number (130, 143, 129), as a shell reports a kill.
// The handler only reads fixed slots, so it is async-signal-safe.
#pragma once

#include <string>
#include <sys/types.h>

namespace tarn::render {

// Installs the handlers; called once, before any output is created.
void installInterruptCleanup();

// Keeps a path registered for removal on interrupt while it lives. Paths longer than 4095
// bytes, or beyond 64 at once, are not registered (the normal clean-up still removes them).
class InterruptCleanup {
public:
    InterruptCleanup(const std::string &path, bool directory);
    ~InterruptCleanup();
    InterruptCleanup(const InterruptCleanup &) = delete;
    InterruptCleanup &operator=(const InterruptCleanup &) = delete;

private:
    int m_slot;
};

// The child to stop with SIGTERM on interrupt (a plotting gnuplot); 0 for none.
void setInterruptChild(pid_t pid);

} // namespace tarn::render
