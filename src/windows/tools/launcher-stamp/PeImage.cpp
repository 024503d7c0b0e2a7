#include "PeImage.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "Layout.h"
#include "StampError.h"

namespace stamp {

namespace {

// The loader maps no image of 2 GiB or more.
constexpr std::uint64_t IMAGE_SIZE_LIMIT = 0x80000000ull;
// Signers pad the certificate table to eight bytes.
constexpr std::uint64_t CERTIFICATE_PADDING = 8;
// The format's limits for the file alignment, and the smallest section alignment of an image with pages of
// its own for each section (as every linker makes for a program).
constexpr std::uint32_t SMALLEST_FILE_ALIGNMENT = 512;
constexpr std::uint32_t LARGEST_FILE_ALIGNMENT = 0x10000;
constexpr std::uint32_t PAGE_SIZE = 0x1000;

bool isPowerOfTwo(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

std::uint64_t memorySize(const IMAGE_SECTION_HEADER& section) {
    return section.Misc.VirtualSize != 0 ? section.Misc.VirtualSize : section.SizeOfRawData;
}

}  // namespace

PeImage::PeImage(const InputFile& file) : file_(file) {
    IMAGE_DOS_HEADER dos{};
    if (file.size() < sizeof dos) {
        reject("it is not a Windows executable");
    }
    file.readInto(0, &dos, sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0 ||
        static_cast<std::uint64_t>(dos.e_lfanew) + sizeof nt_ > file.size()) {
        reject("it is not a Windows executable");
    }
    ntOffset_ = static_cast<std::uint32_t>(dos.e_lfanew);
    file.readInto(ntOffset_, &nt_, sizeof nt_);
    const IMAGE_OPTIONAL_HEADER64& optional = nt_.OptionalHeader;
    if (nt_.Signature != IMAGE_NT_SIGNATURE || nt_.FileHeader.Machine != IMAGE_FILE_MACHINE_AMD64 ||
        optional.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC ||
        nt_.FileHeader.SizeOfOptionalHeader != sizeof(IMAGE_OPTIONAL_HEADER64) ||
        optional.NumberOfRvaAndSizes != IMAGE_NUMBEROF_DIRECTORY_ENTRIES) {
        reject("it is not a 64-bit Windows executable");
    }
    const std::uint32_t fileAlignment = optional.FileAlignment;
    const std::uint32_t sectionAlignment = optional.SectionAlignment;
    if (!isPowerOfTwo(fileAlignment) || fileAlignment < SMALLEST_FILE_ALIGNMENT ||
        fileAlignment > LARGEST_FILE_ALIGNMENT || !isPowerOfTwo(sectionAlignment) ||
        sectionAlignment < PAGE_SIZE || sectionAlignment < fileAlignment) {
        reject(
            "its alignments are not a program's (file: a power of two from 512 bytes to 64 KiB; "
            "sections: a power of two, a page or more, no less than the file's)");
    }
    sectionTableOffset_ = ntOffset_ + sizeof nt_;
    const std::size_t sectionCount = nt_.FileHeader.NumberOfSections;
    if (sectionTableOffset_ + sectionCount * sizeof(IMAGE_SECTION_HEADER) > optional.SizeOfHeaders ||
        optional.SizeOfHeaders > file.size() || optional.SizeOfHeaders % fileAlignment != 0) {
        reject("its section table lies outside its headers");
    }
    headers_ = file.read(0, optional.SizeOfHeaders);
    sections_.resize(sectionCount);
    std::memcpy(sections_.data(), headers_.data() + sectionTableOffset_,
                sectionCount * sizeof(IMAGE_SECTION_HEADER));

    const IMAGE_DATA_DIRECTORY* directories = optional.DataDirectory;
    const std::uint32_t resources = directories[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    const auto found =
        std::find_if(sections_.begin(), sections_.end(), [&](const IMAGE_SECTION_HEADER& section) {
            return resources != 0 && section.VirtualAddress == resources;
        });
    if (found == sections_.end()) {
        reject("it has no resource section");
    }
    resourceIndex_ = static_cast<std::size_t>(found - sections_.begin());
    const DWORD readableData = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;
    if ((found->Characteristics & readableData) != readableData ||
        (found->Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0) {
        reject("its resource section is not readable data");
    }

    // Sections follow the headers and each other in memory, each on its alignment, and the image ends where
    // the last one does.
    std::uint64_t memoryEnd = optional.SizeOfHeaders;
    for (const IMAGE_SECTION_HEADER& section : sections_) {
        if (section.VirtualAddress % sectionAlignment != 0 || section.VirtualAddress < memoryEnd) {
            reject("its sections overlap or are out of order in memory");
        }
        memoryEnd = alignUp(static_cast<std::uint64_t>(section.VirtualAddress) + memorySize(section),
                            sectionAlignment);
    }
    if (memoryEnd != optional.SizeOfImage || memoryEnd >= IMAGE_SIZE_LIMIT) {
        reject("its size in memory does not match its sections");
    }
    std::uint64_t rawEnd = optional.SizeOfHeaders;
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const IMAGE_SECTION_HEADER& section = sections_[i];
        // Sections behind the resources move; only the base relocations may (nothing refers to them but
        // their directory entry).
        const std::uint32_t relocations = directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].VirtualAddress;
        if (i > resourceIndex_ && (relocations < section.VirtualAddress ||
                                   relocations >= section.VirtualAddress + memorySize(section))) {
            reject("a section other than the base relocations follows its resources");
        }
        if (section.SizeOfRawData == 0) {
            // A section with no bytes in the file (uninitialised data) points nowhere.
            if (section.PointerToRawData != 0) {
                reject("its sections are out of order or truncated");
            }
            continue;
        }
        if (section.PointerToRawData < rawEnd || section.PointerToRawData % fileAlignment != 0 ||
            section.SizeOfRawData % fileAlignment != 0 ||
            static_cast<std::uint64_t>(section.PointerToRawData) + section.SizeOfRawData > file.size()) {
            reject("its sections are out of order or truncated");
        }
        rawEnd = static_cast<std::uint64_t>(section.PointerToRawData) + section.SizeOfRawData;
    }
    for (int entry = 0; entry < IMAGE_NUMBEROF_DIRECTORY_ENTRIES; ++entry) {
        const IMAGE_DATA_DIRECTORY& directory = directories[entry];
        if (entry == IMAGE_DIRECTORY_ENTRY_RESOURCE || entry == IMAGE_DIRECTORY_ENTRY_SECURITY ||
            entry == IMAGE_DIRECTORY_ENTRY_BASERELOC || directory.VirtualAddress == 0) {
            continue;
        }
        if (static_cast<std::uint64_t>(directory.VirtualAddress) + directory.Size > resourceRva()) {
            reject("data the loader needs lies behind its resources");
        }
    }
    // Behind the last section only a signature may follow.
    if (file.size() > rawEnd) {
        const IMAGE_DATA_DIRECTORY& certificates = directories[IMAGE_DIRECTORY_ENTRY_SECURITY];
        const std::uint64_t certificatesEnd =
            static_cast<std::uint64_t>(certificates.VirtualAddress) + certificates.Size;
        if (certificates.VirtualAddress < rawEnd || certificatesEnd > file.size() ||
            file.size() - certificatesEnd >= CERTIFICATE_PADDING) {
            reject("data is appended behind its last section");
        }
    }
}

bool PeImage::isSigned() const {
    return nt_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size != 0;
}

std::uint64_t PeImage::checksumOffset() const {
    return ntOffset_ + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
           offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum);
}

void PeImage::reject(const char* why) const {
    throw notOurLauncher(file_.path(), why);
}

PeImage::Plan PeImage::planFor(std::uint64_t resourceSize) const {
    Plan plan{headers_, sections_};
    IMAGE_NT_HEADERS64 nt = nt_;
    IMAGE_OPTIONAL_HEADER64& optional = nt.OptionalHeader;
    IMAGE_SECTION_HEADER& resources = plan.sections[resourceIndex_];

    const std::uint64_t rawSize = alignUp(resourceSize, optional.FileAlignment);
    std::uint64_t nextRva = alignUp(resources.VirtualAddress + resourceSize, optional.SectionAlignment);
    std::uint64_t nextOffset = resources.PointerToRawData + rawSize;
    optional.SizeOfInitializedData += static_cast<std::uint32_t>(rawSize - resources.SizeOfRawData);
    resources.Misc.VirtualSize = static_cast<std::uint32_t>(resourceSize);
    // Nothing writes resources: a read-only section lets Wine map the payload shared instead of private.
    resources.Characteristics &= ~static_cast<DWORD>(IMAGE_SCN_MEM_WRITE);
    resources.SizeOfRawData = static_cast<std::uint32_t>(rawSize);
    optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].Size = static_cast<std::uint32_t>(resourceSize);

    IMAGE_DATA_DIRECTORY& relocations = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    for (std::size_t i = resourceIndex_ + 1; i < plan.sections.size(); ++i) {
        IMAGE_SECTION_HEADER& section = plan.sections[i];
        relocations.VirtualAddress =
            static_cast<std::uint32_t>(nextRva + relocations.VirtualAddress - section.VirtualAddress);
        section.VirtualAddress = static_cast<std::uint32_t>(nextRva);
        if (section.SizeOfRawData != 0) {
            section.PointerToRawData = static_cast<std::uint32_t>(nextOffset);
        }
        nextRva = alignUp(nextRva + memorySize(section), optional.SectionAlignment);
        nextOffset += section.SizeOfRawData;
    }
    if (nextRva >= IMAGE_SIZE_LIMIT) {
        throw BadInput(tstrings::TextBuilder()
                       << "OUT would exceed 2 GiB: its resources (the payload, the icon and the rest) "
                          "come to "
                       << resourceSize << " bytes");
    }
    optional.SizeOfImage = static_cast<std::uint32_t>(nextRva);
    optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY] = IMAGE_DATA_DIRECTORY{};
    optional.CheckSum = 0;

    std::memcpy(plan.headers.data() + ntOffset_, &nt, sizeof nt);
    std::memcpy(plan.headers.data() + sectionTableOffset_, plan.sections.data(),
                plan.sections.size() * sizeof(IMAGE_SECTION_HEADER));
    return plan;
}

void PeImage::writeRest(OutputFile& out, const Plan& plan) const {
    const IMAGE_SECTION_HEADER& resources = plan.sections[resourceIndex_];
    out.padTo(static_cast<std::uint64_t>(resources.PointerToRawData) + resources.SizeOfRawData);
    for (std::size_t i = resourceIndex_ + 1; i < sections_.size(); ++i) {
        out.copyFrom(file_, sections_[i].PointerToRawData, sections_[i].SizeOfRawData);
    }
    const std::uint32_t checksum = out.imageChecksum();
    out.overwrite(checksumOffset(), &checksum, sizeof checksum);
}

}  // namespace stamp
