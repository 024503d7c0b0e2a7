// What follows the program's name on a command line: what the launcher passes on to the installer as typed.
// Without dependencies, so that the benchmark's baseline launcher passes its tail on the same way.
#pragma once

#include <algorithm>
#include <string>

namespace launcher {

// The part of a command line that follows the program name, found as the C runtime finds element 0: a quoted
// name ends at the next double quote, an unquoted one at the first space or tab.
inline std::wstring argumentsOf(const std::wstring& commandLine) {
    std::size_t end = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        end = commandLine.find(L'"', 1);
        end = end == std::wstring::npos ? commandLine.size() : end + 1;
    } else {
        end = std::min(commandLine.find_first_of(L" \t"), commandLine.size());
    }
    return commandLine.substr(end);
}

}  // namespace launcher
