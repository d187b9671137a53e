// Names of the control inputs a note sets: the plug-in's pin names.
#include "tools/render/model/patch.h"

namespace tarn::render {

const char *const CONTROL_NAMES[CONTROL_COUNT] = {"fm1",    "N",        "a",
                                                  "detune", "combfreq", "combphase"};

} // namespace tarn::render
