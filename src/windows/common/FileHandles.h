// Files and folders reached through handles instead of paths: a folder held open, what lies inside it opened
// relative to that handle, the final path and identity of what a handle names, and deletion by handle. A path
// is looked up anew at every use, and whoever controls a folder on it can re-point it between two uses; a
// handle keeps naming the object it was opened on.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "WinAutoHandle.h"

namespace FileUtils {

using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// "\\?\C:\a" gives "C:\a" and "\\?\UNC\server\share\a" gives "\\server\share\a"; any other text is returned
// unchanged.
std::wstring withoutLongPathPrefix(const std::wstring& path);
// The path of what the handle names, links resolved: in drive-letter or UNC form, else in volume-GUID form
// ("\\?\Volume{...}\a") when the volume has no drive letter; empty when the system gives neither. Never
// throws but for memory.
std::wstring finalPathOf(HANDLE handle, FinalPathFunction getFinalPath = &GetFinalPathNameByHandleW);

// Which object a handle names, whatever it is called: the volume's serial number and the file's index on it.
struct FileIdentity {
    DWORD volume = 0;
    ULONGLONG index = 0;
};
bool operator==(const FileIdentity& a, const FileIdentity& b);
// Reads the identity of what the handle names; false (with the last error set) when the system can't tell.
bool identityOf(HANDLE handle, FileIdentity& identity);
// The attributes of what the handle names (FILE_ATTRIBUTE_*); INVALID_FILE_ATTRIBUTES when they can't be
// read.
DWORD attributesOf(HANDLE handle);

using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                              PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
// NtCreateFile of ntdll, bound once from the system directory by full path. Throws the binding's errors.
NtCreateFileFunction boundNtCreateFile();

// What NtCreateFile is asked for: access, sharing, disposition (FILE_OPEN, FILE_CREATE, ...), create options
// (FILE_DIRECTORY_FILE, FILE_OPEN_REPARSE_POINT, ...) and the security descriptor of a new object.
struct OpenRequest {
    ACCESS_MASK access;
    ULONG share;
    ULONG disposition;
    ULONG options;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
};

// Opens or creates name (one component) inside the folder that the handle holds: nothing but name is looked
// up, and the folder is the one held, whatever its path means by now. FILE_SYNCHRONOUS_IO_NONALERT is always
// added to the options. On failure the result owns nothing and error holds the Win32 code (183 for a name
// that exists, 303 for a name whose deletion is pending, 32 for a sharing violation, 2 for a missing name).
// Throws only the binding's errors.
WinAutoHandle<HANDLE> openInFolder(HANDLE folder, const std::wstring& name, const OpenRequest& request,
                                   DWORD& error, NtCreateFileFunction ntCreateFile = boundNtCreateFile());

// A folder opened once and kept open for listing and for opening what is inside, sharing reading and writing
// but not deletion: while it is held nobody can rename or delete it, and on Windows nobody can rename any
// folder above it either, so its final path keeps naming it.
class HeldFolder {
public:
    HeldFolder() = default;
    // Opens the folder, following links to it (a drive given as "T:" is its root, not its current
    // directory). A folder that can't be opened gives an object that holds nothing, with the reason in
    // error().
    static HeldFolder open(const std::wstring& path,
                           FinalPathFunction getFinalPath = &GetFinalPathNameByHandleW);

    bool isHeld() const { return handle_.owned(); }
    HANDLE handle() const { return handle_.get(); }
    // The final path of the held folder (finalPathOf); empty when it can't be had.
    const std::wstring& path() const { return path_; }
    DWORD error() const { return error_; }

private:
    WinAutoHandle<HANDLE> handle_;
    std::wstring path_;
    DWORD error_ = ERROR_SUCCESS;
};

// One entry of a folder listed through its handle, with the attributes the listing gives it.
struct FolderEntry {
    std::wstring name;
    DWORD attributes;
};
// Lists the folder that the handle holds (opened with FILE_LIST_DIRECTORY), "." and ".." left out. False,
// with the last error set, when the listing fails.
bool listFolder(HANDLE folder, std::vector<FolderEntry>& entries);

// Marks what the handle names for deletion (it goes when its last handle is closed). False, with the last
// error set, when the system refuses: a folder that is not empty, a read-only file, no DELETE access.
bool deleteByHandle(HANDLE handle);

// Removes everything inside the folder that the handle holds (listed through the handle, so it needs
// FILE_LIST_DIRECTORY), folderPath being the folder's final path. Each entry is opened relative to its folder
// without following a link: a link is removed as a link where the system allows it, and what it points to is
// never entered; an entry whose final path is not the one expected (a link that the system followed) is left
// alone. Read-only files lose that attribute first. Writes the TRACE records "Deleted [path] file" and
// "Deleted [path] directory". Returns the paths of what is left (empty: the folder is now empty). Never
// throws: a failure is one more path left.
std::vector<std::wstring> removeFolderContents(HANDLE folder, const std::wstring& folderPath);

}  // namespace FileUtils
