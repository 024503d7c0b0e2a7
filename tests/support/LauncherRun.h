// Running a real launcher under Wine, each run with a temporary directory of its own, and reading back what
// it left: exit code, log records, the demo installer's report, leftovers in the temporary directory.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace testsupport {

// What the demo installer recorded: every "key=value" line, values unescaped, in order per key.
struct DemoReport {
    bool present = false;
    std::map<std::string, std::vector<std::wstring>> values;
    std::wstring value(const std::string& key) const;
    std::vector<std::wstring> all(const std::string& key) const;
};
DemoReport readDemoReport(const std::wstring& path);

struct LauncherRunOptions {
    ProcessOptions process;  // TEMP, TMP and DEMO_INSTALLER_REPORT are set by the run
    std::wstring tempDir;    // TEMP of the run; empty: a fresh folder, removed afterwards
};

struct LauncherRun {
    DWORD exitCode = 0;
    std::vector<ParsedRecord> log;
    DemoReport report;
    std::vector<std::wstring> leftovers;  // entries of the temporary directory other than vantor.log
    std::wstring tempDir;
};

// Options for a process whose TEMP (and TMP) is temp and whose demo installer reports into report.
ProcessOptions inTemp(const std::wstring& temp, const std::wstring& report);

// Runs launcher with the arguments in its temporary directory and collects the results.
LauncherRun runLauncher(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                        LauncherRunOptions options = {});

// The messages of the records, "LEVEL: message" each.
std::vector<std::wstring> messagesOf(const std::vector<ParsedRecord>& records);
// The same, with each program's running time ("after 12.345 s" at the end) checked for its form and written
// "after N s".
std::vector<std::wstring> messagesWithoutTimes(const std::vector<ParsedRecord>& records);

// The entries of a folder whose names start with "kro", as full paths.
std::vector<std::wstring> kroEntries(const std::wstring& folder);

// Waits (at most a minute) until the path exists.
bool waitForFile(const std::wstring& path);

// The ids of the running processes that the given process started. Not every process that names its id as
// parent: Wine soon gives an ended process's id to a new one, and what the ended one started (services.exe,
// the desktop) still names it.
std::vector<DWORD> childProcessIds(HANDLE parent);

// A test-build launcher that pauses at one moment (see the launcher's test hooks): the test acts while it
// waits, then lets it go on.
class PausedLauncher {
public:
    PausedLauncher(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                   const wchar_t* moment, ProcessOptions options);
    // Waits until the launcher pauses and returns the path it names there; fails the test if it never does.
    std::wstring waitForPause();
    // Lets it go on and returns its exit code.
    DWORD finish();
    HANDLE handle() const { return process.handle(); }

private:
    ScratchDir pauseDir;
    RunningProcess process;
};

}  // namespace testsupport
