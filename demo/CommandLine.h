// Building a command line that standard argument parsing takes apart into exactly the given arguments: how
// the runner, the benchmark's floor and the tests start programs with an argument vector.
#pragma once

#include <string>

namespace commandline {

// The argument between double quotes, with every backslash that precedes a double quote (an inner one or the
// closing one) doubled and every inner double quote escaped, so that CommandLineToArgvW and the C runtime
// give back exactly the argument. Text without double quotes and trailing backslashes is only wrapped in
// quotes.
std::wstring quoteArgument(const std::wstring& argument);

}  // namespace commandline
