// launcher-stamp's entry point on Windows: the wide command line as UTF-8, and the console written as text.
#include <windows.h>

#include <string>
#include <vector>

#include "CommandLine.h"
#include "Console.h"
#include "tstrings.h"

namespace stamp {

void printLine(Stream stream, const std::string& utf8) {
    const HANDLE handle = GetStdHandle(stream == Stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    const std::string line = utf8 + "\n";
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring text = tstrings::fromMultiByte(line);
        WriteConsoleW(handle, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

}  // namespace stamp

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(tstrings::toMultiByte(argv[i]));
    }
    return stamp::runCommandLine(arguments);
}
