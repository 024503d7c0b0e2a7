// The stamping tool's errors that are the caller's to fix: a missing file, a file of the wrong kind, a
// malformed option. They end the tool with exit code 2; every other error ends it with 1.
#pragma once

#include <stdexcept>
#include <string>

#include "tstrings.h"

namespace stamp {

class BadInput : public std::runtime_error {
public:
    explicit BadInput(const tstrings::TextBuilder& message) : std::runtime_error(message.utf8()) {}
};

// A LAUNCHER the tool can't stamp, and why.
inline BadInput notOurLauncher(const std::wstring& path, const char* why) {
    return BadInput(tstrings::TextBuilder()
                    << "LAUNCHER '" << path << "' is not one of our launchers: " << why);
}

// OUT is there already and may not be replaced.
inline BadInput outputExists(const std::wstring& path) {
    return BadInput(tstrings::TextBuilder() << "OUT '" << path << "' exists; --force replaces it");
}

}  // namespace stamp
