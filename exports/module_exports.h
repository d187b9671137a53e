// The library's two exports, the only names it makes visible: the host asks what module types
// there are and creates instances, which it then drives through their records alone.
#pragma once

#include "se_sdk2/SEModuleProperties.h"
#include "se_sdk2/SEModuleRecord.h"
#include "se_sdk2/se_abi.h"

#include <cstdint>

// Writes sdk_version for any index; for index 0 also id, name and about, and answers 1. Any
// other index answers 0. Never touches the two words before sdk_version or anything after it.
// Keeps no state; callable at any time.
SE_EXPORT int32_t SE_CALL getModuleProperties(int32_t index, SEModuleProperties *properties);

// Index 0, kind 1: a new oscillator instance on the heap, owned by the host until it sends
// MOD_CLOSE; answers its record. Any other index or kind, or no memory: null, and nothing is
// constructed or kept.
SE_EXPORT SEModuleRecord *SE_CALL makeModule(int32_t index, int32_t kind, HostCallback callback,
                                             intptr_t hostData);
