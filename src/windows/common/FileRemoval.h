// Removing files and folder trees through handles: each entry opened relative to its folder without following
// a link and without waiting for anyone's opportunistic lock, checked to be what its name says, walked with a
// stack of its own (not the thread's) and deleted by handle. The working directory's clean-up and the sweep
// for leftovers decide what to remove; this module does the removing.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "FileHandles.h"
#include "WinAutoHandle.h"

namespace FileUtils {

// Folders nested deeper than this below the one removed are left alone: no run of ours makes them, and the
// walk's memory grows with the depth.
constexpr std::size_t deepestRemovedFolder = 256;

// How far one removal may go.
struct RemovalLimits {
    // GetTickCount64 value after which nothing more is removed; what is left then is named as left.
    ULONGLONG deadline = ~0ull;
    std::size_t maxDepth = deepestRemovedFolder;
};

// Opens name inside the held folder for its removal: the link itself where the name is one, DELETE and
// attribute access plus extraAccess, with the given sharing and extra create options, never waiting for
// another's opportunistic lock. On failure the result owns nothing and error holds the Win32 code (see
// openInFolder). Throws only the binding's errors.
WinAutoHandle<HANDLE> openForRemoval(HANDLE folder, const std::wstring& name, ACCESS_MASK extraAccess,
                                     ULONG share, ULONG extraOptions, DWORD& error);

// True when the directory opened by openForRemoval as name in the folder is that entry itself: no link (a
// junction, a symbolic link, a mount point, or anything whose attributes can't be read), and not what a link
// there points to (Wine opens the target of a Unix link even when asked for the link itself).
bool isEntryItself(HANDLE directory, const FolderNames& folder, const std::wstring& name);

using SetInformationFunction = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
// Marks what the handle names for deletion. Where the file system has them (NTFS on Windows 10 1809 and
// later) with POSIX semantics, so that the name goes at once even while a scanner still reads the file, and
// ignoring a read-only attribute, which is never changed; elsewhere with the classic disposition, clearing a
// read-only attribute first (TRACE "Discarded R/O attribute from [path] file") but only on a file with a
// single link, since the attribute belongs to every name of the file. False, with the last error set, when
// the system refuses (a folder that is not empty, a file in use, no DELETE access).
bool deleteByHandle(HANDLE handle, const std::wstring& path,
                    SetInformationFunction setInformation = &SetFileInformationByHandle);

// Removes everything inside the folder that the handle holds (with FILE_LIST_DIRECTORY access), folderPath
// being its final path. An entry whose kernel name is not the one its folder and name give (a link that the
// system followed) is left alone, and so is what lies deeper than limits.maxDepth or comes after
// limits.deadline. Writes the TRACE records "Deleted [path] file" and "Deleted [path] directory". Returns the
// paths of what is left (empty: the folder is now empty). Never throws: a failure is one more path left.
std::vector<std::wstring> removeFolderContents(HANDLE folder, const std::wstring& folderPath,
                                               const RemovalLimits& limits = {});

// Removes the directory opened by openForRemoval as path, which isEntryItself showed to be the real
// directory: emptied first (removeFolderContents), then closed, and TRACE "Deleted [path] directory" written
// once it is gone. Returns what is left: nothing once it is gone, else the entries still there, or the
// directory itself. Throws only what writing a record throws.
std::vector<std::wstring> removeOpened(WinAutoHandle<HANDLE>& directory, const std::wstring& path,
                                       const RemovalLimits& limits = {});

}  // namespace FileUtils
