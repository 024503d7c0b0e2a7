// A launcher of ours opened for reading: its file, image layout, resources and version block, checked as
// every command checks a LAUNCHER.
#pragma once

#include <cstdint>
#include <string>

#include "Icons.h"
#include "PeImage.h"
#include "ResourceTree.h"
#include "StampFiles.h"
#include "VersionBlock.h"

namespace stamp {

// The resources our launchers carry.
constexpr std::uint16_t PAYLOAD_ID = 100;
constexpr std::uint16_t ICON_GROUP_ID = 101;
// Every launcher's version block says what it is; the tool reads nothing else.
constexpr char16_t MARK_KEY[] = u"InternalName";
constexpr char16_t MARK_VALUE[] = u"Setup Launcher";
// The launcher's own release, a version in text ("1.2.0"): resource 1 of a type of this name.
constexpr char16_t RELEASE_TYPE[] = u"LAUNCHER_RELEASE";
constexpr std::uint16_t RELEASE_ID = 1;

class LauncherImage {
public:
    // Reads and checks path. A file that is not one of our launchers (a layout our build would not produce,
    // malformed resources or version block, another InternalName, a release that is not a version) is
    // BadInput.
    explicit LauncherImage(const std::string& path);

    const InputFile& file() const { return file_; }
    const PeImage& image() const { return image_; }
    ResourceTree& resources() { return tree_; }
    const VersionBlock& version() const { return version_; }
    // The release of the launcher's own code ("1.2.0"), which stamping leaves as it is; empty for a launcher
    // built before launchers carried one.
    const std::string& release() const { return release_; }
    // The version block's language, for resources the launcher lacks.
    std::uint16_t language() const { return language_; }
    // The payload's resource; null for a launcher without one (the stub).
    const ResourceData* payload() const;
    // The icon group's entries; empty when it has none.
    std::vector<IconGroupEntry> iconGroup() const;
    // Puts version into the resources in place of the version block.
    void replaceVersion(const VersionBlock& version);

private:
    InputFile file_;
    PeImage image_;
    ResourceTree tree_;
    ResourceData* versionLeaf_ = nullptr;
    VersionBlock version_;
    std::string release_;
    std::uint16_t language_ = 0;
};

}  // namespace stamp
