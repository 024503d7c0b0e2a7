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
class FileLogAppender : public LogAppender {
public:
    // The file fileName (its directory part dropped; empty means "vantor.log") in the log's folder: the
    // process's temporary directory, or where the run works when that can't be opened (SysInfo::workPlace).
    explicit FileLogAppender(const std::wstring& fileName);
    // The same in the given held folder, which must outlive the appender.
    FileLogAppender(const std::wstring& fileName, const FileUtils::HeldFolder& folder);
    void append(const LogRecord& record) override;

    // The file's final path; empty when the folder's final path can't be had (records are written all the
    // same).
    const std::wstring& path() const { return filePath; }

    // A file of this size or larger is emptied before the next record.
    static constexpr std::uint64_t defaultMaxFileSize = 0xA00000;

private:
    const FileUtils::HeldFolder* folder;
    std::wstring fileName;
    std::wstring filePath;
    std::uint64_t maxFileSize;
    // Shared by our processes that log into the same file; held while a record is written.
    WinAutoHandle<HANDLE> writerMutex;
};

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
