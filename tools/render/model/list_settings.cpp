// List texts of the oscillator's settings and their lookup.
#include "tools/render/model/list_settings.h"

#include <cerrno>
#include <cstdlib>

namespace tarn::render {

const ListSetting LIST_SETTINGS[LIST_SETTING_COUNT] = {
    {"Mode", "1-Sided=1,2-Sided=2", 1, 1},
    {"cyclic", "off=1,on=2", 1, 1},
    {"hq", "off=0,on=1", 1, 1},
    {"poly", "1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,13=13,14=14,15=15,16=16", 8, 8},
    {"alternate", "L+R=0,L+R alt=1,M+S=2,M+S alt=3,S+M=4,S+M alt=5", 1, 0},
};

std::vector<ListItem> parseListText(const std::string &text) {
    std::vector<ListItem> items;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find(',', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string item = text.substr(begin, end - begin);
        size_t equals = item.rfind('=');
        if (equals != std::string::npos) {
            std::string number = item.substr(equals + 1);
            char *stop = nullptr;
            errno = 0;
            long value = std::strtol(number.c_str(), &stop, 10);
            if (!number.empty() && *stop == '\0' && errno == 0 && value >= INT16_MIN &&
                value <= INT16_MAX)
                items.push_back({item.substr(0, equals), static_cast<int16_t>(value)});
        }
        begin = end + 1;
    }
    return items;
}

std::optional<int16_t> findListValue(const std::string &listText, const std::string &labelOrValue) {
    for (const ListItem &item : parseListText(listText))
        if (item.label == labelOrValue)
            return item.value;
    return std::nullopt;
}

std::optional<int16_t> findListValue(const std::string &listText, int64_t value) {
    for (const ListItem &item : parseListText(listText))
        if (item.value == value)
            return item.value;
    return std::nullopt;
}

} // namespace tarn::render
