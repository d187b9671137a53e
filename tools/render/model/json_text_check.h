// The checks a JSON text passes before it becomes a document: syntax, nesting depth, numbers
// a double can hold, and keys given once. nlohmann::json keeps the last of two equal keys
// without a word and aborts on 1e400, so these are found on the text, in one linear pass.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tarn::render {

// Deeper than any patch needs (the patch format nests 4 levels); refusing here keeps the
// reading of a hostile text linear in its length.
constexpr int MAX_JSON_DEPTH = 64;

// The first problem of a JSON text, in reading order.
struct JsonTextProblem {
    bool atPointer = false; // true: `pointer` names the value; false: `byte` is where it is
    std::string pointer;    // JSON pointer of the offending value or key ("/score/2/N")
    size_t byte = 0;        // offset from 0 of the character where reading stopped
    std::string message;    // "malformed JSON: ...", "expected ..., got ..."
};

// Empty when the text is well-formed, at most MAX_JSON_DEPTH deep, every number is finite as
// a double and no object repeats a key. Memory stays within a small multiple of the text.
std::optional<JsonTextProblem> checkJsonText(const std::string &text);

} // namespace tarn::render
