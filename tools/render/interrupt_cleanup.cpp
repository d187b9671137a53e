// Slots are claimed and freed by the main thread only; a slot's path is written before it is
// marked in use, so the handler never reads a half-written path.
#include "tools/render/interrupt_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace tarn::render {

namespace {

constexpr int SLOT_COUNT = 64;
constexpr size_t PATH_BYTES = 4096;
constexpr int FREE = 0;
constexpr int FILE_PATH = 1;
constexpr int DIRECTORY_PATH = 2;

struct Slot {
    std::atomic<int> kind{FREE};
    char path[PATH_BYTES];
};

Slot g_slots[SLOT_COUNT];
std::atomic<pid_t> g_child{0};

void removeAll(int kind) {
    for (Slot &slot : g_slots)
        if (slot.kind.load() == kind)
            kind == FILE_PATH ? ::unlink(slot.path) : ::rmdir(slot.path);
}

extern "C" void onInterrupt(int signal) {
    if (pid_t child = g_child.load())
        ::kill(child, SIGTERM);
    removeAll(FILE_PATH);
    removeAll(DIRECTORY_PATH);
    const char message[] = "\ntarn-render: interrupted; the unfinished files are removed\n";
    ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    ::_exit(128 + signal);
}

} // namespace

void installInterruptCleanup() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigfillset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

InterruptCleanup::InterruptCleanup(const std::string &path, bool directory) : m_slot(-1) {
    if (path.size() >= PATH_BYTES)
        return;
    for (int i = 0; i < SLOT_COUNT; ++i) {
        if (g_slots[i].kind.load() != FREE)
            continue;
        std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
        g_slots[i].kind.store(directory ? DIRECTORY_PATH : FILE_PATH);
        m_slot = i;
        return;
    }
}

InterruptCleanup::~InterruptCleanup() {
    if (m_slot >= 0)
        g_slots[m_slot].kind.store(FREE);
}

void setInterruptChild(pid_t pid) {
    g_child.store(pid);
}

} // namespace tarn::render
