// A SAX pass that keeps, for each open object or array, the keys seen and the next index.
#include "tools/render/model/json_duplicates.h"

#include "tools/render/model/json_schema.h"

#include <nlohmann/json.hpp>

#include <set>
#include <vector>

namespace tarn::render {

namespace {

using nlohmann::json;

class DuplicateFinder : public json::json_sax_t {
public:
    std::optional<std::string> found;

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
            found = appendPointer(frame.pointer, name);
            return false; // stop at the first
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string &,
                     const nlohmann::detail::exception &) override {
        return false;
    }

private:
    struct Frame {
        std::string pointer;
        bool array;
        size_t index = 0;
        std::string key;
        std::set<std::string> keys;
    };

    // The pointer of the value about to be read, in the innermost container.
    std::string here() const {
        if (m_frames.empty())
            return "";
        const Frame &frame = m_frames.back();
        return frame.array ? frame.pointer + "/" + std::to_string(frame.index)
                           : appendPointer(frame.pointer, frame.key);
    }
    bool value() {
        if (!m_frames.empty() && m_frames.back().array)
            ++m_frames.back().index;
        return true;
    }
    bool open(bool array) {
        std::string pointer = here();
        m_frames.push_back({pointer, array, 0, "", {}});
        return true;
    }
    bool close() {
        m_frames.pop_back();
        return value();
    }

    std::vector<Frame> m_frames;
};

} // namespace

std::optional<std::string> findDuplicateKey(const std::string &text) {
    DuplicateFinder finder;
    json::sax_parse(text, &finder);
    return finder.found;
}

} // namespace tarn::render
