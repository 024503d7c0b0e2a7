// exit-code-runner [--not-elevated] PROGRAM [ARGS...]: runs PROGRAM with the arguments, waits for it, prints
// its full 32-bit exit code (a Linux shell keeps only the low 8 bits of a Wine program's code) and returns
// it. With
// --not-elevated the program runs with the non-elevated token linked to this process's token.
#include <windows.h>

#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "WinAutoHandle.h"

namespace {

BOOL startNotElevated(const wchar_t* program, std::wstring& commandLine, STARTUPINFOW& startup,
                      PROCESS_INFORMATION& info) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return FALSE;
    }
    const WinAutoHandle<HANDLE> ownToken(token);
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &size)) {
        return FALSE;
    }
    const WinAutoHandle<HANDLE> linkedToken(linked.LinkedToken);
    return CreateProcessAsUserW(linked.LinkedToken, program, &commandLine[0], nullptr, nullptr, FALSE, 0,
                                nullptr, nullptr, &startup, &info);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool notElevated = argc > 1 && std::wstring(argv[1]) == L"--not-elevated";
    const int first = notElevated ? 2 : 1;
    if (argc <= first) {
        std::fprintf(stderr, "usage: exit-code-runner [--not-elevated] PROGRAM [ARGS...]\n");
        return 2;
    }
    const wchar_t* program = argv[first];
    std::wstring commandLine = commandline::quoteArgument(program);
    for (int i = first + 1; i < argc; ++i) {
        commandLine += L" " + commandline::quoteArgument(argv[i]);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const BOOL started = notElevated ? startNotElevated(program, commandLine, startup, info)
                                     : CreateProcessW(program, &commandLine[0], nullptr, nullptr, FALSE, 0,
                                                      nullptr, nullptr, &startup, &info);
    if (!started) {
        std::fprintf(stderr, "cannot start %ls: error %lu\n", program, GetLastError());
        return 2;
    }
    const WinAutoHandle<HANDLE> process(info.hProcess);
    const WinAutoHandle<HANDLE> thread(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(info.hProcess, &exitCode);
    std::printf("exit code: %lu (0x%08lX, as signed %ld)\n", exitCode, exitCode, static_cast<long>(exitCode));
    return static_cast<int>(exitCode);
}
