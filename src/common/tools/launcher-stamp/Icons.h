// Icons: the images of an .ico file, and a launcher's icon group replaced by them.
#pragma once

#include <cstdint>
#include <vector>

#include "InputBytes.h"
#include "ResourceTree.h"

namespace stamp {

struct IconImage {
    // The directory entry's fields, as the file and the icon group both keep them.
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    std::uint8_t colorCount = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::vector<std::uint8_t> data;
};

// An entry of an icon group: what it says of an image, and the number of the icon resource that holds it.
struct IconGroupEntry {
    std::uint8_t width = 0;  // 0 for 256 pixels, as for height
    std::uint8_t height = 0;
    std::uint16_t bitCount = 0;
    std::uint16_t id = 0;
};

// The entries of an icon group's bytes, as many as they hold whole (none for a group too short).
std::vector<IconGroupEntry> readIconGroup(const std::vector<std::uint8_t>& group);

// The images of an .ico file; a file that is not an icon is BadInput.
std::vector<IconImage> readIconFile(const InputBytes& file);

// Replaces icon group groupId (in each of its languages) and the icons it names by images; the icons get the
// lowest numbers no other icon uses. A missing group is added in language.
void replaceIconGroup(ResourceTree& tree, std::uint16_t groupId, std::uint16_t language,
                      const std::vector<IconImage>& images);

}  // namespace stamp
