// The launcher's protected working directory, from its creation to its removal. The directory is created and
// held in one call, known by its identity from then on, holds the installer written and locked inside it, and
// is emptied and removed without ever following a link. The steps named in the launcher's records live in the
// launcher's unnamed namespace (code sites "`anonymous-namespace'::createSecureDirectory"); this file is
// included by the launcher's main file and by the tests that drive the steps directly.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FileHandles.h"
#include "FileUtils.h"
#include "Log.h"
#include "Retry.h"
#include "Security.h"
#include "SysInfo.h"
#include "WinAutoHandle.h"
#include "WinErrorHandling.h"
#include "tstrings.h"

namespace launcher {

// The removal of the directory is retried for this long, a step apart, before what is left is given up to the
// next run: a program that has just ended, or that the installer started, can hold its files a while longer.
constexpr DWORD removalDeadlineMs = 5000;
constexpr DWORD removalStepMs = 50;

// A created directory, held from its creation until its removal: nobody can rename or delete it meanwhile.
// The hold shares reading and writing (on Windows every move into a folder opens it for writing, and so do
// the installer's own moves) but not deletion, and holds no DELETE access itself (Windows opens a process's
// current directory without delete sharing, so that would keep the installer from starting).
class SecureDirectory {
public:
    // Takes over a directory that was created and held as name in the held temporary directory temp (which
    // outlives it), and records its identity.
    SecureDirectory(const FileUtils::HeldFolder& temp, WinAutoHandle<HANDLE> hold, const std::wstring& name,
                    const std::wstring& path);
    SecureDirectory(const SecureDirectory&) = delete;
    SecureDirectory& operator=(const SecureDirectory&) = delete;
    // Removes the directory (remove()).
    ~SecureDirectory();

    const std::wstring& path() const { return path_; }

    // Writes the bytes as a new file name in the directory and returns it held against change, rename and
    // deletion (read access, reading shared). The file is created under its final name, so no move is needed;
    // it is started only after the whole write succeeded. Writes TRACE "Created [path] file". Throws
    // KroError<SysError> "CreateFile(path) failed" or "WriteFile(path) failed".
    WinAutoHandle<HANDLE> writeFile(const std::wstring& name, const void* bytes, DWORD size) const;
    // Holds the existing file name in the directory the same way. Throws KroError<SysError> "CreateFile(path)
    // failed".
    WinAutoHandle<HANDLE> holdFile(const std::wstring& name) const;

    // Removes everything inside while the hold is taken, then releases the hold and removes the directory
    // itself, but only once a handle opened on its name, not following links, shows the identity recorded at
    // its creation. Anything else found under the name is left alone with a WARNING record. Retried for
    // removalDeadlineMs; what is still left then is named in a WARNING record and left to the next run's
    // sweep. Never throws.
    void remove() noexcept;

    // Test builds only: called with the directory's path right after the hold is released.
    using ReleaseHook = void (*)(const std::wstring& path);
    static void setReleaseHook(ReleaseHook hook);

private:
    enum class Outcome { Removed, Retry, Stop };
    // One attempt at the directory itself, after its contents have gone.
    Outcome removeByIdentity(std::vector<std::wstring>& left);

    const FileUtils::HeldFolder& temp;
    WinAutoHandle<HANDLE> hold;
    FileUtils::FileIdentity identity;
    bool identityKnown;
    bool removed = false;
    std::wstring name;
    std::wstring path_;
};

// Removes the working directories that earlier runs left in the temporary directory (killed runs, removals
// that gave up): entries named exactly "kro" + number + ".tmp" that are directories. A directory that some
// running launcher holds refuses the DELETE access this asks for first, and is skipped whole. Writes the
// TRACE records of each removal, one INFO record with the count when any were removed, and a WARNING record
// for each that could not be. Never throws.
void removeLeftovers(const FileUtils::HeldFolder& temp);

// True for "kro" + decimal number (a minus sign allowed) + ".tmp", exactly.
bool isLeftoverName(const std::wstring& name);

}  // namespace launcher

namespace {

// Owner Administrators; the list protected ("P") so that Windows does not merge the inheritable entries of
// the user's TEMP into it (those would give the unelevated user control of the folder the elevated launcher
// runs from); full access for Administrators and SYSTEM, inherited by everything created inside ("OICI"), so
// that the installer's protection does not depend on the token's default access list. With the owner named,
// an administrator's own account does not become the owner (as the policy "default owner for objects created
// by administrators: object creator" would make it), which could rewrite the list from an unelevated process.
constexpr const wchar_t* secureDirectorySddl = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

constexpr int secureDirectoryNameAttempts = 100;

// Creates "kro<number>.tmp" in the held temporary directory with the Administrators-only descriptor, held
// from the same call on (the name can't be taken by anyone else between its creation and the hold), and
// returns it. Numbers follow the tick count; a name that exists (or whose deletion is pending) moves on to
// the next, 100 numbers in all. Writes TRACE "Created [path] directory". Throws KroError<SysError>
// "CreateDirectory(path) failed", or KroError<std::runtime_error> when TEMP can't be held, has no final path,
// or no name is free.
inline launcher::SecureDirectory createSecureDirectory(
    FileUtils::NtCreateFileFunction ntCreateFile = FileUtils::boundNtCreateFile(),
    DWORD(WINAPI* tickCount)() = &GetTickCount) {
    const FileUtils::HeldFolder& temp = SysInfo::heldTempDir();
    if (!temp.isHeld()) {
        KRO_THROW_SYSERROR_CODE(CreateFileW, temp.error(),
                                "CreateFile(" << SysInfo::getTempDir() << ") failed");
    }
    if (temp.path().empty()) {
        KRO_THROW("The final path of the temporary directory " << SysInfo::getTempDir() << " can't be had");
    }
    const security::SecurityDescriptor descriptor(tstrings::TextBuilder() << secureDirectorySddl);
    const FileUtils::OpenRequest request{
        FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT,
        descriptor};
    const DWORD start = tickCount();
    for (DWORD i = 0; i < secureDirectoryNameAttempts; ++i) {
        const std::wstring name = L"kro" + tstrings::toString(static_cast<std::int32_t>(start + i)) + L".tmp";
        const std::wstring path = FileUtils::joinPath(temp.path(), name);
        DWORD error = ERROR_SUCCESS;
        WinAutoHandle<HANDLE> hold =
            FileUtils::openInFolder(temp.handle(), name, request, error, ntCreateFile);
        if (hold.owned()) {
            KRO_LOG(TRACE, "Created [" << path << "] directory");
            return launcher::SecureDirectory(temp, std::move(hold), name, path);
        }
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS && error != ERROR_DELETE_PENDING) {
            KRO_THROW_SYSERROR_CODE(ntCreateFile, error, "CreateDirectory(" << path << ") failed");
        }
    }
    KRO_THROW("No free name for the secure directory in " << temp.path() << " after "
                                                          << secureDirectoryNameAttempts << " attempts");
}

// True when the directory holds exactly one entry, the child's file (ASCII letters compared without case).
// A missing directory, any folder, any other file, or no file at all gives false. Listing errors are thrown.
inline bool isSecureDirectoryIntact(const std::wstring& secureDirectory, const std::wstring& childPath) {
    std::vector<std::wstring> entries;
    FileUtils::DirectoryIterator(secureDirectory, true, true, true).findItems(entries);
    return entries.size() == 1 && tstrings::equals(entries[0], childPath, tstrings::IGNORE_CASE);
}

}  // namespace
