// An output that cannot be written: the WAV file, a plot, or a temporary file beside them.
#pragma once

#include <stdexcept>
#include <string>

namespace tarn::render {

// what() names the path and the reason, ready to print.
class OutputError : public std::runtime_error {
public:
    explicit OutputError(const std::string &message) : std::runtime_error(message) {}
};

} // namespace tarn::render
