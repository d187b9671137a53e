// The one error type for a patch that cannot be played: malformed JSON, a schema violation, a
// value out of range or notes that need more voices than the patch has.
#pragma once

#include <stdexcept>
#include <string>

namespace tarn::render {

// what() is one or more lines "FILE: /json/pointer: what was expected" (for malformed JSON,
// "FILE:LINE:COLUMN: ..."), ready to print.
class PatchError : public std::runtime_error {
public:
    explicit PatchError(const std::string &message) : std::runtime_error(message) {}
};

} // namespace tarn::render
