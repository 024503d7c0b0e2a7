#include "LoaderWrites.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "KroError.h"

namespace image {

namespace {

// The loaded image's bytes, read with a bounds check against its size in memory.
class LoadedBytes {
public:
    LoadedBytes(HMODULE module, const ImageHeaders& headers)
        : base(reinterpret_cast<const BYTE*>(module)), size(headers.nt().OptionalHeader.SizeOfImage) {}

    template <class T>
    T at(ULONGLONG rva, const char* table) const {
        if (!liesWithin(rva, sizeof(T), 0, size)) {
            KRO_THROW("The running image's " << table << " lies outside the image");
        }
        T value;
        std::memcpy(&value, base + rva, sizeof(T));
        return value;
    }
    // The address a pointer stored in the image names, as an offset from the image's start.
    ULONGLONG rvaOf(ULONGLONG address, const char* table) const {
        const auto start = reinterpret_cast<ULONGLONG>(base);
        if (address < start || address - start >= size) {
            KRO_THROW("The running image's " << table << " points outside the image");
        }
        return address - start;
    }

private:
    const BYTE* base;
    ULONGLONG size;
};

void addRelocations(const LoadedBytes& image, const IMAGE_DATA_DIRECTORY& directory,
                    std::vector<LoaderWrite>& writes) {
    const char* table = "relocation table";
    ULONGLONG block = directory.VirtualAddress;
    const ULONGLONG end = block + directory.Size;
    while (block + sizeof(IMAGE_BASE_RELOCATION) <= end) {
        const auto header = image.at<IMAGE_BASE_RELOCATION>(block, table);
        if (header.SizeOfBlock < sizeof(header) || header.SizeOfBlock > end - block) {
            KRO_THROW("The running image's relocation block at " << block << " has a size of "
                                                                 << header.SizeOfBlock);
        }
        for (ULONGLONG entry = block + sizeof(header); entry + sizeof(WORD) <= block + header.SizeOfBlock;
             entry += sizeof(WORD)) {
            const WORD value = image.at<WORD>(entry, table);
            const DWORD rva = header.VirtualAddress + (value & 0x0FFF);
            switch (value >> 12) {
                case IMAGE_REL_BASED_ABSOLUTE:  // padding
                    break;
                case IMAGE_REL_BASED_HIGHLOW:
                    writes.push_back({rva, 4, LoaderWrite::Relocation, 0});
                    break;
                case IMAGE_REL_BASED_DIR64:
                    writes.push_back({rva, 8, LoaderWrite::Relocation, 0});
                    break;
                default:
                    KRO_THROW("The running image's relocation at " << rva << " is of kind " << (value >> 12)
                                                                   << ", which a copy can't be checked for");
            }
        }
        block += header.SizeOfBlock;
    }
}

void addImportSlots(const LoadedBytes& image, const IMAGE_DATA_DIRECTORY& directory,
                    std::vector<LoaderWrite>& writes) {
    const char* table = "import table";
    for (ULONGLONG at = directory.VirtualAddress; directory.VirtualAddress != 0;
         at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto library = image.at<IMAGE_IMPORT_DESCRIPTOR>(at, table);
        if (library.Name == 0 && library.FirstThunk == 0) {
            return;
        }
        if (library.OriginalFirstThunk == 0) {
            KRO_THROW("The running image's import at " << at
                                                       << " has no lookup table: its slots can't be checked");
        }
        for (DWORD i = 0;; ++i) {
            const auto lookup = image.at<ULONGLONG>(library.OriginalFirstThunk + ULONGLONG{i} * 8, table);
            if (lookup == 0) {
                break;
            }
            writes.push_back({library.FirstThunk + i * 8, 8, LoaderWrite::ImportSlot, lookup});
        }
    }
}

}  // namespace

DWORD imageBaseRva(const ImageHeaders& headers) {
    return headers.ntOffset() + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
           offsetof(IMAGE_OPTIONAL_HEADER64, ImageBase);
}

std::vector<LoaderWrite> loaderWritesOf(HMODULE module) {
    const ImageHeaders headers = ImageHeaders::ofModule(module);
    const LoadedBytes image(module, headers);
    std::vector<LoaderWrite> writes;
    addRelocations(image, headers.directory(IMAGE_DIRECTORY_ENTRY_BASERELOC), writes);
    addImportSlots(image, headers.directory(IMAGE_DIRECTORY_ENTRY_IMPORT), writes);
    const IMAGE_DATA_DIRECTORY tls = headers.directory(IMAGE_DIRECTORY_ENTRY_TLS);
    if (tls.VirtualAddress != 0) {
        const auto directory = image.at<IMAGE_TLS_DIRECTORY64>(tls.VirtualAddress, "TLS directory");
        if (directory.AddressOfIndex != 0) {
            const auto rva = static_cast<DWORD>(image.rvaOf(directory.AddressOfIndex, "TLS directory"));
            writes.push_back({rva, 4, LoaderWrite::TlsIndex, 0});
        }
    }
    const IMAGE_DATA_DIRECTORY config = headers.directory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG);
    if (config.VirtualAddress != 0) {
        const auto directory =
            image.at<IMAGE_LOAD_CONFIG_DIRECTORY64>(config.VirtualAddress, "load configuration");
        if (directory.Size >= offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, SEHandlerTable) &&
            directory.SecurityCookie != 0) {
            const auto rva = static_cast<DWORD>(image.rvaOf(directory.SecurityCookie, "load configuration"));
            writes.push_back({rva, 8, LoaderWrite::SecurityCookie, 0});
        }
    }
    writes.push_back({imageBaseRva(headers), 8, LoaderWrite::ImageBase, 0});
    std::sort(writes.begin(), writes.end(),
              [](const LoaderWrite& a, const LoaderWrite& b) { return a.rva < b.rva; });
    return writes;
}

}  // namespace image
