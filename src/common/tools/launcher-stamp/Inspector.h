// What a launcher carries, read without running it: the payload, the signatures, the version block and the
// icon, as text or as one JSON object.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "VersionBlock.h"

namespace stamp {

struct PayloadFacts {
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hexadecimal
    bool isSigned = false;
};

struct IconFacts {
    unsigned width = 0;
    unsigned height = 0;
    unsigned bitDepth = 0;
};

struct LauncherFacts {
    std::string path;
    std::string release;  // the launcher's own; empty: built before launchers carried one
    bool isSigned = false;
    std::optional<PayloadFacts> payload;  // none in the stub
    VersionQuad fileVersion{};
    VersionQuad productVersion{};
    std::vector<VersionBlock::StringTable> strings;
    std::vector<IconFacts> icon;
};

// Reads the launcher at path; a file that is not one of our launchers is BadInput.
LauncherFacts inspectLauncher(const std::string& path);
// One fact a line, UTF-8, each line ending in "\n": the file first, then the launcher's release ("launcher:
// 1.2.0").
std::string describe(const LauncherFacts& facts);
// The same as one JSON object on one line, without the line's end; an unknown release is null.
std::string describeJson(const LauncherFacts& facts);

}  // namespace stamp
