// exit-code-runner PROGRAM [ARGS...]: runs PROGRAM with the arguments, waits for it, prints its full 32-bit
// exit code (a Linux shell keeps only the low 8 bits of a Wine program's code) and returns it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "CommandLine.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: exit-code-runner PROGRAM [ARGS...]\n");
        return 2;
    }
    std::wstring commandLine = launcher::quoteArgument(argv[1]);
    for (int i = 2; i < argc; ++i) {
        commandLine += L" " + launcher::quoteArgument(argv[i]);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(argv[1], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        std::fprintf(stderr, "cannot start %ls: error %lu\n", argv[1], GetLastError());
        return 2;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    std::printf("exit code: %lu (0x%08lX, as signed %ld)\n", exitCode, exitCode, static_cast<long>(exitCode));
    return static_cast<int>(exitCode);
}
