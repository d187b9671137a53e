// The plug-in cannot be used: it does not load, creates no instance, or lacks a pin or a list
// choice that the patch needs.
#pragma once

#include <stdexcept>
#include <string>

namespace tarn::render {

class PluginError : public std::runtime_error {
public:
    explicit PluginError(const std::string &message) : std::runtime_error(message) {}
};

} // namespace tarn::render
