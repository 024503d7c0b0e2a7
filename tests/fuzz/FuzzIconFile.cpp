// The .ico reader on any bytes, and the icon group made of what it accepts: each image once, the group
// naming each.
#include "Icons.h"
#include "LauncherImage.h"
#include "MemoryInput.h"
#include "StampError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const stampfuzz::MemoryInput input(data, size);
    try {
        const std::vector<stamp::IconImage> images = stamp::readIconFile(input);
        std::size_t imageBytes = 0;
        for (const stamp::IconImage& image : images) {
            imageBytes += image.data.size();
        }
        stamp::ResourceTree tree;
        stamp::replaceIconGroup(tree, stamp::ICON_GROUP_ID, 0x409, images);
        const auto& group =
            tree[stamp::ResourceId(stamp::TYPE_GROUP_ICON)][stamp::ResourceId(stamp::ICON_GROUP_ID)];
        if (imageBytes > size || stamp::readIconGroup(group.begin()->second.load()).size() != images.size()) {
            __builtin_trap();
        }
    } catch (const stamp::BadInput&) {
    }
    return 0;
}
