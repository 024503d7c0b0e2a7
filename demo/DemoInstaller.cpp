// The demo installer: a stand-in for a product's installer. It records what it received into the file named
// by the environment variable DEMO_INSTALLER_REPORT (UTF-8, one "key=value" a line, values escaped: \\ \t \r
// \n), prints the same to its output, and exits with the code given by "/exit=N" (decimal or 0x hex; 0
// without). "/touch=NAME" first creates the file NAME in its working directory; after the report,
// "/waitfor=PATH" waits (at most a minute) until the file PATH exists and "/sleep=MS" waits that long;
// "/crash" makes it end with an access violation.
//
//   exit=N            the exit code it will return
//   arg=...           each argument after its own path, as the C runtime parsed it
//   commandLine=...   its raw command line
//   cwd=...           its working directory
//   path=...          its own path
//   elevated=0|1      whether its token is elevated
//   temp=, tmp=       its TEMP and TMP
//   parentModule=...  each module loaded in its parent process (the launcher, while it waits)
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

std::string utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size, nullptr,
                        nullptr);
    return result;
}

std::string escaped(const std::wstring& text) {
    std::string result;
    for (const char c : utf8(text)) {
        switch (c) {
            case '\\':
                result += "\\\\";
                break;
            case '\t':
                result += "\\t";
                break;
            case '\r':
                result += "\\r";
                break;
            case '\n':
                result += "\\n";
                break;
            default:
                result += c;
        }
    }
    return result;
}

bool isElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
    CloseHandle(token);
    return ok && elevation.TokenIsElevated != 0;
}

DWORD parentProcessId() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    DWORD parent = 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) {
            parent = entry.th32ParentProcessID;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

std::string parentModules() {
    std::string lines;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, parentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE) {
        return lines;
    }
    MODULEENTRY32W module{};
    module.dwSize = sizeof(module);
    for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module)) {
        lines += "parentModule=" + escaped(module.szExePath) + "\n";
    }
    CloseHandle(snapshot);
    return lines;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD exitCode = 0;
    DWORD sleepMs = 0;
    bool crash = false;
    std::wstring touch;
    std::wstring waitFor;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument.rfind(L"/exit=", 0) == 0) {
            exitCode = std::wcstoul(argument.c_str() + 6, nullptr, 0);
        } else if (argument.rfind(L"/sleep=", 0) == 0) {
            sleepMs = std::wcstoul(argument.c_str() + 7, nullptr, 0);
        } else if (argument.rfind(L"/touch=", 0) == 0) {
            touch = argument.substr(7);
        } else if (argument.rfind(L"/waitfor=", 0) == 0) {
            waitFor = argument.substr(9);
        } else if (argument == L"/crash") {
            crash = true;
        }
    }
    if (!touch.empty()) {
        CloseHandle(CreateFileW(touch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    }
    std::string report = "exit=" + std::to_string(exitCode) + "\n";
    for (int i = 1; i < argc; ++i) {
        report += "arg=" + escaped(argv[i]) + "\n";
    }
    report += "commandLine=" + escaped(GetCommandLineW()) + "\n";
    wchar_t buffer[32768];
    GetCurrentDirectoryW(32768, buffer);
    report += "cwd=" + escaped(buffer) + "\n";
    GetModuleFileNameW(nullptr, buffer, 32768);
    report += "path=" + escaped(buffer) + "\n";
    report += std::string("elevated=") + (isElevated() ? "1" : "0") + "\n";
    for (const auto& variable : {std::make_pair("temp=", L"TEMP"), std::make_pair("tmp=", L"TMP")}) {
        const DWORD length = GetEnvironmentVariableW(variable.second, buffer, 32768);
        report += variable.first + escaped(length > 0 && length < 32768 ? buffer : L"") + "\n";
    }
    report += parentModules();

    std::fwrite(report.data(), 1, report.size(), stdout);
    const DWORD length = GetEnvironmentVariableW(L"DEMO_INSTALLER_REPORT", buffer, 32768);
    if (length > 0 && length < 32768) {
        // Written under another name and moved into place, so that a test waiting for it never reads half.
        const std::wstring reportPath = buffer;
        const std::wstring partPath = reportPath + L".part";
        if (FILE* file = _wfopen(partPath.c_str(), L"wb")) {
            std::fwrite(report.data(), 1, report.size(), file);
            std::fclose(file);
            MoveFileExW(partPath.c_str(), reportPath.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    for (int waited = 0;
         !waitFor.empty() && waited < 60000 && GetFileAttributesW(waitFor.c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += 10) {
        Sleep(10);
    }
    Sleep(sleepMs);
    if (crash) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    return static_cast<int>(exitCode);
}
