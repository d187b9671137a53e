// A plug-in as the host reaches it: its two exports, either linked into this program or found
// with dlsym in a shared object that this class opens and, on destruction, closes again.
#pragma once

#include "se_sdk2/SEModuleProperties.h"
#include "se_sdk2/SEModuleRecord.h"
#include "se_sdk2/se_abi.h"

#include <cstdint>
#include <string>

// The two exports, with the plug-in's calling convention.
typedef int32_t(SE_CALL *GetModulePropertiesEntry)(int32_t index, SEModuleProperties *properties);
typedef SEModuleRecord *(SE_CALL *MakeModuleEntry)(int32_t index, int32_t kind,
                                                   HostCallback callback, intptr_t hostData);

class PluginLibrary {
public:
    // A plug-in linked into this program. Either entry may be null; isLoaded() then says false.
    PluginLibrary(GetModulePropertiesEntry propertiesEntry, MakeModuleEntry makeEntry);
    // Opens the shared object at `path` (RTLD_NOW | RTLD_LOCAL) and looks up both exports by
    // their undecorated names. On failure isLoaded() is false and error() tells why; nothing
    // stays open.
    explicit PluginLibrary(const std::string &path);
    // Closes the shared object, if this object opened one. Every record made through it must
    // have been closed before: the module code and its constant texts go away here.
    ~PluginLibrary();

    PluginLibrary(const PluginLibrary &) = delete;
    PluginLibrary &operator=(const PluginLibrary &) = delete;

    // True when both exports were found.
    bool isLoaded() const { return m_get_module_properties && m_make_module; }
    // Why loading failed ("not a shared library (invalid ELF header)", "it is a directory, ...",
    // the loader's own reason); empty when it did not fail.
    const std::string &error() const { return m_error; }
    // Whether this object opened a shared object (as opposed to linked-in entries).
    bool isShared() const { return m_handle != nullptr; }

    // Calls the export; answers 0 without calling when it is missing.
    int32_t getModuleProperties(int32_t index, SEModuleProperties *properties) const;
    // Calls the export; answers null without calling when it is missing.
    SEModuleRecord *makeModule(int32_t index, int32_t kind, HostCallback callback,
                               intptr_t hostData) const;

    GetModulePropertiesEntry getModulePropertiesEntry() const { return m_get_module_properties; }
    MakeModuleEntry makeModuleEntry() const { return m_make_module; }

private:
    void *m_handle = nullptr; // dlopen handle; null for linked-in entries and after failure
    GetModulePropertiesEntry m_get_module_properties = nullptr;
    MakeModuleEntry m_make_module = nullptr;
    std::string m_error;
};
