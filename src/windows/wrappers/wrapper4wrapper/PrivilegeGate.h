// The gate for a launcher that is not elevated: is the run silent, and the notice for an interactive user.
// These steps live in the launcher's unnamed namespace (code sites
// "`anonymous-namespace'::showAdminErrorMessageBox"); this file is included by the launcher's main file and
// by the tests that drive the steps directly.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>

#include "Dll.h"
#include "WinErrorHandling.h"

namespace {

// True when any argument, the launcher's own path included, is exactly "/s", "INSTALL_SILENT=Enable" or
// "INSTALL_SILENT=1" (case-sensitive, whole argument).
inline bool isSilentInstall(int argc = __argc, wchar_t** argv = __wargv) {
    static const wchar_t* const keys[] = {L"/s", L"INSTALL_SILENT=Enable", L"INSTALL_SILENT=1"};
    for (int i = 0; argv != nullptr && i < argc; ++i) {
        for (const wchar_t* key : keys) {
            if (argv[i] != nullptr && std::wstring(argv[i]) == key) {
                return true;
            }
        }
    }
    return false;
}

// True when the process's window station is visible, so that a notice can be seen and closed. A service, a
// scheduled task or session 0 runs on an invisible one, where MessageBoxW would never return. Throws the
// binding errors of user32, and KroError<SysError> "GetUserObjectInformationW failed".
inline bool isWindowStationVisible() {
    using GetWindowStationFunction = HWINSTA(WINAPI*)();
    using GetObjectInformationFunction = BOOL(WINAPI*)(HANDLE, int, PVOID, DWORD, LPDWORD);
    const Dll user32(tstrings::TextBuilder() << "user32");
    const DllFunction<GetWindowStationFunction> getWindowStation(
        user32, tstrings::TextBuilder() << "GetProcessWindowStation", true);
    const DllFunction<GetObjectInformationFunction> getObjectInformation(
        user32, tstrings::TextBuilder() << "GetUserObjectInformationW", true);
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!static_cast<GetObjectInformationFunction>(getObjectInformation)(
            static_cast<GetWindowStationFunction>(getWindowStation)(), UOI_FLAGS, &flags, sizeof(flags),
            &needed)) {
        KRO_THROW_SYSERROR(static_cast<GetObjectInformationFunction>(getObjectInformation),
                           getObjectInformation.name() << " failed");
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Shows the "Execution Error" notice and returns when the user has closed it. Throws KroError<SysError>
// "MessageBoxW failed" when no box could be shown (Windows answers 0; Wine without a display answers -1), and
// the binding errors of user32.
inline void showAdminErrorMessageBox() {
    using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
    const DllFunction<MessageBoxFunction> messageBox(Dll(tstrings::TextBuilder() << "user32"),
                                                     tstrings::TextBuilder() << "MessageBoxW", true);
    const int pressed = static_cast<MessageBoxFunction>(messageBox)(
        nullptr, L"Administrator privileges are required to run this application.", L"Execution Error",
        MB_OK | MB_ICONERROR);
    if (pressed <= 0) {
        KRO_THROW_SYSERROR(static_cast<MessageBoxFunction>(messageBox), messageBox.name() << " failed");
    }
}

}  // namespace
