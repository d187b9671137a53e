// The schema subset validator: each keyword on its boundary cases, the pointers of nested
// errors, the choice among failed alternatives, and refusal of schemas it cannot honour.
#include "tools/render/model/json_schema.h"

#include <gtest/gtest.h>

using nlohmann::json;
using tarn::render::JsonSchema;
using tarn::render::SchemaError;

namespace {

struct Case {
    const char *schema;
    const char *instance;
    const char *pointer; // nullptr: the instance is valid
    const char *message; // a part of the first error's message
};

std::string show(const std::vector<SchemaError> &errors) {
    std::string text;
    for (const auto &e : errors)
        text += "[" + e.pointer + "] " + e.message + "\n";
    return text;
}

class JsonSchemaCases : public testing::TestWithParam<Case> {};

TEST_P(JsonSchemaCases, ReportsTheFirstViolationWithItsPointer) {
    const Case &c = GetParam();
    JsonSchema schema(json::parse(c.schema));
    auto errors = schema.validate(json::parse(c.instance));
    if (c.pointer == nullptr) {
        EXPECT_TRUE(errors.empty()) << show(errors);
        return;
    }
    ASSERT_FALSE(errors.empty()) << c.instance << " should fail " << c.schema;
    EXPECT_EQ(errors[0].pointer, c.pointer) << show(errors);
    EXPECT_NE(errors[0].message.find(c.message), std::string::npos) << show(errors);
}

const Case CASES[] = {
    // Types: an integral float is an integer, an integer is a number.
    {R"({"type":"integer"})", "2.0", nullptr, ""},
    {R"({"type":"integer"})", "2.5", "", "expected an integer, got a number"},
    {R"({"type":"number"})", "7", nullptr, ""},
    {R"({"type":"number"})", "\"7\"", "", "expected a number, got a string"},
    {R"({"type":["string","null"]})", "null", nullptr, ""},
    {R"({"type":["string","null"]})", "true", "", "expected a string or null, got a boolean"},
    // Bounds: inclusive ones admit the bound, exclusive ones do not.
    {R"({"minimum":0})", "0", nullptr, ""},
    {R"({"minimum":0})", "-0.5", "", "at least 0, got -0.5"},
    {R"({"maximum":4})", "4.000001", "", "at most 4"},
    {R"({"exclusiveMinimum":0})", "0", "", "greater than 0"},
    {R"({"exclusiveMaximum":1})", "0.999", nullptr, ""},
    {R"({"exclusiveMaximum":1})", "1", "", "less than 1"},
    {R"({"minimum":0})", "\"text\"", nullptr, ""}, // bounds apply to numbers only
    // Enums compare by value across integer and float spellings, and keep types apart.
    {R"({"enum":[1,2,"1-Sided"]})", "2.0", nullptr, ""},
    {R"({"enum":[1,2,"1-Sided"]})", "\"1\"", "", "expected one of 1, 2, \"1-Sided\", got \"1\""},
    {R"({"const":"on"})", "\"off\"", "", "expected \"on\", got \"off\""},
    // Patterns search unless anchored; a description replaces the pattern in the message.
    {R"({"pattern":"b"})", "\"abc\"", nullptr, ""},
    {R"({"pattern":"^[A-G]$","description":"a letter"})", "\"H\"", "", "expected a letter"},
    {R"({"minLength":2})", "\"x\"", "", "at least 2 characters"},
    // Objects: the pointer names the field, escaped as JSON pointers require.
    {R"({"required":["start"],"properties":{"start":{"description":"seconds"}}})", "{}", "/start",
     "missing required field, expected seconds"},
    {R"({"properties":{"a/b":{"type":"string"}}})", R"({"a/b":1})", "/a~1b", "a string"},
    {R"({"properties":{"x":{}},"additionalProperties":false})", R"({"x":1,"y~":2})", "/y~0",
     "unknown field \"y~\"; known fields: x"},
    {R"({"additionalProperties":{"type":"number"}})", R"({"k":"v"})", "/k", "a number"},
    // Arrays: item errors carry their index.
    {R"({"items":{"type":"object","properties":{"n":{"maximum":3}}}})",
     R"([{"n":1},{"n":1},{"n":5}])", "/2/n", "at most 3"},
    {R"({"minItems":1})", "[]", "", "at least 1 items, got 0"},
    {R"({"maxItems":1})", "[1,2]", "", "at most 1 items, got 2"},
    // References resolve within the document, and siblings of $ref still apply.
    {R"({"$defs":{"p":{"type":"number"}},"properties":{"x":{"$ref":"#/$defs/p","minimum":1}}})",
     R"({"x":0})", "/x", "at least 1"},
    {R"({"$defs":{"p":{"type":"number"}},"properties":{"x":{"$ref":"#/$defs/p"}}})", R"({"x":"0"})",
     "/x", "a number, got a string"},
    {R"({"properties":{"x":false}})", R"({"x":0})", "/x", "no value is allowed"},
    // oneOf: exactly one; the alternative whose type fits reports its own error.
    {R"({"oneOf":[{"type":"number"},{"type":"string"}]})", "\"s\"", nullptr, ""},
    {R"({"oneOf":[{"type":"number","maximum":4},{"type":"string"}]})", "9", "", "at most 4, got 9"},
    {R"({"oneOf":[{"type":"number"},{"minimum":0}]})", "1", "", "ambiguous"},
    {R"({"anyOf":[{"type":"number"},{"minimum":0}]})", "1", nullptr, ""},
    // Two objects fit by type: the one without unknown or missing fields is meant.
    {R"({"oneOf":[
        {"type":"object","additionalProperties":false,"required":["hz"],
         "properties":{"hz":{"exclusiveMinimum":0}}},
        {"type":"object","additionalProperties":false,"required":["volts"],
         "properties":{"volts":{}}}]})",
     R"({"hz":-5})", "/hz", "greater than 0"},
    // Nothing fits: the alternatives are described, by their descriptions where present.
    {R"({"oneOf":[{"type":"string","description":"a note name"},{"type":"integer"}]})", "2.5", "",
     "expected a note name or an integer, got 2.5"},
    {R"({"description":"a pitch","oneOf":[{"type":"string"},{"type":"integer"}]})", "[]", "",
     "expected a pitch, got an array"},
};

INSTANTIATE_TEST_SUITE_P(Keywords, JsonSchemaCases, testing::ValuesIn(CASES));

TEST(JsonSchema, ReportsEveryViolationInDocumentOrder) {
    JsonSchema schema(json::parse(R"({"items":{"type":"number"}})"));
    auto errors = schema.validate(json::parse(R"([1,"a",2,null])"));
    ASSERT_EQ(errors.size(), 2u) << show(errors);
    EXPECT_EQ(errors[0].pointer, "/1");
    EXPECT_EQ(errors[1].pointer, "/3");
}

TEST(JsonSchema, RefusesSchemasItCannotHonour) {
    const std::pair<const char *, const char *> refused[] = {
        {R"({"properties":{"x":{"if":{}}}})", "/properties/x/if"},
        {R"({"patternProperties":{}})", "/patternProperties"},
        {R"({"type":"float"})", "/type"},
        {R"({"$ref":"#/$defs/missing"})", "/$ref"},
        {R"({"$ref":"other.json#/x"})", "/$ref"},
        {R"({"pattern":"("})", "/pattern"},
        {R"({"minimum":"0"})", "/minimum"},
        {R"({"oneOf":[]})", "/oneOf"},
        {R"({"$defs":{"d":{"format":"uri"}}})", "/$defs/d/format"},
    };
    for (const auto &[text, pointer] : refused) {
        try {
            JsonSchema schema(json::parse(text));
            ADD_FAILURE() << "accepted " << text;
        } catch (const std::invalid_argument &e) {
            EXPECT_NE(std::string(e.what()).find(pointer), std::string::npos)
                << text << " -> " << e.what();
        }
    }
}

} // namespace
