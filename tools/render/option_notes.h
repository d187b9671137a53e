// Options that do nothing in the combination given, each said in one line, so that a user
// who expected an effect learns why there is none.
#pragma once

#include "tools/render/cli_options.h"
#include "tools/render/model/patch.h"

#include <string>
#include <vector>

namespace tarn::render {

// "--spectrum-at does nothing without --spectrum", ...; empty when every option acts.
std::vector<std::string> idleOptionNotes(const Options &options, const Patch &patch);

} // namespace tarn::render
