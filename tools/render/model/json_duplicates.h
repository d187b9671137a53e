// Duplicate keys in a JSON text. nlohmann::json keeps the last of two equal keys without a
// word, so a patch that sets "N" twice would play the second silently; the patch reader
// refuses it instead, naming where.
#pragma once

#include <optional>
#include <string>

namespace tarn::render {

// The JSON pointer of the first key that repeats one of its object ("/score/2/N"), or empty
// when there is none. The text must be well-formed JSON (a malformed text gives empty).
std::optional<std::string> findDuplicateKey(const std::string &text);

} // namespace tarn::render
