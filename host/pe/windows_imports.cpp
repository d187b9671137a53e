// Finding an import by DLL and name.
#include "host/pe/windows_imports.h"

#include <cstring>
#include <strings.h>

const void *findWindowsImport(const char *dll, const char *name) {
    const WindowsImport *table = strcasecmp(dll, "KERNEL32.dll") == 0 ? KERNEL32_IMPORTS
                                 : strcasecmp(dll, "msvcrt.dll") == 0  ? MSVCRT_IMPORTS
                                                                       : nullptr;
    for (; table && table->name; ++table) {
        if (std::strcmp(table->name, name) == 0) {
            return table->address;
        }
    }
    return nullptr;
}
