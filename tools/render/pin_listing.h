// `tarn-render --pins`: the module's identity and its pins as the host sees them, asked one by
// one with MOD_GET_PIN_PROPERTIES on a fresh instance.
#pragma once

#include "host/PluginLibrary.h"

#include <ostream>

namespace tarn::render {

// One line per pin: number, name, direction, data type, default and list items. Throws
// PluginError when the plug-in offers no module 0 or creates no instance.
void printPins(const PluginLibrary &library, std::ostream &out);

} // namespace tarn::render
