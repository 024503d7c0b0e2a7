// The headers of a 64-bit Windows image, read from its first bytes as they lie in memory (a loaded module) or
// in a file: the NT headers, the data directories and the section table, each checked to lie inside the bytes
// given. Where a section's bytes lie in the image and in its file, so that an address of the loaded image can
// be found in the file it was loaded from, and the file compared with what was loaded.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace image {

// One entry of the section table.
struct Section {
    std::string name;  // up to eight characters, as the table holds it
    DWORD rva;         // where it starts in the loaded image
    DWORD virtualSize;
    DWORD fileOffset;  // where its bytes start in the file
    DWORD fileSize;    // how many of its bytes the file holds (the rest is zero in memory)
    DWORD characteristics;
};

// True when [start, start + size) lies wholly inside [rangeStart, rangeStart + rangeSize); no sum is formed,
// so sizes from an untrusted table can't wrap around.
constexpr bool liesWithin(std::uint64_t start, std::uint64_t size, std::uint64_t rangeStart,
                          std::uint64_t rangeSize) {
    return start >= rangeStart && start - rangeStart <= rangeSize && size <= rangeSize - (start - rangeStart);
}

// How many of a section's loaded bytes come from the file (the rest of it is zero-filled): its size in
// memory (the file's size where the header gives none), at most what the file holds.
constexpr DWORD loadedFileBytes(DWORD virtualSize, DWORD fileSize) {
    const DWORD inMemory = virtualSize != 0 ? virtualSize : fileSize;
    return inMemory < fileSize ? inMemory : fileSize;
}

class ImageHeaders {
public:
    // Reads the headers from the first size bytes at bytes. Throws KroError<std::runtime_error> "Not a 64-bit
    // Windows image: " + why when they are not complete headers of a 64-bit image.
    ImageHeaders(const BYTE* bytes, std::size_t size);
    // The headers of a module loaded in this process (its base address is its headers).
    static ImageHeaders ofModule(HMODULE module);

    const IMAGE_NT_HEADERS64& nt() const { return nt_; }
    // Offset of the NT headers from the image's start.
    DWORD ntOffset() const { return ntOffset_; }
    const std::vector<Section>& sections() const { return sections_; }
    // The data directory of the given index (IMAGE_DIRECTORY_ENTRY_*); zero when the image has none.
    IMAGE_DATA_DIRECTORY directory(std::size_t index) const;
    // The section that holds the loaded range [rva, rva + size), or null when no one section holds it whole.
    const Section* sectionOf(DWORD rva, DWORD size) const;
    // Where the loaded range [rva, rva + size) lies in the file; false when the file holds not all of it (it
    // lies beyond a section's file bytes, or in no section).
    bool fileOffsetOf(DWORD rva, DWORD size, DWORD& offset) const;

private:
    IMAGE_NT_HEADERS64 nt_{};
    DWORD ntOffset_ = 0;
    std::vector<Section> sections_;
};

}  // namespace image
