#include "StampFiles.h"

#include <algorithm>

#include "Retry.h"
#include "StampError.h"
#include "WinErrorHandling.h"

namespace stamp {

namespace {

// The copy buffer: large enough that the system call count doesn't matter, small beside any payload.
constexpr DWORD COPY_CHUNK = 1 << 20;

// The final move waits this long, in these steps, for a program that holds the file it replaces (a scanner
// reading the earlier release, an Explorer preview): Windows refuses to replace a file opened without delete
// sharing.
constexpr DWORD MOVE_DEADLINE_MS = 2000;
constexpr DWORD MOVE_STEP_MS = 50;

std::wstring systemText(DWORD code) {
    return formatSystemError(code, nullptr);
}

bool setDeletePending(HANDLE file, bool pending) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = pending ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

bool isBriefHold(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

}  // namespace

InputFile::InputFile(const std::wstring& path, const char* role) : path_(path), role_(role) {
    handle_ = WinAutoHandle<HANDLE>(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (handle_.get() == INVALID_HANDLE_VALUE) {
        throw BadInput(tstrings::TextBuilder()
                       << "cannot read " << role << " '" << path << "': " << systemText(GetLastError()));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle_.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw BadInput(tstrings::TextBuilder() << "cannot read " << role << " '" << path << "': not a file");
    }
    size_ = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

std::vector<std::uint8_t> InputFile::read(std::uint64_t offset, std::size_t size) const {
    std::vector<std::uint8_t> bytes(size);
    if (size != 0) {
        readInto(offset, bytes.data(), static_cast<DWORD>(size));
    }
    return bytes;
}

void InputFile::readInto(std::uint64_t offset, void* buffer, DWORD size) const {
    if (offset > size_ || size > size_ - offset) {
        throw BadInput(tstrings::TextBuilder() << role_.c_str() << " '" << path_ << "' is truncated");
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    DWORD done = 0;
    while (done < size) {
        OVERLAPPED at{};
        const std::uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD read = 0;
        if (!ReadFile(handle_.get(), bytes + done, size - done, &read, &at) || read == 0) {
            KRO_THROW_SYSERROR(ReadFile, "ReadFile(" << path_ << ") failed");
        }
        done += read;
    }
}

void OutputFile::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    sum(bytes, size);
    while (size != 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, COPY_CHUNK));
        DWORD written = 0;
        if (!WriteFile(handle_, bytes, chunk, &written, nullptr)) {
            KRO_THROW_SYSERROR(WriteFile, "WriteFile failed");
        }
        // Wine reports a full disk as a write of nothing.
        if (written == 0) {
            KRO_THROW_SYSERROR_CODE(WriteFile, ERROR_DISK_FULL, "WriteFile failed");
        }
        bytes += written;
        size -= written;
        position_ += written;
    }
}

void OutputFile::padTo(std::uint64_t position) {
    static const std::uint8_t zeros[4096] = {};
    while (position_ < position) {
        write(zeros, static_cast<std::size_t>(std::min<std::uint64_t>(position - position_, sizeof zeros)));
    }
}

void OutputFile::copyFrom(const InputFile& input, std::uint64_t offset, std::uint64_t size) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, COPY_CHUNK)));
    while (size != 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(size, buffer.size()));
        input.readInto(offset, buffer.data(), chunk);
        write(buffer.data(), chunk);
        offset += chunk;
        size -= chunk;
    }
}

// The image checksum adds the file as little-endian 16-bit words with end-around carry, then the length.
// Summed a word at a time, which over 160 MB takes 16 ms against 57 ms a byte at a time (measured); a write
// that starts at an odd position first completes the word the last one began.
void OutputFile::sum(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    if (size != 0 && (position_ & 1) != 0) {
        wordSum_ += static_cast<std::uint64_t>(data[0]) << 8;
        i = 1;
    }
    for (; i + 1 < size; i += 2) {
        wordSum_ += data[i] | static_cast<std::uint64_t>(data[i + 1]) << 8;
    }
    if (i < size) {
        wordSum_ += data[i];
    }
}

std::uint32_t OutputFile::imageChecksum() const {
    std::uint64_t folded = wordSum_;
    while (folded >> 16) {
        folded = (folded & 0xFFFF) + (folded >> 16);
    }
    return static_cast<std::uint32_t>(folded + position_);
}

void OutputFile::overwrite(std::uint64_t offset, const void* data, DWORD size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    if (!WriteFile(handle_, data, size, &written, &at) || written != size) {
        KRO_THROW_SYSERROR(WriteFile, "WriteFile failed");
    }
}

PendingOutput::PendingOutput(const std::wstring& target) : target_(target) {
    temporary_ =
        target + L"." + tstrings::toString(static_cast<std::uint64_t>(GetCurrentProcessId())) + L".stamping";
    // Marked for deletion from the moment it exists, so that the system removes it whatever ends the tool
    // before the commit, a crash or a kill included. Shared for deletion alone: the final move opens it so.
    handle_ = WinAutoHandle<HANDLE>(CreateFileW(temporary_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                                FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
    if (handle_.get() == INVALID_HANDLE_VALUE) {
        throw BadInput(tstrings::TextBuilder() << "cannot write OUT '" << target << "': cannot create '"
                                               << temporary_ << "': " << systemText(GetLastError()));
    }
    if (!setDeletePending(handle_.get(), true)) {
        const DWORD error = GetLastError();
        handle_.reset();
        DeleteFileW(temporary_.c_str());
        KRO_THROW_SYSERROR_CODE(SetFileInformationByHandle, error,
                                "SetFileInformationByHandle(" << temporary_ << ") failed");
    }
}

PendingOutput::~PendingOutput() {
    if (!committed_) {
        // Closing the handle removes the file; by name as well, in case the commit failed after it had
        // unmarked it and could not mark it again.
        handle_.reset();
        DeleteFileW(temporary_.c_str());
    }
}

void PendingOutput::commit(bool replace) {
    if (!FlushFileBuffers(handle_.get())) {
        KRO_THROW_SYSERROR(FlushFileBuffers, "FlushFileBuffers(" << temporary_ << ") failed");
    }
    if (!setDeletePending(handle_.get(), false)) {
        KRO_THROW_SYSERROR(SetFileInformationByHandle,
                           "SetFileInformationByHandle(" << temporary_ << ") failed");
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    bool moved = false;
    DWORD error = ERROR_SUCCESS;
    FileUtils::retryUntilDeadline(MOVE_DEADLINE_MS, MOVE_STEP_MS, [&] {
        moved = MoveFileExW(temporary_.c_str(), target_.c_str(), flags) != FALSE;
        error = moved ? ERROR_SUCCESS : GetLastError();
        return moved || !isBriefHold(error);
    });
    if (!moved) {
        setDeletePending(handle_.get(), true);
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            throw outputExists(target_);
        }
        KRO_THROW_SYSERROR_CODE(MoveFileExW, error,
                                "MoveFileEx(" << temporary_ << ", " << target_ << ") failed");
    }
    committed_ = true;
    handle_.reset();
}

}  // namespace stamp
