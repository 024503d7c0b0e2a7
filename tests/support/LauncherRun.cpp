#include "LauncherRun.h"

#include "FileUtils.h"
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

LauncherRun runLauncher(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                        LauncherRunOptions options) {
    const ScratchDir scratch(L"run");
    const std::wstring temp = scratch / L"temp";
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

std::vector<std::wstring> messagesOf(const std::vector<ParsedRecord>& records) {
    std::vector<std::wstring> messages;
    for (const ParsedRecord& record : records) {
        messages.push_back(record.level + L": " + record.message);
    }
    return messages;
}

}  // namespace testsupport
