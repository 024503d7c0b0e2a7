// The tool's two output streams, one implementation per system (in its entry point's file).
#pragma once

#include <string>

namespace stamp {

enum class Stream { output, error };

// Writes the UTF-8 text and a line's end to the stream: as text on a Windows console, as UTF-8 elsewhere (a
// pipe, a file, a CI log, a POSIX terminal).
void printLine(Stream stream, const std::string& utf8);

}  // namespace stamp
