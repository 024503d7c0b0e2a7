#include "ImageHeaders.h"

#include <cstring>

#include "KroError.h"

namespace image {

namespace {

// Copies count bytes at offset out of the headers' bytes, or throws when they lie outside.
void readAt(const BYTE* bytes, std::size_t size, std::size_t offset, void* to, std::size_t count,
            const char* what) {
    if (!liesWithin(offset, count, 0, size)) {
        KRO_THROW("Not a 64-bit Windows image: its " << what << " lie beyond its first " << size << " bytes");
    }
    std::memcpy(to, bytes + offset, count);
}

}  // namespace

ImageHeaders::ImageHeaders(const BYTE* bytes, std::size_t size) {
    IMAGE_DOS_HEADER dos{};
    readAt(bytes, size, 0, &dos, sizeof(dos), "DOS header");
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) {
        KRO_THROW("Not a 64-bit Windows image: no MZ header");
    }
    ntOffset_ = static_cast<DWORD>(dos.e_lfanew);
    readAt(bytes, size, ntOffset_, &nt_, sizeof(nt_), "NT headers");
    if (nt_.Signature != IMAGE_NT_SIGNATURE || nt_.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        KRO_THROW("Not a 64-bit Windows image: no PE32+ headers");
    }
    const std::size_t table =
        ntOffset_ + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt_.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt_.FileHeader.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER header{};
        readAt(bytes, size, table + i * sizeof(header), &header, sizeof(header), "section table");
        const char* name = reinterpret_cast<const char*>(header.Name);
        sections_.push_back(Section{std::string(name, strnlen(name, IMAGE_SIZEOF_SHORT_NAME)),
                                    header.VirtualAddress, header.Misc.VirtualSize, header.PointerToRawData,
                                    header.SizeOfRawData, header.Characteristics});
    }
}

ImageHeaders ImageHeaders::ofModule(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    // A loaded image's headers are all mapped: SizeOfHeaders bytes from its base.
    return ImageHeaders(base, nt->OptionalHeader.SizeOfHeaders);
}

IMAGE_DATA_DIRECTORY ImageHeaders::directory(std::size_t index) const {
    return index < nt_.OptionalHeader.NumberOfRvaAndSizes && index < IMAGE_NUMBEROF_DIRECTORY_ENTRIES
               ? nt_.OptionalHeader.DataDirectory[index]
               : IMAGE_DATA_DIRECTORY{};
}

const Section* ImageHeaders::sectionOf(DWORD rva, DWORD size) const {
    for (const Section& section : sections_) {
        const DWORD extent = section.virtualSize > section.fileSize ? section.virtualSize : section.fileSize;
        if (liesWithin(rva, size, section.rva, extent)) {
            return &section;
        }
    }
    return nullptr;
}

bool ImageHeaders::fileOffsetOf(DWORD rva, DWORD size, DWORD& offset) const {
    const Section* section = sectionOf(rva, size);
    if (section == nullptr || !liesWithin(rva, size, section->rva, section->fileSize)) {
        return false;
    }
    offset = section->fileOffset + (rva - section->rva);
    return true;
}

}  // namespace image
