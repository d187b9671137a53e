// statvfs of the target's directory: the blocks available to an unprivileged user.
#include "tools/render/output_space.h"

#include <sstream>
#include <sys/statvfs.h>

namespace tarn::render {

std::string gigabytes(int64_t bytes) {
    std::ostringstream text;
    text.precision(3);
    text << static_cast<double>(bytes) / 1e9 << " GB";
    return text.str();
}

std::optional<std::string> spaceProblem(const std::string &path, int64_t bytes) {
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct statvfs info;
    if (::statvfs(directory.c_str(), &info) != 0)
        return std::nullopt;
    const double room = static_cast<double>(info.f_bavail) * static_cast<double>(info.f_frsize);
    if (static_cast<double>(bytes) <= room)
        return std::nullopt;
    return "cannot write " + path + ": it needs " + gigabytes(bytes) + " and its file system has " +
           gigabytes(static_cast<int64_t>(room)) + " free";
}

} // namespace tarn::render
