// The conventions of the functions this side gives a Windows image. KERNEL32 is __stdcall
// (the callee pops its arguments), msvcrt __cdecl. Both realign the stack on entry: the image
// calls them with 4-byte alignment, and this side's code may keep 16-byte-aligned spills.
#pragma once

#include <cstdint>

#define TARN_WINAPI __attribute__((stdcall, force_align_arg_pointer))
#define TARN_WINCDECL __attribute__((cdecl, force_align_arg_pointer))

typedef int32_t WinBool;   // BOOL: 0 false, anything else true
typedef uint32_t WinDword; // DWORD
typedef void *WinHandle;   // HANDLE, HMODULE
typedef uint16_t WinWchar; // WCHAR: UTF-16 code unit

// Error codes of GetLastError.
constexpr WinDword WIN_ERROR_SUCCESS = 0;
constexpr WinDword WIN_ERROR_INVALID_HANDLE = 6;
constexpr WinDword WIN_ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr WinDword WIN_ERROR_INVALID_PARAMETER = 87;
constexpr WinDword WIN_ERROR_INSUFFICIENT_BUFFER = 122;
constexpr WinDword WIN_ERROR_MOD_NOT_FOUND = 126;
constexpr WinDword WIN_ERROR_PROC_NOT_FOUND = 127;
constexpr WinDword WIN_ERROR_TOO_MANY_POSTS = 298;
constexpr WinDword WIN_ERROR_INVALID_ADDRESS = 487;

// Page protections (VirtualProtect, VirtualQuery).
constexpr WinDword WIN_PAGE_NOACCESS = 0x01;
constexpr WinDword WIN_PAGE_READONLY = 0x02;
constexpr WinDword WIN_PAGE_READWRITE = 0x04;
constexpr WinDword WIN_PAGE_WRITECOPY = 0x08;
constexpr WinDword WIN_PAGE_EXECUTE = 0x10;
constexpr WinDword WIN_PAGE_EXECUTE_READ = 0x20;
constexpr WinDword WIN_PAGE_EXECUTE_READWRITE = 0x40;
constexpr WinDword WIN_PAGE_EXECUTE_WRITECOPY = 0x80;

// VirtualQuery's answer.
struct WinMemoryBasicInformation {
    uint32_t base_address;      // start of the region of equal protection
    uint32_t allocation_base;   // the image's base
    WinDword allocation_protect; // protection at load
    uint32_t region_size;       // bytes from base_address
    WinDword state;             // MEM_COMMIT
    WinDword protect;           // current protection
    WinDword type;              // MEM_IMAGE
};
static_assert(sizeof(WinMemoryBasicInformation) == 28, "MEMORY_BASIC_INFORMATION is 28 bytes");
constexpr WinDword WIN_MEM_COMMIT = 0x1000;
constexpr WinDword WIN_MEM_IMAGE = 0x1000000;

// The last-error value of the calling thread, kept in its thread block.
void setWinLastError(WinDword error);
WinDword winLastError();
