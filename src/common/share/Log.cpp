#include "Log.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "Dll.h"
#include "FileRemoval.h"
#include "FileUtils.h"
#include "MachinePlaces.h"
#include "Security.h"
#include "SysInfo.h"
#include "WinAutoHandle.h"
#include "WorkPlace.h"

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
// name is created with FILE_CREATE, which fails on any existing entry, a dangling link included. The open
// never waits for another's opportunistic lock (on Windows whoever holds one could keep the launcher waiting
// at every record): the record is dropped instead. Ten attempts 1 ms apart; on Windows a 1 ms sleep lasts up
// to a timer tick (15.6 ms), so a dropped record costs up to about 140 ms.
// A file made where every user may create names is given Administrators as its owner (its access list is the
// folder's inherited one); a process that may not assign that owner (one not elevated) makes it as its own.
WinAutoHandle<HANDLE> openExclusive(HANDLE folder, const std::wstring& name, bool ownedByAdministrators) {
    FileUtils::OpenRequest request{
        GENERIC_WRITE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE, FILE_SHARE_READ, FILE_OPEN,
        FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED};
    std::unique_ptr<security::SecurityDescriptor> owner;
    if (ownedByAdministrators) {
        owner = std::make_unique<security::SecurityDescriptor>(tstrings::TextBuilder() << "O:BA");
    }
    for (int attempt = 0; attempt < openAttempts; ++attempt) {
        DWORD error = ERROR_SUCCESS;
        request.disposition = FILE_OPEN;
        WinAutoHandle<HANDLE> file = FileUtils::openInFolder(folder, name, request, error);
        if (!file.owned() && error == ERROR_FILE_NOT_FOUND) {
            request.disposition = FILE_CREATE;
            request.descriptor = owner ? static_cast<PSECURITY_DESCRIPTOR>(*owner) : nullptr;
            file = FileUtils::openInFolder(folder, name, request, error);
            request.descriptor = nullptr;
            if (!file.owned() && error == ERROR_INVALID_OWNER) {
                file = FileUtils::openInFolder(folder, name, request, error);
            }
        }
        if (file.owned() || error == FileUtils::errorOplockBreakInProgress) {
            return file;
        }
        Sleep(1);
    }
    return WinAutoHandle<HANDLE>();
}

// True when the open file is a regular file with one link, and is the entry of its folder that it is named:
// not a hard link to another file, not a link that the system followed (Wine opens the target of a Unix link
// even when asked for the link itself).
bool isOwnRegularFile(HANDLE file, const FileUtils::HeldFolder& folder, const std::wstring& name) {
    // The small queries, not GetFileInformationByHandle: under Wine that one costs a thousand times more.
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard))) {
        return false;
    }
    const DWORD attributes = FileUtils::attributesOf(file);
    if (standard.Directory || standard.NumberOfLinks != 1 || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return false;
    }
    // Without any name for the folder there is nothing to compare: the single link above is the check.
    return folder.path().empty() || FileUtils::namesEntry(file, folder.names(), name);
}

// A mutex name for the log at this final path, without its namespace: processes that log into the same file
// share it.
std::wstring writerMutexName(const std::wstring& finalLogPath) {
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a over the lower-cased path
    for (const wchar_t unit : tstrings::toLower(finalLogPath)) {
        hash = (hash ^ static_cast<std::uint64_t>(unit)) * 1099511628211ull;
    }
    return (tstrings::TextBuilder() << "kro-log-" << reinterpret_cast<const void*>(hash)).str();
}

// Where the kernel keeps "Local\" names of this process's session.
std::wstring sessionObjectsDirectory() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session == 0
               ? L"\\BaseNamedObjects\\"
               : (tstrings::TextBuilder() << "\\Sessions\\" << session << "\\BaseNamedObjects\\").str();
}

// The record that goes before the first one written into a file that replaced one someone else owned.
LogRecord replacementRecord(const LogRecord& record, const std::wstring& path, const std::wstring& name) {
    LogRecord warning = record;
    warning.levelName = logLevelName(WARNING);
    warning.file = FileUtils::getFileName(KRO_WFILE);
    warning.line = __LINE__;
    warning.function = KRO_WFUNCTION;
    warning.message = L"The log [" + (path.empty() ? name : path) +
                      L"] was owned by someone other than Administrators or SYSTEM: that file was replaced";
    return warning;
}

// Our own writers take turns through a named mutex, so that a busy writer can't keep another from the file
// for longer than its ten attempts: a waiter is woken the moment the file is free instead of finding it taken
// each time it looks. The share mode still refuses every other writer; the turn is a courtesy between our
// processes, so when it can't be had (denied, taken by someone else, timed out) the record goes on without
// it. A turn is waited for at most a quarter of a second: long enough for a writer that the system paused on
// a loaded machine.
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

}  // namespace

namespace LogSeams {

// The writers' mutex, used only where an administrator made it: no unelevated process can create an object
// owned by Administrators or open ours (its list admits Administrators and SYSTEM alone), so nobody else can
// hold a record up by holding the turn. A name that someone else took, or that leads elsewhere, is passed
// over.
WinAutoHandle<HANDLE> writerMutexFor(const std::wstring& finalLogPath, ObjectCheck isAdministratorsOwned,
                                     ObjectNameFunction kernelName) {
    try {
        const security::SecurityDescriptor descriptor(tstrings::TextBuilder()
                                                      << "O:BAD:(A;;GA;;;BA)(A;;GA;;;SY)");
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
        const std::wstring name = writerMutexName(finalLogPath);
        WinAutoHandle<HANDLE> mutex(CreateMutexW(&attributes, FALSE, (L"Local\\" + name).c_str()));
        const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        if (!mutex.owned() || (existed && !isAdministratorsOwned(mutex.get())) ||
            !tstrings::equals(kernelName(mutex.get()), sessionObjectsDirectory() + name,
                              tstrings::IGNORE_CASE)) {
            return WinAutoHandle<HANDLE>();
        }
        return mutex;
    } catch (const std::exception&) {
        return WinAutoHandle<HANDLE>();  // no turns then; the share mode still keeps records whole
    }
}

std::wstring kernelNameOf(HANDLE object) {
    using QueryObjectFunction = LONG(NTAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    constexpr int objectNameInformation = 1;
    static const DllFunction<QueryObjectFunction> queryObject(
        Dll(tstrings::TextBuilder() << "ntdll"), tstrings::TextBuilder() << "NtQueryObject", true);
    std::vector<LONGLONG> buffer(4096 / sizeof(LONGLONG));  // a UNICODE_STRING and its text, aligned
    ULONG length = 0;
    if (static_cast<QueryObjectFunction>(queryObject)(object, objectNameInformation, buffer.data(),
                                                      static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)),
                                                      &length) < 0) {
        return {};
    }
    const auto* text = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
    return std::wstring(text->Buffer, text->Length / sizeof(wchar_t));
}

}  // namespace LogSeams

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
    : FileLogAppender(fileName, *SysInfo::workPlace().logFolder,
                      SysInfo::isMachineWide(*SysInfo::workPlace().logFolder) && security::keepsOwners()
                          ? &security::isOwnedByAdministrators
                          : nullptr) {}

FileLogAppender::FileLogAppender(const std::wstring& fileName, const FileUtils::HeldFolder& folder,
                                 OwnerCheck trustedOwner)
    : folder(&folder),
      trustedOwner(trustedOwner),
      fileName(FileUtils::getFileName(fileName.empty() ? L"vantor.log" : fileName)),
      filePath(folder.path().empty() ? std::wstring() : FileUtils::joinPath(folder.path(), this->fileName)),
      maxFileSize(defaultMaxFileSize) {
    if (!filePath.empty()) {
        writerMutex =
            LogSeams::writerMutexFor(filePath, &security::isOwnedByAdministrators, &LogSeams::kernelNameOf);
    }
}

bool FileLogAppender::removeUntrustedFile() const {
    DWORD error = ERROR_SUCCESS;
    const WinAutoHandle<HANDLE> file = FileUtils::openForRemoval(
        folder->handle(), fileName, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        FILE_NON_DIRECTORY_FILE, error);
    return file.owned() && isOwnRegularFile(file.get(), *folder, fileName) && !trustedOwner(file.get()) &&
           FileUtils::deleteByHandle(file.get(), filePath);
}

void FileLogAppender::append(const LogRecord& record) {
    std::string bytes = formatRecord(record);
    if (!folder->isHeld()) {
        return;
    }
    const WriterTurn turn(writerMutex.get());
    WinAutoHandle<HANDLE> file = openExclusive(folder->handle(), fileName, trustedOwner != nullptr);
    if (!file.owned() || !isOwnRegularFile(file.get(), *folder, fileName)) {
        return;
    }
    if (trustedOwner != nullptr && !trustedOwner(file.get())) {
        file.reset();
        if (!removeUntrustedFile()) {
            return;
        }
        file = openExclusive(folder->handle(), fileName, true);
        if (!file.owned() || !isOwnRegularFile(file.get(), *folder, fileName)) {
            return;
        }
        bytes = formatRecord(replacementRecord(record, filePath, fileName)) + bytes;
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
