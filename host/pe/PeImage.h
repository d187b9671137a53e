// A 32-bit Windows DLL loaded into this i386 Linux process, as Windows' loader would: mapped
// away from its preferred base (so its base relocations always apply), its imports bound to
// this side's KERNEL32 and msvcrt, its TLS set up, its entry point run with
// DLL_PROCESS_ATTACH, and with DLL_PROCESS_DETACH on destruction.
#pragma once

#include "host/pe/win32_abi.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

class PeImage {
public:
    // Loads the DLL at `path`. On failure isLoaded() is false, error() tells why (a missing
    // import names its DLL and function), and nothing stays mapped.
    explicit PeImage(const std::string &path);
    // Runs the entry point and the TLS callbacks with DLL_PROCESS_DETACH, then unmaps.
    ~PeImage();

    PeImage(const PeImage &) = delete;
    PeImage &operator=(const PeImage &) = delete;

    bool isLoaded() const { return m_base != nullptr; }
    const std::string &error() const { return m_error; }

    // The address of the export of that name, or null. Forwarded exports are not followed.
    const void *findExport(const char *name) const;
    // The address of the export of that ordinal, or null.
    const void *findExport(uint16_t ordinal) const;

    // Calls a function of this image (see windows_call.h): its %eax.
    uint32_t call(const void *function, std::initializer_list<uint32_t> args) const;

    uintptr_t base() const { return reinterpret_cast<uintptr_t>(m_base); }
    size_t size() const { return m_size; }
    uint32_t preferredBase() const { return m_preferred_base; }
    // The file name without its folder, as GetModuleHandle compares it.
    const std::string &moduleName() const { return m_module_name; }

    // VirtualQuery and VirtualProtect on this image's pages.
    bool query(uintptr_t address, WinMemoryBasicInformation &info) const;
    bool protect(uintptr_t address, size_t size, WinDword protection, WinDword &previous);

    // The loaded images, for the KERNEL32 functions that take a module or an address.
    static PeImage *containing(uintptr_t address);
    static PeImage *atBase(uintptr_t base);
    static PeImage *named(const std::string &moduleName);
    static PeImage *first();
    static std::vector<PeImage *> &loadedImages();

private:
    bool load(const std::vector<uint8_t> &file);
    bool mapSections(const std::vector<uint8_t> &file);
    bool relocate();
    bool bindImports();
    bool prepareTls();
    bool applyProtections();
    bool attach();
    void runTlsCallbacks(uint32_t reason) const;
    bool fail(const std::string &message);
    void unmap();

    // Bounds-checked access to the mapped image by RVA.
    bool inImage(uint32_t rva, size_t length) const;
    uint32_t word(uint32_t rva) const;
    std::string text(uint32_t rva) const;
    uint32_t rvaOfVa(uint32_t va) const { return va - static_cast<uint32_t>(base()); }

    uint8_t *m_base = nullptr;
    size_t m_size = 0;
    uint32_t m_preferred_base = 0;
    uint32_t m_entry_rva = 0;
    uint32_t m_headers_size = 0;
    struct Directory {
        uint32_t rva = 0;
        uint32_t size = 0;
    } m_export, m_import, m_reloc, m_tls;
    struct Section {
        uint32_t rva;
        uint32_t size;
        uint32_t characteristics;
        uint32_t file_offset; // where its data start in the file
        uint32_t file_size;   // bytes copied from the file; the rest are zeros
    };
    std::vector<Section> m_sections;
    static constexpr uint32_t PAGE = 4096;
    std::vector<WinDword> m_page_protection; // one per page, Windows' PAGE_* values
    int32_t m_tls_index = -1;
    void *m_tls_block = nullptr;
    bool m_attached = false;
    std::string m_module_name;
    std::string m_error;
};
