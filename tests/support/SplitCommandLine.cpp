#include <windows.h>

#include <shellapi.h>

#include "LocalMemory.h"
#include "TestSupport.h"

namespace testsupport {

std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine) {
    int count = 0;
    const LocalMemory<LPWSTR> argv(CommandLineToArgvW(commandLine.c_str(), &count));
    return std::vector<std::wstring>(argv.get(), argv.get() + count);
}

}  // namespace testsupport
