// A list setting as both protocol decoders read it: a selector byte below RAW_LIST_SETTING
// picks from the pin's own "label=value,..." values followed by the scenarios' invalid ones;
// from it on, the next two bytes are the int16 itself.
#pragma once

#include "fuzz/FuzzBytes.h"
#include "se_sdk2/SEPinProperties.h"

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

constexpr int16_t INVALID_LIST_SETTINGS[] = {0, -1, 3, 17, 32767, -32768};
constexpr uint8_t RAW_LIST_SETTING = 0x80;

// The values of a list pin's text, in its order.
inline std::vector<int16_t> listValues(const SEPinProperties &properties) {
    std::vector<int16_t> values;
    for (const char *p = properties.datatype_extra; p && *p; ++p) {
        if (*p == '=') {
            values.push_back(static_cast<int16_t>(std::strtol(p + 1, nullptr, 10)));
        }
    }
    return values;
}

inline int16_t readListSetting(FuzzBytes &in, const SEPinProperties &properties) {
    const uint8_t selector = in.byte();
    if (selector >= RAW_LIST_SETTING) {
        return static_cast<int16_t>(in.u16());
    }
    std::vector<int16_t> values = listValues(properties);
    values.insert(values.end(), std::begin(INVALID_LIST_SETTINGS), std::end(INVALID_LIST_SETTINGS));
    return values[selector % values.size()];
}
