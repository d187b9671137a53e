// mkstemp beside the target, so that the final rename stays within one file system.
#include "tools/render/pending_file.h"

#include "tools/render/errors.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarn::render {

namespace {

std::string reason() {
    return std::strerror(errno);
}

} // namespace

PendingFile::PendingFile(const std::string &target) : m_target(target) {
    struct stat info;
    if (::stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        throw OutputError("cannot write " + target + ": it is a directory");
    size_t slash = target.rfind('/');
    std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty())
        throw OutputError("cannot write " + target + ": no file name");
    std::string pattern = directory + "." + name + ".XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    // No interrupt between creating the file and registering it for removal.
    sigset_t interrupts;
    sigset_t previous;
    sigemptyset(&interrupts);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&interrupts, signal);
    ::sigprocmask(SIG_BLOCK, &interrupts, &previous);
    m_fd = ::mkstemp(path.data());
    const int error = errno;
    if (m_fd >= 0) {
        m_temporary = path.data();
        m_cleanup = std::make_unique<InterruptCleanup>(m_temporary, false);
    }
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (m_fd < 0)
        throw OutputError("cannot write " + target + ": " + std::strerror(error));
    // mkstemp creates 0600; the finished file gets the permissions any new file would get.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(m_fd, 0666 & ~mask);
}

PendingFile::~PendingFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed)
        ::unlink(m_temporary.c_str());
}

void PendingFile::commit() {
    if (m_fd >= 0) {
        int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            throw OutputError("cannot write " + m_target + ": " + reason());
    }
    if (std::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        throw OutputError("cannot write " + m_target + ": " + reason());
    m_committed = true;
    m_cleanup.reset();
}

} // namespace tarn::render
