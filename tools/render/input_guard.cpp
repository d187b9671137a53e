// Sameness by device and inode when both files exist, by spelling otherwise.
#include "tools/render/input_guard.h"

#include "tools/render/cli_options.h"

#include <sys/stat.h>

namespace tarn::render {

namespace {

bool sameFile(const std::string &x, const std::string &y) {
    struct stat a;
    struct stat b;
    if (::stat(x.c_str(), &a) == 0 && ::stat(y.c_str(), &b) == 0)
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    return x == y;
}

} // namespace

std::optional<std::string> overwriteProblem(const std::string &output,
                                            const std::vector<std::string> &inputs) {
    for (const std::string &input : inputs)
        if (!input.empty() && input != "-" && sameFile(output, input))
            return "refusing to write " + output + ": it is the input " + input;
    if (looksLikePatchName(output))
        return "refusing to write " + output + ": a name ending in .json is kept for patches";
    return std::nullopt;
}

} // namespace tarn::render
