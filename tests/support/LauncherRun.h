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
};

struct LauncherRun {
    DWORD exitCode = 0;
    std::vector<ParsedRecord> log;
    DemoReport report;
    std::vector<std::wstring> leftovers;  // entries of the temporary directory other than vantor.log
    std::wstring tempDir;
};

// Runs launcher with the arguments in a fresh temporary directory (removed afterwards) and collects the
// results.
LauncherRun runLauncher(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                        LauncherRunOptions options = {});

// The messages of the records, "LEVEL: message" each.
std::vector<std::wstring> messagesOf(const std::vector<ParsedRecord>& records);

}  // namespace testsupport
