// Bytes moved into a file: from memory, or from a range of an open file read through its handle. A range is
// read in large sequential reads into a buffer of its own and written from there: writing straight from a
// mapping makes the system fault in every page of it on first touch, which on some machines costs several
// times what reading the same bytes does.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace FileUtils {

// How many bytes of a file's range are read at once.
constexpr DWORD copyBufferBytes = 1 << 20;

// Where the bytes of a new file come from: size bytes at memory, or, where file is set, size bytes at offset
// of that open file, read through the handle (never by a path that someone could re-point) and named path
// in messages. Owns nothing: the memory and the handle outlive it.
struct ByteSource {
    const void* memory = nullptr;
    HANDLE file = nullptr;
    ULONGLONG offset = 0;
    ULONGLONG size = 0;
    std::wstring path;

    // The size bytes at bytes.
    static ByteSource inMemory(const void* bytes, DWORD size);
    // The size bytes at offset of the open file, named path in messages.
    static ByteSource inFile(HANDLE file, ULONGLONG offset, ULONGLONG size, const std::wstring& path);
};

// Called with each chunk of a file's range as it is read (its offset in the range, its bytes) before the
// chunk is written, and with an empty chunk at the range's end; what it throws ends the writing.
using ChunkCheck = std::function<void(std::uint64_t offset, const BYTE* bytes, std::size_t size)>;

// Writes all of source at the target's position: bytes in memory with as few writes as the system takes, a
// file's range through a buffer of copyBufferBytes (the file's position is moved), each chunk passed to check
// first where one is given (bytes in memory are the program's own and pass unchecked). Throws
// KroError<SysError> "ReadFile(source's path) failed" (ERROR_HANDLE_EOF when the file ends inside the range)
// or "WriteFile(targetPath) failed", and what check throws.
void writeAll(HANDLE target, const ByteSource& source, const std::wstring& targetPath,
              const ChunkCheck& check = nullptr);

}  // namespace FileUtils
