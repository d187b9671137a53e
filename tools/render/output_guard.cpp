// Files are compared by device and inode once links are followed; a name that exists nowhere
// yet is compared by its directory's real path and its own name.
#include "tools/render/output_guard.h"

#include "tools/render/sound_writer.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <utility>

namespace tarn::render {

namespace {

bool startsWith(const std::string &bytes, size_t at, const char *text) {
    return bytes.compare(at, std::strlen(text), text) == 0;
}

// The signatures of each container tarn-render writes.
bool holdsSoundOf(Container container, const std::string &b) {
    switch (container) {
    case Container::FLAC:
        return startsWith(b, 0, "fLaC") || startsWith(b, 0, "ID3");
    case Container::OGG_VORBIS:
    case Container::OPUS:
        return startsWith(b, 0, "OggS");
    case Container::MP3:
        return startsWith(b, 0, "ID3") ||
               (b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFF &&
                (static_cast<unsigned char>(b[1]) & 0xE0) == 0xE0);
    case Container::AIFF:
        return startsWith(b, 0, "FORM") && (startsWith(b, 8, "AIFF") || startsWith(b, 8, "AIFC"));
    case Container::CAF:
        return startsWith(b, 0, "caff");
    case Container::W64:
        return startsWith(b, 0, "riff\x2e\x91\xcf\x11");
    case Container::WAV:
        break;
    }
    return (startsWith(b, 0, "RIFF") || startsWith(b, 0, "RF64") || startsWith(b, 0, "BW64")) &&
           startsWith(b, 8, "WAVE");
}

Container containerOf(const std::string &path) {
    return containerForPath(path).value_or(Container::WAV);
}

std::string kindName(const std::string &path, OutputKind kind) {
    if (kind == OutputKind::PNG)
        return "a PNG image";
    const Container container = containerOf(path);
    if (container == Container::WAV)
        return "WAV data (a RIFF or RF64 file)";
    return std::string(containerName(container)) + " data";
}

std::string directoryOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file the path names, links followed, or a problem: a link to nothing, a loop.
std::optional<std::string> followLinks(const PlannedOutput &output, std::string &target) {
    struct stat info;
    target = output.path;
    if (::lstat(output.path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return std::nullopt;
    char resolved[PATH_MAX];
    if (::realpath(output.path.c_str(), resolved)) {
        target = resolved;
        return std::nullopt;
    }
    return "refusing to write " + output.path + ": it is a symbolic link that names no file (" +
           std::strerror(errno) + ")";
}

// One identity per file: "dev:ino" when it exists, else its directory's real path and name.
std::string identityOf(const std::string &target) {
    struct stat info;
    if (::stat(target.c_str(), &info) == 0)
        return "inode " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    char directory[PATH_MAX];
    if (::realpath(directoryOf(target).c_str(), directory))
        return std::string("path ") + directory + "/" + nameOf(target);
    return "path " + target;
}

std::optional<std::string> replacementProblem(const PlannedOutput &output, bool force) {
    const std::string &target = *output.target;
    struct stat info;
    if (::stat(target.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        return std::nullopt; // a new file; a directory is reported when it is opened
    if (!S_ISREG(info.st_mode))
        return "refusing to write " + output.path +
               ": it is not a regular file (a device, a pipe or a socket); - writes to "
               "standard output and --null writes nothing";
    if (force)
        return std::nullopt;
    std::ifstream in(target, std::ios::binary);
    char bytes[16] = {};
    in.read(bytes, sizeof bytes);
    if (!in && !in.eof())
        return "refusing to replace " + output.path + ": it cannot be read to see what it holds (" +
               std::strerror(errno) + "); --force replaces it";
    const std::string first(bytes, static_cast<size_t>(in.gcount()));
    if (holdsKindOf(output.path, output.kind, first))
        return std::nullopt;
    return "refusing to replace " + output.path + ": it exists and does not hold " +
           kindName(output.path, output.kind) + "; --force replaces it";
}

} // namespace

bool holdsKindOf(const std::string &path, OutputKind kind, const std::string &firstBytes) {
    if (kind == OutputKind::PNG)
        return startsWith(firstBytes, 0, "\x89PNG\r\n\x1a\n");
    return holdsSoundOf(containerOf(path), firstBytes);
}

std::optional<std::string> checkOutputs(std::vector<PlannedOutput> &outputs,
                                        const std::vector<std::string> &inputs, bool force) {
    std::vector<std::pair<std::string, std::string>> inputIdentities; // identity, name
    for (const std::string &input : inputs)
        if (!input.empty() && input != "-")
            inputIdentities.emplace_back(identityOf(input), input);
    std::vector<std::string> seen;
    for (size_t i = 0; i < outputs.size(); ++i) {
        PlannedOutput &output = outputs[i];
        if (output.path == "-") {
            *output.target = output.path;
            if (output.kind != OutputKind::SOUND)
                return std::string("refusing to write ") + output.role +
                       " to standard output (-): plots are written to files";
            seen.push_back("standard output");
            continue;
        }
        if (auto problem = followLinks(output, *output.target))
            return problem;
        const std::string identity = identityOf(*output.target);
        for (const auto &[inputIdentity, input] : inputIdentities)
            if (identity == inputIdentity)
                return "refusing to write " + output.path + ": it is the input " + input;
        for (size_t j = 0; j < seen.size(); ++j)
            if (identity == seen[j])
                return "refusing to write " + output.path + " twice: it is named as " +
                       outputs[j].role + " and as " + output.role;
        seen.push_back(identity);
        if (auto problem = replacementProblem(output, force))
            return problem;
    }
    return std::nullopt;
}

} // namespace tarn::render
