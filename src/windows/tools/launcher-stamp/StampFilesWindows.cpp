// The stamping tool's files on Windows: handles, a temporary output marked for deletion until it is moved
// into place, and a final move that waits out a moment's hold on the target.
#include <windows.h>

#include <algorithm>

#include "FileUtils.h"
#include "Retry.h"
#include "StampError.h"
#include "StampFiles.h"
#include "WinAutoHandle.h"
#include "WinErrorHandling.h"

namespace stamp {

namespace {

// Each system call moves at most this much.
constexpr std::size_t CALL_CHUNK = 1 << 20;

// The final move waits this long, in these steps, for a program that holds the file it replaces (a scanner
// reading the earlier release, an Explorer preview): Windows refuses to replace a file opened without delete
// sharing.
constexpr DWORD MOVE_DEADLINE_MS = 2000;
constexpr DWORD MOVE_STEP_MS = 50;

std::string systemText(DWORD code) {
    return tstrings::toMultiByte(formatSystemError(code, nullptr));
}

std::wstring wide(const std::string& utf8) {
    return tstrings::fromMultiByte(utf8);
}

bool setDeletePending(HANDLE file, bool pending) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = pending ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

bool isBriefHold(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

OVERLAPPED at(std::uint64_t position) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(position);
    overlapped.OffsetHigh = static_cast<DWORD>(position >> 32);
    return overlapped;
}

DWORD chunkOf(std::size_t size) {
    return static_cast<DWORD>(std::min(size, CALL_CHUNK));
}

}  // namespace

struct InputFile::Native {
    std::wstring path;
    WinAutoHandle<HANDLE> handle;
};

InputFile::InputFile(const std::string& path, const char* role)
    : InputBytes(path, role), native_(new Native{wide(path), {}}) {
    native_->handle =
        WinAutoHandle<HANDLE>(CreateFileW(native_->path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (native_->handle.get() == INVALID_HANDLE_VALUE) {
        throw BadInput("cannot read " + std::string(role) + " '" + path + "': " + systemText(GetLastError()));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(native_->handle.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw BadInput("cannot read " + std::string(role) + " '" + path + "': not a file");
    }
    setSize((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
}

InputFile::~InputFile() = default;

// The handle shares reading alone, so no other program can write the file while the tool holds it; a writer
// that share modes don't bind (one on the server of a share) can still shorten it, and a read at an offset
// then finds the end of the file.
std::size_t InputFile::readSome(std::uint64_t offset, void* buffer, std::size_t size) const {
    OVERLAPPED position = at(offset);
    DWORD read = 0;
    if (!ReadFile(native_->handle.get(), buffer, chunkOf(size), &read, &position) &&
        GetLastError() != ERROR_HANDLE_EOF) {
        KRO_THROW_SYSERROR(ReadFile, "ReadFile(" << native_->path << ") failed");
    }
    return read;
}

struct PendingOutput::Native {
    std::wstring target;
    std::wstring temporary;
    WinAutoHandle<HANDLE> handle;
    bool committed = false;
};

PendingOutput::PendingOutput(const std::string& target) : native_(new Native) {
    native_->target = wide(target);
    native_->temporary = native_->target + L"." +
                         tstrings::toString(static_cast<std::uint64_t>(GetCurrentProcessId())) + L".stamping";
    // Marked for deletion from the moment it exists, so that the system removes it whatever ends the tool
    // before the commit, a crash or a kill included. Shared for deletion alone: the final move opens it so.
    native_->handle = WinAutoHandle<HANDLE>(
        CreateFileW(native_->temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (native_->handle.get() == INVALID_HANDLE_VALUE) {
        throw BadInput("cannot write OUT '" + target + "': cannot create '" +
                       tstrings::toMultiByte(native_->temporary) + "': " + systemText(GetLastError()));
    }
    if (!setDeletePending(native_->handle.get(), true)) {
        const DWORD error = GetLastError();
        native_->handle.reset();
        DeleteFileW(native_->temporary.c_str());
        KRO_THROW_SYSERROR_CODE(SetFileInformationByHandle, error,
                                "SetFileInformationByHandle(" << native_->temporary << ") failed");
    }
}

PendingOutput::~PendingOutput() {
    if (!native_->committed) {
        // Closing the handle removes the file; by name as well, in case the commit failed after it had
        // unmarked it and could not mark it again.
        native_->handle.reset();
        DeleteFileW(native_->temporary.c_str());
    }
}

void PendingOutput::append(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size != 0) {
        DWORD written = 0;
        if (!WriteFile(native_->handle.get(), bytes, chunkOf(size), &written, nullptr)) {
            KRO_THROW_SYSERROR(WriteFile, "WriteFile failed");
        }
        // Wine reports a full disk as a write of nothing.
        if (written == 0) {
            KRO_THROW_SYSERROR_CODE(WriteFile, ERROR_DISK_FULL, "WriteFile failed");
        }
        bytes += written;
        size -= written;
    }
}

void PendingOutput::overwrite(std::uint64_t offset, const void* data, std::size_t size) {
    OVERLAPPED position = at(offset);
    DWORD written = 0;
    if (!WriteFile(native_->handle.get(), data, static_cast<DWORD>(size), &written, &position) ||
        written != size) {
        KRO_THROW_SYSERROR(WriteFile, "WriteFile failed");
    }
}

void PendingOutput::commit(bool replace) {
    const HANDLE handle = native_->handle.get();
    if (!FlushFileBuffers(handle)) {
        KRO_THROW_SYSERROR(FlushFileBuffers, "FlushFileBuffers(" << native_->temporary << ") failed");
    }
    if (!setDeletePending(handle, false)) {
        KRO_THROW_SYSERROR(SetFileInformationByHandle,
                           "SetFileInformationByHandle(" << native_->temporary << ") failed");
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    bool moved = false;
    DWORD error = ERROR_SUCCESS;
    FileUtils::retryUntilDeadline(MOVE_DEADLINE_MS, MOVE_STEP_MS, [&] {
        moved = MoveFileExW(native_->temporary.c_str(), native_->target.c_str(), flags) != FALSE;
        error = moved ? ERROR_SUCCESS : GetLastError();
        return moved || !isBriefHold(error);
    });
    if (!moved) {
        setDeletePending(handle, true);
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            throw outputExists(tstrings::toMultiByte(native_->target));
        }
        KRO_THROW_SYSERROR_CODE(MoveFileExW, error,
                                "MoveFileEx(" << native_->temporary << ", " << native_->target << ") failed");
    }
    native_->committed = true;
    native_->handle.reset();
}

PathKind pathKind(const std::string& path) {
    const std::wstring native = wide(path);
    if (FileUtils::isDirectory(native)) {
        return PathKind::folder;
    }
    return FileUtils::pathExists(native) ? PathKind::file : PathKind::missing;
}

}  // namespace stamp
