// The DLL's entry, called by the MinGW start-up code. It does nothing at load; at unload it
// returns the C++ runtime's emergency exception pool (18944 bytes, allocated by the statically
// linked libstdc++ at start-up and otherwise never freed), so a host that loads and unloads the
// plug-in, as hosts do when they scan their plug-ins, does not lose that much each time.
#include <cstdint>

namespace __gnu_cxx {
void __freeres();
}

constexpr uint32_t DLL_PROCESS_DETACH = 0;

extern "C" int32_t __stdcall DllMain(void * /*instance*/, uint32_t reason, void * /*reserved*/) {
    if (reason == DLL_PROCESS_DETACH) {
        __gnu_cxx::__freeres();
    }
    return 1;
}
