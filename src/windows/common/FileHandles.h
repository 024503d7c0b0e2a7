// Files and folders reached through handles instead of paths: a folder held open, what lies inside it opened
// relative to that handle, the final path and identity of what a handle names, and what its volume is. A path
// is looked up anew at every use, and whoever controls a folder on it can re-point it between two uses; a
// handle keeps naming the object it was opened on.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <functional>
#include <string>
#include <vector>

#include "WinAutoHandle.h"

namespace FileUtils {

using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// "\\?\C:\a" gives "C:\a" and "\\?\UNC\server\share\a" gives "\\server\share\a"; any other text is returned
// unchanged.
std::wstring withoutLongPathPrefix(const std::wstring& path);
// The path of what the handle names, links resolved, for records and for starting programs: in drive-letter
// or UNC form; else in volume-GUID form ("\\?\Volume{...}\a") when the volume has no drive letter; empty
// when the system gives neither (a volume the mount manager doesn't know, as some RAM disks). Never throws
// but for memory.
std::wstring finalPathOf(HANDLE handle, FinalPathFunction getFinalPath = &GetFinalPathNameByHandleW);
// The kernel's own name of what the handle names ("\Device\HarddiskVolume2\a"), which every local volume has,
// whether or not it has a drive letter; what a started process's image is named in, too. Empty when the
// system gives none. Never throws but for memory.
std::wstring ntPathOf(HANDLE handle, FinalPathFunction getFinalPath = &GetFinalPathNameByHandleW);

// Which object a handle names, whatever it is called: the volume's serial number and the file's 128-bit id on
// it (the 64-bit index where a file system has no such id, as FAT).
struct FileIdentity {
    ULONGLONG volume = 0;
    FILE_ID_128 id{};
};
bool operator==(const FileIdentity& a, const FileIdentity& b);
// Reads the identity of what the handle names; false (with the last error set) when the system can't tell.
bool identityOf(HANDLE handle, FileIdentity& identity);
// The attributes of what the handle names (FILE_ATTRIBUTE_*), from the one query every file system answers;
// INVALID_FILE_ATTRIBUTES when they can't be read.
DWORD attributesOf(HANDLE handle);

// What a handle names: a folder or a file of a file system, or a device (a character device such as NUL, a
// pipe, a console).
enum class ObjectKind { Folder, File, Device };
ObjectKind kindOf(HANDLE handle);

// True when what the handle names lies on a remote device: a network redirector, a UNC final path (finalPath,
// as finalPathOf gives it), or a drive the system reports as remote.
bool isOnRemoteDevice(HANDLE handle, const std::wstring& finalPath);
// True when the handle's volume keeps access lists (FILE_PERSISTENT_ACLS): FAT and exFAT don't, so a
// descriptor handed to them protects nothing.
bool keepsAccessLists(HANDLE handle);

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

// How the entries of a folder are known to be what their names say: by final path where the folder has one
// (the query every system answers quickly), else (a volume the mount manager doesn't know) by kernel name.
struct FolderNames {
    std::wstring path;
    std::wstring ntPath;  // set where path is not a final path
    // The names of the entry name inside this folder.
    FolderNames inside(const std::wstring& name) const;
};
// The names of the folder that the handle holds, path being where it was reached.
FolderNames namesOf(HANDLE folder, const std::wstring& path);
// True when the handle names the entry name of the folder, and not (say) what a link there points to.
bool namesEntry(HANDLE handle, const FolderNames& folder, const std::wstring& name);

// The error of an open that asked not to wait for another's opportunistic lock (FILE_COMPLETE_IF_OPLOCKED)
// and found one being broken.
constexpr DWORD errorOplockBreakInProgress = 742;

// Opens or creates name inside the folder that the handle holds (or, with a null folder, the kernel's full
// name given as name): nothing but name is looked up, and the folder is the one held, whatever its path means
// by now. FILE_SYNCHRONOUS_IO_NONALERT is always added to the options. An open that passed
// FILE_COMPLETE_IF_OPLOCKED and met another's lock is closed again: on Windows whoever holds an opportunistic
// lock on a name could otherwise keep the launcher waiting there. On failure the result owns nothing and
// error holds the Win32 code (183 for a name that exists, 303 for a name whose deletion is pending, 32 for a
// sharing violation, 2 for a missing name, errorOplockBreakInProgress). Throws only the binding's errors.
WinAutoHandle<HANDLE> openInFolder(HANDLE folder, const std::wstring& name, const OpenRequest& request,
                                   DWORD& error, NtCreateFileFunction ntCreateFile = boundNtCreateFile());

// A folder opened once and kept open for opening what is inside. Held (open()), it is also listed through its
// handle, and shares reading and writing but not deletion: while it is held nobody can rename or delete it,
// and on Windows nobody can rename any folder above it either, so its final path keeps naming it.
class HeldFolder {
public:
    HeldFolder() = default;
    // Opens the folder and holds it, following links to it (a drive given as "T:" is its root, not its
    // current directory). A folder that can't be opened gives an object that holds nothing, with the reason
    // in error().
    static HeldFolder open(const std::wstring& path,
                           FinalPathFunction getFinalPath = &GetFinalPathNameByHandleW);
    // Opens what the path names for its attributes alone (FILE_READ_ATTRIBUTES | SYNCHRONIZE), which share
    // modes ignore: nobody's open of it refuses this one, and this one refuses nobody's. It holds nothing
    // against rename and can't be listed through its handle (canList() is false); opens relative to it need
    // no access on it. Whatever the path names is opened, a file or a device too (see facts in WorkPlace).
    static HeldFolder openForAttributes(const std::wstring& path,
                                        FinalPathFunction getFinalPath = &GetFinalPathNameByHandleW);
    // The same object reopened through this handle and held as open() holds (its name is not looked up
    // again); its paths are this one's. One that can't be had holds nothing, with the reason in error().
    HeldFolder held() const;

    bool isHeld() const { return handle_.owned(); }
    HANDLE handle() const { return handle_.get(); }
    // True when the handle may list the folder (FILE_LIST_DIRECTORY).
    bool canList() const { return canList_; }
    // The final path of the held folder (finalPathOf); on a volume the mount manager doesn't know, which has
    // a kernel name only, the path it was opened by with the long names the kernel gives below its drive;
    // empty when neither can be had.
    const std::wstring& path() const { return path_; }
    // The kernel's name of the held folder (ntPathOf); empty when it can't be had.
    const std::wstring& ntPath() const { return ntPath_; }
    // How its entries are known to be what their names say.
    FolderNames names() const { return {path_, pathIsFinal_ ? std::wstring() : ntPath_}; }
    DWORD error() const { return error_; }

private:
    static HeldFolder openWith(const std::wstring& path, ACCESS_MASK access, FinalPathFunction getFinalPath);

    WinAutoHandle<HANDLE> handle_;
    std::wstring path_;
    std::wstring ntPath_;
    bool pathIsFinal_ = false;
    bool canList_ = false;
    DWORD error_ = ERROR_SUCCESS;
};

// The path of a folder on a volume the mount manager doesn't know, from the text it was opened by and its
// kernel name: the drive of the text (when the drive is that volume's device, as dosDevice tells) with the
// kernel's long names below it, so that "R:\TEMPOR~1" reads "R:\Temporary Files". The text unchanged
// otherwise.
using DosDeviceFunction = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);
std::wstring longPathOnDrive(const std::wstring& opened, const std::wstring& ntPath,
                             DosDeviceFunction dosDevice = &QueryDosDeviceW);

// One entry of a folder listed through its handle, with the attributes the listing gives it.
struct FolderEntry {
    std::wstring name;
    DWORD attributes;
};
// Lists the folder that the handle holds (opened with FILE_LIST_DIRECTORY), "." and ".." left out, handing
// each entry to onEntry until it returns false. False, with the last error set, when the listing fails.
bool listFolder(HANDLE folder, const std::function<bool(const FolderEntry&)>& onEntry);
// The same, collecting every entry.
bool listFolder(HANDLE folder, std::vector<FolderEntry>& entries);

// The information query that identityOf, attributesOf and the removal use, so that tests can answer as a file
// system that knows fewer classes (FAT) would; null restores GetFileInformationByHandleEx.
namespace seams {
using InformationFunction = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
void setInformationQuery(InformationFunction query);
InformationFunction informationQuery();
}  // namespace seams

}  // namespace FileUtils
