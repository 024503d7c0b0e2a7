// An image's resources as a tree of type, name and language, read from a resource section and written back
// as a new one. Leaves refer to their bytes where they lie, in memory or in a file, so a payload of any size
// is copied through, never held.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "InputBytes.h"
#include "OutputFile.h"

namespace stamp {

// A resource's type, name or language: a text or a number. Texts sort before numbers, as the section stores
// them.
using ResourceId = std::variant<std::u16string, std::uint16_t>;

// The numbered resource types the tool edits.
constexpr std::uint16_t TYPE_ICON = 3;
constexpr std::uint16_t TYPE_RCDATA = 10;
constexpr std::uint16_t TYPE_GROUP_ICON = 14;
constexpr std::uint16_t TYPE_VERSION = 16;

struct ResourceData {
    // Either bytes in memory, or size bytes of file from offset.
    std::vector<std::uint8_t> bytes;
    const InputBytes* file = nullptr;
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t codePage = 0;

    static ResourceData inMemory(std::vector<std::uint8_t> bytes);
    static ResourceData inFile(const InputBytes& file);
    std::uint64_t length() const { return file != nullptr ? size : bytes.size(); }
    // The bytes themselves, for the small resources the tool edits.
    std::vector<std::uint8_t> load() const;
};

using LanguageMap = std::map<ResourceId, ResourceData>;
using NameMap = std::map<ResourceId, LanguageMap>;
using ResourceTree = std::map<ResourceId, NameMap>;

// Reads the tree of the resource section that starts at sectionOffset in file and at sectionRva in memory.
// A malformed section is BadInput.
ResourceTree readResourceTree(const InputBytes& file, std::uint64_t sectionOffset, std::uint32_t sectionSize,
                              std::uint32_t sectionRva);

// A resource section laid out for one place in memory and in the file: its size, and its bytes written on
// demand.
class ResourceSection {
public:
    ResourceSection(const ResourceTree& tree, std::uint32_t sectionRva, std::uint64_t sectionOffset);

    std::uint64_t size() const { return size_; }
    void write(OutputFile& out) const;

private:
    std::vector<std::uint8_t> tables_;
    std::vector<std::pair<std::uint64_t, const ResourceData*>> leaves_;
    std::uint64_t size_ = 0;
};

}  // namespace stamp
