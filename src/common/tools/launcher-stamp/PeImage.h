// The layout of a 64-bit Windows image as far as replacing its resources needs it: the headers, the section
// table, and where the resource section lies. Replacing resources rewrites the resource section and moves
// the sections behind it, which only the base relocations may be.
#pragma once

#include <cstdint>
#include <vector>

#include "ImageFormat.h"
#include "InputBytes.h"
#include "OutputFile.h"

namespace stamp {

class PeImage {
public:
    // Reads and checks the headers. An image the tool can't rewrite is BadInput naming role.
    explicit PeImage(const InputBytes& file);

    std::uint32_t resourceRva() const { return sections_[resourceIndex_].virtualAddress; }
    // The resource section's bytes in the file.
    std::uint64_t resourceOffset() const { return sections_[resourceIndex_].pointerToRawData; }
    std::uint32_t resourceSize() const { return sections_[resourceIndex_].sizeOfRawData; }
    // True when the image carries a signature (a certificate table), which rewriting drops.
    bool isSigned() const;

    // Writes the image with its resource section replaced by resourceSize bytes that writeResources emits,
    // the sections behind it moved, the signature dropped and the checksum set. A result too large for an
    // image is BadInput.
    template <class WriteResources>
    void write(OutputFile& out, std::uint64_t resourceSize, WriteResources writeResources) const {
        const Plan plan = planFor(resourceSize);
        out.write(plan.headers);
        out.copyFrom(file_, headerSize(), resourceOffset() - headerSize());
        writeResources(out);
        writeRest(out, plan);
    }

private:
    struct Plan {
        std::vector<std::uint8_t> headers;
        std::vector<image::SectionHeader> sections;
    };

    Plan planFor(std::uint64_t resourceSize) const;
    void writeRest(OutputFile& out, const Plan& plan) const;
    std::uint64_t headerSize() const { return nt_.optionalHeader.sizeOfHeaders; }
    std::uint64_t checksumOffset() const;
    [[noreturn]] void reject(const char* why) const;

    const InputBytes& file_;
    std::vector<std::uint8_t> headers_;
    std::uint32_t ntOffset_ = 0;
    image::NtHeaders64 nt_{};
    std::vector<image::SectionHeader> sections_;
    std::size_t sectionTableOffset_ = 0;
    std::size_t resourceIndex_ = 0;
};

}  // namespace stamp
