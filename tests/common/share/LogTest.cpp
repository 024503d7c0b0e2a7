#include "Log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LauncherRun.h"
#include "SysInfo.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"

using testsupport::ParsedRecord;

namespace {

std::wstring fixturesDir() {
    return tstrings::fromMultiByte(KRO_FIXTURES_DIR);
}

// Builds a record as Logger::log would, for writing through an appender of the test's own.
LogRecord sampleRecord(const std::wstring& message) {
    LogRecord record{};
    GetLocalTime(&record.time);
    record.processId = 52;
    record.threadId = 60;
    record.processName = L"launcher.exe";
    record.levelName = L"INFO";
    record.file = L"Widget";
    record.line = 12;
    record.function = L"Widget::open";
    record.message = message;
    return record;
}

// An appender for vantor.log in the given folder, which it holds.
struct AppenderIn {
    explicit AppenderIn(const std::wstring& path,
                        FileUtils::FinalPathFunction getFinalPath = &GetFinalPathNameByHandleW)
        : folder(FileUtils::HeldFolder::open(path, getFinalPath)), appender(L"vantor.log", folder) {}
    FileUtils::HeldFolder folder;
    FileLogAppender appender;
};

}  // namespace

TEST(Log, WritesTwoLineRecordsFieldByField) {
    testsupport::removeLog();
    SYSTEMTIME before{};
    GetLocalTime(&before);
    const int line = __LINE__ + 1;
    KRO_LOG(INFO, "first " << 42);
    KRO_LOG(ERROR, std::wstring(L"caf\u00E9"));

    const std::string bytes = testsupport::readFileBytes(testsupport::logPath());
    EXPECT_NE(0xEF, static_cast<unsigned char>(bytes[0])) << "no byte-order mark";
    const std::vector<ParsedRecord> records = testsupport::parseLog(bytes);
    ASSERT_EQ(2u, records.size());
    const ParsedRecord& r = records[0];
    EXPECT_EQ(before.wYear, r.year);
    EXPECT_EQ(before.wMonth, r.month);
    EXPECT_GE(r.day, 1u);
    EXPECT_LE(r.hour, 23u);
    EXPECT_EQ(L"share_test.exe", r.processName);
    EXPECT_EQ(GetCurrentProcessId(), r.processId);
    EXPECT_EQ(GetCurrentThreadId(), r.threadId);
    EXPECT_EQ(L"LogTest.cpp", r.file);
    EXPECT_EQ(static_cast<unsigned>(line), r.line);
    EXPECT_EQ(L"Log_WritesTwoLineRecordsFieldByField_Test::TestBody", r.function);
    EXPECT_EQ(L"INFO", r.level);
    EXPECT_EQ(L"first 42", r.message);
    EXPECT_EQ(L"ERROR", records[1].level);
    EXPECT_EQ(L"caf\u00E9", records[1].message);

    const std::string header = bytes.substr(0, bytes.find('\n') + 1);
    EXPECT_EQ("]\r\n", header.substr(header.size() - 3));
    EXPECT_EQ("\tINFO: first 42\r\n", bytes.substr(header.size(), 17));
}

TEST(Log, FormatsTheHeaderExactly) {
    const testsupport::ScratchDir scratch;
    AppenderIn log(scratch.path());
    LogRecord record = sampleRecord(L"line one\nline two");
    record.time.wYear = 2026;
    record.time.wMonth = 1;
    record.time.wDay = 31;
    record.time.wHour = 9;
    record.time.wMinute = 5;
    record.time.wSecond = 7;
    record.time.wMilliseconds = 42;
    log.appender.append(record);
    EXPECT_EQ(
        "[2026/01/31 09:05:07.042, launcher.exe (PID: 52, TID: 60), Widget:12 (Widget::open)]\r\n"
        "\tINFO: line one\r\nline two\r\n",
        testsupport::readFileBytes(scratch / L"vantor.log"));
}

TEST(Log, NamesLevels) {
    EXPECT_STREQ(L"TRACE", logLevelName(0));
    EXPECT_STREQ(L"INFO", logLevelName(1));
    EXPECT_STREQ(L"WARNING", logLevelName(2));
    EXPECT_STREQ(L"ERROR", logLevelName(3));
    testsupport::removeLog();
    Logger::instance().log(4, L"C:\\src\\x.cpp", 1, L"f", L"four");
    Logger::instance().log(-1, L"nosep", 2, L"f", L"minus one");
    const auto records = testsupport::readLog();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(L"UNKNOWN", records[0].level);
    EXPECT_EQ(L"x.cpp", records[0].file);
    EXPECT_EQ(L"UNKNOWN", records[1].level);
    EXPECT_EQ(L"nosep", records[1].file);
}

TEST(Log, EmptiesTheFileOnceItReachesTenMebibytes) {
    const struct {
        std::size_t size;
        bool emptied;
    } rows[] = {{10485759, false}, {10485760, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        const testsupport::ScratchDir scratch;
        AppenderIn log(scratch.path());
        const std::wstring path = scratch / L"vantor.log";
        testsupport::writeFileBytes(path, std::string(row.size, 'x'));
        log.appender.append(sampleRecord(L"appended"));
        const std::string after = testsupport::readFileBytes(path);
        if (row.emptied) {
            const auto records = testsupport::readLog(path);
            ASSERT_EQ(1u, records.size());
            EXPECT_EQ(L"appended", records[0].message);
        } else {
            EXPECT_GT(after.size(), row.size);
            EXPECT_TRUE(after.compare(0, row.size, std::string(row.size, 'x')) == 0);
        }
    }
}

TEST(Log, DropsTheRecordWhileAnotherProgramHoldsTheFileForWriting) {
    // A reader that shares no writing, and a writer that shares everything but deletion: either way the
    // record is dropped rather than written beside another writer.
    const struct {
        DWORD access, share;
    } holders[] = {{GENERIC_READ, FILE_SHARE_READ}, {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE}};
    for (const auto& holder : holders) {
        SCOPED_TRACE(holder.access);
        testsupport::removeLog();
        KRO_LOG(INFO, "before");
        {
            const WinAutoHandle<HANDLE> held(CreateFileW(testsupport::logPath().c_str(), holder.access,
                                                         holder.share, nullptr, OPEN_EXISTING,
                                                         FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_NE(INVALID_HANDLE_VALUE, held.get());
            KRO_LOG(INFO, "dropped");
        }
        KRO_LOG(INFO, "after");
        const auto records = testsupport::readLog();
        ASSERT_EQ(2u, records.size());
        EXPECT_EQ(L"before", records[0].message);
        EXPECT_EQ(L"after", records[1].message);
    }
}

TEST(Log, TwoProcessesNeverInterleave) {
    const testsupport::ScratchDir scratch;
    testsupport::ProcessOptions options;
    options.environment = {{L"TMP", scratch.path()}, {L"TEMP", scratch.path()}};
    const std::wstring writer = testsupport::binPath(L"log-writer.exe");
    testsupport::RunningProcess first = testsupport::startProcess(writer, {L"1000", L"alpha"}, options);
    testsupport::RunningProcess second = testsupport::startProcess(writer, {L"1000", L"beta"}, options);
    EXPECT_EQ(0u, first.wait());
    EXPECT_EQ(0u, second.wait());

    const auto records = testsupport::readLog(scratch / L"vantor.log");
    ASSERT_EQ(2000u, records.size()) << "every record intact, none lost";
    int next[2] = {0, 0};
    for (const ParsedRecord& r : records) {
        const int who = r.message.rfind(L"alpha", 0) == 0 ? 0 : 1;
        EXPECT_EQ((who == 0 ? L"alpha record " : L"beta record ") + std::to_wstring(next[who]++), r.message);
        EXPECT_EQ(L"log-writer.exe", r.processName);
    }
}

TEST(Log, NeverCreatesAFileThroughADanglingLink) {
    // Made by the fixture script from the Linux side: vantor.log -> ../dangling-target.txt, which does not
    // exist. (Links to existing files are attacked through real launchers in the hardening suite.)
    AppenderIn dangling(fixturesDir() + L"\\dangling-log");
    dangling.appender.append(sampleRecord(L"one"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesW((fixturesDir() + L"\\dangling-target.txt").c_str()));
}

TEST(Log, KeepsEveryRecordWhenTheFolderHasNoFinalPath) {
    // Some RAM-disk and network drivers give no final path at all: the file is still the regular one with a
    // single link, opened in the held folder.
    const testsupport::ScratchDir scratch;
    AppenderIn log(scratch.path(), &testsupport::noFinalPath);
    EXPECT_EQ(L"", log.appender.path());
    log.appender.append(sampleRecord(L"one"));
    log.appender.append(sampleRecord(L"two"));
    const auto records = testsupport::readLog(scratch / L"vantor.log");
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(L"two", records[1].message);
}

namespace {

// Owners as Windows keeps them, which Wine doesn't: the file planted first (dated 2000 by the test) is
// someone else's. (Not by identity: the new file may get the planted one's inode.)
constexpr LONGLONG plantedWriteTime = 125911584000000000;  // 2000-01-01 in file time
bool plantedIsSomeoneElses(HANDLE file) {
    FILE_BASIC_INFO basic{};
    return GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) &&
           basic.LastWriteTime.QuadPart != plantedWriteTime;
}

}  // namespace

TEST(Log, AFileSomeoneElseOwnsInAMachineWideFolderIsReplaced) {
    const testsupport::ScratchDir scratch;
    const std::wstring path = scratch / L"vantor.log";
    testsupport::writeFileBytes(path, "forged\r\n");
    const FILETIME planted{static_cast<DWORD>(plantedWriteTime), static_cast<DWORD>(plantedWriteTime >> 32)};
    ASSERT_TRUE(SetFileTime(WinAutoHandle<HANDLE>(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 7, nullptr,
                                                              OPEN_EXISTING, 0, nullptr))
                                .get(),
                            nullptr, nullptr, &planted));
    const FileUtils::HeldFolder folder = FileUtils::HeldFolder::openForAttributes(scratch.path());
    FileLogAppender appender(L"vantor.log", folder, &plantedIsSomeoneElses);
    appender.append(sampleRecord(L"one"));
    appender.append(sampleRecord(L"two"));
    EXPECT_EQ(
        (std::vector<std::wstring>{L"WARNING: The log [" + path +
                                       L"] was owned by someone other than Administrators or SYSTEM: that "
                                       L"file was replaced",
                                   L"INFO: one", L"INFO: two"}),
        testsupport::messagesOf(testsupport::readLog(path)))
        << "the forged bytes gone with their file, the new file kept";
}

TEST(Log, TheWritersMutexIsTrustedOnlyWhereAnAdministratorMadeItUnderItsOwnName) {
    const std::wstring logPath =
        L"C:\\mutex-test-" + std::to_wstring(GetCurrentProcessId()) + L"\\vantor.log";
    const auto yes = [](HANDLE) { return true; };
    const auto no = [](HANDLE) { return false; };
    const auto elsewhere = [](HANDLE) { return std::wstring(L"\\BaseNamedObjects\\kro-log-elsewhere"); };
    const WinAutoHandle<HANDLE> made = LogSeams::writerMutexFor(logPath, no, &LogSeams::kernelNameOf);
    EXPECT_TRUE(made.owned()) << "made here: its owner is the one it was made with";
    EXPECT_FALSE(LogSeams::writerMutexFor(logPath, no, &LogSeams::kernelNameOf).owned()) << "made by another";
    EXPECT_TRUE(LogSeams::writerMutexFor(logPath, yes, &LogSeams::kernelNameOf).owned());
    EXPECT_FALSE(LogSeams::writerMutexFor(logPath, yes, elsewhere).owned()) << "a name that leads elsewhere";
}
