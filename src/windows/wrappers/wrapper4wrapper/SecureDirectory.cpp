#include "SecureDirectory.h"

#include "ExceptionReporting.h"
#include "Log.h"

namespace launcher {

namespace {

SecureDirectory::ReleaseHook releaseHook = nullptr;

// "[a], [b]": the paths of a WARNING record.
std::wstring listed(const std::vector<std::wstring>& paths) {
    std::wstring text;
    for (const std::wstring& path : paths) {
        text += (text.empty() ? L"[" : L", [") + path + L"]";
    }
    return text;
}

// The directory opened by name relative to the held temporary directory, for its removal: the link itself
// if the name is one, and without delete sharing, so that nobody renames or removes it meanwhile.
WinAutoHandle<HANDLE> openForRemoval(const FileUtils::HeldFolder& temp, const std::wstring& name,
                                     ULONG options, DWORD& error) {
    const FileUtils::OpenRequest request{DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                                         FILE_OPEN_REPARSE_POINT | options};
    return FileUtils::openInFolder(temp.handle(), name, request, error);
}

void warnNotRemoved(const std::wstring& path, const std::vector<std::wstring>& left) {
    KRO_LOG(WARNING, "Could not remove [" << path << "]: " << listed(left)
                                          << " still in use; the next run removes it");
}

bool isLink(HANDLE handle) {
    const DWORD attributes = FileUtils::attributesOf(handle);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Removes the directory opened (for DELETE, not following links) as path: a link is removed itself, a real
// directory is emptied first. Closes it and writes TRACE "Deleted [path] directory" once it is gone. Returns
// what is left: nothing once it is gone, else the entries still in use, or the directory itself.
std::vector<std::wstring> removeOpened(WinAutoHandle<HANDLE>& directory, const std::wstring& path) {
    std::vector<std::wstring> left = isLink(directory.get())
                                         ? std::vector<std::wstring>()
                                         : FileUtils::removeFolderContents(directory.get(), path);
    if (!left.empty()) {
        return left;
    }
    if (!FileUtils::deleteByHandle(directory.get())) {
        return {path};
    }
    directory.reset();
    KRO_LOG(TRACE, "Deleted [" << path << "] directory");
    return {};
}

}  // namespace

SecureDirectory::SecureDirectory(const FileUtils::HeldFolder& temp, WinAutoHandle<HANDLE> hold,
                                 const std::wstring& name, const std::wstring& path)
    : temp(temp), hold(std::move(hold)), name(name), path_(path) {
    identityKnown = FileUtils::identityOf(this->hold.get(), identity);
}

SecureDirectory::~SecureDirectory() {
    remove();
}

WinAutoHandle<HANDLE> SecureDirectory::writeFile(const std::wstring& fileName, const void* bytes,
                                                 DWORD size) const {
    const std::wstring path = FileUtils::joinPath(path_, fileName);
    {
        const FileUtils::OpenRequest request{GENERIC_WRITE | SYNCHRONIZE, FILE_SHARE_READ, FILE_CREATE,
                                             FILE_NON_DIRECTORY_FILE};
        DWORD error = ERROR_SUCCESS;
        const WinAutoHandle<HANDLE> file = FileUtils::openInFolder(hold.get(), fileName, request, error);
        if (!file.owned()) {
            KRO_THROW_SYSERROR_CODE(FileUtils::boundNtCreateFile(), error,
                                    "CreateFile(" << path << ") failed");
        }
        KRO_LOG(TRACE, "Created [" << path << "] file");
        FileUtils::writeAll(file.get(), bytes, size, path);
    }
    // Reopened for reading only: Windows refuses to start an image while a handle with write access is open.
    return holdFile(fileName);
}

WinAutoHandle<HANDLE> SecureDirectory::holdFile(const std::wstring& fileName) const {
    const FileUtils::OpenRequest request{GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                                         FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT};
    DWORD error = ERROR_SUCCESS;
    WinAutoHandle<HANDLE> file = FileUtils::openInFolder(hold.get(), fileName, request, error);
    if (!file.owned()) {
        KRO_THROW_SYSERROR_CODE(FileUtils::boundNtCreateFile(), error,
                                "CreateFile(" << FileUtils::joinPath(path_, fileName) << ") failed");
    }
    return file;
}

void SecureDirectory::remove() noexcept {
    if (removed) {
        return;
    }
    removed = true;
    try {
        std::vector<std::wstring> left;
        const bool finished = FileUtils::retryUntilDeadline(removalDeadlineMs, removalStepMs, [&] {
            if (hold.owned()) {
                // Emptied while nobody can swap the directory; only an empty directory is let go.
                left = FileUtils::removeFolderContents(hold.get(), path_);
                if (!left.empty()) {
                    return false;
                }
                hold.reset();
                if (releaseHook != nullptr) {
                    releaseHook(path_);
                }
            }
            return removeByIdentity(left) != Outcome::Retry;
        });
        if (!finished) {
            warnNotRemoved(path_, left);
        }
    } catch (...) {
        reportCaughtException(KRO_CODE_SITE);
    }
}

SecureDirectory::Outcome SecureDirectory::removeByIdentity(std::vector<std::wstring>& left) {
    DWORD error = ERROR_SUCCESS;
    WinAutoHandle<HANDLE> directory = openForRemoval(temp, name, FILE_DIRECTORY_FILE, error);
    if (!directory.owned()) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return Outcome::Stop;  // gone already (another launcher's sweep took it, emptied as it was)
        }
        if (error != ERROR_DIRECTORY) {
            left = {path_};
            return Outcome::Retry;
        }
    }
    FileUtils::FileIdentity found;
    if (!directory.owned() || !identityKnown || !FileUtils::identityOf(directory.get(), found) ||
        !(found == identity) || isLink(directory.get()) ||
        !tstrings::equals(FileUtils::finalPathOf(directory.get()), path_, tstrings::IGNORE_CASE)) {
        KRO_LOG(WARNING,
                "[" << path_ << "] no longer names the secure directory; what is there was left alone");
        return Outcome::Stop;
    }
    left = removeOpened(directory, path_);
    return left.empty() ? Outcome::Removed : Outcome::Retry;
}

void SecureDirectory::setReleaseHook(ReleaseHook hook) {
    releaseHook = hook;
}

bool isLeftoverName(const std::wstring& name) {
    const std::wstring prefix = L"kro";
    const std::wstring suffix = L".tmp";
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    std::size_t first = prefix.size();
    const std::size_t end = name.size() - suffix.size();
    if (name[first] == L'-') {
        ++first;
    }
    if (first == end) {
        return false;
    }
    for (std::size_t i = first; i < end; ++i) {
        if (name[i] < L'0' || name[i] > L'9') {
            return false;
        }
    }
    return true;
}

void removeLeftovers(const FileUtils::HeldFolder& temp) {
    try {
        std::vector<FileUtils::FolderEntry> entries;
        if (!temp.isHeld() || temp.path().empty() || !FileUtils::listFolder(temp.handle(), entries)) {
            return;
        }
        int removedCount = 0;
        for (const FileUtils::FolderEntry& entry : entries) {
            if (!isLeftoverName(entry.name) || (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                continue;
            }
            const std::wstring path = FileUtils::joinPath(temp.path(), entry.name);
            DWORD error = ERROR_SUCCESS;
            WinAutoHandle<HANDLE> directory = openForRemoval(temp, entry.name, 0, error);
            if (!directory.owned()) {
                continue;  // a running launcher holds it, or it went meanwhile
            }
            if (!tstrings::equals(FileUtils::finalPathOf(directory.get()), path, tstrings::IGNORE_CASE)) {
                KRO_LOG(WARNING,
                        "[" << path << "] is a link that can't be removed as one; it was left alone");
                continue;
            }
            const std::vector<std::wstring> left = removeOpened(directory, path);
            if (!left.empty()) {
                warnNotRemoved(path, left);
                continue;
            }
            ++removedCount;
        }
        if (removedCount > 0) {
            KRO_LOG(INFO, "Leftovers of earlier runs removed: " << removedCount);
        }
    } catch (...) {
        reportCaughtException(KRO_CODE_SITE);
    }
}

}  // namespace launcher
