#include "SecureDirectory.h"

#include "ExceptionReporting.h"
#include "FileRemoval.h"
#include "Log.h"
#include "Retry.h"

namespace launcher {

namespace {

SecureDirectory::ReleaseHook releaseHook = nullptr;

}  // namespace

std::wstring listedPaths(const std::vector<std::wstring>& paths) {
    std::wstring text;
    for (const std::wstring& path : paths) {
        text += (text.empty() ? L"[" : L", [") + path + L"]";
    }
    return text;
}

SecureDirectory::SecureDirectory(const FileUtils::HeldFolder& parent, WinAutoHandle<HANDLE> hold,
                                 const std::wstring& name, const std::wstring& path)
    : parent(parent), hold(std::move(hold)), name(name), path_(path) {
    identityKnown = FileUtils::identityOf(this->hold.get(), identity);
}

SecureDirectory::~SecureDirectory() {
    remove();
}

WinAutoHandle<HANDLE> SecureDirectory::createFile(const std::wstring& fileName,
                                                  const std::wstring& path) const {
    const FileUtils::OpenRequest request{GENERIC_WRITE | SYNCHRONIZE, FILE_SHARE_READ, FILE_CREATE,
                                         FILE_NON_DIRECTORY_FILE};
    DWORD error = ERROR_SUCCESS;
    WinAutoHandle<HANDLE> file = FileUtils::openInFolder(hold.get(), fileName, request, error);
    if (!file.owned()) {
        KRO_THROW_SYSERROR_CODE(CreateFileW, error, "CreateFile(" << path << ") failed");
    }
    return file;
}

WinAutoHandle<HANDLE> SecureDirectory::writeFile(const std::wstring& fileName,
                                                 const FileUtils::ByteSource& source) const {
    const std::wstring path = FileUtils::joinPath(path_, fileName);
    {
        const WinAutoHandle<HANDLE> file = createFile(fileName, path);
        KRO_LOG(TRACE, "Created [" << path << "] file");
        FileUtils::writeAll(file.get(), source, path);
    }
    // Reopened for reading only: Windows refuses to start an image while a handle with write access is open.
    return holdFile(fileName, path);
}

WinAutoHandle<HANDLE> SecureDirectory::copyFile(const std::wstring& fileName, HANDLE source,
                                                const std::wstring& sourcePath,
                                                const FileUtils::ChunkCheck& check) const {
    const std::wstring path = FileUtils::joinPath(path_, fileName);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(source, &size)) {
        KRO_THROW_SYSERROR(GetFileSizeEx, "GetFileSizeEx(" << sourcePath << ") failed");
    }
    {
        const WinAutoHandle<HANDLE> file = createFile(fileName, path);
        FileUtils::writeAll(
            file.get(),
            FileUtils::ByteSource::inFile(source, 0, static_cast<ULONGLONG>(size.QuadPart), sourcePath), path,
            check);
    }
    KRO_LOG(TRACE, "Copied [" << sourcePath << "] file to [" << path << "]");
    return holdFile(fileName, path);
}

WinAutoHandle<HANDLE> SecureDirectory::holdFile(const std::wstring& fileName,
                                                const std::wstring& path) const {
    const FileUtils::OpenRequest request{GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                                         FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT};
    DWORD error = ERROR_SUCCESS;
    WinAutoHandle<HANDLE> file = FileUtils::openInFolder(hold.get(), fileName, request, error);
    if (!file.owned()) {
        KRO_THROW_SYSERROR_CODE(CreateFileW, error, "CreateFile(" << path << ") failed");
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
            KRO_LOG(WARNING, "Could not remove [" << path_ << "]: " << listedPaths(left)
                                                  << " still in use; the next run removes it");
        }
    } catch (...) {
        reportCaughtException(KRO_CODE_SITE);
    }
}

SecureDirectory::Outcome SecureDirectory::removeByIdentity(std::vector<std::wstring>& left) {
    DWORD error = ERROR_SUCCESS;
    WinAutoHandle<HANDLE> directory =
        FileUtils::openForRemoval(parent.handle(), name, FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_DIRECTORY_FILE, error);
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
        !(found == identity) || !FileUtils::isEntryItself(directory.get(), parent.names(), name)) {
        KRO_LOG(WARNING,
                "[" << path_ << "] no longer names the secure directory; what is there was left alone");
        return Outcome::Stop;
    }
    left = FileUtils::removeOpened(directory, path_);
    return left.empty() ? Outcome::Removed : Outcome::Retry;
}

void SecureDirectory::setReleaseHook(ReleaseHook hook) {
    releaseHook = hook;
}

}  // namespace launcher
