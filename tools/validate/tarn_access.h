// Test-only access to the oscillator behind a record. The plug-in exports nothing but its two
// entries, so the validator reads an instance's state through the class's own header and
// ConstModuleProbe: the record's `object` is the SEModule_base of a Module, laid out as this
// build compiles it. Valid only for this project's plug-in built from the same sources
// (properties id "TARN").
#pragma once

#include "oscillator/module/Module.h"
#include "oscillator/module/ModuleProbe.h"
#include "se_sdk2/SEModuleRecord.h"

inline const Module *tarnModule(const SEModuleRecord *record) {
    return record ? static_cast<const Module *>(static_cast<const SEModule_base *>(record->object))
                  : nullptr;
}
