#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "FileUtils.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

using testsupport::ScratchDir;

namespace {

DWORD tickCalls = 0;
DWORD WINAPI nearWrapAround() {
    ++tickCalls;
    return 0xFFFFFFF0u;
}

std::vector<std::wstring> messages() {
    std::vector<std::wstring> result;
    for (const auto& record : testsupport::readLog()) {
        result.push_back(record.level + L": " + record.message);
    }
    return result;
}

std::string thrownBy(void (*work)(const std::wstring&), const std::wstring& argument) {
    try {
        work(argument);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Holds a file open without delete sharing, so that nothing can delete it meanwhile.
WinAutoHandle<HANDLE> holdOpen(const std::wstring& path) {
    return WinAutoHandle<HANDLE>(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

}  // namespace

TEST(FileOperations, TempNamesCountOnFromTheTickAndWrap) {
    const ScratchDir scratch;
    testsupport::removeLog();
    for (int n = -16; n <= -1; ++n) {
        testsupport::writeFileBytes(scratch / (L"kro" + std::to_wstring(n) + L".tmp"), "");
    }
    tickCalls = 0;
    const std::wstring path = FileUtils::createTempFile(L"kro", L".tmp", scratch.path(), &nearWrapAround);
    EXPECT_EQ(scratch / L"kro0.tmp", path) << "from -16 on, wrapping from -1 to 0";
    EXPECT_EQ(1u, tickCalls);
    EXPECT_EQ((std::vector<std::wstring>{L"TRACE: Created [" + path + L"] file"}), messages());

    const std::wstring bare = FileUtils::createTempFile(L"", L"", scratch.path(), &nearWrapAround);
    EXPECT_EQ(scratch / L"-16", bare) << "only the number";
}

TEST(FileOperations, TempNamesRejectIllegalCharactersAndGiveUpAfterAHundred) {
    const ScratchDir scratch;
    struct Row {
        std::wstring prefix, suffix;
        std::string message;
    };
    const Row rows[] = {
        {L"a/b", L".tmp", "(): Illegal characters in prefix=a/b"},
        {L"kro", L"\t", "(): Illegal characters in suffix=\t"},
        {L"a:", L"b|", "(): Illegal characters in prefix=a:"},
        {L"kro", L".tmp",
         "(): createTempFile(kro, .tmp, " + tstrings::toMultiByte(scratch / L"missing") + ") failed"},
    };
    for (const Row& row : rows) {
        tickCalls = 0;
        try {
            FileUtils::createTempFile(row.prefix, row.suffix, scratch / L"missing", &nearWrapAround);
            ADD_FAILURE() << "no exception for " << row.message;
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(contains(e.what(), " at FileUtils::createTempFile" + row.message)) << e.what();
        }
    }
    EXPECT_EQ(1u, tickCalls) << "the tick is read once for all hundred attempts";
    EXPECT_FALSE(FileUtils::pathExists(scratch / L"missing"));
}

TEST(FileOperations, TwoProcessesNeverGetTheSameName) {
    const ScratchDir scratch;
    const std::wstring maker = testsupport::binPath(L"temp-file-maker.exe");
    testsupport::RunningProcess first = testsupport::startProcess(maker, {scratch.path(), L"40"});
    testsupport::RunningProcess second = testsupport::startProcess(maker, {scratch.path(), L"40"});
    EXPECT_EQ(40u, first.wait());
    EXPECT_EQ(40u, second.wait());
    std::vector<std::wstring> files;
    FileUtils::DirectoryIterator(scratch.path(), false, true, true).findItems(files);
    EXPECT_EQ(80u, files.size()) << "every call of both processes got a file of its own";
}

TEST(FileOperations, CopyRefusesAnExistingTargetAndCreatesFolders) {
    const ScratchDir scratch;
    const std::wstring source = scratch / L"a.exe";
    testsupport::writeFileBytes(source, "payload");
    const std::wstring target = scratch / L"new\\sub\\x.exe";
    testsupport::removeLog();
    FileUtils::copyFile(source, target);
    EXPECT_EQ("payload", testsupport::readFileBytes(target));
    const auto records = messages();
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(L"TRACE: Created [" + scratch.path() + L"\\new\\] directory", records[0]);
    EXPECT_EQ(L"TRACE: Created [" + scratch.path() + L"\\new\\sub\\] directory", records[1]);
    EXPECT_EQ(L"TRACE: Copied [" + source + L"] file to [" + target + L"]", records[2]);

    static std::wstring staticSource, staticTarget;
    staticSource = source;
    staticTarget = target;
    const std::string what =
        thrownBy([](const std::wstring&) { FileUtils::copyFile(staticSource, staticTarget); }, L"");
    EXPECT_TRUE(contains(what, ") at FileUtils::copyFile(): CopyFile(" + tstrings::toMultiByte(source) +
                                   ", " + tstrings::toMultiByte(target) + ", 1) failed. System error [80]"))
        << what;
}

TEST(FileOperations, MoveReplacesAnExistingTarget) {
    const ScratchDir scratch;
    const std::wstring source = scratch / L"kro5.tmp";
    const std::wstring target = scratch / L"setup.exe";
    testsupport::writeFileBytes(source, "new");
    testsupport::writeFileBytes(target, "old and longer");
    testsupport::removeLog();
    FileUtils::moveFile(source, target);
    EXPECT_EQ("new", testsupport::readFileBytes(target));
    EXPECT_FALSE(FileUtils::pathExists(source));
    EXPECT_EQ((std::vector<std::wstring>{L"TRACE: Moved '" + source + L"' file to '" + target + L"'"}),
              messages());

    const std::string what =
        thrownBy([](const std::wstring& missing) { FileUtils::moveFile(missing, missing + L"2"); },
                 scratch / L"missing");
    EXPECT_TRUE(contains(what, "FileUtils::`anonymous-namespace'::moveFileImpl(): MoveFileEx(" +
                                   tstrings::toMultiByte(scratch / L"missing") + ", " +
                                   tstrings::toMultiByte(scratch / L"missing2") +
                                   ", 3) failed. System error [2]"))
        << what;
}

TEST(FileOperations, DeletionReportsAndClearsReadOnly) {
    const ScratchDir scratch;
    const std::wstring file = scratch / L"ro.txt";
    testsupport::writeFileBytes(file, "x");
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    testsupport::removeLog();
    EXPECT_TRUE(FileUtils::deleteFile(file));
    EXPECT_FALSE(FileUtils::pathExists(file));
    EXPECT_EQ((std::vector<std::wstring>{L"TRACE: Discarded R/O attribute from [" + file + L"] file",
                                         L"TRACE: Deleted [" + file + L"] file"}),
              messages());

    testsupport::removeLog();
    EXPECT_TRUE(FileUtils::deleteFile(scratch / L"missing"));
    EXPECT_TRUE(FileUtils::deleteFile(scratch / L"missing\\deeper"));
    FileUtils::deleteFile(scratch / L"missing", FileUtils::throwOnFailure);
    EXPECT_TRUE(FileUtils::deleteDirectory(scratch / L"missing"));
    EXPECT_TRUE(messages().empty()) << "nothing to delete, nothing written";
}

TEST(FileOperations, ThrowingDeleteReportsAccessDenied) {
    const ScratchDir scratch;
    const std::wstring folder = scratch / L"not-a-file";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    testsupport::removeLog();
    EXPECT_FALSE(FileUtils::deleteFile(folder));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(messages().empty()) << "a folder is no read-only file";

    const std::string what = thrownBy(
        [](const std::wstring& path) { FileUtils::deleteFile(path, FileUtils::throwOnFailure); }, folder);
    EXPECT_TRUE(contains(what, ") at FileUtils::deleteFile(): DeleteFile(" + tstrings::toMultiByte(folder) +
                                   ") failed. System error [5]"))
        << what;
}

TEST(FileOperations, DirectoriesAreCreatedAndDeletedWithRecords) {
    const ScratchDir scratch;
    testsupport::removeLog();
    FileUtils::createDirectories(scratch / L"a\\b");
    FileUtils::createDirectories(scratch / L"a\\b\\\\");
    EXPECT_TRUE(FileUtils::isDirectory(scratch / L"a\\b"));
    testsupport::writeFileBytes(scratch / L"a\\b\\f.txt", "x");
    EXPECT_FALSE(FileUtils::deleteDirectory(scratch / L"a\\b")) << "a folder with entries stays";
    EXPECT_TRUE(FileUtils::deleteFile(scratch / L"a\\b\\f.txt"));
    EXPECT_TRUE(FileUtils::deleteDirectory(scratch / L"a\\b"));
    EXPECT_EQ((std::vector<std::wstring>{L"TRACE: Created [" + scratch.path() + L"\\a\\] directory",
                                         L"TRACE: Created [" + scratch.path() + L"\\a\\b\\] directory",
                                         L"TRACE: Deleted [" + scratch.path() + L"\\a\\b\\f.txt] file",
                                         L"TRACE: Deleted [" + scratch.path() + L"\\a\\b] directory"}),
              messages());

    testsupport::writeFileBytes(scratch / L"plain", "x");
    const std::string blocked = thrownBy([](const std::wstring& path) { FileUtils::createDirectories(path); },
                                         scratch / L"plain\\sub");
    EXPECT_TRUE(contains(blocked, "FileUtils::`anonymous-namespace'::createDir(): CreateDirectory(" +
                                      tstrings::toMultiByte(scratch / L"plain\\") +
                                      ") failed. System error [183]"))
        << blocked;
}

namespace {

std::vector<std::wstring> createdFolders;
void recordFolder(const std::wstring& path) {
    createdFolders.push_back(path);
}

}  // namespace

TEST(FileOperations, DirectoryChainsSkipPrefixesThatAreNoFolders) {
    const struct {
        std::wstring path;
        std::vector<std::wstring> folders;
    } rows[] = {
        {L"C:\\a\\b", {L"C:\\", L"C:\\a\\", L"C:\\a\\b\\"}},
        {L"\\\\server\\share\\a\\b", {L"\\\\server\\share\\a\\", L"\\\\server\\share\\a\\b\\"}},
        {L"\\\\?\\C:\\a", {L"\\\\?\\C:\\", L"\\\\?\\C:\\a\\"}},
        {L"\\\\?\\UNC\\server\\share\\a", {L"\\\\?\\UNC\\server\\share\\a\\"}},
    };
    for (const auto& row : rows) {
        createdFolders.clear();
        FileUtils::seams::createDirectories(row.path, &recordFolder);
        EXPECT_EQ(row.folders, createdFolders) << tstrings::toMultiByte(row.path);
    }
    const ScratchDir scratch;
    FileUtils::createDirectories(L"\\\\?\\" + scratch / L"x\\y");
    EXPECT_TRUE(FileUtils::isDirectory(scratch / L"x\\y"));
}

TEST(FileOperations, RebootFallbackSchedulesWhatIsLeft) {
    const ScratchDir scratch;
    const std::wstring file = scratch / L"busy.tmp";
    testsupport::writeFileBytes(file, "x");
    const WinAutoHandle<HANDLE> holder = holdOpen(file);
    testsupport::removeLog();
    {
        FileUtils::ScopedDeleter deleter(true);
        deleter.appendFile(file);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"TRACE: Delete '" + file + L"' file on reboot"}), messages());
}
