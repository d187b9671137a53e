// The size is bounded while reading, so a pipe or a device counts as well as a plain file.
#include "tools/render/input_file.h"

#include "tools/render/errors.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sys/stat.h>

namespace tarn::render {

namespace {

std::string readAtMost(std::istream &in, const std::string &name, const char *kind) {
    std::string text;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > MAX_INPUT_BYTES)
            throw PatchError(name + ": expected " + kind + " of at most 64 MiB, got more");
    }
    if (in.bad())
        throw PatchError(name + ": cannot read: " + std::strerror(errno));
    return text;
}

} // namespace

std::string readInputFile(const std::string &path, const char *kind) {
    if (path == "-")
        return readAtMost(std::cin, "standard input", kind);
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        throw PatchError(path + ": cannot read: " + std::strerror(errno));
    if (S_ISDIR(status.st_mode))
        throw PatchError(path + ": cannot read: it is a directory, expected " + kind);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw PatchError(path + ": cannot read: " + std::strerror(errno));
    return readAtMost(in, path, kind);
}

} // namespace tarn::render
