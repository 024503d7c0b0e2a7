#include "TestSupport.h"

#include <gtest/gtest.h>
#include <imagehlp.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <utility>

#include "CommandLine.h"
#include "Dll.h"
#include "Log.h"
#include "SysInfo.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

namespace testsupport {

std::string readFileBytes(const std::wstring& path) {
    // Deletion is shared too: a program that has just moved a file into place still holds it for deletion
    // until its rename returns, and an open that doesn't share that fails (32) though the file is whole.
    const WinAutoHandle<HANDLE> file(CreateFileW(path.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (file.get() != INVALID_HANDLE_VALUE &&
           ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

void writeFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << tstrings::toMultiByte(path);
}

namespace {

// Reads digits at pos into value; false when there are none.
bool readNumber(const std::string& text, std::size_t& pos, unsigned long& value,
                std::size_t exactDigits = 0) {
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<unsigned long>(text[pos] - '0');
        ++pos;
    }
    return pos > start && (exactDigits == 0 || pos - start == exactDigits);
}

bool expect(const std::string& text, std::size_t& pos, const char* literal) {
    const std::string expected = literal;
    if (text.compare(pos, expected.size(), expected) != 0) {
        return false;
    }
    pos += expected.size();
    return true;
}

// The next record header starts at a line that opens with "[dddd/".
bool isHeaderStart(const std::string& text, std::size_t pos) {
    if (pos + 6 > text.size() || text[pos] != '[' || text[pos + 5] != '/') {
        return false;
    }
    for (std::size_t i = 1; i <= 4; ++i) {
        if (text[pos + i] < '0' || text[pos + i] > '9') {
            return false;
        }
    }
    return true;
}

bool parseRecord(const std::string& text, std::size_t& pos, ParsedRecord& r) {
    unsigned long n[7] = {};
    const std::size_t digits[7] = {4, 2, 2, 2, 2, 2, 3};
    const char* separators[7] = {"[", "/", "/", " ", ":", ":", "."};
    for (int i = 0; i < 7; ++i) {
        if (!expect(text, pos, separators[i]) || !readNumber(text, pos, n[i], digits[i])) {
            return false;
        }
    }
    r.year = n[0], r.month = n[1], r.day = n[2], r.hour = n[3], r.minute = n[4], r.second = n[5];
    r.millisecond = n[6];
    if (!expect(text, pos, ", ")) {
        return false;
    }
    const std::size_t pidAt = text.find(" (PID: ", pos);
    const std::size_t lineEnd = text.find("\r\n", pos);
    if (pidAt == std::string::npos || lineEnd == std::string::npos || pidAt > lineEnd) {
        return false;
    }
    r.processName = tstrings::fromMultiByte(text.substr(pos, pidAt - pos));
    pos = pidAt;
    unsigned long line = 0;
    if (!expect(text, pos, " (PID: ") || !readNumber(text, pos, r.processId) ||
        !expect(text, pos, ", TID: ") || !readNumber(text, pos, r.threadId) || !expect(text, pos, "), ")) {
        return false;
    }
    // file:line (function)]: the function may hold parentheses, so take it from the end of the line.
    const std::size_t functionOpen = text.find(" (", pos);
    if (functionOpen == std::string::npos || functionOpen > lineEnd ||
        text.compare(lineEnd - 2, 2, ")]") != 0) {
        return false;
    }
    const std::size_t colon = text.rfind(':', functionOpen);
    if (colon == std::string::npos || colon < pos) {
        return false;
    }
    r.file = tstrings::fromMultiByte(text.substr(pos, colon - pos));
    std::size_t linePos = colon + 1;
    if (!readNumber(text, linePos, line) || linePos != functionOpen) {
        return false;
    }
    r.line = static_cast<unsigned>(line);
    r.function = tstrings::fromMultiByte(text.substr(functionOpen + 2, lineEnd - 2 - (functionOpen + 2)));
    pos = lineEnd + 2;
    if (!expect(text, pos, "\t")) {
        return false;
    }
    const std::size_t levelEnd = text.find(": ", pos);
    if (levelEnd == std::string::npos) {
        return false;
    }
    r.level = tstrings::fromMultiByte(text.substr(pos, levelEnd - pos));
    pos = levelEnd + 2;
    // The message runs to the CR LF that ends the file or precedes the next header.
    std::size_t end = text.find("\r\n", pos);
    while (end != std::string::npos && end + 2 < text.size() && !isHeaderStart(text, end + 2)) {
        end = text.find("\r\n", end + 2);
    }
    if (end == std::string::npos) {
        return false;
    }
    r.message = tstrings::fromMultiByte(text.substr(pos, end - pos));
    pos = end + 2;
    return true;
}

}  // namespace

std::vector<ParsedRecord> parseLog(const std::string& bytes) {
    std::vector<ParsedRecord> records;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        ParsedRecord record;
        const std::size_t start = pos;
        if (!parseRecord(bytes, pos, record)) {
            ADD_FAILURE() << "malformed log record at byte " << start << ": "
                          << bytes.substr(start, std::min<std::size_t>(200, bytes.size() - start));
            break;
        }
        records.push_back(record);
    }
    return records;
}

std::wstring logPath() {
    return SysInfo::getTempDir() + L"\\vantor.log";
}

std::vector<ParsedRecord> readLog(const std::wstring& path) {
    return parseLog(readFileBytes(path));
}

void removeLog() {
    DeleteFileW(logPath().c_str());
}

std::wstring createFreshFolder(const std::wstring& parent, const std::wstring& prefix) {
    static unsigned counter = 0;
    for (;;) {
        const std::wstring path = parent + L"\\" + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            return path;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create " << tstrings::toMultiByte(path) << ": error " << error;
            return std::wstring();
        }
    }
}

ScratchDir::ScratchDir(const std::wstring& prefix, const std::wstring& parent)
    : path_(createFreshFolder(parent.empty() ? SysInfo::getTempDir() : parent, prefix)) {}

ScratchDir::~ScratchDir() {
    removeTree(path_);
}

void removeTree(const std::wstring& path) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path), ignored);
}

std::wstring binPath(const std::wstring& name) {
    return binDir() + L"\\" + name;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

IMAGE_NT_HEADERS64* ntHeadersOf(std::string& image) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    return reinterpret_cast<IMAGE_NT_HEADERS64*>(&image[0] + dos->e_lfanew);
}

std::vector<IMAGE_SECTION_HEADER*> sectionsNamed(std::string& image, const std::string& name) {
    IMAGE_NT_HEADERS64* nt = ntHeadersOf(image);
    IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    std::vector<IMAGE_SECTION_HEADER*> found;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
        const auto* text = reinterpret_cast<const char*>(sections[i].Name);
        if (std::string(text, strnlen(text, IMAGE_SIZEOF_SHORT_NAME)) == name) {
            found.push_back(&sections[i]);
        }
    }
    return found;
}

void expectChecksumHolds(const std::wstring& path) {
    DWORD headerSum = 0;
    DWORD computedSum = 0;
    ASSERT_EQ(static_cast<DWORD>(CHECKSUM_SUCCESS),
              MapFileAndCheckSumW(const_cast<wchar_t*>(path.c_str()), &headerSum, &computedSum));
    EXPECT_NE(0u, headerSum);
    EXPECT_EQ(computedSum, headerSum);
}

std::wstring binDir() {
    wchar_t buffer[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
    std::wstring path = buffer;
    return path.substr(0, path.find_last_of(L"\\/"));
}

namespace {

// This process's environment with the given variables set, as a sorted block for CreateProcessW.
std::wstring environmentBlock(const std::map<std::wstring, std::wstring>& overrides) {
    std::map<std::wstring, std::wstring, bool (*)(const std::wstring&, const std::wstring&)> variables(
        [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const std::size_t eq = text.find(L'=', 1);
        if (eq != std::wstring::npos) {
            variables[text.substr(0, eq)] = text.substr(eq + 1);
        }
    }
    FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : overrides) {
        variables.erase(name);
        variables[name] = value;
    }
    std::wstring result;
    for (const auto& [name, value] : variables) {
        result += name + L"=" + value;
        result += L'\0';
    }
    result += L'\0';
    return result;
}

}  // namespace

RunningProcess::RunningProcess(RunningProcess&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), thread_(std::exchange(other.thread_, nullptr)) {}

RunningProcess::~RunningProcess() {
    closeHANDLE(thread_);
    closeHANDLE(process_);
}

DWORD RunningProcess::wait() {
    DWORD exitCode = 0;
    if (process_ == nullptr) {
        return exitCode;
    }
    WaitForSingleObject(process_, INFINITE);
    GetExitCodeProcess(process_, &exitCode);
    return exitCode;
}

bool RunningProcess::waitAtMost(DWORD ms, DWORD& exitCode) {
    if (WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, INFINITE);
        return false;
    }
    exitCode = wait();
    return true;
}

RunningProcess startProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                            const ProcessOptions& options) {
    std::wstring commandLine = options.commandLine;
    if (commandLine.empty()) {
        commandLine = commandline::quoteArgument(program);
        for (const std::wstring& argument : arguments) {
            commandLine += L" " + commandline::quoteArgument(argument);
        }
    }
    std::wstring environment = environmentBlock(options.environment);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const wchar_t* directory = options.currentDirectory.empty() ? nullptr : options.currentDirectory.c_str();
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT;
    WinAutoHandle<HANDLE> output;
    if (!options.outputPath.empty()) {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        output =
            WinAutoHandle<HANDLE>(CreateFileW(options.outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                              &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
    }
    std::wstring desktop = options.desktop;
    if (!desktop.empty()) {
        startup.lpDesktop = &desktop[0];
    }
    const BOOL inherit = output.owned() ? TRUE : FALSE;
    const auto startOnce = [&]() -> BOOL {
        if (!options.notElevated) {
            return CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, inherit, flags,
                                  &environment[0], directory, &startup, &info);
        }
        HANDLE token = nullptr;
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, &token);
        const WinAutoHandle<HANDLE> ownToken(token);
        TOKEN_LINKED_TOKEN linked{};
        DWORD size = 0;
        if (!GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &size)) {
            ADD_FAILURE() << "no linked token: " << GetLastError();
            return FALSE;
        }
        const WinAutoHandle<HANDLE> linkedToken(linked.LinkedToken);
        return CreateProcessAsUserW(linked.LinkedToken, program.c_str(), &commandLine[0], nullptr, nullptr,
                                    inherit, flags, &environment[0], directory, &startup, &info);
    };
    // Wine reports a new process that died while Wine was still setting it up as ERROR_INTERNAL_ERROR. That
    // happened once, under load, in a whole run of the suite: such a start is tried again. Any other failure
    // fails the test at once.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        started = startOnce();
        error = started ? 0 : GetLastError();
        if (started || error != ERROR_INTERNAL_ERROR) {
            break;
        }
        std::printf("note: %s did not come up (ERROR_INTERNAL_ERROR); starting it again\n",
                    tstrings::toMultiByte(program).c_str());
    }
    if (!started) {
        ADD_FAILURE() << "cannot start " << tstrings::toMultiByte(program) << ": error " << error;
        return RunningProcess(nullptr, nullptr);
    }
    return RunningProcess(info.hProcess, info.hThread);
}

namespace {

// user32, bound when a test needs it: loaded at start it would bring version.dll into every test process.
template <class Signature>
Signature user32Function(const char* name) {
    static const Dll user32(tstrings::TextBuilder() << "user32");
    return reinterpret_cast<Signature>(reinterpret_cast<void*>(user32.getFunction(name, true)));
}

}  // namespace

struct ThrowingLog::Appender : LogAppender {
    void append(const LogRecord&) override { throw std::bad_alloc(); }
};

ThrowingLog::ThrowingLog() : appender_(new Appender), previous_(Logger::instance().appender) {
    Logger::instance().appender = appender_;
}

ThrowingLog::~ThrowingLog() {
    Logger::instance().appender = static_cast<LogAppender*>(previous_);
    delete appender_;
}

InvisibleDesktop::InvisibleDesktop() {
    using CreateStationFunction = HWINSTA(WINAPI*)(LPCWSTR, DWORD, ACCESS_MASK, LPSECURITY_ATTRIBUTES);
    using GetStationFunction = HWINSTA(WINAPI*)();
    using SetStationFunction = BOOL(WINAPI*)(HWINSTA);
    using CreateDesktopFunction =
        HDESK(WINAPI*)(LPCWSTR, LPCWSTR, void*, DWORD, ACCESS_MASK, LPSECURITY_ATTRIBUTES);
    const std::wstring stationName = L"kro-invisible-" + std::to_wstring(GetCurrentProcessId());
    station_ = user32Function<CreateStationFunction>("CreateWindowStationW")(stationName.c_str(), 0,
                                                                             WINSTA_ALL_ACCESS, nullptr);
    EXPECT_NE(nullptr, station_) << "CreateWindowStationW: " << GetLastError();
    // A desktop is created on the calling process's window station.
    const HWINSTA own = user32Function<GetStationFunction>("GetProcessWindowStation")();
    user32Function<SetStationFunction>("SetProcessWindowStation")(station_);
    desktop_ = user32Function<CreateDesktopFunction>("CreateDesktopW")(L"Default", nullptr, nullptr, 0,
                                                                       GENERIC_ALL, nullptr);
    user32Function<SetStationFunction>("SetProcessWindowStation")(own);
    EXPECT_NE(nullptr, desktop_) << "CreateDesktopW: " << GetLastError();
    name_ = stationName + L"\\Default";
}

InvisibleDesktop::~InvisibleDesktop() {
    using CloseDesktopFunction = BOOL(WINAPI*)(HDESK);
    using CloseStationFunction = BOOL(WINAPI*)(HWINSTA);
    if (desktop_ != nullptr) {
        user32Function<CloseDesktopFunction>("CloseDesktop")(desktop_);
    }
    if (station_ != nullptr) {
        user32Function<CloseStationFunction>("CloseWindowStation")(station_);
    }
}

ProcessResult runProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                         const ProcessOptions& options) {
    return ProcessResult{startProcess(program, arguments, options).wait()};
}

DWORD WINAPI noFinalPath(HANDLE, LPWSTR, DWORD, DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

}  // namespace testsupport
