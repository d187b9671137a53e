// Test-only access to the oscillator behind a record: the plug-in exports only its two entries,
// so the validator reads an instance's state at its members' byte offsets (ModuleView), this
// build's or MinGW's for tarn.dll. Valid only for this project's plug-in (properties id "TARN").
#pragma once

#include "oscillator/module/Module.h"
#include "oscillator/module/ModuleProbe.h"
#include "se_sdk2/SEModuleRecord.h"
#include "tools/validate/module_layout.h"

// The Module itself, for code built into the same binary as the plug-in (this build's layout).
inline const Module *tarnModule(const SEModuleRecord *record) {
    return record ? static_cast<const Module *>(static_cast<const SEModule_base *>(record->object))
                  : nullptr;
}
