#include "Inspector.h"

#include <vector>

#include "LauncherImage.h"
#include "Sha256.h"
#include "Signature.h"
#include "Utf.h"

namespace stamp {

namespace {

constexpr std::size_t DIGEST_CHUNK = 1 << 20;
// Launchers built before launchers carried their release.
constexpr char UNKNOWN_RELEASE[] = "unknown release (built before launchers recorded theirs)";
// An icon entry's width or height of 0 stands for 256 pixels.
constexpr unsigned LARGEST_ICON = 256;

PayloadFacts payloadFacts(const ResourceData& payload) {
    PayloadFacts facts;
    facts.size = payload.length();
    Sha256 digest;
    std::vector<std::uint8_t> buffer(DIGEST_CHUNK);
    for (std::uint64_t done = 0; done < payload.size;) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(payload.size - done, DIGEST_CHUNK));
        payload.file->readInto(payload.offset + done, buffer.data(), chunk);
        digest.add(buffer.data(), chunk);
        done += chunk;
    }
    facts.sha256 = digest.hex();
    facts.isSigned = carriesSignature(*payload.file, payload.offset, payload.size);
    return facts;
}

unsigned pixels(std::uint8_t size) {
    return size == 0 ? LARGEST_ICON : size;
}

std::string versionText(const VersionQuad& version) {
    return toUtf8(toText(version));
}

// text as a JSON string: quoted, with quotes, backslashes and control characters escaped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto unit = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (unit < 0x20) {
            static const char digits[] = "0123456789abcdef";
            out += "\\u00";
            out += digits[unit >> 4];
            out += digits[unit & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string signedText(bool isSigned) {
    return isSigned ? "present" : "none";
}

std::string boolean(bool value) {
    return value ? "true" : "false";
}

}  // namespace

LauncherFacts inspectLauncher(const std::string& path) {
    const LauncherImage launcher(path);
    LauncherFacts facts;
    facts.path = path;
    facts.release = launcher.release();
    facts.isSigned = launcher.image().isSigned();
    if (const ResourceData* payload = launcher.payload()) {
        facts.payload = payloadFacts(*payload);
    }
    facts.fileVersion = launcher.version().fileVersion();
    facts.productVersion = launcher.version().productVersion();
    facts.strings = launcher.version().strings();
    for (const IconGroupEntry& entry : launcher.iconGroup()) {
        facts.icon.push_back(IconFacts{pixels(entry.width), pixels(entry.height), entry.bitCount});
    }
    return facts;
}

std::string describe(const LauncherFacts& facts) {
    std::string text = "file: " + facts.path +
                       "\nlauncher: " + (facts.release.empty() ? UNKNOWN_RELEASE : facts.release) +
                       "\nlauncher signature: " + signedText(facts.isSigned) + "\n";
    if (facts.payload) {
        text += "payload: " + std::to_string(facts.payload->size) +
                " bytes\npayload SHA-256: " + facts.payload->sha256 +
                "\npayload signature: " + signedText(facts.payload->isSigned) + "\n";
    } else {
        text += "payload: none\n";
    }
    text += "file version: " + versionText(facts.fileVersion) +
            "\nproduct version: " + versionText(facts.productVersion) + "\n";
    for (const VersionBlock::StringTable& table : facts.strings) {
        text += "version strings " + toUtf8(table.name) + ":\n";
        for (const auto& [key, value] : table.strings) {
            text += "  " + toUtf8(key) + " = " + toUtf8(value) + "\n";
        }
    }
    text += "icon: " + std::to_string(facts.icon.size()) + " images\n";
    for (const IconFacts& image : facts.icon) {
        text += "  " + std::to_string(image.width) + "x" + std::to_string(image.height) + ", " +
                std::to_string(image.bitDepth) + " bits\n";
    }
    return text;
}

std::string describeJson(const LauncherFacts& facts) {
    std::string json = "{\"file\":" + quoted(facts.path) +
                       ",\"launcher\":" + (facts.release.empty() ? "null" : quoted(facts.release)) +
                       ",\"signed\":" + boolean(facts.isSigned) + ",\"payload\":";
    if (facts.payload) {
        json += "{\"size\":" + std::to_string(facts.payload->size) +
                ",\"sha256\":" + quoted(facts.payload->sha256) +
                ",\"signed\":" + boolean(facts.payload->isSigned) + "}";
    } else {
        json += "null";
    }
    json += ",\"fileVersion\":" + quoted(versionText(facts.fileVersion)) +
            ",\"productVersion\":" + quoted(versionText(facts.productVersion)) + ",\"versionStrings\":{";
    for (std::size_t t = 0; t < facts.strings.size(); ++t) {
        json += (t == 0 ? "" : ",") + quoted(toUtf8(facts.strings[t].name)) + ":{";
        const auto& strings = facts.strings[t].strings;
        for (std::size_t s = 0; s < strings.size(); ++s) {
            json += (s == 0 ? "" : ",") + quoted(toUtf8(strings[s].first)) + ":" +
                    quoted(toUtf8(strings[s].second));
        }
        json += "}";
    }
    json += "},\"icon\":[";
    for (std::size_t i = 0; i < facts.icon.size(); ++i) {
        json += (i == 0 ? "" : ",") + std::string("{\"width\":") + std::to_string(facts.icon[i].width) +
                ",\"height\":" + std::to_string(facts.icon[i].height) +
                ",\"bitDepth\":" + std::to_string(facts.icon[i].bitDepth) + "}";
    }
    return json + "]}";
}

}  // namespace stamp
