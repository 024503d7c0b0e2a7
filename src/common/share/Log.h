// The diagnostic log: one process-wide Logger that writes two-line records into "vantor.log" in the user's
// temporary directory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "FileHandles.h"
#include "FunctionName.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

enum LogLevel { TRACE = 0, INFO = 1, WARNING = 2, ERROR = 3 };

// One log call, as the appender receives it.
struct LogRecord {
    SYSTEMTIME time;
    DWORD threadId;
    DWORD processId;
    std::wstring processName;
    std::wstring levelName;
    std::wstring file;  // last component of the site's source path
    int line;
    std::wstring function;
    std::wstring message;
};

class LogAppender {
public:
    virtual ~LogAppender() = default;
    virtual void append(const LogRecord& record) = 0;
};

// Appends each record to a file in a held folder, opening it for that record alone (relative to the folder's
// handle, so only the file's own name is looked up) and refusing other writers meanwhile, so that records of
// several processes never interleave; our writers take turns through a mutex that only administrators can
// make or hold. Writes only into a regular file with a single link: a link planted under the log's name can't
// make an elevated process append to, or empty, another file. A record never waits long on what an
// unelevated program holds: a record that can't be written in ten attempts 1 ms apart, or whose file someone
// holds an opportunistic lock on, is dropped without a report.
// In a folder where every user may create names (the machine-wide ones) an existing file is used only when
// Administrators or SYSTEM own it: any user could have made it first, to read, forge or silence the records.
// Another one is deleted by handle (never through a link: an administrator may delete any entry there) and
// made anew, owned by Administrators and with the folder's inherited protection, and the record is preceded
// by one WARNING record saying that a file someone else owned was replaced.
class FileLogAppender : public LogAppender {
public:
    // Judges whether an open file's owner may be trusted with the log.
    using OwnerCheck = bool (*)(HANDLE file);

    // The file fileName (its directory part dropped; empty means "vantor.log") in the log's folder: the
    // process's temporary directory, or where the run works when that can't be opened (SysInfo::workPlace),
    // with the owner rule above where that folder is machine-wide and the system keeps owners.
    explicit FileLogAppender(const std::wstring& fileName);
    // The same in the given held folder, which must outlive the appender; trustedOwner, when given, applies
    // the owner rule above with it as the judge.
    FileLogAppender(const std::wstring& fileName, const FileUtils::HeldFolder& folder,
                    OwnerCheck trustedOwner = nullptr);
    void append(const LogRecord& record) override;

    // The file's final path; empty when the folder's final path can't be had (records are written all the
    // same).
    const std::wstring& path() const { return filePath; }

    // A file of this size or larger is emptied before the next record.
    static constexpr std::uint64_t defaultMaxFileSize = 0xA00000;

private:
    // Deletes the file under the log's name that trustedOwner refused; true once it is gone.
    bool removeUntrustedFile() const;

    const FileUtils::HeldFolder* folder;
    OwnerCheck trustedOwner;
    std::wstring fileName;
    std::wstring filePath;
    std::uint64_t maxFileSize;
    // Shared by our processes that log into the same file; held while a record is written.
    WinAutoHandle<HANDLE> writerMutex;
};

namespace LogSeams {
using ObjectCheck = bool (*)(HANDLE object);
using ObjectNameFunction = std::wstring (*)(HANDLE object);
// The mutex through which the writers of the log at this final path take turns, or null when it can't be
// trusted: an existing one is used only when isAdministratorsOwned says an administrator made it, and any one
// only when kernelName gives the name asked for (an object-manager link in the session's namespace could
// point that name at a mutex some administrator holds for other ends). Never throws.
WinAutoHandle<HANDLE> writerMutexFor(const std::wstring& finalLogPath, ObjectCheck isAdministratorsOwned,
                                     ObjectNameFunction kernelName);
// The kernel's name of the object ("\Sessions\1\BaseNamedObjects\..."); empty when it can't be read.
std::wstring kernelNameOf(HANDLE object);
}  // namespace LogSeams

// The process-wide logger. Log sites read threshold before they build a message (see KRO_LOG).
class Logger {
public:
    // The logger, with its file appender created on first use.
    static Logger& instance();

    // Writes one record; does not consult threshold.
    void log(int level, const wchar_t* file, int line, const wchar_t* function, const std::wstring& message);
    void log(int level, const wchar_t* file, int line, const wchar_t* function,
             const tstrings::TextBuilder& message) {
        log(level, file, line, function, message.str());
    }

    int threshold = TRACE;
    LogAppender* appender = nullptr;
};

// "TRACE", "INFO", "WARNING", "ERROR", or "UNKNOWN" for any other value.
const wchar_t* logLevelName(int level);

// A log site: the message is built only when the level passes the threshold.
//   KRO_LOG(TRACE, "Deleted [" << path << "] file");
#define KRO_LOG(level, streamed)                                        \
    do {                                                                \
        ::Logger& kroLogger_ = ::Logger::instance();                    \
        if (kroLogger_.threshold <= (level)) {                          \
            kroLogger_.log((level), KRO_WFILE, __LINE__, KRO_WFUNCTION, \
                           ::tstrings::TextBuilder() << streamed);      \
        }                                                               \
    } while (false)
