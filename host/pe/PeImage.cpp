// Loading a PE image: every offset read from the file or the image is checked against its
// bounds first, so a damaged DLL fails to load with a message instead of crashing the host.
#include "host/pe/PeImage.h"

#include "host/pe/pe_headers.h"
#include "host/pe/thread_block.h"
#include "host/pe/windows_call.h"
#include "host/pe/windows_imports.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/mman.h>

namespace {

template <class T> bool readRecord(const std::vector<uint8_t> &file, size_t offset, T &record) {
    if (offset > file.size() || file.size() - offset < sizeof(T)) {
        return false;
    }
    std::memcpy(&record, file.data() + offset, sizeof(T));
    return true;
}

WinDword windowsProtection(uint32_t characteristics) {
    const bool x = characteristics & PE_SCN_MEM_EXECUTE;
    const bool w = characteristics & PE_SCN_MEM_WRITE;
    const bool r = characteristics & PE_SCN_MEM_READ;
    if (x) {
        return w ? WIN_PAGE_EXECUTE_READWRITE : r ? WIN_PAGE_EXECUTE_READ : WIN_PAGE_EXECUTE;
    }
    return w ? WIN_PAGE_READWRITE : r ? WIN_PAGE_READONLY : WIN_PAGE_NOACCESS;
}

std::string baseName(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

PeImage::PeImage(const std::string &path) : m_module_name(baseName(path)) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff length = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    std::vector<uint8_t> file(length > 0 ? static_cast<size_t>(length) : 0);
    in.seekg(0);
    if (length <= 0 || !in.read(reinterpret_cast<char *>(file.data()), length)) {
        fail(path + ": cannot be read");
        return;
    }
    if (!load(file)) {
        m_error = path + ": " + m_error;
        unmap();
    }
}

PeImage::~PeImage() {
    if (m_attached && m_entry_rva != 0) {
        call(m_base + m_entry_rva, {windowsWord(m_base), DLL_PROCESS_DETACH, 0});
    }
    if (m_attached) {
        runTlsCallbacks(DLL_PROCESS_DETACH);
    }
    unmap();
}

bool PeImage::fail(const std::string &message) {
    m_error = message;
    return false;
}

bool PeImage::load(const std::vector<uint8_t> &file) {
    PeDosHeader dos;
    if (!readRecord(file, 0, dos) || dos.e_magic != PE_DOS_MAGIC || dos.e_lfanew < 0) {
        return fail("not a PE image (no MZ header)");
    }
    const size_t peOffset = static_cast<size_t>(dos.e_lfanew);
    uint32_t signature = 0;
    PeFileHeader header;
    PeOptionalHeader32 optional;
    std::memset(&optional, 0, sizeof optional);
    if (!readRecord(file, peOffset, signature) || signature != PE_SIGNATURE ||
        !readRecord(file, peOffset + 4, header)) {
        return fail("not a PE image (no PE signature)");
    }
    if (header.machine != PE_MACHINE_I386) {
        return fail("not an i386 image");
    }
    const size_t optionalOffset = peOffset + 4 + sizeof header;
    const size_t fixedPart = offsetof(PeOptionalHeader32, data_directory);
    if (header.size_of_optional_header < fixedPart ||
        file.size() < optionalOffset + header.size_of_optional_header) {
        return fail("truncated optional header");
    }
    std::memcpy(&optional, file.data() + optionalOffset,
                std::min<size_t>(header.size_of_optional_header, sizeof optional));
    if (optional.magic != PE_OPTIONAL_MAGIC_PE32) {
        return fail("not a PE32 image");
    }
    if (!(header.characteristics & PE_FILE_DLL)) {
        return fail("not a DLL");
    }
    const uint32_t directories = std::min<uint32_t>(
        {optional.number_of_rva_and_sizes, 16,
         static_cast<uint32_t>((header.size_of_optional_header - fixedPart) /
                               sizeof(PeDataDirectory))});
    const auto directory = [&](uint32_t index) {
        Directory d;
        if (index < directories) {
            d.rva = optional.data_directory[index].virtual_address;
            d.size = optional.data_directory[index].size;
        }
        return d;
    };
    m_export = directory(PE_DIR_EXPORT);
    m_import = directory(PE_DIR_IMPORT);
    m_reloc = directory(PE_DIR_BASERELOC);
    m_tls = directory(PE_DIR_TLS);
    m_preferred_base = optional.image_base;
    m_entry_rva = optional.address_of_entry_point;
    m_headers_size = optional.size_of_headers;
    if (optional.size_of_image == 0 || optional.size_of_image > (1u << 30) ||
        m_headers_size > optional.size_of_image || m_headers_size > file.size()) {
        return fail("implausible image size");
    }
    m_size = (optional.size_of_image + PAGE - 1) / PAGE * PAGE;

    const size_t sectionOffset = optionalOffset + header.size_of_optional_header;
    for (uint16_t i = 0; i < header.number_of_sections; ++i) {
        PeSectionHeader s;
        if (!readRecord(file, sectionOffset + i * sizeof s, s)) {
            return fail("truncated section table");
        }
        const uint32_t size = s.virtual_size != 0 ? s.virtual_size : s.size_of_raw_data;
        if (s.virtual_address > m_size || size > m_size - s.virtual_address) {
            return fail("a section lies outside the image");
        }
        // Uninitialised data stays as mmap gives it: zeros.
        const uint32_t fileSize = s.characteristics & PE_SCN_UNINITIALIZED_DATA
                                      ? 0
                                      : std::min(s.size_of_raw_data, size);
        if (fileSize != 0 && (s.pointer_to_raw_data > file.size() ||
                              fileSize > file.size() - s.pointer_to_raw_data)) {
            return fail("a section's data lies outside the file");
        }
        m_sections.push_back({s.virtual_address, size, s.characteristics, s.pointer_to_raw_data,
                              fileSize});
    }
    if (m_entry_rva >= m_size) {
        return fail("the entry point lies outside the image");
    }
    return mapSections(file) && relocate() && bindImports() && prepareTls() &&
           applyProtections() && attach();
}

bool PeImage::mapSections(const std::vector<uint8_t> &file) {
    void *mapped = mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return fail("cannot map " + std::to_string(m_size) + " bytes");
    }
    m_base = static_cast<uint8_t *>(mapped);
    std::memcpy(m_base, file.data(), m_headers_size);
    for (const Section &s : m_sections) {
        std::memcpy(m_base + s.rva, file.data() + s.file_offset, s.file_size);
    }
    m_page_protection.assign(m_size / PAGE, WIN_PAGE_READONLY);
    loadedImages().push_back(this);
    return true;
}

bool PeImage::relocate() {
    const uint32_t delta = static_cast<uint32_t>(base()) - m_preferred_base;
    if (delta == 0) {
        return true;
    }
    if (m_reloc.rva == 0 || m_reloc.size == 0) {
        return fail("no base relocations, and the preferred base is taken");
    }
    if (!inImage(m_reloc.rva, m_reloc.size)) {
        return fail("the base relocations lie outside the image");
    }
    uint32_t at = m_reloc.rva;
    const uint32_t end = m_reloc.rva + m_reloc.size;
    while (end - at >= sizeof(PeBaseRelocationBlock)) {
        PeBaseRelocationBlock blockHeader;
        std::memcpy(&blockHeader, m_base + at, sizeof blockHeader);
        if (blockHeader.size_of_block < sizeof blockHeader || blockHeader.size_of_block > end - at) {
            return fail("a base relocation block is damaged");
        }
        const uint32_t entries = (blockHeader.size_of_block - sizeof blockHeader) / 2;
        for (uint32_t i = 0; i < entries; ++i) {
            uint16_t entry;
            std::memcpy(&entry, m_base + at + sizeof blockHeader + 2 * i, sizeof entry);
            const uint16_t type = entry >> 12;
            const uint32_t rva = blockHeader.virtual_address + (entry & 0xFFF);
            if (type == PE_REL_ABSOLUTE) {
                continue;
            }
            if (type != PE_REL_HIGHLOW) {
                return fail("base relocation of type " + std::to_string(type) + " not supported");
            }
            if (!inImage(rva, 4)) {
                return fail("a base relocation lies outside the image");
            }
            const uint32_t patched = word(rva) + delta;
            std::memcpy(m_base + rva, &patched, 4);
        }
        at += blockHeader.size_of_block;
    }
    return true;
}

bool PeImage::bindImports() {
    if (m_import.rva == 0) {
        return true;
    }
    std::string missing;
    for (uint32_t at = m_import.rva;; at += sizeof(PeImportDescriptor)) {
        if (!inImage(at, sizeof(PeImportDescriptor))) {
            return fail("the import table lies outside the image");
        }
        PeImportDescriptor d;
        std::memcpy(&d, m_base + at, sizeof d);
        if (d.name == 0 && d.first_thunk == 0) {
            break;
        }
        const std::string dll = text(d.name);
        uint32_t names = d.original_first_thunk != 0 ? d.original_first_thunk : d.first_thunk;
        for (uint32_t slot = d.first_thunk;; slot += 4, names += 4) {
            if (!inImage(names, 4) || !inImage(slot, 4)) {
                return fail("the import thunks of " + dll + " lie outside the image");
            }
            const uint32_t thunk = word(names);
            if (thunk == 0) {
                break;
            }
            const std::string name = thunk & PE_ORDINAL_FLAG32
                                         ? "#" + std::to_string(thunk & 0xFFFF)
                                         : text(thunk + 2);
            const void *address = findWindowsImport(dll.c_str(), name.c_str());
            if (address == nullptr) {
                missing += (missing.empty() ? "" : ", ") + dll + "!" + name;
                continue;
            }
            const uint32_t value = windowsWord(address);
            std::memcpy(m_base + slot, &value, 4);
        }
    }
    if (!missing.empty()) {
        return fail("imports what this loader does not provide: " + missing);
    }
    return true;
}

bool PeImage::prepareTls() {
    if (m_tls.rva == 0) {
        return true;
    }
    PeTlsDirectory32 tls;
    if (!inImage(m_tls.rva, sizeof tls)) {
        return fail("the TLS directory lies outside the image");
    }
    std::memcpy(&tls, m_base + m_tls.rva, sizeof tls);
    const uint32_t start = rvaOfVa(tls.start_address_of_raw_data);
    const uint32_t length = tls.end_address_of_raw_data - tls.start_address_of_raw_data;
    if (tls.end_address_of_raw_data < tls.start_address_of_raw_data || !inImage(start, length) ||
        !inImage(rvaOfVa(tls.address_of_index), 4) || tls.size_of_zero_fill > (1u << 20)) {
        return fail("the TLS directory is damaged");
    }
    m_tls_index = allocateImageTlsIndex();
    if (m_tls_index < 0) {
        return fail("no TLS slot left");
    }
    m_tls_block = std::calloc(1, length + tls.size_of_zero_fill + 1);
    if (m_tls_block == nullptr) {
        return fail("no memory for the TLS block");
    }
    std::memcpy(m_tls_block, m_base + start, length);
    setImageTlsBlock(m_tls_index, m_tls_block);
    const uint32_t index = static_cast<uint32_t>(m_tls_index);
    std::memcpy(m_base + rvaOfVa(tls.address_of_index), &index, 4);
    return true;
}

// The headers and any gap between sections read-only, each section as its flags say.
bool PeImage::applyProtections() {
    WinDword previous;
    if (!protect(base(), m_size, WIN_PAGE_READONLY, previous)) {
        return fail("mprotect failed");
    }
    for (const Section &s : m_sections) {
        if (s.size != 0 &&
            !protect(base() + s.rva, s.size, windowsProtection(s.characteristics), previous)) {
            return fail("mprotect failed");
        }
    }
    return true;
}

bool PeImage::attach() {
    if (threadBlockSelector() == 0) {
        return fail("the kernel refused the thread block's LDT entry");
    }
    m_attached = true;
    runTlsCallbacks(DLL_PROCESS_ATTACH);
    if (m_entry_rva != 0 &&
        call(m_base + m_entry_rva, {windowsWord(m_base), DLL_PROCESS_ATTACH, 0}) == 0) {
        // As Windows does when attach fails: detach at once, then unload.
        call(m_base + m_entry_rva, {windowsWord(m_base), DLL_PROCESS_DETACH, 0});
        runTlsCallbacks(DLL_PROCESS_DETACH);
        m_attached = false;
        return fail("its entry point refused DLL_PROCESS_ATTACH");
    }
    return true;
}

void PeImage::runTlsCallbacks(uint32_t reason) const {
    if (m_tls.rva == 0 || !inImage(m_tls.rva, sizeof(PeTlsDirectory32))) {
        return;
    }
    PeTlsDirectory32 tls;
    std::memcpy(&tls, m_base + m_tls.rva, sizeof tls);
    if (tls.address_of_callbacks == 0) {
        return;
    }
    for (uint32_t at = rvaOfVa(tls.address_of_callbacks); inImage(at, 4) && word(at) != 0;
         at += 4) {
        const uint32_t callback = rvaOfVa(word(at));
        if (inImage(callback, 1)) {
            call(m_base + callback, {windowsWord(m_base), reason, 0});
        }
    }
}

void PeImage::unmap() {
    std::vector<PeImage *> &images = loadedImages();
    images.erase(std::remove(images.begin(), images.end(), this), images.end());
    if (images.empty()) {
        closeWindowsHandles();
        std::vector<PeImage *>().swap(images);
    }
    if (m_base != nullptr) {
        munmap(m_base, m_size);
        m_base = nullptr;
    }
    std::free(m_tls_block);
    m_tls_block = nullptr;
    freeImageTlsIndex(m_tls_index);
    m_tls_index = -1;
}

uint32_t PeImage::call(const void *function, std::initializer_list<uint32_t> args) const {
    return windowsCall(function, threadBlockSelector(), args);
}

bool PeImage::inImage(uint32_t rva, size_t length) const {
    return m_base != nullptr && rva <= m_size && length <= m_size - rva;
}

uint32_t PeImage::word(uint32_t rva) const {
    uint32_t value;
    std::memcpy(&value, m_base + rva, 4);
    return value;
}

std::string PeImage::text(uint32_t rva) const {
    if (!inImage(rva, 0)) {
        return "";
    }
    const char *start = reinterpret_cast<const char *>(m_base + rva);
    return std::string(start, strnlen(start, m_size - rva));
}
