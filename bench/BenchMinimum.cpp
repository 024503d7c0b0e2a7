// The least a launcher meeting the requirements can do: its payload is resource RT_RCDATA 100 in a
// page-aligned, read-only resource section; it writes the whole resource into a folder of its own in TEMP
// with one WriteFile, loads user32 by full path for its one PeekMessageW, starts the payload from that folder
// with the command line's tail, waits, deletes the file and the folder (retrying a millisecond apart while
// the ended child still holds them) and returns the payload's exit code. No log, no checks, no held folders.
// Built with BENCH_TRACE it writes, to the file named by BENCH_TRACE_FILE, the wall-clock time at which each
// step ended, for the benchmark's table of phases.
#include <windows.h>

#include <cstdio>
#include <string>

#include "CommandLineTail.h"

namespace {

#ifdef BENCH_TRACE
std::string trace;

// The step's name and the wall clock at its end, in microseconds since 1970, as the benchmark's clock counts.
void phase(const char* name) {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    char line[96];
    std::snprintf(line, sizeof line, "%s %llu\n", name, (ticks - 116444736000000000ull) / 10);
    trace += line;
}

void writeTrace() {
    wchar_t path[MAX_PATH];
    if (GetEnvironmentVariableW(L"BENCH_TRACE_FILE", path, MAX_PATH) != 0) {
        const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, trace.data(), static_cast<DWORD>(trace.size()), &written, nullptr);
        CloseHandle(file);
    }
}
#else
void phase(const char*) {}
void writeTrace() {}
#endif

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(100), MAKEINTRESOURCEW(10));
    const void* payload = LockResource(LoadResource(nullptr, found));
    const DWORD size = SizeofResource(nullptr, found);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + L"bench-minimum-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring path = folder + L"\\bench-minimum.exe";
    phase("resource-found");
    if (!CreateDirectoryW(folder.c_str(), nullptr)) {
        return 3;
    }

    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    const bool complete = WriteFile(file, payload, size, &written, nullptr) && written == size;
    CloseHandle(file);
    if (!complete) {
        DeleteFileW(path.c_str());
        RemoveDirectoryW(folder.c_str());
        return 3;
    }
    phase("payload-written");

    wchar_t user32[MAX_PATH];
    GetSystemDirectoryW(user32, MAX_PATH);
    const HMODULE library = LoadLibraryW((std::wstring(user32) + L"\\user32.dll").c_str());
    using PeekMessageFunction = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT, UINT);
    const auto peekMessage = reinterpret_cast<PeekMessageFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "PeekMessageW")));
    MSG message;
    peekMessage(&message, nullptr, 0, 0, PM_NOREMOVE);
    phase("user32-loaded");

    std::wstring commandLine = L"\"" + path + L"\"" + launcher::argumentsOf(GetCommandLineW());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    DWORD exitCode = 4;
    if (CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                       &startup, &info)) {
        phase("child-started");
        WaitForSingleObject(info.hProcess, INFINITE);
        GetExitCodeProcess(info.hProcess, &exitCode);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    phase("child-ended");
    // A program's image and its current directory stay held a moment after it ended.
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (!DeleteFileW(path.c_str()) && GetTickCount64() < deadline) {
        Sleep(1);
    }
    phase("payload-deleted");
    while (!RemoveDirectoryW(folder.c_str()) && GetTickCount64() < deadline) {
        Sleep(1);
    }
    phase("folder-removed");
    FreeLibrary(library);
    writeTrace();
    return static_cast<int>(exitCode);
}
