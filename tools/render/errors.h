// The errors tarn-render reports and the exit codes they map to. what() is ready to print.
#pragma once

#include <stdexcept>
#include <string>

namespace tarn::render {

// A patch that cannot be played: malformed JSON, a schema violation, a value out of range or
// notes that need more voices than the patch has. what() is one or more lines
// "FILE: /json/pointer: what was expected" (for malformed JSON, "FILE:LINE:COLUMN: ...").
class PatchError : public std::runtime_error {
public:
    explicit PatchError(const std::string &message) : std::runtime_error(message) {}
};

// The plug-in cannot be used: it does not load, creates no instance, or lacks a pin or a list
// choice that the patch needs.
class PluginError : public std::runtime_error {
public:
    explicit PluginError(const std::string &message) : std::runtime_error(message) {}
};

// An output that cannot be written: the sound file, a plot, or a temporary file beside them.
// what() names the path and the reason.
class OutputError : public std::runtime_error {
public:
    explicit OutputError(const std::string &message) : std::runtime_error(message) {}
};

} // namespace tarn::render
