#include "Stamper.h"

#include "Icons.h"
#include "LauncherImage.h"
#include "OutputFile.h"
#include "Signature.h"
#include "StampError.h"
#include "Utf.h"

namespace stamp {

namespace {

constexpr std::uint64_t RESOURCE_SIZE_LIMIT = 0xFFFFFFFFull;

void checkOptions(const StampOptions& options) {
    for (const auto& [key, value] : options.versionStrings) {
        if (key == MARK_KEY && value != MARK_VALUE) {
            throw BadInput("InternalName stays \"Setup Launcher\": it marks the launcher");
        }
    }
}

// The file name at the end of path, behind the last separator of the system the tool runs on.
std::string fileNameOf(const std::string& path) {
#ifdef _WIN32
    constexpr char SEPARATORS[] = "\\/:";
#else
    constexpr char SEPARATORS[] = "/";
#endif
    return path.substr(path.find_last_of(SEPARATORS) + 1);
}

void checkPayload(const InputFile& payload) {
    if (payload.size() < 2 || payload.read(0, 2) != std::vector<std::uint8_t>{'M', 'Z'}) {
        throw BadInput("PAYLOAD '" + payload.path() +
                       "' is not a Windows executable (it does not start with \"MZ\")");
    }
    if (payload.size() > RESOURCE_SIZE_LIMIT) {
        throw BadInput("PAYLOAD '" + payload.path() + "' is too large (4 GiB or more)");
    }
}

VersionBlock updatedVersion(VersionBlock version, const StampOptions& options) {
    if (options.fileVersion) {
        version.setFileVersion(*options.fileVersion);
        version.setString(u"FileVersion", toText(*options.fileVersion));
    }
    if (options.productVersion) {
        version.setProductVersion(*options.productVersion);
        version.setString(u"ProductVersion", toText(*options.productVersion));
    }
    // Named after the file it becomes and described by its product, as a launcher built with its payload is,
    // unless the strings given say otherwise.
    const std::optional<std::u16string> fileName = fromUtf8(fileNameOf(options.output));
    if (!fileName) {
        throw BadInput("OUT's file name is not UTF-8: '" + options.output + "'");
    }
    version.setString(u"OriginalFilename", *fileName);
    for (const auto& [key, value] : options.versionStrings) {
        if (key == u"ProductName") {
            version.setString(u"FileDescription", value + u" Setup");
        }
    }
    for (const auto& [key, value] : options.versionStrings) {
        version.setString(key, value);
    }
    return version;
}

// Writes the stamped image to out; every input is closed again when it returns.
StampReport writeStamped(const StampOptions& options, PendingOutput& out) {
    LauncherImage launcher(options.launcher);
    const InputFile payload(options.payload, "PAYLOAD");
    checkPayload(payload);
    std::vector<IconImage> icon;
    if (!options.icon.empty()) {
        icon = readIconFile(InputFile(options.icon, "ICON"));
    }

    launcher.replaceVersion(updatedVersion(launcher.version(), options));
    ResourceTree& tree = launcher.resources();
    if (!icon.empty()) {
        replaceIconGroup(tree, ICON_GROUP_ID, launcher.language(), icon);
    }
    LanguageMap& payloads = tree[ResourceId(TYPE_RCDATA)][ResourceId(PAYLOAD_ID)];
    const ResourceId payloadLanguage =
        payloads.empty() ? ResourceId(launcher.language()) : payloads.begin()->first;
    payloads.clear();
    payloads[payloadLanguage] = ResourceData::inFile(payload);

    const PeImage& image = launcher.image();
    const ResourceSection section(tree, image.resourceRva(), image.resourceOffset());
    OutputFile file(out);
    image.write(file, section.size(), [&](OutputFile& to) { section.write(to); });
    return StampReport{image.isSigned(), carriesSignature(payload, 0, payload.size()), file.position()};
}

}  // namespace

StampReport stampLauncher(const StampOptions& options) {
    checkOptions(options);
    PendingOutput output = openOutput(options.output, options.force);
    const StampReport report = writeStamped(options, output);
    output.commit(options.force);
    return report;
}

}  // namespace stamp
