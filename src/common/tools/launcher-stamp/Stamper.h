// Stamping: a copy of a built launcher with this release's installer, icon and version in it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "VersionBlock.h"

namespace stamp {

struct StampOptions {
    std::string launcher;
    std::string payload;
    std::string output;
    std::string icon;  // empty: the launcher's icon stays
    // Set last: each wins over what stamping sets itself.
    std::vector<std::pair<std::u16string, std::u16string>> versionStrings;
    std::optional<VersionQuad> fileVersion;
    std::optional<VersionQuad> productVersion;
    bool force = false;  // replace an existing output
};

struct StampReport {
    bool signatureDropped = false;  // LAUNCHER was signed
    bool payloadSigned = false;     // PAYLOAD carries an Authenticode signature
    std::uint64_t outputSize = 0;
};

// Writes options.output: the launcher with RT_RCDATA 100 replaced by the payload, icon group 101 by the
// icon's images, and the version block's numbers and strings updated: OriginalFilename becomes the output's
// file name, and a ProductName given sets FileDescription to "<ProductName> Setup" too. Bad input is
// BadInput and leaves no output; any other failure (a folder that takes no output among them) throws too and
// leaves none either.
StampReport stampLauncher(const StampOptions& options);

}  // namespace stamp
