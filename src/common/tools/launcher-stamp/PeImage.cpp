#include "PeImage.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

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

std::uint64_t memorySize(const image::SectionHeader& section) {
    return section.virtualSize != 0 ? section.virtualSize : section.sizeOfRawData;
}

}  // namespace

PeImage::PeImage(const InputBytes& file) : file_(file) {
    image::DosHeader dos{};
    if (file.size() < sizeof dos) {
        reject("it is not a Windows executable");
    }
    file.readInto(0, &dos, sizeof dos);
    if (dos.magic != image::DOS_SIGNATURE || dos.newHeaderOffset <= 0 ||
        static_cast<std::uint64_t>(dos.newHeaderOffset) + sizeof nt_ > file.size()) {
        reject("it is not a Windows executable");
    }
    ntOffset_ = static_cast<std::uint32_t>(dos.newHeaderOffset);
    file.readInto(ntOffset_, &nt_, sizeof nt_);
    const image::OptionalHeader64& optional = nt_.optionalHeader;
    if (nt_.signature != image::NT_SIGNATURE || nt_.fileHeader.machine != image::MACHINE_AMD64 ||
        optional.magic != image::OPTIONAL_MAGIC_64 ||
        nt_.fileHeader.sizeOfOptionalHeader != sizeof(image::OptionalHeader64) ||
        optional.numberOfRvaAndSizes != image::DIRECTORY_COUNT) {
        reject("it is not a 64-bit Windows executable");
    }
    const std::uint32_t fileAlignment = optional.fileAlignment;
    const std::uint32_t sectionAlignment = optional.sectionAlignment;
    if (!isPowerOfTwo(fileAlignment) || fileAlignment < SMALLEST_FILE_ALIGNMENT ||
        fileAlignment > LARGEST_FILE_ALIGNMENT || !isPowerOfTwo(sectionAlignment) ||
        sectionAlignment < PAGE_SIZE || sectionAlignment < fileAlignment) {
        reject(
            "its alignments are not a program's (file: a power of two from 512 bytes to 64 KiB; "
            "sections: a power of two, a page or more, no less than the file's)");
    }
    sectionTableOffset_ = ntOffset_ + sizeof nt_;
    const std::size_t sectionCount = nt_.fileHeader.numberOfSections;
    if (sectionTableOffset_ + sectionCount * sizeof(image::SectionHeader) > optional.sizeOfHeaders ||
        optional.sizeOfHeaders > file.size() || optional.sizeOfHeaders % fileAlignment != 0) {
        reject("its section table lies outside its headers");
    }
    headers_ = file.read(0, optional.sizeOfHeaders);
    sections_.resize(sectionCount);
    if (sectionCount != 0) {  // an image without sections has no table to copy, and no resources
        std::memcpy(sections_.data(), headers_.data() + sectionTableOffset_,
                    sectionCount * sizeof(image::SectionHeader));
    }

    const image::DataDirectory* directories = optional.dataDirectory;
    const std::uint32_t resources = directories[image::DIRECTORY_RESOURCE].virtualAddress;
    const auto found =
        std::find_if(sections_.begin(), sections_.end(), [&](const image::SectionHeader& section) {
            return resources != 0 && section.virtualAddress == resources;
        });
    if (found == sections_.end()) {
        reject("it has no resource section");
    }
    resourceIndex_ = static_cast<std::size_t>(found - sections_.begin());
    const std::uint32_t readableData = image::SECTION_INITIALIZED_DATA | image::SECTION_READ;
    if ((found->characteristics & readableData) != readableData ||
        (found->characteristics & image::SECTION_EXECUTE) != 0) {
        reject("its resource section is not readable data");
    }

    // Sections follow the headers and each other in memory, each on its alignment, and the image ends where
    // the last one does.
    std::uint64_t memoryEnd = optional.sizeOfHeaders;
    for (const image::SectionHeader& section : sections_) {
        if (section.virtualAddress % sectionAlignment != 0 || section.virtualAddress < memoryEnd) {
            reject("its sections overlap or are out of order in memory");
        }
        memoryEnd = alignUp(static_cast<std::uint64_t>(section.virtualAddress) + memorySize(section),
                            sectionAlignment);
    }
    if (memoryEnd != optional.sizeOfImage || memoryEnd >= IMAGE_SIZE_LIMIT) {
        reject("its size in memory does not match its sections");
    }
    std::uint64_t rawEnd = optional.sizeOfHeaders;
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const image::SectionHeader& section = sections_[i];
        // Sections behind the resources move; only the base relocations may (nothing refers to them but
        // their directory entry).
        const std::uint32_t relocations = directories[image::DIRECTORY_BASERELOC].virtualAddress;
        if (i > resourceIndex_ && (relocations < section.virtualAddress ||
                                   relocations >= section.virtualAddress + memorySize(section))) {
            reject("a section other than the base relocations follows its resources");
        }
        if (section.sizeOfRawData == 0) {
            // A section with no bytes in the file (uninitialised data) points nowhere.
            if (section.pointerToRawData != 0) {
                reject("its sections are out of order or truncated");
            }
            continue;
        }
        if (section.pointerToRawData < rawEnd || section.pointerToRawData % fileAlignment != 0 ||
            section.sizeOfRawData % fileAlignment != 0 ||
            static_cast<std::uint64_t>(section.pointerToRawData) + section.sizeOfRawData > file.size()) {
            reject("its sections are out of order or truncated");
        }
        rawEnd = static_cast<std::uint64_t>(section.pointerToRawData) + section.sizeOfRawData;
    }
    for (std::size_t entry = 0; entry < image::DIRECTORY_COUNT; ++entry) {
        const image::DataDirectory& directory = directories[entry];
        if (entry == image::DIRECTORY_RESOURCE || entry == image::DIRECTORY_SECURITY ||
            entry == image::DIRECTORY_BASERELOC || directory.virtualAddress == 0) {
            continue;
        }
        if (static_cast<std::uint64_t>(directory.virtualAddress) + directory.size > resourceRva()) {
            reject("data the loader needs lies behind its resources");
        }
    }
    // Behind the last section only a signature may follow.
    if (file.size() > rawEnd) {
        const image::DataDirectory& certificates = directories[image::DIRECTORY_SECURITY];
        const std::uint64_t certificatesEnd =
            static_cast<std::uint64_t>(certificates.virtualAddress) + certificates.size;
        if (certificates.virtualAddress < rawEnd || certificatesEnd > file.size() ||
            file.size() - certificatesEnd >= CERTIFICATE_PADDING) {
            reject("data is appended behind its last section");
        }
    }
}

bool PeImage::isSigned() const {
    return nt_.optionalHeader.dataDirectory[image::DIRECTORY_SECURITY].size != 0;
}

std::uint64_t PeImage::checksumOffset() const {
    return ntOffset_ + offsetof(image::NtHeaders64, optionalHeader) +
           offsetof(image::OptionalHeader64, checkSum);
}

void PeImage::reject(const char* why) const {
    throw notOurLauncher(file_.path(), why);
}

PeImage::Plan PeImage::planFor(std::uint64_t resourceSize) const {
    Plan plan{headers_, sections_};
    image::NtHeaders64 nt = nt_;
    image::OptionalHeader64& optional = nt.optionalHeader;
    image::SectionHeader& resources = plan.sections[resourceIndex_];

    const std::uint64_t rawSize = alignUp(resourceSize, optional.fileAlignment);
    std::uint64_t nextRva = alignUp(resources.virtualAddress + resourceSize, optional.sectionAlignment);
    std::uint64_t nextOffset = resources.pointerToRawData + rawSize;
    optional.sizeOfInitializedData += static_cast<std::uint32_t>(rawSize - resources.sizeOfRawData);
    resources.virtualSize = static_cast<std::uint32_t>(resourceSize);
    // Nothing writes resources: a read-only section lets Wine map the payload shared instead of private.
    resources.characteristics &= ~static_cast<std::uint32_t>(image::SECTION_WRITE);
    resources.sizeOfRawData = static_cast<std::uint32_t>(rawSize);
    optional.dataDirectory[image::DIRECTORY_RESOURCE].size = static_cast<std::uint32_t>(resourceSize);

    image::DataDirectory& relocations = optional.dataDirectory[image::DIRECTORY_BASERELOC];
    for (std::size_t i = resourceIndex_ + 1; i < plan.sections.size(); ++i) {
        image::SectionHeader& section = plan.sections[i];
        relocations.virtualAddress =
            static_cast<std::uint32_t>(nextRva + relocations.virtualAddress - section.virtualAddress);
        section.virtualAddress = static_cast<std::uint32_t>(nextRva);
        if (section.sizeOfRawData != 0) {
            section.pointerToRawData = static_cast<std::uint32_t>(nextOffset);
        }
        nextRva = alignUp(nextRva + memorySize(section), optional.sectionAlignment);
        nextOffset += section.sizeOfRawData;
    }
    if (nextRva >= IMAGE_SIZE_LIMIT) {
        throw BadInput("OUT would exceed 2 GiB: its resources (the payload, the icon and the rest) come to " +
                       std::to_string(resourceSize) + " bytes");
    }
    optional.sizeOfImage = static_cast<std::uint32_t>(nextRva);
    optional.dataDirectory[image::DIRECTORY_SECURITY] = image::DataDirectory{};
    optional.checkSum = 0;

    std::memcpy(plan.headers.data() + ntOffset_, &nt, sizeof nt);
    std::memcpy(plan.headers.data() + sectionTableOffset_, plan.sections.data(),
                plan.sections.size() * sizeof(image::SectionHeader));
    return plan;
}

void PeImage::writeRest(OutputFile& out, const Plan& plan) const {
    const image::SectionHeader& resources = plan.sections[resourceIndex_];
    out.padTo(static_cast<std::uint64_t>(resources.pointerToRawData) + resources.sizeOfRawData);
    for (std::size_t i = resourceIndex_ + 1; i < sections_.size(); ++i) {
        out.copyFrom(file_, sections_[i].pointerToRawData, sections_[i].sizeOfRawData);
    }
    const std::uint32_t checksum = out.imageChecksum();
    out.overwrite(checksumOffset(), &checksum, sizeof checksum);
}

}  // namespace stamp
