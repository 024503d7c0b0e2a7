#include "Icons.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "Layout.h"
#include "StampError.h"

namespace stamp {

namespace {

// An .ico file: a 6-byte header (reserved 0, type 1, count), then 16-byte entries (the fields of IconImage,
// the image's size and its offset in the file). The icon group has the same header and 14-byte entries, the
// offset replaced by the icon's number.
constexpr std::size_t HEADER_SIZE = 6;
constexpr std::size_t FILE_ENTRY_SIZE = 16;
constexpr std::size_t GROUP_ENTRY_SIZE = 14;
constexpr std::uint16_t ICON_TYPE = 1;
constexpr std::uint32_t BITMAP_INFO_SIZE = 40;
constexpr std::uint32_t BITMAP_V4_SIZE = 108;
constexpr std::uint32_t BITMAP_V5_SIZE = 124;
constexpr std::uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool isImage(const std::vector<std::uint8_t>& data) {
    if (data.size() >= sizeof PNG_SIGNATURE &&
        std::memcmp(data.data(), PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0) {
        return true;
    }
    // A device-independent bitmap starts with the size of its header: 40, 108 or 124 bytes.
    if (data.size() < BITMAP_INFO_SIZE) {
        return false;
    }
    const std::uint32_t headerSize = fieldAt<std::uint32_t>(data, 0);
    return headerSize == BITMAP_INFO_SIZE || headerSize == BITMAP_V4_SIZE || headerSize == BITMAP_V5_SIZE;
}

}  // namespace

std::vector<IconImage> readIconFile(const InputBytes& file) {
    const auto notAnIcon = [&](const char* why) {
        return BadInput("ICON '" + file.path() + "' is not an icon file: " + why);
    };
    if (file.size() < HEADER_SIZE || file.size() > 0x7FFFFFFF) {
        throw notAnIcon("its size is wrong");
    }
    const std::vector<std::uint8_t> bytes = file.read(0, static_cast<std::size_t>(file.size()));
    const std::size_t count = fieldAt<std::uint16_t>(bytes, 4);
    if (fieldAt<std::uint16_t>(bytes, 0) != 0 || fieldAt<std::uint16_t>(bytes, 2) != ICON_TYPE ||
        count == 0 || HEADER_SIZE + count * FILE_ENTRY_SIZE > bytes.size()) {
        throw notAnIcon("its header is wrong");
    }
    // Each image's bytes, in the order of the entries; each byte of the file belongs to one image at most,
    // and none to the directory: images that share bytes would multiply the icon's size in the launcher.
    std::vector<std::pair<std::size_t, std::size_t>> extents;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = HEADER_SIZE + i * FILE_ENTRY_SIZE;
        const std::uint32_t size = fieldAt<std::uint32_t>(bytes, entry + 8);
        const std::uint32_t offset = fieldAt<std::uint32_t>(bytes, entry + 12);
        if (size == 0 || offset > bytes.size() || size > bytes.size() - offset) {
            throw notAnIcon("an image lies outside the file");
        }
        extents.emplace_back(offset, offset + size);
    }
    std::vector<std::pair<std::size_t, std::size_t>> inFileOrder = extents;
    std::sort(inFileOrder.begin(), inFileOrder.end());
    std::size_t usedUpTo = HEADER_SIZE + count * FILE_ENTRY_SIZE;
    for (const auto& [start, end] : inFileOrder) {
        if (start < usedUpTo) {
            throw notAnIcon("its images overlap each other or its directory");
        }
        usedUpTo = end;
    }
    std::vector<IconImage> images;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = HEADER_SIZE + i * FILE_ENTRY_SIZE;
        const auto [start, end] = extents[i];
        IconImage image;
        image.width = bytes[entry];
        image.height = bytes[entry + 1];
        image.colorCount = bytes[entry + 2];
        image.planes = fieldAt<std::uint16_t>(bytes, entry + 4);
        image.bitCount = fieldAt<std::uint16_t>(bytes, entry + 6);
        image.data.assign(bytes.begin() + start, bytes.begin() + end);
        if (!isImage(image.data)) {
            throw notAnIcon("an image is neither PNG nor a bitmap");
        }
        images.push_back(std::move(image));
    }
    return images;
}

std::vector<IconGroupEntry> readIconGroup(const std::vector<std::uint8_t>& group) {
    std::vector<IconGroupEntry> entries;
    if (group.size() < HEADER_SIZE) {
        return entries;
    }
    const std::size_t count = fieldAt<std::uint16_t>(group, 4);
    for (std::size_t i = 0; i < count && HEADER_SIZE + (i + 1) * GROUP_ENTRY_SIZE <= group.size(); ++i) {
        const std::size_t entry = HEADER_SIZE + i * GROUP_ENTRY_SIZE;
        entries.push_back(IconGroupEntry{group[entry], group[entry + 1],
                                         fieldAt<std::uint16_t>(group, entry + 6),
                                         fieldAt<std::uint16_t>(group, entry + 12)});
    }
    return entries;
}

void replaceIconGroup(ResourceTree& tree, std::uint16_t groupId, std::uint16_t language,
                      const std::vector<IconImage>& images) {
    NameMap& groups = tree[ResourceId(TYPE_GROUP_ICON)];
    NameMap& icons = tree[ResourceId(TYPE_ICON)];
    LanguageMap& group = groups[ResourceId(groupId)];
    for (const auto& [groupLanguage, data] : group) {
        for (const IconGroupEntry& entry : readIconGroup(data.load())) {
            icons.erase(ResourceId(entry.id));
        }
    }
    ResourceId groupLanguage = group.empty() ? ResourceId(language) : group.begin()->first;
    group.clear();

    std::vector<std::uint8_t> directory;
    appendField<std::uint16_t>(directory, 0);
    appendField<std::uint16_t>(directory, ICON_TYPE);
    appendField<std::uint16_t>(directory, static_cast<std::uint16_t>(images.size()));
    std::uint16_t next = 1;
    for (const IconImage& image : images) {
        while (icons.count(ResourceId(next)) != 0) {
            ++next;
        }
        icons[ResourceId(next)][groupLanguage] = ResourceData::inMemory(image.data);
        directory.push_back(image.width);
        directory.push_back(image.height);
        directory.push_back(image.colorCount);
        directory.push_back(0);
        appendField<std::uint16_t>(directory, image.planes);
        appendField<std::uint16_t>(directory, image.bitCount);
        appendField<std::uint32_t>(directory, static_cast<std::uint32_t>(image.data.size()));
        appendField<std::uint16_t>(directory, next);
    }
    group[groupLanguage] = ResourceData::inMemory(std::move(directory));
}

}  // namespace stamp
