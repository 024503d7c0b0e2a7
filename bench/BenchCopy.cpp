// What moving the payload's bytes into a new file costs on this machine, by each way a launcher could move
// them: bench-copy SOURCE TARGET WAY, WAY being
//   map                  one WriteFile straight from a read-only mapping of SOURCE (every page faulted in);
//   read:KIB[:OPTION]... ReadFile and WriteFile through a buffer of KIB KiB, with the options
//     sequential         SOURCE opened with FILE_FLAG_SEQUENTIAL_SCAN,
//     end-of-file        TARGET's size set before the first write (FileEndOfFileInfo),
//     allocation         TARGET's allocation set before the first write (FileAllocationInfo),
//     read-ahead         two buffers: SOURCE opened for overlapped reads, the next read issued before the
//                        buffer in hand is written.
// TARGET is created, written, closed and deleted; the program prints the microseconds all of that took (the
// program's start and SOURCE's open not included), or "unsupported (error N)" where the system refuses the
// way's call, and exits with 0; with 1 when something failed.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Way {
    bool map = false;
    DWORD bufferBytes = 0;
    bool sequential = false;
    bool endOfFile = false;
    bool allocation = false;
    bool readAhead = false;
};

bool parseWay(const std::wstring& text, Way& way) {
    if (text == L"map") {
        way.map = true;
        return true;
    }
    if (text.compare(0, 5, L"read:") != 0) {
        return false;
    }
    wchar_t* rest = nullptr;
    way.bufferBytes = static_cast<DWORD>(std::wcstoul(text.c_str() + 5, &rest, 10)) * 1024;
    for (std::wstring options = rest; !options.empty(); options.erase(0, options.find(L':', 1))) {
        const std::wstring option = options.substr(0, options.find(L':', 1));
        bool* flag = option == L":sequential"    ? &way.sequential
                     : option == L":end-of-file" ? &way.endOfFile
                     : option == L":allocation"  ? &way.allocation
                     : option == L":read-ahead"  ? &way.readAhead
                                                 : nullptr;
        if (flag == nullptr) {
            return false;
        }
        *flag = true;
    }
    return way.bufferBytes > 0;
}

using Handle = std::unique_ptr<void, decltype(&CloseHandle)>;

bool writeAll(HANDLE target, const char* bytes, DWORD size) {
    DWORD written = 0;
    return WriteFile(target, bytes, size, &written, nullptr) && written == size;
}

bool copyMapped(HANDLE source, HANDLE target, ULONGLONG size) {
    const Handle mapping(CreateFileMappingW(source, nullptr, PAGE_READONLY, 0, 0, nullptr), &CloseHandle);
    if (mapping.get() == nullptr) {
        return false;
    }
    const std::unique_ptr<void, decltype(&UnmapViewOfFile)> view(
        MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0), &UnmapViewOfFile);
    return view != nullptr &&
           writeAll(target, static_cast<const char*>(view.get()), static_cast<DWORD>(size));
}

// A buffer no larger than the file, as the launcher's: a fresh buffer's pages are faulted in too.
std::vector<char> bufferFor(ULONGLONG size, DWORD bufferBytes) {
    return std::vector<char>(static_cast<std::size_t>(size < bufferBytes ? size : bufferBytes));
}

bool copyRead(HANDLE source, HANDLE target, ULONGLONG size, DWORD bufferBytes) {
    std::vector<char> buffer = bufferFor(size, bufferBytes);
    for (ULONGLONG left = size; left > 0;) {
        DWORD read = 0;
        const DWORD wanted = left < bufferBytes ? static_cast<DWORD>(left) : bufferBytes;
        if (!ReadFile(source, buffer.data(), wanted, &read, nullptr) || read != wanted ||
            !writeAll(target, buffer.data(), read)) {
            return false;
        }
        left -= read;
    }
    return true;
}

// Reads at offset into buffer, overlapped: the read may still be under way when this returns.
bool startRead(HANDLE source, char* buffer, DWORD count, ULONGLONG offset, OVERLAPPED& overlapped) {
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ReadFile(source, buffer, count, nullptr, &overlapped) || GetLastError() == ERROR_IO_PENDING;
}

bool copyReadAhead(HANDLE source, HANDLE target, ULONGLONG size, DWORD bufferBytes) {
    std::vector<char> buffers[2] = {bufferFor(size, bufferBytes), bufferFor(size, bufferBytes)};
    const Handle events[2] = {Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr), &CloseHandle),
                              Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr), &CloseHandle)};
    OVERLAPPED overlapped[2] = {};
    overlapped[0].hEvent = events[0].get();
    overlapped[1].hEvent = events[1].get();
    auto countAt = [&](ULONGLONG offset) {
        return size - offset < bufferBytes ? static_cast<DWORD>(size - offset) : bufferBytes;
    };
    if (size > 0 && !startRead(source, buffers[0].data(), countAt(0), 0, overlapped[0])) {
        return false;
    }
    for (ULONGLONG offset = 0; offset < size;) {
        const int current = static_cast<int>(offset / bufferBytes % 2);
        const ULONGLONG next = offset + countAt(offset);
        if (next < size &&
            !startRead(source, buffers[1 - current].data(), countAt(next), next, overlapped[1 - current])) {
            return false;
        }
        DWORD read = 0;
        if (!GetOverlappedResult(source, &overlapped[current], &read, TRUE) || read != countAt(offset) ||
            !writeAll(target, buffers[current].data(), read)) {
            return false;
        }
        offset = next;
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Way way;
    if (argc != 4 || !parseWay(argv[3], way)) {
        std::fputs(
            "usage: bench-copy SOURCE TARGET map|read:KIB[:sequential][:end-of-file|:allocation]"
            "[:read-ahead]\n",
            stderr);
        return 2;
    }
    const DWORD flags =
        (way.sequential ? FILE_FLAG_SEQUENTIAL_SCAN : 0) | (way.readAhead ? FILE_FLAG_OVERLAPPED : 0);
    const Handle source(
        CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr),
        &CloseHandle);
    LARGE_INTEGER size{};
    if (source.get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(source.get(), &size)) {
        return 1;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool copied = false;
    DWORD refused = ERROR_SUCCESS;
    {
        const Handle target(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
                            &CloseHandle);
        if (target.get() == INVALID_HANDLE_VALUE) {
            return 1;
        }
        FILE_END_OF_FILE_INFO endOfFile{size};
        FILE_ALLOCATION_INFO allocation{size};
        if (way.allocation &&
            !SetFileInformationByHandle(target.get(), FileAllocationInfo, &allocation, sizeof(allocation))) {
            refused = GetLastError();
        }
        copied = refused == ERROR_SUCCESS &&
                 (!way.endOfFile ||
                  SetFileInformationByHandle(target.get(), FileEndOfFileInfo, &endOfFile, sizeof(endOfFile)));
        const ULONGLONG bytes = static_cast<ULONGLONG>(size.QuadPart);
        copied =
            copied && (way.map         ? copyMapped(source.get(), target.get(), bytes)
                       : way.readAhead ? copyReadAhead(source.get(), target.get(), bytes, way.bufferBytes)
                                       : copyRead(source.get(), target.get(), bytes, way.bufferBytes));
    }
    copied = DeleteFileW(argv[2]) && copied;
    QueryPerformanceCounter(&end);
    if (refused != ERROR_SUCCESS) {
        std::printf("unsupported (error %lu)\n", refused);
        return 0;
    }
    if (!copied) {
        return 1;
    }
    std::printf("%lld\n", (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
    return 0;
}
