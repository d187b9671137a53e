// The five list settings of the oscillator and their list texts ("label=value,..."), as the
// plug-in describes them. A patch names a setting's choice by label or by value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarn::render {

struct ListItem {
    std::string label; // text before '='
    int16_t value;     // number after '=': what the host stores in the pin's member
};

// Splits a list text at ',' and each item at its last '='. Items without '=' or with a value
// that is not a 16-bit integer are skipped.
std::vector<ListItem> parseListText(const std::string &text);

struct ListSetting {
    const char *name;     // pin name: "Mode", "cyclic", "hq", "poly", "alternate"
    const char *listText; // the pin's list text
    int16_t defaultValue; // the pin's default
    int16_t patchDefault; // where a patch gives none: the pin's default, but for "alternate",
                          // which plays a lone note on both outputs ("L+R", not "L+R alt")
};

constexpr int LIST_SETTING_COUNT = 5;
constexpr int SETTING_MODE = 0;
constexpr int SETTING_CYCLIC = 1;
constexpr int SETTING_HQ = 2;
constexpr int SETTING_POLY = 3;
constexpr int SETTING_ALTERNATE = 4;

extern const ListSetting LIST_SETTINGS[LIST_SETTING_COUNT];

// Value of a choice given by its label (a string) or by its value (a number). Empty when the
// list has no such item.
std::optional<int16_t> findListValue(const std::string &listText, const std::string &labelOrValue);
std::optional<int16_t> findListValue(const std::string &listText, int64_t value);

} // namespace tarn::render
