// Icons: the images of an .ico file, and a launcher's icon group replaced by them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ResourceTree.h"
#include "StampFiles.h"

namespace stamp {

struct IconImage {
    // The directory entry's fields, as the file and the icon group both keep them.
    BYTE width = 0;
    BYTE height = 0;
    BYTE colorCount = 0;
    WORD planes = 0;
    WORD bitCount = 0;
    std::vector<std::uint8_t> data;
};

// The images of an .ico file; a file that is not an icon is BadInput.
std::vector<IconImage> readIconFile(const InputFile& file);

// Replaces icon group groupId (in each of its languages) and the icons it names by images; the icons get the
// lowest numbers no other icon uses. A missing group is added in language.
void replaceIconGroup(ResourceTree& tree, WORD groupId, WORD language, const std::vector<IconImage>& images);

}  // namespace stamp
