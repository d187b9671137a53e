// JSON Schema subset validator. Messages name what was expected in the words of the schema:
// a subschema's "description" stands for it wherever an alternative or a pattern fails.
#include "tools/render/model/json_schema.h"

#include <algorithm>
#include <cmath>
#include <regex>
#include <set>
#include <stdexcept>

namespace tarn::render {

using nlohmann::json;

namespace {

const std::set<std::string> ASSERTIONS = {"type",
                                          "properties",
                                          "required",
                                          "additionalProperties",
                                          "enum",
                                          "const",
                                          "minimum",
                                          "maximum",
                                          "exclusiveMinimum",
                                          "exclusiveMaximum",
                                          "minItems",
                                          "maxItems",
                                          "items",
                                          "oneOf",
                                          "anyOf",
                                          "pattern",
                                          "minLength",
                                          "$ref"};
const std::set<std::string> ANNOTATIONS = {"$schema", "$id",     "$defs",    "$comment",
                                           "title",   "default", "examples", "description"};
const std::set<std::string> TYPES = {"object",  "array",   "string", "number",
                                     "integer", "boolean", "null"};

bool hasType(const json &value, const std::string &type) {
    if (type == "object")
        return value.is_object();
    if (type == "array")
        return value.is_array();
    if (type == "string")
        return value.is_string();
    if (type == "boolean")
        return value.is_boolean();
    if (type == "null")
        return value.is_null();
    if (type == "number")
        return value.is_number();
    // JSON Schema counts 2.0 as an integer: the test is on the value, not the spelling.
    if (value.is_number_integer())
        return true;
    if (!value.is_number_float())
        return false;
    double x = value.get<double>();
    return std::isfinite(x) && std::floor(x) == x;
}

std::string typePhrase(const std::string &type) {
    if (type == "object" || type == "array" || type == "integer")
        return "an " + type;
    if (type == "null")
        return "null";
    return "a " + type;
}

std::string typesPhrase(const json &type) {
    if (type.is_string())
        return typePhrase(type.get<std::string>());
    std::string phrase;
    for (size_t i = 0; i < type.size(); ++i)
        phrase += (i == 0 ? "" : " or ") + typePhrase(type[i].get<std::string>());
    return phrase;
}

// The value itself for scalars (cut to 40 characters), its kind for containers.
std::string got(const json &value) {
    if (value.is_object() || value.is_array())
        return jsonKind(value);
    std::string text = value.dump();
    return text.size() > 40 ? text.substr(0, 37) + "..." : text;
}

std::string formatNumber(const json &value) {
    return value.dump();
}

bool isStructural(const SchemaError &error) {
    return error.message.rfind("unknown field", 0) == 0 ||
           error.message.rfind("missing required field", 0) == 0;
}

[[noreturn]] void refuse(const std::string &schemaPointer, const std::string &what) {
    throw std::invalid_argument("schema " + (schemaPointer.empty() ? "/" : schemaPointer) + ": " +
                                what);
}

} // namespace

std::string appendPointer(const std::string &pointer, const std::string &key) {
    std::string escaped;
    for (char c : key) {
        if (c == '~')
            escaped += "~0";
        else if (c == '/')
            escaped += "~1";
        else
            escaped += c;
    }
    return pointer + "/" + escaped;
}

std::string jsonKind(const json &value) {
    switch (value.type()) {
    case json::value_t::object:
        return "an object";
    case json::value_t::array:
        return "an array";
    case json::value_t::string:
        return "a string";
    case json::value_t::boolean:
        return "a boolean";
    case json::value_t::null:
        return "null";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
        return "an integer";
    default:
        return "a number";
    }
}

JsonSchema::JsonSchema(json schema) : m_root(std::move(schema)) {
    checkSchema(m_root, "");
}

void JsonSchema::checkSchema(const json &schema, const std::string &at) const {
    if (schema.is_boolean())
        return;
    if (!schema.is_object())
        refuse(at, "a schema must be an object or a boolean");
    for (const auto &[key, value] : schema.items()) {
        std::string here = appendPointer(at, key);
        if (ANNOTATIONS.count(key)) {
            if (key == "$defs")
                for (const auto &[name, sub] : value.items())
                    checkSchema(sub, appendPointer(here, name));
            continue;
        }
        if (!ASSERTIONS.count(key))
            refuse(here, "unsupported keyword");
        if (key == "type") {
            json types = value.is_array() ? value : json::array({value});
            for (const auto &t : types)
                if (!t.is_string() || !TYPES.count(t.get<std::string>()))
                    refuse(here, "unknown type " + t.dump());
        } else if (key == "properties") {
            for (const auto &[name, sub] : value.items())
                checkSchema(sub, appendPointer(here, name));
        } else if (key == "required" || key == "enum") {
            if (!value.is_array())
                refuse(here, "must be an array");
        } else if (key == "additionalProperties" || key == "items") {
            checkSchema(value, here);
        } else if (key == "oneOf" || key == "anyOf") {
            if (!value.is_array() || value.empty())
                refuse(here, "must be a non-empty array of schemas");
            for (size_t i = 0; i < value.size(); ++i)
                checkSchema(value[i], appendPointer(here, std::to_string(i)));
        } else if (key == "pattern") {
            if (!value.is_string())
                refuse(here, "must be a string");
            try {
                std::regex re(value.get<std::string>(), std::regex::ECMAScript);
            } catch (const std::regex_error &) {
                refuse(here, "not a valid regular expression");
            }
        } else if (key == "$ref") {
            if (!value.is_string())
                refuse(here, "must be a string");
            try {
                resolve(value.get<std::string>());
            } catch (const std::exception &) {
                refuse(here, "cannot resolve " + value.dump());
            }
        } else if (key != "const" && !value.is_number()) {
            refuse(here, "must be a number");
        }
    }
}

bool JsonSchema::typeFits(const json &schema, const json &instance) const {
    if (!schema.is_object())
        return schema == true;
    if (schema.contains("$ref") && !typeFits(resolve(schema["$ref"].get<std::string>()), instance))
        return false;
    if (!schema.contains("type"))
        return true;
    const json &type = schema["type"];
    json types = type.is_array() ? type : json::array({type});
    for (const auto &t : types)
        if (hasType(instance, t.get<std::string>()))
            return true;
    return false;
}

const json &JsonSchema::resolve(const std::string &ref) const {
    if (ref.empty() || ref[0] != '#')
        throw std::invalid_argument("only local references are supported");
    return m_root.at(json::json_pointer(ref.substr(1)));
}

std::vector<SchemaError> JsonSchema::validate(const json &instance) const {
    std::vector<SchemaError> errors;
    check(m_root, instance, "", errors);
    if (errors.size() > MAX_SCHEMA_ERRORS)
        errors.resize(MAX_SCHEMA_ERRORS);
    return errors;
}

std::string JsonSchema::describe(const json &schema) const {
    if (!schema.is_object())
        return schema == true ? "anything" : "nothing";
    if (schema.contains("description"))
        return schema["description"].get<std::string>();
    if (schema.contains("$ref"))
        return describe(resolve(schema["$ref"].get<std::string>()));
    if (schema.contains("const"))
        return schema["const"].dump();
    if (schema.contains("enum")) {
        std::string phrase = "one of ";
        for (size_t i = 0; i < schema["enum"].size(); ++i)
            phrase += (i == 0 ? "" : ", ") + schema["enum"][i].dump();
        return phrase;
    }
    for (const char *keyword : {"oneOf", "anyOf"}) {
        if (!schema.contains(keyword))
            continue;
        std::string phrase;
        for (size_t i = 0; i < schema[keyword].size(); ++i)
            phrase += (i == 0 ? "" : " or ") + describe(schema[keyword][i]);
        return phrase;
    }
    if (schema.contains("type"))
        return typesPhrase(schema["type"]);
    return "a valid value";
}

void JsonSchema::check(const json &schema, const json &instance, const std::string &pointer,
                       std::vector<SchemaError> &errors) const {
    if (schema.is_boolean()) {
        if (!schema.get<bool>())
            errors.push_back({pointer, "no value is allowed here"});
        return;
    }
    if (schema.contains("$ref"))
        check(resolve(schema["$ref"].get<std::string>()), instance, pointer, errors);
    if (schema.contains("type")) {
        const json &type = schema["type"];
        json types = type.is_array() ? type : json::array({type});
        bool matched = false;
        for (const auto &t : types)
            matched = matched || hasType(instance, t.get<std::string>());
        if (!matched) {
            // The other assertions would only repeat the mismatch.
            errors.push_back(
                {pointer, "expected " + typesPhrase(type) + ", got " + jsonKind(instance)});
            return;
        }
    }
    if (schema.contains("const") && instance != schema["const"])
        errors.push_back(
            {pointer, "expected " + schema["const"].dump() + ", got " + got(instance)});
    if (schema.contains("enum")) {
        bool found = false;
        for (const auto &option : schema["enum"])
            found = found || option == instance;
        if (!found)
            errors.push_back({pointer, "expected " + describe(json{{"enum", schema["enum"]}}) +
                                           ", got " + got(instance)});
    }
    if (instance.is_number()) {
        double x = instance.get<double>();
        auto bound = [&](const char *keyword, bool violated, const char *phrase) {
            if (violated)
                errors.push_back({pointer, std::string("expected a value ") + phrase + " " +
                                               formatNumber(schema[keyword]) + ", got " +
                                               got(instance)});
        };
        if (schema.contains("minimum"))
            bound("minimum", x < schema["minimum"].get<double>(), "of at least");
        if (schema.contains("maximum"))
            bound("maximum", x > schema["maximum"].get<double>(), "of at most");
        if (schema.contains("exclusiveMinimum"))
            bound("exclusiveMinimum", x <= schema["exclusiveMinimum"].get<double>(),
                  "greater than");
        if (schema.contains("exclusiveMaximum"))
            bound("exclusiveMaximum", x >= schema["exclusiveMaximum"].get<double>(), "less than");
    }
    if (instance.is_string()) {
        const std::string &text = instance.get_ref<const std::string &>();
        if (schema.contains("minLength") && text.size() < schema["minLength"].get<double>())
            errors.push_back({pointer, "expected at least " + schema["minLength"].dump() +
                                           " characters, got " + got(instance)});
        if (schema.contains("pattern")) {
            std::regex re(schema["pattern"].get<std::string>(), std::regex::ECMAScript);
            if (!std::regex_search(text, re)) {
                std::string expected = schema.contains("description")
                                           ? schema["description"].get<std::string>()
                                           : "a string matching " + schema["pattern"].dump();
                errors.push_back({pointer, "expected " + expected + ", got " + got(instance)});
            }
        }
    }
    if (instance.is_array()) {
        double count = static_cast<double>(instance.size());
        if (schema.contains("minItems") && count < schema["minItems"].get<double>())
            errors.push_back({pointer, "expected at least " + schema["minItems"].dump() +
                                           " items, got " + std::to_string(instance.size())});
        if (schema.contains("maxItems") && count > schema["maxItems"].get<double>())
            errors.push_back({pointer, "expected at most " + schema["maxItems"].dump() +
                                           " items, got " + std::to_string(instance.size())});
        if (schema.contains("items"))
            for (size_t i = 0; i < instance.size() && errors.size() < MAX_SCHEMA_ERRORS; ++i)
                check(schema["items"], instance[i], appendPointer(pointer, std::to_string(i)),
                      errors);
    }
    if (instance.is_object()) {
        static const json NO_PROPERTIES = json::object();
        const json &properties =
            schema.contains("properties") ? schema["properties"] : NO_PROPERTIES;
        if (schema.contains("required"))
            for (const auto &name : schema["required"]) {
                const std::string &key = name.get_ref<const std::string &>();
                if (!instance.contains(key)) {
                    std::string message = "missing required field";
                    if (properties.contains(key))
                        message += ", expected " + describe(properties[key]);
                    errors.push_back({appendPointer(pointer, key), message});
                }
            }
        for (const auto &[key, value] : instance.items()) {
            if (errors.size() >= MAX_SCHEMA_ERRORS)
                break;
            std::string here = appendPointer(pointer, key);
            if (properties.contains(key)) {
                check(properties[key], value, here, errors);
            } else if (schema.contains("additionalProperties")) {
                const json &extra = schema["additionalProperties"];
                if (extra == false) {
                    std::string known;
                    for (const auto &[name, unused] : properties.items())
                        known += (known.empty() ? "" : ", ") + name;
                    errors.push_back({here, "unknown field \"" + key + "\"" +
                                                (known.empty() ? "" : "; known fields: " + known)});
                } else {
                    check(extra, value, here, errors);
                }
            }
        }
    }
    if (schema.contains("oneOf"))
        checkAlternatives(schema, "oneOf", instance, pointer, errors);
    if (schema.contains("anyOf"))
        checkAlternatives(schema, "anyOf", instance, pointer, errors);
}

void JsonSchema::checkAlternatives(const json &schema, const char *keyword, const json &instance,
                                   const std::string &pointer,
                                   std::vector<SchemaError> &errors) const {
    const json &alternatives = schema[keyword];
    std::vector<std::vector<SchemaError>> failures(alternatives.size());
    size_t matches = 0;
    for (size_t i = 0; i < alternatives.size(); ++i) {
        check(alternatives[i], instance, pointer, failures[i]);
        matches += failures[i].empty() ? 1 : 0;
    }
    if (matches == 1 || (matches > 1 && std::string(keyword) == "anyOf"))
        return;
    if (matches > 1) {
        errors.push_back({pointer, "ambiguous: matches more than one of " + describe(schema)});
        return;
    }
    // The alternative the author meant is the only one whose type fits, or else the only one
    // whose type fits and whose fields are the expected ones (no unknown or missing field).
    // Its own errors are more precise than "expected one of ...".
    std::vector<size_t> typed;
    std::vector<size_t> shaped;
    for (size_t i = 0; i < alternatives.size(); ++i) {
        if (!typeFits(alternatives[i], instance))
            continue;
        typed.push_back(i);
        if (std::none_of(failures[i].begin(), failures[i].end(), isStructural))
            shaped.push_back(i);
    }
    const std::vector<size_t> &meant = typed.size() == 1 ? typed : shaped;
    if (meant.size() == 1) {
        errors.insert(errors.end(), failures[meant[0]].begin(), failures[meant[0]].end());
        return;
    }
    errors.push_back({pointer, "expected " + describe(schema) + ", got " + got(instance)});
}

} // namespace tarn::render
