#include "FileRemoval.h"

#include <exception>
#include <utility>

#include "ExceptionReporting.h"
#include "FileHandles.h"
#include "FileUtils.h"
#include "Log.h"
#include "tstrings.h"

namespace FileUtils {

namespace {

// FileDispositionInfoEx and its flags (Windows 10 and later, so not named by headers that target Windows 7).
const auto fileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
struct DispositionInfoEx {
    ULONG flags;
};
constexpr ULONG dispositionDelete = 0x1;
constexpr ULONG dispositionPosixSemantics = 0x2;
constexpr ULONG dispositionIgnoreReadOnly = 0x10;

bool wasGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

DWORD linksOf(HANDLE handle) {
    FILE_STANDARD_INFO standard{};
    return seams::informationQuery()(handle, FileStandardInfo, &standard, sizeof(standard))
               ? standard.NumberOfLinks
               : 0;
}

// The classic disposition keeps the name until the last handle closes, and refuses a read-only file: its
// attribute goes first, unless the file has other names, which share it.
bool deleteClassically(HANDLE handle, const std::wstring& path, SetInformationFunction setInformation) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (setInformation(handle, FileDispositionInfo, &disposition, sizeof(disposition))) {
        return true;
    }
    const DWORD refusal = GetLastError();
    const DWORD attributes = attributesOf(handle);
    if (refusal != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_READONLY) == 0 || linksOf(handle) != 1) {
        SetLastError(refusal);
        return false;
    }
    FILE_BASIC_INFO basic{};
    const DWORD kept = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    basic.FileAttributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
    if (!setInformation(handle, FileBasicInfo, &basic, sizeof(basic))) {
        return false;
    }
    KRO_LOG(TRACE, "Discarded R/O attribute from [" << path << "] file");
    return setInformation(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

// One folder of the walk: its handle (owned below the top), its names, and how far its entries are done.
struct Level {
    WinAutoHandle<HANDLE> owned;
    HANDLE handle = nullptr;
    FolderNames names;
    std::vector<FolderEntry> entries;
    std::size_t next = 0;
    std::size_t leftBefore = 0;  // what was left before this folder's entries were walked
};

void finishLevel(Level& level, std::vector<std::wstring>& left) {
    if (left.size() != level.leftBefore) {
        return;  // what is left inside is named already
    }
    if (!deleteByHandle(level.handle, level.names.path)) {
        left.push_back(level.names.path);
        return;
    }
    level.owned.reset();
    KRO_LOG(TRACE, "Deleted [" << level.names.path << "] directory");
}

// Walks the tree depth first with a stack of its own: a deep tree costs memory, never the thread's stack.
void removeTree(HANDLE folder, const std::wstring& folderPath, const RemovalLimits& limits,
                std::vector<std::wstring>& left) {
    std::vector<Level> stack(1);
    stack[0].handle = folder;
    stack[0].names = namesOf(folder, folderPath);
    if (!listFolder(folder, stack[0].entries)) {
        left.push_back(folderPath);
        return;
    }
    while (!stack.empty()) {
        if (stack.back().next == stack.back().entries.size()) {
            Level done = std::move(stack.back());
            stack.pop_back();
            if (!stack.empty()) {
                finishLevel(done, left);
            }
            continue;
        }
        Level& top = stack.back();
        const FolderEntry& entry = top.entries[top.next++];
        const std::wstring path = joinPath(top.names.path, entry.name);
        if (GetTickCount64() >= limits.deadline) {
            left.push_back(path);
            continue;
        }
        const bool listedAsFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                    (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        DWORD error = ERROR_SUCCESS;
        WinAutoHandle<HANDLE> handle =
            openForRemoval(top.handle, entry.name, listedAsFolder ? FILE_LIST_DIRECTORY : 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, error);
        if (!handle.owned()) {
            if (!wasGone(error)) {
                left.push_back(path);
            }
            continue;
        }
        // Opened as a link, a link's name is its own. Any other name means the system followed it.
        if (!namesEntry(handle.get(), top.names, entry.name)) {
            left.push_back(path);
            continue;
        }
        const DWORD attributes = attributesOf(handle.get());
        const bool folderItself =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folderItself && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            Level inner;
            inner.owned = std::move(handle);
            inner.handle = inner.owned.get();
            inner.names = top.names.inside(entry.name);
            inner.leftBefore = left.size();
            if (stack.size() > limits.maxDepth || !listFolder(inner.handle, inner.entries)) {
                left.push_back(path);
                continue;
            }
            stack.push_back(std::move(inner));
            continue;
        }
        if (!deleteByHandle(handle.get(), path)) {
            left.push_back(path);
            continue;
        }
        handle.reset();
        KRO_LOG(TRACE, "Deleted [" << path << "] " << (folderItself ? "directory" : "file"));
    }
}

}  // namespace

WinAutoHandle<HANDLE> openForRemoval(HANDLE folder, const std::wstring& name, ACCESS_MASK extraAccess,
                                     ULONG share, ULONG extraOptions, DWORD& error) {
    const OpenRequest request{
        DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE | extraAccess, share, FILE_OPEN,
        FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED | extraOptions};
    return openInFolder(folder, name, request, error);
}

bool isEntryItself(HANDLE directory, const FolderNames& folder, const std::wstring& name) {
    const DWORD attributes = attributesOf(directory);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           namesEntry(directory, folder, name);
}

bool deleteByHandle(HANDLE handle, const std::wstring& path, SetInformationFunction setInformation) {
    DispositionInfoEx disposition{dispositionDelete | dispositionPosixSemantics | dispositionIgnoreReadOnly};
    if (setInformation(handle, fileDispositionInfoEx, &disposition, sizeof(disposition))) {
        return true;
    }
    // Older systems and other file systems (FAT, ReFS) don't know the class or its flags; a read-only file is
    // refused where the flag that ignores it is unknown.
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION &&
        error != ERROR_ACCESS_DENIED) {
        SetLastError(error);
        return false;
    }
    return deleteClassically(handle, path, setInformation);
}

std::vector<std::wstring> removeFolderContents(HANDLE folder, const std::wstring& folderPath,
                                               const RemovalLimits& limits) {
    std::vector<std::wstring> left;
    try {
        removeTree(folder, folderPath, limits, left);
    } catch (const std::exception& e) {
        reportException(KRO_CODE_SITE, e);
        left.push_back(folderPath);
    } catch (...) {
        reportUnknownException(KRO_CODE_SITE);
        left.push_back(folderPath);
    }
    return left;
}

std::vector<std::wstring> removeOpened(WinAutoHandle<HANDLE>& directory, const std::wstring& path,
                                       const RemovalLimits& limits) {
    std::vector<std::wstring> left = removeFolderContents(directory.get(), path, limits);
    if (!left.empty()) {
        return left;
    }
    if (!deleteByHandle(directory.get(), path)) {
        return {path};
    }
    directory.reset();
    KRO_LOG(TRACE, "Deleted [" << path << "] directory");
    return {};
}

}  // namespace FileUtils
