// Calling convention and export macros of the plug-in boundary.
// Every function the host calls is cdecl: on 32-bit Windows, C++ member functions default to
// thiscall, so entries are plain functions and say SE_CALL explicitly.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define SE_CALL __cdecl
#else
#define SE_CALL
#endif

// The one way a name leaves the library: unmangled, and visible in the DLL's export table or
// the shared object's dynamic symbol table.
#if defined(_WIN32)
#define SE_EXPORT extern "C" __declspec(dllexport)
#else
#define SE_EXPORT extern "C" __attribute__((visibility("default")))
#endif
