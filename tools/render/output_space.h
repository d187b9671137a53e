// Whether a file of a given size fits on the file system of its target, checked before a
// render starts, so that an hour-long render does not fail at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarn::render {

// "5.53 GB": decimal gigabytes, three significant digits.
std::string gigabytes(int64_t bytes);

// Why `bytes` cannot be written beside `path` (the free space falls short), or empty when they
// fit or the directory cannot be examined (writing it then reports why).
std::optional<std::string> spaceProblem(const std::string &path, int64_t bytes);

} // namespace tarn::render
