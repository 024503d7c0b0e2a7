// Facts about the running process and the machine. Directory paths come without trailing separators.
#pragma once

#include <windows.h>

#include <string>

#include "FileHandles.h"

namespace SysInfo {

// Full path of the running executable. Throws KroError<SysError> "GetModuleFileName failed".
std::wstring getProcessModulePath();
// Full path of the module that holds the calling code. Throws as getProcessModulePath.
std::wstring getCurrentModulePath();
// The module that holds the calling code; its reference count is not raised, so it is never freed.
// Throws KroError<SysError> "GetModuleHandleExW failed".
HMODULE getCurrentModuleHandle();
// The user's temporary directory, from GetTempPath2W where kernel32 exports it (for SYSTEM that is
// C:\Windows\SystemTemp, which only SYSTEM may write to, instead of C:\Windows\Temp, where every user may),
// else from GetTempPathW; empty when the system gives none. Never throws but for memory.
std::wstring getTempDir();
// The temporary directory, opened the first time it is asked for and kept open until the process ends (as a
// place to work in, openPlace: held, or for its attributes alone where it is a machine-wide folder): its
// path() is the final path, links resolved, that every later path into it is built from. Its text is never
// looked up again, so re-pointing TEMP (a junction, say) after that changes nothing. Holds nothing when the
// folder can't be opened. Never throws but for memory.
const FileUtils::HeldFolder& heldTempDir();
// The Windows system directory. Throws KroError<SysError> "GetSystemDirectory failed", or
// KroError<std::runtime_error> "Unexpected reply from GetSystemDirectory" when the needed size keeps growing.
std::wstring getSystemDir();
// True when the operating system's processor architecture is AMD64.
bool isNativeAmd64();

// The Windows version, classified once before the entry point, in release order.
enum OsVersion {
    WinOlder = 0,
    WinXP = 1,
    WinVista = 2,
    Win7 = 3,
    Win8 = 4,
    Win81 = 5,
    Win10 = 6,
    WinNewer = 7
};
// The version classified at start-up. Never fails.
OsVersion getOsVersion();

// The same queries with the system call passed in, so that tests can make the system misbehave.
namespace seams {
using ModuleFileNameFunction = DWORD(WINAPI*)(HMODULE, LPWSTR, DWORD);
using TempPathFunction = DWORD(WINAPI*)(DWORD, LPWSTR);
using SystemDirectoryFunction = UINT(WINAPI*)(LPWSTR, UINT);

std::wstring getModulePath(ModuleFileNameFunction getModuleFileName, HMODULE module);
// The temporary directory from preferred (GetTempPath2W where it exists), or from GetTempPathW when preferred
// is null.
std::wstring getTempDir(TempPathFunction preferred);
std::wstring getSystemDir(SystemDirectoryFunction getSystemDirectory, const char* functionName);
// The table of known versions; any other major version above 5 is WinNewer, the rest WinOlder.
OsVersion classifyOsVersion(DWORD major, DWORD minor);

// Where the version functions are bound from; tests name missing ones.
struct VersionSources {
    const char* rtlLibrary = "ntdll";
    const char* rtlFunction = "RtlGetVersion";
    const char* versionExLibrary = "Kernel32";
    const char* versionExFunction = "GetVersionExW";
};
// Fills the record with RtlGetVersion, or GetVersionExW when that fails, and classifies it. Failures are
// ERROR records; nothing is thrown.
OsVersion readOsVersion(OSVERSIONINFOEXW& record, const VersionSources& sources);
}  // namespace seams

}  // namespace SysInfo
