// The physical floor of a launcher's job: copy the payload with the system's copy, start the copy with the
// same arguments, wait, delete it, and return its exit code. bench-floor PAYLOAD [ARGS...]
#include <windows.h>

#include <string>

#include "CommandLine.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring copy =
        std::wstring(temp) + L"bench-floor-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    if (!CopyFileW(argv[1], copy.c_str(), TRUE)) {
        return 3;
    }
    std::wstring commandLine = commandline::quoteArgument(copy);
    for (int i = 2; i < argc; ++i) {
        commandLine += L" " + commandline::quoteArgument(argv[i]);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    DWORD exitCode = 4;
    if (CreateProcessW(copy.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &info)) {
        WaitForSingleObject(info.hProcess, INFINITE);
        GetExitCodeProcess(info.hProcess, &exitCode);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    // Wine holds a program's image a moment after it ended: retried as often as the launcher retries.
    for (int attempt = 0; attempt < 2500 && !DeleteFileW(copy.c_str()); ++attempt) {
        Sleep(2);
    }
    return static_cast<int>(exitCode);
}
