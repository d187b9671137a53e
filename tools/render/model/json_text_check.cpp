// A bracket scan for the depth, then one SAX pass that keeps, for each open object or array,
// the keys seen and the next index; a pointer is spelt out only for the problem it names.
#include "tools/render/model/json_text_check.h"

#include "tools/render/model/json_schema.h"

#include <nlohmann/json.hpp>

#include <set>
#include <vector>

namespace tarn::render {

namespace {

using nlohmann::json;

constexpr int NUMBER_OVERFLOW_ID = 406;  // nlohmann's out_of_range id for 1e400
constexpr size_t TOKEN_SHOWN_CHARS = 40; // of a number in a message

// Where the text first opens a container deeper than MAX_JSON_DEPTH, skipping strings.
std::optional<size_t> tooDeepAt(const std::string &text) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > MAX_JSON_DEPTH)
                return i;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return std::nullopt;
}

class TextChecker : public json::json_sax_t {
public:
    std::optional<JsonTextProblem> found;

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t &) override { return value(); }
    bool string(string_t &) override { return value(); }
    bool binary(binary_t &) override { return value(); }
    bool start_object(std::size_t) override { return open(false); }
    bool start_array(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t &name) override {
        Frame &frame = m_frames.back();
        frame.key = name;
        if (!frame.keys.insert(name).second) {
            found = JsonTextProblem{true, here(), 0, "expected each key once, got it twice"};
            return false;
        }
        return true;
    }
    bool parse_error(std::size_t position, const std::string &token,
                     const nlohmann::detail::exception &error) override {
        if (error.id == NUMBER_OVERFLOW_ID) {
            std::string shown = token.size() <= TOKEN_SHOWN_CHARS
                                    ? token
                                    : token.substr(0, TOKEN_SHOWN_CHARS) + "...";
            found = JsonTextProblem{true, here(), 0,
                                    "expected a number of magnitude below 1.8e308, got " + shown};
            return false;
        }
        // position counts from 1 and points at the character that could not be read.
        const std::string what = error.what();
        const size_t colon = what.find(": ");
        found = JsonTextProblem{false, "", position > 0 ? position - 1 : 0,
                                "malformed JSON: " +
                                    (colon == std::string::npos ? what : what.substr(colon + 2))};
        return false;
    }

private:
    struct Frame {
        bool array;
        size_t index = 0;
        std::string key;
        std::set<std::string> keys;
    };

    // The pointer of the value about to be read.
    std::string here() const {
        std::string pointer;
        for (const Frame &frame : m_frames)
            pointer = frame.array ? pointer + "/" + std::to_string(frame.index)
                                  : appendPointer(pointer, frame.key);
        return pointer;
    }
    bool value() {
        if (!m_frames.empty() && m_frames.back().array)
            ++m_frames.back().index;
        return true;
    }
    bool open(bool array) {
        m_frames.push_back({array, 0, "", {}});
        return true;
    }
    bool close() {
        m_frames.pop_back();
        return value();
    }

    std::vector<Frame> m_frames;
};

} // namespace

std::optional<JsonTextProblem> checkJsonText(const std::string &text) {
    if (std::optional<size_t> at = tooDeepAt(text))
        return JsonTextProblem{false, "", *at,
                               "expected arrays and objects nested at most " +
                                   std::to_string(MAX_JSON_DEPTH) + " levels deep, got a " +
                                   std::to_string(MAX_JSON_DEPTH + 1) + "th level"};
    TextChecker checker;
    json::sax_parse(text, &checker);
    return checker.found;
}

} // namespace tarn::render
