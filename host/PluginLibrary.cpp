// Loading by dlopen, the road a real host takes. Function addresses come out of dlsym as void*;
// POSIX guarantees that converting them back to function pointers works.
#include "host/PluginLibrary.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>

PluginLibrary::PluginLibrary(GetModulePropertiesEntry propertiesEntry, MakeModuleEntry makeEntry)
    : m_get_module_properties(propertiesEntry), m_make_module(makeEntry) {
    if (!isLoaded()) {
        m_error = "a linked-in entry is null";
    }
}

PluginLibrary::PluginLibrary(const std::string &path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        m_error = std::strerror(errno);
        return;
    }
    if (S_ISDIR(status.st_mode)) {
        m_error = "it is a directory, expected a shared library";
        return;
    }
    // Without a slash dlopen searches the library path instead of opening this file, and says
    // "No such file" of a file that exists.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    m_handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        // dlerror() starts with the file's name, which the caller already shows.
        const char *message = dlerror();
        std::string reason = message ? message : "dlopen failed";
        if (reason.rfind(file + ": ", 0) == 0)
            reason.erase(0, file.size() + 2);
        const bool notElf = reason == "file too short" || reason == "invalid ELF header";
        m_error = notElf ? "not a shared library (" + reason + ")" : reason;
        return;
    }
    void *properties = dlsym(m_handle, "getModuleProperties");
    void *make = dlsym(m_handle, "makeModule");
    if (!properties || !make) {
        m_error = "missing export: ";
        m_error += properties ? "makeModule" : "getModuleProperties";
        dlclose(m_handle);
        m_handle = nullptr;
        return;
    }
    m_get_module_properties = reinterpret_cast<GetModulePropertiesEntry>(properties);
    m_make_module = reinterpret_cast<MakeModuleEntry>(make);
}

PluginLibrary::~PluginLibrary() {
    if (m_handle) {
        dlclose(m_handle);
    }
}

int32_t PluginLibrary::getModuleProperties(int32_t index, SEModuleProperties *properties) const {
    return m_get_module_properties ? m_get_module_properties(index, properties) : 0;
}

SEModuleRecord *PluginLibrary::makeModule(int32_t index, int32_t kind, HostCallback callback,
                                          intptr_t hostData) const {
    return m_make_module ? m_make_module(index, kind, callback, hostData) : nullptr;
}
