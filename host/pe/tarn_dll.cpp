// tarn-dll.so: the plug-in's two exports, answered by the Windows build itself. On first use
// it loads tarn.dll (TARN_DLL, or ../win32/tarn.dll beside this file) and forwards to it.
// The host gets the DLL's own records, with their three entries replaced by proxies that call
// the DLL's through tarn_windows_call (4-byte stack alignment, the thread block in %fs); the
// DLL calls a proxy of the host callback, which realigns, and which puts the process proxy back
// whenever the DLL installs another routine (it says so with HOST_PROCESS_CHANGED).
#include "host/pe/PeImage.h"
#include "host/pe/windows_call.h"
#include "se_sdk2/ProcessFunction.h"
#include "se_sdk2/SEModuleProperties.h"
#include "se_sdk2/SEModuleRecord.h"
#include "se_sdk2/SEProcessInfo.h"
#include "se_sdk2/se_protocol.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <new>
#include <string>
#include <unordered_map>

namespace {

struct Dll {
    PeImage *image = nullptr;
    const void *get_module_properties = nullptr;
    const void *make_module = nullptr;
};

Dll dll;

std::string dllPath() {
    if (const char *path = std::getenv("TARN_DLL")) {
        return path;
    }
    Dl_info self;
    if (dladdr(reinterpret_cast<const void *>(&dllPath), &self) == 0 || !self.dli_fname) {
        return "tarn.dll";
    }
    std::string own = self.dli_fname;
    const size_t slash = own.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : own.substr(0, slash)) +
           "/../win32/tarn.dll";
}

bool loaded() {
    static bool tried = false;
    if (!tried) {
        tried = true;
        const std::string path = dllPath();
        dll.image = new (std::nothrow) PeImage(path);
        if (dll.image != nullptr && dll.image->isLoaded()) {
            dll.get_module_properties = dll.image->findExport("getModuleProperties");
            dll.make_module = dll.image->findExport("makeModule");
        }
        if (!dll.get_module_properties || !dll.make_module) {
            std::fprintf(stderr, "tarn-dll.so: cannot use %s: %s\n", path.c_str(),
                         dll.image == nullptr     ? "out of memory"
                         : !dll.image->isLoaded() ? dll.image->error().c_str()
                                                  : "it lacks getModuleProperties or makeModule");
            delete dll.image;
            dll.image = nullptr;
        }
    }
    return dll.image != nullptr;
}

__attribute__((destructor)) void unload() {
    delete dll.image;
    dll.image = nullptr;
}

// What the proxies stand in for, per instance, by the address of the DLL's object.
struct Entries {
    SEDispatchEntry dispatch;
    SEProcessEntry process; // the DLL's current routine
    SEEventEntry event;
    HostCallback callback; // the host's, or null
    // What SEProcessInfo leads to: the record's process_entry (a proxy), adjustment 0. A map
    // node's address stays put as others come and go, as a member's does.
    ProcessFunction routine;
};
std::unordered_map<const void *, Entries> instances;
// The host callback of the makeModule call under way, for calls before its record is known.
HostCallback constructing = nullptr;

// The process-wide answer to MOD_GET_PROCESS_INFO; valid until the next one, as the DLL's is.
SEProcessInfo processInfo;

uint32_t word(const void *p) {
    return windowsWord(p);
}
uint32_t word(int32_t v) {
    return static_cast<uint32_t>(v);
}

Entries *entriesOf(const void *object) {
    auto it = instances.find(object);
    return it == instances.end() ? nullptr : &it->second;
}

intptr_t SE_CALL dispatchProxy(SEModuleRecord *record, int32_t opcode, int32_t index, int32_t value,
                               void *ptr, float opt) {
    const void *object = record->object;
    Entries *e = entriesOf(object);
    if (e == nullptr) {
        return 0;
    }
    if (opcode == MOD_GET_PROCESS_INFO) {
        // The DLL's own answer leads to its member, which holds the raw Windows routine: a host
        // calling that would run it with a 16-byte stack, our %fs and our x87 control word.
        processInfo.version = SE_PROCESS_INFO_VERSION;
        processInfo.function_size = static_cast<int32_t>(sizeof e->routine);
        processInfo.process_function = &e->routine;
        processInfo.host_constant = SE_PROCESS_INFO_CONSTANT;
        return reinterpret_cast<intptr_t>(&processInfo);
    }
    const intptr_t result = static_cast<intptr_t>(dll.image->call(
        reinterpret_cast<const void *>(e->dispatch),
        {word(record), word(opcode), word(index), word(value), word(ptr), windowsWord(opt)}));
    if (opcode == MOD_CLOSE) {
        instances.erase(object); // the DLL's object has deleted itself
        if (instances.empty()) {
            std::unordered_map<const void *, Entries>().swap(instances); // no buckets kept
        }
    }
    return result;
}

// The process proxy. Its copies differ only in their address: each routine of the DLL gets
// its own copy, so the record's entry changes exactly when the DLL's does, as a host may check.
template <int N>
void SE_CALL processProxy(void *object, int32_t bufferOffset, int32_t sampleCount) {
    const Entries *e = entriesOf(object);
    if (e != nullptr && e->process != nullptr) {
        dll.image->call(reinterpret_cast<const void *>(e->process),
                        {word(object), word(bufferOffset), word(sampleCount)});
    }
}

constexpr int PROCESS_PROXIES = 8;
const SEProcessEntry processProxies[PROCESS_PROXIES] = {
    &processProxy<0>, &processProxy<1>, &processProxy<2>, &processProxy<3>,
    &processProxy<4>, &processProxy<5>, &processProxy<6>, &processProxy<7>};
SEProcessEntry proxiedRoutines[PROCESS_PROXIES];

// The proxy standing for the DLL's routine `routine`. A DLL with more routines than proxies
// shares them round the table: they still run right, only their addresses coincide.
SEProcessEntry proxyOf(SEProcessEntry routine) {
    static int next = 0;
    for (int i = 0; i < PROCESS_PROXIES; ++i) {
        if (proxiedRoutines[i] == routine) {
            return processProxies[i];
        }
    }
    const int slot = next++ % PROCESS_PROXIES;
    proxiedRoutines[slot] = routine;
    return processProxies[slot];
}

void SE_CALL eventProxy(void *object, SEEvent *event) {
    const Entries *e = entriesOf(object);
    if (e != nullptr) {
        dll.image->call(reinterpret_cast<const void *>(e->event), {word(object), word(event)});
    }
}

// Called by the DLL with its 4-byte alignment and Windows' x87 control word: realigns, and
// gives the host its own control word for the length of the call.
__attribute__((force_align_arg_pointer)) intptr_t SE_CALL callbackProxy(
    SEModuleRecord *record, int32_t opcode, int32_t index, int32_t value, void *ptr, float opt) {
    Entries *e = entriesOf(record->object);
    const HostCallback callback = e ? e->callback : constructing;
    if (e != nullptr && opcode == HOST_PROCESS_CHANGED) {
        e->process = record->process_entry;
        record->process_entry = proxyOf(e->process);
        e->routine = ProcessFunction{record->process_entry, 0};
    }
    if (callback == nullptr) {
        return 0; // what the module's callHost answers itself when the host gave no callback
    }
    uint16_t windowsControl;
    const uint16_t linuxControl = 0x037F;
    __asm__ volatile("fnstcw %0" : "=m"(windowsControl));
    __asm__ volatile("fldcw %0" : : "m"(linuxControl));
    const intptr_t result = callback(record, opcode, index, value, ptr, opt);
    __asm__ volatile("fldcw %0" : : "m"(windowsControl));
    return result;
}

} // namespace

SE_EXPORT int32_t SE_CALL getModuleProperties(int32_t index, SEModuleProperties *properties) {
    if (!loaded()) {
        return 0;
    }
    return static_cast<int32_t>(
        dll.image->call(dll.get_module_properties, {word(index), word(properties)}));
}

SE_EXPORT SEModuleRecord *SE_CALL makeModule(int32_t index, int32_t kind, HostCallback callback,
                                             intptr_t hostData) {
    if (!loaded()) {
        return nullptr;
    }
    constructing = callback;
    SEModuleRecord *record = reinterpret_cast<SEModuleRecord *>(dll.image->call(
        dll.make_module, {word(index), word(kind), word(reinterpret_cast<void *>(&callbackProxy)),
                          static_cast<uint32_t>(hostData)}));
    constructing = nullptr;
    if (record == nullptr) {
        return nullptr;
    }
    const Entries *e;
    try {
        e = &(instances[record->object] =
                  Entries{record->dispatch_entry, record->process_entry, record->event_entry,
                          callback, ProcessFunction{proxyOf(record->process_entry), 0}});
    } catch (const std::bad_alloc &) {
        dll.image->call(reinterpret_cast<const void *>(record->dispatch_entry),
                        {word(record), word(MOD_CLOSE), 0, 0, 0, 0});
        return nullptr;
    }
    record->dispatch_entry = &dispatchProxy;
    record->process_entry = e->routine.address;
    record->event_entry = &eventProxy;
    return record;
}
