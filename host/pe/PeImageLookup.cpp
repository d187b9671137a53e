// What a loaded image offers the KERNEL32 side: its exports by name or ordinal, the
// protection of its pages, and the registry of loaded images by address, base and name.
#include "host/pe/PeImage.h"

#include "host/pe/pe_headers.h"

#include <cstring>
#include <strings.h>
#include <sys/mman.h>

namespace {

int posixProtection(WinDword protection) {
    switch (protection) {
    case WIN_PAGE_READONLY:
        return PROT_READ;
    case WIN_PAGE_READWRITE:
    case WIN_PAGE_WRITECOPY:
        return PROT_READ | PROT_WRITE;
    case WIN_PAGE_EXECUTE:
    case WIN_PAGE_EXECUTE_READ:
        return PROT_READ | PROT_EXEC;
    case WIN_PAGE_EXECUTE_READWRITE:
    case WIN_PAGE_EXECUTE_WRITECOPY:
        return PROT_READ | PROT_WRITE | PROT_EXEC;
    default:
        return PROT_NONE;
    }
}

} // namespace

std::vector<PeImage *> &PeImage::loadedImages() {
    static std::vector<PeImage *> images;
    return images;
}

const void *PeImage::findExport(uint16_t ordinal) const {
    PeExportDirectory d;
    if (m_export.rva == 0 || !inImage(m_export.rva, sizeof d)) {
        return nullptr;
    }
    std::memcpy(&d, m_base + m_export.rva, sizeof d);
    const uint32_t index = static_cast<uint32_t>(ordinal) - d.base;
    if (ordinal < d.base || index >= d.number_of_functions ||
        !inImage(d.address_of_functions + 4 * index, 4)) {
        return nullptr;
    }
    const uint32_t rva = word(d.address_of_functions + 4 * index);
    const bool forwarded = rva >= m_export.rva && rva - m_export.rva < m_export.size;
    return rva != 0 && !forwarded && inImage(rva, 1) ? m_base + rva : nullptr;
}

const void *PeImage::findExport(const char *name) const {
    PeExportDirectory d;
    if (m_export.rva == 0 || !inImage(m_export.rva, sizeof d)) {
        return nullptr;
    }
    std::memcpy(&d, m_base + m_export.rva, sizeof d);
    for (uint32_t i = 0; i < d.number_of_names; ++i) {
        if (!inImage(d.address_of_names + 4 * i, 4) || !inImage(d.address_of_name_ordinals + 2 * i, 2)) {
            return nullptr;
        }
        if (text(word(d.address_of_names + 4 * i)) == name) {
            uint16_t index;
            std::memcpy(&index, m_base + d.address_of_name_ordinals + 2 * i, 2);
            return findExport(static_cast<uint16_t>(index + d.base));
        }
    }
    return nullptr;
}

bool PeImage::query(uintptr_t address, WinMemoryBasicInformation &info) const {
    if (address < base() || address - base() >= m_size) {
        return false;
    }
    const size_t first = (address - base()) / PAGE;
    size_t last = first;
    while (last + 1 < m_page_protection.size() &&
           m_page_protection[last + 1] == m_page_protection[first]) {
        ++last;
    }
    info.base_address = static_cast<uint32_t>(base() + first * PAGE);
    info.allocation_base = static_cast<uint32_t>(base());
    info.allocation_protect = WIN_PAGE_EXECUTE_WRITECOPY;
    info.region_size = static_cast<uint32_t>((last - first + 1) * PAGE);
    info.state = WIN_MEM_COMMIT;
    info.protect = m_page_protection[first];
    info.type = WIN_MEM_IMAGE;
    return true;
}

bool PeImage::protect(uintptr_t address, size_t size, WinDword protection, WinDword &previous) {
    if (address < base() || address - base() >= m_size || size > m_size - (address - base()) ||
        size == 0) {
        return false;
    }
    const size_t first = (address - base()) / PAGE;
    const size_t end = (address - base() + size + PAGE - 1) / PAGE;
    if (mprotect(m_base + first * PAGE, (end - first) * PAGE, posixProtection(protection)) != 0) {
        return false;
    }
    previous = m_page_protection[first];
    for (size_t page = first; page < end; ++page) {
        m_page_protection[page] = protection;
    }
    return true;
}

PeImage *PeImage::containing(uintptr_t address) {
    for (PeImage *image : loadedImages()) {
        if (address >= image->base() && address - image->base() < image->size()) {
            return image;
        }
    }
    return nullptr;
}

PeImage *PeImage::atBase(uintptr_t imageBase) {
    for (PeImage *image : loadedImages()) {
        if (image->base() == imageBase) {
            return image;
        }
    }
    return nullptr;
}

PeImage *PeImage::named(const std::string &moduleName) {
    for (PeImage *image : loadedImages()) {
        const std::string &own = image->moduleName();
        if (strcasecmp(own.c_str(), moduleName.c_str()) == 0 ||
            strcasecmp(own.c_str(), (moduleName + ".dll").c_str()) == 0) {
            return image;
        }
    }
    return nullptr;
}

PeImage *PeImage::first() {
    return loadedImages().empty() ? nullptr : loadedImages().front();
}
