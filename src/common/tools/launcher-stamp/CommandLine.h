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
// 0 on success, 2 on bad input (with a message and the command's usage on the error stream), 1 when
// anything else failed (with a message). "--version" prints the tool's release ("launcher-stamp 1.2.0").
int runCommandLine(const std::vector<std::string>& arguments);

}  // namespace stamp
