// The resource section's reader and writer on any bytes: the first four are the section's address in
// memory, the rest the section. A section it accepts is laid out again no larger than it was.
#include <cstring>

#include "MemoryInput.h"
#include "ResourceTree.h"
#include "StampError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint32_t rva = 0;
    if (size < sizeof rva) {
        return 0;
    }
    std::memcpy(&rva, data, sizeof rva);
    const stampfuzz::MemoryInput input(data, size);
    try {
        const stamp::ResourceTree tree =
            stamp::readResourceTree(input, sizeof rva, static_cast<std::uint32_t>(size - sizeof rva), rva);
        const stamp::ResourceSection section(tree, rva, 0);
        // The reader counts every structure and leaf once per use against the section, so the section laid
        // out again is no larger than the old one, plus at most seven bytes of alignment for each leaf (of
        // sixteen bytes of data entry at least) and for the tables.
        const std::uint64_t sectionSize = size - sizeof rva;
        if (section.size() > sectionSize + sectionSize / 2 + 8) {
            __builtin_trap();
        }
    } catch (const stamp::BadInput&) {
    }
    return 0;
}
