// The stamping tool's errors that are the caller's to fix: a missing file, a file of the wrong kind, a
// malformed option. They end the tool with exit code 2; every other error ends it with 1, an input that
// changed while it was read among them. Messages and paths are UTF-8.
#pragma once

#include <stdexcept>
#include <string>

namespace stamp {

class BadInput : public std::runtime_error {
public:
    explicit BadInput(const std::string& message) : std::runtime_error(message) {}
};

// A LAUNCHER the tool can't read as one of ours, and why.
inline BadInput notOurLauncher(const std::string& path, const char* why) {
    return BadInput("LAUNCHER '" + path + "' is not one of our launchers: " + why);
}

// An input that shrank, grew or was written while the tool read it: what was read is no one version of the
// file. A race rather than the caller's input to fix, so it ends the tool with exit code 1.
inline std::runtime_error inputChanged(const std::string& role, const std::string& path) {
    return std::runtime_error(role + " changed while it was read: '" + path + "'");
}

// OUT is there already and may not be replaced.
inline BadInput outputExists(const std::string& path) {
    return BadInput("OUT '" + path + "' exists; --force replaces it");
}

}  // namespace stamp
