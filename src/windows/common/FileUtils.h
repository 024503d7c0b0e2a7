// File-system functions: path text, queries, file operations, folder walking and scoped deletion.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "WinAutoHandle.h"

namespace FileUtils {

// Where a path lies; the launcher only tells Network from the rest.
enum PathLocation { Local = 0, Network = 1, Other = 2, Invalid = 3 };

// The last component: the text after the last backslash or slash (empty when the path ends in one).
std::wstring getFileName(const std::wstring& path);
// The folder part without trailing separators; empty when there is none ("C:\file" gives "C:").
std::wstring getDirectory(const std::wstring& path);
// The path without any trailing backslashes or slashes.
std::wstring removeTrailingSeparators(const std::wstring& path);
// folder + one backslash + name, with the folder's trailing separators and one leading separator of the name
// dropped; an empty folder or name gives the other part alone.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);

// True for an existing file or folder; any failure (a denied access too) counts as absence.
bool pathExists(const std::wstring& path);
// True for an existing folder.
bool isDirectory(const std::wstring& path);
// Network for a path starting with one backslash or on a remote drive; Local for removable, fixed and RAM
// drives; Invalid for a path too short to name a drive; Other for the rest. Never fails.
PathLocation getPathLocation(const std::wstring& path);

// The 41 characters that may not appear in a name part: code points 0 to 31, then <>:"|?*/ and backslash.
std::wstring invalidFileNameChars();

// --- File operations. Each change writes one TRACE record after it succeeded. ---

using TickCountFunction = DWORD(WINAPI*)();

// Creates a new empty file prefix + number + suffix in folder and returns its path; the numbers tried are 100
// consecutive values from the tick count. Throws KroError<std::runtime_error> for illegal characters in
// prefix or suffix, and "createTempFile(prefix, suffix, folder) failed" when no name could be had.
std::wstring createTempFile(const std::wstring& prefix, const std::wstring& suffix,
                            const std::wstring& folder);
// The same with the tick count read from the given function.
std::wstring createTempFile(const std::wstring& prefix, const std::wstring& suffix,
                            const std::wstring& folder, TickCountFunction tickCount);
// Creates every missing folder of the path. The prefixes that are no folders are passed over: the server and
// share of "\\server\share\a" and "\\?\UNC\server\share\a", and the "\\?\" of "\\?\C:\a". Throws
// KroError<SysError> "CreateDirectory(path) failed".
void createDirectories(const std::wstring& path);
namespace seams {
// The same with the creation of one folder passed in (given each folder's path with a trailing backslash).
using CreateDirFunction = void (*)(const std::wstring&);
void createDirectories(const std::wstring& path, CreateDirFunction create);
}  // namespace seams
// Copies a file, never onto an existing target, creating the target's folders first. Throws
// KroError<SysError> "CopyFile(source, target, 1) failed".
void copyFile(const std::wstring& source, const std::wstring& target);
// Moves a file, replacing an existing target (across volumes by copying), creating the target's folders
// first. Throws KroError<SysError> "MoveFileEx(source, target, 3) failed".
void moveFile(const std::wstring& source, const std::wstring& target);

// Writes all size bytes at the file's position in as few writes as the system takes, continuing a short
// write. Throws KroError<SysError> "WriteFile(path) failed"; a write that stops without saying why (Wine does
// so on a full disk) is reported as ERROR_DISK_FULL.
void writeAll(HANDLE file, const void* bytes, DWORD size, const std::wstring& path);

// Selects the throwing form of deleteFile.
struct ThrowOnFailure {};
constexpr ThrowOnFailure throwOnFailure{};

// Deletes a file, clearing a read-only attribute if that is what stops it. True when the file is gone (also
// when it never existed); on false the last error tells why. Never throws.
bool deleteFile(const std::wstring& path);
// The same, throwing KroError<SysError> "DeleteFile(path) failed" instead of returning false.
void deleteFile(const std::wstring& path, ThrowOnFailure);
// Removes an empty folder. True when it is gone (also when it never existed). Never throws, never logs a
// failure.
bool deleteDirectory(const std::wstring& path);

// --- Walking folders ---

// Receives the entries of a walk; each returns false to stop it.
class DirectoryCallback {
public:
    virtual ~DirectoryCallback() = default;
    // An entry that is not a folder.
    virtual bool onFile(const std::wstring& path);
    // A folder entry other than "." and "..", links to folders included.
    virtual bool onFolder(const std::wstring& path);
};

// Lists one folder level, in the file system's order. An empty folder calls nothing. Throws
// KroError<SysError> "FindFirstFile(folder) failed" or "FindNextFile(folder) failed" on listing errors (a
// missing folder included).
void iterateDirectory(const std::wstring& folder, DirectoryCallback& callback);

// Collects entry paths, depth first with each folder before its contents. Never enters a folder that is a
// link (junction, symbolic link, mount point): the link itself is collected, what it points to is not.
class DirectoryIterator : public DirectoryCallback {
public:
    DirectoryIterator(const std::wstring& root, bool recursive, bool withFiles, bool withFolders);
    bool onFile(const std::wstring& path) override;
    bool onFolder(const std::wstring& path) override;
    // Appends what the walk finds to output; a root that is not a folder adds nothing. Throws listing errors.
    void findItems(std::vector<std::wstring>& output);

private:
    bool recursive;
    bool withFiles;
    bool withFolders;
    std::wstring root;
    std::vector<std::wstring> items;
};

// True for a folder entry that is a reparse point (junction, symbolic link, mount point).
bool isLinkFolder(const std::wstring& path);

// --- Scoped deletion ---

// Paths registered for deletion, deleted when the object goes or is told to execute: single files first, then
// folders' own files, then whole folder trees, then empty folders, each kind in registration order. Never
// throws; what can't be deleted stays and is logged. With the reboot fallback, what is left is scheduled for
// deletion at the next reboot.
class ScopedDeleter {
public:
    explicit ScopedDeleter(bool rebootFallback);
    ~ScopedDeleter();
    ScopedDeleter(const ScopedDeleter&) = delete;
    ScopedDeleter& operator=(const ScopedDeleter&) = delete;

    void appendFile(const std::wstring& path);
    // The folder with everything in it.
    void appendDirectory(const std::wstring& path);
    // Forgets every entry without deleting anything.
    void cancel();
    // Deletes what is registered and forgets it; a second call does nothing.
    void execute();

    enum Kind { File = 0, FolderFiles = 1, FolderTree = 2, EmptyFolder = 3 };
    struct Entry {
        std::wstring path;
        int action;  // kind * 2, plus 1 when the reboot fallback applies
    };
    // Registers an entry with an explicit action code (codes 0 to 7; others do nothing).
    void appendEntry(const std::wstring& path, int action);

private:
    bool rebootFallback;
    std::vector<Entry> entries;
};

}  // namespace FileUtils
