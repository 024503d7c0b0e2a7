#include "Log.h"

#include <algorithm>
#include <exception>
#include <new>
#include <vector>

#include "FileUtils.h"
#include "SysInfo.h"
#include "WinAutoHandle.h"

namespace {

Logger theLogger;

// The appender lives in static storage, built on first use and never destroyed, so that records written by
// static destructors and exit handlers still reach the file.
alignas(FileLogAppender) unsigned char appenderStorage[sizeof(FileLogAppender)];

constexpr std::size_t processNameUnits = 260;
wchar_t processName[processNameUnits] = L"Unkown";

constexpr int openAttempts = 10;

std::wstring getProcessName() {
    try {
        return FileUtils::getFileName(SysInfo::getCurrentModulePath());
    } catch (const std::exception&) {
        return L"Unknown";
    }
}

// The record as the file holds it: UTF-8, every line feed written as carriage return and line feed.
std::string formatRecord(const LogRecord& r) {
    const std::wstring text = tstrings::unsafe_format(
        L"[%04u/%02u/%02u %02u:%02u:%02u.%03u, %s (PID: %u, TID: %u), %s:%u (%s)]\n\t%s: %s\n", r.time.wYear,
        r.time.wMonth, r.time.wDay, r.time.wHour, r.time.wMinute, r.time.wSecond, r.time.wMilliseconds,
        r.processName.c_str(), static_cast<unsigned>(r.processId), static_cast<unsigned>(r.threadId),
        r.file.c_str(), static_cast<unsigned>(r.line), r.function.c_str(), r.levelName.c_str(),
        r.message.c_str());
    const std::string utf8 = tstrings::toMultiByte(text);
    std::string bytes;
    bytes.reserve(utf8.size() + 8);
    for (const char c : utf8) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    return bytes;
}

// Opens the log for writing while refusing other writers. The file is never created through a link: a missing
// name is created with CREATE_NEW, which fails on any existing entry, a dangling link included.
WinAutoHandle<HANDLE> openExclusive(const std::wstring& path) {
    constexpr DWORD access = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
    constexpr DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    for (int attempt = 0; attempt < openAttempts; ++attempt) {
        HANDLE file =
            CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
            file = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_NEW, flags, nullptr);
        }
        if (file != INVALID_HANDLE_VALUE) {
            return WinAutoHandle<HANDLE>(file);
        }
        Sleep(1);
    }
    return WinAutoHandle<HANDLE>();
}

std::wstring finalPath(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(
            handle, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length + 1);
    }
}

// The final path (links resolved) of the folder that holds the log; empty when it can't be opened.
std::wstring folderFinalPath(const std::wstring& logPath) {
    const WinAutoHandle<HANDLE> folder(
        CreateFileW(FileUtils::getDirectory(logPath).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder.get() == INVALID_HANDLE_VALUE ? std::wstring() : finalPath(folder.get());
}

// True when the open file is a regular file with one link whose final path is the expected one: not a hard
// link to another file, not reached through a symbolic link or junction.
bool isOwnRegularFile(HANDLE file, const std::wstring& expectedFinalPath) {
    // The two small queries, not GetFileInformationByHandle: under Wine that one costs a thousand times more.
    FILE_STANDARD_INFO standard{};
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)) ||
        !GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof(tag))) {
        return false;
    }
    if (standard.Directory || standard.NumberOfLinks != 1 ||
        (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return false;
    }
    return tstrings::equals(finalPath(file), expectedFinalPath, tstrings::IGNORE_CASE);
}

// A mutex name for the log at this final path: processes that log into the same file share it.
std::wstring writerMutexName(const std::wstring& finalLogPath) {
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a over the lower-cased path
    for (const wchar_t unit : tstrings::toLower(finalLogPath)) {
        hash = (hash ^ static_cast<std::uint64_t>(unit)) * 1099511628211ull;
    }
    return (tstrings::TextBuilder() << "Local\\kro-log-" << reinterpret_cast<const void*>(hash)).str();
}

// Our own writers take turns through a named mutex, so that a busy writer can't keep another from the file
// for longer than its ten attempts: a waiter is woken the moment the file is free instead of finding it taken
// each time it looks. The share mode still refuses every other writer; the turn is a courtesy between our
// processes, so when it can't be had (denied, squatted, timed out) the record goes on without it. A turn is
// waited for at most a quarter of a second: long enough for a writer that the system paused on a loaded
// machine, short enough that a mutex squatted by another program only slows the launcher down.
constexpr DWORD turnWaitMs = 250;

class WriterTurn {
public:
    explicit WriterTurn(HANDLE mutex) : mutex_(mutex) {
        if (mutex_ != nullptr) {
            const DWORD wait = WaitForSingleObject(mutex_, turnWaitMs);
            held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        }
    }
    ~WriterTurn() {
        if (held_) {
            ReleaseMutex(mutex_);
        }
    }
    WriterTurn(const WriterTurn&) = delete;
    WriterTurn& operator=(const WriterTurn&) = delete;

private:
    HANDLE mutex_;
    bool held_ = false;
};

std::wstring fullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
    if (length == 0 || length >= needed) {
        return path;
    }
    return std::wstring(buffer.data(), length);
}

}  // namespace

const wchar_t* logLevelName(int level) {
    switch (level) {
        case TRACE:
            return L"TRACE";
        case INFO:
            return L"INFO";
        case WARNING:
            return L"WARNING";
        case ERROR:
            return L"ERROR";
        default:
            return L"UNKNOWN";
    }
}

FileLogAppender::FileLogAppender(const std::wstring& fileName)
    : filePath(FileUtils::joinPath(SysInfo::getTempDir(),
                                   FileUtils::getFileName(fileName.empty() ? L"vantor.log" : fileName))),
      maxFileSize(defaultMaxFileSize) {}

void FileLogAppender::append(const LogRecord& record) {
    const std::string bytes = formatRecord(record);
    if (expectedFinalPath.empty()) {
        // Resolved once: the check is made on the open handle, so a folder swapped later only makes the
        // paths differ and the record is dropped.
        const std::wstring full = fullPath(filePath);
        const std::wstring folder = folderFinalPath(full);
        if (!folder.empty()) {
            expectedFinalPath = FileUtils::joinPath(folder, FileUtils::getFileName(full));
            writerMutex = WinAutoHandle<HANDLE>(
                CreateMutexW(nullptr, FALSE, writerMutexName(expectedFinalPath).c_str()));
        }
    }
    const WriterTurn turn(writerMutex.get());
    const WinAutoHandle<HANDLE> file = openExclusive(filePath);
    if (!file.owned() || expectedFinalPath.empty() || !isOwnRegularFile(file.get(), expectedFinalPath)) {
        return;
    }
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) && static_cast<std::uint64_t>(size.QuadPart) >= maxFileSize) {
        SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN);
        SetEndOfFile(file.get());
    }
    SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

Logger& Logger::instance() {
    if (theLogger.appender != nullptr) {
        return theLogger;
    }
    theLogger.appender = new (appenderStorage) FileLogAppender(L"vantor.log");
    const std::wstring name = getProcessName();
    const std::size_t kept = name.size() < processNameUnits - 1 ? name.size() : processNameUnits - 1;
    name.copy(processName, kept);
    std::fill(processName + kept, processName + processNameUnits, L'\0');
    return theLogger;
}

void Logger::log(int level, const wchar_t* file, int line, const wchar_t* function,
                 const std::wstring& message) {
    LogRecord record{};
    GetLocalTime(&record.time);
    record.processId = GetCurrentProcessId();
    record.threadId = GetCurrentThreadId();
    record.processName = processName;
    record.levelName = logLevelName(level);
    record.file = FileUtils::getFileName(file);
    record.line = line;
    record.function = function;
    record.message = message;
    appender->append(record);
}
