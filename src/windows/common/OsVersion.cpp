// The Windows version, classified once before the entry point.
#include <exception>

#include "Dll.h"
#include "ExceptionReporting.h"
#include "Log.h"
#include "SysInfo.h"
#include "WinErrorHandling.h"

namespace SysInfo {

namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
using GetVersionExFunction = BOOL(WINAPI*)(OSVERSIONINFOEXW*);

bool initWithRtlGetVersion(OSVERSIONINFOEXW& record, const char* library, const char* name) {
    const DllFunction<RtlGetVersionFunction> function(Dll(tstrings::TextBuilder() << library),
                                                      tstrings::TextBuilder() << name, false);
    if (!function.isAvailable()) {
        KRO_LOG(ERROR, function.name() << " is not available");
        return false;
    }
    const LONG status = static_cast<RtlGetVersionFunction>(function)(&record);
    if (status != 0) {
        KRO_LOG(ERROR, function.name() << "() failed: " << status);
        return false;
    }
    return true;
}

bool initWithGetVersionEx(OSVERSIONINFOEXW& record, const char* library, const char* name) {
    const DllFunction<GetVersionExFunction> function(Dll(tstrings::TextBuilder() << library),
                                                     tstrings::TextBuilder() << name, false);
    if (!function.isAvailable()) {
        KRO_LOG(ERROR, function.name() << " is not available");
        return false;
    }
    if (!static_cast<GetVersionExFunction>(function)(&record)) {
        const DWORD errorCode = GetLastError();
        KRO_LOG(ERROR, tstrings::unsafe_format(L"%s failed with %s",
                                               (tstrings::TextBuilder() << name << "()").str().c_str(),
                                               formatSystemError(errorCode, nullptr).c_str()));
        return false;
    }
    return true;
}

}  // namespace

namespace seams {

OsVersion classifyOsVersion(DWORD major, DWORD minor) {
    struct Known {
        DWORD major, minor;
        OsVersion version;
    };
    static const Known known[] = {{5, 1, WinXP}, {5, 2, WinXP}, {6, 0, WinVista}, {6, 1, Win7},
                                  {6, 2, Win8},  {6, 3, Win81}, {10, 0, Win10}};
    for (const Known& k : known) {
        if (k.major == major && k.minor == minor) {
            return k.version;
        }
    }
    return major > 5 ? WinNewer : WinOlder;
}

OsVersion readOsVersion(OSVERSIONINFOEXW& record, const VersionSources& sources) {
    try {
        if (!initWithRtlGetVersion(record, sources.rtlLibrary, sources.rtlFunction)) {
            initWithGetVersionEx(record, sources.versionExLibrary, sources.versionExFunction);
        }
    } catch (const std::exception& e) {
        // Nothing may leave static initialisation: a process that dies before its entry point writes no
        // record and returns no meaningful code. The record stays as it is (zero: WinOlder).
        reportException(KRO_CODE_SITE, e);
    } catch (...) {
        reportUnknownException(KRO_CODE_SITE);
    }
    return classifyOsVersion(record.dwMajorVersion, record.dwMinorVersion);
}

}  // namespace seams

}  // namespace SysInfo
