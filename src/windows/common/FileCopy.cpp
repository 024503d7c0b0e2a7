#include "FileCopy.h"

#include <algorithm>
#include <vector>

#include "FileUtils.h"
#include "WinErrorHandling.h"

namespace FileUtils {

ByteSource ByteSource::inMemory(const void* bytes, DWORD size) {
    return ByteSource{bytes, nullptr, 0, size, std::wstring()};
}

ByteSource ByteSource::inFile(HANDLE file, ULONGLONG offset, ULONGLONG size, const std::wstring& path) {
    return ByteSource{nullptr, file, offset, size, path};
}

void writeAll(HANDLE target, const ByteSource& source, const std::wstring& targetPath,
              const ChunkCheck& check) {
    if (source.file == nullptr) {
        writeAll(target, source.memory, static_cast<DWORD>(source.size), targetPath);
        return;
    }
    LARGE_INTEGER offset{};
    offset.QuadPart = static_cast<LONGLONG>(source.offset);
    if (!SetFilePointerEx(source.file, offset, nullptr, FILE_BEGIN)) {
        KRO_THROW_SYSERROR(SetFilePointerEx, "ReadFile(" << source.path << ") failed");
    }
    std::vector<BYTE> buffer(static_cast<std::size_t>(std::min<ULONGLONG>(source.size, copyBufferBytes)));
    for (ULONGLONG left = source.size; left > 0;) {
        const auto wanted = static_cast<DWORD>(std::min<ULONGLONG>(left, buffer.size()));
        DWORD read = 0;
        if (!ReadFile(source.file, buffer.data(), wanted, &read, nullptr)) {
            KRO_THROW_SYSERROR(ReadFile, "ReadFile(" << source.path << ") failed");
        }
        if (read == 0) {
            KRO_THROW_SYSERROR_CODE(ReadFile, ERROR_HANDLE_EOF, "ReadFile(" << source.path << ") failed");
        }
        if (check) {
            check(source.size - left, buffer.data(), read);
        }
        writeAll(target, buffer.data(), read, targetPath);
        left -= read;
    }
    if (check) {
        check(source.size, nullptr, 0);
    }
}

}  // namespace FileUtils
