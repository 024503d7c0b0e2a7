#include "LauncherImage.h"

#include "StampError.h"

namespace stamp {

namespace {

constexpr std::uint16_t ENGLISH_US = 0x409;

// The leaf of the first version block in tree.
ResourceData* versionLeafOf(ResourceTree& tree, const std::string& path) {
    const auto versions = tree.find(ResourceId(TYPE_VERSION));
    if (versions == tree.end() || versions->second.empty() || versions->second.begin()->second.empty()) {
        throw notOurLauncher(path, "it has no version block");
    }
    return &versions->second.begin()->second.begin()->second;
}

// The entry of map numbered id, or null.
template <class Map>
auto* find(Map& map, std::uint16_t id) {
    const auto found = map.find(ResourceId(id));
    return found == map.end() ? nullptr : &found->second;
}

}  // namespace

LauncherImage::LauncherImage(const std::string& path)
    : file_(path, "LAUNCHER"),
      image_(file_),
      tree_(readResourceTree(file_, image_.resourceOffset(), image_.resourceSize(), image_.resourceRva())),
      versionLeaf_(versionLeafOf(tree_, path)),
      version_(versionLeaf_->load()) {
    if (version_.string(MARK_KEY) != std::u16string(MARK_VALUE)) {
        throw notOurLauncher(path, "its version block's InternalName is not \"Setup Launcher\"");
    }
    const ResourceId& versionLanguage = tree_[ResourceId(TYPE_VERSION)].begin()->second.begin()->first;
    const std::uint16_t* numbered = std::get_if<std::uint16_t>(&versionLanguage);
    language_ = numbered != nullptr ? *numbered : ENGLISH_US;
}

const ResourceData* LauncherImage::payload() const {
    const auto* payloads = find(tree_, TYPE_RCDATA);
    const auto* languages = payloads != nullptr ? find(*payloads, PAYLOAD_ID) : nullptr;
    return languages != nullptr && !languages->empty() ? &languages->begin()->second : nullptr;
}

std::vector<IconGroupEntry> LauncherImage::iconGroup() const {
    const auto* groups = find(tree_, TYPE_GROUP_ICON);
    const auto* languages = groups != nullptr ? find(*groups, ICON_GROUP_ID) : nullptr;
    if (languages == nullptr || languages->empty()) {
        return {};
    }
    return readIconGroup(languages->begin()->second.load());
}

void LauncherImage::replaceVersion(const VersionBlock& version) {
    const std::uint32_t codePage = versionLeaf_->codePage;
    *versionLeaf_ = ResourceData::inMemory(version.serialize());
    versionLeaf_->codePage = codePage;
}

}  // namespace stamp
