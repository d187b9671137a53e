// The functions and data this side gives a Windows image in place of KERNEL32.dll and
// msvcrt.dll: implementations of our own on top of glibc, with Windows' calling conventions.
// What is not listed here does not exist: an image importing it fails to load.
#pragma once

struct WindowsImport {
    const char *name;    // the export name, as the image's import table spells it
    const void *address; // a function with the DLL's convention, or the datum itself
};

// The import of that name from that DLL (DLL names compare without case), or null.
const void *findWindowsImport(const char *dll, const char *name);

// The tables behind it, each ending with a null name.
extern const WindowsImport KERNEL32_IMPORTS[];
extern const WindowsImport MSVCRT_IMPORTS[];

// Closes every handle still open (called when the last image has been unloaded).
void closeWindowsHandles();

// Lets the next `allocations` allocations of the images (malloc, calloc, realloc) succeed and
// refuses every later one, as a full heap would; a negative budget lifts the limit (the
// default). For tests of what an image does when memory runs out.
void setWindowsAllocationBudget(long allocations);
// The images' heap blocks not yet freed (malloc, calloc and realloc less free).
long windowsLiveAllocations();

// Where msvcrt's _assert reports: by default glibc's __assert_fail (which a host may
// interpose, as tarn-validate does). Returns the handler that was installed; null restores
// the default.
typedef void (*WindowsAssertHandler)(const char *message, const char *file, unsigned line);
WindowsAssertHandler setWindowsAssertHandler(WindowsAssertHandler handler);
