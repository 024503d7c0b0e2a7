// Facts about the process and the machine, the held temporary directory, and the Windows version classified
// once before the entry point.
#include "SysInfo.h"

#include <exception>
#include <vector>

#include "Dll.h"
#include "ExceptionReporting.h"
#include "FileUtils.h"
#include "Log.h"
#include "MachinePlaces.h"
#include "WinErrorHandling.h"

namespace SysInfo {

namespace {

constexpr std::size_t initialPathUnits = MAX_PATH;

std::wstring textUpToZero(const std::vector<wchar_t>& buffer) {
    std::size_t length = 0;
    while (length < buffer.size() && buffer[length] != L'\0') {
        ++length;
    }
    return std::wstring(buffer.data(), length);
}

std::wstring getModulePath(seams::ModuleFileNameFunction getModuleFileName, HMODULE module) {
    std::vector<wchar_t> buffer(initialPathUnits, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = getModuleFileName(module, buffer.data(), size);
        if (length >= size) {
            // The path may have been cut: double the room and ask again.
            buffer.resize(buffer.size() * 2, L'\0');
            continue;
        }
        if (length == 0) {
            KRO_THROW_SYSERROR(getModuleFileName, "GetModuleFileName failed");
        }
        return std::wstring(buffer.data(), length);
    }
}

std::wstring getSystemDirImpl(seams::SystemDirectoryFunction getSystemDirectory, const char* functionName) {
    std::vector<wchar_t> buffer(initialPathUnits, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const UINT size = static_cast<UINT>(buffer.size());
        const UINT result = getSystemDirectory(buffer.data(), size);
        if (result == 0) {
            KRO_THROW_SYSERROR(getSystemDirectory, functionName << " failed");
        }
        if (result < size) {
            return FileUtils::removeTrailingSeparators(textUpToZero(buffer));
        }
        buffer.resize(static_cast<std::size_t>(result) + 1, L'\0');
    }
    KRO_THROW("Unexpected reply from " << functionName);
}

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

std::wstring getProcessModulePath() {
    return getModulePath(&GetModuleFileNameW, nullptr);
}

std::wstring getCurrentModulePath() {
    return getModulePath(&GetModuleFileNameW, getCurrentModuleHandle());
}

HMODULE getCurrentModuleHandle() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&getCurrentModuleHandle), &module)) {
        KRO_THROW_SYSERROR(GetModuleHandleExW, "GetModuleHandleExW failed");
    }
    return module;
}

std::wstring getTempDir() {
    using TempPath2Function = DWORD(WINAPI*)(DWORD, LPWSTR);
    const DllFunction<TempPath2Function> tempPath2(Dll(tstrings::TextBuilder() << "kernel32"),
                                                   tstrings::TextBuilder() << "GetTempPath2W", false);
    return seams::getTempDir(tempPath2.isAvailable() ? static_cast<TempPath2Function>(tempPath2) : nullptr);
}

const FileUtils::HeldFolder& heldTempDir() {
    // Never destroyed: the log writes into it until the very end, exit handlers included. The system closes
    // the handle when the process ends.
    static const FileUtils::HeldFolder* const folder = new FileUtils::HeldFolder(openPlace(getTempDir()));
    return *folder;
}

std::wstring getSystemDir() {
    return getSystemDirImpl(&GetSystemDirectoryW, "GetSystemDirectory");
}

bool isNativeAmd64() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

namespace seams {

std::wstring getModulePath(ModuleFileNameFunction getModuleFileName, HMODULE module) {
    return SysInfo::getModulePath(getModuleFileName, module);
}

std::wstring getTempDir(TempPathFunction preferred) {
    const TempPathFunction getTempPath = preferred != nullptr ? preferred : &GetTempPathW;
    std::vector<wchar_t> buffer(initialPathUnits, L'\0');
    const DWORD needed = getTempPath(static_cast<DWORD>(buffer.size()), buffer.data());
    if (needed > buffer.size()) {
        buffer.assign(needed, L'\0');
        getTempPath(needed, buffer.data());
    }
    return FileUtils::removeTrailingSeparators(textUpToZero(buffer));
}

std::wstring getSystemDir(SystemDirectoryFunction getSystemDirectory, const char* functionName) {
    return getSystemDirImpl(getSystemDirectory, functionName);
}

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
