// Running the child: its command line from the launcher's own, its start and the wait for its end.
// These steps live in the launcher's unnamed namespace (code sites "`anonymous-namespace'::getCommandLine");
// this file is included by the launcher's main file and by the tests that drive the steps directly.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "CommandLineTail.h"
#include "Dll.h"
#include "FileHandles.h"
#include "FileUtils.h"
#include "KroError.h"
#include "Log.h"
#include "WinAutoHandle.h"
#include "WinErrorHandling.h"
#include "tstrings.h"

namespace {

// The child path in double quotes, followed by everything that followed the launcher's own program name on
// its command line, unchanged: the installer sees what it would have seen had it been started directly,
// whatever parser it uses (NSIS reads "/S" and "/D=" from the raw text, for example).
inline std::wstring getCommandLine(const std::wstring& childPath,
                                   const std::wstring& launcherCommandLine = GetCommandLineW()) {
    return L"\"" + childPath + L"\"" + launcher::argumentsOf(launcherCommandLine);
}

// "3010 (0x00000BC2)": in decimal and in hexadecimal, the two forms in which deployment tools and installers'
// documentation give exit codes (0x80070643 reads at once as an HRESULT).
inline std::wstring describeExitCode(DWORD code) {
    return tstrings::unsafe_format(L"%u (0x%08X)", static_cast<unsigned>(code), static_cast<unsigned>(code));
}

// "12.345 s".
inline std::wstring describeDuration(ULONGLONG milliseconds) {
    return tstrings::unsafe_format(L"%u.%03u s", static_cast<unsigned>(milliseconds / 1000),
                                   static_cast<unsigned>(milliseconds % 1000));
}

using ImageNameFunction = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

// The kernel's name of the program a process runs ("\Device\HarddiskVolume2\..."), which every volume
// has, whether the mount manager knows it or not; empty when it can't be read.
inline std::wstring imagePathOf(HANDLE process, ImageNameFunction queryImageName) {
    std::wstring buffer(32768, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!queryImageName(process, PROCESS_NAME_NATIVE, &buffer[0], &size)) {
        return {};
    }
    buffer.resize(size);
    return buffer;
}

// Starts the child from its own folder with the given environment block (empty: the launcher's own; see
// ChildEnvironment) and no inherited handles, waits
// without a time limit and returns its exit code. installer is the child's file, held against change since it
// was written: the child is started suspended, and runs only if the program the system started is that file
// (both named in the kernel's namespace); otherwise it is ended before it runs a single instruction of its
// own. The hold goes once the child runs. Writes INFO "[childPath] ended with exit code 3010 (0x00000BC2)
// after 12.345 s" once the child has ended (never its command line: installers take passwords as properties).
// Throws KroError<SysError> "CreateProcess failed", "ResumeThread failed", "WaitForSingleObject failed" or
// "GetExitCodeProcess failed", KroError<std::runtime_error> when the started program is not the installer,
// and the binding errors of PeekMessageW.
inline DWORD execProcessWaitForFinish(const std::wstring& childPath, const std::wstring& commandLine,
                                      WinAutoHandle<HANDLE> installer, const std::wstring& environment = {},
                                      ImageNameFunction queryImageName = &QueryFullProcessImageNameW) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    // One look at the message queue before the child starts: it tells Windows that the launcher's start is
    // complete, so the busy cursor does not linger while the child runs.
    using PeekMessageFunction = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT, UINT);
    const DllFunction<PeekMessageFunction> peekMessage(Dll(tstrings::TextBuilder() << "user32"),
                                                       tstrings::TextBuilder() << "PeekMessageW", true);
    MSG message{};
    static_cast<PeekMessageFunction>(peekMessage)(&message, nullptr, 0, 0, PM_NOREMOVE);

    const std::wstring workingDirectory = FileUtils::getDirectory(childPath);
    if (!CreateProcessW(childPath.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT,
                        environment.empty() ? nullptr : const_cast<wchar_t*>(environment.c_str()),
                        workingDirectory.c_str(), &startup, &info)) {
        KRO_THROW_SYSERROR(CreateProcessW, "CreateProcess failed");
    }
    const WinAutoHandle<HANDLE> process(info.hProcess);
    const WinAutoHandle<HANDLE> thread(info.hThread);
    const std::wstring written = FileUtils::ntPathOf(installer.get());
    const std::wstring started = imagePathOf(process.get(), queryImageName);
    if (written.empty() || !tstrings::equals(started, written, tstrings::IGNORE_CASE)) {
        TerminateProcess(process.get(), ERROR_ACCESS_DENIED);
        WaitForSingleObject(process.get(), INFINITE);
        KRO_THROW("The started program [" << started << "] is not the installer that was written [" << written
                                          << "]: it was ended before it ran");
    }
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        const DWORD errorCode = GetLastError();
        TerminateProcess(process.get(), ERROR_ACCESS_DENIED);
        KRO_THROW_SYSERROR_CODE(ResumeThread, errorCode, "ResumeThread failed");
    }
    installer.reset();
    const ULONGLONG resumedAt = GetTickCount64();
    const DWORD wait = WaitForSingleObject(process.get(), INFINITE);
    if (wait != WAIT_OBJECT_0) {
        KRO_THROW_SYSERROR_CODE(WaitForSingleObject, wait, "WaitForSingleObject failed");
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) {
        KRO_THROW_SYSERROR(GetExitCodeProcess, "GetExitCodeProcess failed");
    }
    KRO_LOG(INFO, "[" << childPath << "] ended with exit code " << describeExitCode(exitCode) << " after "
                      << describeDuration(GetTickCount64() - resumedAt));
    return exitCode;
}

}  // namespace
