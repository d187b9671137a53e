// The two exports. Loading the library runs nothing of its own; everything starts here.
#include "exports/module_exports.h"

#include "oscillator/module/Module.h"
#include "oscillator/module/VoicePool.h"
#include "se_sdk2/se_protocol.h"

#include <new>

int32_t SE_CALL getModuleProperties(int32_t index, SEModuleProperties *properties) {
    properties->sdk_version = SE_SDK_VERSION;
    if (index != 0) {
        return 0;
    }
    properties->id = "TARN";
    properties->name = "TARN Oscillator Module";
    properties->about = "by halvard";
    return 1;
}

SEModuleRecord *SE_CALL makeModule(int32_t index, int32_t kind, HostCallback callback,
                                   intptr_t hostData) {
    if (index != 0 || kind != 1) {
        return nullptr;
    }
    Module *module = new (std::nothrow) Module(callback, hostData, SHARED_VOICE_TABLE);
    if (module == nullptr) {
        return nullptr;
    }
    if (!module->hasVoiceTable()) {
        // The shared voice table could not be allocated: the instance goes, nothing leaks.
        delete module;
        return nullptr;
    }
    return module->getRecord();
}
