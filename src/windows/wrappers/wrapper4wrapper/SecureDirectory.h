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

#include "FileCopy.h"
#include "FileHandles.h"
#include "FileUtils.h"
#include "Log.h"
#include "Security.h"
#include "WinAutoHandle.h"
#include "WinErrorHandling.h"
#include "tstrings.h"

namespace launcher {

// The removal of the directory is retried for this long, a step apart, before what is left is given up to the
// next run: a program that has just ended, or that the installer started, can hold its files a while longer.
constexpr DWORD removalDeadlineMs = 5000;
constexpr DWORD removalStepMs = 50;

// "[a], [b]": paths as the WARNING records name them.
std::wstring listedPaths(const std::vector<std::wstring>& paths);

// A created directory, held from its creation until its removal: nobody can rename or delete it meanwhile.
// The hold shares reading and writing (on Windows every move into a folder opens it for writing, and so do
// the installer's own moves) but not deletion, and holds no DELETE access itself (Windows opens a process's
// current directory without delete sharing, so that would keep the installer from starting).
class SecureDirectory {
public:
    // Takes over a directory that was created and held as name in the held folder parent (which outlives
    // it), and records its identity.
    SecureDirectory(const FileUtils::HeldFolder& parent, WinAutoHandle<HANDLE> hold, const std::wstring& name,
                    const std::wstring& path);
    SecureDirectory(const SecureDirectory&) = delete;
    SecureDirectory& operator=(const SecureDirectory&) = delete;
    // Removes the directory (remove()).
    ~SecureDirectory();

    const std::wstring& path() const { return path_; }
    // The folder the directory was made in.
    const FileUtils::HeldFolder& place() const { return parent; }

    // Writes the source's bytes as a new file name in the directory and returns it held against change,
    // rename and deletion (read access, reading shared). The file is created under its final name, so no move
    // is needed; it is started only after the whole write succeeded. Writes TRACE "Created [path] file".
    // Throws KroError<SysError> "CreateFile(path) failed", "ReadFile(source's path) failed" or
    // "WriteFile(path) failed".
    WinAutoHandle<HANDLE> writeFile(const std::wstring& name, const FileUtils::ByteSource& source) const;
    // Copies all that the handle holds as a new file name in the directory, each chunk passed to check before
    // it is written, and returns it held the same way: the copy is made from the open file, never by a path
    // someone could re-point. Writes TRACE "Copied [sourcePath] file to [path]". Throws KroError<SysError>
    // "GetFileSizeEx(sourcePath) failed", "CreateFile(path) failed", "ReadFile(sourcePath) failed" or
    // "WriteFile(path) failed", and what check throws.
    WinAutoHandle<HANDLE> copyFile(const std::wstring& name, HANDLE source, const std::wstring& sourcePath,
                                   const FileUtils::ChunkCheck& check) const;

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
    // Creates name in the directory for writing; the file is written under its final name.
    WinAutoHandle<HANDLE> createFile(const std::wstring& name, const std::wstring& path) const;
    // Holds the existing file name in the directory against change, rename and deletion.
    WinAutoHandle<HANDLE> holdFile(const std::wstring& name, const std::wstring& path) const;

    const FileUtils::HeldFolder& parent;
    WinAutoHandle<HANDLE> hold;
    FileUtils::FileIdentity identity;
    bool identityKnown;
    bool removed = false;
    std::wstring name;
    std::wstring path_;
};

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

using RandomFunction = std::uint32_t (*)();

// Creates "kro<number>.tmp" in the held folder parent with the Administrators-only descriptor, held from the
// same call on (the name can't be taken by anyone else between its creation and the hold), and returns it.
// The numbers come from the system's random source, so that nobody can take the coming names beforehand; a
// name that exists (or whose deletion is pending) moves on to another, 100 numbers in all. Writes TRACE
// "Created [path] directory". Throws KroError<SysError> "CreateDirectory(path) failed", or
// KroError<std::runtime_error> when no name is free.
inline launcher::SecureDirectory createSecureDirectory(
    const FileUtils::HeldFolder& parent,
    FileUtils::NtCreateFileFunction ntCreateFile = FileUtils::boundNtCreateFile(),
    RandomFunction randomNumber = &security::randomNumber) {
    const security::SecurityDescriptor descriptor(tstrings::TextBuilder() << secureDirectorySddl);
    const FileUtils::OpenRequest request{
        FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
        FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED, descriptor};
    for (int i = 0; i < secureDirectoryNameAttempts; ++i) {
        const std::wstring name = L"kro" + tstrings::toString(std::uint64_t{randomNumber()}) + L".tmp";
        const std::wstring path = FileUtils::joinPath(parent.path(), name);
        DWORD error = ERROR_SUCCESS;
        WinAutoHandle<HANDLE> hold =
            FileUtils::openInFolder(parent.handle(), name, request, error, ntCreateFile);
        if (hold.owned()) {
            KRO_LOG(TRACE, "Created [" << path << "] directory");
            return launcher::SecureDirectory(parent, std::move(hold), name, path);
        }
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS && error != ERROR_DELETE_PENDING &&
            error != FileUtils::errorOplockBreakInProgress) {
            // Described as what it is, a directory's creation: ntdll's message table holds other texts.
            KRO_THROW_SYSERROR_CODE(CreateDirectoryW, error, "CreateDirectory(" << path << ") failed");
        }
    }
    KRO_THROW("No free name for the secure directory in " << parent.path() << " after "
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
