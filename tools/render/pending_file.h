// A file written under a temporary name in the target's directory and renamed over the target
// only when complete, so that a failed run never leaves a partial file behind.
// While it exists, the temporary file is also removed when the run is interrupted.
#pragma once

#include "tools/render/interrupt_cleanup.h"

#include <memory>
#include <string>

namespace tarn::render {

class PendingFile {
public:
    // Creates the temporary file ".NAME.XXXXXX" beside `target` (mode 0666 less the umask).
    // Throws OutputError when the target is a directory or the directory is not writable.
    explicit PendingFile(const std::string &target);
    // Removes the temporary file unless commit() succeeded.
    ~PendingFile();
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    const std::string &target() const { return m_target; }
    const std::string &temporaryPath() const { return m_temporary; }
    // An open descriptor of the temporary file; the caller may hand it to a library that
    // closes it (releaseDescriptor) or leave it to this object.
    int descriptor() const { return m_fd; }
    void releaseDescriptor() { m_fd = -1; }

    // Renames the temporary file over the target. Throws OutputError on failure (the
    // temporary file is then removed by the destructor).
    void commit();

private:
    std::string m_target;
    std::string m_temporary;
    int m_fd = -1;
    bool m_committed = false;
    std::unique_ptr<InterruptCleanup> m_cleanup;
};

} // namespace tarn::render
