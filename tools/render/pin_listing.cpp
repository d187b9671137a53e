// The pin table is read through the dispatcher, not from the host's own binding, so it shows
// exactly what the module answers.
#include "tools/render/pin_listing.h"

#include "host/Host.h"
#include "se_sdk2/se_protocol.h"
#include "tools/render/errors.h"
#include "tools/render/model/list_settings.h"

#include <iomanip>
#include <sstream>
#include <string>

namespace tarn::render {

namespace {

std::string text(const char *s) {
    return s ? s : "";
}

std::string typeName(int32_t datatype) {
    if (datatype == DT_ENUM)
        return "list";
    if (datatype == DT_FSAMPLE)
        return "audio";
    return "type " + std::to_string(datatype);
}

std::string listItems(const char *extra) {
    std::string items;
    for (const ListItem &item : parseListText(text(extra)))
        items += (items.empty() ? "" : ", ") + item.label + "=" + std::to_string(item.value);
    return items;
}

} // namespace

void printPins(const PluginLibrary &library, std::ostream &out) {
    SEModuleProperties module{};
    if (!library.getModuleProperties(0, &module))
        throw PluginError("the plug-in offers no module type 0 (getModuleProperties answered 0)");
    out << text(module.name) << " (id \"" << text(module.id) << "\", " << text(module.about)
        << ", SDK version " << module.sdk_version << ")\n";

    Host host(library, 44100.0f, 64);
    HostedInstance *instance = host.makeInstance();
    if (!instance)
        throw PluginError("the plug-in created no module instance (makeModule answered null)");
    out << std::left << std::setw(5) << "pin" << std::setw(12) << "name" << std::setw(11)
        << "direction" << std::setw(7) << "type" << std::setw(9) << "default"
        << "list\n";
    for (int32_t index = 0; index < HostedInstance::MAX_DESCRIPTIONS; ++index) {
        SEPinProperties pin{};
        if (!instance->dispatch(MOD_GET_PIN_PROPERTIES, index, 0, &pin, 0.0f))
            break;
        std::ostringstream line;
        line << std::left << std::setw(5) << index << std::setw(12) << text(pin.name)
             << std::setw(11)
             << (pin.direction == DR_IN    ? "in"
                 : pin.direction == DR_OUT ? "out"
                                           : "?")
             << std::setw(7) << typeName(pin.datatype) << std::setw(9)
             << (pin.default_value ? text(pin.default_value) : "-")
             << (pin.datatype == DT_ENUM ? listItems(pin.datatype_extra) : "");
        std::string row = line.str();
        out << row.substr(0, row.find_last_not_of(' ') + 1) << "\n";
    }
}

} // namespace tarn::render
