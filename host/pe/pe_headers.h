// The records of a 32-bit PE image (a Windows DLL) that the loader reads: the headers, the
// section table and the data directories it needs. Read from the file and the mapped image by
// memcpy, never through a cast pointer, since the file gives no alignment guarantee.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

constexpr uint16_t PE_DOS_MAGIC = 0x5A4D;           // "MZ"
constexpr uint32_t PE_SIGNATURE = 0x00004550;       // "PE\0\0"
constexpr uint16_t PE_MACHINE_I386 = 0x014C;
constexpr uint16_t PE_OPTIONAL_MAGIC_PE32 = 0x010B;
constexpr uint16_t PE_FILE_RELOCS_STRIPPED = 0x0001; // characteristics: no base relocations
constexpr uint16_t PE_FILE_DLL = 0x2000;

// Data directory indices.
constexpr uint32_t PE_DIR_EXPORT = 0;
constexpr uint32_t PE_DIR_IMPORT = 1;
constexpr uint32_t PE_DIR_BASERELOC = 5;
constexpr uint32_t PE_DIR_TLS = 9;

// Section characteristics.
constexpr uint32_t PE_SCN_UNINITIALIZED_DATA = 0x00000080;
constexpr uint32_t PE_SCN_MEM_EXECUTE = 0x20000000;
constexpr uint32_t PE_SCN_MEM_READ = 0x40000000;
constexpr uint32_t PE_SCN_MEM_WRITE = 0x80000000;

// Base relocation types (high 4 bits of each entry).
constexpr uint16_t PE_REL_ABSOLUTE = 0; // padding
constexpr uint16_t PE_REL_HIGHLOW = 3;  // add the delta to the 32-bit word

constexpr uint32_t PE_ORDINAL_FLAG32 = 0x80000000; // import thunk names an ordinal

// DllMain reasons.
constexpr uint32_t DLL_PROCESS_DETACH = 0;
constexpr uint32_t DLL_PROCESS_ATTACH = 1;

struct PeDosHeader {
    uint16_t e_magic;    // PE_DOS_MAGIC
    uint16_t unused[29]; // the DOS program's header
    int32_t e_lfanew;    // file offset of the PE signature
};

struct PeFileHeader {
    uint16_t machine;                // PE_MACHINE_I386
    uint16_t number_of_sections;     // entries of the section table
    uint32_t time_date_stamp;        // link time
    uint32_t pointer_to_symbol_table; // COFF symbols, unused
    uint32_t number_of_symbols;      // COFF symbols, unused
    uint16_t size_of_optional_header; // bytes from the optional header to the section table
    uint16_t characteristics;        // PE_FILE_* flags
};

struct PeDataDirectory {
    uint32_t virtual_address; // RVA of the table, 0 when absent
    uint32_t size;            // bytes
};

struct PeOptionalHeader32 {
    uint16_t magic;                  // PE_OPTIONAL_MAGIC_PE32
    uint8_t major_linker_version;    // informative
    uint8_t minor_linker_version;    // informative
    uint32_t size_of_code;           // informative
    uint32_t size_of_initialized_data;   // informative
    uint32_t size_of_uninitialized_data; // informative
    uint32_t address_of_entry_point; // RVA of DllMain's start-up code, 0 for none
    uint32_t base_of_code;           // informative
    uint32_t base_of_data;           // informative
    uint32_t image_base;             // preferred address; the loader relocates elsewhere
    uint32_t section_alignment;      // page size of the mapped image
    uint32_t file_alignment;         // informative
    uint16_t os_version[2];          // informative
    uint16_t image_version[2];       // informative
    uint16_t subsystem_version[2];   // informative
    uint32_t win32_version_value;    // zero
    uint32_t size_of_image;          // bytes mapped, a multiple of section_alignment
    uint32_t size_of_headers;        // bytes of headers at the start of the file and image
    uint32_t check_sum;              // unchecked
    uint16_t subsystem;              // informative
    uint16_t dll_characteristics;    // informative
    uint32_t stack_reserve[2];       // size_of_stack_reserve, size_of_stack_commit
    uint32_t heap_reserve[2];        // size_of_heap_reserve, size_of_heap_commit
    uint32_t loader_flags;           // zero
    uint32_t number_of_rva_and_sizes; // entries of data_directory actually present
    PeDataDirectory data_directory[16];
};

struct PeSectionHeader {
    char name[8];                    // not necessarily zero-terminated
    uint32_t virtual_size;           // bytes in the image; zero-filled past size_of_raw_data
    uint32_t virtual_address;        // RVA
    uint32_t size_of_raw_data;       // bytes in the file
    uint32_t pointer_to_raw_data;    // file offset
    uint32_t pointer_to_relocations; // object files only
    uint32_t pointer_to_linenumbers; // unused
    uint16_t number_of_relocations;  // object files only
    uint16_t number_of_linenumbers;  // unused
    uint32_t characteristics;        // PE_SCN_* flags
};

struct PeImportDescriptor {
    uint32_t original_first_thunk; // RVA of the names (import lookup table); 0: use first_thunk
    uint32_t time_date_stamp;      // zero unless bound
    uint32_t forwarder_chain;      // unused
    uint32_t name;                 // RVA of the DLL's name
    uint32_t first_thunk;          // RVA of the import address table the loader fills
};

struct PeBaseRelocationBlock {
    uint32_t virtual_address; // RVA of the 4 KiB page the entries patch
    uint32_t size_of_block;   // bytes, this header included; 16-bit entries follow
};

struct PeExportDirectory {
    uint32_t characteristics;        // zero
    uint32_t time_date_stamp;        // informative
    uint16_t version[2];             // informative
    uint32_t name;                   // RVA of the DLL's own name
    uint32_t base;                   // first ordinal
    uint32_t number_of_functions;    // entries of the address table
    uint32_t number_of_names;        // entries of the name and ordinal tables
    uint32_t address_of_functions;   // RVA of the export address table (RVAs)
    uint32_t address_of_names;       // RVA of the name pointer table (RVAs), sorted
    uint32_t address_of_name_ordinals; // RVA of 16-bit indices into the address table
};

struct PeTlsDirectory32 {
    uint32_t start_address_of_raw_data; // VA of the template of the thread's TLS block
    uint32_t end_address_of_raw_data;   // VA one past it
    uint32_t address_of_index;          // VA of the 32-bit word the loader writes the slot to
    uint32_t address_of_callbacks;      // VA of a null-terminated array of callback VAs
    uint32_t size_of_zero_fill;         // bytes of zeros after the template
    uint32_t characteristics;           // alignment, unused
};

#define TARN_PE_RECORD(T)                                                                          \
    static_assert(std::is_standard_layout<T>::value && std::is_trivially_copyable<T>::value,       \
                  #T " is a file record")
TARN_PE_RECORD(PeDosHeader);
TARN_PE_RECORD(PeFileHeader);
TARN_PE_RECORD(PeOptionalHeader32);
TARN_PE_RECORD(PeSectionHeader);
TARN_PE_RECORD(PeImportDescriptor);
TARN_PE_RECORD(PeExportDirectory);
TARN_PE_RECORD(PeTlsDirectory32);
#undef TARN_PE_RECORD
static_assert(sizeof(PeDosHeader) == 64 && offsetof(PeDosHeader, e_lfanew) == 60, "DOS header");
static_assert(sizeof(PeFileHeader) == 20, "COFF file header");
static_assert(sizeof(PeOptionalHeader32) == 224, "PE32 optional header");
static_assert(offsetof(PeOptionalHeader32, address_of_entry_point) == 16, "PE32 optional header");
static_assert(offsetof(PeOptionalHeader32, image_base) == 28, "PE32 optional header");
static_assert(offsetof(PeOptionalHeader32, size_of_image) == 56, "PE32 optional header");
static_assert(offsetof(PeOptionalHeader32, number_of_rva_and_sizes) == 92, "PE32 optional header");
static_assert(offsetof(PeOptionalHeader32, data_directory) == 96, "PE32 optional header");
static_assert(sizeof(PeSectionHeader) == 40, "section header");
static_assert(offsetof(PeSectionHeader, characteristics) == 36, "section header");
static_assert(sizeof(PeImportDescriptor) == 20, "import descriptor");
static_assert(sizeof(PeBaseRelocationBlock) == 8, "base relocation block");
static_assert(sizeof(PeExportDirectory) == 40, "export directory");
static_assert(offsetof(PeExportDirectory, address_of_name_ordinals) == 36, "export directory");
static_assert(sizeof(PeTlsDirectory32) == 24, "TLS directory");
