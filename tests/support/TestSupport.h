// Helpers shared by the tests: the log file parsed record by record, scratch folders, child processes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// One record of vantor.log, field by field.
struct ParsedRecord {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    std::wstring processName;
    unsigned long processId = 0, threadId = 0;
    std::wstring file;
    unsigned line = 0;
    std::wstring function;
    std::wstring level;
    std::wstring message;
};

// The raw bytes of a file, read sharing everything (so a file another program is still moving into place is
// read whole); empty when it can't be read.
std::string readFileBytes(const std::wstring& path);
void writeFileBytes(const std::wstring& path, const std::string& bytes);

// Parses the log's bytes into records. Fails the calling test (ADD_FAILURE) on any byte that is not part of a
// well-formed record, so interleaved or torn records are caught.
std::vector<ParsedRecord> parseLog(const std::string& bytes);

// The log file of this process: vantor.log in its temporary directory.
std::wstring logPath();
std::vector<ParsedRecord> readLog(const std::wstring& path = logPath());
void removeLog();

// Creates a new folder "prefix-<process id>-<n>" in parent and returns its path, taking the next n while a
// name is taken: Wine soon reuses a process id, and an earlier process with this one may have left its
// folders. Fails the test (and returns an empty path) when the folder can't be created for another reason.
std::wstring createFreshFolder(const std::wstring& parent, const std::wstring& prefix);

// A fresh folder in parent (the temporary directory when empty), removed with everything in it when the
// object goes.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& prefix = L"scratch", const std::wstring& parent = std::wstring());
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void removeTree(const std::wstring& path);

// The folder that holds the running test executable (and the helper programs built beside it), and a file
// there.
std::wstring binDir();
std::wstring binPath(const std::wstring& name);

bool endsWith(const std::string& text, const std::string& tail);

// Asks condition every 10 ms until it answers true (then true) or timeoutMs have passed (then false, after
// one last question). Bounded by the clock, not by a count of sleeps, which a busy machine stretches.
template <class Condition>
bool waitUntil(Condition condition, ULONGLONG timeoutMs = 60000) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const bool late = GetTickCount64() >= deadline;
        if (condition()) {
            return true;
        }
        if (late) {
            return false;
        }
        Sleep(10);
    }
}

// A 64-bit Windows image held in bytes: its NT headers, and the headers of its sections of that name.
IMAGE_NT_HEADERS64* ntHeadersOf(std::string& image);
std::vector<IMAGE_SECTION_HEADER*> sectionsNamed(std::string& image, const std::string& name);
// Checks that the image file's header checksum is set and is the one the system computes for the file.
void expectChecksumHolds(const std::wstring& path);

// Splits a command line the way the shell and the C runtime do, the program's name included. In a file of its
// own: a test that calls it links shell32, which loads libraries the other tests must not find loaded.
std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine);

// A GetFinalPathNameByHandleW that never has an answer, as some RAM-disk and network drivers give none.
DWORD WINAPI noFinalPath(HANDLE, LPWSTR, DWORD, DWORD);

// While it lives, every log record throws (as a record that can't be built for want of memory would).
class ThrowingLog {
public:
    ThrowingLog();
    ~ThrowingLog();
    ThrowingLog(const ThrowingLog&) = delete;
    ThrowingLog& operator=(const ThrowingLog&) = delete;

private:
    struct Appender;
    Appender* appender_;
    void* previous_;
};

// A process run to its end.
struct ProcessResult {
    DWORD exitCode = 0;
};

struct ProcessOptions {
    // Variables set (or replaced) in the child's environment, TEMP and TMP for example.
    std::map<std::wstring, std::wstring> environment;
    std::wstring currentDirectory;
    // Start with the non-elevated linked token of this process.
    bool notElevated = false;
    // When set, the child's standard output and error both go to this file (created or emptied).
    std::wstring outputPath;
    // When set, the window station and desktop the child starts on ("station\\desktop").
    std::wstring desktop;
    // When set, the child's whole command line as typed, in place of the quoted program and arguments.
    std::wstring commandLine;
};

// A new window station, invisible as those of services and scheduled tasks are, with one desktop on it; both
// closed when the object goes.
class InvisibleDesktop {
public:
    InvisibleDesktop();
    ~InvisibleDesktop();
    InvisibleDesktop(const InvisibleDesktop&) = delete;
    InvisibleDesktop& operator=(const InvisibleDesktop&) = delete;
    // "station\\desktop", for ProcessOptions::desktop.
    const std::wstring& name() const { return name_; }

private:
    HWINSTA station_ = nullptr;
    HDESK desktop_ = nullptr;
    std::wstring name_;
};

// A started process; wait() blocks until it ends and returns its exit code.
class RunningProcess {
public:
    RunningProcess(HANDLE process, HANDLE thread) : process_(process), thread_(thread) {}
    RunningProcess(RunningProcess&& other) noexcept;
    RunningProcess(const RunningProcess&) = delete;
    ~RunningProcess();
    DWORD wait();
    // Waits at most ms; a process still running then is ended, and the result is false.
    bool waitAtMost(DWORD ms, DWORD& exitCode);
    HANDLE handle() const { return process_; }

private:
    HANDLE process_;
    HANDLE thread_;
};

// Starts program with the arguments (each quoted). Fails the test if it can't start (the handle is then
// null).
RunningProcess startProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                            const ProcessOptions& options = {});
// Starts program and waits for its end.
ProcessResult runProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                         const ProcessOptions& options = {});

}  // namespace testsupport
