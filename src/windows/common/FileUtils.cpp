// File operations, folder walking and scoped deletion.
#include "FileUtils.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "ExceptionReporting.h"
#include "Log.h"
#include "WinAutoHandle.h"
#include "WinErrorHandling.h"

namespace FileUtils {

namespace {

constexpr int tempFileAttempts = 100;

bool hasInvalidChars(const std::wstring& text) {
    return !text.empty() && text.find_first_of(invalidFileNameChars()) != std::wstring::npos;
}

bool createNewFile(const std::wstring& path) {
    {
        const WinAutoHandle<HANDLE> file(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) {
            return false;
        }
    }
    KRO_LOG(TRACE, "Created [" << path << "] file");
    return true;
}

void createDir(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        KRO_LOG(TRACE, "Created [" << path << "] directory");
        return;
    }
    const DWORD errorCode = GetLastError();
    if (isDirectory(path)) {
        return;  // it existed already, or it is a drive root
    }
    KRO_THROW_SYSERROR_CODE(CreateDirectoryW, errorCode, "CreateDirectory(" << path << ") failed");
}

// Where the first folder that can be created begins: after the share of "\\server\share\a" or
// "\\?\UNC\server\share\a", after the prefix of "\\?\C:\a" or "\\.\C:\a", and at the start of any other
// path (a drive root is created silently).
std::size_t firstFolderAt(const std::wstring& text) {
    const auto afterShare = [&](std::size_t serverAt) {
        const std::size_t shareAt = text.find_first_of(L"\\/", serverAt);
        const std::size_t end =
            shareAt == std::wstring::npos ? shareAt : text.find_first_of(L"\\/", shareAt + 1);
        return end == std::wstring::npos ? text.size() : end + 1;
    };
    if (text.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        return afterShare(8);
    }
    if (text.rfind(L"\\\\?\\", 0) == 0 || text.rfind(L"\\\\.\\", 0) == 0) {
        return 4;
    }
    if (text.size() >= 2 && (text[0] == L'\\' || text[0] == L'/') && (text[1] == L'\\' || text[1] == L'/')) {
        return afterShare(2);
    }
    return 0;
}

void moveFileImpl(const std::wstring& source, const std::wstring& target, DWORD flags) {
    const bool folder = isDirectory(source);
    if (!MoveFileExW(source.c_str(), target.empty() ? nullptr : target.c_str(), flags)) {
        KRO_THROW_SYSERROR(MoveFileExW,
                           "MoveFileEx(" << source << ", " << target << ", " << flags << ") failed");
    }
    // "Moved 'a' file to 'b'", "Deleted 'a' folder", "Delete 'a' file on reboot".
    const bool reboot = (flags & MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    std::wstring message = target.empty() ? (reboot ? L"Delete" : L"Deleted") : (reboot ? L"Move" : L"Moved");
    message += L" '" + source + L"' " + (folder ? L"folder" : L"file");
    if (!target.empty()) {
        message += L" to '" + target + L"'";
    }
    if (reboot) {
        message += L" on reboot";
    }
    KRO_LOG(TRACE, message);
}

void deleteOnReboot(const std::wstring& path) {
    try {
        moveFileImpl(path, std::wstring(), MOVEFILE_DELAY_UNTIL_REBOOT);
    } catch (const std::exception& e) {
        reportException(KRO_CODE_SITE, e);
    } catch (...) {
        reportUnknownException(KRO_CODE_SITE);
    }
}

// A deletion that failed because there was nothing to delete counts as done.
bool wasAlreadyGone(DWORD errorCode) {
    return errorCode == ERROR_FILE_NOT_FOUND || errorCode == ERROR_PATH_NOT_FOUND;
}

bool deleteFileImpl(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) {
        KRO_LOG(TRACE, "Deleted [" << path << "] file");
        return true;
    }
    return wasAlreadyGone(GetLastError());
}

// Deletes every file lying directly in the walked folder; folders are passed over.
class DeleteFilesCallback : public DirectoryCallback {
public:
    bool onFile(const std::wstring& path) override {
        if (!deleteFile(path)) {
            failed = true;
        }
        return true;
    }

    bool failed = false;
};

// A folder tree: files, and each sub-folder with its own BatchDeleter.
class DeleteAllCallback : public DeleteFilesCallback {
public:
    bool onFolder(const std::wstring& path) override;
};

class BatchDeleter {
public:
    BatchDeleter(const std::wstring& path, bool recursive) : path(path), recursive(recursive) {}

    // True when everything meant was deleted. Never throws.
    bool execute() {
        // One look at the path answers all three questions: gone, a file, a link.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return false;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A link is removed as a link; what it points to is never walked.
            return recursive && deleteDirectory(path);
        }
        try {
            DeleteAllCallback all;
            DeleteFilesCallback files;
            DeleteFilesCallback& callback = recursive ? all : files;
            iterateDirectory(path, callback);
            if (callback.failed) {
                return false;
            }
            return recursive ? deleteDirectory(path) : true;
        } catch (const std::exception& e) {
            reportException(KRO_CODE_SITE, e);
        } catch (...) {
            reportUnknownException(KRO_CODE_SITE);
        }
        return false;
    }

private:
    std::wstring path;
    bool recursive;
};

bool DeleteAllCallback::onFolder(const std::wstring& path) {
    if (!BatchDeleter(path, true).execute()) {
        failed = true;
    }
    return true;
}

// What is left of an entry after its immediate step, scheduled for deletion at the next reboot.
void scheduleRemainderOnReboot(const ScopedDeleter::Entry& entry) {
    if (!pathExists(entry.path)) {
        return;
    }
    if (entry.action == 1) {
        deleteOnReboot(entry.path);
        return;
    }
    if (!isDirectory(entry.path)) {
        return;
    }
    std::vector<std::wstring> paths;
    try {
        if (entry.action == 3) {
            DirectoryIterator(entry.path, false, true, false).findItems(paths);
        } else if (entry.action == 5) {
            paths.push_back(entry.path);
            DirectoryIterator(entry.path, true, true, true).findItems(paths);
        } else if (entry.action == 7) {
            deleteOnReboot(entry.path);
        }
    } catch (const std::exception& e) {
        // A listing error must not leave a destructor; what was collected is still scheduled.
        reportException(KRO_CODE_SITE, e);
    } catch (...) {
        reportUnknownException(KRO_CODE_SITE);
    }
    // Last to first: every entry before the folder that holds it, the starting folder last.
    for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
        deleteOnReboot(*it);
    }
}

}  // namespace

std::wstring createTempFile(const std::wstring& prefix, const std::wstring& suffix,
                            const std::wstring& folder) {
    return createTempFile(prefix, suffix, folder, &GetTickCount);
}

std::wstring createTempFile(const std::wstring& prefix, const std::wstring& suffix,
                            const std::wstring& folder, TickCountFunction tickCount) {
    if (hasInvalidChars(prefix)) {
        KRO_THROW("Illegal characters in prefix=" << prefix);
    }
    if (hasInvalidChars(suffix)) {
        KRO_THROW("Illegal characters in suffix=" << suffix);
    }
    const DWORD start = tickCount();
    for (DWORD i = 0; i < tempFileAttempts; ++i) {
        const auto number = static_cast<std::int32_t>(start + i);  // wraps; shown as signed
        const std::wstring path = joinPath(folder, prefix + tstrings::toString(number) + suffix);
        if (createNewFile(path)) {
            return path;
        }
    }
    KRO_THROW("createTempFile(" << prefix << ", " << suffix << ", " << folder << ") failed");
}

void createDirectories(const std::wstring& path) {
    seams::createDirectories(path, &createDir);
}

namespace seams {

void createDirectories(const std::wstring& path, CreateDirFunction create) {
    const std::wstring text = removeTrailingSeparators(path) + L'\\';
    for (std::size_t pos = firstFolderAt(text); pos < text.size(); ++pos) {
        if (text[pos] == L'\\' || text[pos] == L'/') {
            create(text.substr(0, pos + 1));
        }
    }
}

}  // namespace seams

void copyFile(const std::wstring& source, const std::wstring& target) {
    createDirectories(getDirectory(target));
    if (!CopyFileW(source.c_str(), target.c_str(), TRUE)) {
        KRO_THROW_SYSERROR(CopyFileW, "CopyFile(" << source << ", " << target << ", " << 1 << ") failed");
    }
    KRO_LOG(TRACE, "Copied [" << source << "] file to [" << target << "]");
}

void moveFile(const std::wstring& source, const std::wstring& target) {
    createDirectories(getDirectory(target));
    moveFileImpl(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

void writeAll(HANDLE file, const void* bytes, DWORD size, const std::wstring& path) {
    const char* next = static_cast<const char*>(bytes);
    for (DWORD left = size; left > 0;) {
        DWORD written = 0;
        if (!WriteFile(file, next, left, &written, nullptr)) {
            KRO_THROW_SYSERROR(WriteFile, "WriteFile(" << path << ") failed");
        }
        if (written == 0) {
            KRO_THROW_SYSERROR_CODE(WriteFile, ERROR_DISK_FULL, "WriteFile(" << path << ") failed");
        }
        next += written;
        left -= written;
    }
}

bool deleteFile(const std::wstring& path) {
    if (deleteFileImpl(path)) {
        return true;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    SetLastError(ERROR_ACCESS_DENIED);  // the caller sees why the deletion failed
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return false;
    }
    if (!SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        const DWORD errorCode = GetLastError();
        KRO_LOG(WARNING, tstrings::fromMultiByte(SysError(tstrings::TextBuilder()
                                                              << "Failed to discard R/O attribute from ["
                                                              << path << "] file. File will not be deleted",
                                                          kro::functionAddress(SetFileAttributesW), errorCode)
                                                     .what()));
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    KRO_LOG(TRACE, "Discarded R/O attribute from [" << path << "] file");
    return deleteFileImpl(path);
}

void deleteFile(const std::wstring& path, ThrowOnFailure) {
    if (!deleteFile(path)) {
        KRO_THROW_SYSERROR(DeleteFileW, "DeleteFile(" << path << ") failed");
    }
}

bool deleteDirectory(const std::wstring& path) {
    if (RemoveDirectoryW(path.c_str())) {
        KRO_LOG(TRACE, "Deleted [" << path << "] directory");
        return true;
    }
    return wasAlreadyGone(GetLastError());
}

bool DirectoryCallback::onFile(const std::wstring&) {
    return true;
}

bool DirectoryCallback::onFolder(const std::wstring&) {
    return true;
}

void iterateDirectory(const std::wstring& folder, DirectoryCallback& callback) {
    WIN32_FIND_DATAW data{};
    const HANDLE search = FindFirstFileW(joinPath(folder, L"*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD errorCode = GetLastError();
        if (errorCode == ERROR_FILE_NOT_FOUND) {
            return;
        }
        KRO_THROW_SYSERROR_CODE(FindFirstFileW, errorCode, "FindFirstFile(" << folder << ") failed");
    }
    const std::unique_ptr<void, decltype(&FindClose)> owner(search, &FindClose);
    for (;;) {
        const std::wstring entry = joinPath(folder, data.cFileName);
        const std::wstring name = data.cFileName;
        bool goOn = true;
        if (data.dwFileAttributes == INVALID_FILE_ATTRIBUTES ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            goOn = callback.onFile(entry);
        } else if (name != L"." && name != L"..") {
            goOn = callback.onFolder(entry);
        }
        if (!goOn) {
            return;
        }
        if (!FindNextFileW(search, &data)) {
            const DWORD errorCode = GetLastError();
            if (errorCode == ERROR_NO_MORE_FILES) {
                return;
            }
            KRO_THROW_SYSERROR_CODE(FindNextFileW, errorCode, "FindNextFile(" << folder << ") failed");
        }
    }
}

bool isLinkFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

DirectoryIterator::DirectoryIterator(const std::wstring& root, bool recursive, bool withFiles,
                                     bool withFolders)
    : recursive(recursive), withFiles(withFiles), withFolders(withFolders), root(root) {}

bool DirectoryIterator::onFile(const std::wstring& path) {
    if (withFiles) {
        items.push_back(path);
    }
    return true;
}

bool DirectoryIterator::onFolder(const std::wstring& path) {
    if (withFolders) {
        items.push_back(path);
    }
    if (recursive && !isLinkFolder(path)) {
        DirectoryIterator(path, recursive, withFiles, withFolders).findItems(items);
    }
    return true;
}

void DirectoryIterator::findItems(std::vector<std::wstring>& output) {
    if (!isDirectory(root)) {
        return;
    }
    iterateDirectory(root, *this);
    output.insert(output.end(), items.begin(), items.end());
    items.clear();
}

ScopedDeleter::ScopedDeleter(bool rebootFallback) : rebootFallback(rebootFallback) {}

ScopedDeleter::~ScopedDeleter() {
    try {
        execute();
    } catch (...) {
        // A record that could not be built (no memory left, say) must not end the process from here.
        reportCaughtException(KRO_CODE_SITE);
    }
}

void ScopedDeleter::appendFile(const std::wstring& path) {
    appendEntry(path, File * 2 + (rebootFallback ? 1 : 0));
}

void ScopedDeleter::appendDirectory(const std::wstring& path) {
    appendEntry(path, FolderTree * 2 + (rebootFallback ? 1 : 0));
}

void ScopedDeleter::appendEntry(const std::wstring& path, int action) {
    entries.push_back(Entry{path, action});
}

void ScopedDeleter::cancel() {
    entries.clear();
}

void ScopedDeleter::execute() {
    std::vector<Entry> taken;
    taken.swap(entries);
    std::stable_sort(taken.begin(), taken.end(),
                     [](const Entry& a, const Entry& b) { return a.action < b.action; });
    for (const Entry& entry : taken) {
        if (entry.action < 0 || entry.action > 7) {
            continue;
        }
        switch (entry.action / 2) {
            case File:
                deleteFile(entry.path);
                break;
            case FolderFiles:
                BatchDeleter(entry.path, false).execute();
                break;
            case FolderTree:
                BatchDeleter(entry.path, true).execute();
                break;
            case EmptyFolder:
                deleteDirectory(entry.path);
                break;
        }
        if (entry.action % 2 == 1) {
            scheduleRemainderOnReboot(entry);
        }
    }
}

}  // namespace FileUtils
