// launcher-stamp's commands: stamp (the default), inspect and extract, parsed from the arguments, run, and
// their outcome printed.
#pragma once

#include <string>
#include <vector>

namespace stamp {

constexpr int EXIT_SUCCEEDED = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_BAD_INPUT = 2;

// Runs the command the arguments (UTF-8, the program's name left out) name and returns the tool's exit code:
// 0 on success, and for --help (or -h) among the command's options, which prints the command's help
// (stamping's covers every command) and does nothing else; 2 on bad input, an unknown option among it (with a
// message, the command's usage and how to get its help on the error stream); 1 when reading or writing failed
// (with a message). Every option takes its value as "--name value" or "--name=value". "--version" alone
// prints the tool's release ("launcher-stamp 1.2.0").
int runCommandLine(const std::vector<std::string>& arguments);

}  // namespace stamp
