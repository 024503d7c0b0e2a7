// The structures of a Windows image that the tool reads and writes, as the image stores them: packed,
// little-endian, in the field order of the format. Defined here so that the tool builds on any system; the
// size checks below hold the layout to the format.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "The image structures are read in place: the tool needs a little-endian host."
#endif

namespace stamp::image {

constexpr std::uint16_t DOS_SIGNATURE = 0x5A4D;     // "MZ"
constexpr std::uint32_t NT_SIGNATURE = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t MACHINE_AMD64 = 0x8664;
constexpr std::uint16_t OPTIONAL_MAGIC_32 = 0x10B;
constexpr std::uint16_t OPTIONAL_MAGIC_64 = 0x20B;
constexpr std::uint32_t DIRECTORY_COUNT = 16;

// Indexes into the data directories.
constexpr std::size_t DIRECTORY_RESOURCE = 2;
constexpr std::size_t DIRECTORY_SECURITY = 4;  // the certificate table: its address is a file offset
constexpr std::size_t DIRECTORY_BASERELOC = 5;

// Section characteristics.
constexpr std::uint32_t SECTION_INITIALIZED_DATA = 0x00000040;
constexpr std::uint32_t SECTION_EXECUTE = 0x20000000;
constexpr std::uint32_t SECTION_READ = 0x40000000;
constexpr std::uint32_t SECTION_WRITE = 0x80000000;

struct DosHeader {
    std::uint16_t magic;
    std::uint16_t unused[29];
    std::int32_t newHeaderOffset;  // where the NT headers start
};

struct FileHeader {
    std::uint16_t machine;
    std::uint16_t numberOfSections;
    std::uint32_t timeDateStamp;
    std::uint32_t pointerToSymbolTable;
    std::uint32_t numberOfSymbols;
    std::uint16_t sizeOfOptionalHeader;
    std::uint16_t characteristics;
};

struct DataDirectory {
    std::uint32_t virtualAddress;
    std::uint32_t size;
};

struct OptionalHeader64 {
    std::uint16_t magic;
    std::uint8_t majorLinkerVersion;
    std::uint8_t minorLinkerVersion;
    std::uint32_t sizeOfCode;
    std::uint32_t sizeOfInitializedData;
    std::uint32_t sizeOfUninitializedData;
    std::uint32_t addressOfEntryPoint;
    std::uint32_t baseOfCode;
    std::uint64_t imageBase;
    std::uint32_t sectionAlignment;
    std::uint32_t fileAlignment;
    std::uint16_t operatingSystemVersion[2];
    std::uint16_t imageVersion[2];
    std::uint16_t subsystemVersion[2];
    std::uint32_t win32VersionValue;
    std::uint32_t sizeOfImage;
    std::uint32_t sizeOfHeaders;
    std::uint32_t checkSum;
    std::uint16_t subsystem;
    std::uint16_t dllCharacteristics;
    std::uint64_t sizeOfStackReserve;
    std::uint64_t sizeOfStackCommit;
    std::uint64_t sizeOfHeapReserve;
    std::uint64_t sizeOfHeapCommit;
    std::uint32_t loaderFlags;
    std::uint32_t numberOfRvaAndSizes;
    DataDirectory dataDirectory[DIRECTORY_COUNT];
};

struct NtHeaders64 {
    std::uint32_t signature;
    FileHeader fileHeader;
    OptionalHeader64 optionalHeader;
};

struct SectionHeader {
    char name[8];
    std::uint32_t virtualSize;
    std::uint32_t virtualAddress;
    std::uint32_t sizeOfRawData;
    std::uint32_t pointerToRawData;
    std::uint32_t pointerToRelocations;
    std::uint32_t pointerToLinenumbers;
    std::uint16_t numberOfRelocations;
    std::uint16_t numberOfLinenumbers;
    std::uint32_t characteristics;
};

// The resource section: directories of entries, whose targets are subdirectories or data entries.
struct ResourceDirectory {
    std::uint32_t characteristics;
    std::uint32_t timeDateStamp;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    std::uint16_t numberOfNamedEntries;
    std::uint16_t numberOfIdEntries;
};

struct ResourceDirectoryEntry {
    std::uint32_t name;          // a number, or with the top bit the offset of a counted UTF-16 name
    std::uint32_t offsetToData;  // with the top bit a subdirectory, else a data entry
};

struct ResourceDataEntry {
    std::uint32_t offsetToData;  // an RVA
    std::uint32_t size;
    std::uint32_t codePage;
    std::uint32_t reserved;
};

// The fixed part of a version block.
struct FixedFileInfo {
    std::uint32_t signature;
    std::uint32_t structureVersion;
    std::uint32_t fileVersionMS;
    std::uint32_t fileVersionLS;
    std::uint32_t productVersionMS;
    std::uint32_t productVersionLS;
    std::uint32_t fileFlagsMask;
    std::uint32_t fileFlags;
    std::uint32_t fileOS;
    std::uint32_t fileType;
    std::uint32_t fileSubtype;
    std::uint32_t fileDateMS;
    std::uint32_t fileDateLS;
};

static_assert(sizeof(DosHeader) == 64 && offsetof(DosHeader, newHeaderOffset) == 60);
static_assert(sizeof(FileHeader) == 20);
static_assert(sizeof(OptionalHeader64) == 240 && offsetof(OptionalHeader64, checkSum) == 64 &&
              offsetof(OptionalHeader64, dataDirectory) == 112);
static_assert(sizeof(NtHeaders64) == 264 && offsetof(NtHeaders64, optionalHeader) == 24);
static_assert(sizeof(SectionHeader) == 40);
static_assert(sizeof(ResourceDirectory) == 16 && sizeof(ResourceDirectoryEntry) == 8 &&
              sizeof(ResourceDataEntry) == 16);
static_assert(sizeof(FixedFileInfo) == 52);

}  // namespace stamp::image
