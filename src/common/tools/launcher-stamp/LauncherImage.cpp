#include "LauncherImage.h"

#include "StampError.h"

namespace stamp {

namespace {

constexpr std::uint16_t ENGLISH_US = 0x409;
// Far longer than any version.
constexpr std::uint64_t RELEASE_LIMIT = 64;

// The leaf of the first version block in tree.
ResourceData* versionLeafOf(ResourceTree& tree, const std::string& path) {
    const auto versions = tree.find(ResourceId(TYPE_VERSION));
    if (versions == tree.end() || versions->second.empty() || versions->second.begin()->second.empty()) {
        throw notOurLauncher(path, "it has no version block");
    }
    return &versions->second.begin()->second.begin()->second;
}

// The first language's leaf of the resource of type and name, or null.
const ResourceData* leafOf(const ResourceTree& tree, const ResourceId& type, const ResourceId& name) {
    const auto names = tree.find(type);
    if (names == tree.end()) {
        return nullptr;
    }
    const auto languages = names->second.find(name);
    return languages == names->second.end() || languages->second.empty() ? nullptr
                                                                         : &languages->second.begin()->second;
}

// The release resource's text: numbers and dots, as a version reads; empty where there is none.
std::string releaseOf(const ResourceTree& tree, const std::string& path) {
    const ResourceData* leaf = leafOf(tree, ResourceId(RELEASE_TYPE), ResourceId(RELEASE_ID));
    if (leaf == nullptr) {
        return {};
    }
    const std::vector<std::uint8_t> bytes =
        leaf->length() <= RELEASE_LIMIT ? leaf->load() : std::vector<std::uint8_t>();
    const std::string release(bytes.begin(), bytes.end());
    if (release.empty() || release.find_first_not_of("0123456789.") != std::string::npos) {
        throw notOurLauncher(path, "its release is not a version");
    }
    return release;
}

}  // namespace

LauncherImage::LauncherImage(const std::string& path)
    : file_(path, "LAUNCHER"),
      image_(file_),
      tree_(readResourceTree(file_, image_.resourceOffset(), image_.resourceSize(), image_.resourceRva())),
      versionLeaf_(versionLeafOf(tree_, path)),
      version_(versionLeaf_->load()),
      release_(releaseOf(tree_, path)) {
    if (version_.string(MARK_KEY) != std::u16string(MARK_VALUE)) {
        throw notOurLauncher(path, "its version block's InternalName is not \"Setup Launcher\"");
    }
    const ResourceId& versionLanguage = tree_[ResourceId(TYPE_VERSION)].begin()->second.begin()->first;
    const std::uint16_t* numbered = std::get_if<std::uint16_t>(&versionLanguage);
    language_ = numbered != nullptr ? *numbered : ENGLISH_US;
}

const ResourceData* LauncherImage::payload() const {
    return leafOf(tree_, ResourceId(TYPE_RCDATA), ResourceId(PAYLOAD_ID));
}

std::vector<IconGroupEntry> LauncherImage::iconGroup() const {
    const ResourceData* group = leafOf(tree_, ResourceId(TYPE_GROUP_ICON), ResourceId(ICON_GROUP_ID));
    return group != nullptr ? readIconGroup(group->load()) : std::vector<IconGroupEntry>();
}

void LauncherImage::replaceVersion(const VersionBlock& version) {
    const std::uint32_t codePage = versionLeaf_->codePage;
    *versionLeaf_ = ResourceData::inMemory(version.serialize());
    versionLeaf_->codePage = codePage;
}

}  // namespace stamp
