// The launcher's protected working directory. These steps live in the launcher's unnamed namespace (their
// code sites read "`anonymous-namespace'::createSecureDirectory"); this file is included by the launcher's
// main file and by the tests that drive the steps directly.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "FileUtils.h"
#include "Security.h"
#include "SysInfo.h"
#include "WinErrorHandling.h"
#include "tstrings.h"

namespace {

// The one entry, full access for the built-in Administrators, protected ("P") so that Windows does not merge
// the inheritable entries of the user's TEMP into it: those would give the unelevated user control of the
// folder the elevated launcher runs from.
constexpr const wchar_t* secureDirectorySddl = L"D:P(A;;FA;;;BA)";

using CreateDirectoryFunction = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);

// Creates "kro<number>.tmp" in the temporary directory with the Administrators-only access list and returns
// its path. The name is claimed as a file first, so it was free a moment before; a name taken in between
// makes the creation fail, and nothing is retried. Throws on any failure; nothing is left on disk then.
inline std::wstring createSecureDirectory(CreateDirectoryFunction createDirectory = &CreateDirectoryW) {
    const std::wstring path = FileUtils::createTempFile(L"kro", L".tmp", SysInfo::getTempDir());
    FileUtils::deleteFile(path, FileUtils::throwOnFailure);
    const security::SecurityDescriptor descriptor(tstrings::TextBuilder() << secureDirectorySddl);
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    if (!createDirectory(path.c_str(), &attributes)) {
        KRO_THROW_SYSERROR(createDirectory, "CreateDirectory(" << path << ") failed");
    }
    return path;
}

// True when the directory holds exactly one entry, the child's file (ASCII letters compared without case).
// A missing directory, any folder, any other file, or no file at all gives false. Listing errors are thrown.
inline bool isSecureDirectoryIntact(const std::wstring& secureDirectory, const std::wstring& childPath) {
    std::vector<std::wstring> entries;
    FileUtils::DirectoryIterator(secureDirectory, true, true, true).findItems(entries);
    return entries.size() == 1 && tstrings::equals(entries[0], childPath, tstrings::IGNORE_CASE);
}

}  // namespace
