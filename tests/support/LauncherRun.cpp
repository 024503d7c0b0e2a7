#include "LauncherRun.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <regex>

#include "FileUtils.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

namespace testsupport {

std::wstring DemoReport::value(const std::string& key) const {
    const auto found = values.find(key);
    return found == values.end() || found->second.empty() ? std::wstring() : found->second.front();
}

std::vector<std::wstring> DemoReport::all(const std::string& key) const {
    const auto found = values.find(key);
    return found == values.end() ? std::vector<std::wstring>() : found->second;
}

namespace {

std::string unescape(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            result += text[i];
            continue;
        }
        const char next = text[++i];
        result += next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    }
    return result;
}

}  // namespace

DemoReport readDemoReport(const std::wstring& path) {
    DemoReport report;
    const std::string bytes = readFileBytes(path);
    report.present = FileUtils::pathExists(path);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        const std::string line = bytes.substr(pos, end - pos);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            report.values[line.substr(0, eq)].push_back(
                tstrings::fromMultiByte(unescape(line.substr(eq + 1))));
        }
        pos = end + 1;
    }
    return report;
}

ProcessOptions inTemp(const std::wstring& temp, const std::wstring& report) {
    ProcessOptions options;
    options.environment = {{L"TEMP", temp}, {L"TMP", temp}, {L"DEMO_INSTALLER_REPORT", report}};
    return options;
}

LauncherRun runLauncher(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                        LauncherRunOptions options) {
    const ScratchDir scratch(L"run");
    const std::wstring temp = options.tempDir.empty() ? scratch / L"temp" : options.tempDir;
    CreateDirectoryW(temp.c_str(), nullptr);
    const std::wstring reportPath = scratch / L"report.txt";
    options.process.environment[L"TEMP"] = temp;
    options.process.environment[L"TMP"] = temp;
    options.process.environment[L"DEMO_INSTALLER_REPORT"] = reportPath;

    LauncherRun run;
    run.tempDir = temp;
    run.exitCode = runProcess(launcher, arguments, options.process).exitCode;
    run.log = readLog(temp + L"\\vantor.log");
    run.report = readDemoReport(reportPath);
    std::vector<std::wstring> entries;
    FileUtils::DirectoryIterator(temp, false, true, true).findItems(entries);
    for (const std::wstring& entry : entries) {
        if (FileUtils::getFileName(entry) != L"vantor.log") {
            run.leftovers.push_back(entry);
        }
    }
    return run;
}

std::vector<std::wstring> kroEntries(const std::wstring& folder) {
    std::vector<std::wstring> entries, kro;
    FileUtils::DirectoryIterator(folder, false, true, true).findItems(entries);
    for (const std::wstring& entry : entries) {
        if (FileUtils::getFileName(entry).rfind(L"kro", 0) == 0) {
            kro.push_back(entry);
        }
    }
    return kro;
}

bool waitForFile(const std::wstring& path) {
    return waitUntil([&] { return FileUtils::pathExists(path); });
}

namespace {

// When the process started (100 ns units); 0 when the system doesn't say.
ULONGLONG startTimeOf(HANDLE process) {
    FILETIME started{}, ended{}, kernel{}, user{};
    if (!GetProcessTimes(process, &started, &ended, &kernel, &user)) {
        return 0;
    }
    return (static_cast<ULONGLONG>(started.dwHighDateTime) << 32) | started.dwLowDateTime;
}

}  // namespace

std::vector<DWORD> childProcessIds(HANDLE parent) {
    const DWORD parentId = GetProcessId(parent);
    const ULONGLONG parentStart = startTimeOf(parent);
    std::vector<DWORD> children;
    const WinAutoHandle<HANDLE> snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID != parentId || parentStart == 0) {
            continue;
        }
        // A child starts after its parent; one that started before was started by an earlier holder of the
        // id.
        const WinAutoHandle<HANDLE> candidate(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (candidate.get() != nullptr && startTimeOf(candidate.get()) >= parentStart) {
            children.push_back(entry.th32ProcessID);
        }
    }
    return children;
}

namespace {

ProcessOptions withPause(ProcessOptions options, const std::wstring& pauseDir, const wchar_t* moment) {
    options.environment[L"KRO_TEST_PAUSE_DIR"] = pauseDir;
    options.environment[L"KRO_TEST_PAUSE_AT"] = moment;
    return options;
}

}  // namespace

PausedLauncher::PausedLauncher(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                               const wchar_t* moment, ProcessOptions options)
    : pauseDir(L"pause"),
      process(startProcess(launcher, arguments, withPause(options, pauseDir.path(), moment))) {}

std::wstring PausedLauncher::waitForPause() {
    const std::wstring paused = pauseDir / L"paused.txt";
    EXPECT_TRUE(waitForFile(paused)) << "the launcher never paused";
    return tstrings::fromMultiByte(readFileBytes(paused));
}

DWORD PausedLauncher::finish() {
    writeFileBytes(pauseDir / L"continue", "");
    return process.wait();
}

std::vector<std::wstring> messagesOf(const std::vector<ParsedRecord>& records) {
    std::vector<std::wstring> messages;
    for (const ParsedRecord& record : records) {
        messages.push_back(record.level + L": " + record.message);
    }
    return messages;
}

std::vector<std::wstring> messagesWithoutTimes(const std::vector<ParsedRecord>& records) {
    static const std::wregex time(L" after [0-9]+\\.[0-9]{3} s$");
    std::vector<std::wstring> messages = messagesOf(records);
    for (std::wstring& message : messages) {
        message = std::regex_replace(message, time, L" after N s");
    }
    return messages;
}

}  // namespace testsupport
