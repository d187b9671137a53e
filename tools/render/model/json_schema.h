// A validator for the subset of JSON Schema (draft 2020-12) that the patch schema uses.
// A schema with any other keyword is refused when it is loaded, so a keyword that would be
// silently ignored can never weaken the check.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace tarn::render {

// One failed check: where in the document, and what was expected there.
struct SchemaError {
    std::string pointer; // JSON pointer into the validated document ("" is the root)
    std::string message; // "expected ..., got ..." or "unknown field ..."
};

// A document with more failed checks is reported by its first this many: past them a list
// only floods the terminal, and its size would grow with the document's (100 bytes of message
// for each 2-byte wrong item).
constexpr size_t MAX_SCHEMA_ERRORS = 100;

// Assertions: type, properties, required, additionalProperties (false or a schema), enum,
// const, minimum, maximum, exclusiveMinimum, exclusiveMaximum, minItems, maxItems, items,
// oneOf, anyOf, pattern, minLength and local $ref ("#/..."). Annotations that are accepted and
// ignored: $schema, $id, $defs, $comment, title, description, default, examples.
class JsonSchema {
public:
    // Throws std::invalid_argument naming the schema pointer of the first unsupported keyword,
    // malformed keyword value or unresolvable $ref.
    explicit JsonSchema(nlohmann::json schema);

    // Every failed check in document order, the first MAX_SCHEMA_ERRORS of them if there are
    // more; empty when the instance is valid.
    std::vector<SchemaError> validate(const nlohmann::json &instance) const;

private:
    void checkSchema(const nlohmann::json &schema, const std::string &schemaPointer) const;
    void check(const nlohmann::json &schema, const nlohmann::json &instance,
               const std::string &pointer, std::vector<SchemaError> &errors) const;
    void checkAlternatives(const nlohmann::json &schema, const char *keyword,
                           const nlohmann::json &instance, const std::string &pointer,
                           std::vector<SchemaError> &errors) const;
    bool typeFits(const nlohmann::json &schema, const nlohmann::json &instance) const;
    const nlohmann::json &resolve(const std::string &ref) const;
    std::string describe(const nlohmann::json &schema) const;

    nlohmann::json m_root;
};

// "/a~1b/0" for the key "a/b" then index 0: escapes ~ and / as JSON pointers require.
std::string appendPointer(const std::string &pointer, const std::string &key);

// "a string", "an integer", "an object", ... for messages.
std::string jsonKind(const nlohmann::json &value);

} // namespace tarn::render
