#include "Stamper.h"

#include "FileUtils.h"
#include "Icons.h"
#include "PeImage.h"
#include "ResourceTree.h"
#include "StampError.h"
#include "StampFiles.h"

namespace stamp {

namespace {

constexpr WORD PAYLOAD_ID = 100;
constexpr WORD ICON_GROUP_ID = 101;
// Every launcher's version block says what it is; the tool stamps nothing else.
constexpr wchar_t MARK_KEY[] = L"InternalName";
constexpr wchar_t MARK_VALUE[] = L"Setup Launcher";
constexpr WORD DEFAULT_LANGUAGE = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr std::uint64_t RESOURCE_SIZE_LIMIT = 0xFFFFFFFFull;

void checkOptions(const StampOptions& options) {
    for (const auto& [key, value] : options.versionStrings) {
        if (key == MARK_KEY && value != MARK_VALUE) {
            throw BadInput(tstrings::TextBuilder()
                           << "InternalName stays \"" << MARK_VALUE << "\": it marks the launcher");
        }
    }
    if (FileUtils::isDirectory(options.output)) {
        throw BadInput(tstrings::TextBuilder() << "OUT '" << options.output << "' is a folder");
    }
    if (!options.force && FileUtils::pathExists(options.output)) {
        throw outputExists(options.output);
    }
}

void checkPayload(const InputFile& payload) {
    if (payload.size() < 2 || payload.read(0, 2) != std::vector<std::uint8_t>{'M', 'Z'}) {
        throw BadInput(tstrings::TextBuilder()
                       << "PAYLOAD '" << payload.path()
                       << "' is not a Windows executable (it does not start with \"MZ\")");
    }
    if (payload.size() > RESOURCE_SIZE_LIMIT) {
        throw BadInput(tstrings::TextBuilder()
                       << "PAYLOAD '" << payload.path() << "' is too large (4 GiB or more)");
    }
}

void updateVersion(VersionBlock& version, const StampOptions& options) {
    if (options.fileVersion) {
        version.setFileVersion(*options.fileVersion);
        version.setString(L"FileVersion", toText(*options.fileVersion));
    }
    if (options.productVersion) {
        version.setProductVersion(*options.productVersion);
        version.setString(L"ProductVersion", toText(*options.productVersion));
    }
    for (const auto& [key, value] : options.versionStrings) {
        version.setString(key, value);
    }
}

// Writes the stamped image to out; every input is closed again when it returns.
StampReport writeStamped(const StampOptions& options, HANDLE out) {
    const InputFile launcher(options.launcher, "LAUNCHER");
    const PeImage image(launcher);
    ResourceTree tree =
        readResourceTree(launcher, image.resourceOffset(), image.resourceSize(), image.resourceRva());

    auto versions = tree.find(ResourceId(TYPE_VERSION));
    if (versions == tree.end() || versions->second.empty() || versions->second.begin()->second.empty()) {
        throw notOurLauncher(launcher.path(), "it has no version block");
    }
    auto& [versionLanguage, versionLeaf] = *versions->second.begin()->second.begin();
    VersionBlock version(versionLeaf.load());
    if (version.string(MARK_KEY) != std::wstring(MARK_VALUE)) {
        throw notOurLauncher(launcher.path(), "its version block's InternalName is not \"Setup Launcher\"");
    }
    const WORD* numbered = std::get_if<WORD>(&versionLanguage);
    const WORD language = numbered != nullptr ? *numbered : DEFAULT_LANGUAGE;

    const InputFile payload(options.payload, "PAYLOAD");
    checkPayload(payload);
    std::vector<IconImage> icon;
    if (!options.icon.empty()) {
        icon = readIconFile(InputFile(options.icon, "ICON"));
    }

    updateVersion(version, options);
    const DWORD versionCodePage = versionLeaf.codePage;
    versionLeaf = ResourceData::inMemory(version.serialize());
    versionLeaf.codePage = versionCodePage;
    if (!icon.empty()) {
        replaceIconGroup(tree, ICON_GROUP_ID, language, icon);
    }
    LanguageMap& payloads = tree[ResourceId(TYPE_RCDATA)][ResourceId(PAYLOAD_ID)];
    const ResourceId payloadLanguage = payloads.empty() ? ResourceId(language) : payloads.begin()->first;
    payloads.clear();
    payloads[payloadLanguage] = ResourceData::inFile(payload);

    const ResourceSection section(tree, image.resourceRva());
    OutputFile file(out);
    image.write(file, section.size(), [&](OutputFile& to) { section.write(to); });
    return StampReport{image.isSigned(), file.position()};
}

}  // namespace

StampReport stampLauncher(const StampOptions& options) {
    checkOptions(options);
    PendingOutput output(options.output);
    const StampReport report = writeStamped(options, output.handle());
    output.commit(options.force);
    return report;
}

}  // namespace stamp
